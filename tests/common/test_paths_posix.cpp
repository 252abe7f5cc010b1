/* test_paths_posix.cpp - the modules above the platform layer split and join paths at '/' alone,
 * as the platform layer does on POSIX: backslash and colon are ordinary characters. */
#include <gtest/gtest.h>

#include "stringcache.h"

TEST(PosixPaths, CachedPiecesSplitAndJoinAtSlashOnly)
{
    EXPECT_STREQ("dir\\/\\name", str_path_join("dir\\", "\\name"));
    EXPECT_STREQ("c:d", str_basename("a\\b/c:d"));
    EXPECT_STREQ("dir", str_strip_ext("dir.d\\x"));
}
