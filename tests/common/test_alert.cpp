/* test_alert.cpp - diagnostics: issuing alerts, warning-as-error control, message files and the
 * embedded catalogue.  What lasts a whole process (the catalogue loaded by the first alert,
 * recorded options, fatal exits, the message-file search) runs in alert_probe children. */
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "alert.h"
#include "msgcat.h"
#include "test_util.h"
#include "vector.h"
#include "werror.h"

static const std::string BUILTIN = MSGCAT_BUILTIN_NAME;
static const std::string NO_TEXT = "An error, warning or message was generated, but no description is available";
static const std::string BAD_ID =
    "(1606) w[no-]error option has been passed an invalid or missing message identifier\n";

static std::string stderr_of(const std::function<void()> &fn)
{
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

/* Runs alert_probe (or a copy at `prog`) with `actions` and a TEMP of its own, which it must leave
 * empty: standard output, error, exit status. */
static std::string probe(std::vector<std::string> actions, const std::string &cwd = "", std::string prog = "")
{
    actions.insert(actions.begin(), prog.empty() ? tu_helper("alert_probe") : prog);
    std::string temp = tu_mkdtemp();
    tu_result r = tu_run(actions, {"TEMP=" + temp, "TMP"}, cwd);
    EXPECT_TRUE(tu_list(temp).empty()) << "temporary directory left behind";
    tu_rmtree(temp);
    return r.out + r.err + "[exit " + std::to_string(r.status) + "]";
}

static std::string malformed(unsigned line, const std::string &file)
{
    return "Malformed error information on line " + std::to_string(line) + ", in file " + file + "\n\n";
}

TEST(Alert, LineFormsFilteringCountingAndExpansion)
{
    std::string text600(600, 'a');
    /* raise                                                    returns  line written */
    const struct { std::function<int()> raise; int ret; std::string line; } cases[] = {
        {[] { return alert(ALERT_EXIT_STATUS, 3); }, 1, "(908) exit status = 3\n"},
        {[] { return alert(3000); }, 1, "(3000) " + NO_TEXT + "\n"},
        {[] { return alert_typed(3, "M", "line %u\n", 4u); }, 1, "line 4\n\n"},
        {[] { return alert_typed(7, "5", "level five"); }, 1, "(7) level five (warning)\n"},
        {[] { return alert_typed(7, "-1", "below"); }, 0, ""},
        {[] { return alert_typed(8, "E", "typed %s", "error"); }, 1, "(8) typed error\n"},
        {[] { return alert_typed(8, "e", "typed"); }, 1, "(8) typed\n"},
        {[] { return errno = ENOENT, alert_typed(9, "M", "open: %m; 100%%m; %d%%", 5); }, 1,
         "open: " + std::string(strerror(ENOENT)) + "; 100%m; 5%\n"},
        {[] { return errno = 0, alert_typed(9, "M", "open: %m."); }, 1, "open: .\n"},
        {[&] { return alert_typed(12, "0", "%s", text600.c_str()); }, 1, "(12) " + text600.substr(95) + " (warning)\n"},
        {[&] { return alert_typed(12, "M", "%s", text600.c_str()); }, 1, text600.substr(90) + "\n"},
    };
    for (const auto &c : cases) {
        int ret = -1;
        EXPECT_EQ(c.line, stderr_of([&] { ret = c.raise(); }));
        EXPECT_EQ(c.ret, ret) << c.line;
    }
    EXPECT_EQ(4u, alert_error_count()) << "908, 3000 and the typed errors count";
}

TEST(Alert, FatalAlertsErrorLimitAndOnce)
{
    std::vector<std::string> errors = {"hook", "alert:1501:sw:sf.c:i1"};
    std::string statuses, rets, warning = "(1501) assertion failure: w (f.c:1) ";
    for (int i = 1; i <= 22; i++) errors.push_back("alert:908:i" + std::to_string(i));
    for (int i = 1; i <= 20; i++) statuses += "(908) exit status = " + std::to_string(i) + "\n", rets += "ret 1\n";
    std::vector<std::string> promoted = errors;
    promoted.insert(promoted.begin() + 1, {"-Werror", "alert:1234:sx"}); /* a message stays a message */
    const std::string limit = "too many errors (21)\ncleanup(1)\n[exit 1]";
    /* actions                                                  output, errors, exit status */
    const struct { std::vector<std::string> actions; std::string want; } cases[] = {
        {{"hook", "alert:296", "alert:908:i1"}, "(296) out of memory\ncleanup(1)\n[exit 1]"},
        {{"temp", "alert:2082"}, "made in TEMP\n(2082) can't create temporary file\n[exit 1]"}, /* and removed */
        {{"hook", "typed:5:M:note", "typed:6:F:boom", "typed:7:M:no"}, "ret 1\nnote\n(6) boom\ncleanup(1)\n[exit 1]"},
        /* Loading the catalogue touches the file system; "%m" still tells the errno of the raise. */
        {{"errno:0", "alert:141:sdebug-out:sk.out"}, "(141) can't open debug-out file \"k.out\": \n[exit 1]"},
        {{"errno:0", "once:141:serror:s/x/y"}, "(141) can't open error file \"/x/y\": \n[exit 1]"},
        {errors, "ret 1\n" + rets + warning + " (warning)\n" + statuses + limit},
        /* Promoted warnings print in the error form and count against the limit. */
        {promoted, "ret 1\n" + rets + " * x\n" + warning + "\n" + statuses.substr(0, statuses.rfind("(908)")) + limit},
        {{"once:908:i3", "once:908:i4", "alert:908:i5", "once:908:i6"},
         "ret 1\nret 0\nret 1\nret 0\n(908) exit status = 3\n(908) exit status = 5\n[exit 0]"},
    };
    for (const auto &c : cases) EXPECT_EQ(c.want, probe(c.actions)) << c.actions[1];
}

TEST(Werror, RecognisedOptionsLaterOnesDecideAndBadIdentifiersAreReported)
{
    for (const char *yes : {"-Werror", "--Werror", "-werror=all", "--Wno-error=1501", "-WNO-ERROR", "-Werror=x=y"})
        EXPECT_TRUE(werr_isOption(yes)) << yes;
    for (const char *no : {"Werror", "-Werror5", "-Wno-errors", "-Wno-error-x", "", "+Werror", (const char *)nullptr})
        EXPECT_FALSE(werr_isOption(no)) << (no ? no : "NULL");

    const std::string W1 = "1501 warning\n", E1 = "1501 error\n", W2 = "1502 warning\n", E2 = "1502 error\n";
    /* options, in order                                    answers for 1501 and 1502 */
    const struct { std::vector<std::string> options; std::string want; } cases[] = {
        {{}, W1 + W2}, {{"-Werror"}, E1 + E2},
        {{"-Werror", "-Wno-error=1501"}, W1 + E2}, {{"-Wno-error=1501", "-Werror"}, W1 + E2},
        {{"-Werror=1501", "-Wno-error=1501"}, W1 + W2}, {{"-Wno-error=1501", "-Werror=1501"}, E1 + W2},
        {{"-Werror=1501", "-Wno-error"}, E1 + W2}, {{"-Werror=all", "-Wno-error=all"}, W1 + W2},
        {{"--WERROR=ALL", "-Wno-error=1502", "-Werror=1502"}, E1 + E2},
        /* Leading digits count; 0 and numbers no set holds are ignored; an empty one raises 1606. */
        {{"-WERROR=12abc", "-Werror=abc", "-Werror=0", "-Werror=-1", "-Werror=99999999999999999999",
          "-Werror= 1502", "promotes:12", "promotes:0"}, "12 error\n0 warning\n" + W1 + E2},
        {{"-Werror=", "-Wno-error="}, W1 + W2 + BAD_ID + BAD_ID},
        /* Strict calls also report trailing characters and refuse 0. */
        {{"strict:-Werror=12abc", "strict:-Werror=0", "strict:-Werror=abc", "strict:-Werror=", "strict:-Werror=7",
          "strict:-Werror", "promotes:12"},
         "pass\ndrop\ndrop\ndrop\npass\npass\n12 error\n" + E1 + E2 + BAD_ID + BAD_ID + BAD_ID + BAD_ID},
    };
    for (const auto &c : cases) {
        std::vector<std::string> actions = c.options;
        actions.insert(actions.end(), {"promotes:1501", "promotes:1502"});
        EXPECT_EQ(c.want + "[exit 0]", probe(actions)) << testing::PrintToString(c.options);
    }
}

static std::vector<std::string> strings_of(vector *v)
{
    return std::vector<std::string>((const char **)v->data, (const char **)v->data + v->count);
}

TEST(MsgCat, FindsVersionsAndRanksMessageFiles)
{
    EXPECT_TRUE(getMsgFileVersion(MSGCAT_BUILTIN_NAME) == MSGCAT_VERSION && getMsgFileVersion("12.7_en.msgs") == 12);
    EXPECT_TRUE(getMsgFileVersion("/opt/9/en_msgs.txt") == 0 && !strcmp(lang_code(7), "de"));
    /* Names are matched as the listing gives them, case included, also where the file system ignores case. */
    std::string dir = tu_mkdtemp("kvq-find"), upper = dir + "/upper";
    tu_mkdirs(upper);
    for (const char *name : {"2024_en.msgs", "en_msgs.txt", "_en.msgs", "x_EN.msgs", "a_en.msgs.bak", "fr_msgs.txt",
                             "xen_msgs.txt", "upper/EN_MSGS.TXT"})
        tu_write(dir + "/" + name, "");
    vector *found = VEC_NEW();
    EXPECT_EQ(3u, findMsgFiles(dir.c_str(), 255, found));
    EXPECT_EQ(1u, findMsgFiles(dir.c_str(), 12, found) + findMsgFiles((dir + "/no").c_str(), 255, found) +
                      findMsgFiles(upper.c_str(), 255, found));
    std::vector<std::string> names = strings_of(found);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{tu_path(dir + "/2024_en.msgs"), tu_path(dir + "/_en.msgs"),
                                        tu_path(dir + "/en_msgs.txt"), tu_path(dir + "/fr_msgs.txt")}), names);
    vec_free(found);
    tu_rmtree(dir);

    /* Outside an installation: higher version first, then descending bytes (built-in name first). */
    const std::vector<std::string> ranked = {"/e/20250101000000_en.msgs", "/d/20250101000000_en.msgs", BUILTIN,
                                             "/d/20240725155939_en.msgs", "/d/en_msgs.txt"};
    vector *v = VEC_NEW();
    for (int i : {4, 2, 3, 1, 0}) vec_append(v, ranked[i].c_str());
    vec_sort(v, edf_rank);
    EXPECT_EQ(ranked, strings_of(v));
    vec_free(v);
}

/* "number: type level text" for each number looked up. */
static std::string describe(const std::vector<uint32_t> &numbers)
{
    std::string out;
    for (uint32_t n : numbers) {
        alert_entry *e = alert_lookup(n);
        out += std::to_string(n) + ": " + std::to_string(e->type) + " " + std::to_string(e->level);
        out += " " + std::string(e->text) + "\n";
        free(e);
    }
    return out;
}

TEST(MsgCat, FileLinesReplaceEmbeddedEntries)
{
    alert_init(); /* so that the alert below does not load the catalogue again */
    const std::vector<uint32_t> unchanged = {141, 900, 2000, 2001, 2007};
    std::string embedded = describe(unchanged);
    std::string dir = tu_mkdtemp("kvq-edf"), file = dir + "/29990101000000_en.msgs";
    tu_write(file, "# comment\n908 M the back end said %d\n"                     /* 1; 2: another type, same argument */
                   "3000 E beyond the catalogue\n10000 E highest number\n"       /* 3, 4: ignored */
                   "10001 E too high\n-1 E negative\n"                           /* 5, 6 */
                   "2082 -2 low\n917 07 seven\n"                                 /* 7, 8 */
                   "1606 X strange type\n"                                       /* 9: reported, kept */
                   "\n   \t \n2000\n2001 E\n"                                    /* 10 to 13 */
                   "2002 M   three blanks\n\t2003\te\tcrlf\r\n"                  /* 14, 15 */
                   "2004 F first\n2004 f second\n"                               /* 16, 17 */
                   "900 E exec %d\n141 F open %s %n\n"                           /* 18: %d where %s is passed; 19 */
                   "2005 E " + std::string(300, 'a') + "\n"                      /* 20, its rest 21 */
                   "\v2006 m last\n2007 E ");                          /* 22, VT read as atoi does; 23: no text */
    vector *catalogue = nullptr;
    std::string reports = stderr_of([&] { catalogue = load_edf(file.c_str()); }), expected;
    ASSERT_NE(nullptr, catalogue);
    for (unsigned line : {5, 6, 9, 10, 11, 12, 13, 18, 19, 21, 23}) expected += malformed(line, file);
    EXPECT_EQ(expected, reports);
    EXPECT_EQ("908: 2 0 the back end said %d\n3000: 3 0 " + NO_TEXT + "\n2082: 4 -2 low\n917: 4 7 seven\n"
              "1606: 0 0 strange type\n2002: 2 0   three blanks\n2003: 3 0 crlf\n2004: 1 0 second\n"
              "2005: 3 0 " + std::string(248, 'a') + "\n2006: 2 0 last\n",
              describe({908, 3000, 2082, 917, 1606, 2002, 2003, 2004, 2005, 2006}));
    EXPECT_EQ(embedded, describe(unchanged));
    /* An unrecognised type prints in the warning form and never counts. */
    EXPECT_EQ("(1606) strange type (warning)\n", stderr_of([] { alert(1606); }));
    EXPECT_EQ(0u, alert_error_count());
    EXPECT_EQ(nullptr, load_edf((dir + "/missing_en.msgs").c_str()));
    tu_rmtree(dir);
}

TEST(MsgCat, SearchOrderAndLoadingOnTheFirstAlert)
{
    /* Probes in an installation R/kvq/1.0/tor/{bin,dat} and outside it in R/tools/bin. */
    std::string root = tu_mkdtemp("kvq-msginst"), ver = tu_path(root + "/kvq/1.0"), dat = tu_path(ver + "/tor/dat");
    std::string work = root + "/work", inst = tu_path(ver + "/tor/bin/alert_probe") + TU_EXE;
    std::string tools = root + "/tools/bin/alert_probe" + TU_EXE, top = tu_path(dat + "/29990101000000_en.msgs");
    for (const std::string &d : {dat, ver + "/tor/bin", work, root + "/tools/bin"}) tu_mkdirs(d);
    tu_copy(tu_helper("alert_probe"), inst, true);
    tu_copy(tu_helper("alert_probe"), tools, true);
    tu_write(work + "/29990101000000_en.msgs", "2082 -1 note\n");

    /* A run raising no numbered alert never reads the (broken) file. */
    tu_write(top, "10001 E broken\n");
    EXPECT_EQ("ret 1\nret 1\nhi\n(6) t\n[exit 0]", probe({"-Werror=5", "typed:5:M:hi", "typed:6:E:t"}, work, inst));
    EXPECT_EQ("ret 1\n" + malformed(1, top) + "(908) exit status = 3\n[exit 0]", probe({"alert:908:i3"}, work, inst));
    /* A listed file that cannot be opened leaves the run without a catalogue. */
    tu_rmtree(top);
    tu_make_unopenable(top);
    EXPECT_EQ("ret 1\n(2082) " + NO_TEXT + "\n[exit 0]", probe({"alert:2082"}, work, inst));
    tu_rmtree(top);

    /* An equal version in the version directory beats the built-in name, its own type kept. */
    std::string same = tu_path(dat + "/20240725155939_en.msgs");
    tu_write(same, "908 M installed status %d\n");
    EXPECT_EQ(same + "\nret 1\n-1\n1\ninstalled status 3\n[exit 0]", probe({"msgfile", "alert:908:i3",
              "rank:" + same + "|" + BUILTIN, "rank:" + BUILTIN + "|" + same}, work, inst)) << "either way round";
    /* A legacy file stops the search but never wins. */
    tu_rmtree(same);
    tu_write(dat + "/en_msgs.txt", "908 E legacy %d\n");
    EXPECT_EQ(BUILTIN + "\nret 1\n(908) exit status = 3\n[exit 0]", probe({"msgfile", "alert:908:i3"}, work, inst));

    /* Outside: the program's parent/dat, then the current directory.  2082 is a dropped warning there, which
     * alert_once does not count as raised. */
    EXPECT_EQ("ret 0\nret 1\n(2082) note\n[exit 0]", probe({"once:2082", "-Werror=2082", "once:2082"}, work, tools));
    std::string tools_msgs = tu_path(root + "/tools/dat/25000101000000_en.msgs");
    tu_mkdirs(root + "/tools/dat");
    tu_write(tools_msgs, "");
    EXPECT_EQ(tools_msgs + "\n[exit 0]", probe({"msgfile"}, work, tools));
    tu_rmtree(tools_msgs);
    EXPECT_EQ(BUILTIN + "\n[exit 0]", probe({"msgfile"}, ver, tools));
    tu_rmtree(root);
}

TEST(Catalogue, LoadsCleanlyAndItsTextsTakeOnlyAlertArguments)
{
    vector *cat = nullptr;
    EXPECT_EQ("", stderr_of([&] { cat = load_edf(MSGCAT_BUILTIN_NAME); })) << "no malformed line";
    ASSERT_NE(nullptr, cat);
    /* Only conversions alert arguments fill: a stray '%' reads an argument never passed. */
    static const std::regex conversion("%(%|-?[0-9]*(s|d|u|x|c|m|ld|lu|lx))");
    for (uint32_t n = 0; n < vec_size(cat); n++) {
        const alert_entry *e = (const alert_entry *)vec_get(cat, n);
        bool stray = e && std::regex_replace(e->text, conversion, "").find('%') != std::string::npos;
        EXPECT_TRUE(!e || (e->number == n && !stray)) << n << ": " << e->text;
    }
}
