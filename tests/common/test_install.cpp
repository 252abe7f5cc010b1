/* test_install.cpp - installation discovery and installation paths.  Installations are found by
 * alert_probe children copied into installation-shaped trees, so each case starts fresh. */
#include <gtest/gtest.h>

#include "test_util.h"

/* The probe's "inst" report for the installation R/V, or for none, then the back-end path of each
 * name of TU_PATH_EXAMPLES. */
static std::string report_for(const std::string &prog, const std::string &root, bool found)
{
    std::string out = "prog=" + prog + " found=" + (found ? "1" : "0") + "\n", none = "(none)\n";
    for (std::string sub : {"/V", "/V/tor/dat", "/V/tor/bin/torc"}) out += found ? tu_path(root + sub) + "\n" : none;
    for (const tu_path_example &e : TU_PATH_EXAMPLES) {
        const char *name = e.path + (e.path[0] == TU_SEP); /* one separator at the seam */
        out += e.absolute ? std::string(e.path) + "\n" : found ? tu_path(root + "/V/tor/bin/") + name + "\n" : none;
    }
    return out;
}

/* The names of TU_PATH_EXAMPLES as the probe takes them. */
static std::string probe_paths()
{
    std::string names;
    for (const tu_path_example &e : TU_PATH_EXAMPLES) names += (names.empty() ? "" : "|") + std::string(e.path);
    return names;
}

TEST(Install, RecognisedFromABinDirectoryBesideTorAndOnALaterTry)
{
    std::string root = tu_mkdtemp("kvqinst"), paths = "PROBE_PATHS=" + probe_paths();
    /* the probe's directory under R    R/V/tor made    recognised */
    const struct { const char *bin; bool tor, found; } cases[] = {
        {"V/tor/bin", false, true},    {"V/bin", true, true},          {"V/BIN", true, true},
        {"V/tor-as/bin", true, true},  {"V/Tor-AS/Bin", true, true},   {"V/tor-as/bin", false, false},
        {"V/tools", true, false},      {"V/bin.old", true, false},
        /* V/TOR is V/tor where names ignore case. */
        {"V/TOR/bin", false, TU_NAMES_IGNORE_CASE},
    };
    for (const auto &c : cases) {
        tu_rmtree(root + "/V");
        tu_mkdirs(root + "/" + c.bin);
        if (c.tor) tu_mkdirs(root + "/V/tor");
        std::string prog = tu_path(root + "/" + c.bin + "/kvq") + TU_EXE;
        tu_copy(tu_helper("alert_probe"), prog, true);
        tu_result r = tu_run({prog, "inst"}, {paths});
        EXPECT_EQ(report_for(prog, root, c.found), r.out + r.err) << c.bin;
    }
    /* Again after a failed discovery, in the same process. */
    tu_rmtree(root + "/V");
    tu_mkdirs(root + "/V/bin");
    std::string prog = tu_path(root + "/V/bin/kvq") + TU_EXE;
    tu_copy(tu_helper("alert_probe"), prog, true);
    tu_result r = tu_run({prog, "inst", "mkdir:" + tu_path(root + "/V/tor"), "inst"}, {paths});
    EXPECT_EQ(report_for(prog, root, false) + report_for(prog, root, true), r.out + r.err);
    tu_rmtree(root);
}
