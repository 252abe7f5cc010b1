/*
 * test_kvq_run.cpp - the staged kvq run end to end in scratch installation
 * trees, driving the test back end, which records the argv and command file
 * of every run.  Every run checks that the temporary directory is gone.
 */
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

using strings = std::vector<std::string>;

/* <dir>/R/V/tor/bin with kvq and the four back ends; TEMP, the working
 * directory and the back end's record directory beside it. */
struct tree {
    std::string dir, bin, temp, work, rec;
};

tree make_tree()
{
    tree t;
    t.dir = tu_mkdtemp("kvqrun");
    t.bin = t.dir + "/R/V/tor/bin";
    t.temp = t.dir + "/temp";
    t.work = t.dir + "/work";
    t.rec = t.dir + "/rec";
    for (const std::string &d : {t.bin, t.dir + "/R/V/tor/dat", t.temp, t.work, t.rec}) tu_mkdirs(d);
    for (const char *name : {"kvq", "torc", "torc18", "torcd", "torc18d"}) {
        tu_copy(std::string(KVQ_STAGE_BIN) + "/" + name, t.bin + "/" + name, true);
    }
    return t;
}

struct run {
    tu_result r;
    std::vector<strings> argv;  /* per back-end run: its arguments */
    strings cmd;                /* per back-end run: its command-file bytes */
};

strings split_lines(const std::string &text)
{
    strings out;
    size_t at = 0, nl;
    while ((nl = text.find('\n', at)) != std::string::npos) {
        out.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    return out;
}

run kvq(const tree &t, const strings &args, const strings &env = {})
{
    tu_rmtree(t.rec);
    tu_mkdirs(t.rec);
    strings argv = {t.bin + "/kvq"};
    argv.insert(argv.end(), args.begin(), args.end());
    strings e = {"TEMP=" + t.temp, "KVQ_TB_RECORD=" + t.rec, "KVQ_TB_QUIET=1"};
    e.insert(e.end(), env.begin(), env.end());
    run out{tu_run(argv, e, t.work), {}, {}};
    EXPECT_TRUE(tu_list(t.temp).empty()) << "temporary directory left behind";
    for (int n = 1; tu_exists(t.rec + "/run" + std::to_string(n) + ".argv"); n++) {
        std::string base = t.rec + "/run" + std::to_string(n);
        out.argv.push_back(split_lines(tu_read(base + ".argv")));
        out.cmd.push_back(tu_read(base + ".cmd"));
    }
    return out;
}

/* The command-file bytes of plain options: one per line. */
std::string lines(const strings &options)
{
    std::string text;
    for (const std::string &o : options) text += o + "\n";
    return text;
}

/* The command file of back-end run n (counting from 0). */
std::string cmd(const run &r, size_t n)
{
    return n < r.cmd.size() ? r.cmd[n] : "<no back-end run " + std::to_string(n) + ">";
}

/* The echo line of back-end run n as the driver prints it. */
std::string echo(const run &r, size_t n, const strings &options)
{
    if (n >= r.argv.size() || r.argv[n].size() < 2) return "<no back-end run " + std::to_string(n) + ">";
    std::string joined;
    for (const std::string &o : options) joined += (joined.empty() ? "" : " ") + o;
    return r.argv[n][0] + " " + r.argv[n][1] + " [ " + joined + " ]\n";
}

}  // namespace

/* Each test gets its own installation tree, removed however the test ends. */
class KvqRun : public testing::Test {
protected:
    void SetUp() override { t = make_tree(); }
    void TearDown() override { tu_rmtree(t.dir); }
    tree t;
};

TEST_F(KvqRun, ChoosesBackEndAndForwardsOptions)
{
    struct row {
        strings args;
        const char *program;
        strings forwarded;
    };
    const row rows[] = {
        {{}, "torc", {}},
        {{"--chip=18F4550", "main.c"}, "torc18", {"--chip=18F4550", "main.c"}},
        {{"--CHIP=18f452"}, "torc18", {"--CHIP=18f452"}},
        {{"--chip=16F84"}, "torc", {"--chip=16F84"}},
        {{"--bins=debug", "--chip=18F4550"}, "torc18d", {"--chip=18F4550"}},
        {{"--BINS=DEBUG", "x.c", "--bins=release"}, "torc", {"x.c"}},
        {{"--bins=debug"}, "torcd", {}},
        {{"--kvqcc", "--std=c99", "-Wno-error=1501"}, "torc", {"--kvqcc", "--std=c99", "-Wno-error=1501"}},
        {{"--kvdebug=assert:error", "a.c"}, "torc", {"--kvdebug=assert:error", "a.c"}},
        {{"--memorysummary", "out dir"}, "torc", {"--summary=+xml", "--summarydir=out dir"}},
        {{"--memorysummary", "-v", "dir"}, "torc", {"--summary=+xml", "-v", "dir"}},
        {{"--memorysummary", "--kvdebug=assert:fatal", "d"}, "torc",
         {"--kvdebug=assert:fatal", "--summary=+xml", "--summarydir=d"}},
        {{"--MemorySummary", "--chip=18x"}, "torc18", {"--summary=+xml", "--chip=18x"}},
        {{"-E", "-E+"}, "torc", {"-E", "-E"}},
        {{"-E+e1.txt", "-ee2.txt"}, "torc", {"-E+e1.txt", "-E+e2.txt"}},
        {{"a.c", "--adx", "--ext=aDx"}, "torc", {"a.c", "--ccmode=adx"}},
        {{"--ext=WEL", "b.c"}, "torc", {"b.c", "--ccmode=wel"}},
        {{"--ext=kvq", "--ext=KVQ"}, "torc", {}},
        {{"@missing.txt", "@", ""}, "torc", {"@missing.txt", "@"}},
        {{"C:\\src\\main.c", "a\\ b", "q\\'x", "w\\\\z"}, "torc", {"C:\\src\\main.c", "a b", "q'x", "w\\z"}},
    };
    for (const row &c : rows) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        run r = kvq(t, c.args);
        EXPECT_EQ(r.r.status, 0);
        ASSERT_EQ(r.argv.size(), 1u);
        EXPECT_EQ(r.argv[0][0], t.bin + "/" + c.program);
        std::string lines_expected;
        for (const std::string &o : c.forwarded) lines_expected += (o.find(' ') != std::string::npos ? "\"" + o + "\"" : o) + "\n";
        EXPECT_EQ(cmd(r, 0), lines_expected);
        EXPECT_EQ(r.r.out, echo(r, 0, c.forwarded));
    }
}

TEST_F(KvqRun, EchoLevelsAndCommandFileBytes)
{
    const std::pair<strings, bool> echo_rows[] = {
        {{"-q"}, false}, {{"-q", "-v"}, true}, {{"-v", "-q"}, false},
        {{"--VER"}, false}, {{"-V", "-v"}, true},
    };
    for (const auto &c : echo_rows) {
        run r = kvq(t, c.first);
        EXPECT_EQ(r.r.out, c.second ? echo(r, 0, c.first) : "") << testing::PrintToString(c.first);
    }

    /* Quotes escaped first, then quoted for blank, tab, LF and CR only; the
     * echo shows the options as they are. */
    strings odd = {"plain", "a\"b", "a b", "a\tb", "a\nb", "a\rb", "a\vb", "say \"hi there\"", "x\\\\\"y"};
    run r = kvq(t, odd);
    ASSERT_EQ(r.argv.size(), 1u);
    EXPECT_EQ(cmd(r, 0), "plain\na\\\"b\n\"a b\"\n\"a\tb\"\n\"a\nb\"\n\"a\rb\"\na\vb\n"
                        "\"say \\\"hi there\\\"\"\nx\\\\\"y\n");
    odd.back() = "x\\\"y";
    EXPECT_EQ(r.r.out, echo(r, 0, odd));
    std::string cmdfile = r.argv[0][1];
    EXPECT_EQ(cmdfile.rfind("@" + t.temp + "/kv", 0), 0u) << cmdfile;
    EXPECT_EQ(cmdfile.substr(cmdfile.size() - 14), "/kvq_tmp_0.cmd");
}

TEST_F(KvqRun, ErrorFileIsTruncatedOnceAndTakesTheDriversLines)
{
    const strings failing = {"KVQ_TB_MESSAGE=back end says", "KVQ_TB_EXIT=2"};
    std::string err = t.work + "/err.txt";

    tu_write(err, "old\n");
    run r = kvq(t, {"-Eerr.txt"}, failing);
    EXPECT_EQ(r.r.status, 1);
    EXPECT_EQ(tu_read(err), "back end says\n(908) exit status = 2\n");
    EXPECT_EQ(r.r.out, echo(r, 0, {"-E+err.txt"}));

    tu_write(err, "old\n");
    kvq(t, {"-E+err.txt"}, failing);
    EXPECT_EQ(tu_read(err), "old\nback end says\n(908) exit status = 2\n");

    /* Two runs: the file is truncated at the first opening only. */
    tu_write(err, "old\n");
    r = kvq(t, {"-eerr.txt", "--mafrlcsj"}, failing);
    EXPECT_EQ(tu_read(err), "back end says\n(908) exit status = 2\nback end says\n(908) exit status = 2\n");

    /* Without an error file the driver's lines go to standard output and
     * the back end keeps the initial standard error. */
    r = kvq(t, {"x.c"}, failing);
    EXPECT_EQ(r.r.out, echo(r, 0, {"x.c"}) + "(908) exit status = 2\n");
    EXPECT_EQ(r.r.err, "back end says\n");

    r = kvq(t, {"-Enodir/err.txt"});
    EXPECT_EQ(r.r.status, 1);
    EXPECT_EQ(r.r.err, "(141) can't open error file \"nodir/err.txt\": No such file or directory\n");
    EXPECT_TRUE(r.argv.empty());
}

TEST_F(KvqRun, ExtensionConflictsAreFatal)
{
    run r = kvq(t, {"--adx", "--ext=wel"});
    EXPECT_EQ(r.r.status, 1);
    EXPECT_EQ(r.r.out, "(1444) respecified C extension from \"ADX\" to \"WEL\" \n");
    EXPECT_TRUE(r.argv.empty());

    r = kvq(t, {"--ext=Foo", "-Eerr.txt"});
    EXPECT_EQ(r.r.status, 1);
    EXPECT_EQ(r.r.out, "");
    EXPECT_EQ(tu_read(t.work + "/err.txt"), "(1443) unknown --EXT sub-option \"Foo\"\n");
}

TEST_F(KvqRun, TwoRunModeRunsSilentlyFirst)
{
    run r = kvq(t, {"--MAFRLCSJ", "-v", "a.c"});
    EXPECT_EQ(r.r.status, 0);
    ASSERT_EQ(r.argv.size(), 2u);
    strings first = split_lines(cmd(r, 0));
    ASSERT_EQ(first.size(), 5u);
    std::string summary = first[4].substr(2);
    EXPECT_EQ(cmd(r, 0), lines({"-v", "a.c", "--mafrlcsj", "-q", "-E" + summary}));
    EXPECT_EQ(summary.rfind(t.temp + "/kv", 0), 0u) << summary;
    EXPECT_EQ(summary.substr(summary.size() - 10), "/kvq_tmp_0");
    strings second = {"-v", "a.c", "--summarycmp=" + summary};
    EXPECT_EQ(cmd(r, 1), lines(second));
    EXPECT_EQ(r.r.out, echo(r, 1, second));
}

TEST_F(KvqRun, ExitStatusFollowsTheBackEnd)
{
    const std::pair<const char *, const char *> rows[] = {
        {"KVQ_TB_EXIT=0", ""},
        {"KVQ_TB_EXIT=2", "(908) exit status = 2\n"},
        {"KVQ_TB_SIGNAL=9", "(908) exit status = 137\n"},
    };
    for (const auto &c : rows) {
        run r = kvq(t, {"-q"}, {c.first});
        EXPECT_EQ(r.r.status, *c.second ? 1 : 0) << c.first;
        EXPECT_EQ(r.r.out, c.second) << c.first;
    }

    /* A signal to the driver while the back end runs still removes the
     * temporary directory (checked by kvq()). */
    run r = kvq(t, {"-q"}, {"KVQ_TB_KILL_PARENT=15", "KVQ_TB_SLEEP_MS=300"});
    EXPECT_EQ(r.r.status, 128 + 15);

    unlink((t.bin + "/torc").c_str());
    r = kvq(t, {"-q"});
    EXPECT_EQ(r.r.status, 1);
    EXPECT_EQ(r.r.out, "(900) exec failed: " + t.bin + "/torc\n");

    /* A program outside any installation cannot name its back end. */
    tu_copy(t.bin + "/kvq", t.dir + "/kvq", true);
    tu_result lone = tu_run({t.dir + "/kvq", "-q"}, {"TEMP=" + t.temp}, t.work);
    EXPECT_EQ(lone.status, 1);
    EXPECT_EQ(lone.out, "(900) exec failed: torc\n");
}

TEST_F(KvqRun, CommandFilesAreExpandedInPlace)
{
    auto file = [&](const std::string &name, const std::string &text) { tu_write(t.work + "/" + name, text); };
    file("words.txt", "plain \"a b\"  'say \"hi\"'\n-DX=1\t-DY=2\n\\\"q\\\" a\\ b c\\d\n");
    file("outer.txt", "o1 @inner.txt o2\n");
    file("inner.txt", "i1\r\ni2\r\n");
    run r = kvq(t, {"first", "@words.txt", "@outer.txt", "last"});
    EXPECT_EQ(cmd(r, 0), lines({"first", "plain", "\"a b\"", "\"say \\\"hi\\\"\"", "-DX=1", "-DY=2", "\\\"q\\\"",
                               "\"a b\"", "c\\d", "o1", "i1", "i2", "o2", "last"}));

    /* 2047 characters are a word; one more is alert 917, the word is cut and
     * the rest of its line dropped, and the run goes on. */
    std::string w2047(2047, 'w'), w2048(2048, 'v');
    file("long.txt", w2047 + "\n" + w2048 + " tail\nnext\n");
    r = kvq(t, {"-q", "@long.txt"});
    EXPECT_EQ(r.r.status, 0);
    EXPECT_EQ(r.r.err, "(917) argument too long\n");
    EXPECT_EQ(cmd(r, 0), lines({"-q", w2047, w2048.substr(0, 2047), "next"}));

    file("self.txt", "a @self.txt\n");
    file("ping.txt", "@pong.txt\n");
    file("pong.txt", "b\n@./ping.txt\n");
    const std::pair<const char *, const char *> loops[] = {
        {"@self.txt", "(2083) command file \"self.txt\" includes itself\n"},
        {"@ping.txt", "(2083) command file \"./ping.txt\" includes itself\n"},
    };
    for (const auto &c : loops) {
        r = kvq(t, {c.first});
        EXPECT_EQ(r.r.status, 1);
        EXPECT_EQ(r.r.err, c.second);
        EXPECT_TRUE(r.argv.empty());
    }

    /* 64 nested files are accepted; the 65th level is fatal. */
    for (int i = 1; i <= 65; i++) file("n" + std::to_string(i) + ".txt", "@n" + std::to_string(i + 1) + ".txt\n");
    file("n65.txt", "deep\n");
    r = kvq(t, {"-q", "@n2.txt"});
    EXPECT_EQ(cmd(r, 0), lines({"-q", "deep"}));
    r = kvq(t, {"-q", "@n1.txt"});
    EXPECT_EQ(r.r.status, 1);
    EXPECT_EQ(r.r.err, "(2084) command files nested more than 64 levels deep at \"n65.txt\"\n");
}
