/*
 * hash.h - fixed-size chained hash tables with caller-chosen functions.
 *
 * The bucket count is chosen once by the creator and never changes; chains
 * keep insertion order; entries are never removed; tables live to the end of
 * the process.  A table owns its entries, never its keys or values.  While
 * tracking is on, each new table gets a record in the hash master list with
 * usage statistics (util, max_util, max_usage, clashes), dumped into the debug
 * trace at the end of the run.
 *
 * Misuse (size 0, updating a table whose record is not alive) fails a
 * standard assertion.  A NULL table is never accepted.
 */
#ifndef KVQ_HASH_H
#define KVQ_HASH_H

#include <cstdint>

struct vector;
struct hash_record;

typedef uint32_t (*hash_fn)(const void *key);
typedef int (*hash_cmp_fn)(const void *a, const void *b); /* 0 means equal */

struct hash_entry {
    void *value;
    const void *key;
    hash_entry *next;
};

struct hash_table {
    uint32_t size;          /* buckets, fixed, never 0 */
    uint32_t count;         /* entries */
    hash_fn hash;           /* voidhash when the creator gave none */
    hash_cmp_fn cmp;        /* voidcmp when the creator gave none */
    hash_entry **buckets;   /* `size` chain heads */
    hash_record *record;    /* master-list record, NULL when untracked */
};

/* Functions for creators.  voidhash/voidcmp work on pointer identity; the
 * string pair hashes bytes as signed chars (h = h*33 + c from 5381); the
 * nocase pair lowers each byte first and compares with os_stricmp. */
uint32_t voidhash(const void *key);
int voidcmp(const void *a, const void *b);
uint32_t hash_string(const void *s);
uint32_t hash_string_nocase(const void *s);
int hash_strcmp(const void *a, const void *b);
int hash_stricmp(const void *a, const void *b);

/* A new table of `size` buckets (assert size != 0); NULL functions select
 * voidhash / voidcmp.  Tracked when tracking is on. */
hash_table *hash_new(uint32_t size, hash_fn hash, hash_cmp_fn cmp, const char *file, int line);
#define HASH_NEW(size, hash, cmp) hash_new((size), (hash), (cmp), __FILE__, __LINE__)

/* Adds key -> value at the end of its chain and returns 1; returns 0 and
 * changes nothing when an equal key is present.  file/line are the caller's,
 * used in the "HASH @ ..." collision trace line of tracked tables. */
int hash_insert(hash_table *h, const void *key, const void *value, const char *file, int line);
#define HASH_INSERT(h, key, value) hash_insert((h), (key), (value), __FILE__, __LINE__)

/* Value of the first entry whose key compares equal; NULL when none. */
void *hash_lookup(const hash_table *h, const void *key);
bool hash_haskey(const hash_table *h, const void *key);

/* A new vector of all keys, bucket by bucket, each chain from its head.
 * The caller frees it with vec_free. */
vector *hash_keys(const hash_table *h);

void hash_set_tracking(bool on);

/* Writes the master list (most clashes first) through db_puts/db_printf;
 * nothing when no table was created while tracking was on. */
void hash_master_list_dump(void);

#endif /* KVQ_HASH_H */
