/* test_platform.cpp - the platform layer against real files, directories and processes, as every
 * platform has them (test_platform_<platform>.cpp holds each platform's own rules), linked with
 * the platform layer alone.  Temporary directories are made in platform_probe children, so each
 * case starts fresh and can look at what its process left behind. */
#include "temp_probe.h"

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
    tu_mkdirs(tree);
    /* One file under two spellings of its name; on a file system that ignores case, a third. */
    os_file_identity f = id_of(dir + "/f"), again = id_of(tu_path(dir + "/tree/../f")), other = id_of(dir + "/g");
    EXPECT_TRUE(f.ino == again.ino && f.dev == again.dev && f.ino != other.ino && !f.is_dir) << "two names of one file";
    if (TU_NAMES_IGNORE_CASE) {
        os_file_identity cased = id_of(tu_path(dir + "/F"));
        EXPECT_TRUE(cased.ino == f.ino && cased.dev == f.dev);
    }
    uint64_t size = 0;
    EXPECT_TRUE(os_file_size((dir + "/f").c_str(), &size) && size == 1);
    EXPECT_FALSE(os_file_size((dir + "/missing").c_str(), &size));

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

TEST(OsTemp, DirectoryIsRemovedAtExitAndOnTheLastResortExit)
{
    const std::string two = tu_path("D/kvq_tmp_0\nD/kvq_tmp_1.cmd\n");
    /* last action  exit status  standard error */
    const struct { const char *last; int status; std::string err; } cases[] = {
        {"exit:0", 0, ""}, {"exit:1", 1, ""},
        {"oom", 1, "probe: out of memory\n"}, /* one line, and no exit handler runs */
    };
    for (const auto &c : cases) {
        std::string dir = tu_mkdtemp(), base = tu_path(dir + "/missing/temp"); /* made, and kept */
        temp_run run = run_probe({"temp:-", "temp:.cmd", c.last}, base);
        EXPECT_TRUE(run.r.status == c.status && run.r.out == two && run.r.err == c.err)
            << c.last << ": " << run.r.status << run.r.out << run.r.err;
        EXPECT_TRUE(tu_exists(base) && tu_list(base).empty()) << c.last << ": left " << tu_list(base).size();
        tu_rmtree(dir);
    }
}
