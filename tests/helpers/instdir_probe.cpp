/*
 * instdir_probe - reports the installation it finds from where it lies; the
 * tests copy it into installation-shaped trees and run it from there.
 *
 *   instdir_probe             one "key=value" line per result (see report)
 *   instdir_probe retry DIR   discovery, then DIR is created, then discovery
 *                             again: "first=0|1" and "second=0|1"
 *   instdir_probe trace       the report, with the debug trace (trace lines,
 *                             ENTER and EXIT) written to standard error
 *   instdir_probe assert      asks for kind KVINSTDIR_LAST with the assert
 *                             level at fatal
 *
 * NULL results print as "(none)".
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kvdebug.h"
#include "kvinstdir.h"
#include "osdep.h"
#include "registry.h"

static void show(const char *key, const char *value)
{
    printf("%s=%s\n", key, value ? value : "(none)");
}

static void report(void)
{
    char *program = os_program_path();
    show("prog", program);
    free(program);
    printf("found=%d\n", set_kvinstall_paths() ? 1 : 0);
    show("root", kvinstdir(KVINSTDIR_ROOT));
    show("ver", kvinstdir(KVINSTDIR_VER));
    show("tor_as", kvinstdir(KVINSTDIR_TOR_AS));
    show("other_product", kvinstdir(7));
    show("beyond_last", kvinstdir(KVINSTDIR_LAST));
    show("negative", kvinstdir(-1));
    show("include_nolib", reg_instdir(REG_C_INCLUDE));
    reg_set_c_stdlib("c90");
    show("base", reg_instdir(REG_BASE));
    show("bin", reg_instdir(REG_BIN));
    show("dat", reg_instdir(REG_DAT));
    show("lib", reg_instdir(REG_LIB));
    show("c_include", reg_instdir(REG_C_INCLUDE));
    show("torc", reg_mkpath(REG_BIN, "torc"));
    show("absolute", reg_mkpath(REG_BIN, "/opt/other/torc"));
    reg_set_c_stdlib("c99");
    show("bin_c99", reg_instdir(REG_BIN));
    show("lib_c99", reg_instdir(REG_LIB));
    show("c_include_c99", reg_instdir(REG_C_INCLUDE));
}

int main(int argc, char **argv)
{
    os_set_argv0(argv[0]);
    if (argc == 3 && strcmp(argv[1], "retry") == 0) {
        printf("first=%d\n", set_kvinstall_paths() ? 1 : 0);
        if (os_make_dirs(argv[2]) != 0) perror(argv[2]);
        printf("second=%d\n", set_kvinstall_paths() ? 1 : 0);
        show("ver", kvinstdir(KVINSTDIR_VER));
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "trace") == 0) {
        gFile = stderr;
        gDebugFlags = DB_FLAG_TRACE;
    }
    if (argc == 2 && strcmp(argv[1], "assert") == 0) {
        gAssertLevel = DB_ASSERT_FATAL;
        show("beyond_last", kvinstdir(KVINSTDIR_LAST));
        return 0;
    }
    report();
    return 0;
}
