/* platform_probe_posix.cpp - a stand-in for the C library's mkdir in platform_probe.  With
 * PROBE_OCCUPY=N set, it reports each temporary-directory candidate's mode ("mkdir <mode>") on
 * standard error, and with PROBE_LINK=TARGET the first N candidates are taken by a symbolic link
 * to TARGET just before their mkdir, as another process could take them. */
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int mkdir(const char *path, mode_t mode) noexcept
{
    static int attempts;
    const char *leaf = strrchr(path, '/'), *occupy = getenv("PROBE_OCCUPY"), *target = getenv("PROBE_LINK");
    if (occupy && strncmp(leaf ? leaf + 1 : path, "kv", 2) == 0) {
        fprintf(stderr, "mkdir %03o\n", (unsigned)mode);
        if (++attempts <= atoi(occupy) && target && symlink(target, path) != 0) perror("symlink");
    }
    return (int)syscall(SYS_mkdirat, AT_FDCWD, path, mode);
}
