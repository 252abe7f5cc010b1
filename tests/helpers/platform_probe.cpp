/* platform_probe - the child process of the platform tests, for what lasts a whole process (the
 * temporary directory, its removal at exit, on signals and when memory runs out).  It links the
 * platform layer alone.
 * Each argument is an action "verb:word" (see ACTIONS).  With PROBE_OCCUPY=N and
 * PROBE_LINK=TARGET the first N temporary-directory candidates are taken by a symbolic link to
 * TARGET just before their mkdir. */
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "osdep.h"
#include "trace.h"

static int temp_attempts;

/* Stands in for the C library's mkdir: a candidate is occupied between its choice and creation. */
extern "C" int mkdir(const char *path, mode_t mode) noexcept
{
    const char *leaf = strrchr(path, '/'), *occupy = getenv("PROBE_OCCUPY"), *target = getenv("PROBE_LINK");
    if (strncmp(leaf ? leaf + 1 : path, "kv", 2) == 0 && ++temp_attempts <= (occupy ? atoi(occupy) : 0) &&
        target && symlink(target, path) != 0)
        perror("symlink");
    return (int)syscall(SYS_mkdirat, AT_FDCWD, path, mode);
}

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
    {"tempinfo",   [](const char *) {
         struct stat st;
         if (os_temp_dir() && stat(os_temp_dir(), &st) == 0) printf("mode=%03o ", (unsigned)(st.st_mode & 0777));
         printf("attempts=%d\n", temp_attempts);
     }},
    {"exit",       [](const char *arg) { exit(atoi(arg)); }},
    {"raise",      [](const char *arg) { raise(atoi(arg)); }},
    {"ignore",     [](const char *arg) { signal(atoi(arg), SIG_IGN); }},
    {"hog",        [](const char *) { /* takes every byte malloc gives, then needs a name */
         db_set_out_of_memory_hook(probe_out_of_memory);
         static void *volatile sink;
         for (size_t size : {1u << 20, 1u << 12, 1u << 4}) while ((sink = malloc(size)) != NULL) {}
         make_temp(".hog");
     }},
};

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        std::string verb = argv[i];
        const char *colon = strchr(argv[i], ':'), *arg = colon ? colon + 1 : "";
        verb = verb.substr(0, colon ? (size_t)(colon - argv[i]) : verb.size());
        auto action = std::find_if(std::begin(ACTIONS), std::end(ACTIONS), [&](auto &a) { return verb == a.verb; });
        if (action == std::end(ACTIONS)) return fprintf(stderr, "platform_probe: unknown action %s\n", argv[i]), 99;
        action->run(arg);
        fflush(stdout);
    }
    return 0;
}
