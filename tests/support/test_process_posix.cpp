/*
 * test_process_posix.cpp - children started with unusual standard streams,
 * signal dispositions, users and limits.
 * Failures here are test failures (gtest assertions), never silent.
 */
#include "test_process_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <gtest/gtest.h>

extern char **environ;

double tp_now_ms(void)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1e3 + (double)now.tv_nsec / 1e6;
}

/* Our environment with `changes` applied as for tu_run. */
static std::vector<std::string> tp_environment(const std::vector<std::string> &changes)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) env.push_back(*e);
    for (const std::string &change : changes) {
        std::string name = change.substr(0, change.find('='));
        for (size_t i = env.size(); i-- > 0;)
            if (env[i].compare(0, name.size() + 1, name + "=") == 0) env.erase(env.begin() + (long)i);
        if (change.find('=') != std::string::npos) env.push_back(change);
    }
    return env;
}

static std::vector<char *> c_strings(const std::vector<std::string> &strings)
{
    std::vector<char *> out;
    for (const std::string &s : strings) out.push_back(const_cast<char *>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

/* The child's side of tp_run, between fork and exec: only calls that are
 * safe after fork, on data prepared before it. */
[[noreturn]] static void tp_child(const tp_setup &s, int null, int out, int err, char **argv, char **envp,
                                  uid_t uid, gid_t gid)
{
    dup2(out, 1);
    dup2(err, 2);
    if (s.stdin_closed) close(0);
    else dup2(null, 0);
    for (int fd = 3; fd < 1024; fd++) close(fd);
    if (!s.cwd.empty() && chdir(s.cwd.c_str()) != 0) _exit(126);
    if (s.ignore_sigchld) signal(SIGCHLD, SIG_IGN);
    rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    for (auto limit : {std::make_pair(RLIMIT_AS, s.address_space), std::make_pair(RLIMIT_NOFILE, s.open_files)}) {
        rlimit lim = {limit.second, limit.second};
        if (limit.second && setrlimit(limit.first, &lim) != 0) _exit(125);
    }
    if (s.unprivileged && geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
        _exit(124);
    execve(argv[0], argv, envp);
    _exit(127);
}

/* Standard error goes to a temporary file, so that reading the standard
 * output pipe to its end can block no one. */
tu_result tp_run(const tp_setup &s)
{
    tu_result r{-1, "", ""};
    passwd *nobody = getpwnam("nobody");
    group *nogroup = getgrnam("nogroup");
    if (s.unprivileged && geteuid() == 0 && (!nobody || !nogroup)) {
        ADD_FAILURE() << "no user nobody or group nogroup";
        return r;
    }
    std::vector<std::string> env = tp_environment(s.env);
    std::vector<char *> argv = c_strings(s.argv), envp = c_strings(env);
    FILE *err = tmpfile();
    int null = open("/dev/null", O_RDWR);
    int out_p[2];
    if (!err || null < 0 || pipe(out_p) != 0) {
        ADD_FAILURE() << "tmpfile, /dev/null or pipe: " << strerror(errno);
        return r;
    }
    if (s.stdout_unread) close(out_p[0]);
    pid_t pid = fork();
    if (pid == 0)
        tp_child(s, null, out_p[1], fileno(err), argv.data(), envp.data(), nobody ? nobody->pw_uid : 0,
                 nogroup ? nogroup->gr_gid : 0);
    close(out_p[1]);
    close(null);
    return tp_collect(pid, s.stdout_unread ? -1 : out_p[0], err);
}
