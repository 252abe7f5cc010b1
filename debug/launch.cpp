/*
 * launch.cpp - runs another program and waits for it, under the command-line
 * debugger when the "debug" item names it.
 *
 * Under the debugger the program's argument vector is rearranged into
 *     <program> -s <script file> -- <program> <arguments from item 1 on>
 * and the debugger executable is started with it; the script stops at
 * db_assert and at main, sets gInDebugger in the debugged program, and runs.
 *
 * Invariants kept here:
 *  - Whether the debugger exists is tested at most once per process (and
 *    again only after the tests point the descriptor elsewhere), so its
 *    "not available" warning appears at most once.
 *  - The script file lives only while the debugger runs: it is removed before
 *    db_launch returns.
 */
#include "kvdebug.h"

#include <cstdio>
#include <cstdlib>

#include "hash.h"
#include "kvdebug_state.h"
#include "osdep.h"
#include "stringcache.h"
#include "trace.h"
#include "vector.h"

/* A command-line debugger: how to start a program under it with a script. */
struct db_debugger {
    const char *dbg_path;          /* the debugger executable */
    const char *dbg_separator;     /* placed before the debugged program */
    const char *dbg_script_option; /* names the command file */
    const char *dbg_script;        /* written to the command file as is */
};

/* dbg_path, dbg_separator, dbg_script_option, dbg_script.  Row 0 is the one
 * in force; the second row is kept for ports that ship only the other one. */
static constexpr db_debugger db_debuggers[] = {
    {"/usr/bin/lldb", "--", "-s",
     "break set --name db_assert\nbreak set --name main\nbreak command add 2\n"
     "expr gInDebugger=1\nDONE\nrun"},
    {"/usr/bin/gdb", "--args", "-x",
     "break db_assert\nbreak main\ncommands 2\nset gInDebugger=1\nend\nrun"},
};
static const db_debugger &db_debugger_in_force = db_debuggers[0];

enum db_availability { DB_DEBUGGER_UNKNOWN, DB_DEBUGGER_PRESENT, DB_DEBUGGER_MISSING };

static db_availability debugger_availability = DB_DEBUGGER_UNKNOWN;
static const char *debugger_path = db_debugger_in_force.dbg_path;

void db_set_debugger_path(const char *path)
{
    debugger_path = path ? str_save(path) : db_debugger_in_force.dbg_path;
    debugger_availability = DB_DEBUGGER_UNKNOWN;
}

static bool db_debugger_available(void)
{
    if (debugger_availability == DB_DEBUGGER_UNKNOWN) {
        bool present = os_exists(debugger_path);
        debugger_availability = present ? DB_DEBUGGER_PRESENT : DB_DEBUGGER_MISSING;
        if (!present) db_warning("Debugger \"%s\" is not available", debugger_path);
    }
    return debugger_availability == DB_DEBUGGER_PRESENT;
}

static int db_spawn(const char *path, vector *args)
{
    vec_append(args, NULL);
    return os_spawn(path, (char *const *)args->data);
}

/* A new command file holding the debugger script, as a cached path; NULL
 * when it cannot be written. */
static const char *db_write_script(void)
{
    char *tmp = os_temp_name(NULL);
    const char *script = str_save(tmp);
    free(tmp);
    DB_ASSERT(script != NULL);
    if (!script) return NULL;
    FILE *f = fopen(script, "w");
    DB_ASSERT(f != NULL);
    if (!f) return NULL;
    fputs(db_debugger_in_force.dbg_script, f);
    fclose(f);
    return script;
}

/* Runs the program under the debugger.  Without a script file (the
 * temporary directory is unusable) the program runs plainly instead, so the
 * build goes on. */
static int db_spawn_debugger(const char *path, vector *args)
{
    const char *script = db_write_script();
    if (!script) return db_spawn(path, args);
    const char *program = str_save(path);
    vec_insert(args, program, 0);
    vec_insert(args, db_debugger_in_force.dbg_separator, 1);
    vec_set(args, program, 2);
    vec_insert(args, script, 1);
    vec_insert(args, db_debugger_in_force.dbg_script_option, 1);
    int status = db_spawn(debugger_path, args);
    remove(script);
    return status;
}

/* True when the program `path` is to run under the debugger. */
static bool db_wants_debugger(const char *path, bool force)
{
    if (!gDebugSet && !force) return false;
    const char *name = str_strip_ext(str_basename(path));
    if (!db_debugger_available()) return false;
    return force || hash_haskey(gDebugSet, name);
}

int db_launch(const char *path, vector *args, bool force)
{
    DB_ASSERT(path != NULL);
    vector *own = args ? NULL : VEC_NEW();
    if (own) args = own;
    int status = db_wants_debugger(path, force) ? db_spawn_debugger(path, args) : db_spawn(path, args);
    vec_free(own);
    return status;
}
