/* platform_probe - the child process of the platform tests, for what lasts a whole process (the
 * temporary directory, its removal at exit and on signals).  It links the platform layer alone.
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
    {"spawn-term", [](const char *) { /* the child stops this process while it waits */
         char sh[] = "sh", opt[] = "-c", script[] = "kill -TERM $PPID; sleep 1; echo child-survived";
         char *args[] = {sh, opt, script, NULL};
         os_spawn("/bin/sh", args);
         puts("parent-survived");
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
