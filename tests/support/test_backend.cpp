/*
 * test_backend.cpp - a stand-in for the back-end programs (torc, torc18, ...)
 * used by the tests and the demonstration run.  Not part of the product.
 *
 * It reads the "@file" command files among its arguments, decodes one option
 * per line (a line in double quotes loses them; \" stands for "), and prints
 *     <name>: <n> option(s) from <cmdfile>
 *       <option>
 * on standard output.  The environment steers it:
 *     KVQ_TB_RECORD=dir   write dir/runN.argv (one argument per line) and
 *                         dir/runN.cmd (a byte copy of the command file),
 *                         N = 1, 2, ... the first free number
 *     KVQ_TB_MESSAGE=txt  write "txt\n" to the "-E+<file>" error file named in
 *                         the options, or to standard error without one
 *     KVQ_TB_KILL_PARENT=n  send signal n to the parent (the driver)
 *     KVQ_TB_SLEEP_MS=n   sleep n milliseconds before exiting
 *     KVQ_TB_SIGNAL=n     end by raising signal n
 *     KVQ_TB_EXIT=n       exit status (default 0)
 *     KVQ_TB_QUIET=1      print nothing
 */
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static std::string read_file(const char *path, bool *ok)
{
    std::string data;
    FILE *f = fopen(path, "rb");
    *ok = f != nullptr;
    if (!f) return data;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    fclose(f);
    return data;
}

/* Decodes the command-file format: one option per line; a line that begins
 * with a double quote runs to the closing quote (it may span lines) and loses
 * both quotes; inside an option \" is a double quote. */
static std::vector<std::string> decode(const std::string &text)
{
    std::vector<std::string> options;
    size_t i = 0;
    while (i < text.size()) {
        std::string raw;
        if (text[i] == '"') {
            size_t j = i + 1;
            while (j < text.size()) {
                if (text[j] == '\\' && j + 1 < text.size() && text[j + 1] == '"') {
                    raw += '"';
                    j += 2;
                } else if (text[j] == '"' && (j + 1 == text.size() || text[j + 1] == '\n')) {
                    break;
                } else {
                    raw += text[j++];
                }
            }
            i = j + 2;
        } else {
            size_t end = text.find('\n', i);
            if (end == std::string::npos) end = text.size();
            for (size_t j = i; j < end; j++) {
                if (text[j] == '\\' && j + 1 < end && text[j + 1] == '"') {
                    raw += '"';
                    j++;
                } else {
                    raw += text[j];
                }
            }
            i = end + 1;
        }
        options.push_back(raw);
    }
    return options;
}

static void record(const char *dir, int argc, char **argv, const std::string &cmd)
{
    std::string base;
    struct stat st;
    for (int n = 1;; n++) {
        base = std::string(dir) + "/run" + std::to_string(n);
        if (stat((base + ".argv").c_str(), &st) != 0) break;
    }
    FILE *f = fopen((base + ".argv").c_str(), "wb");
    if (f) {
        for (int i = 0; i < argc; i++) fprintf(f, "%s\n", argv[i]);
        fclose(f);
    }
    f = fopen((base + ".cmd").c_str(), "wb");
    if (f) {
        fwrite(cmd.data(), 1, cmd.size(), f);
        fclose(f);
    }
}

int main(int argc, char **argv)
{
    const char *name = strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0];
    bool quiet = getenv("KVQ_TB_QUIET") != nullptr;
    std::string all_cmd;
    std::string error_file;
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] != '@') continue;
        bool ok;
        std::string text = read_file(argv[i] + 1, &ok);
        all_cmd += text;
        std::vector<std::string> options = decode(text);
        if (!quiet) {
            printf("%s: %zu option%s from %s%s\n", name, options.size(), options.size() == 1 ? "" : "s",
                   argv[i] + 1, ok ? "" : " (unreadable)");
        }
        for (const std::string &o : options) {
            if (!quiet) printf("  %s\n", o.c_str());
            if (o.compare(0, 3, "-E+") == 0 && o.size() > 3) error_file = o.substr(3);
        }
    }
    fflush(stdout);
    if (const char *dir = getenv("KVQ_TB_RECORD")) record(dir, argc, argv, all_cmd);
    if (const char *msg = getenv("KVQ_TB_MESSAGE")) {
        FILE *f = error_file.empty() ? nullptr : fopen(error_file.c_str(), "a");
        fprintf(f ? f : stderr, "%s\n", msg);
        if (f) fclose(f);
    }
    if (const char *sig = getenv("KVQ_TB_KILL_PARENT")) kill(getppid(), atoi(sig));
    if (const char *ms = getenv("KVQ_TB_SLEEP_MS")) usleep((useconds_t)atoi(ms) * 1000);
    if (const char *sig = getenv("KVQ_TB_SIGNAL")) {
        /* The default action, even where a sanitizer has taken the signal over. */
        signal(atoi(sig), SIG_DFL);
        raise(atoi(sig));
    }
    const char *status = getenv("KVQ_TB_EXIT");
    return status ? atoi(status) : 0;
}
