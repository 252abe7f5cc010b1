/*
 * fuzz_getargs.cpp - the command-file word splitter (getargs) on arbitrary
 * bytes given as standard input.
 *
 * Every input runs under the sanitizers; inputs the reference model describes
 * (fuzz_util: no NUL byte, no CR near a read-piece boundary) are also
 * compared word for word with it, in the all-lines and the one-line mode.
 * Overlong words raise alert 917, an error that counts towards the limit of
 * 20, so an input that may hold one runs in a forked child: there the number
 * of errors must equal the number of lines with a cut word, and the 21st
 * error must end the run.
 */
#include <cstring>

#include "alert.h"
#include "cmdline.h"
#include "fuzz_util.h"

struct split_case {
    const uint8_t *data;
    size_t size;
};

/* getargs on the input; the words after the name, the empty ones dropped. */
static std::vector<std::string> run_getargs(const split_case *c, bool one_line)
{
    fz_stdin_from(c->data, c->size);
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
    return got;
}

/* The reference words and the number of lines with a cut word. */
static std::vector<std::string> model(const split_case *c, bool one_line, unsigned *cut_lines)
{
    std::vector<std::string> words;
    *cut_lines = 0;
    for (const std::string &line : fz_lines(fz_text_mode(c->data, c->size))) {
        if (fz_split_line(line, words)) ++*cut_lines;
        if (one_line) break;
    }
    return words;
}

/* The line reader reads pieces of at most 1023 bytes. */
static bool modelled(const split_case *c)
{
    return fz_modelled(c->data, c->size, 1024);
}

static void compare(const split_case *c, bool one_line)
{
    uint32_t errors_before = alert_error_count();
    std::vector<std::string> got = run_getargs(c, one_line);
    if (!modelled(c)) return;
    unsigned cut_lines;
    std::vector<std::string> want = model(c, one_line, &cut_lines);
    fz_check(alert_error_count() - errors_before == cut_lines, "one alert 917 per line with a cut word");
    fz_check(got == want, "words equal the reference model");
}

static void run_both_modes(void *arg)
{
    const split_case *c = (const split_case *)arg;
    compare(c, false);
    compare(c, true);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fz_guard_in_process();
    split_case c{data, size};
    bool described = modelled(&c);
    unsigned cut_all, cut_first;
    model(&c, false, &cut_all);
    model(&c, true, &cut_first);
    fz_enter_scratch();
    if (size <= FZ_WORD_MAX || (described && cut_all == 0)) {
        /* No word can reach the limit: no error, nothing can end the run. */
        run_both_modes(&c);
    } else {
        int status = fz_forked(run_both_modes, &c);
        if (described) {
            fz_check(status == (cut_all + cut_first > FZ_ERROR_LIMIT ? FZ_EXIT_FATAL : 0),
                     "a forked run ends by itself exactly when the error limit is passed");
        } else {
            fz_check(status == 0 || status == FZ_EXIT_FATAL, "a forked run ends normally or by the error limit");
        }
    }
    fz_leave_scratch();
    return 0;
}
