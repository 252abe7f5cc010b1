/*
 * Issuing alerts: line forms, filtering, counting, "%m", truncation and the
 * debug echo in-process; fatal exits, the error limit and alert_once through
 * alert_probe child processes, which also show the exit status.
 */
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "alert.h"
#include "kvdebug.h"
#include "msgcat.h"
#include "test_util.h"

/* What `fn` writes to standard error (test_msgcat.cpp uses it too). */
std::string capture_stderr(const std::function<void()> &fn)
{
    fflush(stderr);
    FILE *sink = tmpfile();
    int saved = dup(2);
    dup2(fileno(sink), 2);
    fn();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text(16384, '\0');
    rewind(sink);
    text.resize(fread(&text[0], 1, text.size(), sink));
    fclose(sink);
    return text;
}

static void vprint(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    alert_vprint(fmt, ap);
    va_end(ap);
}

static tu_result probe(std::vector<std::string> actions)
{
    actions.insert(actions.begin(), tu_helper("alert_probe"));
    return tu_run(actions);
}

TEST(Alert, LineFormsFilteringAndCounting)
{
    uint32_t errors = alert_error_count();
    int ret = -1;
    EXPECT_EQ(capture_stderr([&] { ret = alert(ALERT_EXIT_STATUS, 3); }), "(908) exit status = 3\n");
    EXPECT_EQ(ret, 1);
    /* 1501's text ends in a blank: two blanks before "(warning)". */
    EXPECT_EQ(capture_stderr([] { alert(ALERT_ASSERT_WARNING, "x > 0", "a.c", 12); }),
              "(1501) assertion failure: x > 0 (a.c:12)  (warning)\n");
    EXPECT_EQ(capture_stderr([] { alert(3000); }),
              "(3000) An error, warning or message was generated, but no description is available\n");
    EXPECT_EQ(capture_stderr([] { alert_typed(3, "M", "Malformed error information on line %u, in file %s\n", 4u, "f"); }),
              "Malformed error information on line 4, in file f\n\n");
    EXPECT_EQ(capture_stderr([] { alert_typed(7, "5", "level five"); }), "(7) level five (warning)\n");
    EXPECT_EQ(capture_stderr([&] { ret = alert_typed(7, "-1", "below"); }), "");
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(capture_stderr([] { alert_typed(8, "E", "typed %s", "error"); }), "(8) typed error\n");
    EXPECT_EQ(alert_error_count(), errors + 3) << "908, 3000 and the typed error count";
}

TEST(Alert, PercentMAndTruncation)
{
    EXPECT_EQ(capture_stderr([] {
                  errno = EACCES;
                  alert_typed(9, "M", "open: %m; 100%%m; %d%%", 5);
              }),
              "open: " + std::string(strerror(EACCES)) + "; 100%m; 5%\n");
    EXPECT_EQ(capture_stderr([] {
                  errno = 0;
                  alert_typed(9, "M", "open: %m.");
              }),
              "open: .\n");

    std::string long_text(600, 'a');
    EXPECT_EQ(capture_stderr([&] { alert_typed(12, "0", "%s", long_text.c_str()); }),
              "(12) " + std::string(505, 'a') + " (warning)\n");
    EXPECT_EQ(capture_stderr([&] { alert_typed(12, "M", "%s", long_text.c_str()); }),
              std::string(510, 'a') + "\n");
    std::string huge(9000, 'b');
    EXPECT_EQ(capture_stderr([&] { vprint("%s", huge.c_str()); }), std::string(8190, 'b') + "\n");
}

TEST(Alert, AlertsFlagEchoesLinesIntoTheDebugTrace)
{
    gFile = tmpfile();
    gDebugFlags = DB_FLAG_ALERTS;
    EXPECT_EQ(capture_stderr([] { alert(ALERT_EXIT_STATUS, 7); }), "(908) exit status = 7\n");
    gDebugFlags = 0;
    capture_stderr([] { alert_typed(5, "M", "not echoed"); });
    std::string echoed(65536, '\0');
    rewind(gFile);
    echoed.resize(fread(&echoed[0], 1, echoed.size(), gFile));
    fclose(gFile);
    gFile = nullptr;
    EXPECT_NE(echoed.find("ALERT> (908) exit status = 7\n"), std::string::npos) << echoed;
    EXPECT_EQ(echoed.find("not echoed"), std::string::npos);
}

TEST(Alert, FatalAlertsRunCleanupAndExitWithStatus1)
{
    tu_result r = probe({"hook", "alert:2082", "alert:908:i1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "(2082) can't create temporary file\ncleanup(1)\n");
    EXPECT_EQ(r.out, "");

    r = probe({"hook", "typed:5:M:note", "typed:6:F:boom", "typed:7:M:never"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "note\n(6) boom\ncleanup(1)\n");

    r = probe({"errno:0", "alert:141:sdebug-out:sk.out"});
    EXPECT_EQ(r.status, 1) << "no hook: the process still ends";
    EXPECT_EQ(r.err, "(141) can't open debug-out file \"k.out\": \n");
}

TEST(Alert, TwentyFirstErrorStopsTheRun)
{
    std::vector<std::string> actions = {"hook", "alert:1501:sw:sf.c:i1"};
    std::string expected = "(1501) assertion failure: w (f.c:1)  (warning)\n";
    for (int i = 1; i <= 22; i++) actions.push_back("alert:908:i" + std::to_string(i));
    for (int i = 1; i <= 20; i++) expected += "(908) exit status = " + std::to_string(i) + "\n";
    tu_result r = probe(actions);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, expected + "too many errors (21)\ncleanup(1)\n");
}

TEST(Alert, OnceRaisesEachNumberOnceAndErrnoSurvivesTheFirstLoad)
{
    tu_result r = probe({"once:908:i3", "once:908:i4", "alert:908:i5", "once:908:i6"});
    EXPECT_EQ(r.out, "ret 1\nret 0\nret 1\nret 0\n");
    EXPECT_EQ(r.err, "(908) exit status = 3\n(908) exit status = 5\n");

    /* Loading the catalogue touches the file system; "%m" must still
     * describe the errno of the raise. */
    for (const char *how : {"once", "alert"}) {
        r = probe({"errno:13", std::string(how) + ":141:serror:s/x/y"});
        EXPECT_EQ(r.status, 1) << how;
        EXPECT_EQ(r.err, "(141) can't open error file \"/x/y\": " + std::string(strerror(EACCES)) + "\n") << how;
    }
}
