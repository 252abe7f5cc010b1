/*
 * kvinstdir.h - discovery of the installation from the program's own path.
 *
 * The program runs from <ver>/bin, <ver>/tor/bin or <ver>/tor-as/bin ("bin",
 * "tor", "tor-as" in any letter case) and the installation is recognised only
 * when <ver>/tor exists.  A successful discovery is kept for the run; a failed
 * one caches nothing, so a later call tries again.  Failures are results, not
 * alerts; progress is written to the debug trace.  Strings are cached strings.
 */
#ifndef KVQ_KVINSTDIR_H
#define KVQ_KVINSTDIR_H

enum kvinstdir_kind {
    KVINSTDIR_FIRST = 0,
    KVINSTDIR_ROOT = 0,
    KVINSTDIR_VER = 1,
    KVINSTDIR_BIN = 2,
    KVINSTDIR_DOCS = 3,
    KVINSTDIR_INCLUDE = 4,
    KVINSTDIR_ETC = 5,
    KVINSTDIR_TOR = 6,
    /* 7 and 8 name directories of other products of the suite */
    KVINSTDIR_TOR_AS = 9,
    KVINSTDIR_LAST = 10,
};

/* True when the installation root and version directory are known. */
bool set_kvinstall_paths(void);

/* The directory of a kind, or NULL when the installation is not recognised.
 * DB_ASSERT that the kind is below KVINSTDIR_LAST. */
const char *kvinstdir(int kind);

/* Forgets a discovery (tests only: a process normally discovers once). */
void kvinstdir_reset(void);

#endif /* KVQ_KVINSTDIR_H */
