/*
 * test_kvdebug.cpp - the debug facility: trace layout, launch under a stand-in
 * debugger, the package zip, the "--kvdebug=" option (only a process's first
 * parse counts: each case runs the debug_probe helper), real driver runs.
 */
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include "kvdebug.h"
#include "test_util.h"
#include "vector.h"

#define W "KVDEBUG (warning): "
#define NOTHING_SET "flags=0 level=0\n"

namespace {

/* A zip archive's entries in stored order, name and bytes ("<bad>" for data
 * that cannot be read or fails its checksum); none when it cannot be opened. */
typedef std::vector<std::pair<std::string, std::string>> zip_entries;
zip_entries read_zip(const std::string &path)
{
    zip_entries entries;
    unzFile zf = unzOpen64(path.c_str());
    for (int rc = zf ? unzGoToFirstFile(zf) : UNZ_END_OF_LIST_OF_FILE; rc == UNZ_OK; rc = unzGoToNextFile(zf)) {
        char name[1024];
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zf, &info, name, sizeof name, NULL, 0, NULL, 0) != UNZ_OK) break;
        std::string data(info.uncompressed_size, '\0');
        bool ok = unzOpenCurrentFile(zf) == UNZ_OK &&
                  unzReadCurrentFile(zf, &data[0], (unsigned)data.size()) == (int)data.size();
        entries.emplace_back(name, unzCloseCurrentFile(zf) == UNZ_OK && ok ? data : "<bad>");
    }
    if (zf) unzClose(zf);
    return entries;
}

tu_result probe(std::vector<std::string> steps, const std::string &cwd)
{
    steps.insert(steps.begin(), tu_helper("debug_probe"));
    return tu_run(steps, {}, cwd);
}

} // namespace

TEST(Trace, FileLayoutAndWarnings)
{
    std::string dir = tu_mkdtemp("kvqtrace"), path = dir + "/trace.out";
    gFile = fopen(path.c_str(), "w");
    gDebugFlags = DB_FLAG_ALERTS; /* warnings are echoed into the file, not traced */
    char *argv[] = {(char *)"/opt/kvq", (char *)"a b", NULL, (char *)"unseen"};
    testing::internal::CaptureStderr();
    db_print_argv(0, argv);
    db_print_argv(4, argv);
    db_enter("driver/kvq.cpp", 10, "kvq_spawn", NULL);
    db_enter("common/msgcat.cpp", 20, "msg_filename", "lnum = %lu", 3UL);
    db_tracef("src/deep/x.c", 5, "x=%d\n\ny=%d\n", 1, 2);
    db_trace("x.c", 6, "100%");
    db_tracef("a_rather_long_source_name.cpp", 12345, "long");
    db_exit("common/msgcat.cpp", 22, "msg_filename", NULL);
    db_exit("driver/kvq.cpp", 11, "kvq_spawn", "Execution returned %d", 0);
    db_exit("driver/kvq.cpp", 12, "cleanup", NULL);
    db_enter("driver/kvq.cpp", 13, "again", NULL);
    db_tracef("x.c", 7, "\n\n");
    db_trace("x.c", 8, "");
    db_alert_echo("(908) exit status = 3\n");
    db_printf("# %s %u", "dump", 4u);
    db_puts("# raw");
    std::string text = tu_read(path);
    EXPECT_EQ(text, "\nAPP: KVQ\nARGS: None\nARGS: /opt/kvq a b\n"
                    "kvq.cpp:10          > ENTER kvq_spawn()\n"
                    "msgcat.cpp:20       >     ENTER msg_filename(lnum = 3)\n"
                    "x.c:5               >         x=1\n"
                    "x.c:5               >         y=%d\n"
                    "x.c:6               >         100%\n"
                    "a_rather_long_source_name.cpp:12345>         long\n"
                    "msgcat.cpp:22       >     EXIT msg_filename()\n"
                    "kvq.cpp:11          > EXIT kvq_spawn() -> Execution returned 0\n"
                    "ALERT> " W "min debug-out indent level reached\n"
                    "kvq.cpp:12          > EXIT cleanup()\n"
                    "kvq.cpp:13          > ENTER again()\n"
                    "ALERT> " W "tracef (at x.c:7) contains no lines\n"
                    "ALERT> " W "trace (at x.c:8) contains no lines\n"
                    "ALERT> (908) exit status = 3\n# dump 4\n# raw\n");

    /* Under flag 1 a warning is also traced, with its placeholders unfilled;
     * without an open file nothing is written and nothing fails. */
    gDebugFlags = DB_FLAG_TRACE;
    db_trace("x.c", 9, "\n");
    EXPECT_NE(tu_read(path).find(">     " W "trace (at %s:%d) contains no lines\n", text.size()), std::string::npos);
    fclose(gFile);
    gFile = NULL;
    db_tracef("x.c", 1, "%s", "lost");
    db_enter("x.c", 1, "f", NULL);
    db_printf("%s", "lost");
    db_puts("lost");
    EXPECT_EQ(tu_read(path).find("lost"), std::string::npos);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), W "min debug-out indent level reached\n"
                                                      W "tracef (at x.c:7) contains no lines\n"
                                                      W "trace (at x.c:8) contains no lines\n"
                                                      W "trace (at x.c:9) contains no lines\n");
    tu_rmtree(dir);
}

TEST(Launch, UnderTheDebuggerOrPlainly)
{
    std::string dir = tu_mkdtemp("kvqlaunch");
    setenv("TEMP", dir.c_str(), 1);
    setenv("KVQ_TB_QUIET", "1", 1);
    db_set_debugger_path(tu_helper("debug_probe").c_str());
    db_parse_options("--kvdebug=debug:cpp:TORC");
    vector *args = VEC_NEW();
    vec_append(args, "torc");
    vec_append(args, "@/tmp/cmd file");
    testing::internal::CaptureStdout(); /* the stand-in prints what it got */
    EXPECT_EQ(db_launch("/inst/bin/torc.exe", args, false), 5);
    /* A program the set does not name runs plainly, unless forced. */
    EXPECT_EQ(db_launch(KVQ_TEST_BACKEND, NULL, false), 0);
    EXPECT_EQ(db_launch(KVQ_TEST_BACKEND, NULL, true), 5);
    std::string out = testing::internal::GetCapturedStdout();
    std::string script = out.substr(0, out.find("\n--\n")).substr(out.find("\n-s\n") + 4);
    EXPECT_EQ(out.find("/inst/bin/torc.exe\n-s\n" + script + "\n--\n/inst/bin/torc.exe\n@/tmp/cmd file\n"
                       "break set --name db_assert\nbreak set --name main\nbreak command add 2\n"
                       "expr gInDebugger=1\nDONE\nrun" KVQ_TEST_BACKEND "\n-s\n"), 0u) << out;
    EXPECT_EQ(script.compare(0, dir.size() + 1, dir + "/"), 0) << script;
    EXPECT_FALSE(tu_exists(script)) << "the script file outlived the launch";
    vec_free(args);

    /* Without the debugger the first launch warns, even for a name not in
     * the set, and every program runs plainly. */
    db_set_debugger_path("/nonexistent/lldb");
    testing::internal::CaptureStderr();
    EXPECT_EQ(db_launch(KVQ_TEST_BACKEND, NULL, false), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), W "Debugger \"/nonexistent/lldb\" is not available\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(db_launch("/inst/bin/torc.exe", NULL, false), -1);
    EXPECT_EQ(db_launch(KVQ_TEST_BACKEND, NULL, true), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    tu_rmtree(dir);
}

TEST(Package, CreateAppendNamesAndWarnings)
{
    std::string dir = tu_mkdtemp("kvqpkg");
    ASSERT_EQ(chdir(dir.c_str()), 0);
    tu_write("a.out", "alpha\n");
    tu_write("sub\\b.out", "bravo");
    tu_write("c.out", std::string(100000, 'c'));
    tu_write("bad.zip", "not an archive");
    tu_mkdirs("sub\\d"); /* exists, but cannot be read as a file */
    testing::internal::CaptureStderr();
    gZipPath = "pkg.zip";
    db_package_add("a.out", NULL);
    db_package_add("sub\\b.out", "a comment");
    db_package_add((dir + "/c.out").c_str(), NULL);
    db_package_add("missing.out", NULL);
    tu_write("a.out", "alpha again");
    db_package_add("a.out", NULL);
    gZipPath = "bad.zip";
    db_package_add("a.out", NULL);
    gZipPath = "no/such/p.zip";
    db_package_add("a.out", NULL);
    gZipPath = "p.zip";
    db_package_add("sub\\d", NULL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              W "Unable to open package zip file (bad.zip) for reading to append \"a.out\"\n"
              W "Unable to init package zip file (no/such/p.zip) to add \"a.out\"\n"
              W "Unable to add archive \"sub/d\" (from \"sub\\d\") to package zip (p.zip)\n");
    EXPECT_EQ(tu_read("bad.zip"), "not an archive");
    zip_entries want{{"a.out", "alpha\n"},
                     {"sub/b.out", "bravo"},
                     {"SYSTEM_ROOT" + dir + "/c.out", std::string(100000, 'c')},
                     {"a.out", "alpha again"}};
    EXPECT_EQ(read_zip("pkg.zip"), want);
    tu_rmtree(dir);
}

TEST(DebugOptions, WarningsStateAndForwardedOption)
{
    struct row { std::vector<std::string> steps; int status; const char *out, *err; };
    /* probe steps, its exit status, its standard output, its standard error */
    const row rows[] = {
        {{"parse:--kvdebug"}, 0, NOTHING_SET, W "unknown option \"--kvdebug\"\n"},
        /* A bad item warns and is skipped; the other items take effect. */
        {{"parse:--kvdebug=on,bogus,,out,assert:,assert:error,assert:Maybe,debug,debug:::,num,num:x,num:3,num:-2,"
          "zip:+a.zip,zip:b.zip,adt", "parse:--kvdebug=sdb", "make:1:x"}, 0,
         "--kvdebug=default,on,zip:+a.zip,assert:error,adt,num:1\nflags=17 level=2\n",
         W "unknown option \"bogus\"\n" W "option \"out\", must have a filename argument\n"
         W "option \"assert\", must have an argument\n" W "unknown argument (maybe) given to assert option\n"
         W "option \"debug\", must have at least one argument\n" W "option \"debug\", must have at least one argument\n"
         W "option \"num\", must have an argument\n" W "\"num\" option must be a decimal integer > 0, using \"1\"\n"
         W "\"num\" option must be a decimal integer > 0, using \"3\"\n" W "Zip file already set to \"a.zip\", "
         "ignoring addtional zip options\n" W "Ignoring extra --kvdebug options\n"},
        {{"parse:--kvdebug=zip:busy.zip"}, 0, NOTHING_SET,
         W "Package zip \"busy.zip\" already exists and will be over-written\n"
         W "Unable to remove \"busy.zip\", it will be updated if possible\n"},
        {{"parse:--kvdebug=out:none/x.out"}, 1, "",
         "(141) can't open debug-out file \"none/x.out\": No such file or directory\n"},
        /* The forwarded option leaves out the names that the caller kind runs
         * under the debugger itself; "num" counts launches per callee. */
        {{"make:1:driver", "assert:x"}, 0, "(none)\n" NOTHING_SET, ""},
        {{"parse:--kvdebug=on,assert:error,debug:torc:cpp", "make:1:driver"}, 0,
         "--kvdebug=default,on,assert:error,debug:cpp,num:1\nflags=1 level=2\n", ""},
        {{"parse:--kvdebug=assert:fatal", "make:1:driver"}, 0, "--kvdebug=assert:fatal\nflags=0 level=1\n", ""},
        {{"parse:--kvdebug=sdb,dwarf", "make:1:driver", "make:1:driver", "make:1:other"}, 0,
         "--kvdebug=sdb,dwarf,num:1\n--kvdebug=sdb,dwarf,num:2\n--kvdebug=sdb,dwarf,num:1\nflags=6 level=0\n", ""},
        {{"parse:--kvdebug=debug:KVQ:kvq-cc", "make:0:x"}, 0, "--kvdebug=debug:kvq-cc\n" NOTHING_SET, ""},
        {{"parse:--kvdebug=debug:torc:TORC18", "make:1:x"}, 0, "(none)\n" NOTHING_SET, ""},
        {{"parse:--kvdebug=debug:torc:TORC", "make:2:x"}, 0, "--kvdebug=debug:torc\n" NOTHING_SET, ""},
        /* Assertion levels: 1503 fatal, 1502 error, 1501 warning. */
        {{"parse:--kvdebug=assert:warning", "assert:x"}, 0, "flags=0 level=3\n",
         "(1501) assertion failure: x (probe.c:9)  (warning)\n"},
        {{"parse:--kvdebug=assert:ERROR", "assert:p", "assert:q"}, 0, "flags=0 level=2\n",
         "(1502) assertion failure: p (probe.c:9) \n(1502) assertion failure: q (probe.c:9) \n"},
        {{"parse:--kvdebug=assert:fatal", "assert:p", "assert:q"}, 1, "", "(1503) assertion failure: p (probe.c:9) \n"},
    };
    std::string dir = tu_mkdtemp("kvqopt");
    tu_mkdirs(dir + "/busy.zip/inside"); /* a package zip that cannot be removed */
    for (const row &r : rows) {
        tu_result res = probe(r.steps, dir);
        EXPECT_EQ(res.out, r.out) << r.steps[0];
        EXPECT_EQ(res.err, r.err) << r.steps[0];
        EXPECT_EQ(res.status, r.status) << r.steps[0];
    }
    tu_rmtree(dir);
}

TEST(DebugOptions, DebugOutFileAndPackaging)
{
    std::string dir = tu_mkdtemp("kvqout");
    probe({"parse:--kvdebug=,"}, dir);
    EXPECT_EQ(tu_list(dir), std::vector<std::string>{}) << "a file opened without a flag";
    tu_write(dir + "/kvq-7.out", "old\n");
    probe({"parse:--kvdebug=num:7,ON", "trace:first"}, dir);
    std::string text = tu_read(dir + "/kvq-7.out");
    EXPECT_EQ(text.find("old"), std::string::npos);
    EXPECT_NE(text.find("> first\n"), std::string::npos) << text;

    /* A directory gets the default name with the run number in force at the
     * item; "+" appends, and the launched program is told to append too. */
    tu_mkdirs(dir + "/logs");
    tu_write(dir + "/logs/kvq-1.out", "kept\n");
    tu_result r = probe({"parse:--kvdebug=out:+logs,num:5,on", "trace:more", "make:1:driver"}, dir);
    EXPECT_EQ(r.out, "--kvdebug=default,on,out:+logs/kvq-1.out,num:1\nflags=1 level=0\n");
    text = tu_read(dir + "/logs/kvq-1.out");
    EXPECT_EQ(text.find("kept\n"), 0u);
    EXPECT_NE(text.find("> more\n"), std::string::npos) << text;
    r = probe({"parse:--kvdebug=out:a.txt,out:b.txt,on", "trace:x"}, dir);
    EXPECT_EQ(r.err, W "debug-out file was set to \"a.txt\", resetting to \"b.txt\"\n");
    EXPECT_NE(tu_read(dir + "/b.txt").find("> x\n"), std::string::npos);

    /* A program writing into its caller's file leaves it to the outermost
     * program ("kvq"), which adds it at every finish. */
    probe({"parse:--kvdebug=out:+shared.out,zip:+child.zip,on", "app:kvq-cc", "finish"}, dir);
    EXPECT_FALSE(tu_exists(dir + "/child.zip"));
    probe({"parse:--kvdebug=out:+shared.out,zip:+own.zip,on", "trace:x", "finish", "finish"}, dir);
    zip_entries got = read_zip(dir + "/own.zip");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].first, "shared.out");
    tu_rmtree(dir);
}

TEST(DebugEndToEnd, TracePackageDumpsAndMissingDebugger)
{
    /* Runs the staged kvq (the test back end as torc) in dir, with TEMP there too. */
    std::string dir = tu_mkdtemp("kvqe2e");
    auto kvq = [&dir](std::vector<std::string> args, std::vector<std::string> env) {
        args.insert(args.begin(), KVQ_STAGE_BIN "/kvq");
        env.push_back("TEMP=" + dir);
        return tu_run(args, env, dir);
    };
    tu_write(dir + "/kvq_package.zip", "stale");
    tu_result r = kvq({"--kvdebug=on,alerts,zip", "-q", "x.c"}, {"KVQ_TB_EXIT=3"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.err, W "Package zip \"kvq_package.zip\" already exists and will be over-written\n");
    /* The back end lists its options: the generated one comes first. */
    EXPECT_EQ(r.out.find("\n  --kvdebug=default,on,zip:+kvq_package.zip,alerts,num:1\n"), r.out.find('\n')) << r.out;
    std::string trace = tu_read(dir + "/kvq-1.out");
    EXPECT_EQ(trace.find("\nAPP: KVQ\nARGS: " KVQ_STAGE_BIN "/kvq --kvdebug=on,alerts,zip -q x.c\n"), 0u) << trace;
    EXPECT_NE(trace.find("> ENTER kvq_spawn()\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("> EXIT kvq_spawn() -> Execution returned 3\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("ALERT> (908) exit status = 3\n"), std::string::npos) << trace;
    zip_entries got = read_zip(dir + "/kvq_package.zip");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, "kvq-1.out");
    EXPECT_EQ(got[0].second, trace.substr(0, got[0].second.size()));
    EXPECT_NE(got[0].second.find("ALERT> (908)"), std::string::npos);

    /* "adt" alone: the master lists are dumped, hash tables first. */
    r = kvq({"--kvdebug=adt", "-q", "x.c"}, {"KVQ_TB_QUIET=1"});
    trace = tu_read(dir + "/kvq-1.out");
    size_t vectors = trace.find("# Living Vector Master List:\n");
    EXPECT_LT(trace.find("# Hash Table Master List:\n"), vectors) << trace;
    EXPECT_NE(trace.find("# Vector Master List Summary:\n", vectors), std::string::npos);

    /* Without a debugger "debug:torc" warns once and torc runs plainly, with
     * nothing forwarded: the driver itself runs torc under the debugger. */
    if (!tu_exists("/usr/bin/lldb")) {
        r = kvq({"--kvdebug=debug:torc", "x.c"}, {});
        EXPECT_EQ(r.err, W "Debugger \"/usr/bin/lldb\" is not available\n") << r.out;
        EXPECT_NE(r.out.find("\ntorc: 1 option from "), std::string::npos) << r.out;
    }
    tu_rmtree(dir);
}
