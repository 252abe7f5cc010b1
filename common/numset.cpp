/*
 * numset.cpp - sets of unsigned 64-bit numbers on a pointer set.
 *
 * The number n is stored as n + 1, because a pointer set cannot hold 0; so
 * 2^64 - 1, whose successor wraps to 0, can never be an element.  The pointer
 * set's default key function looks at the low 32 bits only: numbers that
 * agree in those bits count as the same element.
 */
#include "numset.h"

#include <cassert>

static_assert(sizeof(uintptr_t) >= sizeof(uint64_t), "a number set stores 64-bit numbers as pointer-sized values");

numset *numset_new(void)
{
    return ptrset_new();
}

bool numset_canContain(uint64_t n)
{
    return n != UINT64_MAX;
}

uintptr_t numset_add(numset *s, uint64_t n)
{
    assert(numset_canContain(n));
    return ptrset_add(s, (uintptr_t)(n + 1));
}

int numset_remove(numset *s, uint64_t n)
{
    return ptrset_remove(s, (uintptr_t)(n + 1));
}

bool numset_contains(numset *s, uint64_t n)
{
    return numset_canContain(n) && ptrset_contains(s, (uintptr_t)(n + 1));
}
