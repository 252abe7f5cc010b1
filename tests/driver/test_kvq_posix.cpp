/*
 * test_kvq_posix.cpp - kvq run the way build systems and unusual parents run
 * it on POSIX systems: standard streams closed or unread, signals ignored or
 * sent at any moment, an unprivileged user, limits on memory and
 * descriptors; command files under links, pipes and sockets.  KvqProbe runs kvq_probe, the driver with test hooks (the
 * debugger's path; command files that fail to open or change under it).
 */
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kvq_fixture.h"
#include "test_util.h"

namespace {

/* The installation's kvq is kvq_probe. */
class KvqProbe : public KvqRun {
    void SetUp() override
    {
        KvqRun::SetUp();
        tu_copy(tu_helper("kvq_probe"), program("kvq"), true);
    }
};

const char ONLY_STANDARD_STREAMS[] = "fds: 0 1 2\nignored:\nblocked:\n";

tu_setup with(bool tu_setup::*flag)
{
    tu_setup setup;
    setup.*flag = true;
    return setup;
}

}  // namespace

TEST_F(KvqRun, UnusualParentsAndStandardStreams)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0); /* exists, but no one can open it */
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    (work + "/sock").copy(addr.sun_path, sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(fd, (sockaddr *)&addr, sizeof addr), 0);
    close(fd);
    tu_setup four, no_sigchld;
    four.open_files = 4;
    no_sigchld.ignored_signal = SIGCHLD;
    const std::string says = "back end says\n";

    /* set-up, arguments, back end's exit status; kvq's, its standard error, what the back end inherited */
    const struct { tu_setup setup; strings args; int exit, status; std::string err, state; } rows[] = {
        /* A failed reopen of standard input, with it closed or not:
         * descriptor 0 must not become the saved standard error. */
        {{}, {"-q", "@sock"}, 0, 0, says, ONLY_STANDARD_STREAMS},
        {with(&tu_setup::stdin_closed), {"-q", "@sock", "--kvdebug=on"}, 0, 0, says, ONLY_STANDARD_STREAMS},
        /* SIGCHLD ignored by the parent (some supervisors and CI runners). */
        {no_sigchld, {"-q"}, 0, 0, says, ONLY_STANDARD_STREAMS},
        /* Standard output read by no one ("kvq ... | true"): the echo fails,
         * the back end runs all the same and its status decides. */
        {with(&tu_setup::stdout_unread), {"a.c"}, 0, 0, says, ONLY_STANDARD_STREAMS},
        {with(&tu_setup::stdout_unread), {"a.c"}, 3, 1, says, ONLY_STANDARD_STREAMS},
        /* Descriptors 0 to 3 only: the error file takes 3, the copy of
         * standard error finds none.  (The leak check needs descriptors.) */
        {four, {"-q", "-Eerr.txt"}, 0, 1, "(2085) can't redirect standard error: Too many open files\n", ""},
    };
    for (const auto &c : rows) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " exit " + std::to_string(c.exit));
        run r = kvq(c.args, {"KVQ_TB_MESSAGE=back end says", "KVQ_TB_STATE=" + state, "KVQ_TB_EXIT=" +
                             std::to_string(c.exit), c.setup.open_files ? "ASAN_OPTIONS=detect_leaks=0" : "ASAN_OPTIONS"},
                    c.setup);
        EXPECT_EQ(r.r.status, c.status);
        EXPECT_EQ(r.r.out, "");
        EXPECT_EQ(r.r.err, c.err);
        EXPECT_EQ(inherited(), c.state);
    }
}

TEST_F(KvqRun, InterruptsAtAnyMomentLeaveNoDirectory)
{
    /* Leak checks at exit would only slow a sanitized kvq down. */
    strings argv = kvq_argv({"-q", "a.c"}), env = kvq_env({"ASAN_OPTIONS=detect_leaks=0"});
    std::vector<std::chrono::steady_clock::duration> lifetimes;
    for (int i = 0; i < 3; i++) {
        auto began = std::chrono::steady_clock::now();
        ASSERT_EQ(tu_wait(tu_start(argv, env)), 0);
        lifetimes.push_back(std::chrono::steady_clock::now() - began);
    }
    std::sort(lifetimes.begin(), lifetimes.end());

    /* SIGINT at random moments of the whole life of a run, before the
     * directory is made, while it is made, while the back end runs. */
    std::mt19937 random(1);
    std::uniform_int_distribution<long long> moment(0, lifetimes[1].count() * 6 / 5);
    int interrupted = 0;
    for (int i = 0; i < 300; i++) {
        tu_child child = tu_start(argv, env);
        std::this_thread::sleep_for(std::chrono::steady_clock::duration(moment(random)));
        kill((pid_t)child, SIGINT);
        int status = tu_wait(child);
        EXPECT_TRUE(status == 0 || status == 128 + SIGINT) << status;
        interrupted += status != 0;
    }
    EXPECT_GT(interrupted, 0);
    EXPECT_EQ(tu_list(temp), strings{});
}

TEST_F(KvqRun, TerminationSignalsEndTheBackEndFirst)
{
    /* The back end sends the signal to kvq alone and then works on for 3 s,
     * recording its run at the end, unless the signal reaches it too. */
    for (int sig : {SIGTERM, SIGHUP, SIGQUIT}) {
        run r = kvq({"-q"}, {"KVQ_TB_KILL_PARENT=" + std::to_string(sig), "KVQ_TB_SLEEP_MS=3000"});
        EXPECT_EQ(r.r.status, 128 + sig);
        EXPECT_TRUE(r.argv.empty()) << sig << ": the back end outlived kvq";
        EXPECT_LT(r.seconds, time_bound(2.5)) << sig;
    }
    /* A signal the parent ignores (nohup) stays ignored: the run goes on. */
    tu_setup nohup;
    nohup.ignored_signal = SIGHUP;
    run r = kvq({"-q"}, {"KVQ_TB_KILL_PARENT=" + std::to_string(SIGHUP), "KVQ_TB_SLEEP_MS=200"}, nohup);
    EXPECT_EQ(r.r.status, 0);
    EXPECT_EQ(r.argv.size(), 1u);
    /* SIGINT comes from the terminal to the whole process group: kvq ends at
     * once and leaves the back end to its own SIGINT. */
    r = kvq({"-q"}, {"KVQ_TB_KILL_PARENT=2", "KVQ_TB_SIGNAL=2"});
    EXPECT_EQ(r.r.status, 128 + SIGINT);
}

TEST_F(KvqRun, OutOfMemoryIsAlert296WithNothingLeft)
{
#ifdef KVQ_SANITIZED
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no memory limit can apply";
#endif
    std::string words;
    for (int i = 0; i < 240000; i++) words += "-D" + std::to_string(1000000 + i) + std::string(90, 'x') + "\n";
    file("huge.txt", words);
    tu_setup limited;
    limited.address_space = 16u << 20;
    run r = kvq({"-q", "@huge.txt"}, {}, limited);
    EXPECT_EQ(r.r.status, 1);
    EXPECT_EQ(r.said, "(296) out of memory\n");
    EXPECT_TRUE(r.argv.empty());
}

TEST_F(KvqRun, PermissionsBindAnUnprivilegedUser)
{
    file("locked", "-DSECRET\n");
    chmod((work + "/locked").c_str(), 0);
    run r = kvq({"-q", "@locked"}, {"KVQ_TB_STATE=" + state}, with(&tu_setup::unprivileged));
    EXPECT_EQ(r.r.status, 0);
    ASSERT_EQ(r.cmd.size(), 1u);
    EXPECT_EQ(r.cmd[0], "-q\n@locked\n") << "a file kvq may not read is passed on as typed";
    EXPECT_EQ(inherited(), ONLY_STANDARD_STREAMS);

    mkdir((dir + "/readonly").c_str(), 0555);
    r = kvq({"-q"}, {"TEMP=" + dir + "/readonly"}, with(&tu_setup::unprivileged));
    EXPECT_EQ(r.r.status, 1);
    EXPECT_EQ(r.said, "(2082) can't create temporary file\n");
    EXPECT_TRUE(r.argv.empty());
}

TEST_F(KvqRun, LinksAreOneFileUnderManyNames)
{
    /* One file under three names: the identity, not the name, is tracked. */
    file("a.txt", "-DA @hard.txt\n");
    ASSERT_EQ(link((work + "/a.txt").c_str(), (work + "/hard.txt").c_str()), 0);
    ASSERT_EQ(symlink((work + "/a.txt").c_str(), (work + "/soft.txt").c_str()), 0);
    run r = kvq({"@soft.txt"});
    EXPECT_EQ(r.said, "(2083) command file \"hard.txt\" includes itself\n");
    EXPECT_TRUE(r.r.status == 1 && r.argv.empty());
}

TEST_F(KvqRun, APipeGivesTheWordsOfAFileWithTheSameBytes)
{
    /* A pipe is read a line at a time: quotes and escapes, CR LF, a CR that
     * ends a 1023-byte piece, a NUL in a long line, an escaped backslash and
     * blank, and a nested file. */
    const std::string x(1022, 'x'), text = "plain \"a b\"  c\\ d\r\n" + x + "\rtail\n-DA " + std::string(1, '\0') +
                                              std::string(5000, 'h') + "\nx\\\\\\ y 'q\"' @nested.txt last\n";
    file("nested.txt", "n1 n2\n");
    file("file.txt", text);
    ASSERT_EQ(mkfifo((work + "/pipe").c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(work + "/pipe", std::ios::binary) << text; });
    run piped = kvq({"-q", "@pipe"});
    writer.join();
    const std::string want = "-q\nplain\n\"a b\"\n\"c d\"\n\"" + x + "\r\"\ntail\n-DA\n\"x y\"\nq\\\"\nn1\nn2\nlast\n";
    ASSERT_EQ(piped.cmd.size(), 1u);
    EXPECT_EQ(piped.cmd[0], want);
    EXPECT_EQ(kvq({"-q", "@file.txt"}).cmd.at(0), want);
}

TEST_F(KvqProbe, CommandFileIdentityIsThatOfTheFileOpened)
{
    /* a.txt includes a.txt; once open, b.txt replaces it, and the second
     * opening meets a different file, which does not include itself. */
    file("a.txt", "-DA @a.txt\n");
    file("b.txt", "-DB\n");
    run r = kvq({"-q", "@a.txt"}, {"KVQ_PROBE_SWAP=a.txt:b.txt"});
    EXPECT_EQ(r.said, "");
    ASSERT_EQ(r.cmd.size(), 1u);
    EXPECT_EQ(r.cmd[0], "-q\n-DA\n-DB\n");
}

TEST_F(KvqProbe, ChipOfACommandFileTheIntakeCouldNotOpen)
{
    /* file text, other arguments, back end */
    const struct { std::string text; strings args; const char *program; } rows[] = {
        {"-DX\n--CHIP=18f4550 --chip=16f84\n--chip=16f\n", {}, "torc18"},
        {"--chip=16f84\n--chip=18f\n", {}, "torc"},
        {"-DX\n", {}, "torc"},
        {"--chip=18f452\n", {"--chip=16f84"}, "torc"}, /* a chip on the command line decides */
    };
    for (const auto &c : rows) {
        file("chips.txt", c.text);
        strings args = c.args;
        args.push_back("@chips.txt");
        run r = kvq(args, {"KVQ_PROBE_REFUSE=chips.txt"});
        EXPECT_EQ(r.r.status, 0);
        ASSERT_EQ(r.argv.size(), 1u) << c.text;
        EXPECT_EQ(r.argv[0][0], bin + "/" + c.program) << c.text;
        EXPECT_EQ(r.cmd[0], lines(args)) << "the unread file is passed on";
    }
}
