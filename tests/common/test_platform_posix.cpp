/* test_platform_posix.cpp - the POSIX rules of the platform layer: paths split at '/' only,
 * symbolic links, private modes, TMPDIR and /tmp, candidates taken between their choice and their
 * creation, posix_spawn's argument passing, errors and lost statuses.  (The driver's tests send
 * the signals and impose the memory limit.) */
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "temp_probe.h"

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
}

TEST(OsFiles, LinksArePrivateModesAndNeverFollowed)
{
    std::string dir = tu_mkdtemp(), outside = tu_mkdtemp(), tree = dir + "/tree";
    tu_write(dir + "/f", "x");
    tu_write(outside + "/keep", "precious");
    ASSERT_EQ(0, symlink((dir + "/f").c_str(), (dir + "/soft").c_str()));
    ASSERT_EQ(0, symlink("missing", (dir + "/dangling").c_str()));
    EXPECT_TRUE(os_exists((dir + "/soft").c_str()) && !os_exists((dir + "/dangling").c_str()));
    EXPECT_TRUE(id_of(dir).is_dir) << "POSIX opens a directory for reading too; its identity tells it apart";

    struct stat st;
    EXPECT_EQ(0, os_make_dirs((tree + "/a/b/c").c_str()));
    EXPECT_TRUE(stat((tree + "/a/b").c_str(), &st) == 0 && (st.st_mode & 077) == 0) << "made directories are private";
    EXPECT_EQ(0, os_make_dirs((tree + "/x//y/").c_str()));
    EXPECT_TRUE(os_is_dir((tree + "/x/y").c_str()));
    EXPECT_NE(0, os_make_dirs("/")) << "the root exists";

    ASSERT_EQ(0, symlink(outside.c_str(), (tree + "/a/link").c_str()));
    ASSERT_EQ(0, symlink("nowhere", (tree + "/dangling").c_str()));
    EXPECT_EQ(0, os_remove_tree(tree.c_str()));
    EXPECT_FALSE(tu_exists(tree));
    EXPECT_EQ("precious", tu_read(outside + "/keep")) << "links are removed, never followed";
    EXPECT_EQ(-1, os_remove_tree((dir + "/soft").c_str()));
    tu_rmtree(dir);
    tu_rmtree(outside);
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
    for (auto c : cases) {
        c.env.push_back("PROBE_OCCUPY=0"); /* reports the candidates' modes */
        temp_run run = run_probe({"temp:.cmd", "temp:.cmd", "temp:-", "temp:txt"}, c.temp, c.env, cwd);
        EXPECT_EQ("D/kvq_tmp_0.cmd\nD/kvq_tmp_1.cmd\nD/kvq_tmp_2\nD/kvq_tmp_3.txt\n", run.r.out);
        EXPECT_EQ("mkdir 700\n", run.r.err) << "one private directory";
        EXPECT_EQ(c.base + "/kvA", run.dir.substr(0, c.base.size() + 4)) << "one separator after the base";
    }
    for (const std::string &d : {cwd, temp, tmp, tmpdir}) {
        EXPECT_TRUE(tu_list(d).empty()) << d << ": directory and files removed at exit";
        tu_rmtree(d);
    }
}

TEST(OsTemp, OccupiedCandidatesMoveToTheNextLetter)
{
    std::string base = tu_mkdtemp(), target = tu_mkdtemp(), sub = base + "/sub";
    temp_run run = run_probe({"temp:.cmd"}, sub, {"PROBE_LINK=" + target, "PROBE_OCCUPY=2"});
    EXPECT_EQ("D/kvq_tmp_0.cmd\n", run.r.out);
    EXPECT_EQ("mkdir 700\nmkdir 700\nmkdir 700\n", run.r.err);
    EXPECT_EQ(sub + "/kvC", run.dir.substr(0, sub.size() + 4));
    EXPECT_TRUE(tu_list(target).empty()) << "nothing was written through a link";
    for (const std::string &name : tu_list(sub)) {
        struct stat st;
        EXPECT_TRUE(lstat((sub + "/" + name).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << name;
    }
    EXPECT_EQ(2u, tu_list(sub).size()) << "the two links stay, the directory is gone";
    /* All 26 taken: no name; the next call starts again. */
    run = run_probe({"temp:.cmd", "temp:.cmd"}, base, {"PROBE_LINK=nowhere", "PROBE_OCCUPY=26"});
    EXPECT_EQ("NULL\nD/kvq_tmp_0.cmd\n", run.r.out);
    EXPECT_EQ(27, std::count(run.r.err.begin(), run.r.err.end(), '\n')) << "26 candidates, then the next call's first";
    tu_rmtree(base);
    tu_rmtree(target);
}

/* Runs sh -c `script` through os_spawn; "$@" are `args`. */
static int spawn_sh(const std::string &script, std::vector<std::string> args = {})
{
    args.insert(args.begin(), {"sh", "-c", script, "sh"});
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return os_spawn("/bin/sh", argv.data());
}

TEST(OsSpawn, ArgumentsStatusAndErrno)
{
    std::string dir = tu_mkdtemp(), out = dir + "/args";
    std::vector<std::string> args = {"two words", "tab\there", "\"quoted\"", "back\\slash\\", "", "it's", "*"};
    EXPECT_EQ(0, spawn_sh("for a; do printf '[%s]' \"$a\"; done > '" + out + "'", args));
    EXPECT_EQ("[two words][tab\there][\"quoted\"][back\\slash\\][][it's][*]", tu_read(out));
    EXPECT_EQ(3, spawn_sh("exit 3"));
    EXPECT_EQ(128 + 9, spawn_sh("kill -9 $$"));
    tu_write(dir + "/plain", "not a program\n");
    tu_write(dir + "/garbage", std::string("\x7f\x01\x02garbage", 10));
    chmod((dir + "/garbage").c_str(), 0755);
    /* path                errno */
    const struct { std::string path; int err; } cases[] = {
        {dir + "/missing", ENOENT}, {dir + "/plain", EACCES}, {dir, EACCES}, {dir + "/garbage", ENOEXEC},
    };
    for (const auto &c : cases) {
        char name[] = "x", *argv[] = {name, nullptr};
        errno = 0;
        EXPECT_EQ(-1, os_spawn(c.path.c_str(), argv)) << c.path;
        EXPECT_EQ(c.err, errno) << c.path << ": " << strerror(errno);
    }
    tu_rmtree(dir);
}

TEST(OsSpawn, AWaitThatFailsIsNoStartFailure)
{
    /* With SIGCHLD ignored the system reaps the child itself, so its status
     * is lost; the child did start. */
    struct sigaction ignore = {}, old;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &old);
    errno = 0;
    EXPECT_EQ(OS_SPAWN_WAIT_FAILED, spawn_sh("exit 0"));
    EXPECT_EQ(ECHILD, errno);
    sigaction(SIGCHLD, &old, nullptr);
}
