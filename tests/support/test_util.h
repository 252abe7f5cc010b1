/*
 * test_util.h - helpers shared by the test suites: files, scratch directories
 * and child processes with captured output.  test_util.cpp holds what every
 * platform shares, test_util_posix.cpp and test_util_win32.cpp the rest.
 * Paths may be written with '/': every helper accepts them; tu_path turns one
 * into the platform's own form where a test compares it with what the
 * program under test builds.  A failure here is a test failure.
 */
#ifndef KVQ_TEST_UTIL_H
#define KVQ_TEST_UTIL_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform_facts.h"

std::string tu_read(const std::string &path);
void tu_write(const std::string &path, const std::string &content);
bool tu_exists(const std::string &path);  /* a dangling link exists too */
void tu_copy(const std::string &from, const std::string &to, bool exec);
void tu_mkdirs(const std::string &path);  /* with every missing parent */
/* A new directory in the system's temporary place, its path resolved as a
 * program finds its own path there. */
std::string tu_mkdtemp(const char *tag = "kvqtest");
void tu_rmtree(const std::string &path);
std::vector<std::string> tu_list(const std::string &dir);  /* sorted, without "." and ".." */

/* `path` with each '/' turned into the platform's separator (TU_SEP). */
std::string tu_path(std::string path);

/* `text` as a file written in text mode holds it: each "\n" as TU_EOL. */
std::string tu_text(const std::string &text);

/* Makes at `path` an entry that a directory listing shows but that fopen
 * cannot open for reading: a dangling symbolic link (POSIX), a directory
 * (Windows, where a directory is never opened as a file). */
void tu_make_unopenable(const std::string &path);

/* Sets (value given) or unsets an environment variable of this process. */
void tu_setenv(const char *name, const char *value);

/* Our environment with `changes` applied: "NAME=value" sets, "NAME" alone
 * unsets. */
std::vector<std::string> tu_environment(const std::vector<std::string> &changes);

/* How tu_run starts a child: only descriptors 0, 1 and 2 open, standard
 * input on the null device unless closed, core dumps off. */
struct tu_setup {
    std::vector<std::string> argv;  /* argv[0] is a path; each reaches the child as it is */
    std::vector<std::string> env;   /* changes, as tu_environment takes them */
    std::string cwd;                /* the child's working directory; "": ours */
    bool stdin_closed = false;
    /* POSIX only, the way unusual parents start programs: */
    bool stdout_unread = false;     /* standard output a pipe whose reader is gone */
    int ignored_signal = 0;         /* a signal the child inherits as ignored */
    bool unprivileged = false;      /* as nobody:nogroup without other groups, when we are root */
    uint64_t address_space = 0;     /* RLIMIT_AS in bytes; 0 leaves it */
    uint64_t open_files = 0;        /* RLIMIT_NOFILE; 0 leaves it */
};

struct tu_result {
    int status;       /* exit code; 128+N when killed by signal N; -1 on failure */
    std::string out;  /* standard output, read as text (CR LF as "\n") */
    std::string err;  /* standard error, likewise */
};

/* Runs the child and waits until it has exited and no process (its
 * children included) holds its standard output any more. */
tu_result tu_run(const tu_setup &setup);
inline tu_result tu_run(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                        const std::string &cwd = "")
{
    return tu_run(tu_setup{argv, env, cwd});
}

/* A child started by tu_start: its process id (POSIX) or its process
 * handle (Windows). */
typedef intptr_t tu_child;

/* Starts a child as tu_run does, its standard streams on the null device,
 * and does not wait: for runs side by side and for signals at a chosen
 * moment.  tu_wait gives its status as tu_run does. */
tu_child tu_start(const std::vector<std::string> &argv, const std::vector<std::string> &env = {});
int tu_wait(tu_child child);

/* The programs of the build, in the platform's path form: one built from
 * tests/helpers/<name>.cpp; the staged tor/bin/<name> (kvq, torc, ...); the
 * test back end as built. */
std::string tu_helper(const char *name);
std::string tu_staged(const char *name);
std::string tu_test_backend(void);

#endif /* KVQ_TEST_UTIL_H */
