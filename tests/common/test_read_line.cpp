/*
 * test_read_line.cpp - the non-caching line reader gives exactly the lines of
 * the caching one, piece boundaries, CR LF, lone CR and NUL bytes included,
 * and caches nothing.
 */
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

}  // namespace

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
