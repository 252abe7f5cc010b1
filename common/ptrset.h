/*
 * ptrset.h - a set of non-zero pointer-sized values on a skip list.
 *
 * An element is stored as both key and value; 0 cannot be an element.  Set
 * records come from a free-object cache (32-byte objects, up to 8192 kept).
 */
#ifndef KVQ_PTRSET_H
#define KVQ_PTRSET_H

#include <cstdint>

struct sl_list;

struct ptrset {
    sl_list *list; /* created by the first insertion */
};

ptrset *ptrset_new(void);

/* Returns the value when it is already present; otherwise adds it, returns 1. */
uintptr_t ptrset_add(ptrset *sp, uintptr_t value);

/* 1 when removed; 0 when absent or the set is still empty.  assert sp. */
int ptrset_remove(ptrset *sp, uintptr_t value);

/* assert sp. */
bool ptrset_contains(ptrset *sp, uintptr_t value);

#endif /* KVQ_PTRSET_H */
