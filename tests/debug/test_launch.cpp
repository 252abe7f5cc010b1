/*
 * test_launch.cpp - running programs through db_launch: plainly, under a
 * stand-in debugger that records what it was given, and with the debugger
 * missing.
 */
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "debug_test_util.h"
#include "kvdebug.h"
#include "vector.h"

namespace {

/* The script the debugger receives, byte for byte. */
const std::string LLDB_SCRIPT = "break set --name db_assert\nbreak set --name main\nbreak command add 2\n"
                                "expr gInDebugger=1\nDONE\nrun";

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

} // namespace

TEST(Launch, UnderTheDebuggerWithScriptOrPlainly)
{
    std::string dir = tu_mkdtemp("kvqlaunch");
    std::string log = dir + "/debugger.log";
    setenv("KVQ_FAKE_DEBUGGER_LOG", log.c_str(), 1);
    setenv("TEMP", dir.c_str(), 1);
    setenv("KVQ_TB_QUIET", "1", 1);
    setenv("KVQ_TB_EXIT", "4", 1);
    db_set_debugger_path(tu_helper("debug_fake_debugger").c_str());
    db_parse_options("--kvdebug=debug:cpp:TORC");

    vector *args = VEC_NEW();
    vec_append(args, "torc");
    vec_append(args, "@/tmp/cmd file");
    EXPECT_EQ(db_launch("/inst/bin/torc.exe", args, false), 5);
    std::vector<std::string> got = lines_of(tu_read(log));
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0], "/inst/bin/torc.exe");
    EXPECT_EQ(got[1], "-s");
    EXPECT_EQ(got[3], "--");
    EXPECT_EQ(got[4], "/inst/bin/torc.exe");
    EXPECT_EQ(got[5], "@/tmp/cmd file");
    EXPECT_EQ(tu_read(log + ".script"), LLDB_SCRIPT);
    EXPECT_EQ(LLDB_SCRIPT.size(), 96u);
    EXPECT_EQ(got[2].compare(0, dir.size(), dir), 0) << got[2];
    EXPECT_FALSE(tu_exists(got[2])) << "the script file outlived the launch";
    EXPECT_EQ(vec_size(args), 7u);
    EXPECT_EQ(vec_get(args, 6), nullptr);
    vec_free(args);

    /* A program the set does not name runs plainly; so does a launch
     * without arguments. */
    tu_write(log, "");
    EXPECT_EQ(db_launch(KVQ_TEST_BACKEND, NULL, false), 4);
    EXPECT_EQ(tu_read(log), "");
    /* Forcing the debugger needs no name in the set. */
    EXPECT_EQ(db_launch(KVQ_TEST_BACKEND, NULL, true), 5);
    EXPECT_EQ(lines_of(tu_read(log)).size(), 5u);
    EXPECT_EQ(db_launch("/no/such/program", NULL, false), -1);

    /* Without the debugger both launches run plainly, after one warning. */
    db_set_debugger_path("/nonexistent/lldb");
    stderr_capture err;
    err.start();
    EXPECT_EQ(db_launch("/inst/bin/torc.exe", NULL, false), -1);
    EXPECT_EQ(db_launch(KVQ_TEST_BACKEND, NULL, true), 4);
    EXPECT_EQ(err.stop(), "KVDEBUG (warning): Debugger \"/nonexistent/lldb\" is not available\n");
    tu_rmtree(dir);
}
