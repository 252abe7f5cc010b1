/*
 * The message catalogue: names, versions, ranking and line parsing
 * in-process; the directory search, the installation's version directory and
 * loading on the first alert through alert_probe in scratch installations.
 */
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "msgcat.h"
#include "test_util.h"
#include "vector.h"

std::string capture_stderr(const std::function<void()> &fn); /* test_alert.cpp */

static const std::string BUILTIN = MSGCAT_BUILTIN_NAME;

static std::vector<std::string> strings_of(vector *v)
{
    std::vector<std::string> out;
    for (uint32_t i = 0; i < vec_size(v); i++) out.push_back((const char *)vec_get(v, i));
    return out;
}

static std::string malformed(unsigned line, const std::string &file)
{
    return "Malformed error information on line " + std::to_string(line) + ", in file " + file + "\n\n";
}

TEST(MsgCat, FindsVersionsAndRanksMessageFiles)
{
    EXPECT_STREQ(lang_code(7), "de");
    EXPECT_STREQ(lang_code(12), "fr");
    EXPECT_STREQ(lang_code(255), "en");
    EXPECT_EQ(getMsgFileVersion(MSGCAT_BUILTIN_NAME), MSGCAT_VERSION);
    EXPECT_EQ(getMsgFileVersion("/opt/9/en_msgs.txt"), 0u) << "only the base name counts";
    EXPECT_EQ(getMsgFileVersion("12.7_en.msgs"), 12u);

    std::string dir = tu_mkdtemp("kvq-find");
    for (const char *name : {"20240725155939_en.msgs", "en_msgs.txt", "_en.msgs", "EN_MSGS.TXT",
                             "x_EN.msgs", "a_en.msgs.bak", "fr_msgs.txt", "xen_msgs.txt"}) {
        tu_write(dir + "/" + name, "");
    }
    vector *found = VEC_NEW();
    EXPECT_EQ(findMsgFiles(dir.c_str(), 255, found), 3u);
    std::vector<std::string> names = strings_of(found);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{dir + "/20240725155939_en.msgs", dir + "/_en.msgs",
                                               dir + "/en_msgs.txt"}));
    EXPECT_EQ(findMsgFiles(dir.c_str(), 12, found), 1u);
    EXPECT_EQ(findMsgFiles((dir + "/missing").c_str(), 255, found), 0u);
    EXPECT_EQ(findMsgFiles(nullptr, 255, found), 0u);
    EXPECT_EQ(vec_size(found), 4u);
    vec_free(found);
    tu_rmtree(dir);

    /* Outside an installation: higher version first, then descending bytes,
     * which puts the built-in name ahead of a path of equal version. */
    vector *v = VEC_NEW();
    for (const char *name : {"/d/en_msgs.txt", MSGCAT_BUILTIN_NAME, "/d/20240725155939_en.msgs",
                             "/d/20250101000000_en.msgs", "/e/20250101000000_en.msgs"}) {
        vec_append(v, name);
    }
    vec_sort(v, edf_rank);
    EXPECT_EQ(strings_of(v), (std::vector<std::string>{"/e/20250101000000_en.msgs", "/d/20250101000000_en.msgs",
                                                       BUILTIN, "/d/20240725155939_en.msgs", "/d/en_msgs.txt"}));
    vec_free(v);
}

/* "number: type level text" for each number looked up. */
static std::string describe(const std::vector<uint32_t> &numbers)
{
    std::string out;
    for (uint32_t n : numbers) {
        alert_entry *e = alert_lookup(n);
        out += std::to_string(n) + ": " + std::to_string(e->type) + " " + std::to_string(e->level) + " " +
               e->text + "\n";
        free(e);
    }
    return out;
}

TEST(MsgCat, FileLinesReplaceEmbeddedEntries)
{
    alert_init(); /* so that the alert below does not load the catalogue again */
    ASSERT_NE(load_edf(MSGCAT_BUILTIN_NAME), nullptr);
    const std::vector<uint32_t> unchanged = {141, 900, 2000, 2001, 2007};
    std::string embedded = describe(unchanged);

    std::string dir = tu_mkdtemp("kvq-edf");
    std::string file = dir + "/29990101000000_en.msgs";
    tu_write(file, "# comment\n"                          /* 1 */
                   "908 M the back end said %d\n"         /* 2: another type, same argument */
                   "3000 E beyond the catalogue\n"        /* 3: ignored */
                   "10000 E highest number\n"             /* 4: ignored */
                   "10001 E too high\n"                   /* 5 */
                   "-1 E negative\n"                      /* 6 */
                   "2082 -2 low\n"                        /* 7 */
                   "917 07 seven\n"                       /* 8 */
                   "1606 X strange type\n"                /* 9: reported, kept */
                   "\n"                                   /* 10 */
                   "   \t \n"                             /* 11 */
                   "2000\n"                               /* 12 */
                   "2001 E\n"                             /* 13 */
                   "2002 M   three blanks\n"              /* 14 */
                   "\t2003\te\tcrlf\r\n"                  /* 15 */
                   "2004 F first\n"                       /* 16 */
                   "2004 f second\n"                      /* 17 */
                   "900 E exec %d\n"                      /* 18: %d where %s is passed */
                   "141 F open %s %n\n"                   /* 19 */
                   "2005 E " + std::string(300, 'a') + "\n" /* 20, its rest 21 */
                   "2006 m last\n"                        /* 22 */
                   "2007 E ");                            /* 23: no text */
    vector *catalogue = nullptr;
    std::string reports = capture_stderr([&] { catalogue = load_edf(file.c_str()); });
    ASSERT_NE(catalogue, nullptr);
    std::string expected;
    for (unsigned line : {5, 6, 9, 10, 11, 12, 13, 18, 19, 21, 23}) expected += malformed(line, file);
    EXPECT_EQ(reports, expected);

    EXPECT_EQ(describe({908, 3000, 2082, 917, 1606, 2002, 2003, 2004, 2005, 2006}),
              "908: 2 0 the back end said %d\n"
              "3000: 3 0 An error, warning or message was generated, but no description is available\n"
              "2082: 4 -2 low\n"
              "917: 4 7 seven\n"
              "1606: 0 0 strange type\n"
              "2002: 2 0   three blanks\n"
              "2003: 3 0 crlf\n"
              "2004: 1 0 second\n"
              "2005: 3 0 " + std::string(248, 'a') + "\n"
              "2006: 2 0 last\n");
    EXPECT_EQ(describe(unchanged), embedded);

    /* An unrecognised type prints in the warning form and never counts. */
    uint32_t errors = alert_error_count();
    EXPECT_EQ(capture_stderr([] { alert(1606); }), "(1606) strange type (warning)\n");
    EXPECT_EQ(alert_error_count(), errors);

    EXPECT_EQ(load_edf((dir + "/missing_en.msgs").c_str()), nullptr);
    load_edf(MSGCAT_BUILTIN_NAME);
    tu_rmtree(dir);
}

/* A scratch installation R/kvq/1.0/tor/{bin,dat} with alert_probe in bin. */
struct scratch_install {
    std::string root, ver, dat, probe, work;
};

static scratch_install make_install(void)
{
    scratch_install s;
    char *real = realpath(tu_mkdtemp("kvq-msginst").c_str(), nullptr);
    s.root = real;
    free(real);
    s.ver = s.root + "/kvq/1.0";
    s.dat = s.ver + "/tor/dat";
    s.probe = s.ver + "/tor/bin/alert_probe";
    s.work = s.root + "/work";
    for (const std::string &d : {s.dat, s.ver + "/tor/bin", s.work, s.root + "/tools/bin"}) tu_mkdirs(d);
    tu_copy(tu_helper("alert_probe"), s.probe, true);
    tu_copy(tu_helper("alert_probe"), s.root + "/tools/bin/alert_probe", true);
    return s;
}

static std::string probe_out(const std::string &probe, std::vector<std::string> actions, const std::string &cwd)
{
    actions.insert(actions.begin(), probe);
    tu_result r = tu_run(actions, {}, cwd);
    return r.out + r.err;
}

TEST(MsgCat, SearchStopsAtTheFirstDirectoryWithMatches)
{
    scratch_install s = make_install();
    tu_write(s.work + "/29990101000000_en.msgs", "908 E from the current directory %d\n");

    /* An equal version inside the version directory beats the built-in name
     * and keeps its own type; of two such names the second compared wins. */
    tu_write(s.dat + "/20240725155939_en.msgs", "908 M installed status %d\n");
    EXPECT_EQ(probe_out(s.probe, {"msgfile", "alert:908:i3"}, s.work),
              s.dat + "/20240725155939_en.msgs\nret 1\ninstalled status 3\n");
    std::string a = s.ver + "/a/20240725155939_en.msgs", b = s.ver + "/b/20240725155939_en.msgs";
    EXPECT_EQ(probe_out(s.probe, {"rank:" + BUILTIN + ":" + a, "rank:" + a + ":" + BUILTIN, "rank:" + a + ":" + b,
                                  "rank:" + b + ":" + a},
                        s.work),
              "1\n-1\n1\n1\n");

    /* A legacy file stops the search but never wins. */
    unlink((s.dat + "/20240725155939_en.msgs").c_str());
    tu_write(s.dat + "/en_msgs.txt", "908 E legacy %d\n");
    EXPECT_EQ(probe_out(s.probe, {"msgfile", "alert:908:i3"}, s.work), BUILTIN + "\nret 1\n(908) exit status = 3\n");

    /* Outside an installation: the program's parent/dat, then the current
     * directory. */
    std::string tools_probe = s.root + "/tools/bin/alert_probe";
    EXPECT_EQ(probe_out(tools_probe, {"msgfile"}, s.work), s.work + "/29990101000000_en.msgs\n");
    tu_mkdirs(s.root + "/tools/dat");
    tu_write(s.root + "/tools/dat/25000101000000_en.msgs", "");
    EXPECT_EQ(probe_out(tools_probe, {"msgfile"}, s.work), s.root + "/tools/dat/25000101000000_en.msgs\n");
    EXPECT_EQ(probe_out(tools_probe, {"msgfile"}, s.ver), s.root + "/tools/dat/25000101000000_en.msgs\n");
    unlink((s.root + "/tools/dat/25000101000000_en.msgs").c_str());
    EXPECT_EQ(probe_out(tools_probe, {"msgfile"}, s.ver), BUILTIN + "\n");
    tu_rmtree(s.root);
}

TEST(MsgCat, CatalogueLoadsWithTheFirstNumberedAlertOnly)
{
    scratch_install s = make_install();
    std::string file = s.dat + "/29990101000000_en.msgs";
    tu_write(file, "10001 E broken\n");
    EXPECT_EQ(probe_out(s.probe, {"-Werror=5", "typed:5:M:hello", "typed:6:E:typed"}, s.work),
              "ret 1\nret 1\nhello\n(6) typed\n")
        << "options and typed alerts never look for the message file";
    EXPECT_EQ(probe_out(s.probe, {"alert:908:i3", "alert:908:i4"}, s.work),
              "ret 1\nret 1\n" + malformed(1, file) + "(908) exit status = 3\n(908) exit status = 4\n");

    /* A listed file that cannot be opened leaves the run without a catalogue:
     * everything prints as an error with the default text, nothing is fatal. */
    unlink(file.c_str());
    ASSERT_EQ(symlink("/nonexistent/file", file.c_str()), 0);
    EXPECT_EQ(probe_out(s.probe, {"alert:2082", "alert:908:i3"}, s.work),
              "ret 1\nret 1\n"
              "(2082) An error, warning or message was generated, but no description is available\n"
              "(908) An error, warning or message was generated, but no description is available\n");
    tu_rmtree(s.root);
}
