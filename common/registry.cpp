/*
 * registry.cpp - installation paths by path kind.
 *
 * Every path kind names a directory under the installation's tor directory
 * (<ver>/tor), and the library-specific kinds add the standard C library name
 * below it.  Invariant: results are cached strings built only from the
 * discovered installation (kvinstdir.h) and the current library name; when
 * the installation is not recognised the result is NULL and the caller
 * decides what to report.
 */
#include "registry.h"

#include <cassert>

#include "kvinstdir.h"
#include "osdep.h"
#include "stringcache.h"
#include "trace.h"

struct reg_row {
    int kind;
    const char *dir;   /* NULL: the base itself */
    bool with_lib;     /* followed by the C library name */
};

/* kind            directory    followed by the C library name */
constexpr reg_row REG_ROWS[] = {
    {REG_BASE,      NULL,        false},
    {REG_BIN,       "bin",       false},
    {REG_LIB,       "lib",       true},
    {REG_HELP,      "help",      false},
    {REG_INCLUDE,   "include",   false},
    {REG_DAT,       "dat",       false},
    {REG_SOURCES,   "sources",   true},
    {REG_RESOURCES, "resources", false},
    {REG_DOCS,      "docs",      false},
    {REG_C_INCLUDE, "include",   true},
};

static const char *g_c_stdlib;

/* The row of a path kind; NULL for a number that is not one. */
static const reg_row *reg_row_of(int kind)
{
    for (const reg_row &row : REG_ROWS) {
        if (row.kind == kind) return &row;
    }
    return NULL;
}

const char *reg_create_path(const char *base, int kind)
{
    const reg_row *row = reg_row_of(kind);
    assert(row && row->dir);
    const char *path = str_path_join(base, row->dir);
    return (row->with_lib && g_c_stdlib) ? str_path_join(path, g_c_stdlib) : path;
}

const char *reg_instdir(int kind)
{
    DB_ENTERF("reg_instdir", "%d", kind);
    assert(reg_row_of(kind));
    if (kind == REG_C_INCLUDE && !g_c_stdlib) kind = REG_INCLUDE;
    const char *base = kvinstdir(KVINSTDIR_TOR);
    if (!base || !os_exists(base)) base = set_kvinstall_paths() ? kvinstdir(KVINSTDIR_VER) : NULL;
    if (!base) {
        DB_EXITF("reg_instdir", "Could not locate installation directory");
        return NULL;
    }
    const char *path = kind == REG_BASE ? base : reg_create_path(base, kind);
    DB_EXITF("reg_instdir", "\"%s\"", path);
    return path;
}

const char *reg_mkpath(int kind, const char *name)
{
    assert(name);
    if (os_is_absolute(name)) return str_save(name);
    const char *dir = reg_instdir(kind);
    return dir ? str_path_join(dir, name) : NULL;
}

void reg_set_c_stdlib(const char *name)
{
    DB_ENTERF("reg_set_c_stdlib", "\"%s\"", name ? name : "");
    g_c_stdlib = str_save(name);
    DB_EXITF("reg_set_c_stdlib", "standard C library is now set to: \"%s\"", g_c_stdlib ? g_c_stdlib : "");
}

const char *reg_c_stdlib(void)
{
    return g_c_stdlib;
}
