/*
 * test_kvq_run.cpp - the driver.  Intake.Getargs: the word splitter in
 * process (it reopens standard input).  KvqRun and HostileInputs: kvq run
 * end to end (kvq_fixture.h); test_kvq_posix.cpp adds what only POSIX
 * systems have (links, pipes, sockets, modes, signals, users, limits).
 */
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cmdline.h"
#include "kvq_fixture.h"
#include "test_util.h"

namespace {

using HostileInputs = KvqRun;
using Intake = KvqRun;

/* The words getargs reads from `text` (element 0, the name, left out). */
strings words_of(const std::string &dir, const std::string &text, bool one_line)
{
    tu_write(dir + "/words.txt", text);
    EXPECT_NE(freopen((dir + "/words.txt").c_str(), "r", stdin), nullptr);
    int count = -1;
    char **words = getargs(one_line, "kvq", &count);
    EXPECT_TRUE(count > 0 && words[0] == std::string("kvq") && words[count] == nullptr) << count;
    strings out(words + 1, words + count);
    for (int i = 1; i < count; i++) free(words[i]);
    return out;
}

std::string x(size_t n) { return std::string(n, 'x'); }

std::string nested(int i) { return "n" + std::to_string(i) + ".txt"; }

}  // namespace

TEST_F(KvqRun, ChoosesBackEndAndForwardsOptions)
{
    /* args, back end, options in the command file, echo shown */
    const struct { strings args; const char *program; strings forwarded; bool echo = true; } rows[] = {
        {{}, "torc", {}},
        {{"-q"}, "torc", {"-q"}, false},
        {{"-q", "-v"}, "torc", {"-q", "-v"}},
        {{"-v", "-Q"}, "torc", {"-v", "-Q"}, false},
        {{"--VER"}, "torc", {"--VER"}, false},
        {{"--chip=18F4550", "main.c"}, "torc18", {"--chip=18F4550", "main.c"}},
        {{"--CHIP=18f452"}, "torc18", {"--CHIP=18f452"}},
        {{"--chip=16F84"}, "torc", {"--chip=16F84"}},
        {{"--bins=debug", "--chip=18F4550"}, "torc18d", {"--chip=18F4550"}},
        {{"--BINS=DEBUG", "x.c", "--bins=release"}, "torc", {"x.c"}},
        {{"--kvdebug=assert:error", "a.c"}, "torc", {"--kvdebug=assert:error", "a.c"}},
        {{"--memorysummary", "out dir"}, "torc", {"--summary=+xml", "--summarydir=out dir"}},
        {{"--memorysummary", "--kvdebug=assert:fatal", "d"}, "torc",
         {"--kvdebug=assert:fatal", "--summary=+xml", "--summarydir=d"}},
        {{"--MemorySummary", "--chip=18x", "e"}, "torc18", {"--summary=+xml", "--chip=18x", "e"}},
        {{"-E", "-E+"}, "torc", {"-E", "-E"}},
        {{"a.c", "--adx", "--ext=aDx"}, "torc", {"a.c", "--ccmode=adx"}},
        {{"--ext=WEL", "b.c"}, "torc", {"b.c", "--ccmode=wel"}},
        {{"--kvqcc", "a.c"}, "torc", {"--kvqcc", "a.c"}}, /* names the application, and goes on */
        /* Longer than a literal that must match whole, or shorter than a prefix. */
        {{"-vv", "--VERX", "-qq", "--adxx", "--chip", "--memorysummaryx"}, "torc",
         {"-vv", "--VERX", "-qq", "--adxx", "--chip", "--memorysummaryx"}},
    };
    for (const auto &c : rows) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        run r = kvq(c.args);
        EXPECT_EQ(r.r.status, 0);
        ASSERT_EQ(r.argv.size(), 1u);
        EXPECT_EQ(r.argv[0][0], bin + TU_SEP + c.program);
        std::string want;
        for (const std::string &o : c.forwarded)
            want += (o.find(' ') != std::string::npos ? "\"" + o + "\"" : o) + TU_EOL;
        EXPECT_EQ(r.cmd[0], want);
        EXPECT_EQ(r.r.out, c.echo ? echo(r, 0, c.forwarded) : "");
    }
}

TEST_F(KvqRun, CommandFileBytes)
{
    /* Quotes escaped first, then quoted for blank, tab, LF and CR only; the
     * echo shows the options as they are. */
    strings odd = {"plain", "a\"b", "a b", "a\tb", "a\nb", "a\rb", "a\vb", "say \"hi there\"", "x\\\\\"y"};
    run r = kvq(odd);
    ASSERT_EQ(r.argv.size(), 1u);
    EXPECT_EQ(r.cmd[0], tu_text("plain\na\\\"b\n\"a b\"\n\"a\tb\"\n\"a\nb\"\n\"a\rb\"\na\vb\n"
                                "\"say \\\"hi there\\\"\"\nx\\\\\"y\n"));
    odd.back() = "x\\\"y";
    EXPECT_EQ(r.r.out, echo(r, 0, odd));
    const std::string &at = r.argv[0][1]; /* in the private temporary directory */
    const std::string last = TU_SEP + std::string("kvq_tmp_0.cmd");
    EXPECT_TRUE(at.rfind("@" + temp + TU_SEP + "kv", 0) == 0 && at.find(last) == at.size() - last.size()) << at;

    /* Options beyond what the writer gathers at once (64 KiB), from an "@"
     * file, quoted ones across its seams; and, where a command line can be
     * that long, one option longer than all of it. */
    std::string opts, want;
    for (int i = 0; i < 80; i++) {
        std::string o = std::to_string(i) + std::string(1500 + i, 'o');
        opts += i % 9 ? o + "\n" : "'" + o + " \"s\"'\n";
        want += i % 9 ? o + "\n" : "\"" + o + " \\\"s\\\"\"\n";
    }
    file("big.txt", opts);
    strings big = {"@big.txt"};
    if (TU_ARG_MAX > 70000) {
        big.push_back(std::string(70000, 'L'));
        want += big.back() + "\n";
    }
    r = kvq(big);
    ASSERT_EQ(r.cmd.size(), 1u);
    EXPECT_EQ(r.cmd[0], tu_text(want));
}

TEST_F(KvqRun, ErrorFileIsTruncatedOnceAndTakesTheDriversLines)
{
    const strings failing = {"KVQ_TB_MESSAGE=back end says", "KVQ_TB_EXIT=2"};
    const std::string once = tu_text("back end says\n(908) exit status = 2\n");
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
        EXPECT_EQ(tu_read(work + TU_SEP + "err.txt"), c.second) << testing::PrintToString(c.first);
    }
}

TEST_F(KvqRun, TwoRunModeRunsSilentlyFirst)
{
    run r = kvq({"--MAFRLCSJ", "-v", "a.c"});
    EXPECT_EQ(r.r.status, 0);
    ASSERT_EQ(r.argv.size(), 2u);
    std::string summary = split_lines(r.cmd[0], TU_EOL).at(4).substr(2);
    EXPECT_EQ(r.cmd[0], lines({"-v", "a.c", "--mafrlcsj", "-q", "-E" + summary}));
    EXPECT_TRUE(summary.rfind(temp + TU_SEP + "kv", 0) == 0 &&
                summary.find(TU_SEP + std::string("kvq_tmp_0")) == summary.size() - 10) << summary;
    strings second = {"-v", "a.c", "--summarycmp=" + summary};
    EXPECT_EQ(r.cmd[1], lines(second));
    EXPECT_EQ(r.r.out, echo(r, 1, second));
}

TEST_F(KvqRun, ExitStatusFollowsTheBackEnd)
{
    const std::string torc = bin + TU_SEP + "torc", failed = "(900) exec failed: " + torc + "\n";
    auto as_is = [](const std::string &) {};
    /* what is done to torc's file, its environment, what kvq says (it exits 1 when it says anything) */
    const struct { void (*spoil)(const std::string &file); strings env; std::string said; } rows[] = {
        {as_is, {"KVQ_TB_EXIT=0"}, ""},
        {as_is, {"KVQ_TB_EXIT=2"}, "(908) exit status = 2\n"},
        {as_is, {"KVQ_TB_CRASH=1"}, "(908) exit status = " + std::to_string(TU_CRASH_STATUS) + "\n"},
        /* A back end that cannot run: not a program, a directory, missing. */
        {[](const std::string &p) { tu_write(p + ".txt", "no program\n"), tu_copy(p + ".txt", p, true); }, {}, failed},
        {[](const std::string &p) { tu_rmtree(p), tu_mkdirs(p); }, {}, failed},
        {[](const std::string &p) { tu_rmtree(p); }, {}, failed},
    };
    for (const auto &c : rows) {
        c.spoil(torc + TU_EXE);
        run r = kvq({"-q"}, c.env);
        EXPECT_EQ(r.r.status, c.said.empty() ? 0 : 1) << testing::PrintToString(c.env) << c.said;
        EXPECT_EQ(r.said, c.said);
    }
    /* A program outside any installation cannot name its back end. */
    std::string lone_kvq = tu_path(dir + "/kvq") + TU_EXE;
    tu_copy(program("kvq"), lone_kvq, true);
    tu_result lone = tu_run({lone_kvq, "-q"}, {"TEMP=" + temp}, work);
    EXPECT_EQ(lone.status, 1);
    EXPECT_EQ(lone.out, "(900) exec failed: torc\n");
}

TEST_F(KvqRun, StandardStreamsAndPrivateDescriptors)
{
    /* The driver's lines go to the error file, else to standard output; the
     * back end keeps the initial standard error.  With standard input closed,
     * neither the copy of standard error nor the error file may become
     * descriptor 0; neither reaches the back end, which gets the three
     * standard descriptors alone. */
    const std::string says = "back end says\n", failed = "(908) exit status = 2\n";
    /* standard input closed, args, back end's exit; kvq's standard output and error, the error file */
    const struct { bool closed; strings args; int exit; std::string out, err, file; } rows[] = {
        {false, {"-q"}, 2, failed, says, ""},
        {true, {"-q"}, 0, "", says, ""},
        {true, {"-q", "-Eerr.txt"}, 0, "", "", tu_text(says)},
        {false, {"-q", "-Eerr.txt"}, 2, "", "", tu_text(says + failed)},
    };
    for (const auto &c : rows) {
        SCOPED_TRACE(testing::PrintToString(c.args) + (c.closed ? " closed" : ""));
        file("err.txt", "");
        tu_setup setup;
        setup.stdin_closed = c.closed;
        run r = kvq(c.args, {"KVQ_TB_MESSAGE=back end says", "KVQ_TB_STATE=" + state,
                             "KVQ_TB_EXIT=" + std::to_string(c.exit)}, setup);
        EXPECT_EQ(r.r.status, c.exit ? 1 : 0);
        EXPECT_EQ(r.r.out, c.out);
        EXPECT_EQ(r.r.err, c.err);
        EXPECT_EQ(tu_read(work + TU_SEP + "err.txt"), c.file);
        EXPECT_EQ(split_lines(inherited()).at(0), "fds: 0 1 2");
    }
}

TEST_F(KvqRun, ConcurrentRunsAppendingToOneErrorFileKeepEveryLine)
{
    if (!tu_appends_whole_lines()) GTEST_SKIP() << "this system's appends are not whole (Wine)";
    const int runs = 64;
    std::string log = work + TU_SEP + "build.log";
    tu_write(log, "");
    strings want;
    std::vector<tu_child> children;
    for (int i = 0; i < runs; i++) {
        std::string name = "P" + std::to_string(100 + i) + std::string(400, 'x');
        want.push_back("(1443) unknown --EXT sub-option \"" + name + "\"");
        children.push_back(tu_start(kvq_argv({"-E+" + log, "--ext=" + name}), kvq_env({})));
    }
    for (tu_child child : children) EXPECT_EQ(tu_wait(child), 1);
    strings got = split_lines(tu_read(log), TU_EOL);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want) << "lines lost, broken or mixed";
    EXPECT_TRUE(tu_list(temp).empty());
}

TEST_F(HostileInputs, FatalAlertsStopBeforeTheBackEnd)
{
    file("self.txt", "a @self.txt\n");
    file("other.txt", "@" + tu_path("./other.txt") + "\n"); /* under another name */
    file("b.txt", "@" + work + TU_SEP + "c.txt\n");
    file("c.txt", "-DC\n@b.txt\n");
    for (int i = 1; i <= 65; i++) file(nested(i), "@" + nested(i + 1) + "\n");
    const std::string plain = tu_path(dir + "/plain-file"), msgs = work + TU_SEP + "20990101000000_en.msgs";
    tu_write(plain, "");

    /* a message file in the working directory, args, TEMP, what kvq says */
    const struct { std::string msgs; strings args; std::string temp, said; } rows[] = {
        {"", {"--adx", "--ext=wel"}, temp, "(1444) respecified C extension from \"ADX\" to \"WEL\" \n"},
        {"", {"@self.txt"}, temp, "(2083) command file \"self.txt\" includes itself\n"},
        {"", {"@other.txt"}, temp, "(2083) command file \"" + tu_path("./other.txt") + "\" includes itself\n"},
        {"", {"@b.txt"}, temp, "(2083) command file \"b.txt\" includes itself\n"},
        {"", {"-q", "@n1.txt"}, temp, "(2084) command files nested more than 64 levels deep at \"n65.txt\"\n"},
        {"", {"-Enodir/err.txt"}, temp, "(141) can't open error file \"nodir/err.txt\": No such file or directory\n"},
        {"", {"-E" + work}, temp, "(141) can't open error file \"" + work + "\": " + TU_DIR_AS_FILE_ERROR + "\n"},
        {"", {"-q"}, plain, "(2082) can't create temporary file\n"},
        /* A message file changes the texts and types of these alerts, yet the run stops. */
        {"1443 E unknown extension %s\n", {"--ext=NOPE"}, temp, "(1443) unknown extension NOPE\n"},
        {"1443 E x %s\n1444 E y %s %s\n", {"--adx", "--ext=NOPE"}, temp, "(1443) x NOPE\n"},
        {"1443 -1 hidden %s\n", {"--ext=NOPE"}, temp, "(1443) hidden NOPE\n"},
        {"1444 M changed %s to %s\n", {"--adx", "--ext=wel"}, temp, "(1444) changed ADX to WEL\n"},
        {"2083 E again: %s\n", {"@self.txt"}, temp, "(2083) again: self.txt\n"},
        {"2082 0 no temporary file\n", {"-q"}, plain, "(2082) no temporary file\n"},
    };
    for (const auto &c : rows) {
        tu_rmtree(msgs);
        if (!c.msgs.empty()) tu_write(msgs, c.msgs);
        run r = kvq(c.args, {"TEMP=" + c.temp});
        EXPECT_EQ(r.r.status, 1) << testing::PrintToString(c.args) << c.msgs;
        EXPECT_EQ(r.said, c.said);
        EXPECT_TRUE(r.argv.empty());
    }

    /* A fatal alert raised after the error file is open lands there. */
    tu_rmtree(msgs);
    run r = kvq({"--ext=Foo", "-Eerr.txt"});
    EXPECT_EQ(r.r.status, 1);
    EXPECT_EQ(r.said, "");
    EXPECT_EQ(tu_read(work + TU_SEP + "err.txt"), tu_text("(1443) unknown --EXT sub-option \"Foo\"\n"));
}

TEST_F(HostileInputs, AtFilesAreExpandedInPlaceOrPassedOn)
{
    /* Files expanded in place, 64 levels deep at most; CR LF reads as LF. */
    for (int i = 1; i < 64; i++) file(nested(i), "@" + nested(i + 1) + "\n");
    file(nested(64), "deep \"a b\"  c\\d\r\n");
    const std::string expanded = lines({"deep", "\"a b\"", "c\\d"});

    /* A NUL ends the text of its line, a short or a long one; bytes that
     * are not UTF-8 pass. */
    const char bytes[] = "-DA\0-DHIDDEN tail\ncaf\xe9 \xff\xfe\x80 \"q \xc3\x28\"\n\0\n-DLAST\n";
    std::string hidden;
    while (hidden.size() < 5000) hidden += " -DHIDDEN";
    file("bytes.txt", std::string(bytes, sizeof bytes - 1) + "-DLONG " + x(1500) + '\0' + hidden + "\n-DEND\n");
    const std::string bytes_read = lines({"-DA", "caf\xe9", "\xff\xfe\x80", "\"q \xc3\x28\"", "-DLAST", "-DLONG", x(1500), "-DEND"});

    /* A Ctrl-Z ends a text where the runtime's text mode says so (Windows). */
    file("ctrlz.txt", "-DONE\r\n-DTWO\x1a-DGONE\r\n-DAFTER\r\n");
    const std::string ctrlz_read = TU_TEXT_ENDS_AT_CTRL_Z ? lines({"-DONE", "-DTWO"})
                                                          : lines({"-DONE", "-DTWO\x1a-DGONE", "-DAFTER"});

    /* A 10 MB word is cut to 2047 characters once, in linear time, the rest
     * of its line dropped; the next line is read. */
    file("huge.txt", "-DBEFORE " + std::string(10u << 20, 'x') + " same-line\n-DAFTER\n");
    const std::string huge_read = lines({"-DBEFORE", std::string(2047, 'x'), "-DAFTER"});

    /* Files that cannot be read are passed on exactly as typed. */
    const strings unread = {"@adir", "@missing", "@"};
    tu_mkdirs(work + TU_SEP + "adir");

    /* Arguments lose one level of escapes, and so do the words of a file
     * without "@" words (processed in place); empty ones are dropped. */
    file("outer.txt", "o1 @inner.txt o2 \\\"kept\\\"\n");
    file("inner.txt", "i1  x\\\\\\ y\n");
    const strings escapes = {"a\\ b", "", "@outer.txt", "C:\\src\\x.c", "q\\\\\\'"};
    const std::string unescaped = lines({"\"a b\"", "o1", "i1", "\"x y\"", "o2", "\\\"kept\\\"", "C:\\src\\x.c", "q\\'"});

    strings args = {"-q", "@n1.txt", "@bytes.txt", "@ctrlz.txt", "@huge.txt"};
    for (const strings &more : {unread, escapes}) args.insert(args.end(), more.begin(), more.end());
    run r = kvq(args);
    EXPECT_LT(r.seconds, time_bound(20.0));
    EXPECT_EQ(r.r.status, 0);
    EXPECT_EQ(r.said, "(917) argument too long\n");
    ASSERT_EQ(r.cmd.size(), 1u);
    EXPECT_EQ(r.cmd[0], lines({"-q"}) + expanded + bytes_read + ctrlz_read + huge_read + lines(unread) + unescaped);
}

TEST_F(HostileInputs, HostileMessageFiles)
{
    const std::string msgs = dat + TU_SEP + "20990101000000_en.msgs";
    std::string big;
    for (int i = 0; i < 100000; i++) big += std::to_string(100 + i % 400) + " E filler " + std::to_string(i) + "\n";
    const char odd[] = "908 E bad \xff\xfe bytes, status %d\n917 E cut\0 after the NUL\n";
    file("long.txt", std::string(3000, 'w') + "\n");

    /* message file, args, back-end exit status, what kvq says */
    const struct { std::string text; strings args; int exit; std::string said; } rows[] = {
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
        run r = kvq(c.args, {"KVQ_TB_EXIT=" + std::to_string(c.exit)});
        EXPECT_LT(r.seconds, time_bound(10.0));
        EXPECT_EQ(r.said, c.said);
        EXPECT_EQ(r.r.status, c.exit ? 1 : 0);
    }
}

TEST_F(Intake, GetargsSplitsLinesIntoWords)
{
    /* Lines are read in pieces of 1023 bytes: a CR that is the last byte of a piece, with no LF
     * after it, ends its line.  A NUL ends the text of its line however long the line is.  A file
     * gives the same words read whole or one line at a time. */
    const std::string nul(1, '\0');
    /* text, words */
    const struct { std::string text; strings words; } rows[] = {
        {"plain \"a b\"  'say \"hi\"'\n", {"plain", "a b", "", "say \"hi\""}},
        {"\"a\tb c\" d\n", {"a", "b c", "d"}}, /* tab splits; the quote carries on */
        {"\"it\\'s\" \\q \\\\ \\ \n", {"it's", "\\q", "\\", " "}},
        {"end\\", {"end"}}, /* escape at the end is dropped */
        {"a\r\nb\rc\n\n", {"a", "b\rc", ""}}, /* CR LF reads as LF */
        /* A word reaching the limit by a kept backslash or after a quote is
         * cut there and the rest of its line dropped. */
        {x(2046) + "\\ab rest\nz\n", {x(2046) + "\\", "z"}},
        {x(2047) + "'y' more\nz\n", {x(2047), "z"}},
        {x(1500) + " 'p q'\tr\n", {x(1500), "p q", "r"}}, /* a line longer than any buffer */
        /* Bytes below '(' that split nothing stay in their words. */
        {"a%b#c(d&e!f\x01g\x7fh\x80i tail\n", {"a%b#c(d&e!f\x01g\x7fh\x80i", "tail"}},
        {x(1022) + "\rtail\n", {x(1022) + "\r", "tail"}},
        {x(1020) + "\r\r\rtail\n", {x(1020) + "\r\r\r", "tail"}},
        {"'" + x(2044) + "\r' q\n", {x(2044) + "\r", " q"}}, /* the quote ends with the line */
        {x(1022) + "\r\n\tnext\n", {x(1022), "", "next"}},
        {"-DA " + nul + x(5000) + " -DHIDDEN\n-DB\n", {"-DA", "-DB"}},
        {x(3000) + " -DA" + nul + " -DHIDDEN " + x(2000) + "\n-DB\n", {x(2047), "-DB"}},
        {x(1500) + " -DA" + nul + " -DHIDDEN " + x(3000) + "\n-DB\n", {x(1500), "-DA", "-DB"}},
        {"a" + nul + x(1020) + "\rb\n", {"a", "b"}},
        {"a\r\r\nb\n", {"a\r", "b"}}, /* only the CR of the CR LF pair goes */
    };
    for (const auto &c : rows) {
        SCOPED_TRACE(c.text.substr(0, 8) + "... of " + std::to_string(c.text.size()) + " bytes");
        EXPECT_EQ(words_of(work, c.text, false), c.words);
        ASSERT_NE(freopen((work + "/words.txt").c_str(), "r", stdin), nullptr);
        strings one_at_a_time;
        for (int n = 0; n < 10 && !feof(stdin); n++) {
            int count = -1;
            char **words = getargs(true, "kvq", &count);
            for (int i = 1; i < count; i++) one_at_a_time.push_back(words[i]), free(words[i]);
        }
        EXPECT_EQ(one_at_a_time, c.words);
    }
    EXPECT_EQ(words_of(work, "one two\nthree\n", true), (strings{"one", "two"})) << "one line only";

    /* Far more words than the array starts with. */
    std::string many;
    for (int i = 0; i < 5000; i++) many += "w" + std::to_string(i) + (i % 7 ? " " : "\n");
    strings got = words_of(work, many, false);
    EXPECT_TRUE(got.size() == 5000u && got.back() == "w4999") << got.size();

    /* A file larger than a large page (2 MiB), read whole into one. */
    std::string big;
    for (int i = 0; i < 1100; i++) big += x(2000) + std::to_string(i) + "\n";
    got = words_of(work, big, false);
    EXPECT_TRUE(got.size() == 1100u && got.back() == x(2000) + "1099") << got.size();
}
