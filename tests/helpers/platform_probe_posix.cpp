/* platform_probe_posix.cpp - platform_probe's POSIX actions: signals and the temporary
 * directory's mode.  With PROBE_OCCUPY=N and PROBE_LINK=TARGET the first N temporary-directory
 * candidates are taken by a symbolic link to TARGET just before their mkdir. */
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "osdep.h"
#include "platform_probe.h"

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

/* verb         what it does with the word after the ':' */
const probe_action PLATFORM_ACTIONS[] = {
    {"tempinfo",   [](const char *) {
         struct stat st;
         if (os_temp_dir() && stat(os_temp_dir(), &st) == 0) printf("mode=%03o ", (unsigned)(st.st_mode & 0777));
         printf("attempts=%d\n", temp_attempts);
     }},
    {"raise",      [](const char *arg) { raise(atoi(arg)); }},
    {"ignore",     [](const char *arg) { signal(atoi(arg), SIG_IGN); }},
    {nullptr,      nullptr},
};
