/* fuzz_util.cpp - checks, scratch directory and forked runs for the targets.
 * Between two inputs the process is where it started; the scratch is empty. */
#include "fuzz_util.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sanitizer/common_interface_defs.h>

#include "alert.h"

constexpr int EXIT_FATAL = 3;
static std::string scratch;
static int home_fd = -1;

void fz_check(bool ok, const char *what)
{
    if (ok) return;
    /* The sanitizer's report channel stays open under -close_fd_mask. */
    __sanitizer_report_error_summary((std::string("fuzz check failed: ") + what).c_str());
    abort();
}

static int remove_entry(const char *path, const struct stat *, int, struct FTW *ftw)
{
    if (ftw->level > 0) remove(path);
    return 0;
}

static void clear_scratch(void) { nftw(scratch.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS); }

void fz_enter_scratch(void)
{
    if (scratch.empty()) {
        const char *tmp = getenv("TMPDIR");
        scratch = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvq-fuzz-XXXXXX";
        home_fd = open(".", O_RDONLY | O_DIRECTORY);
        fz_check(mkdtemp(&scratch[0]) && home_fd >= 0, "make the scratch directory");
        atexit([] { clear_scratch(); rmdir(scratch.c_str()); });
    }
    fz_check(chdir(scratch.c_str()) == 0, "enter the scratch directory");
    alert_install_hooks();
    alert_set_exit_hook([](int) { fz_check(false, "unexpected fatal alert"); });
}

void fz_leave_scratch(void)
{
    clear_scratch();
    fz_check(fchdir(home_fd) == 0, "leave the scratch directory");
}

void fz_write_file(const char *name, const uint8_t *data, size_t size)
{
    FILE *f = fopen(name, "wb");
    fz_check(f && (size == 0 || fwrite(data, 1, size, f) == size) && fclose(f) == 0, "write a scratch file");
}

bool fz_long_line(const uint8_t *data, size_t size, size_t max)
{
    auto differ = [](uint8_t byte, uint8_t newline) { return byte != newline; };
    return std::search_n(data, data + size, max + 1, '\n', differ) != data + size;
}

bool fz_run(void (*body)(const void *), const void *arg, bool may_end)
{
    uint32_t errors = alert_error_count();
    if (!may_end) {
        body(arg);
        fz_check(alert_error_count() == errors, "no error in process");
        return true;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        alarm(20); /* a hang is a finding too */
        alert_set_exit_hook([](int) { _exit(EXIT_FATAL); });
        body(arg);
        _exit(0);
    }
    int st = 0;
    while (pid > 0 && waitpid(pid, &st, 0) < 0 && errno == EINTR) continue;
    fz_check(pid > 0 && WIFEXITED(st) && (WEXITSTATUS(st) == 0 || WEXITSTATUS(st) == EXIT_FATAL),
             "a forked run ends normally or by a fatal alert (else see its report above)");
    return WEXITSTATUS(st) == 0;
}
