/*
 * kvdebug.h - the debug facility shared by the programs of the suite.
 *
 * One "--kvdebug=item,item,..." argument sets process-wide debug state: the
 * flag word, the assert level and the debug-out file of the trace core
 * (trace.h), the package zip, the set of programs to run under the debugger.
 * db_make_option rebuilds an equivalent option for each program this one
 * launches, so one switch on the outermost command line reaches the whole
 * chain.  The trace lines themselves, the KVDEBUG warning and DB_ASSERT are
 * the trace core's.
 *
 * Invariants:
 *  - gDebugFlags != 0 implies gFile is open (or alert 141 ended the run).
 *  - Option problems are KVDEBUG warnings on standard error; they never stop
 *    the program.  Only a debug-out file that cannot be opened is fatal.
 */
#ifndef KVQ_KVDEBUG_H
#define KVQ_KVDEBUG_H

#include <cstdint>

struct vector;

/* ---- process-wide state ------------------------------------------------- */

extern const char *gFilePath;    /* the debug-out file's path, or NULL */
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

/* ---- the APP and ARGS lines --------------------------------------------- */

/* "\nAPP: KVQ" once per process, then "ARGS: a b c" (or "ARGS: None"). */
void db_print_argv(int argc, char *const argv[]);
void db_print_args(vector *args);

/* ---- launching and packaging ------------------------------------------------ */

/* Runs `path` with `args` (item 0 the program's name; NULL means none) and
 * waits: under the debugger when forced or when the debug set names the
 * program's base name, else plainly through os_spawn.  `args` is changed in
 * place (debugger items inserted, a terminating NULL appended).  Returns
 * os_spawn's result: the exit status, -1 when the program could not be
 * started, OS_SPAWN_WAIT_FAILED when its status was lost. */
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

#endif /* KVQ_KVDEBUG_H */
