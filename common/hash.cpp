/*
 * hash.cpp - fixed-size chained hash tables and their usage statistics.
 *
 * Invariants:
 *  - The bucket count never changes; an entry is in the chain of bucket
 *    hash(key) % size, chains keep insertion order, entries are never removed.
 *  - No two entries of a table have keys that compare equal.
 *  - A tracked table's record has util = the number of non-empty buckets,
 *    max_usage = the largest count, clashes = the sum over all inserts of the
 *    entries each new entry had to pass in its bucket.
 */
#include "hash.h"

#include <cassert>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "alloc.h"
#include "osdep.h"
#include "trace.h"
#include "vector.h"

/* Record flags. */
constexpr uint32_t HASH_REC_ALIVE = 1;
constexpr uint32_t HASH_REC_VOIDCMP = 2;  /* created without a compare function */
constexpr uint32_t HASH_REC_VOIDHASH = 4; /* created without a hash function */

struct hash_record {
    hash_table *table;
    uint32_t flags;      /* HASH_REC_* */
    const char *file;    /* creation site, not copied */
    uint32_t line;
    uint32_t capacity;   /* the bucket count */
    uint32_t max_usage;  /* largest count */
    uint32_t max_util;   /* largest number of non-empty buckets */
    uint32_t util;       /* non-empty buckets now */
    uint32_t clashes;
};

static bool hash_tracking;
static vector *hash_master;

static bool is_alive(const hash_table *h)
{
    return (h->record->flags & HASH_REC_ALIVE) != 0;
}

uint32_t voidhash(const void *key)
{
    return (uint32_t)(uintptr_t)key;
}

int voidcmp(const void *a, const void *b)
{
    return a == b ? 0 : 1;
}

/* Bytes count as signed chars: 0x80..0xFF add c - 256. */
uint32_t hash_string(const void *s)
{
    uint32_t h = 5381;
    for (const signed char *c = (const signed char *)s; *c != 0; c++) h = h * 33 + (uint32_t)*c;
    return h;
}

/* tolower is only defined on unsigned char values; in the C locale it leaves
 * bytes >= 0x80 alone, so converting back to signed char gives the signed
 * value that the hash adds for them. */
uint32_t hash_string_nocase(const void *s)
{
    uint32_t h = 5381;
    for (const unsigned char *c = (const unsigned char *)s; *c != 0; c++) {
        h = h * 33 + (uint32_t)(signed char)tolower(*c);
    }
    return h;
}

int hash_strcmp(const void *a, const void *b)
{
    return strcmp((const char *)a, (const char *)b);
}

int hash_stricmp(const void *a, const void *b)
{
    return os_stricmp((const char *)a, (const char *)b);
}

hash_table *hash_new(uint32_t size, hash_fn hash, hash_cmp_fn cmp, const char *file, int line)
{
    assert(size != 0);
    assert(size <= UINT32_MAX / sizeof(hash_entry *)); /* alloc_zeroed's 32-bit size */
    hash_table *h = (hash_table *)alloc_zeroed(sizeof *h);
    h->size = size;
    h->hash = hash != NULL ? hash : voidhash;
    h->cmp = cmp != NULL ? cmp : voidcmp;
    h->buckets = (hash_entry **)alloc_zeroed((uint32_t)(size * sizeof(hash_entry *)));
    if (!hash_tracking) return h;

    if (hash_master == NULL) hash_master = VEC_NEW();
    hash_record *r = (hash_record *)alloc_zeroed(sizeof *r);
    r->table = h;
    r->flags = HASH_REC_ALIVE | (cmp == NULL ? HASH_REC_VOIDCMP : 0) | (hash == NULL ? HASH_REC_VOIDHASH : 0);
    r->file = file;
    r->line = (uint32_t)line;
    r->capacity = size;
    vec_append(hash_master, r);
    h->record = r;
    return h;
}

/* Accounts one new entry that passed `passed` entries of its chain.  The
 * record is complete before the trace line is written: tracing caches
 * strings, which may insert into this very table. */
static void hash_note_insert(hash_table *h, uint32_t passed, const void *key, const void *value,
                             const char *file, int line)
{
    hash_record *r = h->record;
    assert(is_alive(h));
    if (passed == 0) {
        r->util++;
        if (r->max_util < r->util) r->max_util = r->util;
    } else {
        r->clashes += passed;
    }
    if (r->max_usage < h->count) r->max_usage = h->count;
    if (passed != 0) {
        db_tracef(file, line, "HASH @ %s:%d (%u/%u) clashed %d times inserting (%p,%p)", r->file,
                  (int)r->line, h->count, h->size, (int)passed, key, value);
    }
}

int hash_insert(hash_table *h, const void *key, const void *value, const char *file, int line)
{
    hash_entry **link = &h->buckets[h->hash(key) % h->size];
    uint32_t passed = 0;
    for (; *link != NULL; link = &(*link)->next, passed++) {
        if (h->cmp(key, (*link)->key) == 0) return 0;
    }
    hash_entry *e = (hash_entry *)alloc_zeroed(sizeof *e);
    e->key = key;
    e->value = (void *)value;
    *link = e;
    h->count++;
    if (h->record != NULL) hash_note_insert(h, passed, key, value, file, line);
    return 1;
}

static hash_entry *hash_find(const hash_table *h, const void *key)
{
    hash_entry *e = h->buckets[h->hash(key) % h->size];
    while (e != NULL && h->cmp(key, e->key) != 0) e = e->next;
    return e;
}

void *hash_lookup(const hash_table *h, const void *key)
{
    hash_entry *e = hash_find(h, key);
    return e != NULL ? e->value : NULL;
}

bool hash_haskey(const hash_table *h, const void *key)
{
    return hash_find(h, key) != NULL;
}

vector *hash_keys(const hash_table *h)
{
    vector *keys = VEC_NEW();
    for (uint32_t b = 0; b < h->size; b++) {
        for (const hash_entry *e = h->buckets[b]; e != NULL; e = e->next) vec_append(keys, e->key);
    }
    return keys;
}

void hash_set_tracking(bool on)
{
    hash_tracking = on;
}

/* Most clashes first; ties by the higher record address. */
static int hash_record_order(const void *slot_a, const void *slot_b)
{
    const hash_record *a = *(const hash_record *const *)slot_a;
    const hash_record *b = *(const hash_record *const *)slot_b;
    if (a->clashes != b->clashes) return a->clashes > b->clashes ? -1 : 1;
    if (a == b) return 0;
    return (uintptr_t)a > (uintptr_t)b ? -1 : 1;
}

static char hash_flag_char(uint32_t flags, uint32_t bit)
{
    return (flags & bit) != 0 ? 'Y' : 'n';
}

void hash_master_list_dump(void)
{
    if (hash_master == NULL) return;
    vec_sort(hash_master, hash_record_order);

    db_puts("# Hash Table Master List:");
    db_puts("# ptr    file:line    max_util/capacity    max_usage/capacity    clashes    voidcmp"
            "    voidhash    alive");
    if (vec_size(hash_master) == 0) db_puts("# No hash tables were used");
    hash_record *r;
    vec_for_each(hash_master, r) {
        db_printf("# %p    %s:%d    %u/%u    %u/%u    %u    %c    %c    %c", (void *)r->table, r->file,
                  (int)r->line, r->max_util, r->capacity, r->max_usage, r->capacity, r->clashes,
                  hash_flag_char(r->flags, HASH_REC_VOIDCMP), hash_flag_char(r->flags, HASH_REC_VOIDHASH),
                  hash_flag_char(r->flags, HASH_REC_ALIVE));
    }
}
