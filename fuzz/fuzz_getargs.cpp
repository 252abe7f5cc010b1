/*
 * fuzz_getargs.cpp - the command-file word splitter (getargs) on the input as
 * standard input: short words without tab or LF, and the same words whether
 * the file is read whole or a line at a time.  Only a line over the word
 * limit can cut a word (alert 917, an error; the 21st is fatal): such inputs
 * run forked.
 */
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cmdline.h"
#include "fuzz_util.h"

/* Appends the words of one getargs call on standard input to `words`. */
static void take_words(bool one_line, size_t size, std::vector<std::string> *words)
{
    int count = -1;
    char **got = getargs(one_line, "kvq", &count);
    fz_check(count >= 1 && strcmp(got[0], "kvq") == 0 && !got[count] && count - 1 <= (int)size, "name, words, NULL");
    size_t bytes = 0;
    for (int i = 1; i < count; free(got[i++])) {
        bytes += strlen(got[i]);
        fz_check(strlen(got[i]) <= GETARGS_WORD_MAX && !strpbrk(got[i], "\t\n"), "short words, no tab or LF");
        words->emplace_back(got[i]);
    }
    fz_check(bytes <= size, "no more word bytes than input bytes");
}

static void run(const void *arg)
{
    size_t size = *(const size_t *)arg;
    std::vector<std::string> whole, lines;
    fz_check(freopen("in.txt", "r", stdin) != nullptr, "reopen standard input");
    take_words(false, size, &whole);
    fz_check(freopen("in.txt", "r", stdin) != nullptr, "reopen standard input");
    for (size_t n = 0; n <= size && !feof(stdin); n++) take_words(true, size, &lines);
    fz_check(whole == lines, "a file read whole gives the words of its lines");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fz_enter_scratch();
    fz_write_file("in.txt", data, size);
    /* A cut takes GETARGS_WORD_MAX + 1 bytes; each mode may cut the first line. */
    fz_check(fz_run(run, &size, fz_long_line(data, size, GETARGS_WORD_MAX)) || size >= 20 * (GETARGS_WORD_MAX + 1),
             "no fatal end below 21 cut words");
    fz_leave_scratch();
    return 0;
}
