/*
 * vector.h - the tracked vector, the one list type of the system.
 *
 * A growable array of untyped item pointers.  A vector never owns, copies or
 * frees its items.  Every vector is created with its creator's source file and
 * line (use VEC_NEW / VEC_NEW_SIZED / VEC_COPY); while tracking is on, each new
 * vector gets a record in the vector master list, dumped into the debug trace
 * at the end of the run.
 *
 * Invariants:
 *  - count <= capacity; capacity is 0 or initial * 2^k; slots >= count hold
 *    nothing of meaning (growth does not clear them).
 *  - Growth happens on the operation that finds the vector full: 10, 20, 40...
 *  - A record's capacity equals its vector's; records outlive their vectors.
 *
 * Misuse (NULL where not allowed, iterating without vec_iter_start, updating
 * a freed tracked vector) fails a standard assertion and aborts.
 *
 * Iteration protocol (iterations nest; each start pushes its own iterator):
 *     vec_for_each(v, item) { ... }
 * Leaving such a loop early leaves its iterator on the vector's stack: call
 * vec_iter_end(v, 0) before a break or return inside the body.
 */
#ifndef KVQ_VECTOR_H
#define KVQ_VECTOR_H

#include <cstdint>

struct vec_iter;
struct vec_record;

struct vector {
    uint32_t count;      /* items in use */
    uint32_t capacity;   /* slots in data; 0 until the first growth */
    uint32_t initial;    /* capacity the first growth starts from */
    vec_iter *iterator;  /* top of the iterator stack, NULL when idle */
    void **data;         /* NULL until the first growth */
    vec_record *record;  /* master-list record, NULL when untracked */
};

/* Item comparator for vec_sort: receives pointers to two slots. */
typedef int (*vec_cmp_fn)(const void *slot_a, const void *slot_b);

/* Empty vector whose first growth allocates 10 slots (vec_new) or `initial`
 * slots (vec_new_sized; assert initial != 0).  No data until then. */
vector *vec_new(const char *file, int line);
vector *vec_new_sized(uint32_t initial, const char *file, int line);
#define VEC_NEW() vec_new(__FILE__, __LINE__)
#define VEC_NEW_SIZED(n) vec_new_sized((n), __FILE__, __LINE__)

/* Frees the vector and its data array and returns live iterators to the
 * iterator cache; the items are untouched.  NULL is ignored. */
void vec_free(vector *v);

/* Number of items; 0 for NULL. */
uint32_t vec_size(const vector *v);

/* Stores `item` at the end, growing when full. */
void vec_append(vector *v, const void *item);

/* Stores `item` at min(index, count), moving later items up; live iterators
 * at or past that position advance by one.  Returns the index used. */
uint32_t vec_insert(vector *v, const void *item, uint32_t index);

/* Stores `item` at `index`, growing until max(index, count) < capacity;
 * count becomes index+1 when index >= count (slots between stay NULL). */
void vec_set(vector *v, const void *item, uint32_t index);

/* The item at `index`, NULL when index >= count. */
void *vec_get(const vector *v, uint32_t index);

/* Keeps the first `count` items (count <= the vector's count); the capacity
 * stays. */
void vec_truncate(vector *v, uint32_t count);

/* Shallow copy with the same count, capacity and initial; tracked (with the
 * given file and line) only when `v` is tracked.  NULL gives NULL. */
vector *vec_copy(const vector *v, const char *file, int line);
#define VEC_COPY(v) vec_copy((v), __FILE__, __LINE__)

/* Appends every item of `src`, in order; returns src's count. */
uint32_t vec_append_all(vector *dst, vector *src);

/* Sorts the slots in place with os_qsort (the order of equal items follows
 * its fixed order of work).  An empty vector is left alone. */
void vec_sort(vector *v, vec_cmp_fn cmp);

/* The stacked iterator protocol; see the top of this file. */
void vec_iter_start(vector *v);
bool vec_iter_more(vector *v);
void *vec_iter_next(vector *v);
int vec_iter_end(vector *v, int more);

#define vec_for_each(v, var)                                                     \
    for ((var) = nullptr, vec_iter_start(v);                                     \
         vec_iter_end((v), vec_iter_more(v)                                      \
                               ? ((var) = (decltype(var))vec_iter_next(v), 1)    \
                               : 0);)

/* Switches tracking off, then, when `on`, starts a new master list and
 * switches it on.  The old list is kept for the dump when switching off. */
void vec_set_tracking(bool on);

/* Writes the sorted master list and the per-creation-site summary through
 * db_puts/db_printf.  Does nothing when tracking never started. */
void vec_master_list_dump(void);

#endif /* KVQ_VECTOR_H */
