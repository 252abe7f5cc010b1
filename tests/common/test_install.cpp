/* test_install.cpp - installation discovery and installation paths.  Installations are found by
 * alert_probe children copied into installation-shaped trees, so each case starts fresh. */
#include <gtest/gtest.h>

#include <unistd.h>

#include "test_util.h"

/* The probe's "inst" report for the installation R/V, or for none ("-": kinds 7 and 10, never set). */
static std::string report_for(const std::string &prog, const std::string &root, bool found)
{
    std::string out = "prog=" + prog + " found=" + (found ? "1" : "0") + "\n", none = "(none)\n";
    for (std::string sub : {"", "/V", "/V/tor-as", "-", "-", "/V/tor/include", "/V/tor/bin", "/V/tor/dat",
                            "/V/tor/lib/c90", "/V/tor/include/c90", "/V/tor/bin", "/V/tor/dat", "/V/tor/lib/c99",
                            "/V/tor/include/c99", "/V/tor/bin/torc"})
        out += found && sub != "-" ? root + sub + "\n" : none;
    return out + "/opt/other/torc\n";
}

TEST(Install, RecognisedFromABinDirectoryBesideTorAndOnALaterTry)
{
    std::string root = tu_mkdtemp("kvqinst");
    /* the probe's directory under R    R/V/tor made    recognised */
    const struct { const char *bin; bool tor, found; } cases[] = {
        {"V/tor/bin", false, true},    {"V/bin", true, true},          {"V/BIN", true, true},
        {"V/tor-as/bin", true, true},  {"V/Tor-AS/Bin", true, true},   {"V/tor-as/bin", false, false},
        {"V/tools", true, false},      {"V/bin.old", true, false},     {"V/TOR/bin", false, false},
    };
    for (const auto &c : cases) {
        tu_rmtree(root + "/V");
        tu_mkdirs(root + "/" + c.bin);
        if (c.tor) tu_mkdirs(root + "/V/tor");
        tu_copy(tu_helper("alert_probe"), root + "/" + c.bin + "/kvq", true);
        tu_result r = tu_run({root + "/" + c.bin + "/kvq", "inst"});
        EXPECT_EQ(report_for(root + "/" + c.bin + "/kvq", root, c.found), r.out + r.err) << c.bin;
    }
    /* Through a symbolic link, and again after a failed discovery. */
    tu_mkdirs(root + "/links/bin");
    ASSERT_EQ(0, symlink((root + "/V/TOR/bin/kvq").c_str(), (root + "/links/bin/kvq").c_str()));
    std::string prog = root + "/V/TOR/bin/kvq";
    tu_result r = tu_run({root + "/links/bin/kvq", "inst", "mkdir:" + root + "/V/tor", "inst"});
    EXPECT_EQ(report_for(prog, root, false) + report_for(prog, root, true), r.out + r.err);
    tu_rmtree(root);
}
