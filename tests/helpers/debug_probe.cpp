/*
 * debug_probe.cpp - drives the debug module in a fresh process for the
 * option tests.  Each argument is one step, run in order:
 *     parse:<argument>      db_parse_options
 *     make:<caller>:<name>  prints db_make_option's result, or "(none)"
 *     app:<name>            db_set_app_name
 *     assert:<expression>   db_assert(expression, "probe.c", 9)
 *     trace:<text>          a trace line under flag 1
 *     finish                db_finish
 * and the last line printed is "flags=<word> level=<assert level>".
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kvdebug.h"

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *step = argv[i];
        const char *arg = strchr(step, ':') ? strchr(step, ':') + 1 : "";
        if (strncmp(step, "parse:", 6) == 0) {
            db_parse_options(arg);
        } else if (strncmp(step, "make:", 5) == 0) {
            const char *option = db_make_option((db_caller)atoi(arg), strchr(arg, ':') + 1);
            printf("%s\n", option ? option : "(none)");
        } else if (strncmp(step, "app:", 4) == 0) {
            db_set_app_name(arg);
        } else if (strncmp(step, "assert:", 7) == 0) {
            db_assert(arg, "probe.c", 9);
        } else if (strncmp(step, "trace:", 6) == 0) {
            DB_TRACEF("%s", arg);
        } else if (strcmp(step, "finish") == 0) {
            db_finish();
        }
        fflush(stdout);
    }
    printf("flags=%u level=%u\n", gDebugFlags, gAssertLevel);
    return 0;
}
