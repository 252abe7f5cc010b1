/*
 * freecache.h - recycling of small fixed-size objects.
 *
 * Objects given back are kept on a LIFO free list, up to max_objs, and handed
 * out again (cleared to zero) instead of allocating.  The cache owns what is on
 * its free list.  Checks are standard assertions.
 */
#ifndef KVQ_FREECACHE_H
#define KVQ_FREECACHE_H

#include <cstdint>

struct fc_cache {
    uint64_t obj_size;  /* size of every object, >= sizeof(void *) */
    uint32_t nfree;     /* objects on the free list */
    uint32_t max_objs;  /* most objects the free list keeps, != 0 */
    void *free_list;    /* first free object; its first word links the next */
};

/* A new empty cache; asserts obj_size != 0, max_objs != 0 and
 * obj_size >= sizeof(void *). */
fc_cache *fc_new(uint64_t obj_size, uint32_t max_objs);

/* An all-zero object of obj_size bytes (reused when one is free); NULL when
 * `fc` is NULL. */
void *fc_get(fc_cache *fc);

/* Gives `obj` back: returns the new number free, or 0 when the list was full
 * and the object went back to the system allocator. */
uint32_t fc_put(fc_cache *fc, void *obj);

#endif /* KVQ_FREECACHE_H */
