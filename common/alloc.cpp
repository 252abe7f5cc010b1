/*
 * alloc.cpp - the allocation primitive and the formatter into heap strings.
 *
 * Invariant: no function here returns NULL.  Exhaustion of the heap is
 * reported in exactly one place (alloc_out_of_memory), through the trace
 * core's out-of-memory hook, which the diagnostics make the fatal alert "out
 * of memory", so no caller anywhere tests an allocation result.
 */
#include "alloc.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "trace.h"

void alloc_out_of_memory(void)
{
    db_out_of_memory();
}

void *alloc_zeroed(uint32_t size)
{
    /* calloc(0) may legitimately return NULL; one byte keeps the result a
     * real, freeable pointer for the empty request. */
    void *p = calloc(size != 0 ? size : 1, 1);
    if (p == NULL) alloc_out_of_memory();
    return p;
}

void *alloc_grow(void *p, size_t old_size, size_t new_size)
{
    assert(new_size >= old_size);
    char *q = (char *)realloc(p, new_size != 0 ? new_size : 1);
    if (q == NULL) alloc_out_of_memory();
    return q;
}

void *alloc_large(size_t size)
{
    void *p = os_alloc_large(size);
    if (p == NULL) alloc_out_of_memory();
    return p;
}

char *alloc_strdup(const char *s)
{
    size_t len = strlen(s);
    char *copy = (char *)malloc(len + 1);
    if (copy == NULL) alloc_out_of_memory();
    memcpy(copy, s, len + 1);
    return copy;
}

char *alloc_vformat(const char *fmt, va_list ap)
{
    /* A local work buffer: the result is copied out at its exact length, so
     * the only allocation per call is the returned string itself. */
    char buf[ALLOC_FORMAT_MAX + 1];
    int need = vsnprintf(buf, sizeof buf, fmt, ap);
    if (need > (int)ALLOC_FORMAT_MAX) fputs("buffer overflow in vsnprintf", stderr);
    if (need < 0) buf[0] = '\0';
    return alloc_strdup(buf);
}

char *alloc_format(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    char *s = alloc_vformat(fmt, ap);
    va_end(ap);
    return s;
}
