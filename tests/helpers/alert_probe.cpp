/* alert_probe - the child process of the common tests, for state that lasts a whole process (the
 * catalogue loaded by the first alert, recorded options, fatal exits with the temporary directory
 * they remove, the discovered installation).  Each argument is a warning-as-error option or an
 * action "verb:word:..." (see ACTIONS); tests also copy the program into installation-shaped
 * trees. */
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "alert.h"
#include "kvinstdir.h"
#include "msgcat.h"
#include "registry.h"
#include "werror.h"

static int probe_errno;

typedef std::vector<std::string> words;

static int arg_int(const words &w, size_t i) { return i < w.size() ? atoi(w[i].c_str()) : 0; }
static const char *arg_str(const words &w, size_t i) { return i < w.size() ? w[i].c_str() : ""; }

/* Words i and after joined again by ':' (a path may hold a drive's colon). */
static std::string arg_rest(const words &w, size_t i)
{
    std::string rest;
    for (; i < w.size(); i++) rest += w[i] + (i + 1 < w.size() ? ":" : "");
    return rest;
}
static const char *shown(const char *s) { return s ? s : "(none)"; }
static void cleanup_hook(int status) { fprintf(stderr, "cleanup(%d)\n", status); }

/* What the installation layer finds: the version and message-file directories, then the back-end
 * path of "torc" and of each name given in PROBE_PATHS (separated by '|'). */
static void report(const words &)
{
    char *program = os_program_path();
    printf("prog=%s found=%d\n", shown(program), set_kvinstall_paths() ? 1 : 0);
    free(program);
    puts(shown(kvinstdir(KVINSTDIR_VER)));
    puts(shown(reg_instdir(REG_DAT)));
    std::string names = std::string("torc|") + (getenv("PROBE_PATHS") ? getenv("PROBE_PATHS") : "");
    for (size_t at = 0, bar; at < names.size(); at = bar + 1) {
        bar = std::min(names.find('|', at), names.size());
        puts(shown(reg_mkpath(REG_BIN, names.substr(at, bar - at).c_str())));
    }
}

/* A temporary file with some content; tells whether it was made under TEMP. */
static void make_temp(const words &)
{
    char *path = os_temp_name(".tmp");
    FILE *f = path ? fopen(path, "w") : NULL;
    if (path && (!f || fputs("content\n", f) < 0 || fclose(f) != 0)) perror(path);
    const char *temp = getenv("TEMP");
    puts(path && temp && strncmp(path, temp, strlen(temp)) == 0 ? "made in TEMP" : path ? path : "NULL");
    free(path);
}

/* Raises w[1] with the arguments w[2...]: one int for "i<int>", else up to two "s<text>" strings
 * and an "i<int>" (surplus arguments are never read); prints "ret R". */
static void raise_with(int (*raise)(uint32_t, ...), const words &w)
{
    const char *arg[3] = {"", "", ""};
    for (size_t i = 2; i < w.size() && i < 5; i++) arg[i - 2] = w[i].c_str() + 1;
    errno = probe_errno;
    uint32_t number = (uint32_t)arg_int(w, 1);
    printf("ret %d\n", w.size() > 2 && w[2][0] == 'i' ? raise(number, atoi(arg[0]))
                                                       : raise(number, arg[0], arg[1], atoi(arg[2])));
}

/* verb         what it does with the words of the action */
static const struct { const char *verb; void (*run)(const words &w); } ACTIONS[] = {
    {"strict",     [](const words &w) { puts(werr_parseOption(arg_str(w, 1), false) ? "pass" : "drop"); }},
    {"promotes",   [](const words &w) {
         printf("%d %s\n", arg_int(w, 1), werr_promotes(arg_int(w, 1)) ? "error" : "warning");
     }},
    {"msgfile",    [](const words &) { puts(msg_filename(255)); }},
    {"hook",       [](const words &) { alert_set_exit_hook(cleanup_hook); }},
    {"errno",      [](const words &w) { probe_errno = arg_int(w, 1); }},
    {"alert",      [](const words &w) { raise_with(alert, w); }},
    {"once",       [](const words &w) { raise_with(alert_once, w); }},
    {"typed",      [](const words &w) {
         printf("ret %d\n", alert_typed(arg_int(w, 1), arg_str(w, 2), "%s", arg_str(w, 3)));
     }},
    {"rank",       [](const words &w) { /* edf_rank of two names separated by '|', as -1, 0 or 1 */
         std::string names = arg_rest(w, 1);
         size_t bar = names.find('|');
         std::string first = names.substr(0, bar), second = bar == std::string::npos ? "" : names.substr(bar + 1);
         const char *a = first.c_str(), *b = second.c_str();
         printf("%d\n", std::min(1, std::max(-1, edf_rank(&a, &b))));
     }},
    {"inst",       report},
    {"mkdir",      [](const words &w) { if (os_make_dirs(arg_rest(w, 1).c_str()) != 0) perror("mkdir"); }},
    {"temp",       make_temp},
};

int main(int argc, char **argv)
{
    alert_install_hooks();
    os_set_argv0(argv[0]);
    for (int i = 1; i < argc; i++) {
        words w;
        std::string rest = argv[i];
        for (size_t at; (at = rest.find(':')) != std::string::npos; rest.erase(0, at + 1))
            w.push_back(rest.substr(0, at));
        w.push_back(rest);
        auto action = std::find_if(std::begin(ACTIONS), std::end(ACTIONS), [&](auto &a) { return w[0] == a.verb; });
        if (argv[i][0] == '-') werr_parseOption(argv[i], true);
        else if (action != std::end(ACTIONS)) action->run(w);
        else return fprintf(stderr, "alert_probe: unknown action %s\n", argv[i]), 99;
        fflush(stdout);
    }
    return 0;
}
