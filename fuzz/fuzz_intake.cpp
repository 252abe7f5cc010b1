/*
 * fuzz_intake.cpp - the argument intake (cmdline_expand) of "kvq @f0" on the
 * command files f0..f3, the input split at the byte 0x1E ('/' is refused, so
 * no name leaves the scratch directory).  A file read inside itself is fatal,
 * an overlong word an error: an input where f<i> may name f<j>, j <= i
 * ("@f<j>" once quotes are removed), or with a line over the word limit runs
 * forked.  More than 16 "@f" are refused: the expansion grows exponentially.
 * The arguments must outlive a second intake of the same files unchanged.
 */
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cmdline.h"
#include "fuzz_util.h"
#include "kvdebug.h"
#include "vector.h"

/* The arguments "kvq @f0" stands for. */
static vector *expand(void)
{
    char arg0[] = "kvq", arg1[] = "@f0", *argv[] = {arg0, arg1, nullptr};
    return cmdline_expand(2, argv, [](const char *arg) { fz_check(arg != nullptr, "a real argument"); });
}

static void run(const void *)
{
    vector *out = expand();
    std::vector<std::string> first;
    for (uint32_t i = 0; i < vec_size(out); i++) {
        const char *arg = (const char *)vec_get(out, i);
        fz_check(arg[0] && !strpbrk(arg, "\t\n"), "non-empty arguments, no tab or LF");
        bool names_file = strncmp(arg, "@f", 2) == 0 && arg[2] >= '0' && arg[2] <= '3' && !arg[3];
        fz_check(!names_file, "every command file is expanded");
        first.emplace_back(arg);
    }
    /* The arguments live to the end of the run: another intake leaves them
     * as they were, and gives the same. */
    vector *again = expand();
    fz_check(vec_size(again) == vec_size(out), "the same number of arguments again");
    for (uint32_t i = 0; i < vec_size(out); i++) {
        fz_check(first[i] == (const char *)vec_get(out, i), "earlier arguments unchanged by a later intake");
        fz_check(first[i] == (const char *)vec_get(again, i), "the same arguments again");
    }
    vec_free(again);
    vec_free(out);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    db_parse_options("--kvdebug="); /* later "--kvdebug" words only warn */
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (memchr(data, '/', size)) return 0;
    bool back = false; /* some f<i> may name an f<j>, j <= i */
    int names = 0;
    fz_enter_scratch();
    const uint8_t *start = data, *end = data + size;
    for (char i = '0'; i <= '3'; i++) {
        const uint8_t *stop = i < '3' ? std::find(start, end, 0x1E) : end;
        fz_write_file((std::string("f") + i).c_str(), start, (size_t)(stop - start));
        std::string bare(start, stop);
        bare.erase(std::remove_if(bare.begin(), bare.end(), [](char c) { return c == '"' || c == '\''; }), bare.end());
        for (size_t at = 0; (at = bare.find("@f", at)) != bare.npos; at++, names++) {
            back = back || (at + 2 < bare.size() && bare[at + 2] >= '0' && bare[at + 2] <= i);
        }
        start = stop < end ? stop + 1 : end;
    }
    if (names <= 16) fz_run(run, nullptr, back || fz_long_line(data, size, GETARGS_WORD_MAX));
    fz_leave_scratch();
    return 0;
}
