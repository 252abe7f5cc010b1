/* test_platform.cpp - the platform layer against real files, directories and processes, linked
 * with the platform layer alone.  Temporary directories are made in platform_probe children, so
 * each case starts fresh and can look at what its process left behind. */
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <regex>

#include "osdep.h"
#include "test_util.h"

/* Takes a heap string from the layer: its text, or "(null)". */
static std::string take(char *heap)
{
    std::string text = heap ? heap : "(null)";
    free(heap);
    return text;
}

TEST(OsPaths, JoinAndSplitAtSlashOnly)
{
    const char *path = "dir.v2/sub\\part/file:x.tar.gz";
    /* result                             expected */
    const struct { std::string got, want; } cases[] = {
        {take(os_path_join("a", "b")),        "a/b"},
        {take(os_path_join("a/", "/b")),      "a/b"},
        {take(os_path_join("/", "tmp")),      "/tmp"},
        {take(os_path_join("", "b")),         "(null)"},
        {os_basename(path),                   "file:x.tar.gz"},
        {take(os_basename_to_dot(path)),      "file:x.tar."},
        {take(os_basename_to_dot("d.v/rd")),  "rd"},
        {take(os_dirname(path)),              "dir.v2/sub\\part"},
        {take(os_dirname("plain")),           "(null)"},
        {take(os_dirname("/x")),              ""},
    };
    for (const auto &c : cases) EXPECT_EQ(c.want, c.got);
    EXPECT_TRUE(os_is_absolute("/usr") && !os_is_absolute("c:\\tools") && !os_is_absolute("\\\\server\\x"));
    EXPECT_TRUE(os_stricmp("Tor-AS", "tor-as") == 0 && os_strnicmp("BINARY", "bin", 3) == 0 &&
                os_stricmp("_", "a") < 0 && os_stricmp("bin", "BI") > 0 && os_stricmp("\xc4", "\xe4") != 0);
}

TEST(OsFiles, LinksIdentityAndDirectoryTrees)
{
    std::string dir = tu_mkdtemp(), outside = tu_mkdtemp(), tree = dir + "/tree";
    tu_write(dir + "/f", "x");
    tu_write(outside + "/keep", "precious");
    ASSERT_EQ(0, symlink((dir + "/f").c_str(), (dir + "/soft").c_str()));
    ASSERT_EQ(0, symlink("missing", (dir + "/dangling").c_str()));
    EXPECT_TRUE(os_exists((dir + "/soft").c_str()) && !os_exists((dir + "/dangling").c_str()));
    /* The identity is read from the opened file: two names of one file share it. */
    auto id_of = [](const std::string &path) {
        os_file_identity id = {};
        FILE *f = fopen(path.c_str(), "r");
        EXPECT_TRUE(f && os_stream_id(f, &id)) << path;
        if (f) fclose(f);
        return id;
    };
    os_file_identity f = id_of(dir + "/f"), soft = id_of(dir + "/soft"), other = id_of(outside + "/keep");
    EXPECT_TRUE(f.ino == soft.ino && f.dev == soft.dev && f.ino != other.ino) << "two names of one file";
    EXPECT_TRUE(id_of(dir).is_dir && !f.is_dir);

    struct stat st;
    EXPECT_EQ(0, os_make_dirs((tree + "/a/b/c").c_str()));
    EXPECT_TRUE(stat((tree + "/a/b").c_str(), &st) == 0 && (st.st_mode & 077) == 0) << "made directories are private";
    EXPECT_EQ(0, os_make_dirs((tree + "/x//y/").c_str()));
    EXPECT_TRUE(os_is_dir((tree + "/x/y").c_str()) && !os_is_dir((dir + "/f").c_str()));
    for (const std::string &bad : {tree + "/a/b/c", dir + "/f/sub", dir + "/f", std::string("/"), std::string("")})
        EXPECT_NE(0, os_make_dirs(bad.c_str())) << bad; /* existing, under a file, the root, empty */

    tu_write(tree + "/a/b/c/deep", "2");
    tu_write(tree + "/a/.hidden", "3");
    ASSERT_EQ(0, symlink(outside.c_str(), (tree + "/a/link").c_str()));
    ASSERT_EQ(0, symlink("nowhere", (tree + "/dangling").c_str()));
    EXPECT_EQ(0, os_remove_tree(tree.c_str()));
    EXPECT_FALSE(tu_exists(tree));
    EXPECT_EQ("precious", tu_read(outside + "/keep")) << "links are removed, never followed";
    for (const std::string &bad : {tree, outside + "/keep", dir + "/soft"}) EXPECT_EQ(-1, os_remove_tree(bad.c_str()));
    EXPECT_EQ(-1, os_remove_tree(nullptr));
    tu_rmtree(dir);
    tu_rmtree(outside);
}

/* Runs platform_probe with `actions`, TEMP=base, TMP and TMPDIR unset, then `env`: its output with the
 * temporary directory (that of the first temporary name) as "D", and that directory. */
struct temp_run { tu_result r; std::string dir; };

static temp_run run_probe(std::vector<std::string> actions, const std::string &base,
                          std::vector<std::string> env = {}, const std::string &cwd = "")
{
    actions.insert(actions.begin(), tu_helper("platform_probe"));
    env.insert(env.begin(), {"TEMP=" + base, "TMP", "TMPDIR"});
    temp_run run = {tu_run(actions, env, cwd), ""};
    std::smatch m;
    if (std::regex_search(run.r.out, m, std::regex("(.*)/kvq_tmp_"))) run.dir = m[1];
    for (size_t at; !run.dir.empty() && (at = run.r.out.find(run.dir + "/")) != std::string::npos;)
        run.r.out.replace(at, run.dir.size(), "D");
    return run;
}

TEST(OsTemp, NamesShareOnePrivateDirectoryUnderTheChosenBase)
{
    std::string cwd = tu_mkdtemp(), temp = tu_mkdtemp(), tmp = tu_mkdtemp(), tmpdir = tu_mkdtemp();
    /* TEMP value    TMP and TMPDIR                          expected base */
    const struct { std::string temp; std::vector<std::string> env; std::string base; } cases[] = {
        {temp,       {"TMP=" + tmp, "TMPDIR=" + tmpdir}, temp},
        {temp + "/", {},                                 temp},
        {"",         {"TMP=" + tmp, "TMPDIR=" + tmpdir}, "."},
        {"",         {"TEMP", "TMP=" + tmp},             tmp},
        {"",         {"TEMP", "TMPDIR=" + tmpdir},       tmpdir},
        {"",         {"TEMP"},                           "/tmp"},
        {"",         {"TEMP", "TMPDIR="},                "/tmp"}, /* an empty TMPDIR counts as unset */
    };
    for (const auto &c : cases) {
        temp_run run = run_probe({"temp:.cmd", "temp:.cmd", "temp:-", "temp:txt", "tempinfo"}, c.temp, c.env, cwd);
        EXPECT_EQ("D/kvq_tmp_0.cmd\nD/kvq_tmp_1.cmd\nD/kvq_tmp_2\nD/kvq_tmp_3.txt\nmode=700 attempts=1\n", run.r.out);
        EXPECT_EQ(c.base + "/kvA", run.dir.substr(0, c.base.size() + 4)) << "one separator after the base";
    }
    for (const std::string &d : {cwd, temp, tmp, tmpdir}) {
        EXPECT_TRUE(tu_list(d).empty()) << d << ": directory and files removed at exit";
        tu_rmtree(d);
    }
}

TEST(OsTemp, DirectoryIsRemovedHoweverTheProcessEnds)
{
    const std::string two = "D/kvq_tmp_0\nD/kvq_tmp_1.cmd\n";
    /* first action    last action     exit status  output */
    const struct { const char *first, *last; int status; std::string out; } cases[] = {
        {"temp:-", "tempinfo", 0, two + "mode=700 attempts=1\n"}, {"temp:-", "exit:1", 1, two},
        {"temp:-", "raise:15", 128 + 15, two}, {"temp:-", "raise:2", 128 + 2, two}, {"temp:-", "raise:1", 128 + 1, two},
        {"ignore:1", "raise:1", 0, "D/kvq_tmp_0.cmd\n"}, /* ignored when the directory was made: stays ignored */
    };
    for (const auto &c : cases) {
        std::string base = tu_mkdtemp();
        temp_run run = run_probe({c.first, "temp:.cmd", c.last}, base);
        EXPECT_TRUE(run.r.status == c.status && run.r.out == c.out) << c.last << ": " << run.r.status << run.r.out;
        EXPECT_TRUE(tu_list(base).empty()) << c.last << ": left " << tu_list(base).size();
        tu_rmtree(base);
    }
}

TEST(OsTemp, OccupiedCandidatesMoveToTheNextLetter)
{
    std::string base = tu_mkdtemp(), target = tu_mkdtemp(), sub = base + "/sub";
    temp_run run = run_probe({"temp:.cmd", "tempinfo"}, sub, {"PROBE_LINK=" + target, "PROBE_OCCUPY=2"});
    EXPECT_EQ("D/kvq_tmp_0.cmd\nmode=700 attempts=3\n", run.r.out);
    EXPECT_EQ(sub + "/kvC", run.dir.substr(0, sub.size() + 4)) << "a missing base is created";
    EXPECT_TRUE(tu_list(target).empty()) << "nothing was written through a link";
    for (const std::string &name : tu_list(sub)) {
        struct stat st;
        EXPECT_TRUE(lstat((sub + "/" + name).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << name;
    }
    EXPECT_EQ(2u, tu_list(sub).size()) << "the two links stay, the directory is gone";
    /* All 26 taken: no name; the next call starts again. */
    run = run_probe({"temp:.cmd", "temp:.cmd", "tempinfo"}, base, {"PROBE_LINK=nowhere", "PROBE_OCCUPY=26"});
    EXPECT_EQ("NULL\nD/kvq_tmp_0.cmd\nmode=700 attempts=27\n", run.r.out);
    tu_rmtree(base);
    tu_rmtree(target);
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
