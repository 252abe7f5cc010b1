/*
 * alert_probe - runs diagnostics actions in a fresh process, one per
 * argument, for state that lasts a whole process (the catalogue loaded by the
 * first alert, warning-as-error options, fatal exits).
 *   -W...              werr_parseOption(arg, lenient)
 *   strict:OPT         werr_parseOption(OPT, strict); prints "pass" or "drop"
 *   promotes:N         prints "N error" or "N warning"
 *   msgfile            prints msg_filename(255)
 *   rank:A:B           prints the sign of edf_rank(A, B)
 *   hook               exit hook writing "cleanup(STATUS)" to standard error
 *   errno:N            errno set just before each later alert
 *   alert:N[:ARG...]   alert(N, ARG...), ARG "i<int>" or "s<text>"; prints "ret R"
 *   once:N[:ARG...]    the same through alert_once
 *   typed:N:TYPE:TEXT  alert_typed(N, TYPE, "%s", TEXT); prints "ret R"
 */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "alert.h"
#include "msgcat.h"
#include "werror.h"

static int probe_errno;

static void cleanup_hook(int status)
{
    fprintf(stderr, "cleanup(%d)\n", status);
}

/* Raises parts[1] with the arguments parts[2...] in the patterns the tests
 * use: none, i, s, ss, ssi. */
static int raise_with(int (*raise)(uint32_t, ...), const std::vector<std::string> &parts)
{
    uint32_t number = (uint32_t)atoi(parts[1].c_str());
    std::string pattern;
    const char *s[3] = {};
    int n[3] = {};
    for (size_t i = 2; i < parts.size() && i < 5; i++) {
        pattern += parts[i][0];
        s[i - 2] = parts[i].c_str() + 1;
        n[i - 2] = atoi(s[i - 2]);
    }
    errno = probe_errno;
    if (pattern == "i") return raise(number, n[0]);
    if (pattern == "s") return raise(number, s[0]);
    if (pattern == "ss") return raise(number, s[0], s[1]);
    if (pattern == "ssi") return raise(number, s[0], s[1], n[2]);
    return raise(number);
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        std::vector<std::string> parts;
        std::string rest = argv[i];
        for (size_t at; (at = rest.find(':')) != std::string::npos; rest.erase(0, at + 1)) {
            parts.push_back(rest.substr(0, at));
        }
        parts.push_back(rest);
        const std::string &verb = parts[0];
        int ret = -1;
        if (argv[i][0] == '-') {
            werr_parseOption(argv[i], true);
        } else if (verb == "strict") {
            printf("%s\n", werr_parseOption(parts[1].c_str(), false) ? "pass" : "drop");
        } else if (verb == "promotes") {
            printf("%s %s\n", parts[1].c_str(), werr_promotes((uint32_t)atoi(parts[1].c_str())) ? "error" : "warning");
        } else if (verb == "msgfile") {
            printf("%s\n", msg_filename(255));
        } else if (verb == "rank") {
            const char *a = parts[1].c_str(), *b = parts[2].c_str();
            int rank = edf_rank(&a, &b);
            printf("%d\n", (rank > 0) - (rank < 0));
        } else if (verb == "hook") {
            alert_set_exit_hook(cleanup_hook);
        } else if (verb == "errno") {
            probe_errno = atoi(parts[1].c_str());
        } else if (verb == "alert" || verb == "once") {
            fflush(stdout);
            ret = raise_with(verb == "alert" ? alert : alert_once, parts);
        } else if (verb == "typed") {
            fflush(stdout);
            errno = probe_errno;
            ret = alert_typed((uint32_t)atoi(parts[1].c_str()), parts[2].c_str(), "%s", parts[3].c_str());
        } else {
            fprintf(stderr, "alert_probe: unknown action %s\n", argv[i]);
            return 99;
        }
        if (ret != -1) printf("ret %d\n", ret);
        fflush(stdout);
    }
    return 0;
}
