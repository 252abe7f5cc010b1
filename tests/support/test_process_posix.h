/*
 * test_process_posix.h - child processes started the way build systems and
 * unusual parents start them: standard input closed, standard output a pipe
 * nobody reads, SIGCHLD ignored, an unprivileged user, limits on memory or
 * descriptors.  POSIX only.
 */
#ifndef KVQ_TEST_PROCESS_POSIX_H
#define KVQ_TEST_PROCESS_POSIX_H

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "test_util.h"

/* How tp_run sets a child up before it runs its program. */
struct tp_setup {
    std::vector<std::string> argv;  /* argv[0] is a path */
    std::vector<std::string> env;   /* as for tu_run: "NAME=value" sets, "NAME" unsets */
    std::string cwd;                /* "": ours */
    bool stdin_closed = false;      /* descriptor 0 closed rather than on /dev/null */
    bool stdout_unread = false;     /* standard output a pipe whose reader is gone */
    bool ignore_sigchld = false;    /* SIGCHLD ignored, as some supervisors leave it */
    bool unprivileged = false;      /* as nobody:nogroup without other groups, when we are root */
    uint64_t address_space = 0;     /* RLIMIT_AS in bytes; 0 leaves it */
    uint64_t open_files = 0;        /* RLIMIT_NOFILE; 0 leaves it */
};

/* Runs setup.argv and waits as tu_run does.  Every child starts with only
 * descriptors 0, 1 and 2 open and with core dumps off. */
tu_result tp_run(const tp_setup &setup);

/* What tu_run gives for the child `pid` (a failed fork when negative): its
 * standard output read from `out` to its end (-1: none to read), its status,
 * its standard error read from `err` from the start.  Closes `out` and `err`.
 * (test_util_posix.cpp, whose tu_run uses it too.) */
tu_result tp_collect(pid_t pid, int out, FILE *err);

/* Milliseconds of the monotonic clock. */
double tp_now_ms(void);

#endif /* KVQ_TEST_PROCESS_POSIX_H */
