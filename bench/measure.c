/*
 * measure.c - what bench/run.sh measures with: runs commands in turn and
 * prints, for each, the medians of its wall-clock time, CPU time (user +
 * system) and minor page faults, and its peak resident set.
 *
 *   measure RUNS WARMUP LABEL=COMMAND...
 *
 * COMMAND is split at blanks (no quoting) and run without a shell, its
 * standard output and error sent to /dev/null.  Each round runs every
 * command once, in the order given, so that a change in the machine's load
 * reaches all of them alike; WARMUP rounds run first and are not counted.
 * The figures of a run are those of the process and of the children it
 * waited for (wait4), so a driver's back end counts as it would for a build
 * tool.  One line per command:
 *
 *   LABEL WALL_MS CPU_MS MINOR_FAULTS PEAK_KIB FAILED_RUNS
 *
 * Exit status 0, or 2 for a usage error or a command that could not start.
 *
 * Build it statically: a child's peak resident set counts from that of the
 * process that started it (the memory it shared until its exec), so a small
 * starter keeps the smallest peaks honest.
 */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

struct command {
    const char *label;
    char **argv;
    double *wall_ms, *cpu_ms, *faults;
    long peak_kib;
    int failed;
};

/* The words of `text` (changed in place) as a NULL-terminated vector. */
static char **split_words(char *text)
{
    size_t n = 0, cap = 8;
    char **argv = malloc(cap * sizeof *argv);
    for (char *word = strtok(text, " "); argv && word; word = strtok(NULL, " ")) {
        if (n + 2 > cap) argv = realloc(argv, (cap *= 2) * sizeof *argv);
        if (argv) argv[n++] = word;
    }
    if (argv) argv[n] = NULL;
    return argv;
}

static double ms_between(const struct timespec *a, const struct timespec *b)
{
    return (double)(b->tv_sec - a->tv_sec) * 1e3 + (double)(b->tv_nsec - a->tv_nsec) / 1e6;
}

/* One run of `c`, recorded as run `i` when i >= 0.  0, or -1 when it could
 * not be started. */
static int run_once(struct command *c, int i, posix_spawn_file_actions_t *quiet)
{
    struct timespec start, end;
    struct rusage ru;
    int status;
    pid_t pid;
    clock_gettime(CLOCK_MONOTONIC, &start);
    if (posix_spawnp(&pid, c->argv[0], quiet, NULL, c->argv, environ) != 0) return -1;
    if (wait4(pid, &status, 0, &ru) != pid) return -1;
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (i < 0) return 0;
    c->wall_ms[i] = ms_between(&start, &end);
    c->cpu_ms[i] = (double)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
                   (double)(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
    c->faults[i] = (double)ru.ru_minflt;
    if (ru.ru_maxrss > c->peak_kib) c->peak_kib = ru.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) c->failed++;
    return 0;
}

static int by_value(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double median(double *v, int n)
{
    qsort(v, (size_t)n, sizeof *v, by_value);
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: measure RUNS WARMUP LABEL=COMMAND...\n");
        return 2;
    }
    int runs = atoi(argv[1]), warmup = atoi(argv[2]), n = argc - 3;
    struct command *cmds = calloc((size_t)n, sizeof *cmds);
    if (runs < 1 || warmup < 0 || !cmds) return 2;
    for (int k = 0; k < n; k++) {
        char *eq = strchr(argv[k + 3], '=');
        if (!eq) return 2;
        *eq = '\0';
        cmds[k].label = argv[k + 3];
        cmds[k].argv = split_words(eq + 1);
        cmds[k].wall_ms = calloc((size_t)runs, sizeof(double));
        cmds[k].cpu_ms = calloc((size_t)runs, sizeof(double));
        cmds[k].faults = calloc((size_t)runs, sizeof(double));
        if (!cmds[k].argv || !cmds[k].argv[0] || !cmds[k].wall_ms || !cmds[k].cpu_ms || !cmds[k].faults) return 2;
    }
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, 1, 2);

    for (int i = -warmup; i < runs; i++) {
        for (int k = 0; k < n; k++) {
            if (run_once(&cmds[k], i, &quiet) != 0) {
                fprintf(stderr, "measure: cannot run %s\n", cmds[k].argv[0]);
                return 2;
            }
        }
    }
    for (int k = 0; k < n; k++) {
        struct command *c = &cmds[k];
        printf("%s %.3f %.3f %.0f %ld %d\n", c->label, median(c->wall_ms, runs), median(c->cpu_ms, runs),
               median(c->faults, runs), c->peak_kib, c->failed);
    }
    return 0;
}
