/*
 * numset.h - a set of unsigned 64-bit numbers: a pointer set holding n + 1.
 *
 * 2^64 - 1 cannot be an element: numset_canContain is false for it, adding it
 * fails a standard assertion, and asking for it answers false.
 */
#ifndef KVQ_NUMSET_H
#define KVQ_NUMSET_H

#include <cstdint>

#include "ptrset.h"

typedef ptrset numset;

numset *numset_new(void);
bool numset_canContain(uint64_t n);
uintptr_t numset_add(numset *s, uint64_t n);
int numset_remove(numset *s, uint64_t n);
bool numset_contains(numset *s, uint64_t n);

#endif /* KVQ_NUMSET_H */
