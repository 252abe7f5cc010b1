/*
 * fuzz_getargs.cpp - the command-file word splitter (getargs) on arbitrary
 * bytes given as standard input, in the all-lines and the one-line mode.
 *
 * Inputs the reference model describes are compared with it word for word.
 * Overlong words raise alert 917, an error that counts towards the limit of
 * 20, so an input that may hold one runs in a forked child: there the number
 * of errors must equal the number of lines with a cut word, and the 21st
 * error must end the run.
 */
#include <cstring>

#include "alert.h"
#include "cmdline.h"
#include "fuzz_util.h"

/* The line reader reads pieces of at most 1023 bytes. */
constexpr size_t LINE_PIECE = 1024;

struct split_case {
    const uint8_t *data;
    size_t size;
    bool modelled;
};

/* The reference words, empty ones dropped, and the lines with a cut word. */
static std::vector<std::string> model(const split_case *c, bool one_line, unsigned *cut_lines)
{
    std::vector<std::string> words;
    *cut_lines = 0;
    for (const std::string &line : fz_lines(c->data, c->size)) {
        *cut_lines += fz_split_line(line, words);
        if (one_line) break;
    }
    return words;
}

static void compare(const split_case *c, bool one_line)
{
    uint32_t errors_before = alert_error_count();
    fz_check(freopen("stdin.txt", "r", stdin) != nullptr, "reopen standard input");
    int count = -1;
    char **words = getargs(one_line, "kvq", &count);
    fz_check(count >= 1 && words[0] && strcmp(words[0], "kvq") == 0, "element 0 is the name");
    fz_check(words[count] == nullptr, "the array ends with NULL");
    std::vector<std::string> got;
    for (int i = 1; i < count; i++) {
        fz_check(strlen(words[i]) <= FZ_WORD_MAX, "no word longer than the limit");
        if (words[i][0]) got.emplace_back(words[i]);
        free(words[i]);
    }
    if (!c->modelled) return;
    unsigned cut_lines;
    fz_check(got == model(c, one_line, &cut_lines), "words equal the reference model");
    fz_check(alert_error_count() - errors_before == cut_lines, "one alert 917 per line with a cut word");
}

static void run_both_modes(void *arg)
{
    compare((const split_case *)arg, false);
    compare((const split_case *)arg, true);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    split_case c{data, size, fz_modelled(data, size, LINE_PIECE)};
    unsigned cut_all, cut_first;
    model(&c, false, &cut_all);
    model(&c, true, &cut_first);
    fz_enter_scratch();
    fz_write_file("stdin.txt", data, size);
    if (size <= FZ_WORD_MAX || (c.modelled && cut_all == 0)) {
        run_both_modes(&c); /* no word can reach the limit: no error */
    } else {
        int status = fz_forked(run_both_modes, &c);
        bool fatal = cut_all + cut_first > FZ_ERROR_LIMIT;
        fz_check(c.modelled ? status == (fatal ? FZ_EXIT_FATAL : 0) : (status == 0 || status == FZ_EXIT_FATAL),
                 "a forked run ends by itself exactly when the error limit is passed");
    }
    fz_leave_scratch();
    return 0;
}
