/*
 * osdep.cpp - the parts of the platform layer that are the same on every
 * platform once its compile-time constants are given: the layer's heap
 * helpers, path pieces, existence tests, directory listing, the naming rule
 * of temporary files, streams kept from children and on the null device,
 * the command-line limit and the case-insensitive comparisons.  osdep_posix.cpp and osdep_win32.cpp provide the rest of
 * osdep.h.
 *
 * Like the rest of the layer it uses only the C library and the trace core:
 * heap blocks come from malloc, and running out of memory goes to
 * db_out_of_memory, which does not return.
 */
#include "osdep.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cassert>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "osdep_local.h"
#include "trace.h"

/* ---- heap helpers ------------------------------------------------------------- */

void *os_zalloc(size_t size)
{
    void *p = calloc(size != 0 ? size : 1, 1);
    if (p == NULL) db_out_of_memory();
    return p;
}

char *os_strdup(const char *s)
{
    return os_copy_n(s, strlen(s));
}

char *os_copy_n(const char *s, size_t n)
{
    assert(n < UINT32_MAX);
    char *copy = (char *)os_zalloc(n + 1);
    memcpy(copy, s, n);
    return copy;
}

/* Names this layer formats are short: they are built here once, and only a
 * longer one is formatted a second time, straight into its heap copy. */
constexpr size_t OS_FORMAT_LOCAL = 256;

char *os_format(const char *fmt, ...)
{
    char local[OS_FORMAT_LOCAL];
    va_list ap;
    va_start(ap, fmt);
    int len = vsnprintf(local, sizeof local, fmt, ap);
    va_end(ap);
    if (len < 0) len = 0, local[0] = '\0';
    char *text = (char *)os_zalloc((size_t)len + 1);
    if ((size_t)len < sizeof local) {
        memcpy(text, local, (size_t)len + 1);
    } else {
        va_start(ap, fmt);
        vsnprintf(text, (size_t)len + 1, fmt, ap);
        va_end(ap);
    }
    return text;
}

/* ---- path pieces ------------------------------------------------------------- */

char *os_path_join(const char *dir, const char *name)
{
    if (!dir || !*dir) return NULL;
    if (!name) name = "";
    size_t dir_len = strlen(dir);
    if (os_is_dir_sep(*name)) name++;
    bool need_sep = !os_is_dir_sep(dir[dir_len - 1]);
    size_t name_len = strlen(name);
    size_t size = dir_len + need_sep + name_len + 1;
    assert(size <= UINT32_MAX);
    char *joined = (char *)os_zalloc(size);
    memcpy(joined, dir, dir_len);
    if (need_sep) joined[dir_len] = OS_DIR_SEP;
    memcpy(joined + dir_len + need_sep, name, name_len);
    return joined;
}

const char *os_basename(const char *path)
{
    const char *sep = os_last_sep(path);
    return sep ? sep + 1 : path;
}

char *os_basename_copy(const char *path)
{
    return path ? os_strdup(os_basename(path)) : NULL;
}

char *os_basename_to_dot(const char *path)
{
    assert(path);
    const char *base = os_basename(path);
    const char *dot = strrchr(base, '.');
    return os_copy_n(base, dot ? (size_t)(dot - base) + 1 : strlen(base));
}

char *os_dirname(const char *path)
{
    const char *sep = os_last_sep(path);
    return sep ? os_copy_n(path, (size_t)(sep - path)) : NULL;
}

bool os_exists(const char *path)
{
    struct stat st;
    return path && stat(path, &st) == 0;
}

bool os_is_dir(const char *path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

/* ---- directories --------------------------------------------------------------- */

/* 1. `path` must be an existing directory that is no link, else -1.
 * 2. It cannot be listed: 0.
 * 3. Each entry but "." and "..": a directory is removed with its contents,
 *    anything else (a link included) by os_remove_entry; the first failure
 *    ends the walk and is the result.
 * 4. The directory itself, now empty. */
int os_remove_tree(const char *path)
{
    if (!path || !os_is_real_dir(path)) return -1;
    DIR *listing = opendir(path);
    if (!listing) return 0;
    int rc = 0;
    while (rc == 0) {
        struct dirent *entry = readdir(listing);
        if (!entry) break;
        const char *name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        char *child = os_path_join(path, name);
        rc = os_is_real_dir(child) ? os_remove_tree(child) : os_remove_entry(child);
        free(child);
    }
    closedir(listing);
    return rc != 0 ? rc : os_remove_empty_dir(path);
}

int os_list_dir(const char *dir, os_dir_entry_fn fn, void *ctx)
{
    DIR *listing = dir ? opendir(dir) : NULL;
    if (!listing) return -1;
    while (struct dirent *entry = readdir(listing)) {
        const char *name = entry->d_name;
        if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0) fn(name, ctx);
    }
    closedir(listing);
    return 0;
}

/* ---- temporary names ------------------------------------------------------------ */

char *os_temp_path(const char *dir, uint32_t number, const char *ext)
{
    const char *sep = (!ext || ext[0] == '.') ? "" : ".";
    char *name = os_format("%s_tmp_%u%s%s", OS_PROGRAM_TAG, number, sep, ext ? ext : "");
    char *path = os_path_join(dir, name);
    free(name);
    return path;
}

/* ---- streams ---------------------------------------------------------------------- */

/* The mode flag opens the file so that it is never inheritable, not even
 * for a moment: glibc's "e" with O_CLOEXEC; msvcrt's "N" with _O_NOINHERIT,
 * which also keeps the descriptor out of the table _spawnv hands a child. */
FILE *os_fopen_noinherit(const char *path, const char *mode)
{
    char flags[8];
    size_t len = strlen(mode);
    assert(len + strlen(OS_NOINHERIT_MODE) < sizeof flags);
    memcpy(flags, mode, len);
    strcpy(flags + len, OS_NOINHERIT_MODE);
    return fopen(path, flags);
}

bool os_reopen_null(FILE *stream, const char *mode)
{
    return freopen(OS_NULL_DEVICE, mode, stream) != NULL;
}

/* ---- processes ------------------------------------------------------------------ */

uint32_t os_cmdline_max(void)
{
    return OS_CMDLINE_MAX;
}

/* ---- case-insensitive comparisons -------------------------------------------------- */

/* Every byte value lowered as the C locale does: ASCII letters only. */
struct os_case_table {
    unsigned char lower[256];
};

static constexpr os_case_table os_make_case_table(void)
{
    os_case_table t = {};
    for (int c = 0; c < 256; c++) t.lower[c] = (unsigned char)(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return t;
}

static constexpr os_case_table OS_CASE = os_make_case_table();

int os_strnicmp(const char *a, const char *b, size_t n)
{
    const unsigned char *pa = (const unsigned char *)a;
    const unsigned char *pb = (const unsigned char *)b;
    for (size_t i = 0; i < n; i++) {
        if (pa[i] == pb[i]) {
            if (pa[i] == 0) return 0;
            continue;
        }
        int ca = OS_CASE.lower[pa[i]];
        int cb = OS_CASE.lower[pb[i]];
        if (ca != cb) return ca - cb;
    }
    return 0;
}

int os_stricmp(const char *a, const char *b)
{
    return os_strnicmp(a, b, SIZE_MAX);
}

/* Reads byte by byte from the stream's own buffer, which costs time in the
 * bytes read only: fgets cannot say how many bytes it stored when the text
 * holds a NUL, and finding out would mean filling the whole buffer first.
 * Where "r" keeps CR LF (OS_READ_KEEPS_CRLF), the pair is made LF here, as
 * the Windows runtime's text mode does there: it can only stand at the end
 * of what was stored, or be split by a full buffer that ends in CR, where
 * one byte is peeked. */
size_t os_read_text_piece(char *buf, size_t size, FILE *stream)
{
    assert(size >= 2 && size <= INT_MAX);
    size_t n = 0;
    int c;
    while (n < size - 1 && (c = os_getc_unlocked(stream)) != EOF) {
        buf[n++] = (char)c;
        if (c == '\n') break;
    }
    if (OS_READ_KEEPS_CRLF && n >= 2 && buf[n - 1] == '\n' && buf[n - 2] == '\r') {
        buf[n - 2] = '\n';
        n--;
    } else if (OS_READ_KEEPS_CRLF && n == size - 1 && buf[n - 1] == '\r') {
        int next = os_getc_unlocked(stream);
        if (next == '\n') buf[n - 1] = '\n';
        else if (next != EOF) ungetc(next, stream);
    }
    buf[n] = '\0';
    return n;
}
