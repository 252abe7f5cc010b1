/* alert_probe_posix.cpp - alert_probe's POSIX actions: signals, a child that stops the probe, and
 * the temporary directory's mode.  With PROBE_OCCUPY=N and PROBE_LINK=TARGET the first N
 * temporary-directory candidates are taken by a symbolic link to TARGET just before their mkdir. */
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alert_probe.h"
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

/* verb         what it does with the words of the action */
const probe_action PLATFORM_ACTIONS[] = {
    {"tempinfo",   [](const words &) {
         struct stat st;
         if (os_temp_dir() && stat(os_temp_dir(), &st) == 0) printf("mode=%03o ", (unsigned)(st.st_mode & 0777));
         printf("attempts=%d\n", temp_attempts);
     }},
    {"raise",      [](const words &w) { raise(arg_int(w, 1)); }},
    {"ignore",     [](const words &w) { signal(arg_int(w, 1), SIG_IGN); }},
    {"spawn-term", [](const words &) { /* the child stops this process while it waits */
         char sh[] = "sh", opt[] = "-c", script[] = "kill -TERM $PPID; sleep 1; echo child-survived";
         char *args[] = {sh, opt, script, NULL};
         os_spawn("/bin/sh", args);
         puts("parent-survived");
     }},
    {nullptr,      nullptr},
};
