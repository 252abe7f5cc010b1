/* test_platform_win32.cpp - the Windows rules of the platform layer: the backslash first, then
 * the slash, then the drive's colon; drive-letter and network paths are absolute; TEMP, then TMP,
 * then the current directory, a bare drive taken as it is; arguments with white space kept whole
 * by _spawnv.  Ctrl-C is tested from the Linux side (tests/driver/ctrl_c_win32.sh); the modules
 * above follow the same separators (test_paths_win32.cpp). */
#include <gtest/gtest.h>

#include <cerrno>

#include "osdep.h"
#include "temp_probe.h"
#include "test_util.h"

TEST(WinPaths, BackslashThenSlashThenColonAndOneBackslashAtJoins)
{
    const char *mixed = "C:\\dir.v2\\sub/part:x.tar.gz";
    /* result                                      expected */
    const struct { std::string got, want; } cases[] = {
        {os_basename(mixed),                           "sub/part:x.tar.gz"}, /* a later slash or colon loses */
        {take(os_dirname(mixed)),                      "C:\\dir.v2"},
        {os_basename("dir/sub:file"),                  "sub:file"},
        {os_basename("C:file"),                        "file"},
        {take(os_dirname("C:file")),                   "C"},
        {take(os_dirname("\\x")),                      ""},
        {take(os_basename_to_dot("C:\\dir.v2\\file")), "file"},
        {take(os_basename_to_dot(mixed)),              "sub/part:x.tar."},
        {take(os_path_join("a", "b")),                 "a\\b"},
        {take(os_path_join("a\\", "\\b")),             "a\\b"},
        {take(os_path_join("a\\", "b")),               "a\\b"},
        {take(os_path_join("a", "\\b")),               "a\\b"},
        {take(os_path_join("a/", "/b")),               "a/\\/b"}, /* only the backslash counts at the seam */
        {take(os_path_join("C:", "x")),                "C:\\x"},
        {take(os_path_join("", "b")),                  "(null)"},
    };
    for (const auto &c : cases) EXPECT_EQ(c.want, c.got);
    for (const char *absolute : {"C:\\x", "c:", "z:rel", "\\\\srv\\share"})
        EXPECT_TRUE(os_is_absolute(absolute)) << absolute;
    for (const char *relative : {"\\x", "/x", "C", "", ":", "//srv/share"})
        EXPECT_FALSE(os_is_absolute(relative)) << relative;
    EXPECT_FALSE(os_is_absolute(nullptr));
}

TEST(WinTemp, BaseFromTempThenTmpElseTheCurrentDirectory)
{
    /* The probe runs in cwd, on drive C: there, so "C:" names cwd as "." does. */
    std::string cwd = tu_mkdtemp(), temp = tu_mkdtemp(), tmp = tu_mkdtemp();
    /* TEMP value   TMP and TEMP        expected base  the private directory in cwd */
    const struct { std::string temp; std::vector<std::string> env; std::string base; bool in_cwd; } cases[] = {
        {temp,        {"TMP=" + tmp},    temp + "\\",   false},
        {temp + "\\", {},                temp + "\\",   false}, /* no second backslash */
        {"",          {"TMP=" + tmp},    ".\\",         true},  /* an empty TEMP: TMP is not looked at */
        {"",          {"TEMP", "TMP=" + tmp}, tmp + "\\", false},
        {"",          {"TEMP"},          ".\\",         true},
        {"C:",        {},                "C:",          true},  /* a bare drive: no backslash after it */
    };
    for (const auto &c : cases) {
        temp_run run = run_probe({"temp:.cmd", "temp:-", "temp:txt", "list:."}, c.temp, c.env, cwd);
        std::string made = run.dir.substr(c.base.size());
        EXPECT_EQ(c.base + "kvA", run.dir.substr(0, c.base.size() + 3)) << c.temp;
        std::string listed = c.in_cwd ? made.substr(0, made.find_last_not_of('.') + 1) + "\n" : "";
        EXPECT_EQ("D\\kvq_tmp_0.cmd\nD\\kvq_tmp_1\nD\\kvq_tmp_2.txt\n" + listed, run.r.out) << c.temp;
        EXPECT_EQ(0, run.r.status);
    }
    for (const std::string &d : {cwd, temp, tmp}) {
        EXPECT_TRUE(tu_list(d).empty()) << d << ": directory and files removed at exit";
        tu_rmtree(d);
    }
}

TEST(WinSpawn, ArgumentsWithWhiteSpaceStayWholeAndTheStatusIsTheExitCode)
{
    std::string rec = tu_mkdtemp("kvqspawn"), backend = tu_test_backend();
    tu_setenv("KVQ_TB_RECORD", rec.c_str());
    std::vector<std::string> args = {backend, "two words", "tab\there", "v\vt", "plain", "back\\slash"};
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    EXPECT_EQ(0, os_spawn(backend.c_str(), argv.data()));
    std::string expected;
    for (const std::string &a : args) expected += a + "\n";
    EXPECT_EQ(expected, tu_read(rec + "\\run1.argv"));
    for (int status : {3, 300}) {
        tu_setenv("KVQ_TB_EXIT", std::to_string(status).c_str());
        EXPECT_EQ(status, os_spawn(backend.c_str(), argv.data()));
    }
    tu_setenv("KVQ_TB_EXIT", nullptr);
    tu_setenv("KVQ_TB_RECORD", nullptr);
    std::string missing = rec + "\\missing.exe";
    errno = 0;
    EXPECT_EQ(-1, os_spawn(missing.c_str(), argv.data()));
    EXPECT_EQ(ENOENT, errno);
    tu_rmtree(rec);
}
