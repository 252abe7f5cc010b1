/*
 * test_stringcache.cpp - interning, the string builders and line reading.
 */
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hash.h"
#include "stringcache.h"
#include "vector.h"

/* A readable stream holding exactly `content`. */
static FILE *stream_of(const std::string &content)
{
    FILE *f = tmpfile();
    EXPECT_NE(f, nullptr);
    fwrite(content.data(), 1, content.size(), f);
    rewind(f);
    return f;
}

static std::string next_line(FILE *f)
{
    const char *line = str_read_line(f);
    return line != nullptr ? line : "<EOF>";
}

static std::vector<std::string> split_all(const char *s, const char *delims)
{
    vector *v = str_split(s, delims);
    std::vector<std::string> out;
    for (uint32_t i = 0; i < vec_size(v); i++) {
        const char *tok = (const char *)vec_get(v, i);
        EXPECT_EQ(tok, str_save(tok)) << "token not cached: " << tok;
        out.push_back(tok);
    }
    vec_free(v);
    return out;
}

TEST(StringCache, EqualTextsShareOnePointer)
{
    char a[] = "interned text";
    char b[] = "interned text";
    const char *sa = str_save(a);
    EXPECT_NE(sa, a);
    EXPECT_EQ(sa, str_save(b));
    a[0] = 'X';
    EXPECT_STREQ(sa, "interned text") << "the cache must hold its own copy";

    uint32_t entries = str_cache_table()->count;
    EXPECT_EQ(str_nsave("interned text and more", 13), sa);
    EXPECT_EQ(str_format("%s %s", "interned", "text"), sa);
    EXPECT_EQ(str_cache_table()->count, entries) << "a repeated text must not add an entry";

    EXPECT_EQ(str_nsave("short", 100), str_save("short"));
    EXPECT_EQ(str_save(nullptr), nullptr);
    EXPECT_EQ(str_nsave(nullptr, 3), nullptr);
}

TEST(StringCache, ConcatAndPathJoinNullAndEmptyRules)
{
    char own[] = "not cached";
    EXPECT_EQ(str_concat(nullptr, own), own);
    EXPECT_EQ(str_concat(own, nullptr), own);
    EXPECT_EQ(str_concat("ab", "cd"), str_save("abcd"));
    EXPECT_EQ(str_path_join(nullptr, own), own);
    EXPECT_EQ(str_path_join("", own), own);
    EXPECT_EQ(str_path_join(own, nullptr), own);
    EXPECT_EQ(str_path_join(own, ""), own);

    const char *want = str_save("dir/name");
    for (const char *dir : {"dir", "dir/"})
        for (const char *name : {"name", "/name"})
            EXPECT_EQ(str_path_join(dir, name), want) << dir << " + " << name;
    /* Only '/' separates: a backslash is part of the name. */
    EXPECT_STREQ(str_path_join("dir\\", "\\name"), "dir\\/\\name");
}

TEST(StringCache, StripExtAndBasenameUseOnlySlash)
{
    EXPECT_STREQ(str_strip_ext("dir.d/file"), "dir.d/file");
    EXPECT_STREQ(str_strip_ext("dir/x.tar.gz"), "dir/x.tar");
    EXPECT_STREQ(str_strip_ext(".ext"), "");
    EXPECT_STREQ(str_strip_ext("dir.d\\file"), "dir") << "a backslash does not stop the cut";

    EXPECT_STREQ(str_basename("a\\b/c"), "c");
    EXPECT_STREQ(str_basename("a/b\\c"), "b\\c");
    EXPECT_STREQ(str_basename("c:name"), "c:name");
    EXPECT_STREQ(str_basename("dir/"), "");
    EXPECT_EQ(str_basename(nullptr), nullptr);
}

TEST(StringCache, EscapeKeepsAnEscapeBeforeAQuote)
{
    EXPECT_STREQ(str_escape("say \"hi\"", "\"", '\\'), "say \\\"hi\\\"");
    EXPECT_STREQ(str_escape("a\\\"b", "\"", 0), "a\\\\\"b") << "backslash quote gains a backslash";
    /* An escape character is escaped itself unless a quote follows it; that
     * quote is then escaped when it is listed. */
    EXPECT_STREQ(str_escape("\\x\\'", "\\'", '\\'), "\\\\x\\\\'");
    EXPECT_STREQ(str_escape("^\"a b", " \"^", '^'), "^^\"a^ b");

    char plain[] = "nothing to escape";
    EXPECT_EQ(str_escape(plain, "\"'", '\\'), str_save(plain));
    EXPECT_EQ(str_escape("abc", "", '\\'), str_save("abc"));
}

TEST(StringCache, CaseTranslateAndQuote)
{
    EXPECT_STREQ(str_lower("MiXeD 123_Z\xC4\xE4"), "mixed 123_z\xC4\xE4");
    EXPECT_STREQ(str_upper("MiXeD 123_a\xC4\xE4"), "MIXED 123_A\xC4\xE4");
    EXPECT_STREQ(str_translate("abc", "aa", "xy"), "ybc") << "a later pair wins";
    EXPECT_STREQ(str_translate("abc", "abc", "X"), "Xbc") << "pairs stop at the shorter list";
    EXPECT_STREQ(str_quote("a \"b\"", '"'), "\"a \"b\"\"");
}

TEST(StringCache, SplitGivesOnlyNonEmptyTokens)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(split_all(" ,a,,b , c ,", ", "), (V{"a", "b", "c"}));
    EXPECT_EQ(split_all("word", ", "), (V{"word"}));
    EXPECT_EQ(split_all("", ", "), V{});
    EXPECT_EQ(split_all(",, ,", ", "), V{});
}

TEST(StringCache, FormatLargerThanTheScratchBuffer)
{
    std::string big(300000, 'y');
    const char *s = str_format("%d:%s:%d", 7, big.c_str(), 9);
    EXPECT_EQ(std::string(s), "7:" + big + ":9");
    EXPECT_EQ(str_format("%d:%s:%d", 7, big.c_str(), 9), s);
    /* After the buffer grew, short results and a long format still work. */
    EXPECT_STREQ(str_format("%u-%s", 42u, "z"), "42-z");
    std::string fmt(5000, 'f');
    EXPECT_EQ(std::string(str_format("%s%s", fmt.c_str(), "!")), fmt + "!");
}

TEST(StringCache, PrefixAndSuffixTests)
{
    EXPECT_TRUE(str_starts_with_nocase("--CHIP=18f", "--chip="));
    EXPECT_FALSE(str_starts_with("--CHIP=18f", "--chip="));
    EXPECT_TRUE(str_starts_with("x", "") && str_ends_with("x", "") && str_ends_with("a.c", ".c"));
    EXPECT_FALSE(str_starts_with("ab", "abc") || str_ends_with(".c", "file.c"));
    EXPECT_FALSE(str_starts_with(nullptr, "") || str_starts_with_nocase("a", nullptr) ||
                 str_ends_with(nullptr, "") || str_ends_with("x", nullptr));
}

TEST(StringCache, ReadLineJoinsLongLinesAndKeepsLineEnds)
{
    std::string varied;
    for (int i = 0; i < 3000; i++)
        varied += (char)('a' + i % 26);
    std::string huge(3000000, 'H');
    std::string piece_lf(1022, 'p');
    std::string full(1023, 'f');
    FILE *f = stream_of(varied + "\n" + huge + "\n" + piece_lf + "\n" + full + "\nlast");
    const char *line = str_read_line(f);
    EXPECT_EQ(line, str_save((varied + "\n").c_str()));
    EXPECT_TRUE(hash_haskey(str_cache_table(), varied.substr(1023, 1023).c_str()))
        << "each piece of a long line is cached as well";
    EXPECT_EQ(next_line(f), huge + "\n");
    EXPECT_EQ(next_line(f), piece_lf + "\n");
    EXPECT_EQ(next_line(f), full + "\n");
    EXPECT_EQ(next_line(f), "last");
    EXPECT_EQ(next_line(f), "<EOF>");
    fclose(f);
}

TEST(StringCache, ReadLineCarriageReturns)
{
    /* CR LF reads as LF.  A lone CR ending a 1023-byte piece ends the line
     * there; one inside a piece is an ordinary byte. */
    std::string front(1022, 'x');
    std::string inner = std::string(600, 'i') + "\r" + std::string(1500, 'j');
    FILE *f = stream_of("a\r\n" + front + "\rrest\n" + inner + "\r\n");
    EXPECT_EQ(next_line(f), "a\n");
    EXPECT_EQ(next_line(f), front + "\r");
    EXPECT_EQ(next_line(f), "rest\n");
    EXPECT_EQ(next_line(f), inner + "\n");
    EXPECT_EQ(next_line(f), "<EOF>");
    fclose(f);
}
