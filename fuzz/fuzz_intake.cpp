/*
 * fuzz_intake.cpp - the argument intake (cmdline_expand) of "kvq @f0" on the
 * command files f0..f3, the input split at the byte 0x1E ('/' is refused, so
 * no name leaves the scratch directory): non-empty arguments without tab or
 * LF, every "@f<n>" expanded, and arguments that outlive a second intake of
 * the same files unchanged (their words lie in the files' kept texts).  A
 * file read inside itself is fatal, an overlong word an error: an input where
 * f<i> may name f<j>, j <= i, or with a line over the word limit runs forked.
 * More than 16 "@f" are refused: the expansion grows exponentially.
 */
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cmdline.h"
#include "fuzz_util.h"
#include "kvdebug.h"
#include "vector.h"

static std::vector<std::string> expand(vector **out)
{
    char arg0[] = "kvq", arg1[] = "@f0", *argv[] = {arg0, arg1, nullptr};
    *out = cmdline_expand(2, argv, nullptr);
    std::vector<std::string> args;
    for (uint32_t i = 0; i < vec_size(*out); i++) args.emplace_back((const char *)vec_get(*out, i));
    return args;
}

static void run(const void *)
{
    vector *out, *again;
    std::vector<std::string> first = expand(&out);
    for (const std::string &arg : first) {
        fz_check(!arg.empty() && arg.find_first_of("\t\n") == arg.npos, "non-empty arguments, no tab or LF");
        fz_check(arg.size() != 3 || arg.compare(0, 2, "@f") != 0 || arg[2] < '0' || arg[2] > '3',
                 "every command file is expanded");
    }
    fz_check(expand(&again) == first, "the same arguments again");
    for (uint32_t i = 0; i < vec_size(out); i++)
        fz_check(first[i] == (const char *)vec_get(out, i), "earlier arguments unchanged by a later intake");
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
        for (size_t at = 0; (at = bare.find("@f", at)) != bare.npos; at++, names++)
            back = back || (at + 2 < bare.size() && bare[at + 2] >= '0' && bare[at + 2] <= i);
        start = stop < end ? stop + 1 : end;
    }
    if (names <= 16) fz_run(run, nullptr, back || fz_long_line(data, size, GETARGS_WORD_MAX));
    fz_leave_scratch();
    return 0;
}
