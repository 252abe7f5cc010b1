/*
 * test_getargs.cpp - getargs on lines mixing long runs of ordinary bytes with
 * quotes, escapes, blanks and tabs: its words must be those of a plain
 * byte-at-a-time reading of the word rules, the 2047-character cut included.
 */
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cmdline.h"
#include "test_util.h"

namespace {

using strings = std::vector<std::string>;

/* The word rules one byte at a time; a cut word ends the line. */
void model_line(const std::string &line, strings &out)
{
    const size_t max = GETARGS_WORD_MAX;
    std::string word;
    char quote = 0;
    bool escape = false;
    auto add = [&](char c) {
        if (word.size() == max) return false;
        word += c;
        return true;
    };
    bool room = true;
    for (size_t i = 0; i < line.size() && room; i++) {
        char c = line[i];
        if (c == '\'' || c == '"') {
            if (escape || (quote && quote != c)) room = add(c);
            else quote = quote ? 0 : c;
            escape = false;
        } else if (c == '\\') {
            if (escape) room = add('\\');
            escape = !escape;
        } else if (c == ' ' && !quote && !escape) {
            out.push_back(word), word.clear();
        } else if (c == ' ') {
            room = add(' '), escape = false;
        } else if (c == '\t' || c == '\n') {
            out.push_back(word), word.clear();
        } else {
            if (escape) room = add('\\'), escape = false;
            if (room) room = add(c);
        }
    }
    if (!word.empty()) out.push_back(word);
}

/* Lines of pseudo-random pieces: long ordinary runs, runs ending right at
 * the word limit, and the special bytes alone or escaped. */
std::string random_text(unsigned seed, int lines)
{
    const char *const bits[] = {"'", "\"", "\\", " ", "\t", "\\ ", "\\\\", "\\x", "\\'", "\r"};
    srand(seed);
    std::string text;
    for (int l = 0; l < lines; l++) {
        int pieces = rand() % 12;
        for (int p = 0; p < pieces; p++) {
            int kind = rand() % 4;
            if (kind == 0) text += bits[rand() % 10];
            else if (kind == 1) text += std::string((size_t)(rand() % 40), (char)('a' + rand() % 26));
            else if (kind == 2) text += std::string((size_t)(rand() % 5), '-');
            else if (l % 40 == 7) text += std::string(GETARGS_WORD_MAX - 2 + (size_t)(rand() % 4), 'L');
        }
        text += '\n';
    }
    return text;
}

}  // namespace

TEST(Getargs, RunsSplitLikeTheByteRules)
{
    std::string dir = tu_mkdtemp();
    for (unsigned seed = 1; seed <= 3; seed++) {
        std::string text = random_text(seed, 120);
        /* Text mode: CR LF reads as LF. */
        std::string read = text;
        for (size_t at = 0; (at = read.find("\r\n", at)) != std::string::npos; at++) read.erase(at, 1);
        strings expected;
        size_t start = 0;
        for (size_t nl; (nl = read.find('\n', start)) != std::string::npos; start = nl + 1)
            model_line(read.substr(start, nl + 1 - start), expected);

        tu_write(dir + "/w.txt", text);
        ASSERT_NE(freopen((dir + "/w.txt").c_str(), "r", stdin), nullptr);
        int count = 0;
        char **words = getargs(false, "kvq", &count);
        strings got;
        for (int i = 1; i < count; i++) {
            got.push_back(words[i]);
            free(words[i]);
        }
        ASSERT_EQ(got.size(), expected.size()) << "seed " << seed;
        for (size_t i = 0; i < got.size(); i++) EXPECT_EQ(got[i], expected[i]) << "seed " << seed << " word " << i;
    }
    tu_rmtree(dir);
}
