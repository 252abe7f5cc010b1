/*
 * tally_table.h - counts per key with a short list of the highest counts.
 *
 * Keys are found by pointer identity (the key table uses voidcmp), so callers
 * pass cached strings.  Counts only grow; tables live to the end of the run.
 * Consistency checks report through the debug assert level (DB_ASSERT).
 */
#ifndef KVQ_TALLY_TABLE_H
#define KVQ_TALLY_TABLE_H

#include <cstdint>

#include "hash.h"

struct vector;

struct tally_entry {
    const void *key;   /* as given; not copied */
    uint32_t count;
    uint8_t in_top;    /* the entry is in the top list */
};

struct tally_table {
    hash_table *table;        /* key -> tally_entry */
    uint32_t top_list_size;   /* most entries of the top list, != 0 */
    vector *top;              /* tally entries, highest count first */
    hash_cmp_fn cmp;          /* orders keys of equal count */
};

tally_table *tally_new(uint32_t size, uint32_t top_list_size, hash_fn hash, hash_cmp_fn cmp);

/* Counts one more occurrence of `key`; returns the new count (1 the first
 * time).  An entry enters a full top list only with a strictly higher count
 * than its last entry. */
uint32_t tally_add(tally_table *t, const void *key);

#endif /* KVQ_TALLY_TABLE_H */
