/*
 * test_debug_e2e.cpp - the debug facility in real driver runs: a scratch copy
 * of the staged installation, the test back end as torc, the trace file, the
 * forwarded option, the package zip, the master-list dumps and the debugger
 * fallback.
 */
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "debug_test_util.h"

namespace {

/* <root>/R/V/tor/bin holds the staged programs; runs start in <root>/work
 * with their temporary files under <root>/tmp. */
struct install {
    std::string root = tu_mkdtemp("kvqe2e");
    std::string bin = root + "/R/V/tor/bin";
    std::string work = root + "/work";
    install()
    {
        tu_mkdirs(bin);
        tu_mkdirs(root + "/R/V/tor/dat");
        tu_mkdirs(work);
        tu_mkdirs(root + "/tmp");
        for (const std::string &name : tu_list(KVQ_STAGE_BIN))
            tu_copy(std::string(KVQ_STAGE_BIN) + "/" + name, bin + "/" + name, true);
    }
    ~install() { tu_rmtree(root); }
    tu_result kvq(std::vector<std::string> args, std::vector<std::string> env) const
    {
        args.insert(args.begin(), bin + "/kvq");
        for (const char *var : {"TEMP=", "TMP=", "TMPDIR="}) env.push_back(var + root + "/tmp");
        return tu_run(args, env, work);
    }
};

} // namespace

TEST(DebugEndToEnd, TraceForwardedOptionAndPackage)
{
    install in;
    tu_result r = in.kvq({"--kvdebug=on,alerts,zip", "-q", "x.c"}, {"KVQ_TB_EXIT=3"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("torc: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("from " + in.root + "/tmp/"), std::string::npos) << r.out;
    std::string first = r.out.substr(r.out.find('\n') + 1);
    EXPECT_EQ(first.substr(0, first.find('\n')), "  --kvdebug=default,on,zip:+kvq_package.zip,alerts,num:1");

    std::string trace = tu_read(in.work + "/kvq-1.out");
    EXPECT_EQ(trace.find("\nAPP: KVQ\nARGS: " + in.bin + "/kvq --kvdebug=on,alerts,zip -q x.c\n"), 0u) << trace;
    EXPECT_NE(trace.find("> ENTER kvq_spawn("), std::string::npos) << trace;
    EXPECT_NE(trace.find("> EXIT kvq_spawn() -> Execution returned 3\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("ALERT> (908) exit status = 3\n"), std::string::npos) << trace;

    zip_entries got = read_zip(in.work + "/kvq_package.zip");
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].first, "kvq-1.out");
    EXPECT_EQ(got[0].second, trace.substr(0, got[0].second.size()));
    EXPECT_NE(got[0].second.find("ALERT> (908)"), std::string::npos);
}

TEST(DebugEndToEnd, ContainerDumpsUnderAdt)
{
    install in;
    tu_result r = in.kvq({"--kvdebug=adt", "-q", "x.c"}, {"KVQ_TB_QUIET=1"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::string trace = tu_read(in.work + "/kvq-1.out");
    size_t hashes = trace.find("# Hash Table Master List:\n");
    size_t vectors = trace.find("# Living Vector Master List:\n");
    EXPECT_NE(vectors, std::string::npos) << trace;
    EXPECT_NE(trace.find("# Vector Master List Summary:\n"), std::string::npos);
    EXPECT_NE(trace.find("Total Summary:0"), std::string::npos);
    if (hashes != std::string::npos) {
        EXPECT_LT(hashes, vectors);
    }
    /* Nothing but ENTER/EXIT lines and dumps without flag 1. */
    EXPECT_EQ(trace.find("KVDEBUG"), std::string::npos);
}

TEST(DebugEndToEnd, MissingDebuggerRunsTheBackEndPlainly)
{
    if (tu_exists("/usr/bin/lldb")) GTEST_SKIP() << "a debugger is installed";
    install in;
    tu_result r = in.kvq({"--kvdebug=debug:torc", "x.c"}, {});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(count_of(r.out + r.err, "KVDEBUG (warning): Debugger \"/usr/bin/lldb\" is not available\n"), 1u)
        << r.out << r.err;
    EXPECT_NE(r.out.find("torc: "), std::string::npos);
    EXPECT_EQ(r.out.find("--kvdebug="), std::string::npos) << "nothing is forwarded for a name torc launches";
}
