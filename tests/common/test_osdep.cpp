/*
 * test_osdep.cpp - the platform layer against real files, directories and
 * processes.  Everything about the process temporary directory runs in the
 * tempdir_child helper, so each case sees a fresh process and can look at
 * what the process left behind.
 */
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "osdep.h"
#include "test_util.h"

/* Takes a heap string from the layer: its text, or "(null)". */
static std::string take(char *heap)
{
    std::string text = heap ? heap : "(null)";
    free(heap);
    return text;
}

static std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

static std::string dir_of(const std::string &path)
{
    return path.substr(0, path.rfind('/'));
}

static std::string leaf_of(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

TEST(OsPaths, JoinAndSplitAtSlashOnly)
{
    EXPECT_EQ(take(os_path_join("a", "b")), "a/b");
    EXPECT_EQ(take(os_path_join("a/", "/b")), "a/b");
    EXPECT_EQ(take(os_path_join("a", "/b")), "a/b");
    EXPECT_EQ(take(os_path_join("/", "tmp")), "/tmp");
    EXPECT_EQ(take(os_path_join("", "b")), "(null)");

    const char *path = "dir.v2/sub\\part/file:x.tar.gz";
    EXPECT_STREQ(os_basename(path), "file:x.tar.gz");
    EXPECT_EQ(take(os_basename_to_dot(path)), "file:x.tar.");
    EXPECT_EQ(take(os_dirname(path)), "dir.v2/sub\\part");
    /* The only dot lies in a directory name: the whole last component. */
    EXPECT_EQ(take(os_basename_to_dot("dir.v2/readme")), "readme");
    EXPECT_EQ(take(os_dirname("plain")), "(null)");
    EXPECT_EQ(take(os_dirname("/x")), "");

    EXPECT_TRUE(os_is_absolute("/usr"));
    EXPECT_FALSE(os_is_absolute("c:\\tools"));
    EXPECT_FALSE(os_is_absolute("\\\\server\\share"));
}

TEST(OsFiles, ExistenceFollowsLinksAndIdentityJoinsNames)
{
    std::string dir = tu_mkdtemp();
    std::string file = dir + "/f";
    tu_write(file, "x");
    tu_write(dir + "/other", "x");
    ASSERT_EQ(link(file.c_str(), (dir + "/hard").c_str()), 0);
    ASSERT_EQ(symlink(file.c_str(), (dir + "/soft").c_str()), 0);
    ASSERT_EQ(symlink("missing", (dir + "/dangling").c_str()), 0);
    EXPECT_TRUE(os_exists((dir + "/soft").c_str()));
    EXPECT_FALSE(os_exists((dir + "/dangling").c_str()));
    EXPECT_FALSE(os_is_dir(file.c_str()));

    os_file_identity a, hard, soft, other;
    ASSERT_TRUE(os_file_id(file.c_str(), &a));
    ASSERT_TRUE(os_file_id((dir + "/hard").c_str(), &hard));
    ASSERT_TRUE(os_file_id((dir + "/soft").c_str(), &soft));
    ASSERT_TRUE(os_file_id((dir + "/other").c_str(), &other));
    EXPECT_TRUE(a.dev == hard.dev && a.ino == hard.ino);
    EXPECT_TRUE(a.dev == soft.dev && a.ino == soft.ino);
    EXPECT_FALSE(a.dev == other.dev && a.ino == other.ino);
    EXPECT_FALSE(os_file_id((dir + "/dangling").c_str(), &other));
    tu_rmtree(dir);
}

TEST(OsDirs, MakeDirsCreatesMissingParentsOnly)
{
    std::string dir = tu_mkdtemp();
    std::string deep = dir + "/a/b/c";
    EXPECT_EQ(os_make_dirs(deep.c_str()), 0);
    EXPECT_TRUE(os_is_dir(deep.c_str()));
    struct stat st;
    ASSERT_EQ(stat((dir + "/a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "made directories are private";

    EXPECT_NE(os_make_dirs(deep.c_str()), 0) << "an existing directory is a failure";
    EXPECT_EQ(os_make_dirs((dir + "/a/d").c_str()), 0) << "existing parent";
    EXPECT_EQ(os_make_dirs((dir + "/x//y/").c_str()), 0) << "doubled and trailing separators";
    EXPECT_TRUE(os_is_dir((dir + "/x/y").c_str()));

    tu_write(dir + "/file", "x");
    EXPECT_NE(os_make_dirs((dir + "/file/sub").c_str()), 0) << "parent is a file";
    EXPECT_NE(os_make_dirs((dir + "/file").c_str()), 0);
    EXPECT_NE(os_make_dirs("/"), 0);
    EXPECT_NE(os_make_dirs(""), 0);

    char *before = os_getcwd();
    ASSERT_EQ(chdir(dir.c_str()), 0);
    EXPECT_EQ(os_make_dirs("rel/one"), 0);
    EXPECT_TRUE(os_is_dir((dir + "/rel/one").c_str()));
    ASSERT_EQ(chdir(before), 0);
    free(before);
    tu_rmtree(dir);
}

TEST(OsDirs, RemoveTreeRemovesEverythingBelowButFollowsNoLink)
{
    std::string dir = tu_mkdtemp(), outside = tu_mkdtemp();
    tu_write(outside + "/keep", "precious");
    std::string tree = dir + "/tree";
    tu_mkdirs(tree + "/a/b/c");
    tu_mkdirs(tree + "/empty");
    tu_write(tree + "/top", "1");
    tu_write(tree + "/a/b/c/deep", "2");
    tu_write(tree + "/a/.hidden", "3");
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/a/link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (tree + "/dangling").c_str()), 0);

    EXPECT_EQ(os_remove_tree(tree.c_str()), 0);
    EXPECT_FALSE(tu_exists(tree));
    EXPECT_EQ(tu_read(outside + "/keep"), "precious");

    EXPECT_EQ(os_remove_tree(tree.c_str()), -1) << "missing";
    EXPECT_EQ(os_remove_tree((outside + "/keep").c_str()), -1) << "a file";
    ASSERT_EQ(symlink(outside.c_str(), (dir + "/dirlink").c_str()), 0);
    EXPECT_EQ(os_remove_tree((dir + "/dirlink").c_str()), -1) << "a link to a directory";
    EXPECT_TRUE(tu_exists(outside + "/keep"));
    EXPECT_EQ(os_remove_tree(NULL), -1);
    tu_rmtree(dir);
    tu_rmtree(outside);
}

/* ---- the process temporary directory ---------------------------------------- */

struct temp_run {
    tu_result result;
    std::vector<std::string> names;  /* printed names, "NULL" included */
    int attempts = -1;
    std::string mode;                /* of the directory, while it existed */
};

static temp_run run_child(const std::vector<std::string> &args, const std::vector<std::string> &env,
                          const std::string &cwd)
{
    std::vector<std::string> argv = {tu_helper("tempdir_child")};
    argv.insert(argv.end(), args.begin(), args.end());
    temp_run run;
    run.result = tu_run(argv, env, cwd);
    for (const std::string &line : lines_of(run.result.out)) {
        if (line.rfind("attempts=", 0) == 0) run.attempts = atoi(line.c_str() + 9);
        else if (line.rfind("mode=", 0) == 0) run.mode = line.substr(5);
        else if (line != "child-survived" && line != "parent-survived") run.names.push_back(line);
    }
    return run;
}

/* TMP and TMPDIR unset, so that TEMP alone names the base. */
static const std::vector<std::string> ONLY_TEMP = {"TMP", "TMPDIR"};

static std::vector<std::string> with(std::vector<std::string> env, const std::string &more)
{
    env.push_back(more);
    return env;
}

TEST(OsTemp, NamesShareOnePrivateDirectoryAndCount)
{
    std::string base = tu_mkdtemp();
    temp_run run = run_child({"return", ".cmd", ".cmd", "-", "txt", ".cmd"},
                             with(ONLY_TEMP, "TEMP=" + base), "");
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    ASSERT_EQ(run.names.size(), 5u) << run.result.out;
    EXPECT_EQ(leaf_of(run.names[0]), "kvq_tmp_0.cmd");
    EXPECT_EQ(leaf_of(run.names[1]), "kvq_tmp_1.cmd");
    EXPECT_EQ(leaf_of(run.names[2]), "kvq_tmp_2");
    EXPECT_EQ(leaf_of(run.names[3]), "kvq_tmp_3.txt");
    EXPECT_EQ(leaf_of(run.names[4]), "kvq_tmp_4.cmd");
    std::string dir = dir_of(run.names[0]);
    for (const std::string &name : run.names) EXPECT_EQ(dir_of(name), dir);
    EXPECT_EQ(dir_of(dir), base);
    EXPECT_EQ(leaf_of(dir).rfind("kvA", 0), 0u) << dir;
    EXPECT_EQ(run.attempts, 1);
    EXPECT_EQ(run.mode, "700");
    EXPECT_TRUE(tu_list(base).empty()) << "directory and files removed at exit";
    tu_rmtree(base);
}

TEST(OsTemp, BaseComesFromTempThenTmpThenTmpdir)
{
    std::string cwd = tu_mkdtemp(), temp = tu_mkdtemp(), tmp = tu_mkdtemp(), tmpdir = tu_mkdtemp();
    struct {
        std::vector<std::string> env;
        std::string expected_base;
    } cases[] = {
        {{"TEMP=" + temp, "TMP=" + tmp, "TMPDIR=" + tmpdir}, temp},
        {{"TEMP=" + temp + "/", "TMP", "TMPDIR"}, temp},
        {{"TEMP", "TMP=" + tmp, "TMPDIR=" + tmpdir}, tmp},
        {{"TEMP", "TMP", "TMPDIR=" + tmpdir}, tmpdir},
        {{"TEMP=", "TMP=" + tmp, "TMPDIR=" + tmpdir}, "."},
        {{"TEMP", "TMP", "TMPDIR"}, "."},
    };
    for (const auto &c : cases) {
        temp_run run = run_child({"return", ".cmd"}, c.env, cwd);
        ASSERT_EQ(run.result.status, 0) << run.result.err;
        ASSERT_EQ(run.names.size(), 1u);
        EXPECT_EQ(dir_of(dir_of(run.names[0])), c.expected_base) << c.env[0];
        EXPECT_EQ(run.names[0].find("//"), std::string::npos) << run.names[0];
    }
    for (const std::string &d : {cwd, temp, tmp, tmpdir}) {
        EXPECT_TRUE(tu_list(d).empty()) << d;
        tu_rmtree(d);
    }
}

TEST(OsTemp, DirectoryIsRemovedHoweverTheProcessEnds)
{
    struct {
        const char *end;
        int status;
    } cases[] = {
        {"return", 0},          {"exit1", 1},
        {"signal:15", 128 + 15}, {"signal:2", 128 + 2},
        {"signal:1", 128 + 1},  {"ignore-hup", 0},
    };
    for (const auto &c : cases) {
        std::string base = tu_mkdtemp();
        temp_run run = run_child({c.end, ".cmd", "-"}, with(ONLY_TEMP, "TEMP=" + base), "");
        EXPECT_EQ(run.result.status, c.status) << c.end << run.result.err;
        EXPECT_EQ(run.names.size(), 2u) << c.end;
        EXPECT_TRUE(tu_list(base).empty()) << c.end << ": left " << tu_list(base).size();
        tu_rmtree(base);
    }
}

TEST(OsTemp, TerminatedWhileWaitingForAChild)
{
    std::string base = tu_mkdtemp();
    temp_run run = run_child({"spawn-term", ".cmd"}, with(ONLY_TEMP, "TEMP=" + base), "");
    EXPECT_EQ(run.result.status, 128 + 15) << run.result.err;
    EXPECT_EQ(run.result.out.find("parent-survived"), std::string::npos);
    EXPECT_NE(run.result.out.find("child-survived"), std::string::npos) << "the child is not killed";
    EXPECT_TRUE(tu_list(base).empty());
    tu_rmtree(base);
}

TEST(OsTemp, OccupiedCandidateMovesToTheNextLetter)
{
    std::string base = tu_mkdtemp(), target = tu_mkdtemp();
    std::vector<std::string> env = {"TEMP=" + base, "TMP", "TMPDIR", "TEMPDIR_CHILD_LINK=" + target,
                                    "TEMPDIR_CHILD_OCCUPY=2"};
    temp_run run = run_child({"return", ".cmd"}, env, "");
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    ASSERT_EQ(run.names.size(), 1u);
    EXPECT_EQ(leaf_of(dir_of(run.names[0])).rfind("kvC", 0), 0u) << run.names[0];
    EXPECT_EQ(run.attempts, 3);
    EXPECT_TRUE(tu_list(target).empty()) << "nothing was written through the link";
    std::vector<std::string> left = tu_list(base);
    ASSERT_EQ(left.size(), 2u) << "the two links stay, the directory is gone";
    for (const std::string &name : left) {
        struct stat st;
        ASSERT_EQ(lstat((base + "/" + name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
    }
    tu_rmtree(base);
    tu_rmtree(target);
}

TEST(OsTemp, AllCandidatesTakenGivesNoNameAndRetriesLater)
{
    std::string base = tu_mkdtemp();
    std::vector<std::string> env = {"TEMP=" + base, "TMP", "TMPDIR", "TEMPDIR_CHILD_LINK=nowhere",
                                    "TEMPDIR_CHILD_OCCUPY=26"};
    temp_run run = run_child({"return", ".cmd", ".cmd"}, env, "");
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    ASSERT_EQ(run.names.size(), 2u);
    EXPECT_EQ(run.names[0], "NULL");
    EXPECT_EQ(leaf_of(run.names[1]), "kvq_tmp_0.cmd") << "the next call starts again";
    EXPECT_EQ(run.attempts, 27);
    EXPECT_EQ(tu_list(base).size(), 26u) << "only the dangling links remain";

    std::string missing = base + "/no/such";
    run = run_child({"return", ".cmd"}, with(ONLY_TEMP, "TEMP=" + missing), "");
    ASSERT_EQ(run.names.size(), 1u);
    EXPECT_EQ(dir_of(dir_of(run.names[0])), missing) << "a missing base is created";
    tu_rmtree(base);
}

/* ---- processes ---------------------------------------------------------------------- */

/* Runs sh with a script through os_spawn; "$@" are `args`. */
static int spawn_sh(const std::string &script, const std::vector<std::string> &args)
{
    std::vector<std::string> all = {"sh", "-c", script, "sh"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return os_spawn("/bin/sh", argv.data());
}

TEST(OsSpawn, ArgumentsArriveUnchanged)
{
    std::string dir = tu_mkdtemp();
    std::string out = dir + "/args";
    std::vector<std::string> args = {"two words", "tab\there", "\"quoted\"", "back\\slash\\",
                                     "", "it's", "line\nbreak", "*"};
    EXPECT_EQ(spawn_sh("for a; do printf '[%s]' \"$a\"; done > '" + out + "'", args), 0);
    std::string expected;
    for (const std::string &a : args) expected += "[" + a + "]";
    EXPECT_EQ(tu_read(out), expected);
    tu_rmtree(dir);
}

TEST(OsSpawn, StatusOrErrnoOfTheChild)
{
    EXPECT_EQ(spawn_sh("exit 3", {}), 3);
    EXPECT_EQ(spawn_sh("exit 255", {}), 255);
    EXPECT_EQ(spawn_sh("kill -9 $$", {}), 128 + 9);

    std::string dir = tu_mkdtemp();
    tu_write(dir + "/plain", "not a program\n");
    tu_write(dir + "/garbage", std::string("\x7f\x01\x02garbage", 10));
    chmod((dir + "/garbage").c_str(), 0755);
    struct {
        std::string path;
        int err;
    } cases[] = {
        {dir + "/missing", ENOENT},
        {dir + "/plain", EACCES},
        {dir, EACCES},
        {dir + "/garbage", ENOEXEC},
    };
    for (const auto &c : cases) {
        char name[] = "x";
        char *argv[] = {name, NULL};
        errno = 0;
        EXPECT_EQ(os_spawn(c.path.c_str(), argv), -1) << c.path;
        EXPECT_EQ(errno, c.err) << c.path << ": " << strerror(errno);
    }
    tu_rmtree(dir);
}

/* ---- runtime primitives ------------------------------------------------------------------ */

TEST(OsText, CrLfReadsAsLfAcrossPieceBoundaries)
{
    std::string text = "one\r\ntwo\rlone\r\n\r\nabcdefg\r\nlast\r";
    FILE *f = fmemopen(&text[0], text.size(), "r");
    ASSERT_NE(f, nullptr);
    char buf[8];
    std::vector<std::string> pieces;
    while (size_t n = os_read_text_piece(buf, sizeof buf, f)) {
        EXPECT_EQ(strlen(buf), n);
        pieces.push_back(std::string(buf, n));
    }
    fclose(f);
    /* A lone CR stays and counts against the piece; "abcdefg" fills one. */
    std::vector<std::string> expected = {"one\n", "two\rlon", "e\n", "\n", "abcdefg", "\n", "last\r"};
    EXPECT_EQ(pieces, expected);

    /* The CR takes the last place of a piece: the LF after it still joins it. */
    std::string split = "abcdef\r\nx";
    f = fmemopen(&split[0], split.size(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(os_read_text_piece(buf, sizeof buf, f), 7u);
    EXPECT_STREQ(buf, "abcdef\n");
    EXPECT_EQ(os_read_text_piece(buf, 2, f), 1u);
    EXPECT_STREQ(buf, "x");
    EXPECT_EQ(os_read_text_piece(buf, sizeof buf, f), 0u);
    fclose(f);

    std::string nul("a\0b\n", 4);
    f = fmemopen(&nul[0], nul.size(), "r");
    EXPECT_EQ(os_read_text_piece(buf, sizeof buf, f), 4u) << "bytes after a NUL are kept";
    fclose(f);
}

TEST(OsText, CaseInsensitiveComparisonInTheCLocale)
{
    EXPECT_EQ(os_stricmp("Tor-AS", "tor-as"), 0);
    EXPECT_LT(os_stricmp("_", "a"), 0) << "letters compare lowered";
    EXPECT_GT(os_stricmp("bin", "BI"), 0);
    EXPECT_NE(os_stricmp("\xc4", "\xe4"), 0) << "no letters beyond ASCII";
    EXPECT_EQ(os_strnicmp("BINARY", "bin", 3), 0);
}
