/*
 * test_kvq_run.cpp - kvq run end to end in a scratch installation tree,
 * driving the test back end, which records the argv and the command file of
 * every run.  KvqRun covers the ordinary runs, HostileInputs the inputs a
 * careless or hostile user, build tool or installation can hand the driver.
 * Every run must leave the temporary directory empty, fatal ends included.
 */
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

using strings = std::vector<std::string>;

struct run {
    tu_result r;
    std::string said;           /* standard output, then standard error */
    std::vector<strings> argv;  /* per back-end run: its arguments */
    strings cmd;                /* per back-end run: its command-file bytes */
};

strings split_lines(const std::string &text)
{
    strings out;
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        out.push_back(text.substr(at, nl - at));
    return out;
}

/* The command-file bytes of plain options: one per line. */
std::string lines(const strings &options)
{
    std::string text;
    for (const std::string &o : options) text += o + "\n";
    return text;
}

/* Wall-clock bound for a run that must stay linear in its input; lifted
 * when a tool slows every instruction down (KVQ_TEST_UNTIMED=1). */
double time_bound(double seconds)
{
    return getenv("KVQ_TEST_UNTIMED") ? 1e9 : seconds;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/* <dir>/R/V/tor/bin holds kvq and the four back ends, R/V/tor/dat the
 * message files; TEMP, the working directory and the back end's record
 * directory lie beside it.  Removed however the test ends. */
class KvqRun : public testing::Test {
protected:
    std::string dir = tu_mkdtemp("kvqrun"), bin = dir + "/R/V/tor/bin", dat = dir + "/R/V/tor/dat",
                temp = dir + "/temp", work = dir + "/work", rec = dir + "/rec";

    void SetUp() override
    {
        for (const std::string &d : {bin, dat, temp, work, rec}) tu_mkdirs(d);
        for (const char *name : {"kvq", "torc", "torc18", "torcd", "torc18d"})
            tu_copy(std::string(KVQ_STAGE_BIN) + "/" + name, bin + "/" + name, true);
    }
    void TearDown() override { tu_rmtree(dir); }

    void file(const std::string &name, const std::string &text) { tu_write(work + "/" + name, text); }

    run kvq(const strings &args, const strings &env = {})
    {
        tu_rmtree(rec);
        tu_mkdirs(rec);
        strings argv = {bin + "/kvq"};
        argv.insert(argv.end(), args.begin(), args.end());
        strings e = {"TEMP=" + temp, "TMP", "KVQ_TB_RECORD=" + rec, "KVQ_TB_QUIET=1"};
        e.insert(e.end(), env.begin(), env.end());
        run out{tu_run(argv, e, work), "", {}, {}};
        out.said = out.r.out + out.r.err;
        EXPECT_TRUE(tu_list(temp).empty()) << "temporary directory left behind";
        for (int n = 1; tu_exists(rec + "/run" + std::to_string(n) + ".argv"); n++) {
            std::string base = rec + "/run" + std::to_string(n);
            out.argv.push_back(split_lines(tu_read(base + ".argv")));
            out.cmd.push_back(tu_read(base + ".cmd"));
        }
        return out;
    }

    /* The command file of back-end run n (counting from 0). */
    static std::string cmd(const run &r, size_t n)
    {
        return n < r.cmd.size() ? r.cmd[n] : "<no back-end run " + std::to_string(n) + ">";
    }

    /* The echo line of back-end run n as the driver prints it. */
    static std::string echo(const run &r, size_t n, const strings &options)
    {
        if (n >= r.argv.size() || r.argv[n].size() < 2) return "<no back-end run " + std::to_string(n) + ">";
        std::string joined;
        for (const std::string &o : options) joined += (joined.empty() ? "" : " ") + o;
        return r.argv[n][0] + " " + r.argv[n][1] + " [ " + joined + " ]\n";
    }

    /* Starts kvq in a process group of its own with a back end that sleeps,
     * sends `sig` to kvq alone or to its whole group (as Ctrl-C does) once
     * the back end runs, and returns how kvq ended: 128 + N for signal N,
     * the exit code otherwise, -1 when something timed out. */
    int signal_during_run(int sig, bool whole_group)
    {
        tu_rmtree(rec);
        tu_mkdirs(rec);
        pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            setenv("TEMP", temp.c_str(), 1);
            setenv("KVQ_TB_RECORD", rec.c_str(), 1);
            setenv("KVQ_TB_SLEEP_MS", "20000", 1);
            if (chdir(work.c_str()) != 0) _exit(126);
            execl((bin + "/kvq").c_str(), "kvq", "-q", (char *)nullptr);
            _exit(127);
        }
        setpgid(pid, pid);
        int result = -1, st = 0;
        for (int i = 0; i < 1000 && !tu_exists(rec + "/run1.argv"); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(whole_group ? -pid : pid, sig);
        for (int i = 0; i < 1000 && result < 0; i++) {
            if (waitpid(pid, &st, WNOHANG) == pid) result = WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
            else std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(-pid, SIGKILL); /* the back end, when only kvq was signalled */
        if (result < 0) waitpid(pid, &st, 0);
        EXPECT_TRUE(tu_list(temp).empty()) << "temporary directory left behind";
        return result;
    }
};

using HostileInputs = KvqRun;

/* A UNIX socket file: it exists, but no one, root included, can open it. */
void make_socket(const std::string &path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    path.copy(addr.sun_path, path.size());
    ASSERT_EQ(bind(fd, (sockaddr *)&addr, sizeof addr), 0);
    close(fd);
}

}  // namespace

TEST_F(KvqRun, ChoosesBackEndAndForwardsOptions)
{
    /* args, back end, options in the command file */
    const struct {
        strings args;
        const char *program;
        strings forwarded;
    } rows[] = {
        {{}, "torc", {}},
        {{"--chip=18F4550", "main.c"}, "torc18", {"--chip=18F4550", "main.c"}},
        {{"--CHIP=18f452"}, "torc18", {"--CHIP=18f452"}},
        {{"--chip=16F84"}, "torc", {"--chip=16F84"}},
        {{"--bins=debug", "--chip=18F4550"}, "torc18d", {"--chip=18F4550"}},
        {{"--BINS=DEBUG", "x.c", "--bins=release"}, "torc", {"x.c"}},
        {{"--bins=debug"}, "torcd", {}},
        {{"--kvdebug=assert:error", "a.c"}, "torc", {"--kvdebug=assert:error", "a.c"}},
        {{"--memorysummary", "out dir"}, "torc", {"--summary=+xml", "--summarydir=out dir"}},
        {{"--memorysummary", "-v", "dir"}, "torc", {"--summary=+xml", "-v", "dir"}},
        {{"--memorysummary", "--kvdebug=assert:fatal", "d"}, "torc",
         {"--kvdebug=assert:fatal", "--summary=+xml", "--summarydir=d"}},
        {{"--MemorySummary", "--chip=18x"}, "torc18", {"--summary=+xml", "--chip=18x"}},
        {{"-E", "-E+"}, "torc", {"-E", "-E"}},
        {{"-Ee1.txt", "-ee2.txt"}, "torc", {"-E+e1.txt", "-E+e2.txt"}},
        {{"a.c", "--adx", "--ext=aDx"}, "torc", {"a.c", "--ccmode=adx"}},
        {{"--ext=WEL", "b.c"}, "torc", {"b.c", "--ccmode=wel"}},
        {{"--ext=kvq", "--ext=KVQ"}, "torc", {}},
        {{"@missing.txt", "@", ""}, "torc", {"@missing.txt", "@"}},
        {{"C:\\src\\main.c", "a\\ b", "q\\'x", "w\\\\z"}, "torc", {"C:\\src\\main.c", "a b", "q'x", "w\\z"}},
    };
    for (const auto &c : rows) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        run r = kvq(c.args);
        EXPECT_EQ(r.r.status, 0);
        ASSERT_EQ(r.argv.size(), 1u);
        EXPECT_EQ(r.argv[0][0], bin + "/" + c.program);
        std::string want;
        for (const std::string &o : c.forwarded) want += (o.find(' ') != std::string::npos ? "\"" + o + "\"" : o) + "\n";
        EXPECT_EQ(cmd(r, 0), want);
        EXPECT_EQ(r.r.out, echo(r, 0, c.forwarded));
    }
}

TEST_F(KvqRun, EchoLevelsAndCommandFileBytes)
{
    /* args, echo shown */
    const std::pair<strings, bool> echo_rows[] = {
        {{"-q"}, false}, {{"-q", "-v"}, true}, {{"-v", "-q"}, false}, {{"--VER"}, false}, {{"-V", "-v"}, true},
    };
    for (const auto &c : echo_rows) {
        run r = kvq(c.first);
        EXPECT_EQ(r.r.out, c.second ? echo(r, 0, c.first) : "") << testing::PrintToString(c.first);
    }

    /* Quotes escaped first, then quoted for blank, tab, LF and CR only; the
     * echo shows the options as they are. */
    strings odd = {"plain", "a\"b", "a b", "a\tb", "a\nb", "a\rb", "a\vb", "say \"hi there\"", "x\\\\\"y"};
    run r = kvq(odd);
    ASSERT_EQ(r.argv.size(), 1u);
    EXPECT_EQ(cmd(r, 0), "plain\na\\\"b\n\"a b\"\n\"a\tb\"\n\"a\nb\"\n\"a\rb\"\na\vb\n"
                        "\"say \\\"hi there\\\"\"\nx\\\\\"y\n");
    odd.back() = "x\\\"y";
    EXPECT_EQ(r.r.out, echo(r, 0, odd));
    std::string at = r.argv[0][1];
    EXPECT_EQ(at.rfind("@" + temp + "/kv", 0), 0u) << at;
    EXPECT_EQ(at.substr(at.size() - 14), "/kvq_tmp_0.cmd");
}

TEST_F(KvqRun, ErrorFileIsTruncatedOnceAndTakesTheDriversLines)
{
    const strings failing = {"KVQ_TB_MESSAGE=back end says", "KVQ_TB_EXIT=2"};
    const std::string once = "back end says\n(908) exit status = 2\n";
    /* args, error file afterwards (it holds "old\n" before) */
    const std::pair<strings, std::string> rows[] = {
        {{"-Eerr.txt"}, once},
        {{"-E+err.txt"}, "old\n" + once},
        {{"-eerr.txt", "--mafrlcsj"}, once + once}, /* truncated at the first opening only */
    };
    for (const auto &c : rows) {
        file("err.txt", "old\n");
        run r = kvq(c.first, failing);
        EXPECT_EQ(r.r.status, 1);
        EXPECT_EQ(tu_read(work + "/err.txt"), c.second) << testing::PrintToString(c.first);
    }

    /* Without an error file the driver's lines go to standard output and
     * the back end keeps the initial standard error. */
    run r = kvq({"x.c"}, failing);
    EXPECT_EQ(r.r.out, echo(r, 0, {"x.c"}) + "(908) exit status = 2\n");
    EXPECT_EQ(r.r.err, "back end says\n");
}

TEST_F(KvqRun, TwoRunModeRunsSilentlyFirst)
{
    run r = kvq({"--MAFRLCSJ", "-v", "a.c"});
    EXPECT_EQ(r.r.status, 0);
    ASSERT_EQ(r.argv.size(), 2u);
    strings first = split_lines(cmd(r, 0));
    ASSERT_EQ(first.size(), 5u);
    std::string summary = first[4].substr(2);
    EXPECT_EQ(cmd(r, 0), lines({"-v", "a.c", "--mafrlcsj", "-q", "-E" + summary}));
    EXPECT_EQ(summary.rfind(temp + "/kv", 0), 0u) << summary;
    EXPECT_EQ(summary.substr(summary.size() - 10), "/kvq_tmp_0");
    strings second = {"-v", "a.c", "--summarycmp=" + summary};
    EXPECT_EQ(cmd(r, 1), lines(second));
    EXPECT_EQ(r.r.out, echo(r, 1, second));
}

TEST_F(KvqRun, CommandFilesAreExpandedInPlace)
{
    file("words.txt", "plain \"a b\"  'say \"hi\"'\n-DX=1\t-DY=2\n\\\"q\\\" a\\ b c\\d\n");
    file("outer.txt", "o1 @inner.txt o2\n");
    file("inner.txt", "i1\r\ni2\r\n");
    run r = kvq({"first", "@words.txt", "@outer.txt", "last"});
    EXPECT_EQ(cmd(r, 0), lines({"first", "plain", "\"a b\"", "\"say \\\"hi\\\"\"", "-DX=1", "-DY=2", "\\\"q\\\"",
                               "\"a b\"", "c\\d", "o1", "i1", "i2", "o2", "last"}));

    /* 2047 characters are a word; one more is alert 917, the word is cut and
     * the rest of its line dropped, and the run goes on. */
    std::string w2047(2047, 'w'), w2048(2048, 'v');
    file("long.txt", w2047 + "\n" + w2048 + " tail\nnext\n");
    r = kvq({"-q", "@long.txt"});
    EXPECT_EQ(r.r.status, 0);
    EXPECT_EQ(r.said, "(917) argument too long\n");
    EXPECT_EQ(cmd(r, 0), lines({"-q", w2047, w2048.substr(0, 2047), "next"}));

    /* 64 nested files are accepted (the 65th level is fatal, below). */
    for (int i = 1; i <= 64; i++) file("n" + std::to_string(i) + ".txt", "@n" + std::to_string(i + 1) + ".txt\n");
    file("n65.txt", "deep\n");
    r = kvq({"-q", "@n2.txt"});
    EXPECT_EQ(cmd(r, 0), lines({"-q", "deep"}));
}

TEST_F(KvqRun, ExitStatusFollowsTheBackEnd)
{
    /* back-end behaviour, what kvq says (it exits 1 when it says anything) */
    const std::pair<const char *, const char *> rows[] = {
        {"KVQ_TB_EXIT=0", ""},
        {"KVQ_TB_EXIT=2", "(908) exit status = 2\n"},
        {"KVQ_TB_SIGNAL=9", "(908) exit status = 137\n"},
        {"KVQ_TB_SIGNAL=11", "(908) exit status = 139\n"},
        {"KVQ_TB_SIGNAL=6", "(908) exit status = 134\n"},
    };
    for (const auto &c : rows) {
        run r = kvq({"-q"}, {c.first});
        EXPECT_EQ(r.r.status, *c.second ? 1 : 0) << c.first;
        EXPECT_EQ(r.said, c.second) << c.first;
    }
}

TEST_F(HostileInputs, BackEndThatCannotRun)
{
    const std::string torc = bin + "/torc";
    const struct {
        const char *what;
        void (*spoil)(const std::string &torc);
    } rows[] = {
        {"not executable", [](const std::string &p) { chmod(p.c_str(), 0644); }},
        {"not a program", [](const std::string &p) { tu_write(p, "no interpreter line\n"), chmod(p.c_str(), 0755); }},
        {"a directory", [](const std::string &p) { unlink(p.c_str()), mkdir(p.c_str(), 0755); }},
        {"missing", [](const std::string &p) { tu_rmtree(p); }},
    };
    for (const auto &c : rows) {
        c.spoil(torc);
        run r = kvq({"-q"});
        EXPECT_EQ(r.r.status, 1) << c.what;
        EXPECT_EQ(r.said, "(900) exec failed: " + torc + "\n") << c.what;
    }

    /* A program outside any installation cannot name its back end. */
    tu_copy(bin + "/kvq", dir + "/kvq", true);
    tu_result lone = tu_run({dir + "/kvq", "-q"}, {"TEMP=" + temp}, work);
    EXPECT_EQ(lone.status, 1);
    EXPECT_EQ(lone.out, "(900) exec failed: torc\n");
}

TEST_F(HostileInputs, FatalAlertsStopBeforeTheBackEnd)
{
    file("self.txt", "a @self.txt\n");
    file("ping.txt", "@pong.txt\n");
    file("pong.txt", "b\n@./ping.txt\n");
    /* One file under three names: the identity, not the name, is tracked. */
    file("a.txt", "-DA @hard.txt\n");
    link((work + "/a.txt").c_str(), (work + "/hard.txt").c_str());
    symlink((work + "/a.txt").c_str(), (work + "/soft.txt").c_str());
    file("b.txt", "@" + work + "/c.txt\n");
    file("c.txt", "-DC\n@b.txt\n");
    for (int i = 1; i <= 65; i++) file("n" + std::to_string(i) + ".txt", "@n" + std::to_string(i + 1) + ".txt\n");
    tu_write(dir + "/plain-file", "");

    /* args, environment, what kvq says */
    struct row {
        strings args, env;
        std::string said;
    };
    std::vector<row> rows = {
        {{"--adx", "--ext=wel"}, {}, "(1444) respecified C extension from \"ADX\" to \"WEL\" \n"},
        {{"@self.txt"}, {}, "(2083) command file \"self.txt\" includes itself\n"},
        {{"@ping.txt"}, {}, "(2083) command file \"./ping.txt\" includes itself\n"},
        {{"@soft.txt"}, {}, "(2083) command file \"hard.txt\" includes itself\n"},
        {{"@b.txt"}, {}, "(2083) command file \"b.txt\" includes itself\n"},
        {{"-q", "@n1.txt"}, {}, "(2084) command files nested more than 64 levels deep at \"n65.txt\"\n"},
        {{"-Enodir/err.txt"}, {}, "(141) can't open error file \"nodir/err.txt\": No such file or directory\n"},
        {{"-E" + work}, {}, "(141) can't open error file \"" + work + "\": Is a directory\n"},
        {{"-q"}, {"TEMP=" + dir + "/plain-file"}, "(2082) can't create temporary file\n"},
        {{"-q"}, {"TEMP=/proc"}, "(2082) can't create temporary file\n"},
    };
    if (geteuid() != 0) { /* root may write anywhere */
        mkdir((dir + "/readonly").c_str(), 0555);
        rows.push_back({{"-q"}, {"TEMP=" + dir + "/readonly"}, "(2082) can't create temporary file\n"});
    }
    for (const auto &c : rows) {
        run r = kvq(c.args, c.env);
        EXPECT_EQ(r.r.status, 1) << testing::PrintToString(c.args);
        EXPECT_EQ(r.said, c.said);
        EXPECT_TRUE(r.argv.empty());
    }

    /* A fatal alert raised after the error file is open lands there. */
    run r = kvq({"--ext=Foo", "-Eerr.txt"});
    EXPECT_EQ(r.r.status, 1);
    EXPECT_EQ(r.said, "");
    EXPECT_EQ(tu_read(work + "/err.txt"), "(1443) unknown --EXT sub-option \"Foo\"\n");
}

TEST_F(HostileInputs, OddAtFilesAreReadOrPassedOn)
{
    /* Files that cannot be read are passed on exactly as typed. */
    mkdir((work + "/adir").c_str(), 0755);
    make_socket(work + "/sock");
    symlink("nowhere", (work + "/dangling").c_str());
    strings args = {"-q", "@adir", "@sock", "@dangling", "@missing", "@"};
    if (geteuid() != 0) {
        file("locked", "-DSECRET\n");
        chmod((work + "/locked").c_str(), 0);
        args.push_back("@locked");
    }
    run r = kvq(args);
    EXPECT_EQ(r.r.status, 0);
    EXPECT_EQ(r.said, "");
    EXPECT_EQ(cmd(r, 0), lines(args));

    /* A NUL ends the text of its line; bytes that are not UTF-8 pass. */
    const char bytes[] = "-DA\0-DHIDDEN tail\ncaf\xe9 \xff\xfe\x80 \"q \xc3\x28\"\n\0\n-DLAST\n";
    file("bytes.txt", std::string(bytes, sizeof bytes - 1));
    r = kvq({"-q", "@bytes.txt"});
    EXPECT_EQ(r.said, "");
    EXPECT_EQ(cmd(r, 0), lines({"-q", "-DA", "caf\xe9", "\xff\xfe\x80", "\"q \xc3\x28\"", "-DLAST"}));

    /* A 10 MB word is cut once, in linear time; the next line is read. */
    file("huge.txt", "-DBEFORE " + std::string(10u << 20, 'x') + " same-line\n-DAFTER\n");
    auto start = std::chrono::steady_clock::now();
    r = kvq({"-q", "@huge.txt"});
    EXPECT_LT(seconds_since(start), time_bound(20.0));
    EXPECT_EQ(r.r.status, 0);
    EXPECT_EQ(r.said, "(917) argument too long\n");
    EXPECT_EQ(cmd(r, 0), lines({"-q", "-DBEFORE", std::string(2047, 'x'), "-DAFTER"}));
}

TEST_F(HostileInputs, HostileMessageFiles)
{
    const std::string msgs = dat + "/20990101000000_en.msgs";
    std::string big;
    for (int i = 0; i < 100000; i++) big += std::to_string(100 + i % 400) + " E filler " + std::to_string(i) + "\n";
    const char odd[] = "908 E bad \xff\xfe bytes, status %d\n917 E cut\0 after the NUL\n";
    file("long.txt", std::string(3000, 'w') + "\n");

    /* message file, args, back-end exit status, what kvq says */
    const struct {
        std::string text;
        strings args;
        int exit;
        std::string said;
    } rows[] = {
        /* 100k lines, read once and linearly; the last line for a number wins. */
        {big + "908 E last of many, status %d\n", {"-q"}, 3, "(908) last of many, status 3\n"},
        /* Invalid UTF-8 is printed as it stands; a NUL ends the text. */
        {std::string(odd, sizeof odd - 1), {"-q"}, 4, "(908) bad \xff\xfe bytes, status 4\n"},
        {std::string(odd, sizeof odd - 1), {"-q", "@long.txt"}, 0, "(917) cut\n"},
        /* Conversions that do not suit the arguments: the embedded text stays. */
        {"908 E status %s\n", {"-q"}, 5,
         "Malformed error information on line 1, in file " + msgs + "\n\n(908) exit status = 5\n"},
    };
    for (const auto &c : rows) {
        tu_write(msgs, c.text);
        auto start = std::chrono::steady_clock::now();
        run r = kvq(c.args, {"KVQ_TB_EXIT=" + std::to_string(c.exit)});
        EXPECT_LT(seconds_since(start), time_bound(10.0));
        EXPECT_EQ(r.said, c.said);
        EXPECT_EQ(r.r.status, c.exit ? 1 : 0);
    }
}

TEST_F(HostileInputs, TemporaryDirectoryIsRemovedOnSignalsAndCreatedWhenMissing)
{
    EXPECT_EQ(signal_during_run(SIGTERM, false), 128 + SIGTERM);
    EXPECT_EQ(signal_during_run(SIGINT, true), 128 + SIGINT);

    /* A missing TEMP is created with its parents; the private directory
     * inside it goes at exit, the created parents stay. */
    std::string missing = dir + "/missing/deeper";
    run r = kvq({"-q"}, {"TEMP=" + missing});
    EXPECT_EQ(r.r.status, 0);
    EXPECT_EQ(r.argv.size(), 1u);
    EXPECT_TRUE(tu_exists(missing));
    EXPECT_TRUE(tu_list(missing).empty());
}
