/*
 * kvdebug.h - the debug facility shared by the programs of the suite.
 *
 * One "--kvdebug=item,item,..." argument sets process-wide debug state: the
 * flag word, the assert level, the debug-out file, the package zip, the set of
 * programs to run under the debugger.  db_make_option rebuilds an equivalent
 * option for each program this one launches, so one switch on the outermost
 * command line reaches the whole chain.
 *
 * Invariants:
 *  - gDebugFlags != 0 implies gFile is open (or alert 141 ended the run).
 *  - Every write to gFile is flushed, so the trace is complete up to its last
 *    line however the process ends.
 *  - Option problems are KVDEBUG warnings on standard error; they never stop
 *    the program.  Only a debug-out file that cannot be opened is fatal.
 *  - Trace operations write nothing while no debug-out file is open; callers
 *    test the flag word first (the DB_ macros below do).
 */
#ifndef KVQ_KVDEBUG_H
#define KVQ_KVDEBUG_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "osdep.h"

struct vector;
struct hash_table;

/* ---- process-wide state, read directly by every module ------------------ */

enum : uint32_t {
    DB_FLAG_TRACE = 1,   /* "default", "on": trace lines */
    DB_FLAG_SDB = 2,     /* "sdb": forwarded only */
    DB_FLAG_DWARF = 4,   /* "dwarf": forwarded only */
    DB_FLAG_ALERTS = 8,  /* "alerts": alert lines echoed into the trace */
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
extern const char *gFilePath;  /* its path, or NULL */
extern volatile int gInDebugger; /* set to 1 by the debugger script */

/* ---- options and forwarding ---------------------------------------------- */

enum db_caller { DBC_KVQCC = 0, DBC_KVQ = 1, DBC_DRIVER = 2 };

struct db_option;
typedef void (*db_opt_handler)(const char *arg);
typedef const char *(*db_opt_generator)(db_caller caller, const char *callee, const db_option *opt);

struct db_option {
    uint32_t dbo_flags;                  /* ORed into gDebugFlags when parsed */
    const char *dbo_name;                /* keyword, matched as a prefix */
    db_opt_handler dbo_optHandler;       /* may be NULL */
    db_opt_generator dbo_optGenerator;   /* every row has one */
};

/* Parses one argument beginning with "--kvdebug" (the first call only, or the
 * first since db_reset_options; later calls warn "Ignoring extra --kvdebug
 * options").  Opens the debug-out file ("kvq-<num>.out" by default) when any
 * flag is set. */
void db_parse_options(const char *arg);

/* Restores the state before any option was parsed (for tests and fuzzing,
 * which parse many options in one process): flags, assert level, zip, debug
 * set, run number and launch counts cleared, the debug-out file closed,
 * container tracking off.  The dropped tables are not freed. */
void db_reset_options(void);

/* "--kvdebug=..." for a program `callee` launched by a `caller` kind, or NULL
 * when nothing is to be forwarded.  Cached string. */
const char *db_make_option(db_caller caller, const char *callee);

/* The application name ("kvq" by default; "kvq-cc" after "--kvqcc"). */
void db_set_app_name(const char *name);

/* End of run: packages the debug-out file, dumps the master lists under
 * "adt".  May run more than once (after the back end and on a fatal exit). */
void db_finish(void);

/* Reports a failed consistency check by the assert level: level 1..3 raises
 * alert 1504 - level ("assertion failure: %s (%s:%d) "); level 0 nothing. */
void db_assert(const char *expr, const char *file, int line);

/* Consistency check reported through the assert level; the condition is not
 * evaluated at level 0. */
#define DB_ASSERT(cond)                                              \
    do {                                                             \
        if (gAssertLevel != 0 && !(cond)) db_assert(#cond, __FILE__, __LINE__); \
    } while (0)

/* ---- trace output (the debug-out file) ----------------------------------- */

/* Location-prefixed lines: "%-20s> " of "<basename>:<line>", then the indent.
 * db_tracef splits its format at newlines and formats only the first line. */
void db_tracef(const char *file, int line, const char *fmt, ...) KVQ_PRINTF(3, 4);
void db_trace(const char *file, int line, const char *text);

/* "ENTER name(<formatted>)" then indent; unindent then "EXIT name()" and, with
 * a format, " -> <formatted>".  fmt may be NULL. */
void db_enter(const char *file, int line, const char *func, const char *fmt, ...) KVQ_PRINTF(4, 5);
void db_exit(const char *file, int line, const char *func, const char *fmt, ...) KVQ_PRINTF(4, 5);

/* Raw lines without prefix (master-list dumps). */
void db_printf(const char *fmt, ...) KVQ_PRINTF(1, 2);
void db_puts(const char *text);

/* "\nAPP: KVQ" once per process, then "ARGS: a b c" (or "ARGS: None"). */
void db_print_argv(int argc, char *const argv[]);
void db_print_args(vector *args);

/* "ALERT> <line>" (the line carries its own newline). */
void db_alert_echo(const char *line);

/* "KVDEBUG (warning): <formatted>" on standard error through the alert output;
 * also traced when DB_FLAG_TRACE is set.  Never counted, never fatal. */
void db_warning(const char *fmt, ...) KVQ_PRINTF(1, 2);

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

/* ---- launching and packaging ------------------------------------------------ */

/* Runs `path` with `args` (item 0 the program's name; NULL means none) and
 * waits: under the debugger when forced or when the debug set names the
 * program's base name, else plainly through os_spawn.  `args` is changed in
 * place (debugger items inserted, a terminating NULL appended).  Returns the
 * exit status, or -1 when the program could not be started. */
int db_launch(const char *path, vector *args, bool force);

/* Adds `file` to the package zip, when one is set and the file exists.
 * Problems are KVDEBUG warnings.  The archive is complete after each call. */
void db_package_add(const char *file, const char *comment);

/* Adds `file` under the archive name `name` as it stands (db_package_add
 * derives the name from the path).  A name or comment of 64 KiB or more is
 * refused with the warning for a failed add. */
void db_package_store(const char *file, const char *name, const char *comment);

/* Points the debugger descriptor in force at another executable (tests run a
 * recording stand-in through the real launch path); NULL restores the
 * default "/usr/bin/lldb".  The availability test is made again at the next
 * launch. */
void db_set_debugger_path(const char *path);

/* ---- state shared by the debug module's own sources ----------------------- */

/* Set by the "zip" and "debug" items (kvdebug.cpp); read by the package and
 * launch code.  Other modules do not touch them. */
extern const char *gZipPath;     /* the package zip, or NULL */
extern hash_table *gDebugSet;    /* base names to debug (any case), or NULL */

#endif /* KVQ_KVDEBUG_H */
