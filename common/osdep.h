/*
 * osdep.h - the platform layer.
 *
 * Every difference between operating systems lives behind this header: path
 * separators, what makes a path absolute, temporary directories, starting a
 * child program, descriptor and case-insensitive string primitives, and the
 * compiler attributes the rest of the code uses.  osdep.cpp holds what follows
 * from the separator constants alone; one file per platform (osdep_posix.cpp,
 * osdep_win32.cpp) provides the rest.
 *
 * Invariants:
 *  - Operations here report failure by their result only (and errno); they
 *    never raise alerts.  Callers decide what the user is told.
 *  - Every `char *` result is a new heap string owned by the caller (free()).
 *  - `const char *` results point into the caller's own argument.
 *  - Single-threaded: the temporary-name state is unguarded process state.
 *
 * POSIX rules: the separator is '/', the only one searched for; a path is
 * absolute when it begins with '/'; backslash and colon are ordinary file-name
 * characters.  Text files read CR LF as LF (see os_read_text_piece).
 *
 * Windows rules: the backslash is the separator written and trimmed; where a
 * path is split, the last backslash wins, else the last slash, else the last
 * colon.  A path is absolute when its second character is ':' or it begins
 * with two backslashes.  Files are opened in the runtime's text mode, which
 * writes "\n" as CR LF, reads CR LF as "\n" and ends a text at Ctrl-Z.
 */
#ifndef KVQ_OSDEP_H
#define KVQ_OSDEP_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#ifdef NDEBUG
#error "kvq is never built with NDEBUG: its runtime assertions are part of its behaviour"
#endif

/* ---- compiler attributes --------------------------------------------- */

#if defined(__MINGW32__)
/* mingw-w64's C++ runtime formats with its own C99 printf, not msvcrt's. */
#define KVQ_PRINTF(fmt_index, args_index) __attribute__((format(gnu_printf, fmt_index, args_index)))
#define KVQ_NORETURN __attribute__((noreturn))
#elif defined(__GNUC__) || defined(__clang__)
#define KVQ_PRINTF(fmt_index, args_index) __attribute__((format(printf, fmt_index, args_index)))
#define KVQ_NORETURN __attribute__((noreturn))
#else
#define KVQ_PRINTF(fmt_index, args_index)
#define KVQ_NORETURN
#endif

/* Index of the lowest set bit of a non-zero word. */
inline uint32_t os_lowest_bit(uint32_t word)
{
#if defined(__GNUC__) || defined(__clang__)
    return (uint32_t)__builtin_ctz(word);
#else
    uint32_t i = 0;
    while (!(word & 1u)) word >>= 1, i++;
    return i;
#endif
}

/* ---- path separators --------------------------------------------------- */

/* The separator written when paths are joined, and how many characters the
 * root of an absolute path takes ("/"; "C:\\"), which archive names leave
 * out. */
#ifdef _WIN32
constexpr char OS_DIR_SEP = '\\';
constexpr const char *OS_DIR_SEP_STR = "\\";
constexpr size_t OS_ROOT_LEN = 3;
#else
constexpr char OS_DIR_SEP = '/';
constexpr const char *OS_DIR_SEP_STR = "/";
constexpr size_t OS_ROOT_LEN = 1;
#endif

/* True when c is the separator that joins paths (OS_DIR_SEP). */
inline bool os_is_dir_sep(char c) { return c == OS_DIR_SEP; }

/* The separator that splits `path` into directory and last component, found
 * by the platform's precedence (POSIX: the last '/'; Windows: the last '\\',
 * else the last '/', else the last ':').  NULL when there is none or `path`
 * is NULL. */
const char *os_last_sep(const char *path);

/* ---- temporary names ----------------------------------------------------- */

/* The program tag used in temporary names ("kvq"). */
constexpr const char *OS_PROGRAM_TAG = "kvq";

/* A new path in the process temporary directory, never returned before in this
 * process; nothing is created at it.  `ext` may be NULL (no extension) or start
 * with '.'; otherwise a '.' is put before it.  Names are "kvq_tmp_<n><ext>".
 *   1. The first call creates the directory: base = TEMP, else TMP, else
 *      TMPDIR ("." when the value found is empty or none is set), then
 *      base/kv<A..Z><unique>, each candidate made with mkdir 0700, which fails
 *      on any existing path; the next letter is tried on failure.
 *   2. The directory is registered for removal at exit (atexit) and on
 *      SIGINT, SIGTERM and SIGHUP (the handler removes it and re-raises).
 * Windows: base = TEMP, else TMP ("." when the value found is empty or
 * neither is set); base\kv<A..Z><last component of tmpnam()>, a candidate
 * that exists already being skipped, made with its parents by CreateDirectoryA;
 * removed at exit and on Ctrl-C, Ctrl-Break and the closing of the console
 * (a console control handler removes it and ends the process).
 * Returns NULL when no directory could be made; the next call tries again. */
char *os_temp_name(const char *ext);

/* The path of the temporary name numbered `number` in `dir`, with `ext` as
 * os_temp_name takes it: the naming rule behind os_temp_name. */
char *os_temp_path(const char *dir, uint32_t number, const char *ext);

/* The process temporary directory, or NULL before the first os_temp_name.
 * The string belongs to this layer. */
const char *os_temp_dir(void);

/* Exit handler: removes the registered temporary directories and their
 * contents.  Safe to call more than once. */
void os_temp_cleanup(void);

/* ---- directories ----------------------------------------------------------- */

/* Creates `path` and any missing parents (POSIX: mode 0700; Windows: a bare
 * drive "C:" counts as an existing parent).  0 on success; non-zero otherwise,
 * including when `path` already exists. */
int os_make_dirs(const char *path);

/* Removes the directory `path` with everything below it.  0 on success and when
 * the directory cannot be listed; -1 when `path` is not an existing directory;
 * else the first failing removal's result.  Symbolic links (Windows: also
 * junctions) are removed, never followed. */
int os_remove_tree(const char *path);

/* Calls fn(name, ctx) for each entry of the directory `dir` except "." and
 * "..", in the order the system lists them.  0 when the directory was
 * listed; -1 when it cannot be opened (or `dir` is NULL). */
typedef void (*os_dir_entry_fn)(const char *name, void *ctx);
int os_list_dir(const char *dir, os_dir_entry_fn fn, void *ctx);

/* ---- path pieces ------------------------------------------------------------ */

/* Heap copy of the first n bytes of s, terminated. */
char *os_copy_n(const char *s, size_t n);

/* dir and name joined with exactly one separator at the seam (a separator
 * ending dir or one leading name is reused).  NULL when dir is NULL or empty. */
char *os_path_join(const char *dir, const char *name);

/* True for an absolute path (POSIX: a leading '/'; Windows: ':' second, or
 * two leading backslashes); false for NULL. */
bool os_is_absolute(const char *path);

/* Pointer into `path` just after its last separator; `path` itself when there
 * is none; NULL for NULL. */
const char *os_basename(const char *path);

/* Heap copy of os_basename(path); NULL for NULL. */
char *os_basename_copy(const char *path);

/* Heap copy of the last component up to and including its last '.'; the whole
 * last component when it holds no '.'.  `path` must not be NULL. */
char *os_basename_to_dot(const char *path);

/* Heap copy of `path` up to, not including, its last separator; NULL when
 * there is none or `path` is NULL.  "/x" gives "" (the root's text). */
char *os_dirname(const char *path);

/* stat succeeds (any kind of entry); false for NULL. */
bool os_exists(const char *path);

/* stat succeeds and names a directory; false for NULL. */
bool os_is_dir(const char *path);

/* The identity of the file `path` names (device and inode on POSIX; volume
 * serial number and file index on Windows), so that two names of one file
 * compare equal.  False when it cannot be read. */
struct os_file_identity {
    uint64_t dev;
    uint64_t ino;
};
bool os_file_id(const char *path, os_file_identity *id);

/* The size in bytes of the file `path` names (64 bits on every platform);
 * false when it cannot be read. */
bool os_file_size(const char *path, uint64_t *size);

/* Heap copy of the current directory; "" when it cannot be read. */
char *os_getcwd(void);

/* Heap copy of the running program's resolved path (symbolic links resolved),
 * or NULL when it cannot be found.  os_set_argv0 supplies the fallback used
 * when /proc/self/exe cannot be read.  Windows: the runtime's _pgmptr, a
 * drive-letter path; os_set_argv0 is not needed there. */
char *os_program_path(void);
void os_set_argv0(const char *argv0);

/* ---- processes ------------------------------------------------------------------ */

/* The longest joined command line passed directly to a child (7191). */
constexpr uint32_t OS_CMDLINE_MAX = 7191;
uint32_t os_cmdline_max(void);

/* Runs `path` with the NULL-terminated `argv` (passed unchanged), waits for it.
 * Returns its exit code; 128+N when a signal N ended it; -1 with errno set when
 * it could not be started (ENOENT, EACCES, ENOEXEC, ...).  Standard streams are
 * inherited.  While the child runs, SIGINT/SIGTERM/SIGHUP reaching the driver
 * still clean up the temporary directory and end the driver by that signal.
 * Windows: _spawnv in wait mode, each argument holding white space put in
 * double quotes (quotes inside are not escaped), so that it reaches the child
 * as one argument; the result is _spawnv's: the exit code, or -1 when the
 * program cannot be started. */
int os_spawn(const char *path, char *const argv[]);

/* ---- memory ----------------------------------------------------------------------- */

/* The size of the system's large pages, and so the alignment of the blocks
 * os_alloc_large hands out. */
constexpr size_t OS_LARGE_PAGE = 2u << 20;

/* A zero-filled block of `size` bytes (a multiple of OS_LARGE_PAGE) straight
 * from the system, aligned to
 * OS_LARGE_PAGE and marked so that the system may back it with large pages:
 * a big table touched at random then costs a page fault per 2 MiB instead of
 * one per 4 KiB.  NULL (errno set) when the system refuses.  Only
 * os_free_large, with the same size, releases it. */
void *os_alloc_large(size_t size);
void os_free_large(void *block, size_t size);

/* ---- sorting ---------------------------------------------------------------------- */

/* In-place, unstable quicksort with a fixed order of work (so the order of
 * equal elements is reproducible: two equal elements are exchanged, three are
 * reversed).  assert(vbase) when n > 1. */
void os_qsort(void *vbase, size_t n, size_t size, int (*cmp)(const void *, const void *));

/* ---- runtime primitives ------------------------------------------------------------ */

int os_dup(int fd);
int os_dup2(int fd, int fd2);
int os_fileno(FILE *stream);
bool os_isatty(int fd);

/* Case-insensitive comparisons in the C locale. */
int os_stricmp(const char *a, const char *b);
int os_strnicmp(const char *a, const char *b, size_t n);

/* Text-mode line reading: like fgets (at most size-1 bytes, stops after a line
 * feed, terminated), except that CR LF reads as LF, as text mode does on
 * Windows; a lone CR stays.  Returns the number of bytes stored, 0 at end of
 * file with nothing read.  `size` must be at least 2.  Windows: `stream` is
 * in text mode, whose reading does this (and ends at Ctrl-Z). */
size_t os_read_text_piece(char *buf, size_t size, FILE *stream);

#endif /* KVQ_OSDEP_H */
