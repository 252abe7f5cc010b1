/*
 * floor.h - the part every floor program shares: hand a prepared command-file
 * text to the back end exactly as a driver must, and nothing more.
 *
 * floor_run makes a private directory under TEMP (mkdtemp, mode 0700), writes
 * the text into kvq_tmp_0.cmd there with one write, starts "torc" from the
 * directory of the running program with the single argument "@file", waits,
 * removes the file and the directory, and returns the back end's exit status
 * (1 when anything failed).  Header-only so each floor stays one static
 * program with no project code; C that also compiles as C++.
 */
#ifndef KVQ_BENCH_FLOOR_H
#define KVQ_BENCH_FLOOR_H

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

/* Path of the file `name` in the directory of the running program. */
static int floor_sibling(char *buf, size_t size, const char *name)
{
    ssize_t n = readlink("/proc/self/exe", buf, size - 1);
    if (n <= 0) return -1;
    buf[n] = '\0';
    char *slash = strrchr(buf, '/');
    if (!slash || (size_t)(slash + 1 - buf) + strlen(name) + 1 > size) return -1;
    strcpy(slash + 1, name);
    return 0;
}

static int floor_run(const char *text, size_t len)
{
    char backend[4096], dir[4096], file[4200], at[4300];
    if (floor_sibling(backend, sizeof backend, "torc") != 0) return 1;
    const char *base = getenv("TEMP");
    snprintf(dir, sizeof dir, "%s/kvXXXXXX", base && *base ? base : ".");
    if (!mkdtemp(dir)) return 1;
    snprintf(file, sizeof file, "%s/kvq_tmp_0.cmd", dir);
    snprintf(at, sizeof at, "@%s", file);

    int status = 1;
    int fd = open(file, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
        int written = write(fd, text, len) == (ssize_t)len;
        close(fd);
        char *child_argv[] = {backend, at, NULL};
        pid_t pid;
        int wst;
        if (written && posix_spawn(&pid, backend, NULL, NULL, child_argv, environ) == 0 &&
            waitpid(pid, &wst, 0) == pid && WIFEXITED(wst))
            status = WEXITSTATUS(wst);
        unlink(file);
    }
    rmdir(dir);
    return status;
}

#endif /* KVQ_BENCH_FLOOR_H */
