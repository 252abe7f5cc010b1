/*
 * test_platform.cpp - the platform layer against real files, directories and
 * processes, and installation discovery.  The temporary directory and the
 * installation are found in alert_probe child processes, so each case starts
 * fresh and can look at what its process left behind.
 */
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "kvinstdir.h"
#include "osdep.h"
#include "registry.h"
#include "test_util.h"

/* Takes a heap string from the layer: its text, or "(null)". */
static std::string take(char *heap)
{
    std::string text = heap ? heap : "(null)";
    free(heap);
    return text;
}

static std::string dir_of(const std::string &path) { return path.substr(0, path.rfind('/')); }
static std::string leaf_of(const std::string &path) { return path.substr(path.rfind('/') + 1); }

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
    EXPECT_TRUE(os_stricmp("Tor-AS", "tor-as") == 0 && os_strnicmp("BINARY", "bin", 3) == 0);
    EXPECT_TRUE(os_stricmp("_", "a") < 0 && os_stricmp("bin", "BI") > 0 && os_stricmp("\xc4", "\xe4") != 0);
}

TEST(OsFiles, LinksIdentityAndDirectoryTrees)
{
    std::string dir = tu_mkdtemp(), outside = tu_mkdtemp();
    tu_write(dir + "/f", "x");
    tu_write(dir + "/other", "x");
    ASSERT_EQ(0, symlink((dir + "/f").c_str(), (dir + "/soft").c_str()));
    ASSERT_EQ(0, symlink("missing", (dir + "/dangling").c_str()));
    EXPECT_TRUE(os_exists((dir + "/soft").c_str()) && !os_exists((dir + "/dangling").c_str()));
    os_file_identity id[3];
    const char *names[] = {"/f", "/soft", "/other"};
    for (int i = 0; i < 3; i++) ASSERT_TRUE(os_file_id((dir + names[i]).c_str(), &id[i]));
    EXPECT_TRUE(id[0].ino == id[1].ino && id[0].dev == id[1].dev && id[0].ino != id[2].ino);
    EXPECT_FALSE(os_file_id((dir + "/dangling").c_str(), &id[0]));

    std::string tree = dir + "/tree";
    EXPECT_EQ(0, os_make_dirs((tree + "/a/b/c").c_str()));
    struct stat st;
    ASSERT_EQ(0, stat((tree + "/a/b").c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & 077) << "made directories are private";
    EXPECT_NE(0, os_make_dirs((tree + "/a/b/c").c_str())) << "an existing directory is a failure";
    EXPECT_EQ(0, os_make_dirs((tree + "/x//y/").c_str()));
    EXPECT_TRUE(os_is_dir((tree + "/x/y").c_str()) && !os_is_dir((dir + "/f").c_str()));
    for (const std::string &bad : {dir + "/f/sub", dir + "/f", std::string("/"), std::string("")})
        EXPECT_NE(0, os_make_dirs(bad.c_str())) << bad;

    tu_write(outside + "/keep", "precious");
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

/* ---- the process temporary directory ---------------------------------------- */

struct temp_run {
    tu_result result;
    std::vector<std::string> names; /* printed temporary names, "NULL" included */
    std::string info;               /* the "tempinfo" line */
};

/* Runs alert_probe with `actions`, TEMP=base (TMP and TMPDIR unset) and
 * then `env` in its environment. */
static temp_run run_probe(const std::vector<std::string> &actions, const std::string &base,
                          std::vector<std::string> env = {}, const std::string &cwd = "")
{
    std::vector<std::string> argv = {tu_helper("alert_probe")};
    argv.insert(argv.end(), actions.begin(), actions.end());
    env.insert(env.begin(), {"TEMP=" + base, "TMP", "TMPDIR"});
    temp_run run = {tu_run(argv, env, cwd), {}, ""};
    for (size_t at = 0, nl; (nl = run.result.out.find('\n', at)) != std::string::npos; at = nl + 1) {
        std::string line = run.result.out.substr(at, nl - at);
        if (line.find("attempts=") != std::string::npos) run.info = line;
        else if (line.find("survived") == std::string::npos) run.names.push_back(line);
    }
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
        {"",         {"TEMP"},                           "."},
    };
    for (const auto &c : cases) {
        temp_run run = run_probe({"temp:.cmd", "temp:.cmd", "temp:-", "temp:txt", "tempinfo"}, c.temp, c.env, cwd);
        ASSERT_EQ(4u, run.names.size()) << run.result.out << run.result.err;
        std::string dir = dir_of(run.names[0]), names;
        for (const std::string &name : run.names) names += name + " ";
        EXPECT_EQ(dir + "/kvq_tmp_0.cmd " + dir + "/kvq_tmp_1.cmd " + dir + "/kvq_tmp_2 " + dir + "/kvq_tmp_3.txt ",
                  names);
        EXPECT_EQ(c.base + "/kvA", dir.substr(0, c.base.size() + 4)) << "one separator after the base";
        EXPECT_EQ("mode=700 attempts=1", run.info);
    }
    for (const std::string &d : {cwd, temp, tmp, tmpdir}) {
        EXPECT_TRUE(tu_list(d).empty()) << d << ": directory and files removed at exit";
        tu_rmtree(d);
    }
}

TEST(OsTemp, DirectoryIsRemovedHoweverTheProcessEnds)
{
    /* actions after two names        exit status */
    const struct { std::vector<std::string> end; int status; } cases[] = {
        {{}, 0}, {{"exit:1"}, 1}, {{"raise:15"}, 128 + 15}, {{"raise:2"}, 128 + 2}, {{"raise:1"}, 128 + 1},
        {{"raise:1", "ignore:1"}, 0}, /* ignored when the directory was made: stays ignored */
        {{"spawn-term"}, 128 + 15},
    };
    for (const auto &c : cases) {
        std::string base = tu_mkdtemp();
        std::vector<std::string> actions = {"temp:.cmd", "temp:-", c.end.empty() ? "tempinfo" : c.end[0]};
        if (c.end.size() > 1) actions.insert(actions.begin(), c.end[1]);
        temp_run run = run_probe(actions, base);
        EXPECT_EQ(c.status, run.result.status) << actions.back() << run.result.err;
        EXPECT_EQ(2u, run.names.size()) << actions.back();
        EXPECT_TRUE(tu_list(base).empty()) << actions.back() << ": left " << tu_list(base).size();
        /* SIGTERM while waiting for a child ends the driver, not the child. */
        EXPECT_EQ(actions.back() == "spawn-term", run.result.out.find("child-survived") != std::string::npos);
        EXPECT_EQ(std::string::npos, run.result.out.find("parent-survived"));
        tu_rmtree(base);
    }
}

TEST(OsTemp, OccupiedCandidatesMoveToTheNextLetter)
{
    std::string base = tu_mkdtemp(), target = tu_mkdtemp(), sub = base + "/sub";
    temp_run run = run_probe({"temp:.cmd", "tempinfo"}, sub, {"PROBE_LINK=" + target, "PROBE_OCCUPY=2"});
    ASSERT_EQ(1u, run.names.size()) << run.result.err;
    EXPECT_EQ(sub, dir_of(dir_of(run.names[0]))) << "a missing base is created";
    EXPECT_EQ(0u, leaf_of(dir_of(run.names[0])).rfind("kvC", 0)) << run.names[0];
    EXPECT_EQ("mode=700 attempts=3", run.info);
    EXPECT_TRUE(tu_list(target).empty()) << "nothing was written through a link";
    for (const std::string &name : tu_list(sub)) {
        struct stat st;
        EXPECT_TRUE(lstat((sub + "/" + name).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << name;
    }
    EXPECT_EQ(2u, tu_list(sub).size()) << "the two links stay, the directory is gone";

    /* All 26 taken: no name; the next call starts again. */
    run = run_probe({"temp:.cmd", "temp:.cmd", "tempinfo"}, base, {"PROBE_LINK=nowhere", "PROBE_OCCUPY=26"});
    ASSERT_EQ(2u, run.names.size()) << run.result.err;
    EXPECT_EQ("NULL", run.names[0]);
    EXPECT_EQ("kvq_tmp_0.cmd", leaf_of(run.names[1]));
    EXPECT_EQ("mode=700 attempts=27", run.info);
    tu_rmtree(base);
    tu_rmtree(target);
}

/* ---- processes ---------------------------------------------------------------------- */

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
        char name[] = "x";
        char *argv[] = {name, nullptr};
        errno = 0;
        EXPECT_EQ(-1, os_spawn(c.path.c_str(), argv)) << c.path;
        EXPECT_EQ(c.err, errno) << c.path << ": " << strerror(errno);
    }
    tu_rmtree(dir);
}

/* ---- installation discovery ------------------------------------------------------------ */

/* A scratch root R with `dirs` made under it and the probe installed as
 * R/<bin_dir>/kvq, removed with the fixture. */
struct InstallTree : testing::Test {
    std::string root = tu_mkdtemp("kvqinst");
    ~InstallTree() override { tu_rmtree(root); }

    std::string install(const std::string &bin_dir, const std::vector<std::string> &dirs = {})
    {
        for (const std::string &d : dirs) tu_mkdirs(root + "/" + d);
        tu_mkdirs(root + "/" + bin_dir);
        tu_copy(tu_helper("alert_probe"), root + "/" + bin_dir + "/kvq", true);
        return root + "/" + bin_dir + "/kvq";
    }
};

/* The probe's "inst" report for the installation R/V, or for none. */
static std::string report_for(const std::string &prog, const std::string &root, bool found)
{
    auto at = [&](const std::string &sub) { return found ? root + sub : std::string("(none)"); };
    std::string out = "prog=" + prog + "\nfound=" + (found ? "1" : "0") + "\ndir=" + at("") + "\ndir=" + at("/V") +
                      "\ndir=" + at("/V/tor-as") + "\ndir=(none)\ndir=(none)\ndir=" + at("/V/tor/include") + "\n";
    for (std::string lib : {"c90", "c99"})
        out += "1=" + at("/V/tor/bin") + "\n5=" + at("/V/tor/dat") + "\n2=" + at("/V/tor/lib/" + lib) +
               "\n10=" + at("/V/tor/include/" + lib) + "\n";
    return out + "torc=" + at("/V/tor/bin/torc") + "\nabsolute=/opt/other/torc\n";
}

TEST_F(InstallTree, RecognisedOnlyFromABinDirectoryBesideTor)
{
    /* bin directory    also made   recognised */
    const struct { const char *bin; const char *tor; bool found; } cases[] = {
        {"V/tor/bin", nullptr, true},     {"V/bin", "V/tor", true},       {"V/BIN", "V/tor", true},
        {"V/tor-as/bin", "V/tor", true},  {"V/Tor-AS/Bin", "V/tor", true}, {"V/tor-as/bin", nullptr, false},
        {"V/tools", "V/tor", false},      {"V/bin.old", "V/tor", false},  {"V/TOR/bin", nullptr, false},
    };
    for (const auto &c : cases) {
        tu_rmtree(root + "/V");
        std::string prog = install(c.bin, c.tor ? std::vector<std::string>{c.tor} : std::vector<std::string>{});
        tu_result r = tu_run({prog, "inst"});
        EXPECT_EQ(report_for(prog, root, c.found), r.out + r.err) << c.bin;
    }
}

TEST_F(InstallTree, FoundThroughALinkAndOnALaterTry)
{
    std::string prog = install("V/bin");
    tu_result r = tu_run({prog, "found", "mkdir:" + root + "/V/tor", "found"});
    EXPECT_EQ("found=0\nfound=1\n", r.out + r.err) << "a failed discovery is not kept";

    tu_mkdirs(root + "/links/bin");
    ASSERT_EQ(0, symlink(prog.c_str(), (root + "/links/bin/kvq").c_str()));
    r = tu_run({root + "/links/bin/kvq", "inst"});
    EXPECT_EQ(report_for(prog, root, true), r.out + r.err);

    r = tu_run({prog, "kind:10"}); /* KVINSTDIR_LAST */
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("(path >= KVINSTDIR_FIRST) && (path < KVINSTDIR_LAST)")) << r.err;
}

TEST(Registry, WithoutAnInstallationOnlyAbsoluteNamesResolve)
{
    /* The test program does not lie in a bin directory. */
    EXPECT_FALSE(set_kvinstall_paths());
    EXPECT_TRUE(!kvinstdir(KVINSTDIR_VER) && !reg_instdir(REG_BIN) && !reg_mkpath(REG_BIN, "torc"));
    EXPECT_STREQ("/usr/local/bin/torc", reg_mkpath(REG_BIN, "/usr/local/bin/torc"));
    EXPECT_EQ(nullptr, reg_mkpath(REG_BIN, "c:\\kvq\\torc")) << "a drive path is relative here";
    reg_set_c_stdlib("c90");
    EXPECT_STREQ("/v/tor/sources/c90", reg_create_path("/v/tor/", REG_SOURCES));
    EXPECT_STREQ("/v/tor/help", reg_create_path("/v/tor", REG_HELP));
}
