/* test_trace.cpp - the trace core: its diagnostic lines and warnings, a multi-line format, and its
 * two hooks as the diagnostics install them. */
#include <gtest/gtest.h>

#include "alert.h"
#include "trace.h"

/* Standard error and the debug-out file while `write` runs with the flag word `flags`. */
struct written { std::string err, traced; };
template <typename F> static written with_trace(uint32_t flags, F write)
{
    FILE *f = tmpfile();
    gFile = f;
    gDebugFlags = flags;
    testing::internal::CaptureStderr();
    write();
    written out = {testing::internal::GetCapturedStderr(), std::string(1 << 16, '\0')};
    gFile = NULL;
    gDebugFlags = 0;
    rewind(f);
    out.traced.resize(fread(&out.traced[0], 1, out.traced.size(), f));
    fclose(f);
    return out;
}

static void diag_printf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    db_diag_vprintf(fmt, ap);
    va_end(ap);
}

TEST(Trace, DiagnosticLinesAreCutToOneLineAndEchoedUnderAlerts)
{
    const std::string long_text(9000, 'x'), w = "KVDEBUG (warning): ";
    written plain = with_trace(DB_FLAG_ALERTS, [&] { diag_printf("%s", long_text.c_str()); });
    EXPECT_EQ(long_text.substr(0, 8190) + "\n", plain.err) << "8190 characters, then the newline";
    EXPECT_EQ("ALERT> " + plain.err, plain.traced);
    written warned = with_trace(DB_FLAG_ALERTS, [&] { db_warning("%s", long_text.c_str()); });
    EXPECT_EQ(w + long_text.substr(0, 8190 - w.size()) + "\n", warned.err) << "the prefix counts";
    EXPECT_EQ("", with_trace(DB_FLAG_TRACE, [] { diag_printf("quiet"); }).traced) << "no echo without alerts";
}

TEST(Trace, OnlyTheFirstLineOfAFormatIsFormattedHoweverLongItIs)
{
    /* A first line longer than the trace core's local copy, between empty lines. */
    const std::string first(300, 'f'), fmt = "\n\n" + first + "%d\nsecond %d\n\n", at = "f.c:9               > ";
    written out = with_trace(DB_FLAG_TRACE, [&] { db_tracef("dir/f.c", 9, fmt.c_str(), 5); });
    EXPECT_EQ(at + first + "5\n" + at + "second %d\n", out.traced);
    EXPECT_EQ("", out.err);
}

TEST(TraceDeathTest, TheDiagnosticsMakeAlertsOfTheHooks)
{
    alert_install_hooks();
    gAssertLevel = DB_ASSERT_ERROR;
    testing::internal::CaptureStderr();
    db_assert("x", "f.c", 3);
    EXPECT_EQ("(1502) assertion failure: x (f.c:3) \n", testing::internal::GetCapturedStderr());
    EXPECT_EQ(1u, alert_error_count());
    EXPECT_EXIT(db_out_of_memory(), testing::ExitedWithCode(1), "^\\(296\\) out of memory\n$");
}
