/*
 * test_kvdebug.cpp - the debug facility: launch under a stand-in debugger; the
 * "--kvdebug=" option, the trace and the package zip (only a process's first
 * parse counts: each case runs the debug_probe helper); real driver runs.
 */
#include <algorithm>
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
#define AT "probe.c:9           > "

namespace {

/* A zip archive's entries in stored order, name and bytes ("<bad>" for data
 * that cannot be read or fails its checksum); none when it cannot be opened. */
typedef std::vector<std::pair<std::string, std::string>> zip_entries;
zip_entries read_zip(const std::string &path)
{
    zip_entries entries;
    unzFile zf = unzOpen64(path.c_str());
    for (int rc = zf ? unzGoToFirstFile(zf) : UNZ_END_OF_LIST_OF_FILE; rc == UNZ_OK; rc = unzGoToNextFile(zf)) {
        unz_file_info64 info;
        unzGetCurrentFileInfo64(zf, &info, NULL, 0, NULL, 0, NULL, 0);
        std::string name(info.size_filename, '\0');
        unzGetCurrentFileInfo64(zf, &info, &name[0], info.size_filename, NULL, 0, NULL, 0);
        std::string data(info.uncompressed_size, '\0');
        unzOpenCurrentFile(zf);
        bool ok = unzReadCurrentFile(zf, &data[0], (unsigned)data.size()) == (int)data.size();
        entries.emplace_back(name, unzCloseCurrentFile(zf) == UNZ_OK && ok ? data : "<bad>");
    }
    if (zf) unzClose(zf);
    return entries;
}

} // namespace

TEST(Launch, UnderTheDebuggerOrPlainly)
{
    std::string dir = tu_mkdtemp("kvqlaunch"), backend = tu_test_backend();
    tu_setenv("TEMP", dir.c_str());
    tu_setenv("KVQ_TB_QUIET", "1");
    db_set_debugger_path(tu_helper("debug_probe").c_str());
    db_parse_options("--kvdebug=debug:cpp:TORC");
    vector *args = VEC_NEW();
    vec_append(args, "torc");
    vec_append(args, "@/tmp/cmd file");
    testing::internal::CaptureStdout(); /* the stand-in prints what it got */
    EXPECT_EQ(db_launch("/inst/bin/torc.exe", args, false), 5);
    /* A program the set does not name runs plainly, unless forced. */
    EXPECT_EQ(db_launch(backend.c_str(), NULL, false), 0);
    EXPECT_EQ(db_launch(backend.c_str(), NULL, true), 5);
    std::string out = testing::internal::GetCapturedStdout();
    std::string script = out.substr(0, out.find("\n--\n")).substr(out.find("\n-s\n") + 4);
    EXPECT_EQ(out.find("/inst/bin/torc.exe\n-s\n" + script + "\n--\n/inst/bin/torc.exe\n@/tmp/cmd file\n"
                       "break set --name db_assert\nbreak set --name main\nbreak command add 2\n"
                       "expr gInDebugger=1\nDONE\nrun" + backend + "\n-s\n"), 0u) << out;
    EXPECT_EQ(script.compare(0, dir.size() + 1, dir + TU_SEP), 0) << script;
    EXPECT_FALSE(tu_exists(script)) << "the script file outlived the launch";
    vec_free(args);

    /* Without the debugger the first launch warns, once, even for a name not
     * in the set, and every program runs plainly. */
    db_set_debugger_path("/nonexistent/lldb");
    testing::internal::CaptureStderr();
    EXPECT_EQ(db_launch(backend.c_str(), NULL, false), 0);
    EXPECT_EQ(db_launch("/inst/bin/torc.exe", NULL, false), -1);
    EXPECT_EQ(db_launch(backend.c_str(), NULL, true), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), W "Debugger \"/nonexistent/lldb\" is not available\n");
    tu_rmtree(dir);
}

TEST(DebugOptions, WarningsStateTraceOutFileAndForwardedOption)
{
    struct row { std::vector<std::string> steps; int status; std::string out, err; };
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
        /* Trace lines: "<file>:<line>" in 20 columns, "> ", 4 blanks a level;
         * one EXIT too many warns and the indent stays at 0; a format's first
         * line is formatted, empty lines vanish, none at all warns. */
        {{"parse:--kvdebug=alerts,num:3", "enter:f", "trace:x=%d\n\ny=%d\n", "exit:f", "exit:g", "enter:h", "trace:\n\n",
          "at:a_rather_long_source_name.cpp", "trace:long", "show:kvq-3.out"}, 0,
         AT "ENTER f(n = 3)\n" AT "    x=1\n" AT "    y=%d\n" AT "EXIT f()\nALERT> " W "min debug-out indent level "
         "reached\n" AT "EXIT g()\n" AT "ENTER h(n = 3)\nALERT> " W "tracef (at probe.c:9) contains no lines\n"
         "a_rather_long_source_name.cpp:9>     long\nflags=8 level=0\n",
         W "min debug-out indent level reached\n" W "tracef (at probe.c:9) contains no lines\n"},
        {{"parse:--kvdebug=zip:busy.zip"}, 0, NOTHING_SET,
         W "Package zip \"busy.zip\" already exists and will be over-written\n"
         W "Unable to remove \"busy.zip\", it will be updated if possible\n"},
        /* The debug-out file: opened only with a flag set, "kvq-<num>.out" by
         * default, truncated; "out:" a directory gets the default name with
         * the run number in force at the item; "+" appends, and the launched
         * program is told to append too. */
        {{"parse:--kvdebug=,", "show:kvq-1.out"}, 0, "(no kvq-1.out)\n" NOTHING_SET, ""},
        {{"parse:--kvdebug=num:7,ON", "trace:first", "show:kvq-7.out"}, 0, AT "first\nflags=1 level=0\n", ""},
        {{"parse:--kvdebug=out:+logs,num:5,on", "trace:more", "make:1:driver", "show:logs/kvq-1.out"}, 0,
         "--kvdebug=default,on," + tu_path("out:+logs/kvq-1.out") + ",num:1\nkept\n" AT "more\nflags=1 level=0\n", ""},
        {{"parse:--kvdebug=out:a.txt,out:b.txt,on", "trace:x", "show:b.txt"}, 0, AT "x\nflags=1 level=0\n",
         W "debug-out file was set to \"a.txt\", resetting to \"b.txt\"\n"},
        {{"parse:--kvdebug=out:none/x.out"}, 1, "",
         "(141) can't open debug-out file \"none/x.out\": No such file or directory\n"},
        /* A program writing into its caller's file leaves packaging it to the
         * outermost program ("kvq"). */
        {{"parse:--kvdebug=out:+shared.out,zip:+child.zip,on", "app:kvq-cc", "finish", "show:child.zip"}, 0,
         "(no child.zip)\nflags=1 level=0\n", ""},
        /* The forwarded option leaves out the names that the caller kind runs
         * under the debugger itself; "num" counts launches per callee. */
        {{"make:1:driver", "assert:x"}, 0, "(none)\n" NOTHING_SET, ""},
        {{"parse:--kvdebug=on,assert:error,debug:torc:cpp", "make:1:driver"}, 0,
         "--kvdebug=default,on,assert:error,debug:cpp,num:1\nflags=1 level=2\n", ""},
        {{"parse:--kvdebug=assert:fatal", "make:1:driver"}, 0, "--kvdebug=assert:fatal\nflags=0 level=1\n", ""},
        {{"parse:--kvdebug=sdb,dwarf", "make:1:driver", "make:1:driver", "make:1:other"}, 0,
         "--kvdebug=sdb,dwarf,num:1\n--kvdebug=sdb,dwarf,num:2\n--kvdebug=sdb,dwarf,num:1\nflags=6 level=0\n", ""},
        {{"parse:--kvdebug=debug:KVQ:kvq-cc", "make:0:x"}, 0, "--kvdebug=debug:kvq-cc\n" NOTHING_SET, ""},
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
    tu_mkdirs(dir + "/logs");
    tu_write(dir + "/logs/kvq-1.out", "kept\n");
    tu_write(dir + "/kvq-7.out", "old\n");
    for (const row &r : rows) {
        tu_result res = tu_run([&] { auto a = r.steps; a.insert(a.begin(), tu_helper("debug_probe")); return a; }(),
                               {}, dir);
        EXPECT_EQ(res.out, r.out) << r.steps[0];
        EXPECT_EQ(res.err, r.err) << r.steps[0];
        EXPECT_EQ(res.status, r.status) << r.steps[0];
    }
    /* The outermost program adds the shared file at every finish. */
    tu_run({tu_helper("debug_probe"), "parse:--kvdebug=out:+shared.out,zip:+own.zip,on", "finish", "finish"}, {}, dir);
    EXPECT_EQ(read_zip(dir + "/own.zip"), (zip_entries{{"shared.out", ""}, {"shared.out", ""}}));
    tu_rmtree(dir);
}

TEST(Package, NamesTheZipFormatCannotHoldAreRefused)
{
    /* Entry names are stored with 16-bit lengths: the longest fits, longer
     * ones fail as an add fails, and the archive stays sound. */
    std::string dir = tu_mkdtemp("kvqzip");
    tu_write(dir + "/f", "data");
    tu_result r = tu_run({tu_helper("debug_probe"), "parse:--kvdebug=zip:p.zip", "store:5:f", "store:65536:f",
                          "store:65535:f", "store:200000:f"}, {}, dir);
    const std::string refused = W "Unable to add archive \"" + std::string(1000, 'n');
    EXPECT_EQ(r.err.find(refused), 0u) << r.err.substr(0, 100);
    EXPECT_EQ(r.err.find("\n" + refused), r.err.find('\n')) << "a second refusal follows at once";
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << "no other warning";
    zip_entries entries = read_zip(dir + "/p.zip");
    std::vector<size_t> name_sizes;
    for (const auto &e : entries)
        name_sizes.push_back(e.first == std::string(e.first.size(), 'n') ? e.first.size() : 0);
    EXPECT_EQ(name_sizes, (std::vector<size_t>{5, 65535})) << "names of 'n' of these lengths";
    EXPECT_TRUE(entries.size() == 2 && entries[0].second == "data" && entries[1].second == "data");
    tu_rmtree(dir);
}

TEST(DebugEndToEnd, TracePackageAndDumps)
{
    /* The staged kvq (the test back end as torc) run in dir, with TEMP there too. */
    std::string dir = tu_mkdtemp("kvqe2e");
    auto kvq = [&dir](std::vector<std::string> args, std::vector<std::string> env) {
        args.insert(args.begin(), tu_staged("kvq"));
        env.insert(env.begin(), {"TEMP=" + dir, "KVQ_TB_QUIET"});
        return tu_run(args, env, dir);
    };
    tu_write(dir + "/kvq_package.zip", "stale");
    /* A trace of more than one 64 KiB read, under a name with a backslash (a separator on Windows). */
    tu_mkdirs(dir + "/sub");
    std::string out = tu_path(dir + "/sub") + "\\kvq.trace", option = "--kvdebug=out:" + out + ",on,alerts,zip";
    std::string big; /* each option is traced as it is written: 70 KB of lines */
    for (int i = 0; i < 35; i++) big += "-D" + std::string(2000, 'x') + "\n";
    tu_write(dir + "/big.txt", big);
    tu_result r = kvq({option, "-q", "@big.txt"}, {"KVQ_TB_EXIT=3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, W "Package zip \"kvq_package.zip\" already exists and will be over-written\n");
    /* The back end lists its options: the generated one comes first. */
    EXPECT_EQ(r.out.find("\n  --kvdebug=default,on,out:+" + out + ",zip:+kvq_package.zip,alerts,num:1\n"),
              r.out.find('\n')) << r.out.substr(0, 300);
    std::string trace = tu_read(out);
    EXPECT_GT(trace.size(), 70000u);
    EXPECT_NE(trace.find(tu_text("\nAPP: KVQ\nARGS: " + tu_staged("kvq") + " " + option + " -q @big.txt\n")),
              std::string::npos);
    /* A warning is traced too, with its placeholders unfilled. */
    for (const char *line : {"> ENTER kvq_spawn()\n", "> EXIT kvq_spawn() -> Execution returned 3\n",
                             "\nALERT> (908) exit status = 3\n", "> " W "Package zip \"%s\" already exists",
                             "Command line length is too long for OS (", "Writing option to command file: -q\n"})
        EXPECT_NE(trace.find(tu_text(line)), std::string::npos) << line;
    /* The archive holds the trace as it was at the finish, an absolute path
     * under SYSTEM_ROOT without its root, backslashes as slashes. */
    std::string stored = "SYSTEM_ROOT/" + out.substr(TU_ROOT_LEN);
    std::replace(stored.begin(), stored.end(), '\\', '/');
    EXPECT_EQ(read_zip(dir + "/kvq_package.zip"), (zip_entries{{stored, trace}}));

    /* "adt" alone: the master lists are dumped, hash tables first. */
    kvq({"--kvdebug=adt", "-q", "x.c"}, {"KVQ_TB_QUIET=1"});
    trace = tu_read(dir + "/kvq-1.out");
    size_t vectors = trace.find(tu_text("# Living Vector Master List:\n"));
    EXPECT_LT(trace.find(tu_text("# Hash Table Master List:\n")), vectors) << trace;
    EXPECT_NE(trace.find(tu_text("# Vector Master List Summary:\n"), vectors), std::string::npos);
    tu_rmtree(dir);
}
