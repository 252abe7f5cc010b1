/*
 * test_install.cpp - installation discovery and installation paths.  The
 * instdir_probe helper is copied into installation-shaped trees and reports
 * what it finds from there; the path-building rules are checked in process.
 */
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvinstdir.h"
#include "registry.h"
#include "test_util.h"

/* True in a sanitizer build (gcc says so with a macro, clang with a feature). */
#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ADDRESS_SANITIZER true
#elif defined(__has_feature)
#define UNDER_ADDRESS_SANITIZER __has_feature(address_sanitizer)
#else
#define UNDER_ADDRESS_SANITIZER false
#endif

typedef std::map<std::string, std::string> probe_report;

static probe_report parse_report(const std::string &out)
{
    probe_report report;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) report[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return report;
}

/* A scratch root R with the probe installed as R/<bin_dir>/kvq; `dirs` are
 * created under R first. */
struct install_tree {
    std::string root;
    std::string program;

    install_tree(const std::string &bin_dir, const std::vector<std::string> &dirs)
    {
        root = tu_mkdtemp("kvqinst");
        for (const std::string &d : dirs) tu_mkdirs(root + "/" + d);
        tu_mkdirs(root + "/" + bin_dir);
        program = root + "/" + bin_dir + "/kvq";
        tu_copy(tu_helper("instdir_probe"), program, true);
    }
    ~install_tree() { tu_rmtree(root); }

    probe_report probe(const std::vector<std::string> &args = {}) const
    {
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        tu_result r = tu_run(argv);
        EXPECT_EQ(r.status, 0) << r.err;
        return parse_report(r.out);
    }
};

/* The report of an installation whose version directory is root/V. */
static void expect_found(const probe_report &got, const std::string &root, const std::string &where)
{
    std::string ver = root + "/V", tor = ver + "/tor";
    probe_report expected = {
        {"found", "1"},
        {"root", root},
        {"ver", ver},
        {"tor_as", ver + "/tor-as"},
        {"other_product", "(none)"},
        {"beyond_last", "(none)"},
        {"negative", "(none)"},
        {"include_nolib", tor + "/include"},
        {"base", tor},
        {"bin", tor + "/bin"},
        {"dat", tor + "/dat"},
        {"lib", tor + "/lib/c90"},
        {"c_include", tor + "/include/c90"},
        {"torc", tor + "/bin/torc"},
        {"absolute", "/opt/other/torc"},
        {"bin_c99", tor + "/bin"},
        {"lib_c99", tor + "/lib/c99"},
        {"c_include_c99", tor + "/include/c99"},
    };
    for (const auto &kv : expected) EXPECT_EQ(got.count(kv.first) ? got.at(kv.first) : "", kv.second) << where << ": " << kv.first;
}

static void expect_not_found(const probe_report &got, const std::string &where)
{
    EXPECT_EQ(got.at("found"), "0") << where;
    for (const char *key : {"root", "ver", "bin", "dat", "lib", "torc"}) EXPECT_EQ(got.at(key), "(none)") << where << ": " << key;
    EXPECT_EQ(got.at("absolute"), "/opt/other/torc") << where;
}

TEST(Install, RecognisedLayouts)
{
    struct {
        const char *bin_dir;
        std::vector<std::string> dirs;
    } cases[] = {
        {"V/tor/bin", {}},
        {"V/bin", {"V/tor"}},
        {"V/BIN", {"V/tor"}},
        {"V/tor-as/bin", {"V/tor"}},
        {"V/Tor-AS/Bin", {"V/tor"}},
    };
    for (const auto &c : cases) {
        install_tree tree(c.bin_dir, c.dirs);
        probe_report got = tree.probe();
        EXPECT_EQ(got["prog"], tree.program);
        expect_found(got, tree.root, c.bin_dir);
    }
}

TEST(Install, UnrecognisedLayouts)
{
    struct {
        const char *bin_dir;
        std::vector<std::string> dirs;
    } cases[] = {
        {"V/tor-as/bin", {}},       /* tor-as alone is not an installation */
        {"V/tools", {"V/tor"}},     /* not a bin directory */
        {"V/bin.old", {"V/tor"}},
        {"V/TOR/bin", {}},          /* looks right, but V/tor does not exist */
    };
    for (const auto &c : cases) {
        install_tree tree(c.bin_dir, c.dirs);
        expect_not_found(tree.probe(), c.bin_dir);
    }
}

TEST(Install, FoundThroughASymbolicLink)
{
    install_tree tree("V/tor/bin", {});
    std::string links = tree.root + "/links/bin";
    tu_mkdirs(links);
    ASSERT_EQ(symlink(tree.program.c_str(), (links + "/kvq").c_str()), 0);
    tu_result r = tu_run({links + "/kvq"});
    ASSERT_EQ(r.status, 0) << r.err;
    expect_found(parse_report(r.out), tree.root, "symlink");
}

TEST(Install, LaterDiscoverySucceedsOnceTorExists)
{
    install_tree tree("V/bin", {});
    tu_result r = tu_run({tree.program, "retry", tree.root + "/V/tor"});
    ASSERT_EQ(r.status, 0) << r.err;
    probe_report got = parse_report(r.out);
    EXPECT_EQ(got["first"], "0");
    EXPECT_EQ(got["second"], "1");
    EXPECT_EQ(got["ver"], tree.root + "/V");
}

/* Without /proc the program finds itself from argv[0]: through PATH for a
 * bare name, through realpath for a relative one.  Needs a private mount
 * namespace to hide /proc; skipped where that is not allowed. */
TEST(Install, FoundFromArgv0WithoutProc)
{
    if (UNDER_ADDRESS_SANITIZER) GTEST_SKIP() << "the sanitizer runtime cannot work without /proc";
    install_tree tree("V/tor/bin", {});
    std::string hide = "mount -t tmpfs none /proc || exit 99; ";
    tu_result probe = tu_run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", hide + "test ! -e /proc/self/exe"});
    if (probe.status != 0) GTEST_SKIP() << "cannot hide /proc here: " << probe.err;

    std::string bin = tree.root + "/V/tor/bin";
    tu_result by_path = tu_run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", hide + "exec kvq"},
                               {"PATH=/nonexistent::" + bin + ":/usr/bin:/bin"});
    ASSERT_EQ(by_path.status, 0) << by_path.err;
    probe_report got = parse_report(by_path.out);
    EXPECT_EQ(got["prog"], tree.program);
    expect_found(got, tree.root, "PATH search");

    tu_result relative = tu_run({"/usr/bin/unshare", "-m", "/bin/sh", "-c", hide + "exec ./V/tor/bin/kvq"}, {},
                                tree.root);
    ASSERT_EQ(relative.status, 0) << relative.err;
    expect_found(parse_report(relative.out), tree.root, "relative argv[0]");
}

TEST(Install, DiscoveryIsTraced)
{
    install_tree found("V/tor/bin", {});
    tu_result r = tu_run({found.program, "trace"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string ver = found.root + "/V";
    for (const std::string &line : {
             "Application appears to be running from directory: \"" + ver + "/tor/bin\"",
             "Identified as running from the 'tor' directory: \"" + ver + "/tor\"",
             "Identified 'tor' directory: \"" + ver + "/tor\"",
             "kvinstall_ver has been set to: \"" + ver + "\"",
             "kvinstall_dir has been set to: \"" + found.root + "\"",
             std::string("standard C library is now set to: \"c99\""),
             std::string("ENTER set_kvinstall_paths"),
         }) {
        EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
    }

    install_tree no_tor("V/tor-as/bin", {});
    r = tu_run({no_tor.program, "trace"});
    EXPECT_NE(r.err.find("Identified as running from the 'tor-as' directory"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("The 'tor' directory could not be found: \"" + no_tor.root + "/V/tor\""),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Could not locate installation directory"), std::string::npos) << r.err;

    install_tree tools("V/tools", {"V/tor"});
    r = tu_run({tools.program, "trace"});
    EXPECT_NE(r.err.find("ERROR - the application is not running from a 'bin' directory"), std::string::npos)
        << r.err;
}

TEST(Install, KindBeyondTheTableFailsTheConsistencyCheck)
{
    install_tree tree("V/tor/bin", {});
    tu_result r = tu_run({tree.program, "assert"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE((r.out + r.err).find("(path >= KVINSTDIR_FIRST) && (path < KVINSTDIR_LAST)"), std::string::npos)
        << r.out << r.err;
}

TEST(Registry, WithoutAnInstallationOnlyAbsoluteNamesResolve)
{
    /* The test program does not lie in a bin directory. */
    EXPECT_FALSE(set_kvinstall_paths());
    EXPECT_EQ(kvinstdir(KVINSTDIR_VER), nullptr);
    EXPECT_EQ(reg_instdir(REG_BIN), nullptr);
    EXPECT_EQ(reg_mkpath(REG_BIN, "torc"), nullptr);
    EXPECT_STREQ(reg_mkpath(REG_BIN, "/usr/local/bin/torc"), "/usr/local/bin/torc");
    EXPECT_EQ(reg_mkpath(REG_BIN, "c:\\kvq\\torc"), nullptr) << "a drive path is relative here";
    reg_set_c_stdlib("c90");
    EXPECT_STREQ(reg_create_path("/v/tor/", REG_SOURCES), "/v/tor/sources/c90");
    EXPECT_STREQ(reg_create_path("/v/tor", REG_HELP), "/v/tor/help");
}
