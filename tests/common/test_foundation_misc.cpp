/*
 * test_foundation_misc.cpp - allocation and formatted heap strings, the
 * free-object cache, the tally table and the platform sort.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "alloc.h"
#include "freecache.h"
#include "osdep.h"
#include "tally_table.h"
#include "vector.h"

/* ---- allocation ----------------------------------------------------------- */

TEST(Alloc, ZeroedAndGrownMemory)
{
    void *empty = alloc_zeroed(0);
    EXPECT_NE(nullptr, empty);
    free(empty);

    /* Growing keeps the old bytes and zero-fills the new ones, also in
     * memory the heap hands out again (a freed, dirtied block). */
    void *dirty = malloc(4000);
    memset(dirty, 0xcd, 4000);
    free(dirty);
    unsigned char *g = (unsigned char *)alloc_grow(nullptr, 0, 16);
    memset(g, 0xab, 16);
    g = (unsigned char *)alloc_grow(g, 16, 4000);
    EXPECT_TRUE(std::all_of(g, g + 16, [](unsigned char c) { return c == 0xab; }));
    EXPECT_TRUE(std::all_of(g + 16, g + 4000, [](unsigned char c) { return c == 0; }));
    free(g);
}

static std::string format_capturing_stderr(const std::string &text, std::string *err)
{
    testing::internal::CaptureStderr();
    char *s = alloc_format("%s", text.c_str());
    *err = testing::internal::GetCapturedStderr();
    std::string result(s);
    free(s);
    return result;
}

TEST(Alloc, FormatCutsAt4095Characters)
{
    std::string err;
    char *small = alloc_format("%s-%d-%ju", "x", -4, (uintmax_t)18446744073709551615u);
    EXPECT_STREQ("x--4-18446744073709551615", small);
    free(small);

    std::string exact(4095, 'a');
    EXPECT_EQ(exact, format_capturing_stderr(exact, &err));
    EXPECT_EQ("", err);

    std::string over = exact + "b";
    EXPECT_EQ(exact, format_capturing_stderr(over, &err));
    EXPECT_EQ("buffer overflow in vsnprintf", err);

    EXPECT_EQ(exact, format_capturing_stderr(std::string(100000, 'a'), &err));
    EXPECT_EQ("buffer overflow in vsnprintf", err);
}

/* ---- free-object cache ------------------------------------------------------ */

TEST(FreeCache, ReusesLastInFirstOutUpToTheLimit)
{
    EXPECT_EQ(nullptr, fc_get(nullptr));

    fc_cache *fc = fc_new(24, 2);
    char *a = (char *)fc_get(fc);
    char *b = (char *)fc_get(fc);
    char *c = (char *)fc_get(fc);
    memset(a, 0x5a, 24);
    memset(b, 0x5a, 24);
    EXPECT_EQ(1u, fc_put(fc, a));
    EXPECT_EQ(2u, fc_put(fc, b));
    EXPECT_EQ(0u, fc_put(fc, c)); /* list full: released */
    EXPECT_EQ(2u, fc->nfree);

    EXPECT_EQ(b, fc_get(fc));
    EXPECT_EQ(a, fc_get(fc));
    EXPECT_TRUE(std::all_of(a, a + 24, [](char x) { return x == 0; }));
    EXPECT_TRUE(std::all_of(b, b + 24, [](char x) { return x == 0; }));
    free(a);
    free(b);
}

TEST(FreeCacheDeathTest, BadArgumentsFailTheAssertion)
{
    EXPECT_DEATH(fc_new(4, 10), "Assertion `obj_size >= sizeof \\(void\\*\\)' failed");
    EXPECT_DEATH(fc_put(fc_new(16, 1), nullptr), "Assertion `obj != NULL' failed");
}

/* ---- tally table ------------------------------------------------------------- */

static int key_strcmp(const void *a, const void *b)
{
    return strcmp((const char *)a, (const char *)b);
}

static std::vector<std::string> top_keys(const tally_table *t)
{
    std::vector<std::string> keys;
    for (uint32_t i = 0; i < vec_size(t->top); i++) {
        const tally_entry *te = (const tally_entry *)vec_get(t->top, i);
        keys.push_back(std::string((const char *)te->key) + "=" + std::to_string(te->count));
    }
    return keys;
}

TEST(Tally, TopListOfOneKeepsTheFirstToReachTheHighestCount)
{
    tally_table *t = tally_new(13, 1, hash_string, key_strcmp);
    const char *a = "a", *b = "b";
    char other_a[] = "a";
    EXPECT_EQ(1u, tally_add(t, a));
    EXPECT_EQ(1u, tally_add(t, b));
    EXPECT_EQ(1u, tally_add(t, other_a)); /* equal text, other pointer: counted apart */
    EXPECT_EQ((std::vector<std::string>{"a=1"}), top_keys(t));
    tally_add(t, b); /* strictly higher: replaces */
    EXPECT_EQ((std::vector<std::string>{"b=2"}), top_keys(t));
    tally_add(t, a); /* equal: stays out */
    EXPECT_EQ((std::vector<std::string>{"b=2"}), top_keys(t));
    EXPECT_EQ(3u, tally_add(t, a));
    EXPECT_EQ((std::vector<std::string>{"a=3"}), top_keys(t));
    const tally_entry *eb = (const tally_entry *)hash_lookup(t->table, b);
    const tally_entry *ea = (const tally_entry *)hash_lookup(t->table, a);
    EXPECT_EQ(0, eb->in_top);
    EXPECT_EQ(1, ea->in_top);
}

TEST(Tally, TopListIsOrderedByCountThenKey)
{
    tally_table *t = tally_new(7, 3, hash_string, key_strcmp);
    const char *c = "c", *b = "b", *a = "a", *d = "d";
    tally_add(t, c);
    tally_add(t, b);
    tally_add(t, a);
    EXPECT_EQ((std::vector<std::string>{"a=1", "b=1", "c=1"}), top_keys(t));
    tally_add(t, c);
    EXPECT_EQ((std::vector<std::string>{"c=2", "a=1", "b=1"}), top_keys(t));
    /* d reaches 2 and displaces the last entry, which is not re-sorted. */
    tally_add(t, d);
    tally_add(t, d);
    EXPECT_EQ((std::vector<std::string>{"c=2", "a=1", "d=2"}), top_keys(t));
    tally_add(t, d);
    EXPECT_EQ((std::vector<std::string>{"d=3", "c=2", "a=1"}), top_keys(t));
}

/* ---- os_qsort ------------------------------------------------------------------ */

struct keyed {
    int key;
    int id;
};

static int by_key(const void *a, const void *b)
{
    int x = ((const keyed *)a)->key, y = ((const keyed *)b)->key;
    return x < y ? -1 : x > y ? 1 : 0;
}

static std::vector<int> sorted_ids(std::vector<keyed> v)
{
    os_qsort(v.data(), v.size(), sizeof(keyed), by_key);
    std::vector<int> ids;
    for (const keyed &k : v) ids.push_back(k.id);
    return ids;
}

TEST(Qsort, EqualElementsEndInTheFixedOrder)
{
    EXPECT_EQ((std::vector<int>{1, 0}), sorted_ids({{5, 0}, {5, 1}}));
    EXPECT_EQ((std::vector<int>{2, 1, 0}), sorted_ids({{5, 0}, {5, 1}, {5, 2}}));
    /* Five equal: the outer pairs swap and the middle swaps with itself;
     * then each remaining pair of two is exchanged. */
    EXPECT_EQ((std::vector<int>{3, 4, 2, 0, 1}), sorted_ids({{1, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}}));
    EXPECT_EQ((std::vector<int>{1, 0, 2}), sorted_ids({{2, 0}, {2, 1}, {3, 2}}));

    os_qsort(nullptr, 0, sizeof(keyed), by_key);
    os_qsort(nullptr, 1, sizeof(keyed), by_key);
}

TEST(Qsort, SortsAnyInput)
{
    std::mt19937 rng(12345);
    for (size_t n : {2u, 3u, 7u, 64u, 1000u, 20000u}) {
        for (int range : {2, 50, 1 << 30}) {
            std::vector<int> v(n);
            for (int &x : v) x = (int)(rng() % (unsigned)range);
            std::vector<int> want = v;
            std::sort(want.begin(), want.end());
            os_qsort(v.data(), v.size(), sizeof(int), [](const void *a, const void *b) {
                int x = *(const int *)a, y = *(const int *)b;
                return x < y ? -1 : x > y ? 1 : 0;
            });
            EXPECT_EQ(want, v) << "n=" << n << " range=" << range;
        }
    }
}

TEST(Qsort, LargeElementsMoveWhole)
{
    /* Above 799 bytes the pivot is copied into a heap buffer. */
    struct big {
        int key;
        char payload[1020];
    };
    std::vector<big> v(200);
    for (size_t i = 0; i < v.size(); i++) {
        v[i].key = (int)((i * 7919) % 200);
        memset(v[i].payload, v[i].key, sizeof v[i].payload);
    }
    os_qsort(v.data(), v.size(), sizeof(big),
             [](const void *a, const void *b) { return ((const big *)a)->key - ((const big *)b)->key; });
    for (size_t i = 0; i < v.size(); i++) {
        EXPECT_TRUE(v[i].key == (int)i && v[i].payload[0] == (char)i && v[i].payload[1019] == (char)i) << i;
    }
}

TEST(QsortDeathTest, NullBaseFailsTheAssertion)
{
    EXPECT_DEATH(os_qsort(nullptr, 2, sizeof(int), by_key), "Assertion `vbase' failed");
}
