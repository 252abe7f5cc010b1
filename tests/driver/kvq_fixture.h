/*
 * kvq_fixture.h - the installation tree in which the driver tests run kvq end
 * to end: <dir>/R/V/tor/bin holds kvq and the four back ends (the test back
 * end, which records the argv and command file of every run), R/V/tor/dat the
 * message files; TEMP, the working directory and the record directory lie
 * beside it, open to everyone (so that an unprivileged kvq can use them).
 * The paths are in the platform's form.  Every run must leave the temporary
 * directory empty, fatal ends included.
 */
#ifndef KVQ_TEST_KVQ_FIXTURE_H
#define KVQ_TEST_KVQ_FIXTURE_H

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

using strings = std::vector<std::string>;

struct run {
    tu_result r;
    std::string said;           /* standard output, then standard error */
    double seconds;             /* wall-clock time of the run */
    std::vector<strings> argv;  /* per back-end run: its arguments */
    strings cmd;                /* per back-end run: its command-file bytes */
};

/* The pieces of `text` that `end` ends. */
inline strings split_lines(const std::string &text, const std::string &end = "\n")
{
    strings out;
    for (size_t at = 0, nl; (nl = text.find(end, at)) != std::string::npos; at = nl + end.size())
        out.push_back(text.substr(at, nl - at));
    return out;
}

/* The command-file bytes of options that need no quotes: one per line. */
inline std::string lines(const strings &options)
{
    std::string text;
    for (const std::string &o : options) text += o + TU_EOL;
    return text;
}

/* Bound for a run that must stay linear in its input; lifted when a tool
 * slows every instruction down (KVQ_TEST_UNTIMED=1). */
inline double time_bound(double seconds) { return getenv("KVQ_TEST_UNTIMED") ? 1e9 : seconds; }

/* The tree, removed however the test ends. */
class KvqRun : public testing::Test {
protected:
    std::string dir = tu_mkdtemp("kvqrun"), bin = tu_path(dir + "/R/V/tor/bin"), dat = tu_path(dir + "/R/V/tor/dat"),
                temp = tu_path(dir + "/temp"), work = tu_path(dir + "/work"), rec = tu_path(dir + "/rec"),
                state = rec + TU_SEP + "state";

    static void open_to_all(const std::string &d) { std::filesystem::permissions(d, std::filesystem::perms::all); }

    void SetUp() override
    {
        for (const std::string &d : {bin, dat, temp, work}) tu_mkdirs(d);
        for (const std::string &d : {dir, temp, work}) open_to_all(d);
        for (const char *name : {"kvq", "torc", "torc18", "torcd", "torc18d"})
            tu_copy(tu_staged(name), program(name), true);
    }
    void TearDown() override { tu_rmtree(dir); }

    /* The file of the installation's program `name`. */
    std::string program(const char *name) const { return bin + TU_SEP + name + TU_EXE; }

    void file(const std::string &name, const std::string &text) { tu_write(work + TU_SEP + name, text); }

    run kvq(strings args, strings env = {}, tu_setup setup = {})
    {
        setup.argv = kvq_argv(args);
        setup.env = kvq_env(env);
        setup.cwd = work;
        return collect([&] { return tu_run(setup); });
    }

    strings kvq_argv(strings args)
    {
        args.insert(args.begin(), program("kvq"));
        return args;
    }

    strings kvq_env(strings env)
    {
        env.insert(env.begin(), {"TEMP=" + temp, "TMP", "KVQ_TB_RECORD=" + rec, "KVQ_TB_QUIET=1"});
        return env;
    }

    /* Runs `start` (a kvq run in this tree) with a fresh record directory and
     * collects what it left. */
    template <typename starter> run collect(starter start)
    {
        tu_rmtree(rec);
        tu_mkdirs(rec);
        open_to_all(rec);
        auto began = std::chrono::steady_clock::now();
        run out{start(), "", 0, {}, {}};
        out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        out.said = out.r.out + out.r.err;
        EXPECT_TRUE(tu_list(temp).empty()) << "temporary directory left behind";
        for (int n = 1; tu_exists(rec + "/run" + std::to_string(n) + ".argv"); n++) {
            std::string base = rec + "/run" + std::to_string(n);
            out.argv.push_back(split_lines(tu_read(base + ".argv")));
            out.cmd.push_back(tu_read(base + ".cmd"));
        }
        return out;
    }

    /* What the back end inherited (KVQ_TB_STATE=state), "" when it did not run. */
    std::string inherited() const { return tu_exists(state) ? tu_read(state) : ""; }

    /* The echo line of back-end run n as the driver prints it. */
    static std::string echo(const run &r, size_t n, const strings &options)
    {
        std::string joined;
        for (const std::string &o : options) joined += (joined.empty() ? "" : " ") + o;
        return r.argv.at(n).at(0) + " " + r.argv[n].at(1) + " [ " + joined + " ]\n";
    }
};

#endif /* KVQ_TEST_KVQ_FIXTURE_H */
