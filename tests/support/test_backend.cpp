/*
 * test_backend.cpp - the stand-in back end (torc, torc18, ...) of the tests and
 * scripts/main-job.sh; not part of the product.  It decodes its "@" command
 * files and prints "<name>: <n> option(s) from <file>", then "  <option>" lines.
 * Steered by the environment, in this order: KVQ_TB_STATE=file writes what it
 * inherited to file: "fds:" and the open descriptors, "ignored:" and the
 * ignored signals, "blocked:" and the blocked ones, each list a line of
 * " <n>" items; KVQ_TB_QUIET=1 prints nothing; KVQ_TB_KILL_PARENT=n sends
 * signal n to the driver; KVQ_TB_SLEEP_MS=n sleeps n ms; KVQ_TB_RECORD=dir
 * writes dir/runN.argv (one argument a line) and dir/runN.cmd (the command
 * files' bytes), N the first free number from 1; KVQ_TB_MESSAGE=txt writes
 * "txt\n" to the "-E+<file>" of the options, else to standard error;
 * KVQ_TB_SIGNAL=n ends it by signal n; KVQ_TB_EXIT=n is the exit status
 * (default 0).
 */
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

/* One option per line; a line that begins with a double quote runs to the
 * closing quote that ends a line (it may span lines) and loses both quotes;
 * \" is a double quote. */
static std::vector<std::string> decode(const std::string &t)
{
    std::vector<std::string> options;
    for (size_t i = 0; i < t.size();) {
        bool quoted = t[i] == '"';
        std::string o;
        size_t j = i + quoted;
        for (; j < t.size(); j++) {
            if (t[j] == '\\' && j + 1 < t.size() && t[j + 1] == '"') o += t[++j];
            else if (quoted ? t[j] == '"' && (j + 1 == t.size() || t[j + 1] == '\n') : t[j] == '\n') break;
            else o += t[j];
        }
        options.push_back(o);
        i = j + 1 + quoted;
    }
    return options;
}

static void record(const std::string &dir, int argc, char **argv, const std::string &cmd)
{
    std::string base = dir + "/run";
    int n = 1;
    while (access((base + std::to_string(n) + ".argv").c_str(), F_OK) == 0) n++;
    base += std::to_string(n);
    std::ofstream args(base + ".argv", std::ios::binary);
    for (int i = 0; i < argc; i++) args << argv[i] << "\n";
    std::ofstream(base + ".cmd", std::ios::binary) << cmd;
}

/* Descriptors are looked at with fcntl, which opens none of its own. */
static void write_state(const char *path)
{
    std::string fds = "fds:", ignored = "ignored:", blocked = "blocked:";
    for (int fd = 0; fd < 1024; fd++)
        if (fcntl(fd, F_GETFD) != -1) fds += " " + std::to_string(fd);
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    for (int sig = 1; sig < 32; sig++) {
        struct sigaction sa;
        if (sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler == SIG_IGN) ignored += " " + std::to_string(sig);
        if (sigismember(&mask, sig) == 1) blocked += " " + std::to_string(sig);
    }
    std::ofstream(path) << fds << "\n" << ignored << "\n" << blocked << "\n";
}

int main(int argc, char **argv)
{
    if (const char *path = getenv("KVQ_TB_STATE")) write_state(path);
    const char *name = strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0];
    bool quiet = getenv("KVQ_TB_QUIET") != nullptr;
    std::string all_cmd, error_file;
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] != '@') continue;
        std::ostringstream text;
        text << std::ifstream(argv[i] + 1, std::ios::binary).rdbuf();
        all_cmd += text.str();
        std::vector<std::string> options = decode(text.str());
        if (!quiet) printf("%s: %zu option%s from %s\n", name, options.size(), options.size() == 1 ? "" : "s", argv[i] + 1);
        for (const std::string &o : options) {
            if (!quiet) printf("  %s\n", o.c_str());
            if (o.compare(0, 3, "-E+") == 0 && o.size() > 3) error_file = o.substr(3);
        }
    }
    fflush(stdout);
    if (const char *sig = getenv("KVQ_TB_KILL_PARENT")) kill(getppid(), atoi(sig));
    if (const char *ms = getenv("KVQ_TB_SLEEP_MS")) {
        timespec pause = {atoi(ms) / 1000, atoi(ms) % 1000 * 1000000L};
        while (nanosleep(&pause, &pause) != 0) {}
    }
    if (const char *dir = getenv("KVQ_TB_RECORD")) record(dir, argc, argv, all_cmd);
    if (const char *msg = getenv("KVQ_TB_MESSAGE")) {
        FILE *f = error_file.empty() ? nullptr : fopen(error_file.c_str(), "a");
        fprintf(f ? f : stderr, "%s\n", msg);
        if (f) fclose(f);
    }
    if (const char *sig = getenv("KVQ_TB_SIGNAL")) {
        /* The default action, even where a sanitizer has taken the signal over. */
        signal(atoi(sig), SIG_DFL);
        raise(atoi(sig));
    }
    const char *status = getenv("KVQ_TB_EXIT");
    return status ? atoi(status) : 0;
}
