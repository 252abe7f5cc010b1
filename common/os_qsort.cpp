/*
 * os_qsort.cpp - the in-place sort used by vec_sort.
 *
 * An unstable quicksort whose order of work is fixed: middle-element pivot
 * copied aside, Hoare-style crossing scans that also swap an element with
 * itself, and an explicit stack that always holds the larger part.  Because
 * the order of work is fixed, the final order of elements that compare equal
 * is reproducible on every platform (two equal elements are exchanged, three
 * are reversed); the master-list dumps and the tally top list depend on it.
 * Invariant: the stack never holds more than log2(n) ranges, because every
 * pushed range is at least as large as the one the loop continues with.
 */
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "osdep.h"
#include "trace.h"

/* Pivots of at most this many bytes live on the stack; larger element types
 * (none in this program) take the buffer from the heap. */
enum { QSORT_LOCAL_PIVOT = 800 };

/* One range per bit of a size_t is always enough (see the invariant). */
enum { QSORT_STACK_DEPTH = 64 };

struct qsort_range {
    ptrdiff_t lo, hi;
};

static void qsort_swap(char *a, char *b, size_t size)
{
    for (size_t k = 0; k < size; k++) {
        char t = a[k];
        a[k] = b[k];
        b[k] = t;
    }
}

void os_qsort(void *vbase, size_t n, size_t size, int (*cmp)(const void *, const void *))
{
    if (n < 2) return;
    assert(vbase);
    assert(size < UINT32_MAX);

    char local_pivot[QSORT_LOCAL_PIVOT];
    char *pivot = size < QSORT_LOCAL_PIVOT ? local_pivot : (char *)malloc(size);
    if (pivot == NULL) db_out_of_memory();
    char *base = (char *)vbase;
    qsort_range stack[QSORT_STACK_DEPTH];
    int depth = 0;
    /* Signed indices: the right scan may step one below the range's start. */
    ptrdiff_t lo = 0, hi = (ptrdiff_t)n - 1;

    for (;;) {
        while (lo < hi) {
            memcpy(pivot, base + (size_t)((lo + hi) / 2) * size, size);
            ptrdiff_t i = lo, j = hi;
            do {
                while (cmp(base + (size_t)i * size, pivot) < 0) i++;
                while (cmp(pivot, base + (size_t)j * size) < 0) j--;
                if (i <= j) {
                    qsort_swap(base + (size_t)i * size, base + (size_t)j * size, size);
                    i++;
                    j--;
                }
            } while (i <= j);

            /* Push the larger part (the left one on a tie), go on with the
             * smaller; a part of fewer than two elements is never pushed. */
            if (j - lo >= hi - i) {
                if (lo < j) stack[depth++] = qsort_range{lo, j};
                lo = i;
            } else {
                if (i < hi) stack[depth++] = qsort_range{i, hi};
                hi = j;
            }
        }
        if (depth == 0) break;
        depth--;
        lo = stack[depth].lo;
        hi = stack[depth].hi;
    }
    if (pivot != local_pivot) free(pivot);
}
