/*
 * floor_invoke.c - the least one driver invocation can cost.
 *
 * It does the driver's job and nothing else: the arguments go into a command
 * file, one per line, and the back end runs with "@file" (floor.h).  No option
 * scan, no escaping, no diagnostics: whatever kvq costs beyond this program is
 * the price of its features.  The benchmark builds it statically as C and
 * dynamically as C++, to show what loading the C++ runtime alone costs.
 */
#include "floor.h"

int main(int argc, char **argv)
{
    /* Room for far more than the 20 short options the benchmark passes. */
    char text[8192];
    size_t len = 0;
    for (int i = 1; i < argc; i++) {
        size_t n = strlen(argv[i]);
        if (len + n + 1 > sizeof text) return 1;
        memcpy(text + len, argv[i], n);
        len += n;
        text[len++] = '\n';
    }
    return floor_run(text, len);
}
