/*
 * Warning-as-error control: option recognition in-process; recording order,
 * the promotion rule and its effect on printed alerts in fresh child
 * processes (the recorded state lasts for the whole process).
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"
#include "werror.h"

static tu_result probe(std::vector<std::string> actions, const std::string &cwd = "")
{
    actions.insert(actions.begin(), tu_helper("alert_probe"));
    return tu_run(actions, {}, cwd);
}

/* The probe's answers for 1501 and 1502 after `options`. */
static std::string promotions_after(std::vector<std::string> options)
{
    options.push_back("promotes:1501");
    options.push_back("promotes:1502");
    tu_result r = probe(options);
    return r.out + r.err;
}

TEST(Werror, RecognisesOptionsAfterAnyDashesIgnoringCase)
{
    for (const char *yes : {"-Werror", "--Werror", "-werror=all", "--Wno-error=1501", "-WNO-ERROR",
                            "---Werror=", "-Werror=x=y"}) {
        EXPECT_TRUE(werr_isOption(yes)) << yes;
    }
    for (const char *no : {"Werror", "-Werror5", "-Wno-errors", "-Wno-error-x", "-W", "-", "",
                           "-Wnoerror", "+Werror"}) {
        EXPECT_FALSE(werr_isOption(no)) << no;
    }
    EXPECT_FALSE(werr_isOption(nullptr));
}

TEST(Werror, LaterOptionsOverrideEarlierOnes)
{
    EXPECT_EQ(promotions_after({}), "1501 warning\n1502 warning\n");
    EXPECT_EQ(promotions_after({"-Werror"}), "1501 error\n1502 error\n");
    EXPECT_EQ(promotions_after({"-Werror", "-Wno-error=1501"}), "1501 warning\n1502 error\n");
    EXPECT_EQ(promotions_after({"-Wno-error=1501", "-Werror"}), "1501 warning\n1502 error\n");
    EXPECT_EQ(promotions_after({"-Werror=1501", "-Wno-error=1501"}), "1501 warning\n1502 warning\n");
    EXPECT_EQ(promotions_after({"-Wno-error=1501", "-Werror=1501"}), "1501 error\n1502 warning\n");
    EXPECT_EQ(promotions_after({"-Werror=1501", "-Wno-error"}), "1501 error\n1502 warning\n");
    EXPECT_EQ(promotions_after({"-Werror=all", "-Wno-error=all"}), "1501 warning\n1502 warning\n");
    EXPECT_EQ(promotions_after({"--WERROR=ALL", "-Wno-error=1502", "-Werror=1502"}),
              "1501 error\n1502 error\n");
}

TEST(Werror, IdentifiersAndTheirReports)
{
    /* Leading digits count; identifiers reading as 0 (or as no number a set
     * can hold) are ignored without a report. */
    tu_result r = probe({"-WERROR=12abc", "-Werror=abc", "-Werror=0", "-Werror=-1", "-Werror=99999999999999999999",
                         "-Werror= 14", "promotes:12", "promotes:13", "promotes:0", "promotes:14"});
    EXPECT_EQ(r.out + r.err, "12 error\n13 warning\n0 warning\n14 error\n");

    /* An empty identifier raises 1606, an error, and the option is still
     * passed on; strict calls also report trailing characters and refuse 0. */
    const std::string report =
        "(1606) w[no-]error option has been passed an invalid or missing message identifier\n";
    r = probe({"strict:-Werror=", "-Wno-error=", "strict:-Werror=12abc", "strict:-Werror=0", "strict:-Werror=abc",
               "strict:-Werror=7", "strict:-Werror", "promotes:12"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "drop\npass\ndrop\ndrop\npass\npass\n12 error\n");
    EXPECT_EQ(r.err, report + report + report + report + report);
}

TEST(Werror, PromotedWarningsPrintAndCountAsErrors)
{
    tu_result r = probe({"-Werror", "alert:1501:sx > 0:sa.c:i12", "-Wno-error=1501", "alert:1501:sx:sb.c:i3"});
    EXPECT_EQ(r.err, "(1501) assertion failure: x > 0 (a.c:12) \n(1501) assertion failure: x (b.c:3)  (warning)\n");

    std::vector<std::string> actions = {"hook", "-Werror"};
    for (int i = 0; i < 21; i++) actions.push_back("alert:1501:se:sf.c:i" + std::to_string(i));
    r = probe(actions);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(f.c:19) \ntoo many errors (21)\ncleanup(1)\n"), std::string::npos) << r.err;

    /* A message file in the current directory makes 2082 a warning of level
     * -1: dropped unless promoted. */
    std::string dir = tu_mkdtemp("kvq-werror");
    tu_write(dir + "/29990101000000_en.msgs", "2082 -1 low level note\n");
    r = probe({"alert:2082", "-Werror=2082", "alert:2082"}, dir);
    EXPECT_EQ(r.out + r.err, "ret 0\nret 1\n(2082) low level note\n");
    tu_rmtree(dir);
}
