/*
 * fuzz_util.cpp - scratch directory, forked runs and the reference model of
 * the command-file word syntax shared by the libFuzzer targets.
 *
 * Invariant: between two inputs the working directory is the one libFuzzer
 * started in and the scratch directory is empty; it is removed at exit.
 */
#include "fuzz_util.h"

#include <fcntl.h>
#include <ftw.h>
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

void fz_check(bool ok, const char *what)
{
    if (ok) return;
    /* Through the sanitizer's report channel: it stays visible when the
     * fuzzer closes the target's standard error (-close_fd_mask). */
    __sanitizer_report_error_summary((std::string("fuzz check failed: ") + what).c_str());
    abort();
}

static int remove_entry(const char *path, const struct stat *, int, struct FTW *ftw)
{
    if (ftw->level > 0) remove(path);
    return 0;
}

static void clear_scratch(void)
{
    nftw(scratch_dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

static void remove_scratch(void)
{
    clear_scratch();
    rmdir(scratch_dir.c_str());
}

static void abort_on_fatal(int)
{
    fz_check(false, "unexpected fatal alert");
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
    alert_set_exit_hook(abort_on_fatal);
}

void fz_leave_scratch(void)
{
    clear_scratch();
    fz_check(fchdir(home_fd) == 0, "chdir back");
}

void fz_write_file(const char *name, const uint8_t *data, size_t size)
{
    FILE *f = fopen(name, "wb");
    fz_check(f != nullptr, "create a scratch file");
    fz_check(size == 0 || fwrite(data, 1, size, f) == size, "write a scratch file");
    fclose(f);
}

static void exit_on_fatal(int)
{
    _exit(FZ_EXIT_FATAL);
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

/* ---- reference model ----------------------------------------------------- */

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

std::vector<std::string> fz_lines(const uint8_t *data, size_t size)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
        lines.back() += (char)data[i];
        if (data[i] == '\n' && i + 1 < size) lines.emplace_back();
    }
    if (lines.back().empty()) lines.pop_back();
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
            if (escape || (quote && quote != c)) room = add(c);
            else quote = quote ? 0 : c;
            escape = false;
        } else if (c == '\\') {
            if (escape) room = add('\\');
            escape = !escape;
        } else if (c == ' ' && (quote || escape)) {
            room = add(' ');
            escape = false;
        } else if (c == ' ' || c == '\t' || c == '\n') {
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
