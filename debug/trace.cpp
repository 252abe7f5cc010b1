/*
 * trace.cpp - the lines of the debug-out file and the KVDEBUG warning.
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
 *  - The APP line is written at most once per process.
 */
#include "kvdebug.h"

#include <climits>
#include <cstring>

#include "alert.h"
#include "stringcache.h"
#include "vector.h"

/* Wide enough for the usual "file.cpp:1234" so that the arrows line up. */
static const int DB_LOCATION_WIDTH = 20;
/* Spaces per nesting level: deep call chains stay readable in 80 columns. */
static const uint32_t DB_INDENT_STEP = 4;

static uint32_t indent_level = 0;
static uint32_t indent = 0;
static bool app_pending = true;

/* The program whose arguments the APP line introduces. */
static const char DB_APP_NAME[] = "kvq";

static void db_location(const char *file, int line)
{
    int used = fprintf(gFile, "%s:%d", os_basename(file), line);
    int pad = used < DB_LOCATION_WIDTH ? DB_LOCATION_WIDTH - used : 0;
    int spaces = indent > INT_MAX ? INT_MAX : (int)indent;
    fprintf(gFile, "%*s> %*s", pad, "", spaces, "");
}

/* Writes `text` split at newlines (empty lines vanish), one prefixed line
 * each.  With `ap`, the first line is a format filled from it; later lines
 * are always plain text.  `empty_warning` reports a text with no line. */
static void db_trace_lines(const char *file, int line, const char *text, va_list *ap,
                           const char *empty_warning)
{
    if (!gFile || !file || !text) return;
    vector *lines = str_split(text, "\n");
    if (vec_size(lines) == 0) {
        db_warning(empty_warning, file, line);
    } else {
        for (uint32_t i = 0; i < vec_size(lines); i++) {
            const char *piece = (const char *)vec_get(lines, i);
            db_location(file, line);
            if (i == 0 && ap) vfprintf(gFile, piece, *ap);
            else fputs(piece, gFile);
            fputc('\n', gFile);
        }
    }
    vec_free(lines);
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

void db_print_argv(int argc, char *const argv[])
{
    DB_ASSERT(argv != NULL);
    if (!gFile || !argv) return;
    vector *args = VEC_NEW_SIZED(argc > 0 ? (uint32_t)argc : 1);
    for (int i = 0; i < argc && argv[i]; i++) vec_append(args, str_save(argv[i]));
    db_print_args(args);
    vec_free(args);
}

void db_print_args(vector *args)
{
    DB_ASSERT(args != NULL);
    if (!gFile || !args) return;
    if (app_pending) {
        fprintf(gFile, "\nAPP: %s\n", str_upper(DB_APP_NAME));
        app_pending = false;
    }
    fputs("ARGS:", gFile);
    const char *arg;
    vec_for_each(args, arg) fprintf(gFile, " %s", arg ? arg : "");
    if (vec_size(args) == 0) fputs(" None", gFile);
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

/* The trace shows the warning's format with its placeholders unfilled; the
 * printed line is formatted. */
void db_warning(const char *fmt, ...)
{
    const char *text = str_concat("KVDEBUG (warning): ", fmt);
    if (gDebugFlags & DB_FLAG_TRACE) db_tracef(__FILE__, __LINE__, "%s", text);
    va_list ap;
    va_start(ap, fmt);
    alert_vprint(text, ap);
    va_end(ap);
}
