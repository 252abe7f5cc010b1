/*
 * kvq.cpp - the compiler driver: option scan, choice of back end, its run
 * through a command file, and the error-file redirection of standard error.
 *
 * Every argument is sorted, in one left-to-right pass over the option table,
 * into consumed (it only changes kvq_cfg), forwarded unchanged, or forwarded
 * translated.  Item 0 of the driver's own back-end option list is a slot
 * for the program path, filled in when the back end runs, so a huge list is
 * never copied just to put the path in front; run_backend, which leaves its
 * caller's list alone, runs a copy with such a slot.
 *
 * Invariant on standard error: while the driver works, descriptor 2 points at
 * the error file (or at standard output when there is none); while a back end
 * runs it points at the standard error the process started with, a duplicate
 * of which is kept in saved_stderr.  The error file is truncated at most once
 * per process: every opening after the first appends.
 */
#include "kvq.h"

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alert.h"
#include "alloc.h"
#include "cmdline.h"
#include "kvdebug.h"
#include "osdep.h"
#include "registry.h"
#include "stringcache.h"
#include "trace.h"
#include "vector.h"
#include "werror.h"

kvq_settings kvq_cfg = {
    "torc",  /* backend_base */
    "",      /* backend_suffix */
    false,   /* chip_given */
    1,       /* echo_level */
    false,   /* two_run */
    false,   /* silent_run */
    NULL,    /* error_file */
    false,   /* error_append */
    NULL,    /* cmdfile_arg */
    false,   /* summarydir_pending */
    0,       /* selected_ext */
};

/* ---- C language extensions ---------------------------------------------- */

struct kvq_extension {
    uint32_t id;              /* never 0 except in the end row */
    const char *name;
    const char *options[2];   /* NULL-terminated */
};

static constexpr kvq_extension kvq_extensions[] = {
    /* id  name   options added to the back end */
    {1, "KVQ", {NULL}},
    {2, "ADX", {"--ccmode=adx", NULL}},
    {3, "WEL", {"--ccmode=wel", NULL}},
    {0, NULL, {NULL}},
};

static const kvq_extension *extension_row(int id)
{
    for (const kvq_extension *row = kvq_extensions; row->id != 0; row++) {
        if ((int)row->id == id) return row;
    }
    return NULL;
}

void apply_extension(const char *name, vector *options)
{
    const kvq_extension *row = kvq_extensions;
    while (row->id != 0 && os_stricmp(row->name, name) != 0) row++;
    if (row->id == 0) alert_fatal(ALERT_UNKNOWN_EXT, name);

    if (kvq_cfg.selected_ext == (int)row->id) return;
    if (kvq_cfg.selected_ext != 0) {
        alert_fatal(ALERT_RESPECIFIED_EXT, extension_row(kvq_cfg.selected_ext)->name, row->name);
    }
    kvq_cfg.selected_ext = (int)row->id;
    for (const char *const *opt = row->options; *opt; opt++) vec_append(options, str_save(*opt));
}

/* ---- the option scan ----------------------------------------------------- */

/* What the scan works on besides kvq_cfg.  The options are written over the
 * argument list they come from: each argument gives at most one, so the one
 * kept from argument i lands at an index <= i, and a huge list is never held
 * twice. */
struct kvq_scan {
    vector *options;     /* the arguments; the options kept are items 0..kept-1 */
    uint32_t kept;
    uint32_t next;       /* the argument being scanned */
    vector *extensions;  /* extension names asked for, in order */
};

/* Keeps `option` for the back end, over an argument already scanned. */
static void keep(kvq_scan *scan, const char *option)
{
    assert(scan->kept <= scan->next);
    scan->options->data[scan->kept++] = (void *)option;
}

enum opt_test {
    OPT_PREFIX,         /* A begins with the literal */
    OPT_PREFIX_NOCASE,  /* the same, ignoring case */
    OPT_EQUAL,          /* A is the literal */
    OPT_EQUAL_NOCASE,   /* the same, ignoring case */
    OPT_PENDING,        /* a "--memorysummary" waits for its directory */
    OPT_ANY,
};

/* Row flags.  A matching row without OPT_GO_ON ends the work on A and, unless
 * it has OPT_KEEP_PENDING, cancels a pending "--memorysummary" before its
 * effect runs. */
enum : uint32_t {
    OPT_GO_ON = 1,
    OPT_KEEP_PENDING = 2,
};

typedef void (*opt_effect)(const char *arg, kvq_scan *scan);

struct kvq_option_row {
    opt_test test;
    const char *literal;
    opt_effect effect;
    uint32_t flags;
    uint32_t len;     /* strlen(literal); 0 without one */
    char key[2];      /* literal[opt_key_at(len)] in lower and upper case
                         (as it is, twice, for the case-sensitive tests) */
};

/* The byte of an argument that decides which rows are worth comparing: the
 * third, past the "--" that most literals and most arguments share, or the
 * last of a shorter literal.  Any argument a row can match is at least as
 * long as its literal, so it has the row's key byte. */
static constexpr uint32_t opt_key_at(uint32_t len) { return len < 3 ? len - 1 : 2; }

static constexpr char opt_lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }
static constexpr char opt_upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

/* A table row with its length and key filled in. */
static constexpr kvq_option_row opt_row(opt_test test, const char *literal, opt_effect effect, uint32_t flags)
{
    uint32_t len = 0;
    while (literal && literal[len]) len++;
    kvq_option_row row = {test, literal, effect, flags, len, {0, 0}};
    if (len == 0) return row;
    char c = literal[opt_key_at(len)];
    bool nocase = test == OPT_PREFIX_NOCASE || test == OPT_EQUAL_NOCASE;
    row.key[0] = nocase ? opt_lower(c) : c;
    row.key[1] = nocase ? opt_upper(c) : c;
    return row;
}

static void forward(const char *arg, kvq_scan *scan) { keep(scan, arg); }
static void drop(const char *, kvq_scan *) {}

static void app_name_kvqcc(const char *, kvq_scan *) { db_set_app_name("kvq-cc"); }

static void chip_18(const char *, kvq_scan *)
{
    kvq_cfg.chip_given = true;
    kvq_cfg.backend_base = "torc18";
}

static void pending_check(const char *arg, kvq_scan *) { kvq_cfg.summarydir_pending = arg[0] != '-'; }

static void summary_dir(const char *arg, kvq_scan *scan)
{
    keep(scan, str_format("--summarydir=%s", arg));
}

static void two_run(const char *, kvq_scan *) { kvq_cfg.two_run = true; }
static void bins_debug(const char *, kvq_scan *) { kvq_cfg.backend_suffix = "d"; }
static void bins_release(const char *, kvq_scan *) { kvq_cfg.backend_suffix = ""; }

static void chip_any(const char *arg, kvq_scan *scan)
{
    kvq_cfg.chip_given = true;
    forward(arg, scan);
}

static void echo_up(const char *arg, kvq_scan *scan)
{
    kvq_cfg.echo_level++;
    forward(arg, scan);
}

static void echo_off(const char *arg, kvq_scan *scan)
{
    kvq_cfg.echo_level = 0;
    forward(arg, scan);
}

static void memory_summary(const char *, kvq_scan *scan)
{
    keep(scan, "--summary=+xml");
    kvq_cfg.summarydir_pending = true;
}

static void ext_adx(const char *, kvq_scan *scan) { vec_append(scan->extensions, "adx"); }

static void ext_named(const char *arg, kvq_scan *scan)
{
    vec_append(scan->extensions, str_save(arg + strlen("--ext=")));
}

static void c_std(const char *arg, kvq_scan *scan)
{
    reg_set_c_stdlib(arg + strlen("--std="));
    forward(arg, scan);
}

static void command_file(const char *arg, kvq_scan *scan)
{
    kvq_cfg.cmdfile_arg = arg + 1;
    forward(arg, scan);
}

/* "-E" forms: "-E" and "-E+" name no file and forward "-E"; "-E+N" appends to
 * N and is forwarded as it is; "-EN" makes the driver truncate N itself and
 * tells the back end to append ("-E+N"). */
static void error_file(const char *arg, kvq_scan *scan)
{
    const char *s = arg + 2;
    if (s[0] == '\0' || strcmp(s, "+") == 0) {
        kvq_cfg.error_file = NULL;
        forward("-E", scan);
    } else if (s[0] == '+') {
        kvq_cfg.error_file = str_save(s + 1);
        kvq_cfg.error_append = true;
        forward(arg, scan);
    } else {
        kvq_cfg.error_file = str_save(s);
        forward(str_concat("-E+", s), scan);
    }
}

/* Warning-as-error options are recorded here and forwarded when the record
 * says so; everything else is forwarded. */
static void other(const char *arg, kvq_scan *scan)
{
    if (!werr_isOption(arg) || werr_parseOption(arg, true)) forward(arg, scan);
}

static constexpr kvq_option_row kvq_options[] = {
    /*      test                 literal            effect          flags */
    opt_row(OPT_PREFIX,          "--kvdebug=",      drop,           OPT_KEEP_PENDING),
    opt_row(OPT_EQUAL,           "--kvqcc",         app_name_kvqcc, OPT_GO_ON),
    opt_row(OPT_PREFIX_NOCASE,   "--chip=18",       chip_18,        OPT_GO_ON),
    opt_row(OPT_PENDING,         NULL,              pending_check,  OPT_GO_ON),
    opt_row(OPT_PENDING,         NULL,              summary_dir,    0),
    opt_row(OPT_PREFIX_NOCASE,   "--mafrlcsj",      two_run,        0),
    opt_row(OPT_PREFIX_NOCASE,   "--bins=debug",    bins_debug,     0),
    opt_row(OPT_PREFIX_NOCASE,   "--bins=release",  bins_release,   0),
    opt_row(OPT_PREFIX_NOCASE,   "--chip=",         chip_any,       0),
    opt_row(OPT_EQUAL_NOCASE,    "-v",              echo_up,        0),
    opt_row(OPT_EQUAL_NOCASE,    "-q",              echo_off,       0),
    opt_row(OPT_EQUAL_NOCASE,    "--ver",           echo_off,       0),
    opt_row(OPT_EQUAL_NOCASE,    "--memorysummary", memory_summary, 0),
    opt_row(OPT_EQUAL_NOCASE,    "--adx",           ext_adx,        0),
    opt_row(OPT_PREFIX_NOCASE,   "--ext=",          ext_named,      0),
    opt_row(OPT_PREFIX_NOCASE,   "--std=",          c_std,          0),
    opt_row(OPT_PREFIX,          "@",               command_file,   0),
    opt_row(OPT_PREFIX_NOCASE,   "-E",              error_file,     0),
    opt_row(OPT_ANY,             NULL,              other,          0),
};

constexpr uint32_t OPT_ROWS = sizeof kvq_options / sizeof kvq_options[0];
static_assert(OPT_ROWS <= 32, "a row set is one bit per row");

/* The rows an argument may match, as bit sets of row indexes: the rows whose
 * key is byte b at key position k, and the rows without a literal, which are
 * always tried.  One look-up per key position replaces a test per row. */
struct opt_row_sets {
    uint32_t by_key[3][256];
    uint32_t always;
};

static constexpr opt_row_sets opt_make_row_sets(void)
{
    opt_row_sets sets = {};
    for (uint32_t i = 0; i < OPT_ROWS; i++) {
        const kvq_option_row &row = kvq_options[i];
        if (row.len == 0) {
            sets.always |= 1u << i;
            continue;
        }
        uint32_t *at = sets.by_key[opt_key_at(row.len)];
        at[(unsigned char)row.key[0]] |= 1u << i;
        at[(unsigned char)row.key[1]] |= 1u << i;
    }
    return sets;
}

static constexpr opt_row_sets OPT_ROW_SETS = opt_make_row_sets();

/* The rows worth testing against `arg` of length `len`: those whose key the
 * argument has in the key's position. */
static uint32_t opt_candidates(const char *arg, size_t len)
{
    const unsigned char *u = (const unsigned char *)arg;
    uint32_t rows = OPT_ROW_SETS.always | OPT_ROW_SETS.by_key[0][u[0]];
    if (len > 1) rows |= OPT_ROW_SETS.by_key[1][u[1]];
    if (len > 2) rows |= OPT_ROW_SETS.by_key[2][u[2]];
    return rows;
}

/* Whether `arg` (of length `len`, its key already matched) passes row's
 * test. */
static bool option_matches(const kvq_option_row *row, const char *arg, size_t len)
{
    switch (row->test) {
    case OPT_PENDING: return kvq_cfg.summarydir_pending;
    case OPT_ANY: return true;
    case OPT_PREFIX: return len >= row->len && memcmp(arg, row->literal, row->len) == 0;
    case OPT_EQUAL: return len == row->len && memcmp(arg, row->literal, row->len) == 0;
    case OPT_PREFIX_NOCASE: return len >= row->len && os_strnicmp(arg, row->literal, row->len) == 0;
    case OPT_EQUAL_NOCASE: return len == row->len && os_strnicmp(arg, row->literal, row->len) == 0;
    }
    return false;
}

static void scan_option(const char *arg, kvq_scan *scan)
{
    size_t len = strlen(arg);
    for (uint32_t rows = opt_candidates(arg, len); rows != 0; rows &= rows - 1) {
        const kvq_option_row &row = kvq_options[os_lowest_bit(rows)];
        if (!option_matches(&row, arg, len)) continue;
        if (!(row.flags & (OPT_GO_ON | OPT_KEEP_PENDING))) kvq_cfg.summarydir_pending = false;
        row.effect(arg, scan);
        if (!(row.flags & OPT_GO_ON)) return;
    }
}

/* An "@" file the intake could not expand may still be readable here; its
 * first line naming a chip decides the back end. */
static void chip_from_command_file(const char *path)
{
    FILE *f = fopen(path, "r");
    if (!f) return;
    const char *line;
    while ((line = str_read_line(f)) != NULL) {
        line = str_lower(line);
        if (strstr(line, "--chip=18")) {
            kvq_cfg.backend_base = "torc18";
            break;
        }
        if (strstr(line, "--chip=")) {
            kvq_cfg.backend_base = "torc";
            break;
        }
    }
    fclose(f);
}

static bool run_in_slot(const char *name, vector *args);

/* Two-run mode: a silent first run that leaves its summary in a temporary
 * file T, whose name the second run gets as "--summarycmp=T".  Without a
 * temporary name the run stops (alert 2082).  `options` starts with the
 * path slot. */
static void first_of_two_runs(const char *program, vector *options)
{
    char *name = os_temp_name(NULL);
    if (!name) alert_fatal(ALERT_CANT_CREATE_TEMP);
    const char *summary = str_save(name);
    free(name);

    vector *first = VEC_COPY(options);
    vec_append(first, "--mafrlcsj");
    vec_append(first, "-q");
    vec_append(first, str_format("-E%s", summary));

    kvq_cfg.silent_run = true;
    run_in_slot(program, first);
    kvq_cfg.silent_run = false;
    vec_free(first);
    vec_append(options, str_format("--summarycmp=%s", summary));
}

int kvq_main(int argc, char **argv)
{
    alert_install_hooks();
    os_process_init();
    /* Line buffering, set before the first output as setvbuf must be; the
     * size is what the driver has always asked for (with no buffer of the
     * caller's, the runtime may pick its own). */
    int failed = setvbuf(stdout, NULL, _IOLBF, 512) | setvbuf(stderr, NULL, _IOLBF, 512);
    assert(failed == 0); /* fails only for an invalid mode or size */
    if (argc > 0) os_set_argv0(argv[0]);
    alert_set_exit_hook(cleanup);

    kvq_scan scan = {cmdline_args(argc, argv), 0, 0, VEC_NEW()};
    reg_set_c_stdlib("c90");
    for (uint32_t size = vec_size(scan.options); scan.next < size; scan.next++)
        scan_option((const char *)vec_get(scan.options, scan.next), &scan);
    vec_truncate(scan.options, scan.kept);
    vec_insert(scan.options, "", 0);

    redirect_stderr();
    const char *ext = NULL;
    vec_for_each(scan.extensions, ext) apply_extension(ext, scan.options);
    if (!kvq_cfg.chip_given && kvq_cfg.cmdfile_arg) chip_from_command_file(kvq_cfg.cmdfile_arg);
    if (kvq_cfg.selected_ext == 0) apply_extension("KVQ", scan.options);
    if (const char *debug_option = db_make_option(DBC_KVQ, "driver")) {
        vec_insert(scan.options, debug_option, 1);
    }

    const char *program = str_concat(kvq_cfg.backend_base, kvq_cfg.backend_suffix);
    if (kvq_cfg.two_run) first_of_two_runs(program, scan.options);
    bool ok = run_in_slot(program, scan.options);
    db_finish();

    vec_free(scan.options);
    vec_free(scan.extensions);
    return ok ? 0 : 1;
}

/* ---- standard error and the back end -------------------------------------- */

static int error_fd = -1;      /* the error file while descriptor 2 points at it; -1: none */
static int saved_stderr = -1;  /* private duplicate of the initial standard error; -1: none */

/* The error file is opened for appending (os_open_append), so that kvq
 * processes sharing one under make -j lose none of each other's lines;
 * "-Efile" empties it at its first opening only. */
void redirect_stderr(void)
{
    const char *file = kvq_cfg.error_file;
    if (error_fd < 0 && file) {
        error_fd = os_open_append(file, !kvq_cfg.error_append);
        if (error_fd >= 0) kvq_cfg.error_append = true;
        else alert(ALERT_CANT_OPEN_FILE, "error", file);
    }
    /* Without a copy of the initial standard error the back end could not
     * get it back, so standard error is then left where it is. */
    if (saved_stderr < 0) saved_stderr = os_dup_private(2);
    if (saved_stderr < 0 || os_dup2(error_fd >= 0 ? error_fd : 1, 2) < 0) alert(ALERT_CANT_REDIRECT_STDERR);
}

/* run_backend on `args`, whose item 0 is a slot that receives the path. */
static bool run_in_slot(const char *name, vector *args)
{
    const char *path = reg_mkpath(REG_BIN, name);
    if (!path) {
        alert(ALERT_EXEC_FAILED, name, "installation not recognised");
        return false;
    }

    vec_set(args, path, 0);
    if (saved_stderr >= 0 && os_dup2(saved_stderr, 2) < 0) alert(ALERT_CANT_REDIRECT_STDERR);
    if (error_fd >= 0) {
        (void)os_close(error_fd); /* nothing is buffered: a failed close loses nothing */
        error_fd = -1;
    }
    int status = kvq_spawn(args, true);
    int spawn_errno = errno;
    redirect_stderr();

    if (status == 0) return true;
    errno = spawn_errno;
    if (status == -1) alert(ALERT_EXEC_FAILED, path, strerror(spawn_errno));
    else if (status == OS_SPAWN_WAIT_FAILED) alert(ALERT_WAIT_FAILED, path);
    else alert(ALERT_EXIT_STATUS, status);
    return false;
}

bool run_backend(const char *name, vector *options)
{
    vector *args = VEC_COPY(options);
    vec_insert(args, "", 0);
    bool ok = run_in_slot(name, args);
    vec_free(args);
    return ok;
}

/* The characters that put a command-file line in double quotes. */
static const char CMDFILE_QUOTED[] = " \t\n\r";

const char *kvq_cmdfile_line(const char *option)
{
    const char *line = str_escape(option, "\"", '\\');
    if (strpbrk(line, CMDFILE_QUOTED)) line = str_quote(line, '"');
    return line;
}

/* The characters that make a command-file line differ from its option: a
 * double quote (escaped) and those of CMDFILE_QUOTED. */
static const char CMDFILE_CHANGED[] = "\" \t\n\r";

/* The length of the options after item 0 of `args` joined with single
 * blanks (0 when there are none). */
static size_t joined_length(vector *args)
{
    size_t total = 0;
    for (uint32_t i = 1; i < vec_size(args); i++) total += strlen((const char *)vec_get(args, i)) + 1;
    return total ? total - 1 : 0;
}

/* The options after item 0 of `args` joined with single blanks, exactly as
 * repeated "%s %s" joining would give, in one buffer of the `length` that
 * joined_length gave, so that a million options cost linear time.  NULL when
 * there are none; the caller frees the result. */
static char *join_options(vector *args, size_t length)
{
    uint32_t count = vec_size(args);
    if (count < 2) return NULL;
    if (length >= UINT32_MAX) alloc_out_of_memory();

    char *joined = (char *)alloc_zeroed((uint32_t)length + 1);
    char *end = joined;
    for (uint32_t i = 1; i < count; i++) {
        const char *item = (const char *)vec_get(args, i);
        size_t len = strlen(item);
        if (i > 1) *end++ = ' ';
        memcpy(end, item, len);
        end += len;
    }
    return joined;
}

/* Writes every option after item 0 of `args` into the command file `path`;
 * false (errno set) when it cannot be created or written completely. */
static bool write_command_file(const char *path, vector *args)
{
    FILE *f = fopen(path, "w");
    if (!f) return false;
    /* 64 KiB writes a million options in a few hundred calls, not in
     * thousands of 4 KiB ones. */
    static char buffer[64 * 1024];
    int failed = setvbuf(f, buffer, _IOFBF, sizeof buffer);
    assert(failed == 0); /* fails only for an invalid mode or size */
    for (uint32_t i = 1; i < vec_size(args); i++) {
        /* Most options are written as they are: leaving the string cache out
         * for them keeps huge command files cheap. */
        const char *line = (const char *)vec_get(args, i);
        size_t len = strcspn(line, CMDFILE_CHANGED);
        if (line[len] != '\0') {
            line = kvq_cmdfile_line(line);
            len = strlen(line);
        }
        DB_TRACEF("Writing option to command file: %s", line);
        fwrite(line, 1, len, f);
        putc('\n', f);
    }
    bool written = !ferror(f);
    return fclose(f) == 0 && written;
}

/* A new command-file path in the process temporary directory (cached);
 * without one the run stops (alert 2082). */
static const char *command_file_name(void)
{
    char *name = os_temp_name(".cmd");
    if (!name) alert_fatal(ALERT_CANT_CREATE_TEMP);
    const char *path = str_save(name);
    free(name);
    DB_TRACEF("Command file name: \"%s\"", path);
    return path;
}

int kvq_spawn(vector *args, bool force)
{
    DB_ENTER("kvq_spawn");
    if (force) DB_TRACEF("Forced use of command file");
    const char *path = (const char *)vec_get(args, 0);
    size_t options_length = joined_length(args);
    size_t length = strlen(path) + (vec_size(args) > 1 ? 1 + options_length : 0);
    bool use_file = force;
    if (length > os_cmdline_max()) {
        DB_TRACEF("Command line length is too long for OS (%u), using command file", (unsigned)length);
        use_file = true;
    }

    /* The joined options are only ever shown: a quiet run does not build them. */
    bool echo = !kvq_cfg.silent_run && kvq_cfg.echo_level != 0;
    char *joined = echo || (gDebugFlags & DB_FLAG_TRACE) ? join_options(args, options_length) : NULL;
    const char *shown = joined ? joined : "";
    vector *child = args;
    if (use_file) {
        const char *cmdfile = command_file_name();
        if (!write_command_file(cmdfile, args)) {
            int create_errno = errno;
            free(joined);
            DB_EXITF("kvq_spawn", "Could not create command file \"%s\"", cmdfile);
            errno = create_errno;
            return -1;
        }
        const char *at_arg = str_format("@%s", cmdfile);
        child = VEC_NEW();
        vec_append(child, path);
        vec_append(child, at_arg);
        if (echo) printf("%s %s [ %s ]\n", path, at_arg, shown);
        DB_TRACEF("Executing: %s %s [ %s ]", path, at_arg, shown);
    } else {
        if (echo) printf("%s %s\n", path, shown);
        DB_TRACEF("Executing: %s %s", path, shown);
    }
    free(joined);
    /* A reader of the echo that has gone away is no reason not to build:
     * the failed write is left at that. */
    fflush(stdout);
    fflush(stderr);

    int status = db_launch(path, child, false);
    int launch_errno = errno;
    if (child != args) vec_free(child);
    DB_EXITF("kvq_spawn", "Execution returned %d", status);
    errno = launch_errno;
    return status;
}

void cleanup(int)
{
    DB_ENTER("cleanup");
    db_finish();
}
