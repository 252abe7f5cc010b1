/*
 * test_options.cpp - the "--kvdebug=" option: every handler's warning, the
 * debug-out file it opens, the option regenerated for launched programs, the
 * assertion levels and the end-of-run step.  Each case runs the debug_probe
 * helper in a fresh process and scratch directory.
 */
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "debug_test_util.h"

namespace {

struct scratch {
    std::string dir = tu_mkdtemp("kvqopt");
    ~scratch() { tu_rmtree(dir); }
};

const std::string W = "KVDEBUG (warning): ";

} // namespace

TEST(DebugOptions, HandlerWarningsSkipTheItem)
{
    struct row {
        std::string arg, warning, state;
    };
    const std::vector<row> rows = {
        {"--kvdebug", "unknown option \"--kvdebug\"", "flags=0 level=0"},
        {"--kvdebug=on,bogus,,adt", "unknown option \"bogus\"", "flags=17 level=0"},
        {"--kvdebug=out", "option \"out\", must have a filename argument", "flags=0 level=0"},
        {"--kvdebug=assert:", "option \"assert\", must have an argument", "flags=0 level=0"},
        {"--kvdebug=assert:error,assert:Maybe", "unknown argument (maybe) given to assert option",
         "flags=0 level=2"},
        {"--kvdebug=debug", "option \"debug\", must have at least one argument", "flags=0 level=0"},
        {"--kvdebug=debug:::", "option \"debug\", must have at least one argument", "flags=0 level=0"},
        {"--kvdebug=num", "option \"num\", must have an argument", "flags=0 level=0"},
        {"--kvdebug=num:x", "\"num\" option must be a decimal integer > 0, using \"1\"", "flags=0 level=0"},
        {"--kvdebug=num:3,num:-2", "\"num\" option must be a decimal integer > 0, using \"3\"", "flags=0 level=0"},
        {"--kvdebug=zip:+a.zip,zip:b.zip", "Zip file already set to \"a.zip\", ignoring addtional zip options",
         "flags=0 level=0"},
    };
    for (const row &r : rows) {
        scratch s;
        tu_result res = run_probe({"parse:" + r.arg, "parse:--kvdebug=on"}, s.dir);
        EXPECT_EQ(res.status, 0);
        EXPECT_EQ(res.err, W + r.warning + "\n" + W + "Ignoring extra --kvdebug options\n") << r.arg;
        EXPECT_EQ(res.out, r.state + "\n") << r.arg;
        bool traced = r.state.compare(0, 8, "flags=0 ") != 0;
        EXPECT_EQ(tu_list(s.dir), traced ? std::vector<std::string>{"kvq-1.out"} : std::vector<std::string>{})
            << r.arg;
    }
}

TEST(DebugOptions, DebugOutFileNamesAndModes)
{
    scratch s;
    tu_write(s.dir + "/kvq-1.out", "old content\n");
    run_probe({"parse:--kvdebug=ON", "trace:first"}, s.dir);
    std::string text = tu_read(s.dir + "/kvq-1.out");
    EXPECT_EQ(text.find("old"), std::string::npos);
    EXPECT_NE(text.find("> first\n"), std::string::npos);

    run_probe({"parse:--kvdebug=num:7,on"}, s.dir);
    EXPECT_TRUE(tu_exists(s.dir + "/kvq-7.out"));

    /* A directory gets the default name with the run number in force at the
     * item; "+" appends, and the launched program is told to append too. */
    tu_mkdirs(s.dir + "/logs");
    tu_write(s.dir + "/logs/kvq-1.out", "kept\n");
    tu_result r = run_probe({"parse:--kvdebug=out:+" + s.dir + "/logs,num:5,on", "trace:more", "make:1:driver"},
                            s.dir);
    EXPECT_EQ(tu_read(s.dir + "/logs/kvq-1.out").find("kept\n"), 0u);
    EXPECT_NE(tu_read(s.dir + "/logs/kvq-1.out").find("> more\n"), std::string::npos);
    EXPECT_EQ(r.out, "--kvdebug=default,on,out:+" + s.dir + "/logs/kvq-1.out,num:1\nflags=1 level=0\n");

    r = run_probe({"parse:--kvdebug=out:a.txt,out:b.txt,alerts"}, s.dir);
    EXPECT_EQ(r.err, W + "debug-out file was set to \"a.txt\", resetting to \"b.txt\"\n");
    EXPECT_TRUE(tu_exists(s.dir + "/a.txt"));
    EXPECT_TRUE(tu_exists(s.dir + "/b.txt"));

    r = run_probe({"parse:--kvdebug=out:" + s.dir + "/none/x.out"}, s.dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "(141) can't open debug-out file \"" + s.dir + "/none/x.out\": No such file or directory\n");
}

TEST(DebugOptions, GeneratedOptionForLaunchedPrograms)
{
    struct row {
        std::vector<std::string> steps;
        std::string out;
    };
    const std::vector<row> rows = {
        {{"make:1:driver"}, "(none)\n"},
        {{"parse:--kvdebug=on,assert:error,debug:torc:cpp", "make:1:driver"},
         "--kvdebug=default,on,assert:error,debug:cpp,num:1\n"},
        {{"parse:--kvdebug=assert:fatal", "make:1:driver"}, "--kvdebug=assert:fatal\n"},
        {{"parse:--kvdebug=sdb,dwarf,adt,zip:+p.zip", "make:1:driver", "make:1:driver", "make:1:other"},
         "--kvdebug=sdb,dwarf,zip:+p.zip,adt,num:1\n--kvdebug=sdb,dwarf,zip:+p.zip,adt,num:2\n"
         "--kvdebug=sdb,dwarf,zip:+p.zip,adt,num:1\n"},
        {{"parse:--kvdebug=debug:KVQ:kvq-cc", "make:0:x"}, "--kvdebug=debug:kvq-cc\n"},
        {{"parse:--kvdebug=debug:torc:TORC18", "make:1:x"}, "(none)\n"},
        {{"parse:--kvdebug=debug:torc:TORC", "make:2:x"}, "--kvdebug=debug:torc\n"},
    };
    for (const row &r : rows) {
        scratch s;
        tu_result res = run_probe(r.steps, s.dir);
        EXPECT_EQ(res.out.substr(0, res.out.rfind("flags=")), r.out) << r.steps[0];
        EXPECT_EQ(res.err, "") << r.steps[0];
    }
}

TEST(DebugOptions, AssertLevelsRaiseTheirAlerts)
{
    scratch s;
    tu_result r = run_probe({"assert:x != 0"}, s.dir);
    EXPECT_EQ(r.err, "");
    r = run_probe({"parse:--kvdebug=assert:warning", "assert:x != 0"}, s.dir);
    EXPECT_EQ(r.err, "(1501) assertion failure: x != 0 (probe.c:9)  (warning)\n");
    r = run_probe({"parse:--kvdebug=assert:ERROR", "assert:p", "assert:q"}, s.dir);
    EXPECT_EQ(r.err, "(1502) assertion failure: p (probe.c:9) \n(1502) assertion failure: q (probe.c:9) \n");
    EXPECT_EQ(r.status, 0);
    r = run_probe({"parse:--kvdebug=assert:fatal", "assert:p", "assert:q"}, s.dir);
    EXPECT_EQ(r.err, "(1503) assertion failure: p (probe.c:9) \n");
    EXPECT_EQ(r.status, 1);
}

TEST(DebugOptions, FinishPackagesTheTraceAndDumps)
{
    scratch s;
    tu_write(s.dir + "/kvq_package.zip", "stale");
    tu_result r = run_probe({"parse:--kvdebug=on,zip,adt", "trace:hello", "finish"}, s.dir);
    EXPECT_EQ(r.err, W + "Package zip \"kvq_package.zip\" already exists and will be over-written\n");
    zip_entries got = read_zip(s.dir + "/kvq_package.zip");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, "kvq-1.out");
    EXPECT_NE(got[0].second.find("> hello\n"), std::string::npos);
    std::string text = tu_read(s.dir + "/kvq-1.out");
    EXPECT_NE(text.find("# Living Vector Master List:\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Total Summary"), std::string::npos);

    /* A program writing into its caller's file leaves it to the caller. */
    tu_write(s.dir + "/shared.out", "");
    run_probe({"parse:--kvdebug=out:+shared.out,zip:+child.zip,on", "app:kvq-cc", "finish"}, s.dir);
    EXPECT_FALSE(tu_exists(s.dir + "/child.zip"));
    run_probe({"parse:--kvdebug=out:+shared.out,zip:+own.zip,on", "finish", "finish"}, s.dir);
    EXPECT_EQ(read_zip(s.dir + "/own.zip").size(), 2u);

    /* An old archive that cannot be removed is kept and extended. */
    tu_mkdirs(s.dir + "/busy.zip/inside");
    r = run_probe({"parse:--kvdebug=zip:busy.zip"}, s.dir);
    EXPECT_EQ(r.err, W + "Package zip \"busy.zip\" already exists and will be over-written\n" + W +
                         "Unable to remove \"busy.zip\", it will be updated if possible\n");
}
