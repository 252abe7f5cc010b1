/* platform_probe - the child process of the platform tests, for what lasts a whole process (the
 * temporary directory, its removal at exit, on signals and when memory runs out).  It links the
 * platform layer alone.
 * Each argument is an action "verb:word" (see ACTIONS here and PLATFORM_ACTIONS in
 * platform_probe_<platform>.cpp). */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "osdep.h"
#include "platform_probe.h"
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
static const probe_action ACTIONS[] = {
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
    {"hog",        [](const char *) { /* takes every byte malloc gives, then needs a name */
         db_set_out_of_memory_hook(probe_out_of_memory);
         static void *volatile sink;
         for (size_t size : {1u << 20, 1u << 12, 1u << 4}) while ((sink = malloc(size)) != NULL) {}
         make_temp(".hog");
     }},
    {nullptr,      nullptr},
};

/* The action named by `verb` in `table` (ending with a NULL verb); NULL when there is none. */
static const probe_action *find_action(const probe_action *table, const std::string &verb)
{
    for (; table->verb; table++) {
        if (verb == table->verb) return table;
    }
    return nullptr;
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *colon = strchr(argv[i], ':'), *arg = colon ? colon + 1 : "";
        std::string verb(argv[i], colon ? (size_t)(colon - argv[i]) : strlen(argv[i]));
        const probe_action *action = find_action(ACTIONS, verb);
        if (!action) action = find_action(PLATFORM_ACTIONS, verb);
        if (!action) return fprintf(stderr, "platform_probe: unknown action %s\n", argv[i]), 99;
        action->run(arg);
        fflush(stdout);
    }
    return 0;
}
