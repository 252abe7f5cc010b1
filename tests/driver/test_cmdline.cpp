/*
 * test_cmdline.cpp - the argument intake in process: getargs' word splitting
 * and cmdline_expand's handling of "@" files.  Both reopen standard input, so
 * each TEST needs no standard input afterwards.
 */
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cmdline.h"
#include "kvdebug.h"
#include "test_util.h"
#include "vector.h"

namespace {

using strings = std::vector<std::string>;

/* The words getargs reads from `text` (element 0, the name, left out). */
strings words_of(const std::string &dir, const std::string &text, bool one_line)
{
    std::string path = dir + "/words.txt";
    tu_write(path, text);
    EXPECT_NE(freopen(path.c_str(), "r", stdin), nullptr);
    int count = -1;
    char **words = getargs(one_line, "kvq", &count);
    EXPECT_STREQ(words[0], "kvq");
    EXPECT_EQ(words[count], nullptr);
    strings out;
    for (int i = 1; i < count; i++) {
        out.push_back(words[i]);
        free(words[i]);
    }
    return out;
}

strings seen;
void remember(const char *arg) { seen.push_back(arg); }

std::string x(size_t n) { return std::string(n, 'x'); }

}  // namespace

TEST(Getargs, SplitsLinesIntoWords)
{
    /* text, one line only, words */
    const struct {
        std::string text;
        bool one_line;
        strings words;
    } rows[] = {
        {"plain \"a b\"  'say \"hi\"'\n", false, {"plain", "a b", "", "say \"hi\""}},
        {"\"a\tb c\" d\n", false, {"a", "b c", "d"}}, /* tab splits; the quote carries on */
        {"\"it\\'s\" \\q \\\\ \\ \n", false, {"it's", "\\q", "\\", " "}},
        {"end\\", false, {"end"}}, /* escape at the end is dropped */
        {"a\r\nb\rc\n\n", false, {"a", "b\rc", ""}}, /* CR LF reads as LF */
        {"one two\nthree\n", true, {"one", "two"}},
        /* A word reaching the limit mid-run, by a kept backslash or after a
         * quote is cut there and the rest of its line dropped. */
        {x(3000) + " cut\nnext\n", false, {x(GETARGS_WORD_MAX), "next"}},
        {x(2046) + "\\ab rest\nz\n", false, {x(2046) + "\\", "z"}},
        {x(2047) + "'y' more\nz\n", false, {x(2047), "z"}},
        {x(1500) + " 'p q'\tr\n", false, {x(1500), "p q", "r"}}, /* a line longer than any buffer */
    };
    std::string dir = tu_mkdtemp();
    for (const auto &c : rows) EXPECT_EQ(words_of(dir, c.text, c.one_line), c.words) << c.text.substr(0, 40);

    /* Far more words than the array starts with. */
    std::string many;
    for (int i = 0; i < 5000; i++) many += "w" + std::to_string(i) + (i % 7 ? " " : "\n");
    strings got = words_of(dir, many, false);
    EXPECT_EQ(got.size(), 5000u);
    EXPECT_EQ(got.back(), "w4999");
    tu_rmtree(dir);
}

TEST(CmdlineExpand, ExpandsFilesAndUnescapesArguments)
{
    std::string dir = tu_mkdtemp();
    tu_write(dir + "/outer.txt", "o1 @" + dir + "/inner.txt o2 \\\"kept\\\"\n");
    /* The inner file, without "@" words, is processed in place: an empty word
     * drops out and an escaped blank loses its backslash there too. */
    tu_write(dir + "/inner.txt", "i1  x\\\\\\ y\n--kvdebug=assert:warning\n");
    std::string outer = "@" + dir + "/outer.txt", missing = "@" + dir + "/missing.txt";
    std::string at_dir = "@" + dir; /* a directory is not a command file */
    std::vector<const char *> argv = {"/some/where/kvq", "a\\ b", "", outer.c_str(), missing.c_str(),
                                      "C:\\src\\x.c", "@", "q\\\\\\'", at_dir.c_str()};

    vector *args = cmdline_expand((int)argv.size(), (char **)argv.data(), remember);
    strings got;
    for (uint32_t i = 0; i < vec_size(args); i++) got.push_back((const char *)vec_get(args, i));
    EXPECT_EQ(got, (strings{"a b", "o1", "i1", "x y", "--kvdebug=assert:warning", "o2", "\"kept\"", missing, "C:\\src\\x.c",
                            "@", "q\\'", at_dir}));
    EXPECT_EQ(seen, (strings{"a\\ b", "", outer, "o1", "@" + dir + "/inner.txt", "i1", "", "x\\ y",
                             "--kvdebug=assert:warning", "o2", "\"kept\"", missing, "C:\\src\\x.c", "@",
                             "q\\\\\\'", at_dir}));
    EXPECT_EQ(gAssertLevel, (uint32_t)DB_ASSERT_WARNING);
    EXPECT_STREQ(cmdline_program_name(), "kvq");
    vec_free(args);
    tu_rmtree(dir);
}
