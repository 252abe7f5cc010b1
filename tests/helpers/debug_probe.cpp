/*
 * debug_probe.cpp - runs debug-module steps in a fresh process, one argument
 * each: "parse:<argument>", "make:<caller>:<callee>" (prints the option or
 * "(none)"), "app:<name>", "finish", "show:<file>" (prints it or "(no <file>)"),
 * and at <file>:9 ("probe.c" until "at:<file>"): "assert:<expression>",
 * "trace:<format>" (arguments 1, 2), "enter:<name>" (with "n = 3"),
 * "exit:<name>", "store:<n>:<file>" (adds the file to the package zip under a
 * name of n letters 'n'); "indebugger" prints "in debugger: <gInDebugger>";
 * then prints "flags=<flag word> level=<assert level>".  As
 * "<any> -s <script> ..." it plays the debugger: prints its arguments one a
 * line, then the script, and exits 5.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "alert.h"
#include "kvdebug.h"
#include "trace.h"

static void show(const char *path)
{
    FILE *f = fopen(path, "r"); /* text, as it was written */
    if (!f) printf("(no %s)\n", path);
    for (int c; f && (c = fgetc(f)) != EOF;) putchar(c);
    if (f) fclose(f);
}

int main(int argc, char **argv)
{
    alert_install_hooks();
    if (argc > 2 && strcmp(argv[1], "-s") == 0) {
        for (int i = 0; i < argc; i++) printf("%s\n", argv[i]);
        show(argv[2]);
        return 5;
    }
    const char *at = "probe.c";
    for (int i = 1; i < argc; i++) {
        const char *step = argv[i], *colon = strchr(step, ':'), *arg = colon ? colon + 1 : "";
        if (strncmp(step, "parse:", 6) == 0) db_parse_options(arg);
        else if (strncmp(step, "app:", 4) == 0) db_set_app_name(arg);
        else if (strncmp(step, "at:", 3) == 0) at = arg;
        else if (strncmp(step, "assert:", 7) == 0) db_assert(arg, at, 9);
        else if (strncmp(step, "trace:", 6) == 0) db_tracef(at, 9, arg, 1, 2);
        else if (strncmp(step, "enter:", 6) == 0) db_enter(at, 9, arg, "n = %d", 3);
        else if (strncmp(step, "exit:", 5) == 0) db_exit(at, 9, arg, NULL);
        else if (strncmp(step, "show:", 5) == 0) show(arg);
        else if (strcmp(step, "finish") == 0) db_finish();
        else if (strncmp(step, "store:", 6) == 0)
            db_package_store(strchr(arg, ':') + 1, std::string(atoi(arg), 'n').c_str(), NULL);
        else if (strcmp(step, "indebugger") == 0) printf("in debugger: %d\n", gInDebugger);
        else if (strncmp(step, "make:", 5) == 0) {
            const char *option = db_make_option((db_caller)atoi(arg), strchr(arg, ':') + 1);
            printf("%s\n", option ? option : "(none)");
        }
    }
    printf("flags=%u level=%u\n", gDebugFlags, gAssertLevel);
    return 0;
}
