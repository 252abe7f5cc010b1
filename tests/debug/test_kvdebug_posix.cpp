/*
 * test_kvdebug_posix.cpp - the debugger script run by the real lldb, when it
 * is installed: the program stops at main, the breakpoint's command marks it
 * as debugged, and it runs on to its end with its arguments.
 */
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "kvdebug.h"
#include "test_util.h"
#include "vector.h"

TEST(Launch, RealDebuggerRunsTheScript)
{
    const char *lldb = "/usr/bin/lldb";
    if (!tu_exists(lldb)) GTEST_SKIP() << lldb << " is not installed";
    /* lldb in batch mode, going on after the stop at main; it receives the
     * script and the program as the launch passes them. */
    std::string dir = tu_mkdtemp("kvqlldb"), batch = dir + "/lldb-batch";
    tu_write(batch, "#!/bin/sh\n[ \"$1\" = -s ] && [ \"$3\" = -- ] || exit 99\nscript=$2\nshift 3\n"
                    "exec " + std::string(lldb) + " --batch -s \"$script\" -o 'process continue' -- \"$@\"\n");
    chmod(batch.c_str(), 0755);
    setenv("TEMP", dir.c_str(), 1);
    db_set_debugger_path(batch.c_str());
    db_parse_options("--kvdebug=debug:debug_probe");

    vector *args = VEC_NEW();
    vec_append(args, "debug_probe");
    vec_append(args, "indebugger");
    testing::internal::CaptureStdout();
    int status = db_launch(tu_helper("debug_probe").c_str(), args, false);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0) << out;
    /* lldb hands the program a terminal of its own, which ends lines in CR LF. */
    EXPECT_NE(out.find("in debugger: 1\r\nflags=0 level=0\r\n"), std::string::npos) << out;
    vec_free(args);
    tu_rmtree(dir);
}
