/*
 * osdep_win32.cpp - the platform layer for Windows on x86-64 (the msvcrt
 * runtime): separators and absolute paths, the process temporary directory,
 * directory trees, the program's own path, starting a child and waiting for
 * it, and the runtime primitives the rest of the code reaches only through
 * osdep.h.
 *
 * Invariants:
 *  - Paths are Windows paths: the backslash is written and trimmed; a path is
 *    split at its last backslash, else its last slash, else its last colon.
 *  - The process has at most one temporary directory, held in a fixed slot
 *    (g_temp_dir); it is removed at exit by os_temp_cleanup and on Ctrl-C,
 *    Ctrl-Break and the closing of the console by a console control handler.
 *    The handler runs on a thread of its own, so the removal is serialised
 *    by g_temp_lock and the slot is emptied once the directory is gone.
 *  - Heap memory comes from the allocation module only through the path
 *    pieces of osdep.cpp, os_temp_candidate (alloc_format) and os_spawn
 *    (alloc_zeroed); nothing here raises an alert: failures are results (and
 *    errno).
 */
#include "osdep.h"

#include <direct.h>
#include <dirent.h>
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

#include "alloc.h"

/* ---- path pieces --------------------------------------------------------------- */

/* The separators, in the order in which they are searched for. */
constexpr char OS_SEPARATORS[] = {'\\', '/', ':'};

const char *os_last_sep(const char *path)
{
    if (!path) return NULL;
    for (char sep : OS_SEPARATORS) {
        if (const char *at = strrchr(path, sep)) return at;
    }
    return NULL;
}

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

bool os_file_id(const char *path, os_file_identity *id)
{
    if (!path) return false;
    /* No access asked for: only the file's metadata is read, whatever its
     * sharing mode; FILE_FLAG_BACKUP_SEMANTICS lets a directory be opened. */
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return false;
    id->dev = info.dwVolumeSerialNumber;
    id->ino = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
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
    char *copy = os_copy_n(path, strlen(path));
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

/* 1. `path` must be an existing directory, else -1.
 * 2. It cannot be listed: 0.
 * 3. Each entry but "." and "..": a directory is removed with its contents
 *    (a linked one as the link alone), anything else with remove(); the first
 *    failure ends the walk and is the result.
 * 4. _rmdir(path). */
int os_remove_tree(const char *path)
{
    if (!os_is_dir(path)) return -1;
    DIR *listing = opendir(path);
    if (!listing) return 0;
    int rc = 0;
    while (rc == 0) {
        struct dirent *entry = readdir(listing);
        if (!entry) break;
        const char *name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        char *child = os_path_join(path, name);
        if (os_is_linked_dir(child)) rc = _rmdir(child);
        else rc = os_is_dir(child) ? os_remove_tree(child) : remove(child);
        free(child);
    }
    closedir(listing);
    return rc != 0 ? rc : _rmdir(path);
}

/* ---- the process temporary directory ----------------------------------------------- */

static char *g_temp_dir;          /* the process temporary directory; NULL: none */
static uint32_t g_name_counter;   /* names handed out so far */
static bool g_cleanup_registered; /* atexit and the console handler are in place */
static SRWLOCK g_temp_lock = SRWLOCK_INIT; /* the exit handler against the console handler */

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
    return alloc_format("%s%skv%c%s", base, sep, letter, leaf);
}

/* Ctrl-C, Ctrl-Break or the console closing: the directory goes before the
 * process does.  Ctrl-C and Ctrl-Break then end the process with the status
 * Windows gives a process they end (STATUS_CONTROL_C_EXIT), which Wine's
 * default handling would not; for the other events the system's default
 * handling follows.  A process started with Ctrl-C ignored is never called
 * for it. */
static BOOL WINAPI os_console_handler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    os_temp_cleanup();
    if (event != CTRL_CLOSE_EVENT) ExitProcess(STATUS_CONTROL_C_EXIT);
    return FALSE;
}

/* 1. For each letter from 'A' to 'Z': a candidate that exists is skipped; one
 *    that os_make_dirs creates, or that has meanwhile appeared as a
 *    directory, is taken.
 * 2. The first success registers the cleanup (atexit and the console
 *    handler); the directory fills the slot.
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
    if (!g_cleanup_registered) {
        atexit(os_temp_cleanup);
        SetConsoleCtrlHandler(os_console_handler, TRUE);
        g_cleanup_registered = true;
    }
    AcquireSRWLockExclusive(&g_temp_lock);
    g_temp_dir = dir;
    ReleaseSRWLockExclusive(&g_temp_lock);
    return true;
}

char *os_temp_name(const char *ext)
{
    if (!g_temp_dir && !os_temp_setup()) return NULL;
    return os_temp_path(g_temp_dir, g_name_counter++, ext);
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
    ReleaseSRWLockExclusive(&g_temp_lock);
}

/* ---- current directory and the program's own path ---------------------------------- */

/* Large enough for any directory a build tool runs in; a deeper one reads as "". */
constexpr size_t OS_CWD_BUFFER = 20480;

char *os_getcwd(void)
{
    static char buf[OS_CWD_BUFFER];
    if (!_getcwd(buf, sizeof buf)) buf[0] = '\0';
    return os_copy_n(buf, strlen(buf));
}

/* The runtime knows the program's full path (_pgmptr): argv[0] is not needed. */
void os_set_argv0(const char *)
{
}

char *os_program_path(void)
{
    const char *path = _pgmptr;
    return path && *path ? os_copy_n(path, strlen(path)) : NULL;
}

/* ---- processes ------------------------------------------------------------------------ */

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
    assert(table_size + text_size < UINT32_MAX);
    char *block = (char *)alloc_zeroed((uint32_t)(table_size + text_size));
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

/* ---- runtime primitives ------------------------------------------------------------------ */

int os_dup(int fd)
{
    return _dup(fd);
}

int os_dup2(int fd, int fd2)
{
    return _dup2(fd, fd2);
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

/* Every caller opens its stream in text mode, whose reading already turns
 * CR LF into LF (a lone CR stays) and ends the text at Ctrl-Z, as the
 * runtime does for any text file: the bytes are taken as they come.  They
 * are taken from the stream's own buffer without locking it (one thread). */
size_t os_read_text_piece(char *buf, size_t size, FILE *stream)
{
    assert(size >= 2 && size <= INT_MAX);
    size_t n = 0;
    int c;
    while (n < size - 1 && (c = _getc_nolock(stream)) != EOF) {
        buf[n++] = (char)c;
        if (c == '\n') break;
    }
    buf[n] = '\0';
    return n;
}
