/*
 * test_util_posix.cpp - the POSIX side of the test helpers: the platform
 * facts of POSIX systems, scratch directories, the environment, and child
 * processes started with fork, set up as tu_setup asks.
 */
#include "test_util.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <gtest/gtest.h>

const char TU_SEP = '/';
const char *const TU_EXE = "";
const char *const TU_EOL = "\n";
const bool TU_TEXT_ENDS_AT_CTRL_Z = false;
const bool TU_NAMES_IGNORE_CASE = false;
const size_t TU_ARG_MAX = 128 * 1024;
const size_t TU_ROOT_LEN = 1;
const std::vector<tu_path_example> TU_PATH_EXAMPLES = {
    {"/opt/other/torc", true}, {"//srv/share/torc", true},  {"C:\\other\\torc", false},
    {"c:torc", false},         {"\\\\srv\\share\\torc", false}, {"other/torc", false},
};
const int TU_CRASH_STATUS = 128 + SIGSEGV;
const char *const TU_DIR_AS_FILE_ERROR = "Is a directory";

bool tu_appends_whole_lines(void) { return true; }

std::string tu_assertion_report(const std::string &file, const std::string &expression)
{
    return file + ":[0-9]+.*Assertion `" + expression + "' failed";
}

std::string tu_build_path(const char *path)
{
    return path;
}

void tu_make_unopenable(const std::string &path)
{
    if (symlink("/nonexistent/file", path.c_str()) != 0) ADD_FAILURE() << "symlink " << path << ": " << strerror(errno);
}

void tu_setenv(const char *name, const char *value)
{
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

static std::vector<char *> c_strings(const std::vector<std::string> &strings)
{
    std::vector<char *> out;
    for (const std::string &s : strings) out.push_back(const_cast<char *>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

/* The child's side, between fork and exec: only calls that are safe after
 * fork, on data prepared before it.  Standard streams from `in` (-1: closed),
 * `out` and `err`, and no other descriptor of ours. */
[[noreturn]] static void child(const tu_setup &s, int in, int out, int err, char **argv, char **envp, uid_t uid,
                               gid_t gid)
{
    dup2(out, 1);
    dup2(err, 2);
    if (in < 0) close(0);
    else dup2(in, 0);
    for (int fd = 3; fd < 1024; fd++) close(fd);
    if (!s.cwd.empty() && chdir(s.cwd.c_str()) != 0) _exit(126);
    if (s.ignored_signal) signal(s.ignored_signal, SIG_IGN);
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

int tu_wait(tu_child child)
{
    int st = 0;
    while (waitpid((pid_t)child, &st, 0) < 0) {
        if (errno != EINTR) {
            ADD_FAILURE() << "waitpid: " << strerror(errno);
            return -1;
        }
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1;
}

tu_child tu_start(const std::vector<std::string> &argv, const std::vector<std::string> &env)
{
    std::vector<std::string> environment = tu_environment(env);
    std::vector<char *> args = c_strings(argv), envp = c_strings(environment);
    int null = open("/dev/null", O_RDWR);
    pid_t pid = fork();
    if (pid == 0) child(tu_setup{}, null, null, null, args.data(), envp.data(), 0, 0);
    close(null);
    if (pid < 0) ADD_FAILURE() << "fork: " << strerror(errno);
    return pid;
}

/* Standard error goes to a temporary file, so that reading the standard
 * output pipe to its end can block no one. */
tu_result tu_run(const tu_setup &s)
{
    tu_result r{-1, "", ""};
    passwd *nobody = s.unprivileged ? getpwnam("nobody") : nullptr;
    group *nogroup = s.unprivileged ? getgrnam("nogroup") : nullptr;
    if (s.unprivileged && geteuid() == 0 && (!nobody || !nogroup)) {
        ADD_FAILURE() << "no user nobody or group nogroup";
        return r;
    }
    std::vector<std::string> env = tu_environment(s.env);
    std::vector<char *> argv = c_strings(s.argv), envp = c_strings(env);
    FILE *err = tmpfile();
    int null = open("/dev/null", O_RDWR), out[2];
    if (!err || null < 0 || pipe(out) != 0) {
        ADD_FAILURE() << "tmpfile, /dev/null or pipe: " << strerror(errno);
        return r;
    }
    if (s.stdout_unread) close(out[0]);
    pid_t pid = fork();
    if (pid == 0)
        child(s, s.stdin_closed ? -1 : null, out[1], fileno(err), argv.data(), envp.data(),
              nobody ? nobody->pw_uid : 0, nogroup ? nogroup->gr_gid : 0);
    close(out[1]);
    close(null);
    char buf[65536];
    for (ssize_t got; !s.stdout_unread && (got = read(out[0], buf, sizeof buf)) != 0;) {
        if (got > 0) r.out.append(buf, (size_t)got);
        else if (errno != EINTR) break;
    }
    if (!s.stdout_unread) close(out[0]);
    if (pid < 0) ADD_FAILURE() << "fork: " << strerror(errno);
    else r.status = tu_wait(pid);
    rewind(err);
    for (size_t n; (n = fread(buf, 1, sizeof buf, err)) > 0;) r.err.append(buf, n);
    fclose(err);
    return r;
}
