/*
 * kvdebug.cpp - the "--kvdebug=" option: debug state, option table, parser,
 * the regenerated option handed to launched programs and the end-of-run
 * step.
 *
 * Invariants kept here:
 *  - Only the first "--kvdebug" argument of a process (or since
 *    db_reset_options) changes the state.
 *  - Once the parse is over, a non-zero gDebugFlags means a debug-out file is
 *    open (or alert 141 has ended the run).
 *  - The option table's row order decides both which row an item selects
 *    (first prefix match) and the order of items in a generated option.
 *  - Option problems are KVDEBUG warnings: the item is skipped, the rest of
 *    the state stays as it was.
 */
#include "kvdebug.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alert.h"
#include "alloc.h"
#include "hash.h"
#include "kvdebug_state.h"
#include "osdep.h"
#include "stringcache.h"
#include "tally_table.h"
#include "trace.h"
#include "vector.h"

const char *gFilePath = NULL;
volatile int gInDebugger = 0;
const char *gZipPath = NULL;
hash_table *gDebugSet = NULL;

/* Pattern of debug-out file names chosen by this program; %u is the run
 * number, which the "num" item of a calling program sets. */
static const char DB_OUT_PATTERN[] = "kvq-%u.out";
static const char DB_DEFAULT_ZIP[] = "kvq_package.zip";

/* Names and launch counter are small sets (a few program names per run):
 * 13 buckets keep them in separate chains without wasting memory. */
static const uint32_t DB_NAME_BUCKETS = 13;

static bool parsed_once = false;
static uint32_t run_number = 1;
static bool out_is_default = true;
static tally_table *launch_counter = NULL;
static const char *app_name = "kvq";

/* Indexed by gAssertLevel. */
static const char *const assert_level_names[] = {"ignore", "fatal", "error", "warning"};

/* ---- helpers -------------------------------------------------------------- */

/* Cached text of the cached strings in `pieces` joined by `sep`, built in one
 * pass; NULL for an empty vector. */
static const char *db_join(vector *pieces, char sep)
{
    uint32_t n = vec_size(pieces);
    if (n == 0) return NULL;
    size_t total = n;
    for (uint32_t i = 0; i < n; i++) total += strlen((const char *)vec_get(pieces, i));
    char *buf = (char *)alloc_zeroed((uint32_t)total);
    char *end = buf;
    for (uint32_t i = 0; i < n; i++) {
        const char *piece = (const char *)vec_get(pieces, i);
        size_t len = strlen(piece);
        memcpy(end, piece, len);
        end += len;
        *end++ = sep;
    }
    end[-1] = '\0';
    const char *joined = str_save(buf);
    free(buf);
    return joined;
}

/* Opens `path` as the debug-out file and records it.  Alert 141 (fatal) when
 * it cannot be opened; the previous file stays open until then. */
static void db_open_out(const char *path, const char *mode)
{
    gFilePath = str_save(path);
    /* Open while the back end runs, which must not inherit it. */
    FILE *f = os_fopen_noinherit(gFilePath, mode);
    if (!f) {
        alert_once(ALERT_CANT_OPEN_FILE, "debug-out", gFilePath);
        return;
    }
    if (gFile) fclose(gFile);
    gFile = f;
}

/* ---- handlers: each receives the text after the item's first ':' --------- */

static void db_out_handler(const char *arg)
{
    if (!arg || !*arg) {
        db_warning("option \"out\", must have a filename argument");
        return;
    }
    out_is_default = false;
    if (gFilePath) db_warning("debug-out file was set to \"%s\", resetting to \"%s\"", gFilePath, arg);
    const char *mode = "w";
    const char *path = arg;
    if (*arg == '+') {
        mode = "a";
        path = arg + 1;
    }
    /* The run number in force now names the file, whatever a later "num"
     * item says. */
    if (os_is_dir(path)) path = str_path_join(path, str_format(DB_OUT_PATTERN, run_number));
    db_open_out(path, mode);
}

static void db_zip_handler(const char *arg)
{
    if (gZipPath) {
        db_warning("Zip file already set to \"%s\", ignoring addtional zip options", gZipPath);
        return;
    }
    if (arg && *arg == '+') {
        gZipPath = str_save(arg + 1);
        return;
    }
    const char *path = arg && *arg ? arg : DB_DEFAULT_ZIP;
    if (os_exists(path)) {
        db_warning("Package zip \"%s\" already exists and will be over-written", path);
        if (remove(path) != 0) db_warning("Unable to remove \"%s\", it will be updated if possible", path);
    }
    gZipPath = str_save(path);
}

static void db_assert_handler(const char *arg)
{
    if (!arg || !*arg) {
        db_warning("option \"assert\", must have an argument");
        return;
    }
    const char *level = str_lower(arg);
    for (uint32_t i = 0; i < sizeof assert_level_names / sizeof *assert_level_names; i++) {
        if (strcmp(level, assert_level_names[i]) == 0) {
            gAssertLevel = i;
            return;
        }
    }
    db_warning("unknown argument (%s) given to assert option", level);
}

static void db_debug_handler(const char *arg)
{
    vector *names = arg ? str_split(arg, ":") : NULL;
    if (vec_size(names) == 0) {
        db_warning("option \"debug\", must have at least one argument");
    } else {
        if (!gDebugSet) gDebugSet = HASH_NEW(DB_NAME_BUCKETS, hash_string_nocase, hash_stricmp);
        const char *name;
        vec_for_each(names, name) HASH_INSERT(gDebugSet, name, name);
    }
    vec_free(names);
}

static void db_num_handler(const char *arg)
{
    if (!arg || !*arg) {
        db_warning("option \"num\", must have an argument");
        return;
    }
    /* atoi semantics (leading blanks, digits up to the first other byte, 0
     * for no number); values past INT_MAX are refused like non-numbers. */
    long value = strtol(arg, NULL, 10);
    if (value <= 0 || value > INT_MAX) {
        db_warning("\"num\" option must be a decimal integer > 0, using \"%u\"", run_number);
        return;
    }
    run_number = (uint32_t)value;
}

/* ---- generators: one item of a forwarded option, or NULL ------------------ */

static const char *db_gen_flag(db_caller, const char *, const db_option *opt)
{
    return (opt->dbo_flags & gDebugFlags) ? opt->dbo_name : NULL;
}

/* "+" makes the launched program append to the same file. */
static const char *db_gen_out(db_caller, const char *, const db_option *opt)
{
    return out_is_default ? NULL : str_format("%s:+%s", opt->dbo_name, gFilePath);
}

/* "+" makes the launched program extend the same archive. */
static const char *db_gen_zip(db_caller, const char *, const db_option *opt)
{
    return gZipPath ? str_format("%s:+%s", opt->dbo_name, gZipPath) : NULL;
}

static const char *db_gen_assert(db_caller, const char *, const db_option *opt)
{
    if (gAssertLevel == DB_ASSERT_IGNORE) return NULL;
    return str_format("%s:%s", opt->dbo_name, assert_level_names[gAssertLevel]);
}

/* True when `caller` launches the program `name` itself, so that it runs it
 * under the debugger and the name is not passed further down the chain. */
static bool db_caller_launches(db_caller caller, const char *name)
{
    switch (caller) {
    case DBC_KVQCC:
        return os_strnicmp(name, "kvq", 3) == 0 && name[3] != '-';
    case DBC_KVQ:
        return os_strnicmp(name, "torc", 4) == 0;
    case DBC_DRIVER:
        return false;
    }
    return false;
}

static const char *db_gen_debug(db_caller caller, const char *, const db_option *opt)
{
    if (!gDebugSet) return NULL;
    vector *names = hash_keys(gDebugSet);
    vector *pieces = VEC_NEW_SIZED(vec_size(names) + 1);
    vec_append(pieces, opt->dbo_name);
    const char *name;
    vec_for_each(names, name) {
        if (!db_caller_launches(caller, name)) vec_append(pieces, name);
    }
    const char *item = vec_size(pieces) > 1 ? db_join(pieces, ':') : NULL;
    vec_free(pieces);
    vec_free(names);
    return item;
}

/* Counts one more option generated for `callee` (found by its cached-string
 * identity) and forwards the count as the callee's run number. */
static const char *db_gen_num(db_caller, const char *callee, const db_option *opt)
{
    if (gDebugFlags == 0) return NULL;
    if (!launch_counter) launch_counter = tally_new(DB_NAME_BUCKETS, 1, hash_string_nocase, hash_stricmp);
    return str_format("%s:%u", opt->dbo_name, tally_add(launch_counter, callee));
}

/* dbo_flags, dbo_name, dbo_optHandler, dbo_optGenerator */
static constexpr db_option db_options[] = {
    {DB_FLAG_TRACE, "default", NULL, db_gen_flag},
    {DB_FLAG_TRACE, "on", NULL, db_gen_flag},
    {0, "out", db_out_handler, db_gen_out},
    {DB_FLAG_SDB, "sdb", NULL, db_gen_flag},
    {DB_FLAG_DWARF, "dwarf", NULL, db_gen_flag},
    {0, "zip", db_zip_handler, db_gen_zip},
    {DB_FLAG_ALERTS, "alerts", NULL, db_gen_flag},
    {0, "assert", db_assert_handler, db_gen_assert},
    {0, "debug", db_debug_handler, db_gen_debug},
    {DB_FLAG_ADT, "adt", NULL, db_gen_flag},
    {0, "num", db_num_handler, db_gen_num},
};

/* ---- parsing -------------------------------------------------------------- */

/* The first row whose name is a prefix of `item`, ignoring case; NULL when
 * none is. */
static const db_option *db_find_option(const char *item)
{
    for (const db_option &opt : db_options) {
        if (os_strnicmp(item, opt.dbo_name, strlen(opt.dbo_name)) == 0) return &opt;
    }
    return NULL;
}

static void db_parse_item(const char *item)
{
    const db_option *opt = db_find_option(item);
    if (!opt) {
        db_warning("unknown option \"%s\"", item);
        return;
    }
    gDebugFlags |= opt->dbo_flags;
    if (opt->dbo_optHandler) {
        const char *colon = strchr(item, ':');
        opt->dbo_optHandler(colon ? colon + 1 : NULL);
    }
}

void db_parse_options(const char *arg)
{
    if (parsed_once) {
        db_warning("Ignoring extra --kvdebug options");
        return;
    }
    parsed_once = true;
    const char *eq = strchr(arg, '=');
    vector *items = str_split(eq ? eq + 1 : arg, ",");
    const char *item;
    vec_for_each(items, item) db_parse_item(item);
    vec_free(items);
    if (gDebugFlags != 0 && !gFile) db_open_out(str_format(DB_OUT_PATTERN, run_number), "w");
    if (gDebugFlags & DB_FLAG_ADT) {
        hash_set_tracking(true);
        vec_set_tracking(true);
    }
}

void db_reset_options(void)
{
    if (gFile) fclose(gFile);
    gFile = NULL;
    gFilePath = gZipPath = NULL;
    gDebugSet = NULL;
    launch_counter = NULL;
    gDebugFlags = 0;
    gAssertLevel = DB_ASSERT_IGNORE;
    parsed_once = false;
    run_number = 1;
    out_is_default = true;
    hash_set_tracking(false);
    vec_set_tracking(false);
}

/* ---- forwarding ------------------------------------------------------------- */

const char *db_make_option(db_caller caller, const char *callee)
{
    DB_ASSERT(caller == DBC_KVQCC || caller == DBC_KVQ || caller == DBC_DRIVER);
    DB_ASSERT(callee != NULL);
    const char *name = str_save(callee);
    const uint32_t rows = sizeof db_options / sizeof *db_options;
    vector *items = VEC_NEW_SIZED(rows);
    for (const db_option &opt : db_options) {
        const char *item = opt.dbo_optGenerator(caller, name, &opt);
        if (item) vec_append(items, item);
    }
    const char *joined = db_join(items, ',');
    vec_free(items);
    return joined ? str_concat("--kvdebug=", joined) : NULL;
}

void db_set_app_name(const char *name)
{
    app_name = str_save(name);
}

/* A program whose debug-out file came from its caller ("out:+...") leaves
 * packaging that shared file to the outermost program, which is "kvq". */
void db_finish(void)
{
    if ((strcmp(app_name, "kvq") == 0 || out_is_default) && gFilePath) {
        DB_ASSERT(gFile != NULL);
        db_package_add(gFilePath, NULL);
    }
    if (gDebugFlags & DB_FLAG_ADT) {
        hash_master_list_dump();
        vec_master_list_dump();
    }
}
