/*
 * skiplist.cpp - an ordered map from pointer-sized keys to values.
 *
 * A skip list with branching factor 4: each node carries 1 to SL_MAX_LEVEL
 * forward links, and a node on level i is on every level below it too.
 *
 * Invariants:
 *  - On every level the nodes are ascending by key code (unsigned), then by
 *    the compare function; no two nodes hold the same key (equal code and
 *    comparison 0).
 *  - The head has SL_MAX_LEVEL links; its level field is the list level,
 *    which starts at 1, never exceeds SL_MAX_LEVEL and never goes down.
 *    Head links at and above the list level are unused.
 *  - count is the number of nodes on level 0.
 */
#include "skiplist.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "alloc.h"

/* The generator is seeded once for the whole process, by the first draw. */
static bool g_rand_seeded;

static uint32_t sl_default_key(uintptr_t key)
{
    return (uint32_t)key;
}

static int32_t sl_default_cmp(uintptr_t a, uintptr_t b)
{
    return (int32_t)((uint32_t)a - (uint32_t)b);
}

/* One zeroed allocation holding the fields and `level` links. */
static sl_node *sl_node_new(uint32_t level)
{
    size_t size = sizeof(sl_node) + level * sizeof(sl_node *);
    sl_node *node = (sl_node *)alloc_zeroed((uint32_t)size);
    node->level = level;
    return node;
}

sl_list *sl_new(sl_key_fn key_fn, sl_cmp_fn cmp_fn)
{
    sl_list *l = (sl_list *)alloc_zeroed(sizeof(sl_list));
    l->head = sl_node_new(SL_MAX_LEVEL);
    l->head->level = 1;
    l->key_fn = key_fn != NULL ? key_fn : sl_default_key;
    l->cmp_fn = cmp_fn != NULL ? cmp_fn : sl_default_cmp;
    return l;
}

/* Finds the node of `key` (whose key code is `code`).  With `update`, the
 * list's update path receives, on each level, the last node before the
 * key's position.  Without it the search ends at the first match, on
 * whatever level it is met. */
static sl_node *sl_search(sl_list *l, uintptr_t key, uint32_t code, bool update)
{
    uint32_t level = l->head->level;
    if (update)
        memset(l->update, 0, level * sizeof(sl_node *));

    sl_node *x = l->head;
    sl_node *next = NULL;
    bool same = false;
    for (uint32_t i = level; i-- > 0;) {
        same = false;
        while ((next = sl_links(x)[i]) != NULL) {
            if (next->code != code) {
                if (next->code > code)
                    break;
                x = next;
                continue;
            }
            int32_t c = l->cmp_fn(key, next->key);
            if (c > 0) {
                x = next;
                continue;
            }
            same = c == 0;
            if (same && !update)
                return next;
            break;
        }
        if (update)
            l->update[i] = x;
    }
    return same ? next : NULL;
}

/* 1, then one more level with probability 1/4 per step, at most one above
 * the list level and at most SL_MAX_LEVEL. */
static uint32_t sl_random_level(uint32_t list_level)
{
    if (!g_rand_seeded) {
        srand(0);
        g_rand_seeded = true;
    }
    uint32_t level = 1;
    while ((rand() & 3) == 0 && level <= list_level && level < SL_MAX_LEVEL)
        level++;
    return level;
}

int sl_insert(sl_list *l, uintptr_t key, uintptr_t value)
{
    uint32_t code = l->key_fn(key);
    if (sl_search(l, key, code, true) != NULL)
        return 0;

    uint32_t level = sl_random_level(l->head->level);
    sl_node *node = sl_node_new(level);
    node->key = key;
    node->value = value;
    node->code = code;
    if (level > l->head->level) {
        l->head->level = level;
        sl_links(l->head)[level - 1] = NULL;
        l->update[level - 1] = l->head;
    }
    for (uint32_t i = level; i-- > 0;) {
        sl_node *op = l->update[i];
        assert(op);
        sl_links(node)[i] = sl_links(op)[i];
        sl_links(op)[i] = node;
    }
    l->count++;
    return 1;
}

uintptr_t sl_lookup(sl_list *l, uintptr_t key)
{
    sl_node *node = sl_search(l, key, l->key_fn(key), false);
    return node != NULL ? node->value : 0;
}

uintptr_t sl_delete(sl_list *l, uintptr_t key)
{
    sl_node *node = sl_search(l, key, l->key_fn(key), true);
    if (node == NULL)
        return 0;
    for (uint32_t i = node->level; i-- > 0;) {
        sl_node *op = l->update[i];
        assert(op);
        sl_links(op)[i] = sl_links(node)[i];
    }
    l->count--;
    uintptr_t value = node->value;
    free(node);
    return value;
}
