/* test_platform.cpp - the platform layer against real files, directories and processes, and
 * installation discovery, as every platform has them (test_platform_<platform>.cpp holds each
 * platform's own rules).  Temporary directories and installations are found in alert_probe
 * children, so each case starts fresh and can look at what its process left behind. */
#include <gtest/gtest.h>

#include <cerrno>

#include "osdep.h"
#include "temp_probe.h"
#include "test_util.h"

TEST(OsCase, ComparisonsIgnoreTheCaseOfAsciiLettersOnly)
{
    EXPECT_TRUE(os_stricmp("Tor-AS", "tor-as") == 0 && os_strnicmp("BINARY", "bin", 3) == 0 &&
                os_stricmp("_", "a") < 0 && os_stricmp("bin", "BI") > 0 && os_stricmp("\xc4", "\xe4") != 0);
}

TEST(OsFiles, IdentityAndDirectoryTrees)
{
    std::string dir = tu_mkdtemp(), tree = dir + "/tree";
    tu_write(dir + "/f", "x");
    tu_write(dir + "/g", "x");
    os_file_identity f, again, other;
    /* One file under two spellings of its name; on a file system that ignores case, a third. */
    std::string spelled = tu_path(dir + "/tree/../f"), cased = tu_path(dir + "/F");
    tu_mkdirs(tree);
    ASSERT_TRUE(os_file_id((dir + "/f").c_str(), &f) && os_file_id(spelled.c_str(), &again) &&
                os_file_id((dir + "/g").c_str(), &other) && !os_file_id((dir + "/missing").c_str(), &other));
    EXPECT_TRUE(f.ino == again.ino && f.dev == again.dev && f.ino != other.ino) << "two names of one file";
    EXPECT_EQ(TU_NAMES_IGNORE_CASE, os_file_id(cased.c_str(), &again) && again.ino == f.ino && again.dev == f.dev);

    EXPECT_EQ(0, os_make_dirs(tu_path(tree + "/a/b/c").c_str()));
    EXPECT_TRUE(os_is_dir(tu_path(tree + "/a/b").c_str()) && !os_is_dir((dir + "/f").c_str()));
    for (const std::string &bad : {tree + "/a/b/c", dir + "/f/sub", dir + "/f", std::string("")})
        EXPECT_NE(0, os_make_dirs(tu_path(bad).c_str())) << bad; /* existing, under a file, empty */

    tu_write(tree + "/a/b/c/deep", "2");
    tu_write(tree + "/a/.hidden", "3");
    EXPECT_EQ(0, os_remove_tree(tu_path(tree).c_str()));
    EXPECT_FALSE(tu_exists(tree));
    for (const std::string &bad : {tree, dir + "/f"}) EXPECT_EQ(-1, os_remove_tree(tu_path(bad).c_str()));
    EXPECT_EQ(-1, os_remove_tree(nullptr));
    tu_rmtree(dir);
}

TEST(OsTemp, DirectoryIsRemovedAtExitAndAfterAFatalAlert)
{
    const std::string two = tu_path("D/kvq_tmp_0\nD/kvq_tmp_1.cmd\n");
    /* last action    exit status  output */
    const struct { const char *last; int status; std::string out; } cases[] = {
        {"exit:0", 0, two}, {"exit:1", 1, two}, {"alert:2082", 1, two + "(2082) can't create temporary file\n"},
    };
    for (const auto &c : cases) {
        std::string base = tu_mkdtemp();
        temp_run run = run_probe({"temp:-", "temp:.cmd", c.last}, base);
        EXPECT_TRUE(run.r.status == c.status && run.r.out + run.r.err == c.out) << c.last << ": " << run.r.status
                                                                                << run.r.out << run.r.err;
        EXPECT_TRUE(tu_list(base).empty()) << c.last << ": left " << tu_list(base).size();
        tu_rmtree(base);
    }
}

TEST(OsMemory, LargeBlocksAreAlignedZeroedAndWritable)
{
    for (size_t size : {OS_LARGE_PAGE, 3 * OS_LARGE_PAGE}) {
        char *block = (char *)os_alloc_large(size);
        ASSERT_NE(nullptr, block);
        EXPECT_EQ(0u, (uintptr_t)block % OS_LARGE_PAGE);
        EXPECT_TRUE(block[0] == 0 && block[size / 2] == 0 && block[size - 1] == 0);
        memset(block, 'x', size);
        os_free_large(block, size);
    }
    errno = 0;
    EXPECT_EQ(nullptr, os_alloc_large(SIZE_MAX / OS_LARGE_PAGE * OS_LARGE_PAGE));
    EXPECT_EQ(ENOMEM, errno);
}

/* The probe's "inst" report for the installation R/V, or for none ("-": kinds 7 and 10, never
 * set), then the back-end path of each name of TU_PATH_EXAMPLES. */
static std::string report_for(const std::string &prog, const std::string &root, bool found)
{
    std::string out = "prog=" + prog + " found=" + (found ? "1" : "0") + "\n", none = "(none)\n";
    for (std::string sub : {"", "/V", "/V/tor-as", "-", "-", "/V/tor/include", "/V/tor/bin", "/V/tor/dat",
                            "/V/tor/lib/c90", "/V/tor/include/c90", "/V/tor/bin", "/V/tor/dat", "/V/tor/lib/c99",
                            "/V/tor/include/c99", "/V/tor/bin/torc"})
        out += found && sub != "-" ? tu_path(root + sub) + "\n" : none;
    for (const tu_path_example &e : TU_PATH_EXAMPLES) {
        const char *name = e.path + (e.path[0] == TU_SEP); /* one separator at the seam */
        out += e.absolute ? std::string(e.path) + "\n" : found ? tu_path(root + "/V/tor/bin/") + name + "\n" : none;
    }
    return out;
}

/* The names of TU_PATH_EXAMPLES as the probe takes them. */
static std::string probe_paths()
{
    std::string names;
    for (const tu_path_example &e : TU_PATH_EXAMPLES) names += (names.empty() ? "" : "|") + std::string(e.path);
    return names;
}

TEST(Install, RecognisedFromABinDirectoryBesideTorAndOnALaterTry)
{
    std::string root = tu_mkdtemp("kvqinst"), paths = "PROBE_PATHS=" + probe_paths();
    /* the probe's directory under R    R/V/tor made    recognised */
    const struct { const char *bin; bool tor, found; } cases[] = {
        {"V/tor/bin", false, true},    {"V/bin", true, true},          {"V/BIN", true, true},
        {"V/tor-as/bin", true, true},  {"V/Tor-AS/Bin", true, true},   {"V/tor-as/bin", false, false},
        {"V/tools", true, false},      {"V/bin.old", true, false},
        /* V/TOR is V/tor where names ignore case. */
        {"V/TOR/bin", false, TU_NAMES_IGNORE_CASE},
    };
    for (const auto &c : cases) {
        tu_rmtree(root + "/V");
        tu_mkdirs(root + "/" + c.bin);
        if (c.tor) tu_mkdirs(root + "/V/tor");
        std::string prog = tu_path(root + "/" + c.bin + "/kvq") + TU_EXE;
        tu_copy(tu_helper("alert_probe"), prog, true);
        tu_result r = tu_run({prog, "inst"}, {paths});
        EXPECT_EQ(report_for(prog, root, c.found), r.out + r.err) << c.bin;
    }
    /* Again after a failed discovery, in the same process. */
    tu_rmtree(root + "/V");
    tu_mkdirs(root + "/V/bin");
    std::string prog = tu_path(root + "/V/bin/kvq") + TU_EXE;
    tu_copy(tu_helper("alert_probe"), prog, true);
    tu_result r = tu_run({prog, "inst", "mkdir:" + tu_path(root + "/V/tor"), "inst"}, {paths});
    EXPECT_EQ(report_for(prog, root, false) + report_for(prog, root, true), r.out + r.err);
    tu_rmtree(root);
}
