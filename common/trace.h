/*
 * trace.h - the trace core: the debug flag word and the assert level, the
 * debug-out file and the writers of its lines, the diagnostic line on
 * standard error, and the two hooks through which every layer reports
 * running out of memory and a failed consistency check.
 *
 * This is the bottom of the system.  It uses the C library and osdep_defs.h
 * only, so every other module can write trace lines and report through it
 * without depending on anything above itself.  The diagnostics install the
 * hooks at start-up (alert_install_hooks): out of memory becomes the fatal
 * alert 296, a failed check an assertion alert (1501-1503).  Until then the
 * plain defaults below stand in.
 *
 * Invariants:
 *  - Every write to gFile is followed by a flush, so the file is complete up
 *    to its last line however the process ends.
 *  - Trace operations write nothing while no debug-out file is open; callers
 *    test the flag word first (the DB_ macros below do).  The debug facility
 *    (kvdebug.h) sets the flag word and opens the file.
 *  - A diagnostic line is written whole, with one write to standard error,
 *    echoed first into the trace when DB_FLAG_ALERTS is set.
 *  - The hooks' defaults allocate nothing.
 */
#ifndef KVQ_TRACE_H
#define KVQ_TRACE_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "osdep_defs.h"

/* ---- process-wide state, read directly by every module ------------------ */

enum : uint32_t {
    DB_FLAG_TRACE = 1,   /* "default", "on": trace lines */
    DB_FLAG_SDB = 2,     /* "sdb": forwarded only */
    DB_FLAG_DWARF = 4,   /* "dwarf": forwarded only */
    DB_FLAG_ALERTS = 8,  /* "alerts": diagnostic lines echoed into the trace */
    DB_FLAG_ADT = 16,    /* "adt": container tracking and master-list dumps */
};

enum db_assert_level : uint32_t {
    DB_ASSERT_IGNORE = 0,
    DB_ASSERT_FATAL = 1,
    DB_ASSERT_ERROR = 2,
    DB_ASSERT_WARNING = 3,
};

extern uint32_t gDebugFlags;   /* the debug flag word */
extern uint32_t gAssertLevel;  /* db_assert_level */
extern FILE *gFile;            /* the debug-out file, or NULL */

/* ---- trace lines (the debug-out file) ------------------------------------ */

/* Location-prefixed lines: "%-20s> " of "<basename>:<line>", then the indent.
 * The text is split at newlines (empty lines vanish); db_tracef formats only
 * the first line, later ones are written as they stand.  A text without any
 * line writes the KVDEBUG warning "trace (at <file>:<line>) contains no
 * lines" ("tracef ..." for db_tracef) instead. */
void db_tracef(const char *file, int line, const char *fmt, ...) KVQ_PRINTF(3, 4);
void db_trace(const char *file, int line, const char *text);

/* "ENTER name(<formatted>)" then indent; unindent then "EXIT name()" and, with
 * a format, " -> <formatted>".  fmt may be NULL.  The indent level stops at 0
 * and at UINT32_MAX with a KVDEBUG warning. */
void db_enter(const char *file, int line, const char *func, const char *fmt, ...) KVQ_PRINTF(4, 5);
void db_exit(const char *file, int line, const char *func, const char *fmt, ...) KVQ_PRINTF(4, 5);

/* Raw lines without prefix (master-list dumps). */
void db_printf(const char *fmt, ...) KVQ_PRINTF(1, 2);
void db_puts(const char *text);

/* "ALERT> <line>" (the line carries its own newline). */
void db_alert_echo(const char *line);

/* Instrumentation helpers: ENTER/EXIT whenever any flag is set, trace lines
 * under DB_FLAG_TRACE, each with the caller's own source location. */
#define DB_ENTER(func) \
    do { if (gDebugFlags) db_enter(__FILE__, __LINE__, (func), NULL); } while (0)
#define DB_ENTERF(func, ...) \
    do { if (gDebugFlags) db_enter(__FILE__, __LINE__, (func), __VA_ARGS__); } while (0)
#define DB_EXIT(func) \
    do { if (gDebugFlags) db_exit(__FILE__, __LINE__, (func), NULL); } while (0)
#define DB_EXITF(func, ...) \
    do { if (gDebugFlags) db_exit(__FILE__, __LINE__, (func), __VA_ARGS__); } while (0)
#define DB_TRACEF(...) \
    do { if (gDebugFlags & DB_FLAG_TRACE) db_tracef(__FILE__, __LINE__, __VA_ARGS__); } while (0)

/* ---- diagnostic lines (standard error) ------------------------------------ */

/* Writes `line` (`len` bytes ending in its newline, NUL-terminated) to
 * standard error's descriptor with one write, after flushing what the stream
 * holds, echoing it into the trace first when DB_FLAG_ALERTS is set.  Every
 * diagnostic of the program leaves this way. */
void db_diag_line(const char *line, size_t len);

/* One free-form diagnostic line: the format's result cut to 8190 characters,
 * then a newline; built in a fixed buffer, so nothing is allocated. */
void db_diag_vprintf(const char *fmt, va_list ap);

/* "KVDEBUG (warning): <formatted>" as a diagnostic line, and also traced,
 * with the format's placeholders unfilled, when DB_FLAG_TRACE is set.  Never
 * counted, never fatal. */
void db_warning(const char *fmt, ...) KVQ_PRINTF(1, 2);

/* ---- hooks ------------------------------------------------------------------ */

/* Out of memory: a request the heap cannot meet (or a size that cannot be
 * represented) ends the process.  db_out_of_memory runs the hook, and aborts
 * should the hook return.  The default hook writes "out of memory" to
 * standard error.  NULL restores the default. */
typedef void (*db_out_of_memory_hook)(void);
void db_set_out_of_memory_hook(db_out_of_memory_hook hook);
KVQ_NORETURN void db_out_of_memory(void);

/* Failed consistency checks, reported by the assert level: db_assert does
 * nothing at level 0 and otherwise runs the hook with the level (1 fatal, 2
 * error, 3 warning).  The default hook writes "assertion failure: <expr>
 * (<file>:<line>)" and, at level 1, ends the process with status 1.  NULL
 * restores the default. */
typedef void (*db_assert_hook)(uint32_t level, const char *expr, const char *file, int line);
void db_set_assert_hook(db_assert_hook hook);
void db_assert(const char *expr, const char *file, int line);

/* Consistency check reported through the assert level; the condition is not
 * evaluated at level 0. */
#define DB_ASSERT(cond)                                              \
    do {                                                             \
        if (gAssertLevel != 0 && !(cond)) db_assert(#cond, __FILE__, __LINE__); \
    } while (0)

#endif /* KVQ_TRACE_H */
