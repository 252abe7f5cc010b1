/*
 * osdep.h - the platform layer.
 *
 * Every difference between operating systems lives behind this header and
 * its compile-time part, osdep_defs.h (path separators and the compiler
 * attributes): what makes a path absolute, temporary directories, starting a
 * child program, descriptor and case-insensitive string primitives.
 * osdep.cpp holds what follows from the separator constants alone; one file
 * per platform (osdep_posix.cpp, osdep_win32.cpp) provides the rest.  The
 * layer uses only the C library, the system and the trace core (trace.h),
 * which reports running out of memory.
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

#include "osdep_defs.h"

/* ---- temporary names ----------------------------------------------------- */

/* The program tag used in temporary names ("kvq"). */
constexpr const char *OS_PROGRAM_TAG = "kvq";

/* A new path in the process temporary directory, never returned before in this
 * process; nothing is created at it.  `ext` may be NULL (no extension) or start
 * with '.'; otherwise a '.' is put before it.  Names are "kvq_tmp_<n><ext>".
 *   1. The first call creates the directory: base = TEMP; when TEMP is
 *      unset, TMP ("." when the value found is empty); when both are unset,
 *      TMPDIR unless it is empty; else "/tmp" (POSIX; the current directory
 *      is never taken by default).  Then base/kv<A..Z><unique>, each
 *      candidate made with mkdir 0700, which fails on any existing path; the
 *      next letter is tried on failure.
 *   2. The directory is registered for removal at exit (atexit) and on
 *      SIGINT, SIGTERM, SIGHUP and SIGQUIT (the handler removes it and
 *      re-raises); the handler is in place, and those signals blocked,
 *      before the directory exists, so no signal can orphan it.
 * Windows: base = TEMP, else TMP ("." when the value found is empty or
 * neither is set); base\kv<A..Z><last component of tmpnam()>, a candidate
 * that exists already being skipped, made with its parents by CreateDirectoryA.
 * It is removed at exit and on Ctrl-C, Ctrl-Break and the closing of the
 * console by a console control handler (installed by os_process_init, else
 * here before the directory exists), which removes it and ends the process;
 * the handler runs on a thread of its own and waits while the directory is
 * being made.
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

/* What identifies an open file, so that two names of one file compare equal
 * (device and inode on POSIX; volume serial number and file index on
 * Windows), and whether it is a directory. */
struct os_file_identity {
    uint64_t dev;
    uint64_t ino;
    bool is_dir;
};

/* The identity of the file `stream` is open on, read from the open file
 * itself (POSIX: fstat; Windows: GetFileInformationByHandle on the stream's
 * handle), never from a name that may mean another file by now.  False when
 * it cannot be read. */
bool os_stream_id(FILE *stream, os_file_identity *id);

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

/* Prepares a driver process for running children; called once, first thing
 * in main, before any output:
 *   0. Standard input, output and error that are closed are opened on the
 *      null device, so that no file the driver opens later takes one of their
 *      descriptors (and is handed to a child as one).  When the null device
 *      cannot be opened they stay closed.
 *   1. The child's end is always observable: POSIX gives SIGCHLD its default
 *      action, since a parent that ignores it (some supervisors and CI
 *      runners do) makes the system reap children and lose their status.
 *   2. Output to a reader that has gone fails instead of ending the process:
 *      POSIX ignores SIGPIPE, so such a write fails with EPIPE.
 * Children started by os_spawn do not inherit either change.
 * Windows: step 0 points each standard handle that is missing at "NUL"
 * (descriptor and Win32 standard handle alike); steps 1 and 2 have nothing
 * to do there (a child's status stays with its process handle, and a write
 * to a closed pipe fails without ending the writer).  Instead the console
 * control handler of os_temp_name is installed here, so that it is in place
 * before any temporary directory exists. */
void os_process_init(void);

/* The longest joined command line passed directly to a child (7191). */
constexpr uint32_t OS_CMDLINE_MAX = 7191;
uint32_t os_cmdline_max(void);

/* os_spawn's result when the child started but its status could not be
 * obtained (errno set): not a failure to start.  Windows: _spawnv in wait
 * mode starts and waits in one call and reports only -1, for a program that
 * could not be started, so this result never occurs there. */
constexpr int OS_SPAWN_WAIT_FAILED = -2;

/* Runs `path` with the NULL-terminated `argv` (passed unchanged), waits for it.
 * Returns its exit code; 128+N when a signal N ended it; -1 with errno set when
 * it could not be started (ENOENT, EACCES, ENOEXEC, ...); OS_SPAWN_WAIT_FAILED.
 * Standard streams are inherited; the child gets the driver's signal mask,
 * the default action for the signals os_process_init changed, and keeps
 * those the driver was started with ignored.  While the child runs, a
 * SIGTERM, SIGHUP or SIGQUIT that ends the driver is first sent to the
 * child, which is waited for; then, as for SIGINT (which the terminal sends
 * to the child itself), the temporary directory is removed and the driver
 * ends by that signal.
 * Windows: _spawnv in wait mode, each argument holding white space put in
 * double quotes (quotes inside are not escaped), so that it reaches the child
 * as one argument; the result is _spawnv's: the exit code, or -1 when the
 * program cannot be started.  Ctrl-C and Ctrl-Break reach the child from the
 * console itself; the driver's handler removes the directory and ends the
 * driver (STATUS_CONTROL_C_EXIT). */
int os_spawn(const char *path, char *const argv[]);

/* Ends the process at once when it cannot go on and must not allocate (out
 * of memory): writes `line` to standard error with one write, removes the
 * names handed out by os_temp_name and the temporary directory as the
 * signal handler does, and ends the process with `status` without running
 * exit handlers or flushing streams.  Allocates nothing.  Windows: the names
 * and the directory are removed with DeleteFileA and RemoveDirectoryA, then
 * _exit. */
KVQ_NORETURN void os_emergency_exit(const char *line, size_t len, int status);

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

/* A duplicate of descriptor `fd` that the process keeps for itself: it lies
 * above the standard descriptors (>= 3) and children do not inherit it
 * (POSIX: F_DUPFD_CLOEXEC; Windows: a non-inheritable copy of the handle
 * taken as a descriptor marked _O_NOINHERIT, which _spawnv leaves out of the
 * descriptor table it hands the child).  -1 with errno set on failure. */
int os_dup_private(int fd);

/* dup2: fd2 becomes a duplicate of fd.  fd2, or -1 with errno set. */
int os_dup2(int fd, int fd2);

/* close: 0, or -1 with errno set. */
int os_close(int fd);

/* Opens `path` for writing at its end, creating it when missing (POSIX: mode
 * 0666 less the umask) and, with `truncate`, emptying it first.  Every write
 * lands at the end of the file as it is at that moment (POSIX: O_APPEND),
 * so processes that append to one file at the same time lose nothing of
 * each other's.  The descriptor is private, as os_dup_private's.  -1 with
 * errno set on failure.  Windows: the file is opened with append access
 * only (FILE_APPEND_DATA), so that every WriteFile lands at its end, and
 * taken as a descriptor in text mode. */
int os_open_append(const char *path, bool truncate);

int os_fileno(FILE *stream);
bool os_isatty(int fd);

/* fopen, except that children do not inherit the file (POSIX: the
 * descriptor is close-on-exec; Windows: msvcrt's "N" mode flag), for files
 * kept open while children run. */
FILE *os_fopen_noinherit(const char *path, const char *mode);

/* Points the standard stream `stream` at the null device (OS_NULL_DEVICE:
 * "/dev/null"; Windows: "NUL"), opened with `mode`: reads see end of file,
 * writes vanish.  For standard input after a reopen on a file failed, which
 * leaves the stream closed and its descriptor free.  False (errno set) when
 * it cannot be opened. */
bool os_reopen_null(FILE *stream, const char *mode);

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
