/*
 * fuzz_getargs.cpp - the command-file word splitter (getargs) on the input as
 * standard input, in both modes: read whole, the input gives the words of
 * its lines read one at a time.  Only a line over the word limit can cut a
 * word (alert 917, an error; the 21st is fatal): such inputs run forked.
 */
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cmdline.h"
#include "fuzz_util.h"

/* Appends the words of one getargs call on standard input to `words`; with
 * `empty`, the empty ones too. */
static void take_words(bool one_line, size_t size, bool empty, std::vector<std::string> *words)
{
    int count = -1;
    char **got = getargs(one_line, "kvq", &count);
    fz_check(count >= 1 && strcmp(got[0], "kvq") == 0 && !got[count] && count - 1 <= (int)size, "name, words, NULL");
    size_t bytes = 0;
    for (int i = 1; i < count; free(got[i++])) {
        bytes += strlen(got[i]);
        fz_check(strlen(got[i]) <= GETARGS_WORD_MAX && !strpbrk(got[i], "\t\n"), "short words, no tab or LF");
        if (empty || got[i][0]) words->emplace_back(got[i]);
    }
    fz_check(bytes <= size, "no more word bytes than input bytes");
}

/* The non-empty words getargs reads from the file `name` of `size` bytes. */
static std::vector<std::string> read_words(const char *name, bool one_line, size_t size)
{
    fz_check(freopen(name, "r", stdin) != nullptr, "reopen standard input");
    std::vector<std::string> words;
    take_words(one_line, size, false, &words);
    return words;
}

/* All words, empty ones included, of the file `name` read whole, and read a
 * line at a time to its end: the same. */
static void check_line_at_a_time(const char *name, size_t size)
{
    std::vector<std::string> whole, lines;
    fz_check(freopen(name, "r", stdin) != nullptr, "reopen standard input");
    take_words(false, size, true, &whole);
    fz_check(freopen(name, "r", stdin) != nullptr, "reopen standard input");
    for (size_t n = 0; n <= size && !feof(stdin); n++) take_words(true, size, true, &lines);
    fz_check(whole == lines, "a file read whole gives the words of its lines");
}

static void run(const void *arg)
{
    size_t size = *(const size_t *)arg;
    check_line_at_a_time("in.txt", size);
    std::vector<std::string> all = read_words("in.txt", false, size), first = read_words("in.txt", true, size);
    fz_check(first.size() <= all.size() && std::equal(first.begin(), first.end(), all.begin()),
             "the one-line words begin the all-lines words");
    std::string line;
    for (const std::string &w : all) {
        line += line.empty() ? "" : " ";
        for (char c : w) line += strchr("'\" \\", c) ? std::string("\\") + c : std::string(1, c);
    }
    /* A CR that ends a read piece of a long line may end the line there. */
    if (line.size() > 1000 && line.find('\r') != line.npos) return;
    fz_write_file("again.txt", (const uint8_t *)line.data(), line.size());
    fz_check(read_words("again.txt", true, line.size()) == all, "the escaped words read back as themselves");
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
