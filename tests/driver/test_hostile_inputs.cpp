/*
 * test_hostile_inputs.cpp - kvq run end to end on inputs a careless or
 * hostile user, build tool or installation can produce: "@" files that
 * cannot be read, include themselves through links, hold a 10 MB word, NUL
 * bytes or invalid UTF-8; message files with such bytes and 100k lines; an
 * error file or a temporary directory that cannot be written; a back end that
 * cannot run or dies by a signal; signals reaching the driver itself.
 *
 * Every run must give its documented diagnostic, end with its documented
 * status (never a crash of its own) and leave no temporary directory behind.
 * Each test builds a private installation tree <dir>/R/V/tor/bin with kvq and
 * the test back end as torc, which records what it received.
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

struct install {
    std::string dir;   /* the scratch root, removed by the test */
    std::string bin;   /* R/V/tor/bin: kvq and torc */
    std::string dat;   /* R/V/tor/dat: message files */
    std::string temp;  /* TEMP of every run */
    std::string work;  /* working directory of every run */
    std::string rec;   /* where the back end records its runs */
};

install make_install()
{
    std::string dir = tu_mkdtemp("kvqhostile");
    std::string tor = dir + "/R/V/tor";
    install in{dir, tor + "/bin", tor + "/dat", dir + "/temp", dir + "/work", dir + "/rec"};
    for (const std::string &d : {in.bin, in.dat, in.temp, in.work, in.rec}) tu_mkdirs(d);
    tu_copy(KVQ_BINARY, in.bin + "/kvq", true);
    tu_copy(KVQ_TEST_BACKEND, in.bin + "/torc", true);
    return in;
}

strings base_env(const install &in)
{
    return {"TEMP=" + in.temp, "TMP", "KVQ_TB_RECORD=" + in.rec, "KVQ_TB_QUIET=1"};
}

struct outcome {
    int status;
    std::string said;  /* standard output and standard error together */
    std::string cmd;   /* the command file of the back end's run, or "" */
    bool ran;          /* the back end was started */
};

/* Runs kvq with `args` in the working directory; checks that no temporary
 * directory stays behind. */
outcome kvq(const install &in, const strings &args, const strings &env = {})
{
    tu_rmtree(in.rec);
    tu_mkdirs(in.rec);
    strings argv = {in.bin + "/kvq"};
    argv.insert(argv.end(), args.begin(), args.end());
    strings e = base_env(in);
    e.insert(e.end(), env.begin(), env.end());
    tu_result r = tu_run(argv, e, in.work);
    EXPECT_TRUE(tu_list(in.temp).empty()) << "temporary directory left behind";
    bool ran = tu_exists(in.rec + "/run1.argv");
    return {r.status, r.out + r.err, ran ? tu_read(in.rec + "/run1.cmd") : "", ran};
}

/* The command-file text of plain options, one per line. */
std::string lines(const strings &options)
{
    std::string text;
    for (const std::string &o : options) text += o + "\n";
    return text;
}

/* Wall-clock bound for a run that must stay linear in its input; lifted
 * when the suite runs under a tool that slows every instruction down
 * (KVQ_TEST_UNTIMED=1, set by scripts/valgrind-e2e.sh). */
double time_bound(double seconds)
{
    return getenv("KVQ_TEST_UNTIMED") ? 1e9 : seconds;
}

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

TEST(HostileInputs, UnopenableAtFilesArePassedOnUnchanged)
{
    install in = make_install();
    mkdir((in.work + "/adir").c_str(), 0755);
    make_socket(in.work + "/sock");
    symlink("nowhere", (in.work + "/dangling").c_str());
    strings args = {"-q", "@adir", "@sock", "@dangling", "@missing", "@"};
    if (geteuid() != 0) {
        tu_write(in.work + "/locked", "-DSECRET\n");
        chmod((in.work + "/locked").c_str(), 0);
        args.push_back("@locked");
    }
    outcome o = kvq(in, args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.said, "");
    EXPECT_EQ(o.cmd, lines(args));
    tu_rmtree(in.dir);
}

TEST(HostileInputs, SelfInclusionThroughLinksIsFatal)
{
    install in = make_install();
    /* One file under three names: the identity, not the name, is tracked. */
    tu_write(in.work + "/a.txt", "-DA @hard.txt\n");
    link((in.work + "/a.txt").c_str(), (in.work + "/hard.txt").c_str());
    symlink((in.work + "/a.txt").c_str(), (in.work + "/soft.txt").c_str());
    outcome o = kvq(in, {"@soft.txt"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.said, "(2083) command file \"hard.txt\" includes itself\n");
    EXPECT_FALSE(o.ran);

    /* Mutual inclusion through an absolute path. */
    tu_write(in.work + "/b.txt", "@" + in.work + "/c.txt\n");
    tu_write(in.work + "/c.txt", "-DC\n@b.txt\n");
    o = kvq(in, {"@b.txt"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.said, "(2083) command file \"b.txt\" includes itself\n");
    EXPECT_FALSE(o.ran);
    tu_rmtree(in.dir);
}

TEST(HostileInputs, TenMegabyteWordIsCutOnceAndTheRunGoesOn)
{
    install in = make_install();
    const size_t ten_mb = 10u << 20;
    tu_write(in.work + "/huge.txt", "-DBEFORE " + std::string(ten_mb, 'x') + " same-line\n-DAFTER\n");
    auto start = std::chrono::steady_clock::now();
    outcome o = kvq(in, {"-q", "@huge.txt"});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.said, "(917) argument too long\n");
    EXPECT_EQ(o.cmd, lines({"-q", "-DBEFORE", std::string(2047, 'x'), "-DAFTER"}));
    /* Linear reading: a quadratic gathering of the line would take minutes. */
    EXPECT_LT(seconds, time_bound(20.0));
    tu_rmtree(in.dir);
}

TEST(HostileInputs, NulBytesAndInvalidUtf8InAtFiles)
{
    install in = make_install();
    /* A NUL ends the text of its line: the rest of that line is ignored.
     * Bytes that are not UTF-8 are ordinary bytes and pass unchanged. */
    const char text[] = "-DA\0-DHIDDEN tail\ncaf\xe9 \xff\xfe\x80 \"q \xc3\x28\"\n\0\n-DLAST\n";
    tu_write(in.work + "/bytes.txt", std::string(text, sizeof text - 1));
    outcome o = kvq(in, {"-q", "@bytes.txt"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.said, "");
    EXPECT_EQ(o.cmd, lines({"-q", "-DA", "caf\xe9", "\xff\xfe\x80", "\"q \xc3\x28\"", "-DLAST"}));
    tu_rmtree(in.dir);
}

TEST(HostileInputs, HostileMessageFiles)
{
    install in = make_install();
    const std::string msgs = in.dat + "/20990101000000_en.msgs";

    /* 100k lines: read once, linearly; the last line for a number wins. */
    std::string big;
    for (int i = 0; i < 100000; i++) big += std::to_string(100 + i % 400) + " E filler " + std::to_string(i) + "\n";
    tu_write(msgs, big + "908 E last of many, status %d\n");
    auto start = std::chrono::steady_clock::now();
    outcome o = kvq(in, {"-q"}, {"KVQ_TB_EXIT=3"});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.said, "(908) last of many, status 3\n");
    EXPECT_LT(seconds, time_bound(10.0));

    /* Invalid UTF-8 is printed as it stands; a NUL ends the text. */
    const char odd[] = "908 E bad \xff\xfe bytes, status %d\n917 E cut\0 after the NUL\n";
    tu_write(msgs, std::string(odd, sizeof odd - 1));
    o = kvq(in, {"-q"}, {"KVQ_TB_EXIT=4"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.said, "(908) bad \xff\xfe bytes, status 4\n");
    tu_write(in.work + "/long.txt", std::string(3000, 'w') + "\n");
    o = kvq(in, {"-q", "@long.txt"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.said, "(917) cut\n");

    /* A text whose conversions do not suit the alert's arguments (a string
     * where the program passes a number) is refused: the embedded text stays. */
    tu_write(msgs, "908 E status %s\n");
    o = kvq(in, {"-q"}, {"KVQ_TB_EXIT=5"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.said, "Malformed error information on line 1, in file " + msgs + "\n\n(908) exit status = 5\n");
    tu_rmtree(in.dir);
}

TEST(HostileInputs, UnwritableErrorFileIsFatal)
{
    install in = make_install();
    const std::pair<std::string, std::string> rows[] = {
        {in.dir + "/no/such/dir/x.err", "No such file or directory"},
        {in.work, "Is a directory"},
    };
    for (const auto &row : rows) {
        outcome o = kvq(in, {"-q", "-E" + row.first});
        EXPECT_EQ(o.status, 1) << row.first;
        EXPECT_EQ(o.said, "(141) can't open error file \"" + row.first + "\": " + row.second + "\n");
        EXPECT_FALSE(o.ran);
    }
    tu_rmtree(in.dir);
}

TEST(HostileInputs, UnusableTemporaryDirectory)
{
    install in = make_install();
    tu_write(in.dir + "/plain-file", "");
    /* A file, a read-only file system, a directory without write permission
     * (this one only binds when not running as root). */
    strings bad = {in.dir + "/plain-file", "/proc"};
    if (geteuid() != 0) {
        tu_mkdirs(in.dir + "/readonly");
        chmod((in.dir + "/readonly").c_str(), 0555);
        bad.push_back(in.dir + "/readonly");
    }
    for (const std::string &temp : bad) {
        outcome o = kvq(in, {"-q"}, {"TEMP=" + temp});
        EXPECT_EQ(o.status, 1) << temp;
        EXPECT_EQ(o.said, "(2082) can't create temporary file\n") << temp;
        EXPECT_FALSE(o.ran);
    }

    /* A missing directory is created with its parents; the private
     * directory inside it is removed at exit, the created parents stay. */
    std::string missing = in.dir + "/missing/deeper";
    outcome o = kvq(in, {"-q"}, {"TEMP=" + missing});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(o.ran);
    EXPECT_TRUE(tu_list(missing).empty());
    tu_rmtree(in.dir);
}

TEST(HostileInputs, BackEndThatCannotRun)
{
    install in = make_install();
    const std::string torc = in.bin + "/torc";
    auto check = [&](const char *what) {
        outcome o = kvq(in, {"-q"});
        EXPECT_EQ(o.status, 1) << what;
        EXPECT_EQ(o.said, "(900) exec failed: " + torc + "\n") << what;
    };
    chmod(torc.c_str(), 0644);
    check("not executable");
    tu_write(torc, "no interpreter line, no machine code\n");
    chmod(torc.c_str(), 0755);
    check("not a program");
    unlink(torc.c_str());
    mkdir(torc.c_str(), 0755);
    check("a directory");
    tu_rmtree(in.dir);
}

TEST(HostileInputs, BackEndKilledBySignal)
{
    install in = make_install();
    for (int sig : {SIGSEGV, SIGKILL, SIGABRT}) {
        outcome o = kvq(in, {"-q"}, {"KVQ_TB_SIGNAL=" + std::to_string(sig)});
        EXPECT_EQ(o.status, 1) << sig;
        EXPECT_EQ(o.said, "(908) exit status = " + std::to_string(128 + sig) + "\n");
    }
    tu_rmtree(in.dir);
}

namespace {

/* Starts kvq in a process group of its own with a back end that sleeps,
 * waits until the back end runs, sends `sig` to kvq alone or to the whole
 * group (as a terminal's Ctrl-C does), and returns how kvq ended: 128 + N
 * for a signal N, the exit code otherwise, -1 when something timed out. */
int signal_during_run(const install &in, int sig, bool whole_group)
{
    tu_rmtree(in.rec);
    tu_mkdirs(in.rec);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        for (const std::string &e : base_env(in)) {
            size_t eq = e.find('=');
            if (eq == std::string::npos) unsetenv(e.c_str());
            else setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
        }
        setenv("KVQ_TB_SLEEP_MS", "20000", 1);
        if (chdir(in.work.c_str()) != 0) _exit(126);
        std::string kvq = in.bin + "/kvq";
        execl(kvq.c_str(), kvq.c_str(), "-q", "-DX", (char *)nullptr);
        _exit(127);
    }
    setpgid(pid, pid);
    int result = -1, st = 0;
    for (int i = 0; i < 1000 && !tu_exists(in.rec + "/run1.argv"); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (tu_exists(in.rec + "/run1.argv")) {
        kill(whole_group ? -pid : pid, sig);
        for (int i = 0; i < 1000; i++) {
            if (waitpid(pid, &st, WNOHANG) == pid) {
                result = WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    kill(-pid, SIGKILL);  /* the back end, when only kvq was signalled */
    if (result == -1) waitpid(pid, &st, 0);
    return result;
}

}  // namespace

TEST(HostileInputs, SignalsDuringTheBackEndRunRemoveTheTemporaryDirectory)
{
    install in = make_install();
    EXPECT_EQ(signal_during_run(in, SIGTERM, false), 128 + SIGTERM);
    EXPECT_TRUE(tu_list(in.temp).empty());
    EXPECT_EQ(signal_during_run(in, SIGINT, true), 128 + SIGINT);
    EXPECT_TRUE(tu_list(in.temp).empty());
    tu_rmtree(in.dir);
}
