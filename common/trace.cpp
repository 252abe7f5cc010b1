/*
 * trace.cpp - the trace core: the lines of the debug-out file, the
 * diagnostic line on standard error, the KVDEBUG warning, and the hooks for
 * running out of memory and for failed consistency checks.
 *
 * Trace, ENTER, EXIT and tracef lines carry a location prefix: the caller's
 * "<basename>:<line>" left-aligned in 20 columns (longer text written whole),
 * "> ", then the current indent.  ENTER writes before indenting and EXIT
 * unindents before writing, so an ENTER line and its EXIT line stand at the
 * same indent and everything traced between them one step deeper.
 *
 * Invariants kept here:
 *  - Every write to gFile is followed by a flush, so the file is complete up
 *    to its last line however the process ends.
 *  - Nothing is written while no debug-out file is open (db_warning still
 *    reaches standard error).
 *  - The indent level never wraps: it stops at 0 and at UINT32_MAX with a
 *    warning; the indent saturates the same way.
 *  - This file calls nothing of the project but osdep_defs.h: texts are split
 *    by walking them, lines are built in fixed buffers.
 */
#include "trace.h"

#include <climits>
#include <cstdlib>
#include <cstring>

uint32_t gDebugFlags = 0;
uint32_t gAssertLevel = DB_ASSERT_IGNORE;
FILE *gFile = NULL;

/* Wide enough for the usual "file.cpp:1234" so that the arrows line up. */
static const int DB_LOCATION_WIDTH = 20;
/* Spaces per nesting level: deep call chains stay readable in 80 columns. */
static const uint32_t DB_INDENT_STEP = 4;
/* A diagnostic line holds at most this many characters, newline included:
 * room for any path or option a warning quotes. */
static const size_t DB_DIAG_LINE_MAX = 8191;
/* The first line of a multi-line tracef format is copied here to be
 * formatted; a longer one is copied to the heap. */
static const size_t DB_FORMAT_LOCAL = 256;

static const char DB_WARNING_PREFIX[] = "KVDEBUG (warning): ";

static uint32_t indent_level = 0;
static uint32_t indent = 0;

static void db_location(const char *file, int line)
{
    const char *sep = os_last_sep(file);
    int used = fprintf(gFile, "%s:%d", sep ? sep + 1 : file, line);
    int pad = used < DB_LOCATION_WIDTH ? DB_LOCATION_WIDTH - used : 0;
    int spaces = indent > INT_MAX ? INT_MAX : (int)indent;
    fprintf(gFile, "%*s> %*s", pad, "", spaces, "");
}

/* Writes the `len` bytes at `text` as a format filled from `ap`. */
static void db_format_piece(const char *text, size_t len, va_list *ap)
{
    if (text[len] == '\0') {
        vfprintf(gFile, text, *ap);
        return;
    }
    char local[DB_FORMAT_LOCAL];
    char *fmt = len < sizeof local ? local : (char *)malloc(len + 1);
    if (fmt == NULL) db_out_of_memory();
    memcpy(fmt, text, len);
    fmt[len] = '\0';
    vfprintf(gFile, fmt, *ap);
    if (fmt != local) free(fmt);
}

/* Writes `text` split at newlines (empty lines vanish), one prefixed line
 * each.  With `ap`, the first line is a format filled from it; later lines
 * are always plain text.  `empty_warning` reports a text with no line. */
static void db_trace_lines(const char *file, int line, const char *text, va_list *ap,
                           const char *empty_warning)
{
    if (!gFile || !file || !text) return;
    bool first = true;
    for (const char *p = text + strspn(text, "\n"); *p != '\0'; p += strspn(p, "\n")) {
        size_t len = strcspn(p, "\n");
        db_location(file, line);
        if (first && ap) db_format_piece(p, len, ap);
        else fwrite(p, 1, len, gFile);
        fputc('\n', gFile);
        first = false;
        p += len;
    }
    if (first) db_warning(empty_warning, file, line);
    fflush(gFile);
}

void db_tracef(const char *file, int line, const char *fmt, ...)
{
    DB_ASSERT(file != NULL);
    DB_ASSERT(fmt != NULL);
    va_list ap;
    va_start(ap, fmt);
    db_trace_lines(file, line, fmt, &ap, "tracef (at %s:%d) contains no lines");
    va_end(ap);
}

void db_trace(const char *file, int line, const char *text)
{
    DB_ASSERT(file != NULL);
    DB_ASSERT(text != NULL);
    db_trace_lines(file, line, text, NULL, "trace (at %s:%d) contains no lines");
}

void db_enter(const char *file, int line, const char *func, const char *fmt, ...)
{
    DB_ASSERT(file != NULL);
    DB_ASSERT(func != NULL);
    if (!gFile || !file || !func) return;
    db_location(file, line);
    fprintf(gFile, "ENTER %s(", func);
    if (fmt) {
        va_list ap;
        va_start(ap, fmt);
        vfprintf(gFile, fmt, ap);
        va_end(ap);
    }
    fputs(")\n", gFile);
    if (indent_level == UINT32_MAX) db_warning("max debug-out indent level reached");
    else indent_level++;
    indent = indent > UINT32_MAX - DB_INDENT_STEP ? UINT32_MAX : indent + DB_INDENT_STEP;
    fflush(gFile);
}

void db_exit(const char *file, int line, const char *func, const char *fmt, ...)
{
    DB_ASSERT(file != NULL);
    DB_ASSERT(func != NULL);
    if (!gFile || !file || !func) return;
    if (indent_level == 0) db_warning("min debug-out indent level reached");
    else indent_level--;
    indent = indent < DB_INDENT_STEP ? 0 : indent - DB_INDENT_STEP;
    db_location(file, line);
    fprintf(gFile, "EXIT %s()", func);
    if (fmt) {
        va_list ap;
        va_start(ap, fmt);
        fputs(" -> ", gFile);
        vfprintf(gFile, fmt, ap);
        va_end(ap);
    }
    fputc('\n', gFile);
    fflush(gFile);
}

void db_printf(const char *fmt, ...)
{
    DB_ASSERT(fmt != NULL);
    if (!gFile || !fmt) return;
    va_list ap;
    va_start(ap, fmt);
    vfprintf(gFile, fmt, ap);
    va_end(ap);
    fputc('\n', gFile);
    fflush(gFile);
}

void db_puts(const char *text)
{
    DB_ASSERT(text != NULL);
    if (!gFile || !text) return;
    fputs(text, gFile);
    fputc('\n', gFile);
    fflush(gFile);
}

void db_alert_echo(const char *line)
{
    DB_ASSERT(line != NULL);
    if (!gFile || !line) return;
    fprintf(gFile, "ALERT> %s", line);
    fflush(gFile);
}

/* ---- diagnostic lines -------------------------------------------------------- */

void db_diag_line(const char *line, size_t len)
{
    if (gDebugFlags & DB_FLAG_ALERTS) db_alert_echo(line);
    /* One write per line, so the lines of processes that share an error
     * file interleave whole; what the stream holds goes first.  A line that
     * cannot be written has nowhere else to go. */
    fflush(stderr);
    (void)os_write_all(2, line, len);
}

/* `prefix` (shorter than a line, no conversions) and then the formatted text,
 * cut to the line's room, as one diagnostic line.  A format that cannot be
 * formatted at all leaves an empty line. */
static void db_diag_vformat(const char *prefix, const char *fmt, va_list ap)
{
    char line[DB_DIAG_LINE_MAX + 1];
    size_t used = strlen(prefix);
    memcpy(line, prefix, used);
    size_t room = DB_DIAG_LINE_MAX - used; /* vsnprintf's bound: the newline needs the last one */
    int n = vsnprintf(line + used, room, fmt, ap);
    used = n < 0 ? 0 : used + ((size_t)n < room ? (size_t)n : room - 1);
    line[used++] = '\n';
    line[used] = '\0';
    db_diag_line(line, used);
}

void db_diag_vprintf(const char *fmt, va_list ap)
{
    db_diag_vformat("", fmt, ap);
}

static void db_diag_printf(const char *fmt, ...) KVQ_PRINTF(1, 2);
static void db_diag_printf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    db_diag_vformat("", fmt, ap);
    va_end(ap);
}

/* The trace shows the warning's format with its placeholders unfilled; the
 * printed line is formatted. */
void db_warning(const char *fmt, ...)
{
    if (gDebugFlags & DB_FLAG_TRACE) db_tracef(__FILE__, __LINE__, "%s%s", DB_WARNING_PREFIX, fmt);
    va_list ap;
    va_start(ap, fmt);
    db_diag_vformat(DB_WARNING_PREFIX, fmt, ap);
    va_end(ap);
}

/* ---- hooks ---------------------------------------------------------------------- */

/* The defaults stand in until the diagnostics install theirs. */
static void db_plain_out_of_memory(void)
{
    fputs("out of memory\n", stderr);
}

static void db_plain_assert(uint32_t level, const char *expr, const char *file, int line)
{
    db_diag_printf("assertion failure: %s (%s:%d)", expr, file, line);
    if (level == DB_ASSERT_FATAL) exit(1);
}

static db_out_of_memory_hook out_of_memory_hook = db_plain_out_of_memory;
static db_assert_hook assert_hook = db_plain_assert;

void db_set_out_of_memory_hook(db_out_of_memory_hook hook)
{
    out_of_memory_hook = hook ? hook : db_plain_out_of_memory;
}

void db_out_of_memory(void)
{
    out_of_memory_hook();
    abort();
}

void db_set_assert_hook(db_assert_hook hook)
{
    assert_hook = hook ? hook : db_plain_assert;
}

void db_assert(const char *expr, const char *file, int line)
{
    if (gAssertLevel < DB_ASSERT_FATAL || gAssertLevel > DB_ASSERT_WARNING) return;
    assert_hook(gAssertLevel, expr, file, line);
}
