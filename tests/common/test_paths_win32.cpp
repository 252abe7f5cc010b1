/* test_paths_win32.cpp - the modules above the platform layer split and join paths by its
 * Windows rules: the backslash first, then the slash, then the drive's colon. */
#include <gtest/gtest.h>

#include <string>

#include "msgcat.h"
#include "stringcache.h"

TEST(WinPaths, CachedPiecesAndMessageFileVersionsFollowTheSeparators)
{
    /* result                                      expected */
    const struct { std::string got, want; } cases[] = {
        {str_basename("C:\\a\\b/c"),                   "b/c"},
        {str_basename("C:name"),                       "name"},
        {str_strip_ext("dir.d\\file"),                 "dir.d\\file"},
        {str_strip_ext("dir\\x.tar.gz"),               "dir\\x.tar"},
        {str_strip_ext("d.v/file"),                    "d"}, /* a slash after the dot does not stop the cut */
        {str_path_join("dir\\", "\\name"),             "dir\\name"},
        {str_path_join("dir/", "/name"),               "dir/\\/name"},
    };
    for (const auto &c : cases) EXPECT_EQ(c.want, c.got);
    /* A message file's version is read after the separator the same precedence finds. */
    EXPECT_EQ(20250101000000u, getMsgFileVersion("C:\\dat\\20250101000000_en.msgs"));
    EXPECT_EQ(2024u, getMsgFileVersion("c:2024_en.msgs"));
    EXPECT_EQ(12u, getMsgFileVersion("dat/12.7_en.msgs"));
    EXPECT_EQ(0u, getMsgFileVersion("d:\\x/12_en.msgs"));
}
