/*
 * osdep_heap.h - the heap helpers the platform layer's own files share
 * (osdep.cpp, osdep_posix.cpp, osdep_win32.cpp); no other module uses them.
 *
 * The layer stands below the allocation module: its blocks come straight
 * from the C library, and a request the heap cannot meet is the trace core's
 * out of memory (db_out_of_memory), which does not return.  So none of these
 * ever gives NULL, and every result is freed with free().
 */
#ifndef KVQ_OSDEP_HEAP_H
#define KVQ_OSDEP_HEAP_H

#include <cstddef>

#include "osdep_defs.h"

/* `size` zero-filled bytes (at least one, so the result is freeable). */
void *os_zalloc(size_t size);

/* Heap copy of `s`; of its first `n` bytes, terminated. */
char *os_strdup(const char *s);
char *os_copy_n(const char *s, size_t n);

/* A heap string holding the printf-style result ("" when it cannot be
 * formatted). */
char *os_format(const char *fmt, ...) KVQ_PRINTF(1, 2);

#endif /* KVQ_OSDEP_HEAP_H */
