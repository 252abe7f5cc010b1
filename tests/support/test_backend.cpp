/*
 * test_backend.cpp - the stand-in back end (torc, torc18, ...) of the tests and
 * scripts/main-job.sh; not part of the product.  It decodes its "@" command
 * files, read in text mode as a real back end reads them, and prints
 * "<name>: <n> option(s) from <file>", then "  <option>" lines.  Steered by
 * the environment, in this order:
 *   KVQ_TB_STATE=file   writes what it inherited (tb_inherited) to file;
 *   KVQ_TB_QUIET        prints nothing;
 *   KVQ_TB_SLEEP_MS=n   sleeps n ms, after the signal of tb_signal_parent;
 *   KVQ_TB_RECORD=dir   writes dir/runN.argv (one argument a line) and
 *                       dir/runN.cmd (the command files' bytes), N the first
 *                       free number from 1;
 *   KVQ_TB_MESSAGE=txt  writes "txt\n" to the "-E+<file>" of the options,
 *                       else to standard error;
 *   KVQ_TB_PAUSE=file   creates the file and waits a minute, outlasting Ctrl-C;
 *   then tb_platform_actions, and KVQ_TB_EXIT=n is the exit status (0).
 */
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

/* From test_backend_<platform>.cpp: the open descriptors and what else the
 * platform lets a child inherit, as lines; signals the driver, as the
 * environment asks; makes Ctrl-C (SIGINT) leave the process alone; ends the
 * process abnormally or signals, as the environment asks. */
std::string tb_inherited(void);
void tb_signal_parent(void);
void tb_ignore_ctrl_c(void);
void tb_platform_actions(void);

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

static std::string read_file(const char *path, std::ios::openmode mode)
{
    std::ostringstream text;
    text << std::ifstream(path, mode).rdbuf();
    return text.str();
}

static void record(const std::string &dir, int argc, char **argv, const std::string &cmd)
{
    std::string base = dir + "/run";
    int n = 1;
    while (std::ifstream(base + std::to_string(n) + ".argv")) n++;
    base += std::to_string(n);
    std::ofstream args(base + ".argv", std::ios::binary);
    for (int i = 0; i < argc; i++) args << argv[i] << "\n";
    std::ofstream(base + ".cmd", std::ios::binary) << cmd;
}

int main(int argc, char **argv)
{
    if (const char *path = getenv("KVQ_TB_STATE")) {
        std::string state = tb_inherited(); /* before the file adds a descriptor */
        std::ofstream(path, std::ios::binary) << state;
    }
    const char *name = argv[0] + strlen(argv[0]); /* its last component */
    while (name > argv[0] && name[-1] != '/' && name[-1] != '\\') name--;
    bool quiet = getenv("KVQ_TB_QUIET") != nullptr;
    std::string all_cmd, error_file;
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] != '@') continue;
        all_cmd += read_file(argv[i] + 1, std::ios::binary);
        std::vector<std::string> options = decode(read_file(argv[i] + 1, std::ios::in));
        unsigned count = (unsigned)options.size();
        if (!quiet) printf("%s: %u option%s from %s\n", name, count, count == 1 ? "" : "s", argv[i] + 1);
        for (const std::string &o : options) {
            if (!quiet) printf("  %s\n", o.c_str());
            if (o.compare(0, 3, "-E+") == 0 && o.size() > 3) error_file = o.substr(3);
        }
    }
    fflush(stdout);
    tb_signal_parent();
    if (const char *ms = getenv("KVQ_TB_SLEEP_MS")) std::this_thread::sleep_for(std::chrono::milliseconds(atoi(ms)));
    if (const char *dir = getenv("KVQ_TB_RECORD")) record(dir, argc, argv, all_cmd);
    if (const char *msg = getenv("KVQ_TB_MESSAGE")) {
        FILE *f = error_file.empty() ? nullptr : fopen(error_file.c_str(), "a");
        fprintf(f ? f : stderr, "%s\n", msg);
        if (f) fclose(f);
    }
    if (const char *marker = getenv("KVQ_TB_PAUSE")) {
        tb_ignore_ctrl_c();
        std::ofstream{marker};
        std::this_thread::sleep_for(std::chrono::seconds(60));
    }
    tb_platform_actions();
    const char *status = getenv("KVQ_TB_EXIT");
    return status ? atoi(status) : 0;
}
