/*
 * kvdebug_state.h - state the debug facility's own sources share; no other
 * module includes this header.
 *
 * The "zip" and "debug" items set it (kvdebug.cpp); the package and launch
 * code read it (package.cpp, launch.cpp).
 */
#ifndef KVQ_KVDEBUG_STATE_H
#define KVQ_KVDEBUG_STATE_H

struct hash_table;

extern const char *gZipPath;     /* the package zip, or NULL */
extern hash_table *gDebugSet;    /* base names to debug (any case), or NULL */

#endif /* KVQ_KVDEBUG_STATE_H */
