/*
 * osdep_posix.cpp - the platform layer for POSIX systems: the process
 * temporary directory, directory trees, the program's own path,
 * starting a child and waiting for it, and the runtime primitives the rest of
 * the code reaches only through osdep.h.
 *
 * Invariants:
 *  - The process temporary directory is made once (mkdir 0700, which fails on
 *    any existing entry, so another user's file or symbolic link is never
 *    taken over) and removed when the process that made it ends: at exit by
 *    os_temp_cleanup, on SIGINT/SIGTERM/SIGHUP/SIGQUIT by a handler that uses
 *    only async-signal-safe calls on data prepared beforehand (the guard
 *    list).  The handler is installed, and those signals blocked, before the
 *    directory is made.
 *  - Every temporary name handed out is in the guard list before the caller
 *    sees it; the list's count is published only after the entry it covers.
 *  - Failures are results (and errno); nothing here raises an alert.  Only
 *    running out of memory ends the process, through the trace core.
 *  - Nothing here calls a module above the trace core: heap blocks come from
 *    the C library (osdep_local.h), the directory to remove at exit is one
 *    fixed slot.
 */
#include "osdep.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "osdep_local.h"

extern char **environ;

/* ---- path pieces ------------------------------------------------------------- */

bool os_is_absolute(const char *path)
{
    return path && os_is_dir_sep(path[0]);
}

bool os_stream_id(FILE *stream, os_file_identity *id)
{
    struct stat st;
    if (fstat(fileno(stream), &st) != 0) return false;
    id->dev = (uint64_t)st.st_dev;
    id->ino = (uint64_t)st.st_ino;
    id->is_dir = S_ISDIR(st.st_mode);
    return true;
}

bool os_file_size(const char *path, uint64_t *size)
{
    struct stat st;
    if (!path || stat(path, &st) != 0) return false;
    *size = (uint64_t)st.st_size;
    return true;
}

/* ---- directories --------------------------------------------------------------- */

/* Creates path[0..len) after its missing parents.  The buffer is cut in place
 * while a parent is looked at and restored afterwards, so a deep path costs
 * one copy and one scan. */
static int os_make_dirs_in(char *path, size_t len)
{
    size_t parent_len = len;
    while (parent_len > 0 && !os_is_dir_sep(path[parent_len - 1])) parent_len--;
    while (parent_len > 0 && os_is_dir_sep(path[parent_len - 1])) parent_len--;
    /* parent_len 0: no separator, or the parent is the root; both exist. */
    if (parent_len > 0) {
        char saved = path[parent_len];
        path[parent_len] = '\0';
        struct stat st;
        int rc = 0;
        if (stat(path, &st) != 0) rc = os_make_dirs_in(path, parent_len);
        else if (!S_ISDIR(st.st_mode)) rc = 1;
        path[parent_len] = saved;
        if (rc != 0) return 1;
    }
    char saved = path[len];
    path[len] = '\0';
    int rc = mkdir(path, 0700) == 0 ? 0 : 1;
    path[len] = saved;
    return rc;
}

int os_make_dirs(const char *path)
{
    assert(path);
    char *copy = os_strdup(path);
    size_t len = strlen(copy);
    /* "a/b/" names the directory "a/b"; a lone "/" stays the root. */
    while (len > 1 && os_is_dir_sep(copy[len - 1])) len--;
    int rc = os_make_dirs_in(copy, len);
    free(copy);
    return rc;
}

/* lstat succeeds and names a directory (a symbolic link is not one). */
bool os_is_real_dir(const char *path)
{
    struct stat st;
    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int os_remove_entry(const char *path)
{
    return unlink(path);
}

int os_remove_empty_dir(const char *path)
{
    return rmdir(path);
}

/* ---- the signal guard ------------------------------------------------------------ */

/* Terminal signals that remove the temporary directory before the process dies. */
constexpr int OS_GUARD_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

/* A run of the driver hands out one or two names; 16 slots never regrow there. */
constexpr uint32_t OS_GUARD_INITIAL = 16;

static char *g_temp_dir;                   /* the process temporary directory */
static pid_t g_temp_owner;                 /* the process that installed the guard */
static char **volatile g_guard_paths;      /* every name handed out, full paths */
static volatile sig_atomic_t g_guard_count;
static uint32_t g_guard_capacity;
static bool g_guard_installed;
static volatile sig_atomic_t g_child_pid;  /* the child os_spawn waits for; 0: none */

/* Orders the plain stores before it ahead of the volatile store after it, as
 * seen by a signal handler interrupting this thread. */
static void os_guard_publish(void)
{
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

static void os_guard_remember(const char *path)
{
    uint32_t count = (uint32_t)g_guard_count;
    char **paths = g_guard_paths;
    if (count == g_guard_capacity) {
        uint32_t capacity = count ? count * 2 : OS_GUARD_INITIAL;
        char **grown = (char **)os_zalloc(capacity * sizeof(char *));
        if (count) memcpy(grown, paths, count * sizeof(char *));
        os_guard_publish();
        g_guard_paths = grown;
        os_guard_publish();
        free(paths);
        paths = grown;
        g_guard_capacity = capacity;
    }
    paths[count] = os_strdup(path);
    os_guard_publish();
    g_guard_count = (sig_atomic_t)(count + 1);
}

/* Forgets the guarded names once the directory is gone. */
static void os_guard_forget(void)
{
    uint32_t count = (uint32_t)g_guard_count;
    char **paths = g_guard_paths;
    g_guard_count = 0;
    os_guard_publish();
    g_guard_paths = NULL;
    g_guard_capacity = 0;
    os_guard_publish();
    for (uint32_t i = 0; i < count; i++) free(paths[i]);
    free(paths);
}

/* Removes every name handed out and the temporary directory, in the process
 * that made them (a forked child leaves its parent's files alone).
 * Async-signal-safe, allocates nothing: getpid, unlink, rmdir. */
static void os_guard_remove(void)
{
    if (getpid() != g_temp_owner) return;
    char **paths = g_guard_paths;
    sig_atomic_t count = g_guard_count;
    for (sig_atomic_t i = 0; i < count; i++) unlink(paths[i]);
    if (g_temp_dir) rmdir(g_temp_dir);
}

/* A child that os_spawn waits for receives the signal too, and is waited
 * for, before the files go: ended by SIGTERM, SIGHUP or SIGQUIT sent to the
 * driver alone (timeout, CI runners, supervisors), the driver would
 * otherwise leave the child writing its outputs after the build has failed.
 * SIGINT comes from the terminal to the whole process group, the child
 * included, so nothing is forwarded for it.
 * Async-signal-safe: kill, waitpid, the calls of os_guard_remove,
 * sigaction, raise, sigprocmask. */
static void os_guard_handler(int sig)
{
    pid_t child = (pid_t)g_child_pid;
    if (child > 0 && sig != SIGINT && getpid() == g_temp_owner) {
        kill(child, sig);
        while (waitpid(child, NULL, 0) < 0 && errno == EINTR) {}
    }
    os_guard_remove();
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, NULL);
    /* The signal is blocked while its handler runs: raise it, then unblock
     * it, so the process ends by it with the default action. */
    raise(sig);
    sigset_t self;
    sigemptyset(&self);
    sigaddset(&self, sig);
    sigprocmask(SIG_UNBLOCK, &self, NULL);
}

static void os_guard_set(sigset_t *set)
{
    sigemptyset(set);
    for (int sig : OS_GUARD_SIGNALS) sigaddset(set, sig);
}

/* Installs the handler for each guarded signal, once, except for a signal
 * the process was started with ignored (nohup, background jobs): that stays
 * ignored. */
static void os_guard_install(void)
{
    if (g_guard_installed) return;
    g_guard_installed = true;
    g_temp_owner = getpid();
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = os_guard_handler;
    os_guard_set(&sa.sa_mask);
    for (int sig : OS_GUARD_SIGNALS) {
        struct sigaction old;
        int rc = sigaction(sig, NULL, &old);
        if (rc == 0 && old.sa_handler != SIG_IGN) rc = sigaction(sig, &sa, NULL);
        assert(rc == 0); /* fails only for a signal number that does not exist */
    }
}

/* Blocks the guarded signals; `old` receives the mask to restore. */
static void os_guard_block(sigset_t *old)
{
    sigset_t guarded;
    os_guard_set(&guarded);
    int rc = sigprocmask(SIG_BLOCK, &guarded, old);
    assert(rc == 0); /* fails only for an invalid argument */
}

static void os_guard_unblock(const sigset_t *old)
{
    int rc = sigprocmask(SIG_SETMASK, old, NULL);
    assert(rc == 0);
}

/* ---- temporary names ---------------------------------------------------------------- */

/* The variables that name the base of the temporary directory, in order;
 * then TMPDIR; then OS_TEMP_DEFAULT. */
constexpr const char *OS_TEMP_VARS[] = {"TEMP", "TMP"};

/* Where the temporary directory is made when no variable names a place:
 * never the current directory, which is usually the user's source tree. */
constexpr const char *OS_TEMP_DEFAULT = "/tmp";

/* Random characters per candidate: enough that other users of a shared
 * directory cannot occupy all 26 candidates of a process in advance. */
constexpr int OS_TOKEN_CHARS = 6;

static uint32_t g_name_counter;
static const char *g_temp_pending; /* the directory to remove at exit; NULL once removed */
static bool g_exit_registered;

/* TEMP, else TMP, as the driver has always read them (an empty value found
 * means the current directory); when neither is set, TMPDIR as POSIX
 * programs read it (when not empty); else OS_TEMP_DEFAULT. */
static const char *os_temp_base(void)
{
    for (const char *var : OS_TEMP_VARS) {
        const char *value = getenv(var);
        if (value) return *value ? value : ".";
    }
    const char *tmpdir = getenv("TMPDIR");
    return tmpdir && *tmpdir ? tmpdir : OS_TEMP_DEFAULT;
}

/* Fills `out` with OS_TOKEN_CHARS lower-case letters and digits from a
 * xorshift generator seeded by the clock, the pid and a stack address. */
static void os_temp_token(char out[OS_TOKEN_CHARS + 1])
{
    static uint64_t state;
    if (state == 0) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        state = ((uint64_t)now.tv_sec << 32) ^ (uint64_t)now.tv_nsec ^
                ((uint64_t)getpid() << 16) ^ (uint64_t)(uintptr_t)&now;
        state |= 1;
    }
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int i = 0; i < OS_TOKEN_CHARS; i++) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        out[i] = alphabet[state % (sizeof alphabet - 1)];
    }
    out[OS_TOKEN_CHARS] = '\0';
}

/* base/kv<letter><pid><token>, the first of 26 candidates that mkdir makes. */
static char *os_temp_make_dir(void)
{
    const char *base = os_temp_base();
    for (char letter = 'A'; letter <= 'Z'; letter++) {
        char token[OS_TOKEN_CHARS + 1];
        os_temp_token(token);
        char *leaf = os_format("kv%c%u%s", letter, (unsigned)getpid(), token);
        char *candidate = os_path_join(base, leaf);
        free(leaf);
        if (os_make_dirs(candidate) == 0) return candidate;
        free(candidate);
    }
    return NULL;
}

/* The guard is in place, and its signals blocked, before the directory
 * exists: no moment is left in which a signal could orphan it. */
static bool os_temp_setup(void)
{
    os_guard_install();
    sigset_t old;
    os_guard_block(&old);
    char *dir = os_temp_make_dir();
    if (dir) {
        if (!g_exit_registered) {
            atexit(os_temp_cleanup);
            g_exit_registered = true;
        }
        g_temp_pending = dir;
        g_temp_dir = dir;
    }
    os_guard_unblock(&old);
    return dir != NULL;
}

char *os_temp_name(const char *ext)
{
    if (!g_temp_dir && !os_temp_setup()) return NULL;
    char *path = os_temp_path(g_temp_dir, g_name_counter++, ext);
    os_guard_remember(path);
    return path;
}

const char *os_temp_dir(void)
{
    return g_temp_dir;
}

void os_temp_cleanup(void)
{
    if (!g_temp_pending || getpid() != g_temp_owner) return;
    if (os_exists(g_temp_pending)) os_remove_tree(g_temp_pending);
    g_temp_pending = NULL;
    os_guard_forget();
}

/* ---- current directory and the program's own path ---------------------------------- */

/* Large enough for any directory a build tool runs in; a deeper one reads as "". */
constexpr size_t OS_CWD_BUFFER = 20480;

char *os_getcwd(void)
{
    static char buf[OS_CWD_BUFFER];
    if (!getcwd(buf, sizeof buf)) buf[0] = '\0';
    return os_strdup(buf);
}

static const char *g_argv0;

void os_set_argv0(const char *argv0)
{
    g_argv0 = argv0;
}

/* realpath of the first executable regular file PATH gives for `name`. */
static char *os_search_path(const char *name)
{
    const char *dirs = getenv("PATH");
    while (dirs && *dirs) {
        const char *end = strchr(dirs, ':');
        size_t len = end ? (size_t)(end - dirs) : strlen(dirs);
        /* An empty PATH entry means the current directory. */
        char *dir = len ? os_copy_n(dirs, len) : os_strdup(".");
        char *candidate = os_path_join(dir, name);
        free(dir);
        struct stat st;
        char *found = NULL;
        if (stat(candidate, &st) == 0 && S_ISREG(st.st_mode) && access(candidate, X_OK) == 0)
            found = realpath(candidate, NULL);
        free(candidate);
        if (found) return found;
        dirs = end ? end + 1 : NULL;
    }
    return NULL;
}

char *os_program_path(void)
{
    char buf[PATH_MAX];
    ssize_t len = readlink("/proc/self/exe", buf, sizeof buf);
    if (len > 0 && (size_t)len < sizeof buf) return os_copy_n(buf, (size_t)len);
    if (!g_argv0 || !*g_argv0) return NULL;
    if (strchr(g_argv0, OS_DIR_SEP)) return realpath(g_argv0, NULL);
    return os_search_path(g_argv0);
}

/* ---- processes ------------------------------------------------------------------------ */

/* Async-signal-safe and allocation-free like the signal handler: write,
 * the calls of os_guard_remove, _exit. */
void os_emergency_exit(const char *line, size_t len, int status)
{
    (void)os_write_all(2, line, len); /* nowhere else to report a failure */
    os_guard_remove();
    _exit(status);
}

/* The signals whose disposition os_process_init changes for the driver and
 * os_spawn gives back to the child as the default. */
constexpr int OS_CHILD_DEFAULT_SIGNALS[] = {SIGCHLD, SIGPIPE};

void os_process_init(void)
{
    /* open takes the lowest free descriptor, so walking up from 0 fills
     * exactly the closed ones. */
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (open(OS_NULL_DEVICE, O_RDWR) < 0) break;
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = SIG_DFL;
    int rc = sigaction(SIGCHLD, &sa, NULL);
    sa.sa_handler = SIG_IGN;
    rc |= sigaction(SIGPIPE, &sa, NULL);
    assert(rc == 0); /* fails only for a signal number that does not exist */
}

/* Attributes of every child: the signal mask `mask` and the default action
 * for the signals of OS_CHILD_DEFAULT_SIGNALS.  0 or an error number. */
static int os_child_attributes(posix_spawnattr_t *attr, const sigset_t *mask)
{
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : OS_CHILD_DEFAULT_SIGNALS) sigaddset(&defaults, sig);
    int rc = posix_spawnattr_setsigdefault(attr, &defaults);
    if (rc == 0) rc = posix_spawnattr_setsigmask(attr, mask);
    return rc != 0 ? rc : posix_spawnattr_setflags(attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

/* Reaps the child `pid` once it has ended: its status as os_spawn returns
 * it.  The child is waited for without being reaped first (WNOWAIT), so
 * that its pid, which the signal handler may use, cannot be reused before
 * the handler can no longer run for it. */
static int os_spawn_wait(pid_t pid)
{
    siginfo_t info;
    int rc;
    while ((rc = waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT)) < 0 && errno == EINTR) {}
    sigset_t old;
    os_guard_block(&old);
    int status = 0;
    if (rc == 0 && waitpid(pid, &status, 0) != pid) rc = -1;
    int wait_errno = errno;
    g_child_pid = 0;
    os_guard_unblock(&old);
    if (rc != 0) {
        errno = wait_errno;
        return OS_SPAWN_WAIT_FAILED;
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

/* 1. Installs the guard and blocks its signals, so that one arriving while
 *    the child starts waits until the child's pid is recorded.
 * 2. Starts the child with the signal mask the driver had before step 1
 *    and the default action for the signals os_process_init changed; a
 *    failure to set these is a failure to start.  glibc's posix_spawn
 *    reports a failed exec (ENOENT, EACCES, ENOEXEC, also a missing script
 *    interpreter) as its own result, so errno is right for the caller's
 *    message; the child never runs in that case.  The child also gets the
 *    default action for the signals the guard catches (exec resets caught
 *    signals) and keeps those the driver was started with ignored.
 * 3. Records the pid and unblocks: from here a guarded signal reaches the
 *    child too (os_guard_handler).
 * 4. Waits for it (os_spawn_wait); a wait that fails (ECHILD: someone else
 *    reaped it) is OS_SPAWN_WAIT_FAILED, never -1. */
int os_spawn(const char *path, char *const argv[])
{
    assert(path && argv);
    os_guard_install();
    sigset_t old;
    os_guard_block(&old);
    posix_spawnattr_t attr;
    int rc = posix_spawnattr_init(&attr);
    pid_t pid = 0;
    if (rc == 0) {
        rc = os_child_attributes(&attr, &old);
        if (rc == 0) rc = posix_spawn(&pid, path, NULL, &attr, argv, environ);
        posix_spawnattr_destroy(&attr);
    }
    if (rc == 0) g_child_pid = pid;
    os_guard_unblock(&old);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return os_spawn_wait(pid);
}

/* ---- runtime primitives ------------------------------------------------------------------ */

int os_dup_private(int fd)
{
    return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

int os_dup2(int fd, int fd2)
{
    return dup2(fd, fd2);
}

int os_close(int fd)
{
    return close(fd);
}

int os_open_append(const char *path, bool truncate)
{
    int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0);
    int fd = open(path, flags, 0666);
    if (fd < 0 || fd > 2) return fd;
    /* A standard descriptor was free (os_process_init could not fill it):
     * the file moves above them. */
    int moved = os_dup_private(fd);
    int moved_errno = errno;
    close(fd);
    errno = moved_errno;
    return moved;
}

int os_fileno(FILE *stream)
{
    return fileno(stream);
}

bool os_isatty(int fd)
{
    return isatty(fd) != 0;
}

/* ---- memory ------------------------------------------------------------------ */

/* 1. Maps size + OS_LARGE_PAGE bytes, so that an aligned start lies inside.
 * 2. Unmaps the unaligned head and the tail beyond the block.
 * 3. Asks for transparent huge pages; a kernel without them keeps small
 *    pages, which is no error. */
void *os_alloc_large(size_t size)
{
    assert(size > 0 && size % OS_LARGE_PAGE == 0);
    size_t span = size + OS_LARGE_PAGE;
    if (span < size) {
        errno = ENOMEM;
        return NULL;
    }
    void *mapped = mmap(NULL, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return NULL;
    uintptr_t start = (uintptr_t)mapped;
    uintptr_t block = (start + OS_LARGE_PAGE - 1) & ~(uintptr_t)(OS_LARGE_PAGE - 1);
    if (block > start) munmap(mapped, block - start);
    munmap((void *)(block + size), start + span - (block + size));
#ifdef MADV_HUGEPAGE
    madvise((void *)block, size, MADV_HUGEPAGE);
#endif
    return (void *)block;
}

void os_free_large(void *block, size_t size)
{
    if (block) munmap(block, size);
}

