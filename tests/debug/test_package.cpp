/*
 * test_package.cpp - the package zip: creating, extending, archive names,
 * repeated names, and the warnings of each failing step; every archive is
 * read back with the zip reader.
 */
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "debug_test_util.h"
#include "kvdebug.h"

TEST(Package, CreateAppendAndArchiveNames)
{
    std::string dir = tu_mkdtemp("kvqpkg");
    ASSERT_EQ(chdir(dir.c_str()), 0);
    tu_write("a.out", "alpha\n");
    tu_write("sub\\b.out", "bravo");
    tu_write(dir + "/c.out", std::string(100000, 'c'));

    db_package_add("a.out", NULL); /* no package asked for: nothing happens */
    EXPECT_FALSE(tu_exists("pkg.zip"));

    gZipPath = "pkg.zip";
    stderr_capture err;
    err.start();
    db_package_add("a.out", NULL);
    EXPECT_EQ(read_zip("pkg.zip"), (zip_entries{{"a.out", "alpha\n"}}));
    db_package_add("sub\\b.out", "a comment");
    db_package_add((dir + "/c.out").c_str(), NULL);
    db_package_add("missing.out", NULL);
    tu_write("a.out", "alpha again");
    db_package_add("a.out", NULL);
    EXPECT_EQ(err.stop(), "");

    zip_entries want{{"a.out", "alpha\n"},
                     {"sub/b.out", "bravo"},
                     {"SYSTEM_ROOT" + dir + "/c.out", std::string(100000, 'c')},
                     {"a.out", "alpha again"}};
    EXPECT_EQ(read_zip("pkg.zip"), want);
    tu_rmtree(dir);
}

TEST(Package, EachFailingStepWarns)
{
    std::string dir = tu_mkdtemp("kvqpkg");
    ASSERT_EQ(chdir(dir.c_str()), 0);
    tu_write("a.out", "alpha");
    tu_write("not-a-zip", "garbage, not an archive");
    stderr_capture err;

    gZipPath = "not-a-zip";
    err.start();
    db_package_add("a.out", NULL);
    EXPECT_EQ(err.stop(),
              "KVDEBUG (warning): Unable to open package zip file (not-a-zip) for reading to append \"a.out\"\n");
    EXPECT_EQ(tu_read("not-a-zip"), "garbage, not an archive");

    gZipPath = "no/such/dir/p.zip";
    err.start();
    db_package_add("a.out", NULL);
    EXPECT_EQ(err.stop(), "KVDEBUG (warning): Unable to init package zip file (no/such/dir/p.zip) to add \"a.out\"\n");

    tu_mkdirs(dir + "/d"); /* exists, but cannot be read as a file */
    gZipPath = "p.zip";
    err.start();
    db_package_add("d", NULL);
    EXPECT_EQ(err.stop(), "KVDEBUG (warning): Unable to add archive \"d\" (from \"d\") to package zip (p.zip)\n");

    tu_rmtree(dir);
}
