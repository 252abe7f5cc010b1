/*
 * alloc.h - the allocation primitive and a formatter into heap strings.
 *
 * Running out of memory is handled in exactly one place: the trace core's
 * out-of-memory hook (db_out_of_memory), which the diagnostics make the fatal
 * alert 296 "out of memory" and which never returns, so callers never test a
 * result.
 * Memory is ordinary heap memory, released with free().
 */
#ifndef KVQ_ALLOC_H
#define KVQ_ALLOC_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "osdep.h"

/* `size` zero-filled bytes (0 is allowed and gives a freeable pointer).
 * Never returns NULL: exhaustion is fatal alert 296. */
void *alloc_zeroed(uint32_t size);

/* Heap copy of `s` (strdup) with the same out-of-memory rule. */
char *alloc_strdup(const char *s);

/* Resizes `p` (a block from this module, or NULL with old_size 0) from
 * old_size to new_size >= old_size bytes: the first old_size bytes are kept,
 * the rest are unspecified.  The block may move; the old pointer is then
 * invalid.  Neither filling the new part nor copying a block the heap can
 * grow in place touches the grown pages, so an array that doubles costs
 * memory only as it fills.  Exhaustion is fatal alert 296. */
void *alloc_grow(void *p, size_t old_size, size_t new_size);

/* A zero-filled block of `size` bytes (a multiple of OS_LARGE_PAGE) for a
 * big table, from os_alloc_large; release it with os_free_large.
 * Exhaustion is fatal alert 296. */
void *alloc_large(size_t size);

/* Reports running out of memory (db_out_of_memory) and never returns; for
 * callers that find a request cannot be represented before asking the heap. */
KVQ_NORETURN void alloc_out_of_memory(void);

/* A new heap string holding the printf-style result, cut to at most 4095
 * characters; a longer result writes "buffer overflow in vsnprintf" (no line
 * end) to standard error and returns the cut text.  The caller frees it. */
char *alloc_format(const char *fmt, ...) KVQ_PRINTF(1, 2);
char *alloc_vformat(const char *fmt, va_list ap);

/* The most characters alloc_format returns. */
constexpr uint32_t ALLOC_FORMAT_MAX = 4095;

#endif /* KVQ_ALLOC_H */
