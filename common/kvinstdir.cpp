/*
 * kvinstdir.cpp - finds the installation from the program's own path.
 *
 * The program runs from <ver>/bin, <ver>/tor/bin or <ver>/tor-as/bin, and the
 * layout counts as an installation only when <ver>/tor exists; the root is
 * the parent of <ver>.  Invariant: kvinstall_dir and kvinstall_ver are either
 * both unset or both set by one successful discovery, which is then kept for
 * the run; a failed discovery leaves both unset so that a later call tries
 * again.  Progress and failures go to the debug trace only.
 */
#include "kvinstdir.h"

#include <cstdlib>
#include <cstring>

#include "osdep.h"
#include "stringcache.h"
#include "trace.h"

static const char *kvinstall_dir;
static const char *kvinstall_ver;

static const char *const INST_FUNC = "set_kvinstall_paths";

/* Directory of each kind under kvinstall_ver, indexed by kind; NULL for the
 * root and the version directory themselves and for the kinds of other
 * products (7, 8), which this program has no directory for. */
constexpr const char *KVINSTDIR_SUBDIRS[KVINSTDIR_LAST] = {
    /* KVINSTDIR_ROOT */ NULL,
    /* KVINSTDIR_VER */ NULL,
    /* KVINSTDIR_BIN */ "bin",
    /* KVINSTDIR_DOCS */ "docs",
    /* KVINSTDIR_INCLUDE */ "include",
    /* KVINSTDIR_ETC */ "etc",
    /* KVINSTDIR_TOR */ "tor",
    /* 7 */ NULL,
    /* 8 */ NULL,
    /* KVINSTDIR_TOR_AS */ "tor-as",
};

/* Cached directory part of `path`: the root's separator for an entry of the
 * root, NULL when there is no separator or `path` is the root itself. */
static const char *inst_parent(const char *path)
{
    const char *sep = os_last_sep(path);
    if (!sep) return NULL;
    if (sep == path) return path[1] ? OS_DIR_SEP_STR : NULL;
    return str_nsave(path, (size_t)(sep - path));
}

/* Ends a failed discovery with its reason on the EXIT line; `path`, when
 * given, is quoted after the reason. */
static bool inst_fail(const char *reason, const char *path)
{
    if (path) DB_EXITF(INST_FUNC, "%s: \"%s\"", reason, path);
    else DB_EXITF(INST_FUNC, "%s", reason);
    return false;
}

/* Steps up from the bin directory `bin` to the version directory and checks
 * that <ver>/tor exists; records both directories on success. */
static bool inst_discover_from(const char *bin)
{
    if (os_stricmp(os_basename(bin), "bin") != 0)
        return inst_fail("ERROR - the application is not running from a 'bin' directory", NULL);
    const char *ver = inst_parent(bin);
    if (!ver) return inst_fail("ERROR - path not deep enough?", NULL);
    const char *component = os_basename(ver);
    if (!*component) return inst_fail("ERROR - couldn't get a basename from the path", ver);
    bool in_tor = os_stricmp(component, "tor") == 0;
    if (in_tor || os_stricmp(component, "tor-as") == 0) {
        if (in_tor) DB_TRACEF("Identified as running from the 'tor' directory: \"%s\"", ver);
        else DB_TRACEF("Identified as running from the 'tor-as' directory: \"%s\"", ver);
        ver = inst_parent(ver);
        if (!ver) return inst_fail("ERROR - path not deep enough?", NULL);
    }
    const char *tor = str_path_join(ver, "tor");
    if (!os_exists(tor)) {
        DB_TRACEF("The 'tor' directory could not be found: \"%s\"", tor);
        DB_EXIT(INST_FUNC);
        return false;
    }
    DB_TRACEF("Identified 'tor' directory: \"%s\"", tor);
    kvinstall_ver = ver;
    DB_TRACEF("kvinstall_ver has been set to: \"%s\"", kvinstall_ver);
    kvinstall_dir = inst_parent(ver);
    if (!kvinstall_dir) {
        kvinstall_ver = NULL;
        return inst_fail("ERROR - path not deep enough?", NULL);
    }
    DB_TRACEF("kvinstall_dir has been set to: \"%s\"", kvinstall_dir);
    DB_EXIT(INST_FUNC);
    return true;
}

bool set_kvinstall_paths(void)
{
    DB_ENTER(INST_FUNC);
    if (kvinstall_dir && kvinstall_ver) {
        DB_EXIT(INST_FUNC);
        return true;
    }
    char *program = os_program_path();
    const char *dir = program ? inst_parent(program) : NULL;
    free(program);
    size_t len = dir ? strlen(dir) : 0;
    while (len > 0 && (dir[len - 1] == '.' || os_is_dir_sep(dir[len - 1]))) len--;
    if (len == 0) return inst_fail("ERROR - couldn't get a path based on progname", NULL);
    dir = str_nsave(dir, len);
    DB_TRACEF("Application appears to be running from directory: \"%s\"", dir);
    return inst_discover_from(dir);
}

const char *kvinstdir(int path)
{
    DB_ASSERT((path >= KVINSTDIR_FIRST) && (path < KVINSTDIR_LAST));
    if (!set_kvinstall_paths()) return NULL;
    if (path == KVINSTDIR_ROOT) return kvinstall_dir;
    if (path == KVINSTDIR_VER) return kvinstall_ver;
    if (path < KVINSTDIR_FIRST || path >= KVINSTDIR_LAST || !KVINSTDIR_SUBDIRS[path]) return NULL;
    return str_path_join(kvinstall_ver, KVINSTDIR_SUBDIRS[path]);
}

void kvinstdir_reset(void)
{
    kvinstall_dir = NULL;
    kvinstall_ver = NULL;
}
