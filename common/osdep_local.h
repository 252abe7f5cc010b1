/*
 * osdep_local.h - what the platform layer's own files share (osdep.cpp,
 * osdep_posix.cpp, osdep_win32.cpp); no other module uses it.
 *
 * Heap helpers: the layer stands below the allocation module, so its blocks
 * come straight from the C library, and a request the heap cannot meet is
 * the trace core's out of memory (db_out_of_memory), which does not return.
 * None of them ever gives NULL; every result is freed with free().
 *
 * Tree primitives: osdep.cpp walks a directory tree to remove it; each
 * platform says what is a directory to walk into and how entries go.
 */
#ifndef KVQ_OSDEP_LOCAL_H
#define KVQ_OSDEP_LOCAL_H

#include <cstddef>
#include <cstdio>

#include "osdep_defs.h"

/* Reads one byte from a stream without locking it (the process has one
 * thread): the runtime's unlocked getc. */
#ifdef _WIN32
inline int os_getc_unlocked(FILE *stream) { return _getc_nolock(stream); }
#else
inline int os_getc_unlocked(FILE *stream) { return getc_unlocked(stream); }
#endif

/* `size` zero-filled bytes (at least one, so the result is freeable). */
void *os_zalloc(size_t size);

/* Heap copy of `s`; of its first `n` bytes, terminated. */
char *os_strdup(const char *s);
char *os_copy_n(const char *s, size_t n);

/* A heap string holding the printf-style result ("" when it cannot be
 * formatted). */
char *os_format(const char *fmt, ...) KVQ_PRINTF(1, 2);

/* True for a directory that is no link (POSIX: a symbolic link; Windows: a
 * junction or a directory link), which os_remove_tree walks into. */
bool os_is_real_dir(const char *path);

/* Removes an entry that os_is_real_dir does not walk into (a file, or a
 * link itself, never its target); removes an empty directory.  0, or
 * non-zero with errno set. */
int os_remove_entry(const char *path);
int os_remove_empty_dir(const char *path);

#endif /* KVQ_OSDEP_LOCAL_H */
