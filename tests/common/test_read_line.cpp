/* test_read_line.cpp - the line readers of message files, of "@" files read a line at a time and of
 * the chip scan, on one file: pieces joined, CR LF read as LF, lone CRs, NUL bytes, long lines. */
#include <gtest/gtest.h>

#include "stringcache.h"
#include "test_util.h"

TEST(TextReading, LinesWithCrLfNulAndLongLines)
{
    std::string varied, inner = std::string(600, 'i') + "\r" + std::string(1500, 'j');
    for (int i = 0; i < 3000; i++) varied += (char)('a' + i % 26);
    /* Lines are read in pieces of 1023 bytes: a lone CR ending a piece ends the line, one inside a
     * piece is an ordinary byte; a CR in a piece's last place still joins the LF after it.  A NUL
     * ends the text of its line, in whichever piece it lies, yet a line holding no text is no end
     * of file. */
    const struct { std::string in, line; } lines[] = {
        /* in the file                                   read as */
        {varied + "\n",                                  varied + "\n"},
        {std::string(300000, 'H') + "\r\n",              std::string(300000, 'H') + "\n"},
        {std::string(1023, 'f') + "\n",                  std::string(1023, 'f') + "\n"},
        {std::string(1022, 'c') + "\r\n",                std::string(1022, 'c') + "\n"},
        {"a\r\r\n",                                      "a\r\n"},
        {std::string(1022, 'x') + "\r",                  std::string(1022, 'x') + "\r"},
        {inner + "\r\n",                                 inner + "\n"},
        {std::string("\0b\n", 3),                        ""},
        {std::string(1500, 'n') + std::string("\0b\r\n", 4), std::string(1500, 'n')},
        {std::string(2500, 'm') + '\0' + std::string(2500, 'h') + "\n", std::string(2500, 'm')},
        {"z" + std::string(1, '\0') + std::string(1020, 'h') + "\r", "z"}, /* the CR still ends it */
        {"next\n",                                       "next\n"},
        {"last\r",                                       "last\r"},
    };
    std::string all, dir = tu_mkdtemp("kvqread");
    for (const auto &l : lines) all += l.in;
    tu_write(dir + "/text", all);
    FILE *f = fopen((dir + "/text").c_str(), "r"); /* text mode, as the program reads its files */
    ASSERT_NE(nullptr, f);
    uint32_t cached = str_cache_count();
    char *buf = nullptr;
    size_t cap = 0, len = 0;
    for (const auto &l : lines) {
        ASSERT_TRUE(str_read_line_into(f, &buf, &cap, &len)) << l.line.substr(0, 20);
        EXPECT_TRUE(len == strlen(buf) && std::string(buf, len) == l.line) << l.line.substr(0, 20);
    }
    EXPECT_FALSE(str_read_line_into(f, &buf, &cap, &len));
    EXPECT_EQ(cached, str_cache_count()) << "the non-caching reader caches nothing";
    free(buf);
    rewind(f);
    for (const auto &l : lines) EXPECT_EQ(str_save(l.line.c_str()), str_read_line(f)) << l.line.substr(0, 20);
    EXPECT_EQ(nullptr, str_read_line(f));
    fclose(f);
    tu_rmtree(dir);
}
