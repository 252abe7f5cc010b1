/*
 * osdep_win32.cpp - the platform layer for Windows on x86-64 (the msvcrt
 * runtime): absolute paths, the process temporary directory and its console
 * control handler, directory trees, the program's own path, starting a child
 * and waiting for it, the last-resort exit, and the runtime primitives the
 * rest of the code reaches only through osdep.h.
 *
 * Invariants:
 *  - The process has at most one temporary directory, held in a fixed slot
 *    (g_temp_dir), with the list of every name handed out in it (the guard
 *    list).  It is removed at exit by os_temp_cleanup and on Ctrl-C,
 *    Ctrl-Break and the closing of the console by a console control handler,
 *    installed before the directory is made.  The handler runs on a thread
 *    of its own, so making, naming and removing are serialised by
 *    g_temp_lock, and the slot is emptied once the directory is gone.
 *  - Descriptors this layer opens for the process itself lie above the
 *    standard ones and are marked _O_NOINHERIT, on a handle that is not
 *    inheritable: _spawnv hands the child neither.
 *  - Failures are results (and errno); nothing here raises an alert.  Only
 *    running out of memory ends the process, through the trace core.
 *  - Nothing here calls a module above the trace core: heap blocks come from
 *    the C library (osdep_local.h).
 */
#include "osdep.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <cassert>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "osdep_local.h"

/* ---- errors -------------------------------------------------------------------- */

/* The errno of a Win32 error, for the calls made here directly (the runtime
 * sets errno for its own). */
struct os_error_row {
    DWORD error;
    int err;
};

/* Win32 error                  errno */
constexpr os_error_row OS_ERRORS[] = {
    {ERROR_FILE_NOT_FOUND,       ENOENT},
    {ERROR_PATH_NOT_FOUND,       ENOENT},
    {ERROR_INVALID_NAME,         ENOENT},
    {ERROR_INVALID_DRIVE,        ENOENT},
    {ERROR_BAD_PATHNAME,         ENOENT},
    {ERROR_ACCESS_DENIED,        EACCES},
    {ERROR_SHARING_VIOLATION,    EACCES},
    {ERROR_LOCK_VIOLATION,       EACCES},
    {ERROR_WRITE_PROTECT,        EACCES},
    {ERROR_TOO_MANY_OPEN_FILES,  EMFILE},
    {ERROR_NOT_ENOUGH_MEMORY,    ENOMEM},
    {ERROR_OUTOFMEMORY,          ENOMEM},
    {ERROR_FILE_EXISTS,          EEXIST},
    {ERROR_ALREADY_EXISTS,       EEXIST},
    {ERROR_DISK_FULL,            ENOSPC},
    {ERROR_INVALID_HANDLE,       EBADF},
};

/* Sets errno from GetLastError(); EINVAL for an error not in the table. */
static void os_set_errno(void)
{
    DWORD error = GetLastError();
    errno = EINVAL;
    for (const os_error_row &row : OS_ERRORS) {
        if (row.error == error) errno = row.err;
    }
}

/* ---- path pieces --------------------------------------------------------------- */

bool os_is_absolute(const char *path)
{
    return path && path[0] != '\0' && (path[1] == ':' || (path[0] == '\\' && path[1] == '\\'));
}

/* A drive letter and a colon, nothing more ("C:"): the current directory of
 * that drive, which always exists and cannot be created. */
static bool os_is_bare_drive(const char *path)
{
    return isalpha((unsigned char)path[0]) && path[1] == ':' && path[2] == '\0';
}

bool os_stream_id(FILE *stream, os_file_identity *id)
{
    HANDLE h = (HANDLE)_get_osfhandle(_fileno(stream));
    BY_HANDLE_FILE_INFORMATION info;
    if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) return false;
    id->dev = info.dwVolumeSerialNumber;
    id->ino = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    id->is_dir = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

bool os_file_size(const char *path, uint64_t *size)
{
    struct _stat64 st;
    if (!path || _stat64(path, &st) != 0) return false;
    *size = (uint64_t)st.st_size;
    return true;
}

/* ---- directories --------------------------------------------------------------- */

/* Creates the directory `path` (NUL-terminated, in a buffer of the caller's)
 * after its missing parents.  The parent is looked at by cutting the buffer
 * at the separator and restoring it afterwards, so a deep path costs one copy.
 *   1. No separator: only `path` itself is created.
 *   2. The parent is the text before the separator; where the separator is a
 *      drive's colon ("C:x"), the parent is the drive "C:".  An empty parent
 *      (the root of the current drive) and a bare drive exist by definition;
 *      a parent that is not a directory fails; a missing one is created first.
 *   3. CreateDirectoryA(path): 0 on success, 1 on failure (also when it
 *      exists already). */
static int os_make_dirs_in(char *path)
{
    if (char *sep = (char *)os_last_sep(path)) {
        char *cut = *sep == ':' ? sep + 1 : sep;
        char saved = *cut;
        *cut = '\0';
        int rc = 0;
        if (path[0] != '\0' && !os_is_bare_drive(path) && !os_is_dir(path))
            rc = os_exists(path) ? 1 : os_make_dirs_in(path);
        *cut = saved;
        if (rc != 0) return 1;
    }
    return CreateDirectoryA(path, NULL) ? 0 : 1;
}

int os_make_dirs(const char *path)
{
    assert(path);
    char *copy = os_strdup(path);
    int rc = os_make_dirs_in(copy);
    free(copy);
    return rc;
}

/* A directory that is a reparse point (a junction or a symbolic link to a
 * directory): removing it with _rmdir removes the link, never the target. */
static bool os_is_linked_dir(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    const DWORD linked_dir = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & linked_dir) == linked_dir;
}

bool os_is_real_dir(const char *path)
{
    return os_is_dir(path) && !os_is_linked_dir(path);
}

/* A linked directory goes with _rmdir, anything else with remove(). */
int os_remove_entry(const char *path)
{
    return os_is_linked_dir(path) ? _rmdir(path) : remove(path);
}

int os_remove_empty_dir(const char *path)
{
    return _rmdir(path);
}

/* ---- the process temporary directory ----------------------------------------------- */

/* A run of the driver hands out one or two names; 16 slots never regrow there. */
constexpr uint32_t OS_GUARD_INITIAL = 16;

static SRWLOCK g_temp_lock = SRWLOCK_INIT; /* the console handler's thread against the others */
static char *g_temp_dir;                   /* the process temporary directory; NULL: none */
static char **g_guard_paths;               /* every name handed out in it, full paths */
static uint32_t g_guard_count, g_guard_capacity;
static uint32_t g_name_counter;            /* names handed out so far */
static bool g_exit_registered;             /* atexit(os_temp_cleanup) done */
static bool g_console_guarded;             /* the console handler is installed */

/* Ctrl-C, Ctrl-Break or the console closing: the directory goes before the
 * process does.  Ctrl-C and Ctrl-Break then end the process with the status
 * Windows gives a process they end (STATUS_CONTROL_C_EXIT), which Wine's
 * default handling would not; for the console closing the system's default
 * handling follows.  A process started with Ctrl-C ignored is never called
 * for it. */
static BOOL WINAPI os_console_handler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    os_temp_cleanup();
    if (event != CTRL_CLOSE_EVENT) ExitProcess(STATUS_CONTROL_C_EXIT);
    return FALSE;
}

static void os_console_guard(void)
{
    if (g_console_guarded) return;
    g_console_guarded = true;
    SetConsoleCtrlHandler(os_console_handler, TRUE);
}

/* The base directory: TEMP when it is set, else TMP; "." when the value found
 * is empty or neither is set (an empty TEMP does not fall back to TMP). */
static const char *os_temp_base(void)
{
    const char *value = getenv("TEMP");
    if (!value) value = getenv("TMP");
    return value && *value ? value : ".";
}

/* base, a backslash unless base ends in one or in a drive's colon, "kv",
 * `letter` and the last component of a fresh tmpnam() name; NULL when the
 * runtime has no name left. */
static char *os_temp_candidate(const char *base, char letter)
{
    const char *fresh = tmpnam(NULL);
    if (!fresh) return NULL;
    const char *leaf = strrchr(fresh, '\\');
    leaf = leaf ? leaf + 1 : fresh;
    char last = base[strlen(base) - 1];
    const char *sep = last == '\\' || last == ':' ? "" : "\\";
    return os_format("%s%skv%c%s", base, sep, letter, leaf);
}

/* With g_temp_lock held and the console handler in place:
 * 1. For each letter from 'A' to 'Z': a candidate that exists is skipped; one
 *    that os_make_dirs creates, or that has meanwhile appeared as a
 *    directory, is taken.
 * 2. The first success registers the exit handler; the directory fills the
 *    slot.
 * False when all 26 candidates fail: nothing is remembered. */
static bool os_temp_setup(void)
{
    const char *base = os_temp_base();
    char *dir = NULL;
    for (char letter = 'A'; letter <= 'Z' && !dir; letter++) {
        char *candidate = os_temp_candidate(base, letter);
        if (candidate && !os_exists(candidate) && (os_make_dirs(candidate) == 0 || os_is_dir(candidate)))
            dir = candidate;
        else
            free(candidate);
    }
    if (!dir) return false;
    if (!g_exit_registered) {
        atexit(os_temp_cleanup);
        g_exit_registered = true;
    }
    g_temp_dir = dir;
    return true;
}

/* Adds `path` to the guard list (g_temp_lock held). */
static void os_guard_remember(const char *path)
{
    if (g_guard_count == g_guard_capacity) {
        uint32_t capacity = g_guard_capacity ? g_guard_capacity * 2 : OS_GUARD_INITIAL;
        char **grown = (char **)os_zalloc(capacity * sizeof(char *));
        if (g_guard_count) memcpy(grown, g_guard_paths, g_guard_count * sizeof(char *));
        free(g_guard_paths);
        g_guard_paths = grown;
        g_guard_capacity = capacity;
    }
    g_guard_paths[g_guard_count++] = os_strdup(path);
}

/* The directory is made while the console handler waits on the lock: no
 * moment is left in which Ctrl-C could orphan it. */
char *os_temp_name(const char *ext)
{
    os_console_guard();
    AcquireSRWLockExclusive(&g_temp_lock);
    char *path = NULL;
    if (g_temp_dir || os_temp_setup()) {
        path = os_temp_path(g_temp_dir, g_name_counter++, ext);
        os_guard_remember(path);
    }
    ReleaseSRWLockExclusive(&g_temp_lock);
    return path;
}

const char *os_temp_dir(void)
{
    return g_temp_dir;
}

void os_temp_cleanup(void)
{
    AcquireSRWLockExclusive(&g_temp_lock);
    if (g_temp_dir && os_exists(g_temp_dir)) os_remove_tree(g_temp_dir);
    free(g_temp_dir);
    g_temp_dir = NULL;
    for (uint32_t i = 0; i < g_guard_count; i++) free(g_guard_paths[i]);
    free(g_guard_paths);
    g_guard_paths = NULL;
    g_guard_count = g_guard_capacity = 0;
    ReleaseSRWLockExclusive(&g_temp_lock);
}

/* ---- current directory and the program's own path ---------------------------------- */

/* Large enough for any directory a build tool runs in; a deeper one reads as "". */
constexpr size_t OS_CWD_BUFFER = 20480;

char *os_getcwd(void)
{
    static char buf[OS_CWD_BUFFER];
    if (!_getcwd(buf, sizeof buf)) buf[0] = '\0';
    return os_strdup(buf);
}

/* The runtime knows the program's full path (_pgmptr): argv[0] is not needed. */
void os_set_argv0(const char *)
{
}

char *os_program_path(void)
{
    const char *path = _pgmptr;
    return path && *path ? os_strdup(path) : NULL;
}

/* ---- processes ------------------------------------------------------------------------ */

/* A descriptor the runtime has no usable handle for: closed, or marked open
 * without a handle because the process started without that standard handle
 * (msvcrt gives -1 then, Wine's -2). */
static bool os_fd_missing(int fd)
{
    intptr_t h = _get_osfhandle(fd);
    return h == -1 || h == -2;
}

/* 1. Each standard descriptor without a handle gets "NUL" opened read-write
 *    in its place; _dup2 also makes it the Win32 standard handle, which a
 *    child inherits.  When NUL cannot be opened they stay as they are.
 * 2. The console control handler goes in place. */
void os_process_init(void)
{
    for (int fd = 0; fd <= 2; fd++) {
        if (!os_fd_missing(fd)) continue;
        int nul = _open(OS_NULL_DEVICE, _O_RDWR);
        if (nul < 0) break;
        if (nul != fd) {
            _dup2(nul, fd);
            _close(nul);
        }
    }
    os_console_guard();
}

/* True when `arg` holds a character for which isspace is true. */
static bool os_has_space(const char *arg)
{
    for (; *arg; arg++) {
        if (isspace((unsigned char)*arg)) return true;
    }
    return false;
}

/* The runtime joins the arguments with blanks into one command line, which
 * the child splits again at white space outside double quotes: an argument
 * holding white space is put in quotes to stay one.  Quotes inside an
 * argument are passed as they are.
 *   1. One block holds the new argument array and its texts.
 *   2. _spawnv in wait mode: the child's exit code, or -1 (errno set) when
 *      it cannot be started.
 *   3. The block is freed; errno is kept for the caller. */
int os_spawn(const char *path, char *const argv[])
{
    assert(path && argv);
    size_t count = 0, text_size = 0;
    for (; argv[count]; count++) text_size += strlen(argv[count]) + 3;
    size_t table_size = (count + 1) * sizeof(char *);
    char *block = (char *)os_zalloc(table_size + text_size);
    char **quoted = (char **)block;
    char *text = block + table_size;
    for (size_t i = 0; i < count; i++) {
        quoted[i] = text;
        bool wrap = os_has_space(argv[i]);
        size_t len = strlen(argv[i]);
        if (wrap) *text++ = '"';
        memcpy(text, argv[i], len);
        text += len;
        if (wrap) *text++ = '"';
        *text++ = '\0';
    }
    quoted[count] = NULL;
    int status = (int)_spawnv(_P_WAIT, path, quoted);
    int spawn_errno = errno;
    free(block);
    errno = spawn_errno;
    return status;
}

/* One write to standard error; then, as the console handler would, every
 * name handed out and the directory go, with DeleteFileA and
 * RemoveDirectoryA on the strings made beforehand; _exit skips the exit
 * handlers and leaves the streams unflushed. */
void os_emergency_exit(const char *line, size_t len, int status)
{
    (void)os_write_all(2, line, len); /* nowhere else to report a failure */
    for (uint32_t i = 0; i < g_guard_count; i++) DeleteFileA(g_guard_paths[i]);
    if (g_temp_dir) RemoveDirectoryA(g_temp_dir);
    _exit(status);
}

/* ---- runtime primitives ------------------------------------------------------------------ */

/* Takes `handle` (not inheritable) as a descriptor with `flags` and
 * _O_NOINHERIT, above the standard descriptors: those that are free are held
 * by NUL meanwhile, since the runtime gives out the lowest free descriptor.
 * On failure the handle is closed; -1 with errno set. */
static int os_take_private(HANDLE handle, int flags)
{
    int held[3], count = 0;
    for (int nul; count < 3 && (nul = _open(OS_NULL_DEVICE, _O_RDONLY | _O_NOINHERIT)) >= 0;) {
        if (nul > 2) {
            _close(nul);
            break;
        }
        held[count++] = nul;
    }
    int fd = _open_osfhandle((intptr_t)handle, flags | _O_NOINHERIT);
    int take_errno = errno;
    if (fd < 0) CloseHandle(handle);
    while (count > 0) _close(held[--count]);
    errno = take_errno;
    return fd;
}

/* The duplicate keeps the translation mode of `fd`, which _setmode reports
 * (and is given back at once). */
int os_dup_private(int fd)
{
    if (os_fd_missing(fd)) {
        errno = EBADF;
        return -1;
    }
    HANDLE copy;
    if (!DuplicateHandle(GetCurrentProcess(), (HANDLE)_get_osfhandle(fd), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        os_set_errno();
        return -1;
    }
    int mode = _setmode(fd, _O_BINARY);
    if (mode != -1) _setmode(fd, mode);
    return os_take_private(copy, mode == _O_BINARY ? _O_BINARY : _O_TEXT);
}

int os_dup2(int fd, int fd2)
{
    return _dup2(fd, fd2);
}

int os_close(int fd)
{
    return _close(fd);
}

/* The runtime's own append mode seeks to the end before each write, which
 * another process can overtake; a handle with append access alone writes at
 * the end in the same step.  Truncating needs write access, so a file to
 * empty is opened once for that first.  Other processes may read, write and
 * append meanwhile (a back end appends to the same file). */
int os_open_append(const char *path, bool truncate)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (truncate) {
        HANDLE h = CreateFileA(path, GENERIC_WRITE, share, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (h == INVALID_HANDLE_VALUE) {
            os_set_errno();
            return -1;
        }
        CloseHandle(h);
    }
    HANDLE h = CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE, share, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        os_set_errno();
        return -1;
    }
    return os_take_private(h, _O_TEXT);
}

int os_fileno(FILE *stream)
{
    return _fileno(stream);
}

bool os_isatty(int fd)
{
    return _isatty(fd) != 0;
}

/* ---- memory ------------------------------------------------------------------ */

/* Another thread may take the address range between the probe and the
 * allocation; a few more tries then find another one. */
constexpr int OS_LARGE_TRIES = 4;

/* 1. Reserves size + OS_LARGE_PAGE bytes to find a range holding an aligned
 *    block, and releases the reservation.
 * 2. Reserves and commits the aligned block inside that range (zero-filled
 *    pages, backed as they are touched).  Large pages need a privilege
 *    ordinary users lack, so small pages back it. */
void *os_alloc_large(size_t size)
{
    assert(size > 0 && size % OS_LARGE_PAGE == 0);
    size_t span = size + OS_LARGE_PAGE;
    for (int i = 0; span > size && i < OS_LARGE_TRIES; i++) {
        void *range = VirtualAlloc(NULL, span, MEM_RESERVE, PAGE_NOACCESS);
        if (!range) break;
        uintptr_t block = ((uintptr_t)range + OS_LARGE_PAGE - 1) & ~(uintptr_t)(OS_LARGE_PAGE - 1);
        VirtualFree(range, 0, MEM_RELEASE);
        if (void *got = VirtualAlloc((void *)block, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)) return got;
    }
    errno = ENOMEM;
    return NULL;
}

void os_free_large(void *block, size_t)
{
    if (block) VirtualFree(block, 0, MEM_RELEASE);
}

