/*
 * tempdir_child - runs the temporary-name service in a process of its own, so
 * that a test can look at what the process leaves behind when it ends.
 *
 *   tempdir_child END [EXT...]
 *
 * Each EXT ("-" for none) is passed to os_temp_name; a file is created at the
 * name and the name printed on its own line ("NULL" when there is none).
 * Then END ends the process:
 *   return        main returns 0
 *   exit1         exit(1)
 *   signal:N      raise signal N
 *   spawn-term    a child started by os_spawn sends SIGTERM to this process
 *                 while it waits, then prints "child-survived" a moment later
 *   ignore-hup    SIGHUP is ignored before the first name; it is raised at
 *                 the end and main returns 0 when the process survives it
 * Before that, "mode=NNN" gives the directory's permission bits and
 * "attempts=N" how many candidate directories were tried.
 *
 * TEMPDIR_CHILD_OCCUPY=N with TEMPDIR_CHILD_LINK=TARGET: the first N
 * candidates are taken by a symbolic link to TARGET just before their mkdir,
 * as another user of a shared directory might do.
 */
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "osdep.h"

static int g_attempts;

/* Stands in for the C library's mkdir in this program, so that a candidate
 * can be occupied between the name's choice and its creation. */
extern "C" int mkdir(const char *path, mode_t mode) noexcept
{
    const char *leaf = strrchr(path, '/');
    leaf = leaf ? leaf + 1 : path;
    if (strncmp(leaf, "kv", 2) == 0) {
        g_attempts++;
        const char *occupy = getenv("TEMPDIR_CHILD_OCCUPY");
        const char *target = getenv("TEMPDIR_CHILD_LINK");
        if (occupy && target && g_attempts <= atoi(occupy) && symlink(target, path) != 0)
            perror("symlink");
    }
    return (int)syscall(SYS_mkdirat, AT_FDCWD, path, mode);
}

static void make_name(const char *ext)
{
    char *path = os_temp_name(strcmp(ext, "-") == 0 ? NULL : ext);
    if (!path) {
        puts("NULL");
        return;
    }
    FILE *f = fopen(path, "w");
    if (!f || fputs("content\n", f) < 0 || fclose(f) != 0) perror(path);
    puts(path);
    free(path);
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fputs("usage: tempdir_child END [EXT...]\n", stderr);
        return 2;
    }
    const char *end = argv[1];
    if (strcmp(end, "ignore-hup") == 0) signal(SIGHUP, SIG_IGN);
    for (int i = 2; i < argc; i++) make_name(argv[i]);
    struct stat st;
    if (os_temp_dir() && stat(os_temp_dir(), &st) == 0) printf("mode=%03o\n", (unsigned)(st.st_mode & 0777));
    printf("attempts=%d\n", g_attempts);
    fflush(stdout);

    if (strcmp(end, "exit1") == 0) exit(1);
    if (strncmp(end, "signal:", 7) == 0) raise(atoi(end + 7));
    if (strcmp(end, "ignore-hup") == 0) raise(SIGHUP);
    if (strcmp(end, "spawn-term") == 0) {
        char sh[] = "sh", opt[] = "-c";
        char script[] = "kill -TERM $PPID; sleep 1; echo child-survived";
        char *args[] = {sh, opt, script, NULL};
        os_spawn("/bin/sh", args);
        puts("parent-survived");
    }
    return 0;
}
