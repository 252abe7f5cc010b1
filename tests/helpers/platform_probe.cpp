/* platform_probe - the child process of the platform tests, for what lasts a whole process (the
 * temporary directory and its removal at exit and when memory runs out).  It links the platform
 * layer alone.  Each argument is an action "verb:word" (see ACTIONS); platform_probe_posix.cpp
 * adds a stand-in for mkdir. */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "osdep.h"
#include "trace.h"

static void make_temp(const char *ext)
{
    char *path = os_temp_name(strcmp(ext, "-") == 0 ? NULL : ext);
    FILE *f = path ? fopen(path, "w") : NULL;
    if (path && (!f || fputs("content\n", f) < 0 || fclose(f) != 0)) perror(path);
    puts(path ? path : "NULL");
    free(path);
}

/* What the diagnostics' hook does, without them: one line, the temporary
 * directory removed, nothing allocated. */
static void probe_out_of_memory(void)
{
    static const char line[] = "probe: out of memory\n";
    os_emergency_exit(line, sizeof line - 1, 1);
}

/* verb         what it does with the word after the ':' */
static const struct { const char *verb; void (*run)(const char *arg); } ACTIONS[] = {
    {"temp",       make_temp},
    {"exit",       [](const char *arg) { exit(atoi(arg)); }},
    {"list",       [](const char *arg) { /* the entries of a directory, one a line */
         os_list_dir(arg, [](const char *name, void *) { puts(name); }, nullptr);
     }},
    {"oom",        [](const char *) { /* the heap refuses: the hook ends the process, exit handlers unrun */
         db_set_out_of_memory_hook(probe_out_of_memory);
         atexit([] { puts("exit handlers ran"); });
         db_out_of_memory();
     }},
};

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *colon = strchr(argv[i], ':'), *arg = colon ? colon + 1 : "";
        std::string verb(argv[i], colon ? (size_t)(colon - argv[i]) : strlen(argv[i]));
        size_t a = 0;
        while (a < sizeof ACTIONS / sizeof *ACTIONS && verb != ACTIONS[a].verb) a++;
        if (a == sizeof ACTIONS / sizeof *ACTIONS) return fprintf(stderr, "platform_probe: unknown action %s\n", argv[i]), 99;
        ACTIONS[a].run(arg);
        fflush(stdout);
    }
    return 0;
}
