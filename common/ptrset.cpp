/*
 * ptrset.cpp - sets of non-zero pointer-sized values, kept in a skip list.
 *
 * Each element is both key and value of its node, so a lookup result of 0
 * means absent.  The list uses the default key functions: two values that
 * agree in their low 32 bits count as the same element.
 *
 * Invariants:
 *  - A set's list is NULL until its first insertion; then it never changes.
 *  - Set records come from one free-object cache, created with the first set.
 */
#include "ptrset.h"

#include <cassert>
#include <cstddef>

#include "freecache.h"
#include "skiplist.h"

/* Set records are recycled as 32-byte objects, room for the list pointer
 * and more; up to 8192 free ones are kept so that sets made and dropped in
 * bursts cost no heap traffic. */
constexpr uint64_t PTRSET_OBJ_SIZE = 32;
constexpr uint32_t PTRSET_MAX_FREE = 8192;
static_assert(sizeof(ptrset) <= PTRSET_OBJ_SIZE, "set records must fit their cache objects");

static fc_cache *g_set_records;

ptrset *ptrset_new(void)
{
    if (g_set_records == NULL)
        g_set_records = fc_new(PTRSET_OBJ_SIZE, PTRSET_MAX_FREE);
    return (ptrset *)fc_get(g_set_records);
}

uintptr_t ptrset_add(ptrset *sp, uintptr_t value)
{
    assert(sp != NULL);
    if (sp->list == NULL)
        sp->list = sl_new(NULL, NULL);
    uintptr_t found = sl_lookup(sp->list, value);
    if (found != 0)
        return found;
    sl_insert(sp->list, value, value);
    return 1;
}

int ptrset_remove(ptrset *sp, uintptr_t value)
{
    assert(sp != NULL);
    if (sp->list == NULL)
        return 0;
    return sl_delete(sp->list, value) != 0;
}

bool ptrset_contains(ptrset *sp, uintptr_t value)
{
    assert(sp != NULL);
    return sp->list != NULL && sl_lookup(sp->list, value) != 0;
}
