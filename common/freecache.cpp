/*
 * freecache.cpp - recycling of small fixed-size objects.
 *
 * Invariant: the free list holds exactly `nfree` objects, never more than
 * `max_objs`, linked through their first pointer-sized word; every object
 * handed out is all zero.  Getting and putting cost O(1) and, while objects
 * are on the free list, no allocation.
 */
#include "freecache.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "alloc.h"

fc_cache *fc_new(uint64_t obj_size, uint32_t max_objs)
{
    assert(obj_size != 0);
    assert(max_objs != 0);
    assert(obj_size >= sizeof (void*));
    assert(obj_size <= UINT32_MAX); /* alloc_zeroed takes a 32-bit size */
    fc_cache *fc = (fc_cache *)alloc_zeroed(sizeof *fc);
    fc->obj_size = obj_size;
    fc->max_objs = max_objs;
    return fc;
}

void *fc_get(fc_cache *fc)
{
    if (fc == NULL) return NULL;
    void *obj = fc->free_list;
    if (obj == NULL) return alloc_zeroed((uint32_t)fc->obj_size);
    fc->free_list = *(void **)obj;
    fc->nfree--;
    memset(obj, 0, fc->obj_size);
    return obj;
}

uint32_t fc_put(fc_cache *fc, void *obj)
{
    assert(fc != NULL);
    assert(obj != NULL);
    if (fc->nfree >= fc->max_objs) {
        free(obj);
        return 0;
    }
    *(void **)obj = fc->free_list;
    fc->free_list = obj;
    return ++fc->nfree;
}
