/* test_read_line.cpp - text reading: the piece reader against a byte-at-a-time reading, and both line
 * readers on one file: pieces joined, CR LF read as LF, lone CRs, NUL bytes and very long lines. */
#include <gtest/gtest.h>

#include "osdep.h"
#include "stringcache.h"
#include "test_util.h"

/* Text-mode reading of `data` from `at` one byte at a time: at most size-1 bytes, up to and
 * including a line feed, CR LF read as LF wherever it falls. */
static std::string reference_piece(size_t size, const std::string &data, size_t &at)
{
    std::string out;
    while (out.size() + 1 < size && at < data.size()) {
        char c = data[at++];
        if (c == '\r' && at < data.size() && data[at] == '\n') c = data[at++];
        out += c;
        if (c == '\n') break;
    }
    return out;
}

TEST(TextReading, PiecesAndLinesWithCrLfNulAndLongLines)
{
    std::string varied, huge(300000, 'H'), inner = std::string(600, 'i') + "\r" + std::string(1500, 'j');
    for (int i = 0; i < 3000; i++) varied += (char)('a' + i % 26);
    /* Pieces of at most 1023 bytes: a lone CR ending a piece ends the line, one inside a piece is an
     * ordinary byte; a CR in a piece's last place still joins the LF after it.  A NUL ends the text
     * of its line, in whichever piece it lies, yet a line holding no text is no end of file. */
    const struct { std::string in, line; } lines[] = {
        /* in the file                                   read as */
        {varied + "\n",                                  varied + "\n"},
        {huge + "\r\n",                                  huge + "\n"},
        {std::string(1022, 'p') + "\n",                  std::string(1022, 'p') + "\n"},
        {std::string(1023, 'f') + "\n",                  std::string(1023, 'f') + "\n"},
        {std::string(1022, 'c') + "\r\n",               std::string(1022, 'c') + "\n"},
        {"a\r\r\n",                                     "a\r\n"},
        {std::string(1022, 'x') + "\r",                  std::string(1022, 'x') + "\r"},
        {"\r\r\r\n",                                    "\r\r\n"},
        {inner + "\r\n",                                inner + "\n"},
        {std::string("\0b\n", 3),                        ""},
        {std::string(1500, 'n') + std::string("\0b\r\n", 4), std::string(1500, 'n')},
        {"early" + std::string(1, '\0') + std::string(5000, 'h') + "\n",  "early"},
        {std::string(2500, 'm') + '\0' + std::string(2500, 'h') + "\n",   std::string(2500, 'm')},
        {"z" + std::string(1, '\0') + std::string(1020, 'h') + "\r",  "z"}, /* the CR still ends it */
        {"next\n",                                                "next\n"},
        {"last\r",                                       "last\r"},
    };
    std::string all;
    for (const auto &l : lines) all += l.in;
    /* Read in text mode, as the program reads its files. */
    std::string dir = tu_mkdtemp("kvqread");
    tu_write(dir + "/text", all);
    FILE *f = fopen((dir + "/text").c_str(), "r");
    ASSERT_NE(nullptr, f);
    for (size_t size : {2u, 3u, 4u, 7u, 64u}) {
        std::vector<char> buf(size + 1, 'x');
        rewind(f);
        size_t at = 0;
        for (size_t piece = 0, n = 1; n != 0; piece++) {
            n = os_read_text_piece(buf.data(), size, f);
            ASSERT_EQ(reference_piece(size, all, at), std::string(buf.data(), n))
                << "size " << size << " piece " << piece;
            ASSERT_EQ('\0', buf[n]);
        }
    }

    rewind(f);
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
    EXPECT_TRUE(str_is_cached(varied.substr(1023, 1023).c_str())) << "pieces are cached too";
}
