/*
 * debug_probe.cpp - runs debug-module steps in a fresh process, one argument
 * each: "parse:<argument>", "make:<caller>:<callee>" (prints the option made
 * or "(none)"), "app:<name>", "assert:<expression>" (from probe.c:9),
 * "trace:<text>" (under flag 1), "finish"; then prints "flags=<flag word>
 * level=<assert level>".  Started as "<any> -s <script> ..." it plays the
 * debugger: prints its arguments one a line, the script's bytes, exits 5.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kvdebug.h"

static int fake_debugger(int argc, char **argv)
{
    for (int i = 0; i < argc; i++) printf("%s\n", argv[i]);
    FILE *script = fopen(argv[2], "rb");
    for (int c; script && (c = fgetc(script)) != EOF;) putchar(c);
    return 5;
}

int main(int argc, char **argv)
{
    if (argc > 2 && strcmp(argv[1], "-s") == 0) return fake_debugger(argc, argv);
    for (int i = 1; i < argc; i++) {
        const char *step = argv[i], *colon = strchr(step, ':'), *arg = colon ? colon + 1 : "";
        if (strncmp(step, "parse:", 6) == 0) db_parse_options(arg);
        else if (strncmp(step, "app:", 4) == 0) db_set_app_name(arg);
        else if (strncmp(step, "assert:", 7) == 0) db_assert(arg, "probe.c", 9);
        else if (strncmp(step, "trace:", 6) == 0) DB_TRACEF("%s", arg);
        else if (strcmp(step, "finish") == 0) db_finish();
        else if (strncmp(step, "make:", 5) == 0) {
            const char *option = db_make_option((db_caller)atoi(arg), strchr(arg, ':') + 1);
            printf("%s\n", option ? option : "(none)");
        }
    }
    printf("flags=%u level=%u\n", gDebugFlags, gAssertLevel);
    return 0;
}
