/*
 * tally_table.cpp - occurrence counts per key with a short list of the keys
 * counted most often.
 *
 * Invariants:
 *  - Each key (by pointer identity) has exactly one entry; counts only grow.
 *  - The top list holds at most top_list_size entries, each marked in_top,
 *    and no entry outside it is marked.  An entry enters a full list only by
 *    a strictly higher count than the list's last entry.
 */
#include "tally_table.h"

#include "alloc.h"
#include "trace.h"
#include "vector.h"

/* The key order of the table being sorted; vec_sort's comparator receives
 * only the two slots, so tally_add sets this just before each sort. */
static hash_cmp_fn tally_sort_cmp;

/* Higher counts first; equal counts by the table's key comparison. */
static int tally_top_order(const void *slot_a, const void *slot_b)
{
    const tally_entry *a = *(const tally_entry *const *)slot_a;
    const tally_entry *b = *(const tally_entry *const *)slot_b;
    if (a->count != b->count) return a->count > b->count ? -1 : 1;
    return tally_sort_cmp != NULL ? tally_sort_cmp(a->key, b->key) : 0;
}

static void tally_sort_top(tally_table *t)
{
    tally_sort_cmp = t->cmp;
    vec_sort(t->top, tally_top_order);
}

tally_table *tally_new(uint32_t size, uint32_t top_list_size, hash_fn hash, hash_cmp_fn cmp)
{
    DB_ASSERT(size);
    DB_ASSERT(top_list_size);
    tally_table *tab = (tally_table *)alloc_zeroed(sizeof *tab);
    DB_ASSERT(tab != NULL);
    /* Keys are compared by identity: the table's default comparison. */
    tab->table = HASH_NEW(size, hash, NULL);
    DB_ASSERT(tab->table);
    tab->top_list_size = top_list_size;
    tab->top = VEC_NEW();
    tab->cmp = cmp;
    return tab;
}

/* Puts `te` into the top list when it belongs there (see the invariants). */
static void tally_update_top(tally_table *t, tally_entry *te)
{
    if (te->in_top) {
        tally_sort_top(t);
        return;
    }
    uint32_t n = vec_size(t->top);
    if (n < t->top_list_size) {
        vec_append(t->top, te);
        te->in_top = 1;
        tally_sort_top(t);
        return;
    }
    /* n is 0 only for a top_list_size of 0 let through by a lenient assert
     * level: vec_get then gives NULL and nothing ever enters. */
    tally_entry *last = (tally_entry *)vec_get(t->top, n - 1);
    if (last == NULL || last->count >= te->count) return;
    last->in_top = 0;
    vec_set(t->top, te, n - 1);
    te->in_top = 1;
}

uint32_t tally_add(tally_table *t, const void *key)
{
    DB_ASSERT(t != NULL);
    tally_entry *te = (tally_entry *)hash_lookup(t->table, key);
    if (te != NULL) {
        te->count++;
        DB_ASSERT(te->count != 0);
    } else {
        te = (tally_entry *)alloc_zeroed(sizeof *te);
        DB_ASSERT(te);
        te->key = key;
        te->count = 1;
        HASH_INSERT(t->table, key, te);
    }
    tally_update_top(t, te);
    return te->count;
}
