/*
 * test_util_posix.cpp - the POSIX side of the test helpers: links, modes,
 * scratch directories, the environment and child processes; the platform
 * facts of POSIX systems.  Failures here are test failures (gtest
 * assertions), never silent.
 */
#include "test_util.h"
#include "test_process_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

std::string tu_assertion_report(const std::string &file, const std::string &expression)
{
    return file + ":[0-9]+.*Assertion `" + expression + "' failed";
}

bool tu_aborted(int status)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
}

std::string tu_build_path(const char *path)
{
    return path;
}

bool tu_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void tu_copy(const std::string &from, const std::string &to, bool exec)
{
    tu_write(to, tu_read(from));
    chmod(to.c_str(), exec ? 0755 : 0644);
}

void tu_mkdirs(const std::string &path)
{
    for (size_t i = 1; i <= path.size(); i++)
        if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
}

std::string tu_mkdtemp(const char *tag)
{
    std::string templ = std::string("/tmp/") + tag + "-XXXXXX";
    if (!mkdtemp(&templ[0])) ADD_FAILURE() << "mkdtemp: " << strerror(errno);
    /* The resolved path, as a program finds its own path in it. */
    char *real = realpath(templ.c_str(), NULL);
    std::string dir = real ? real : templ;
    free(real);
    return dir;
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

void tu_rmtree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        for (const std::string &name : tu_list(path)) tu_rmtree(path + "/" + name);
    }
    remove(path.c_str());
}

/* The child's side of tu_run and tu_start, between fork and exec: its
 * standard streams from `in` (-1: closed), `out` and `err` and no other
 * descriptor of ours, then `env`, `cwd` and the program. */
[[noreturn]] static void run_child(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                                   const std::string &cwd, int in, int out, int err)
{
    if (in < 0) close(0);
    else dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (int fd = 3; fd < 1024; fd++) close(fd);
    for (const std::string &e : env) {
        size_t eq = e.find('=');
        if (eq == std::string::npos) unsetenv(e.c_str());
        else setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
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

/* Standard error goes to a temporary file, so that a plain read of the
 * standard-output pipe to its end can block no one. */
tu_result tu_run(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &cwd,
                 bool stdin_closed)
{
    tu_result r{-1, "", ""};
    FILE *err = tmpfile();
    int out_p[2];
    if (!err || pipe(out_p) != 0) {
        ADD_FAILURE() << "tmpfile or pipe: " << strerror(errno);
        return r;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(out_p[0]);
        run_child(argv, env, cwd, stdin_closed ? -1 : open("/dev/null", O_RDONLY), out_p[1], fileno(err));
    }
    close(out_p[1]);
    return tp_collect(pid, out_p[0], err);
}

tu_result tp_collect(pid_t pid, int out, FILE *err)
{
    tu_result r{-1, "", ""};
    char buf[65536];
    for (ssize_t got; out >= 0 && (got = read(out, buf, sizeof buf)) != 0;) {
        if (got > 0) r.out.append(buf, (size_t)got);
        else if (errno != EINTR) break;
    }
    if (out >= 0) close(out);
    if (pid < 0) ADD_FAILURE() << "fork: " << strerror(errno);
    else r.status = tu_wait(pid);
    rewind(err);
    for (size_t n; (n = fread(buf, 1, sizeof buf, err)) > 0;) r.err.append(buf, n);
    fclose(err);
    return r;
}

tu_child tu_start(const std::vector<std::string> &argv, const std::vector<std::string> &env)
{
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        run_child(argv, env, "", null, null, null);
    }
    if (pid < 0) ADD_FAILURE() << "fork: " << strerror(errno);
    return pid;
}
