/*
 * skiplist.h - an ordered map from pointer-sized keys to pointer-sized values.
 *
 * Nodes are ascending by key code (the key function's 32-bit result), then by
 * the compare function.  Branching factor 4, at most SL_MAX_LEVEL levels; a
 * list's level only grows.  The update path lives in the list, so searches on
 * one list must not interleave.  Checks are standard assertions.
 */
#ifndef KVQ_SKIPLIST_H
#define KVQ_SKIPLIST_H

#include <cstdint>

constexpr uint32_t SL_MAX_LEVEL = 16;

typedef uint32_t (*sl_key_fn)(uintptr_t key);
typedef int32_t (*sl_cmp_fn)(uintptr_t a, uintptr_t b);

/* A node is one allocation: these fields, then `level` forward links
 * (sl_links). */
struct sl_node {
    uintptr_t value;
    uintptr_t key;
    uint32_t code;       /* key function's result for key */
    uint32_t level;      /* number of forward links, 1..SL_MAX_LEVEL */
};
static_assert(sizeof(sl_node) % alignof(sl_node *) == 0, "the links follow the fields without a gap");

/* The forward links that follow `node`'s fields: link i leads to the next
 * node on level i (NULL at the end). */
inline sl_node **sl_links(sl_node *node)
{
    return reinterpret_cast<sl_node **>(node + 1);
}

struct sl_list {
    sl_node *head;                    /* SL_MAX_LEVEL links; level = list level */
    sl_node *update[SL_MAX_LEVEL];    /* working storage of searches */
    uint32_t count;
    sl_key_fn key_fn;                 /* default: low 32 bits of the key */
    sl_cmp_fn cmp_fn;                 /* default: low 32 bits of a minus b */
};

/* An empty list; NULL functions select the defaults. */
sl_list *sl_new(sl_key_fn key_fn, sl_cmp_fn cmp_fn);

/* 1 when a node was added; 0 when the key was present (its value stays). */
int sl_insert(sl_list *l, uintptr_t key, uintptr_t value);

/* The key's value, or 0 when absent. */
uintptr_t sl_lookup(sl_list *l, uintptr_t key);

/* Removes the key's node and returns its value, or 0 when absent. */
uintptr_t sl_delete(sl_list *l, uintptr_t key);

#endif /* KVQ_SKIPLIST_H */
