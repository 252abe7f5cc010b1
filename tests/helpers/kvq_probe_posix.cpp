/*
 * kvq_probe (POSIX) - the kvq driver with test hooks; the tests copy it into an
 * installation tree as its kvq.  Steered by the environment:
 *   KVQ_PROBE_REFUSE=name     reopening standard input on the command file
 *                             `name` fails with EMFILE (as when descriptors
 *                             run out at that moment), closing it first as a
 *                             failed reopen does;
 *   KVQ_PROBE_SWAP=name:other after the first reopening of standard input on
 *                             `name`, the file `other` is renamed over `name`
 *                             (another process replacing the file between
 *                             its opening and any later look at its name).
 */
#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kvq.h"

typedef FILE *(*freopen_fn)(const char *, const char *, FILE *);

extern "C" FILE *freopen(const char *path, const char *mode, FILE *stream)
{
    static freopen_fn real = (freopen_fn)dlsym(RTLD_NEXT, "freopen");
    const char *refuse = getenv("KVQ_PROBE_REFUSE");
    if (path && refuse && strcmp(path, refuse) == 0) {
        real("/nonexistent/kvq-probe", mode, stream);
        errno = EMFILE;
        return NULL;
    }
    FILE *opened = real(path, mode, stream);
    static bool swapped;
    std::string swap = getenv("KVQ_PROBE_SWAP") ? getenv("KVQ_PROBE_SWAP") : "";
    size_t colon = swap.find(':');
    if (opened && path && !swapped && colon != std::string::npos && swap.substr(0, colon) == path) {
        swapped = true;
        if (rename(swap.c_str() + colon + 1, path) != 0) perror("kvq_probe: rename");
    }
    return opened;
}

int main(int argc, char **argv)
{
    return kvq_main(argc, argv);
}
