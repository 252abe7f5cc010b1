/*
 * test_util.cpp - file, directory and child-process helpers for the tests.
 * Failures here are test failures (gtest assertions or aborts), never silent.
 */
#include "test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

extern char **environ;

std::string tu_read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void tu_write(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) ADD_FAILURE() << "cannot write " << path;
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
    for (size_t i = 1; i <= path.size(); i++) {
        if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
    }
}

std::string tu_mkdtemp(const char *tag)
{
    std::string templ = std::string("/tmp/") + tag + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        ADD_FAILURE() << "mkdtemp: " << strerror(errno);
        return "/tmp";
    }
    return std::string(buf.data());
}

void tu_rmtree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        for (const std::string &name : tu_list(path)) tu_rmtree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::vector<std::string> tu_list(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d) return names;
    while (struct dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string tu_helper(const char *name)
{
    return std::string(KVQ_TEST_HELPERS_DIR) + "/" + name;
}

/* Reads both pipes until both are closed, writing `input` as the child
 * accepts it, so that no side can block the other. */
static void pump(int in_fd, const std::string &input, int out_fd, int err_fd, tu_result &r)
{
    size_t written = 0;
    if (input.empty() && in_fd >= 0) {
        close(in_fd);
        in_fd = -1;
    }
    char buf[65536];
    while (out_fd >= 0 || err_fd >= 0) {
        struct pollfd fds[3];
        int n = 0;
        if (out_fd >= 0) fds[n++] = {out_fd, POLLIN, 0};
        if (err_fd >= 0) fds[n++] = {err_fd, POLLIN, 0};
        if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < n; i++) {
            if (!fds[i].revents) continue;
            int fd = fds[i].fd;
            if (fd == in_fd) {
                ssize_t w = write(in_fd, input.data() + written, input.size() - written);
                if (w > 0) written += (size_t)w;
                if (w < 0 || written == input.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            ssize_t got = read(fd, buf, sizeof buf);
            if (got > 0) {
                (fd == out_fd ? r.out : r.err).append(buf, (size_t)got);
            } else {
                close(fd);
                if (fd == out_fd) out_fd = -1; else err_fd = -1;
            }
        }
    }
    if (in_fd >= 0) close(in_fd);
}

tu_result tu_run(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                 const std::string &cwd, const std::string &input)
{
    tu_result r{-1, "", ""};
    int in_p[2], out_p[2], err_p[2];
    if (pipe(in_p) || pipe(out_p) || pipe(err_p)) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return r;
    }
    signal(SIGPIPE, SIG_IGN);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in_p[0], 0);
        dup2(out_p[1], 1);
        dup2(err_p[1], 2);
        for (int fd : {in_p[0], in_p[1], out_p[0], out_p[1], err_p[0], err_p[1]}) close(fd);
        for (const std::string &e : env) {
            size_t eq = e.find('=');
            if (eq == std::string::npos) unsetenv(e.c_str());
            else setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
        }
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        signal(SIGPIPE, SIG_DFL);
        execve(args[0], args.data(), environ);
        _exit(127);
    }
    close(in_p[0]);
    close(out_p[1]);
    close(err_p[1]);
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << strerror(errno);
        return r;
    }
    pump(in_p[1], input, out_p[0], err_p[0], r);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1;
    return r;
}
