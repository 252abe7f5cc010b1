/*
 * osdep_defs.h - the compile-time part of the platform layer: path
 * separators, the separator search, and the compiler attributes.
 *
 * Everything here is a constant, a macro or an inline function: this header
 * includes nothing of the project and needs nothing linked, so every module
 * may use it, down to the trace core at the bottom.  The platform's functions
 * are declared in osdep.h.
 *
 * POSIX rules: the separator is '/', the only one searched for; backslash and
 * colon are ordinary file-name characters.
 *
 * Windows rules: the backslash is the separator written; where a path is
 * split, the last backslash wins, else the last slash, else the last colon.
 */
#ifndef KVQ_OSDEP_DEFS_H
#define KVQ_OSDEP_DEFS_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

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

/* The separator written when paths are joined; how many characters the root
 * of an absolute path takes ("/"; "C:\\"), which archive names leave out; and
 * the characters that end the directory part of a path, in the order they
 * are searched for: the last occurrence of the first one that occurs at all
 * splits the path. */
#ifdef _WIN32
constexpr char OS_DIR_SEP = '\\';
constexpr const char *OS_DIR_SEP_STR = "\\";
constexpr size_t OS_ROOT_LEN = 3;
constexpr const char OS_SEP_PRECEDENCE[] = "\\/:";
#else
constexpr char OS_DIR_SEP = '/';
constexpr const char *OS_DIR_SEP_STR = "/";
constexpr size_t OS_ROOT_LEN = 1;
constexpr const char OS_SEP_PRECEDENCE[] = "/";
#endif

/* True when c is the separator that joins paths (OS_DIR_SEP). */
inline bool os_is_dir_sep(char c) { return c == OS_DIR_SEP; }

/* The separator that splits `path` into directory and last component, found
 * by OS_SEP_PRECEDENCE (POSIX: the last '/'; Windows: the last '\\', else the
 * last '/', else the last ':').  NULL when there is none or
 * `path` is NULL. */
inline const char *os_last_sep(const char *path)
{
    if (path == nullptr) return nullptr;
    for (const char *sep = OS_SEP_PRECEDENCE; *sep != '\0'; sep++) {
        if (const char *last = strrchr(path, *sep)) return last;
    }
    return nullptr;
}

/* ---- device and file-opening names ------------------------------------- */

/* The null device (reads see end of file, writes vanish), and the fopen
 * mode flag that keeps children from inheriting the file: glibc's "e"
 * (O_CLOEXEC), msvcrt's "N" (_O_NOINHERIT). */
#ifdef _WIN32
constexpr const char *OS_NULL_DEVICE = "NUL";
constexpr const char *OS_NOINHERIT_MODE = "N";
#else
constexpr const char *OS_NULL_DEVICE = "/dev/null";
constexpr const char *OS_NOINHERIT_MODE = "e";
#endif

/* Whether a text file read in "r" mode still holds its CR LF pairs, which
 * the reader then turns into LF itself (os_read_text_piece, the intake's
 * splitter): so on POSIX, where "r" reads the bytes as they are.  The
 * Windows runtime's text mode has already made them LF (and stopped at
 * Ctrl-Z), and a second pass would eat the CR of "\r\r\n". */
#ifdef _WIN32
constexpr bool OS_READ_KEEPS_CRLF = false;
#else
constexpr bool OS_READ_KEEPS_CRLF = true;
#endif

/* ---- raw output ---------------------------------------------------------- */

/* Writes the `len` bytes at `text` to descriptor `fd` with one write, so a
 * line written to a file opened by os_open_append arrives whole however
 * many processes append to it; only the rest of a short write (a full disk,
 * a signal) follows in further writes.  False (errno set) when a write
 * fails.  Async-signal-safe and allocation-free, so the diagnostic line of
 * the trace core and the last-resort exit can both use it.
 * Windows: _write, which on a descriptor in text mode writes each "\n" as
 * CR LF; msvcrt translates through a buffer of about 1 KB and writes each
 * buffer-full with one WriteFile, so a longer line arrives in pieces (each
 * still appended whole). */
inline bool os_write_all(int fd, const char *text, size_t len)
{
    while (len > 0) {
#ifdef _WIN32
        /* _write takes an unsigned count; a write is at most INT_MAX bytes. */
        unsigned chunk = len > 0x7fffffffu ? 0x7fffffffu : (unsigned)len;
        int n = _write(fd, text, chunk);
#else
        ssize_t n = write(fd, text, len);
#endif
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text += n;
        len -= (size_t)n;
    }
    return true;
}

#endif /* KVQ_OSDEP_DEFS_H */
