/*
 * test_catalogue.cpp - checks of the embedded English message catalogue.
 *
 * The catalogue is data, so its faults are data faults: a missing or doubled
 * number, a row typed wrongly, a text the driver relies on reworded, a broken
 * printf format, a line the loader cannot read.  The structural checks read
 * the text with a small, stricter parser of their own; the last test feeds
 * the same text to the real loader and compares every entry it installs.
 */
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "msgcat.h"

namespace {

struct cat_row {
    int number;
    std::string type;  /* the type field as written */
    std::string text;
};

struct cat_file {
    std::vector<std::string> header;  /* the comment lines before the first row */
    std::vector<cat_row> rows;
    std::vector<std::string> problems;
};

/* Reads "number type text" lines: digits, a run of blanks, a type field, one
 * blank, the text.  Comments are accepted only before the first row. */
cat_file cat_parse(const std::string &all)
{
    static const std::regex row_form("([0-9]+)[ \t]+([^ \t]+)[ \t](.*)");
    cat_file cat;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos) {
            cat.problems.push_back("text does not end with a newline");
            end = all.size();
        }
        std::string line = all.substr(start, end - start);
        start = end + 1;
        std::smatch m;
        if (!line.empty() && line[0] == '#') {
            if (cat.rows.empty()) {
                cat.header.push_back(line);
            } else {
                cat.problems.push_back("comment among the rows: " + line);
            }
        } else if (std::regex_match(line, m, row_form)) {
            cat.rows.push_back({atoi(m[1].str().c_str()), m[2].str(), m[3].str()});
        } else {
            cat.problems.push_back("unreadable line: " + line);
        }
    }
    return cat;
}

const cat_file &embedded(void)
{
    static const cat_file cat =
        cat_parse(std::string(msgcat_embedded_text, msgcat_embedded_size));
    return cat;
}

/* The warning level of a type field, or nothing for F, E and M. */
bool warning_level(const std::string &type, int *level)
{
    static const std::regex level_form("-?[0-9]");
    if (!std::regex_match(type, level_form)) return false;
    *level = atoi(type.c_str());
    return true;
}

const cat_row *find_row(int number)
{
    for (const cat_row &row : embedded().rows) {
        if (row.number == number) return &row;
    }
    return nullptr;
}

}  // namespace

TEST(Catalogue, TextIsPlainLinesUnderAFormatHeader)
{
    const cat_file &cat = embedded();
    EXPECT_EQ(strlen(msgcat_embedded_text), msgcat_embedded_size);
    EXPECT_EQ(memchr(msgcat_embedded_text, '\r', msgcat_embedded_size), nullptr);
    EXPECT_EQ(cat.problems, std::vector<std::string>{});

    ASSERT_EQ(cat.header.size(), 16u);
    std::string header;
    for (const std::string &line : cat.header) header += line + "\n";
    for (const char *needle : {"number", "larger than 0", "F or f", "E or e", "-9 to 8",
                               "M or m", "level", "text", "errors must be in numeric order"}) {
        EXPECT_NE(header.find(needle), std::string::npos) << needle;
    }

    for (const cat_row &row : cat.rows) {
        EXPECT_FALSE(row.text.empty()) << row.number;
        EXPECT_LT(std::to_string(row.number).size() + row.type.size() + row.text.size() + 2, 250u)
            << row.number;
    }
}

TEST(Catalogue, NumbersAreExactlyTheListedRangesInOrder)
{
    static const char ranges[] =
        "1-5, 100-135, 137-141, 144, 146-153, 155-159, 161-177, 179-234, 236-249, 251-303, "
        "306-340, 343-350, 352-376, 378-384, 387-395, 397-398, 400, 402-410, 412-425, 427-432, "
        "434-456, 459-461, 463-495, 497-516, 520-526, 528-529, 593-596, 599-614, 616, 618-627, "
        "629-671, 673-674, 677-718, 720-724, 726-755, 757-769, 772-774, 776-777, 779-788, "
        "790-830, 832-836, 838-878, 880-884, 889-897, 899-900, 902, 904-908, 911-915, 917-920, "
        "922-931, 934-942, 944-945, 947-958, 960, 962-976, 978-996, 1000, 1003-1007, 1009-1022, "
        "1024-1062, 1064, 1081-1082, 1085-1091, 1094-1098, 1104, 1109, 1118-1119, 1121, "
        "1137-1139, 1141-1148, 1150-1166, 1168-1265, 1267-1530, 1600-1602, 1604-1607, "
        "2000-2102, 2200-2216";
    std::vector<int> expected;
    for (const char *p = ranges; *p != '\0';) {
        char *end;
        long first = strtol(p, &end, 10);
        long last = *end == '-' ? strtol(end + 1, &end, 10) : first;
        for (long n = first; n <= last; n++) expected.push_back((int)n);
        p = end + strspn(end, ", ");
    }
    ASSERT_EQ(expected.size(), 1367u);

    std::vector<int> numbers;
    for (const cat_row &row : embedded().rows) numbers.push_back(row.number);
    EXPECT_EQ(numbers, expected);
}

TEST(Catalogue, TypeAndLevelMix)
{
    std::map<std::string, int> kinds;
    std::map<int, int> levels;
    for (const cat_row &row : embedded().rows) {
        int level;
        if (warning_level(row.type, &level)) {
            kinds["warning"]++;
            levels[level]++;
        } else {
            EXPECT_TRUE(row.type == "F" || row.type == "E" || row.type == "M")
                << row.number << " has type field " << row.type;
            kinds[row.type]++;
        }
    }
    EXPECT_EQ(kinds["E"], 666);
    EXPECT_EQ(kinds["F"], 274);
    EXPECT_EQ(kinds["M"], 57);
    EXPECT_EQ(kinds["warning"], 370);

    EXPECT_EQ(levels[0], 228);
    std::set<int> used;
    for (const auto &l : levels) used.insert(l.first);
    EXPECT_EQ(used, (std::set<int>{-9, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(Catalogue, RowsTheDriverRaisesKeepTheirTypeAndText)
{
    struct required {
        int number;
        const char *type;
        const char *text;
    };
    /* number  type  text */
    static const required rows[] = {
        {1, "M", "too many errors (%u)"},
        {3, "M", "malformed error information on line * in file *"},
        {141, "F", "can't open %s file \"%s\": %m"},
        {296, "F", "out of memory"},
        {900, "F", "exec failed: %s"},
        {908, "E", "exit status = %d"},
        {917, "E", "argument too long"},
        {1234, "M", " * %s"},
        {1443, "F", "unknown --EXT sub-option \"%s\""},
        {1444, "F", "respecified C extension from \"%s\" to \"%s\" "},
        {1501, "0", "assertion failure: %s (%s:%d) "},
        {1502, "E", "assertion failure: %s (%s:%d) "},
        {1503, "F", "assertion failure: %s (%s:%d) "},
        {1606, "E", "w[no-]error option has been passed an invalid or missing message identifier"},
        {2082, "F", "can't create temporary file"},
        {2083, "F", "command file \"%s\" includes itself"},
        {2084, "F", "command files nested more than %u levels deep at \"%s\""},
    };
    for (const required &r : rows) {
        const cat_row *row = find_row(r.number);
        ASSERT_NE(row, nullptr) << r.number;
        EXPECT_EQ(row->type, r.type) << r.number;
        EXPECT_EQ(row->text, r.text) << r.number;
    }
}

TEST(Catalogue, TextsAreDistinctSafeFormats)
{
    /* The assertion rows share one text on purpose; nothing else may. */
    std::map<std::string, int> first_with;
    for (const cat_row &row : embedded().rows) {
        auto seen = first_with.emplace(row.text, row.number);
        bool shared_assert = row.number >= 1502 && row.number <= 1503 && seen.first->second == 1501;
        EXPECT_TRUE(seen.second || shared_assert)
            << row.number << " repeats the text of " << seen.first->second;
    }

    /* Only conversions the alert formatter can fill from the arguments of a
     * raising call: a stray '%' or an unexpected conversion would read
     * arguments that were never passed. */
    static const std::regex conversion("%(%|-?[0-9]*(s|d|u|x|c|m|ld|lu|lx))");
    for (const cat_row &row : embedded().rows) {
        const std::string &t = row.text;
        for (size_t at = t.find('%'); at != std::string::npos; at = t.find('%', at)) {
            std::smatch m;
            std::string rest = t.substr(at);
            ASSERT_TRUE(std::regex_search(rest, m, conversion, std::regex_constants::match_continuous))
                << row.number << ": bad conversion in \"" << t << "\"";
            at += m.length(0);
        }
    }
}

TEST(Catalogue, LoaderReadsEveryRowAsWritten)
{
    testing::internal::CaptureStderr();
    vector *catalogue = load_edf(MSGCAT_BUILTIN_NAME);
    std::string reports = testing::internal::GetCapturedStderr();
    ASSERT_NE(catalogue, nullptr);
    EXPECT_EQ(reports, "");

    for (const cat_row &row : embedded().rows) {
        alert_entry *entry = alert_lookup((uint32_t)row.number);
        int level = 0;
        uint32_t type = warning_level(row.type, &level) ? ALERT_WARNING
                        : row.type == "F"               ? ALERT_FATAL
                        : row.type == "E"               ? ALERT_ERROR
                                                        : ALERT_MESSAGE;
        EXPECT_EQ(entry->number, (uint32_t)row.number);
        EXPECT_EQ(entry->type, type) << row.number;
        EXPECT_EQ(entry->level, level) << row.number;
        EXPECT_STREQ(entry->text, row.text.c_str()) << row.number;
        free(entry);
    }

    /* Spot checks that do not go through the test's own parser. */
    alert_entry *e = alert_lookup(1234);
    EXPECT_EQ(e->type, (uint32_t)ALERT_MESSAGE);
    EXPECT_STREQ(e->text, " * %s");
    free(e);
    e = alert_lookup(2209);
    EXPECT_EQ(e->type, (uint32_t)ALERT_WARNING);
    EXPECT_EQ(e->level, 9);
    free(e);
    e = alert_lookup(1501);
    EXPECT_EQ(e->type, (uint32_t)ALERT_WARNING);
    EXPECT_EQ(e->level, 0);
    EXPECT_STREQ(e->text, "assertion failure: %s (%s:%d) ");
    free(e);
    e = alert_lookup(136);  /* a gap in the numbering */
    EXPECT_EQ(e->type, (uint32_t)ALERT_ERROR);
    EXPECT_STREQ(e->text, "An error, warning or message was generated, but no description is available");
    free(e);
}
