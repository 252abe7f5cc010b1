/*
 * test_trace.cpp - the layout of the debug-out file: location prefixes,
 * nesting, multi-line traces, APP/ARGS and alert echoes, and the warnings for
 * empty traces and unbalanced EXITs.
 */
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "debug_test_util.h"
#include "kvdebug.h"
#include "stringcache.h"
#include "vector.h"

namespace {

/* A debug-out file in a scratch directory, read back as a whole. */
struct trace_file {
    std::string dir = tu_mkdtemp("kvqtrace");
    std::string path = dir + "/trace.out";
    trace_file()
    {
        gFile = fopen(path.c_str(), "w");
        gDebugFlags = DB_FLAG_TRACE;
    }
    ~trace_file()
    {
        fclose(gFile);
        gFile = NULL;
        gDebugFlags = 0;
        tu_rmtree(dir);
    }
    std::string text() const { return tu_read(path); }
};

} // namespace

TEST(Trace, LocationPrefixAndMultiLineTraces)
{
    trace_file t;
    stderr_capture err;
    err.start();
    db_tracef("src/deep/kvq.c", 320, "value %d", 7);
    db_tracef("a_rather_long_source_name.cpp", 12345, "long");
    db_tracef("x.c", 5, "x=%d\n\ny=%d\n", 1, 2);
    db_trace("x.c", 6, "100%\nplain %s");
    db_tracef("x.c", 7, "\n\n");
    db_trace("x.c", 8, "");
    std::string warnings = err.stop();

    std::string text = t.text();
    EXPECT_EQ(text.find("kvq.c:320           > value 7\n"
                        "a_rather_long_source_name.cpp:12345> long\n"
                        "x.c:5               > x=1\n"
                        "x.c:5               > y=%d\n"
                        "x.c:6               > 100%\n"
                        "x.c:6               > plain %s\n"),
              0u)
        << text;
    /* Empty texts write no line of their own; the warning is printed with its
     * values and traced with its placeholders. */
    EXPECT_EQ(warnings, "KVDEBUG (warning): tracef (at x.c:7) contains no lines\n"
                        "KVDEBUG (warning): trace (at x.c:8) contains no lines\n");
    EXPECT_EQ(count_of(text, "> KVDEBUG (warning): tracef (at %s:%d) contains no lines\n"), 1u);
    EXPECT_EQ(count_of(text, "> KVDEBUG (warning): trace (at %s:%d) contains no lines\n"), 1u);
    EXPECT_EQ(count_of(text, "\n"), 8u);
}

TEST(Trace, EnterExitNestingAndUnbalancedExit)
{
    trace_file t;
    gDebugFlags = DB_FLAG_ALERTS; /* warnings are echoed, not traced */
    stderr_capture err;
    err.start();
    db_enter("driver/kvq.cpp", 10, "kvq_spawn", NULL);
    db_enter("common/msgcat.cpp", 20, "msg_filename", "lnum = %lu", 3UL);
    db_tracef("common/msgcat.cpp", 21, "inside");
    db_exit("common/msgcat.cpp", 22, "msg_filename", NULL);
    db_exit("driver/kvq.cpp", 11, "kvq_spawn", "Execution returned %d", 0);
    db_exit("driver/kvq.cpp", 12, "cleanup", NULL);
    db_enter("driver/kvq.cpp", 13, "again", NULL);
    std::string warnings = err.stop();

    EXPECT_EQ(t.text(), "kvq.cpp:10          > ENTER kvq_spawn()\n"
                        "msgcat.cpp:20       >     ENTER msg_filename(lnum = 3)\n"
                        "msgcat.cpp:21       >         inside\n"
                        "msgcat.cpp:22       >     EXIT msg_filename()\n"
                        "kvq.cpp:11          > EXIT kvq_spawn() -> Execution returned 0\n"
                        "ALERT> KVDEBUG (warning): min debug-out indent level reached\n"
                        "kvq.cpp:12          > EXIT cleanup()\n"
                        "kvq.cpp:13          > ENTER again()\n");
    EXPECT_EQ(warnings, "KVDEBUG (warning): min debug-out indent level reached\n");
}

TEST(Trace, AppArgsAlertEchoAndRawLines)
{
    trace_file t;
    vector *none = VEC_NEW();
    db_print_args(none);
    vec_free(none);
    char *argv[] = {(char *)"/opt/kvq", (char *)"-q", (char *)"a b", NULL, (char *)"unseen"};
    db_print_argv(5, argv);
    db_alert_echo("(908) exit status = 3\n");
    db_printf("# %s %u", "dump", 4u);
    db_puts("# raw");
    EXPECT_EQ(t.text(), "\nAPP: KVQ\nARGS: None\n"
                        "ARGS: /opt/kvq -q a b\n"
                        "ALERT> (908) exit status = 3\n"
                        "# dump 4\n# raw\n");

    /* With no file open nothing is written and nothing fails. */
    FILE *open_file = gFile;
    gFile = NULL;
    db_tracef("x.c", 1, "%s", "lost");
    db_enter("x.c", 1, "f", NULL);
    db_puts("lost");
    gFile = open_file;
    EXPECT_EQ(count_of(t.text(), "\n"), 7u);
}
