/*
 * fuzz_util.cpp - scratch directory, forked runs and the reference models of
 * the command-file syntax shared by the libFuzzer targets.
 *
 * Invariant: between two inputs the process's working directory is the one
 * libFuzzer started in; the scratch directory is entered only while an input
 * runs and is removed at exit.
 */
#include "fuzz_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sanitizer/common_interface_defs.h>

#include "alert.h"

static std::string scratch_dir;
static int home_fd = -1;

static void remove_tree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        unlink(path.c_str());
        return;
    }
    chmod(path.c_str(), 0700);
    if (DIR *d = opendir(path.c_str())) {
        while (struct dirent *e = readdir(d)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) remove_tree(path + "/" + e->d_name);
        }
        closedir(d);
    }
    rmdir(path.c_str());
}

static void remove_scratch(void)
{
    if (!scratch_dir.empty()) remove_tree(scratch_dir);
}

void fz_check(bool ok, const char *what)
{
    if (ok) return;
    /* Through the sanitizer's report channel: it stays visible when the
     * fuzzer closes the target's standard error (-close_fd_mask). */
    __sanitizer_report_error_summary((std::string("fuzz check failed: ") + what).c_str());
    abort();
}

void fz_enter_scratch(void)
{
    if (scratch_dir.empty()) {
        const char *tmp = getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvq-fuzz-XXXXXX";
        fz_check(mkdtemp(&templ[0]) != nullptr, "mkdtemp for the scratch directory");
        scratch_dir = templ;
        home_fd = open(".", O_RDONLY | O_DIRECTORY);
        fz_check(home_fd >= 0, "open the working directory");
        atexit(remove_scratch);
    }
    fz_check(chdir(scratch_dir.c_str()) == 0, "chdir into the scratch directory");
}

void fz_leave_scratch(void)
{
    fz_check(fchdir(home_fd) == 0, "chdir back");
}

std::string fz_scratch_path(const char *name)
{
    return scratch_dir + "/" + name;
}

void fz_write_file(const char *name, const uint8_t *data, size_t size)
{
    FILE *f = fopen(fz_scratch_path(name).c_str(), "wb");
    fz_check(f != nullptr, "create a scratch file");
    fz_check(size == 0 || fwrite(data, 1, size, f) == size, "write a scratch file");
    fclose(f);
}

void fz_clear_scratch(void)
{
    DIR *d = opendir(scratch_dir.c_str());
    if (!d) return;
    while (struct dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) remove_tree(scratch_dir + "/" + e->d_name);
    }
    closedir(d);
}

void fz_stdin_from(const uint8_t *data, size_t size)
{
    fz_write_file("stdin.txt", data, size);
    fz_check(freopen(fz_scratch_path("stdin.txt").c_str(), "r", stdin) != nullptr, "reopen standard input");
}

static void abort_on_fatal(int)
{
    fz_check(false, "unexpected fatal alert");
}

static void exit_on_fatal(int)
{
    _exit(FZ_EXIT_FATAL);
}

void fz_guard_in_process(void)
{
    alert_set_exit_hook(abort_on_fatal);
}

/* Seconds a forked run may take before it is killed and reported as a hang. */
constexpr unsigned FORK_TIMEOUT = 20;

int fz_forked(void (*body)(void *), void *arg)
{
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    fz_check(pid >= 0, "fork");
    if (pid == 0) {
        alarm(FORK_TIMEOUT);
        alert_set_exit_hook(exit_on_fatal);
        body(arg);
        _exit(0);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) fz_check(errno == EINTR, "waitpid");
    fz_check(!WIFSIGNALED(st), "a forked run was killed by a signal (see its report above)");
    return WEXITSTATUS(st);
}

/* ---- reference models ---------------------------------------------------- */

bool fz_modelled(const uint8_t *data, size_t size, size_t piece)
{
    if (memchr(data, '\0', size)) return false;
    size_t line_start = 0;
    bool line_has_cr = false;
    for (size_t i = 0; i < size; i++) {
        line_has_cr = line_has_cr || data[i] == '\r';
        if (data[i] == '\n' || i + 1 == size) {
            if (line_has_cr && i + 1 - line_start > piece - 2) return false;
            line_start = i + 1;
            line_has_cr = false;
        }
    }
    return true;
}

std::string fz_text_mode(const uint8_t *data, size_t size)
{
    std::string text;
    text.reserve(size);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
        text += (char)data[i];
    }
    return text;
}

std::vector<std::string> fz_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        size_t end = lf == std::string::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

bool fz_split_line(const std::string &line, std::vector<std::string> &words)
{
    std::string word;
    char quote = 0;
    bool escape = false;
    auto end_word = [&] {
        if (!word.empty()) words.push_back(word);
        word.clear();
    };
    auto add = [&](char c) {
        if (word.size() == FZ_WORD_MAX) return false;
        word += c;
        return true;
    };
    for (char c : line) {
        bool room = true;
        if (c == '\'' || c == '"') {
            if (escape) room = add(c);
            else if (!quote) quote = c;
            else if (quote == c) quote = 0;
            else room = add(c);
            escape = false;
        } else if (c == '\\') {
            if (escape) room = add('\\');
            escape = !escape;
        } else if (c == ' ') {
            if (quote || escape) room = add(' ');
            else end_word();
            escape = false;
        } else if (c == '\t' || c == '\n') {
            end_word();
        } else {
            if (escape) room = add('\\');
            escape = false;
            room = room && add(c);
        }
        if (!room) {
            end_word();
            return true;
        }
    }
    end_word();
    return false;
}

std::string fz_unescape(const std::string &arg)
{
    std::string out;
    for (size_t i = 0; i < arg.size(); i++) {
        if (arg[i] == '\\' && i + 1 < arg.size() && strchr(" \"'\\", arg[i + 1])) i++;
        out += arg[i];
    }
    return out;
}
