/* test_install_posix.cpp - installation discovery through a symbolic link: the program's
 * resolved path decides, not the link's directory. */
#include <gtest/gtest.h>

#include <unistd.h>

#include "test_util.h"

TEST(Install, FoundThroughASymbolicLinkToTheProgram)
{
    /* The link's directory is no installation; the program's resolved path is. */
    std::string root = tu_mkdtemp("kvqinst");
    tu_mkdirs(root + "/V/tor/bin");
    tu_mkdirs(root + "/links/bin");
    tu_copy(tu_helper("alert_probe"), root + "/V/tor/bin/kvq", true);
    ASSERT_EQ(0, symlink((root + "/V/tor/bin/kvq").c_str(), (root + "/links/bin/kvq").c_str()));
    tu_result r = tu_run({root + "/links/bin/kvq", "inst"});
    EXPECT_EQ(0u, r.out.find("prog=" + root + "/V/tor/bin/kvq found=1\n" + root + "/V\n")) << r.out;
    tu_rmtree(root);
}
