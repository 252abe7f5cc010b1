/*
 * vector.cpp - the tracked vector: a growable array of untyped item pointers,
 * stacked iterators, and the master list of creation sites for the debug
 * trace.
 *
 * Invariants kept by every operation:
 *  - count <= capacity; capacity is 0 or initial * 2^k; the slots below
 *    count hold the items (NULL where vec_set skipped over some), the slots
 *    beyond are unspecified, so growth never touches memory ahead of use.
 *  - A tracked vector's record holds its current capacity and the largest
 *    count it ever had; records are never freed and outlive their vectors.
 *  - Every iterator on a vector's stack came from the iterator cache and goes
 *    back to it when popped or when the vector is freed.
 */
#include "vector.h"

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "alloc.h"
#include "freecache.h"
#include "osdep.h"
#include "trace.h"

struct vec_iter {
    uint32_t position;  /* index of the next item to return */
    vec_iter *next;     /* the iterator below this one */
};

/* Record flag: the vector has not been freed. */
constexpr uint32_t VEC_REC_ALIVE = 1;

struct vec_record {
    vector *vec;        /* for printing only, also after the vector is freed */
    uint32_t flags;     /* VEC_REC_ALIVE */
    const char *file;   /* creation site, not copied */
    uint32_t line;
    uint32_t capacity;  /* the vector's current capacity */
    uint32_t max_count; /* the largest count the vector ever had */
};

/* Per-creation-site sums of the dump.  `next` keeps the list order (newest
 * site first, the total node last); `chain` links the site index buckets. */
struct vec_summary {
    const char *file;   /* compared by pointer */
    uint32_t line;
    uint64_t living, dead, total;
    uint64_t living_cap, dead_cap, total_cap;
    vec_summary *next;
    vec_summary *chain;
};

/* Iterators are two words; a loop costs no allocation once the cache holds
 * spare ones, and 8192 spares cover any nesting depth seen in practice. */
enum : uint32_t { VEC_ITER_CACHE_MAX = 8192 };

/* Buckets of the summary site index: enough to keep the chains short for the
 * few hundred creation sites a program has. */
enum : uint32_t { VEC_SITE_BUCKETS = 64 };

/* Capacities are 32-bit counts; a growth beyond cannot be represented. */
constexpr uint64_t VEC_MAX_SLOTS = UINT32_MAX;

static bool vec_tracking;
static vector *vec_master;
static fc_cache *vec_iter_cache;
static vec_summary vec_total_node = {"Total Summary", 0, 0, 0, 0, 0, 0, 0, NULL, NULL};
static vec_summary *vec_summary_head = &vec_total_node;
static vec_summary *vec_site_index[VEC_SITE_BUCKETS];

static bool is_alive(const vector *p)
{
    return (p->record->flags & VEC_REC_ALIVE) != 0;
}

static vec_record *vec_record_new(vector *v, const char *file, int line, uint32_t capacity,
                                  uint32_t max_count)
{
    vec_record *r = (vec_record *)alloc_zeroed(sizeof *r);
    r->vec = v;
    r->flags = VEC_REC_ALIVE;
    r->file = file;
    r->line = (uint32_t)line;
    r->capacity = capacity;
    r->max_count = max_count;
    vec_append(vec_master, r);
    return r;
}

/* A fresh untracked vector; the first vector made creates the iterator cache. */
static vector *vec_create(uint32_t initial)
{
    assert(initial != 0); /* a zero start would never grow */
    if (vec_iter_cache == NULL) vec_iter_cache = fc_new(sizeof(vec_iter), VEC_ITER_CACHE_MAX);
    vector *v = (vector *)alloc_zeroed(sizeof *v);
    v->initial = initial;
    return v;
}

vector *vec_new(const char *file, int line)
{
    return vec_new_sized(10, file, line);
}

vector *vec_new_sized(uint32_t initial, const char *file, int line)
{
    vector *v = vec_create(initial);
    if (vec_tracking) v->record = vec_record_new(v, file, line, 0, 0);
    return v;
}

void vec_free(vector *p)
{
    if (p == NULL) return;
    free(p->data);
    while (p->iterator != NULL) {
        vec_iter *it = p->iterator;
        p->iterator = it->next;
        fc_put(vec_iter_cache, it);
    }
    if (p->record != NULL) {
        assert(is_alive(p));
        p->record->flags &= ~VEC_REC_ALIVE;
    }
    free(p);
}

uint32_t vec_size(const vector *v)
{
    return v != NULL ? v->count : 0;
}

/* Makes slot `need` exist: 10, 20, 40, ... from `initial`, doubling until
 * need < capacity.  Growth happens on the call that finds the vector full. */
static void vec_grow(vector *p, uint32_t need)
{
    if (p->capacity != 0 && need < p->capacity) return;
    uint64_t cap = p->capacity != 0 ? 2 * (uint64_t)p->capacity : p->initial;
    while (need >= cap) cap *= 2;
    if (cap > VEC_MAX_SLOTS) alloc_out_of_memory();
    /* Resized in place where the heap allows. */
    p->data = (void **)alloc_grow(p->data, p->capacity * sizeof(void *), cap * sizeof(void *));
    p->capacity = (uint32_t)cap;
    if (p->record != NULL) {
        assert(is_alive(p));
        p->record->capacity = p->capacity;
    }
}

static void vec_note_count(vector *p)
{
    if (p->record != NULL && p->record->max_count < p->count) p->record->max_count = p->count;
}

void vec_append(vector *p, const void *item)
{
    assert(p != NULL);
    vec_grow(p, p->count);
    assert(p->data != NULL);
    p->data[p->count++] = (void *)item;
    vec_note_count(p);
}

uint32_t vec_insert(vector *p, const void *item, uint32_t index)
{
    assert(p != NULL);
    vec_grow(p, p->count);
    assert(p->data != NULL);
    if (index > p->count) index = p->count;
    for (vec_iter *it = p->iterator; it != NULL; it = it->next) {
        if (it->position >= index) it->position++;
    }
    memmove(&p->data[index + 1], &p->data[index], (p->count - index) * sizeof(void *));
    p->data[index] = (void *)item;
    p->count++;
    vec_note_count(p);
    return index;
}

void vec_set(vector *p, const void *item, uint32_t index)
{
    assert(p != NULL);
    vec_grow(p, index > p->count ? index : p->count);
    assert(p->data != NULL);
    if (index > p->count) memset(&p->data[p->count], 0, (index - p->count) * sizeof(void *));
    p->data[index] = (void *)item;
    if (index >= p->count) p->count = index + 1;
    vec_note_count(p);
}

void *vec_get(const vector *p, uint32_t index)
{
    assert(p != NULL);
    if (index >= p->count) return NULL;
    assert(p->data != NULL);
    return p->data[index];
}

void vec_truncate(vector *p, uint32_t count)
{
    assert(p != NULL && count <= p->count);
    p->count = count;
}

vector *vec_copy(const vector *p, const char *file, int line)
{
    if (p == NULL) return NULL;
    vector *c = vec_create(p->initial);
    c->count = p->count;
    c->capacity = p->capacity;
    c->data = (void **)alloc_grow(NULL, 0, p->capacity * sizeof(void *));
    if (p->count != 0) {
        assert(p->data != NULL);
        memcpy(c->data, p->data, p->count * sizeof(void *));
    }
    if (p->record != NULL) {
        assert(is_alive(p));
        c->record = vec_record_new(c, file, line, p->capacity, p->count);
    }
    return c;
}

uint32_t vec_append_all(vector *p, vector *n)
{
    assert(p != NULL);
    assert(n != NULL);
    /* Walks the count taken at the start, so appending a vector to itself
     * doubles it instead of chasing its own growth. */
    uint32_t total = n->count;
    for (uint32_t i = 0; i < total; i++) vec_append(p, n->data[i]);
    return total;
}

void vec_sort(vector *p, vec_cmp_fn cmp)
{
    assert(p != NULL);
    if (p->count == 0) return;
    assert(p->data != NULL);
    os_qsort(p->data, p->count, sizeof(void *), cmp);
}

void vec_iter_start(vector *v)
{
    if (v == NULL) return;
    vec_iter *it = (vec_iter *)fc_get(vec_iter_cache);
    it->next = v->iterator;
    v->iterator = it;
}

bool vec_iter_more(vector *p)
{
    if (p == NULL) return false;
    assert(p->iterator != NULL);
    return p->iterator->position < p->count;
}

void *vec_iter_next(vector *p)
{
    if (p == NULL) return NULL;
    assert(p->iterator != NULL);
    if (p->iterator->position >= p->count) return NULL;
    assert(p->data != NULL);
    return p->data[p->iterator->position++];
}

int vec_iter_end(vector *p, int more)
{
    if (p == NULL) {
        assert(more == 0);
        return more;
    }
    assert(p->iterator != NULL);
    if (more == 0) {
        vec_iter *it = p->iterator;
        p->iterator = it->next;
        fc_put(vec_iter_cache, it);
    }
    return more;
}

void vec_set_tracking(bool on)
{
    vec_tracking = false;
    if (!on) return;
    vec_master = vec_create(10);
    vec_tracking = true;
}

/* ---- the master-list dump ------------------------------------------------- */

/* Largest capacity first, then smallest max_count, file, line, and the higher
 * record address last, so the order is total. */
static int vec_record_order(const void *slot_a, const void *slot_b)
{
    const vec_record *a = *(const vec_record *const *)slot_a;
    const vec_record *b = *(const vec_record *const *)slot_b;
    if (a->capacity != b->capacity) return a->capacity > b->capacity ? -1 : 1;
    if (a->max_count != b->max_count) return a->max_count < b->max_count ? -1 : 1;
    int by_file = strcmp(a->file, b->file);
    if (by_file != 0) return by_file;
    if (a->line != b->line) return a->line < b->line ? -1 : 1;
    if (a == b) return 0;
    return (uintptr_t)a > (uintptr_t)b ? -1 : 1;
}

/* The summary node of a record's creation site, made (and put at the head of
 * the summary list) on its first appearance. */
static vec_summary *vec_summary_site(const vec_record *r)
{
    uint32_t bucket = (uint32_t)(((uintptr_t)r->file >> 3) ^ r->line) % VEC_SITE_BUCKETS;
    for (vec_summary *s = vec_site_index[bucket]; s != NULL; s = s->chain) {
        if (s->file == r->file && s->line == r->line) return s;
    }
    vec_summary *s = (vec_summary *)alloc_zeroed(sizeof *s);
    s->file = r->file;
    s->line = r->line;
    s->next = vec_summary_head;
    vec_summary_head = s;
    s->chain = vec_site_index[bucket];
    vec_site_index[bucket] = s;
    return s;
}

static void vec_summary_add(vec_summary *s, bool alive, uint32_t capacity)
{
    if (alive) {
        s->living++;
        s->living_cap += capacity;
    } else {
        s->dead++;
        s->dead_cap += capacity;
    }
    s->total++;
    s->total_cap += capacity;
}

void vec_master_list_dump(void)
{
    if (vec_master == NULL) return;
    vec_sort(vec_master, vec_record_order);

    db_puts("# Living Vector Master List:");
    db_puts("# ptr    file:line    max_count/capacity    alive");
    vec_record *r;
    vec_for_each(vec_master, r) {
        bool alive = (r->flags & VEC_REC_ALIVE) != 0;
        if (alive) {
            db_printf("# %p    %s:%d    %u/%u    %c", (void *)r->vec, r->file, (int)r->line,
                      r->max_count, r->capacity, 'Y');
        }
        vec_summary_add(vec_summary_site(r), alive, r->capacity);
        vec_summary_add(&vec_total_node, alive, r->capacity);
    }

    db_puts("# Vector Master List Summary:");
    db_puts("#                                                                  Living"
            "              Dead                Total");
    db_puts("#                                file:line                         vectors/capacity"
            "    vectors/capacity    vectors/capacity");
    for (const vec_summary *s = vec_summary_head; s != NULL; s = s->next) {
        db_printf("# %35s:%-5d                        %ju/%ju    %ju/%ju    %ju/%ju", s->file,
                  (int)s->line, (uintmax_t)s->living, (uintmax_t)s->living_cap, (uintmax_t)s->dead,
                  (uintmax_t)s->dead_cap, (uintmax_t)s->total, (uintmax_t)s->total_cap);
    }
}
