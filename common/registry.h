/*
 * registry.h - installation paths by path kind.
 *
 * Paths are built under <ver>/tor (kvinstdir.h): REG_BIN gives <ver>/tor/bin,
 * REG_DAT <ver>/tor/dat; the kinds marked "+lib" below are further joined with
 * the standard C library name (reg_set_c_stdlib; "c90" after start-up).
 * Results are cached strings, NULL when the installation is not recognised.
 */
#ifndef KVQ_REGISTRY_H
#define KVQ_REGISTRY_H

enum reg_kind {
    REG_BASE = 0,      /* the base itself (reg_instdir only) */
    REG_BIN = 1,
    REG_LIB = 2,       /* +lib */
    REG_HELP = 3,
    REG_INCLUDE = 4,
    REG_DAT = 5,
    REG_SOURCES = 6,   /* +lib */
    REG_RESOURCES = 7,
    REG_DOCS = 8,
    REG_C_INCLUDE = 10, /* +lib; REG_INCLUDE while no library name is set */
};

/* base joined with the kind's directory (and the library name for "+lib"
 * kinds when one is set). */
const char *reg_create_path(const char *base, int kind);

/* The installation path of a kind, or NULL. */
const char *reg_instdir(int kind);

/* `name` itself (cached) when absolute; else reg_instdir(kind)/name; NULL
 * when the installation is not recognised. */
const char *reg_mkpath(int kind, const char *name);

/* Stores a cached copy of the standard C library name (NULL clears it). */
void reg_set_c_stdlib(const char *name);
const char *reg_c_stdlib(void);

#endif /* KVQ_REGISTRY_H */
