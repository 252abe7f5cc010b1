/*
 * test_read_line.cpp - text reading: the piece reader against a byte-at-a-time
 * reading, and the non-caching line reader against the caching one, with
 * piece boundaries, CR LF, lone CR and NUL bytes; the non-caching reader
 * caches nothing.
 */
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "osdep.h"
#include "stringcache.h"

namespace {

/* Text that puts line ends, CRs and NULs on and around the 1023-byte piece
 * boundaries: runs of 'a' of lengths near multiples of the piece size, each
 * followed by one of the awkward endings. */
std::string awkward_text(void)
{
    const std::string endings[] = {"\n", "\r\n", "\r", "\r\r\n", std::string(1, '\0'), "b\n"};
    const size_t lengths[] = {0, 1, 1020, 1021, 1022, 1023, 1024, 2044, 2045, 2046, 2047, 3100};
    std::string text;
    for (size_t len : lengths) {
        for (const std::string &end : endings) text += std::string(len, 'a') + end;
    }
    return text + std::string(1500, 'z');  /* the last line has no line end */
}

FILE *file_with(const std::string &text)
{
    FILE *f = tmpfile();
    fwrite(text.data(), 1, text.size(), f);
    rewind(f);
    return f;
}

/* Text-mode reading one byte at a time: at most size-1 bytes, up to and
 * including a line feed, CR LF read as LF wherever it falls. */
size_t reference_piece(std::string &out, size_t size, FILE *f)
{
    out.clear();
    while (out.size() + 1 < size) {
        int c = getc(f);
        if (c == EOF) break;
        if (c == '\r') {
            int next = getc(f);
            if (next == '\n') c = '\n';
            else if (next != EOF) ungetc(next, f);
        }
        out += (char)c;
        if (c == '\n') break;
    }
    return out.size();
}

/* Bytes drawn from the awkward ones, in runs that cross small piece sizes. */
std::string random_bytes(unsigned seed, size_t count)
{
    const char pick[] = {'a', 'b', '\r', '\n', '\0', '\r', 'c'};
    srand(seed);
    std::string text;
    while (text.size() < count) text += std::string((size_t)(1 + rand() % 3), pick[rand() % 7]);
    return text;
}

}  // namespace

TEST(ReadTextPiece, MatchesAByteAtATimeReading)
{
    const std::string texts[] = {awkward_text(), random_bytes(7, 20000), random_bytes(8, 3000) + "\r"};
    for (const std::string &text : texts) {
        for (size_t size : {2u, 3u, 4u, 7u, 64u, 1024u}) {
            FILE *mine = file_with(text), *ref = file_with(text);
            std::vector<char> buf(size + 1, 'x');
            std::string want;
            for (int piece = 0;; piece++) {
                size_t n = os_read_text_piece(buf.data(), size, mine);
                ASSERT_EQ(n, reference_piece(want, size, ref)) << "size " << size << " piece " << piece;
                ASSERT_EQ(std::string(buf.data(), n), want) << "size " << size << " piece " << piece;
                ASSERT_EQ(buf[n], '\0');
                if (n == 0) break;
            }
            fclose(mine);
            fclose(ref);
        }
    }
}

TEST(ReadLineInto, MatchesTheCachingReaderAndCachesNothing)
{
    const std::string text = awkward_text();
    std::vector<std::string> expected;
    FILE *f = file_with(text);
    while (const char *line = str_read_line(f)) expected.push_back(line);
    fclose(f);
    ASSERT_GT(expected.size(), 40u);

    uint32_t cached = str_cache_count();
    char *buf = NULL;
    size_t cap = 0, len = 0;
    std::vector<std::string> got;
    f = file_with(text);
    while (str_read_line_into(f, &buf, &cap, &len)) {
        EXPECT_EQ(len, strlen(buf));
        got.push_back(std::string(buf, len));
    }
    EXPECT_FALSE(str_read_line_into(f, &buf, &cap, &len)) << "end of file stays the end";
    fclose(f);
    free(buf);

    EXPECT_EQ(str_cache_count(), cached);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); i++) EXPECT_EQ(got[i], expected[i]) << "line " << i;
}

TEST(ReadLineInto, AnEmptyTextLineIsNotTheEndOfFile)
{
    /* A line holding only a NUL has no text but is still a line. */
    FILE *f = file_with(std::string("\0\nnext\n", 7));
    char *buf = NULL;
    size_t cap = 0, len = 99;
    ASSERT_TRUE(str_read_line_into(f, &buf, &cap, &len));
    EXPECT_EQ(len, 0u);
    ASSERT_TRUE(str_read_line_into(f, &buf, &cap, &len));
    EXPECT_STREQ(buf, "next\n");
    EXPECT_FALSE(str_read_line_into(f, &buf, &cap, &len));
    fclose(f);
    free(buf);
}
