/*
 * test_master_lists.cpp - the usage statistics of tracked vectors and hash
 * tables as they appear in the debug trace: the two master-list dumps and
 * the hash collision line.  Each TEST runs in its own process under CTest,
 * so tracking and the master lists start empty.
 */
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>

#include "hash.h"
#include "kvdebug.h"
#include "stringcache.h"
#include "vector.h"

/* Runs `write` with the debug-out file pointed at a temporary file and
 * returns what was written, every "%p" rendering replaced by "PTR". */
template <typename F>
static std::string traced(F write)
{
    FILE *f = tmpfile();
    EXPECT_NE(nullptr, f);
    FILE *saved = gFile;
    gFile = f;
    write();
    gFile = saved;
    rewind(f);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
    return std::regex_replace(text, std::regex("0x[0-9a-f]+|\\(nil\\)"), "PTR");
}

static std::string pad(size_t n) { return std::string(n, ' '); }

static const std::string VEC_HEADER =
    "# Living Vector Master List:\n"
    "# ptr    file:line    max_count/capacity    alive\n";

static const std::string VEC_SUMMARY_HEADER =
    "# Vector Master List Summary:\n"
    "#" + pad(66) + "Living" + pad(14) + "Dead" + pad(16) + "Total\n"
    "#" + pad(32) + "file:line" + pad(25) + "vectors/capacity    vectors/capacity    vectors/capacity\n";

/* Creation sites are told apart by pointer: one array per file name. */
static const char ALPHA[] = "alpha.c";
static const char BETA[] = "beta.c";
static const char GAMMA[] = "gamma.c";

static void append_n(vector *v, uint32_t n)
{
    for (uint32_t i = 0; i < n; i++) vec_append(v, &n);
}

TEST(MasterList, VectorDumpListsLivingVectorsAndSumsPerSite)
{
    EXPECT_EQ("", traced(vec_master_list_dump)); /* tracking never started */
    vector *untracked = VEC_NEW();
    vec_set_tracking(true);
    const std::string total_row = "# " + pad(22) + "Total Summary:0    " + pad(24);
    EXPECT_EQ(VEC_HEADER + VEC_SUMMARY_HEADER + total_row + "0/0    0/0    0/0\n", traced(vec_master_list_dump));

    vector *a = vec_new(ALPHA, 10);
    append_n(a, 12);                        /* 12/20 */
    vector *b = vec_new(ALPHA, 10);
    append_n(b, 3);                         /* 3/10 */
    vector *c = vec_new_sized(4, BETA, 5);
    append_n(c, 1);                         /* 1/4 */
    vector *d = vec_new(BETA, 6);
    append_n(d, 11);                        /* dead, 11/20 */
    vec_free(d);
    vector *e = vec_copy(a, GAMMA, 1);      /* 12/20, ties with a up to the file */
    vector *f = vec_copy(untracked, GAMMA, 2);
    append_n(untracked, 30);

    /* Sites in reverse order of first appearance in the sorted list, where
     * the dead vector of beta.c:6 comes first (smaller max_count). */
    const std::string rows = "# " + pad(29) + "beta.c:5    " + pad(24) + "1/4    0/0    1/4\n"
                             "# " + pad(28) + "gamma.c:1    " + pad(24) + "1/20    0/0    1/20\n"
                             "# " + pad(28) + "alpha.c:10   " + pad(24) + "2/30    0/0    2/30\n"
                             "# " + pad(29) + "beta.c:6    " + pad(24) + "0/0    1/20    1/20\n";
    EXPECT_EQ(VEC_HEADER +
                  "# PTR    alpha.c:10    12/20    Y\n"
                  "# PTR    gamma.c:1    12/20    Y\n"
                  "# PTR    alpha.c:10    3/10    Y\n"
                  "# PTR    beta.c:5    1/4    Y\n" +
                  VEC_SUMMARY_HEADER + rows +
                  total_row + "4/54    1/20    5/74\n",
              traced(vec_master_list_dump));

    /* The record keeps the largest count and follows growth after the copy;
     * a second dump adds to the summary counters it already holds. */
    append_n(e, 9);
    vec_set(b, b, 0);
    const std::string second = traced(vec_master_list_dump);
    EXPECT_NE(std::string::npos, second.find("# PTR    gamma.c:1    21/40    Y\n"));
    EXPECT_NE(std::string::npos, second.find(total_row + "8/128    2/40    10/168\n"));

    vec_free(a);
    vec_free(b);
    vec_free(c);
    vec_free(e);
    vec_free(f);
    vec_free(untracked);
}

TEST(MasterList, HashDumpShowsUsageClashesAndFlags)
{
    /* Tables made before tracking are never listed, not even later. */
    hash_table *early = HASH_NEW(3, nullptr, nullptr);
    hash_set_tracking(true);
    HASH_INSERT(early, "x", "y");
    EXPECT_EQ("", traced(hash_master_list_dump));

    /* voidhash on one bucket: every key clashes with all before it. */
    hash_table *one = hash_new(1, nullptr, nullptr, "one.c", 1);
    for (uintptr_t k = 1; k <= 3; k++) hash_insert(one, (void *)k, nullptr, "t.c", 1);
    /* hash_string("a") % 8 = 6, "b" 7: no clash; the repeat adds nothing. */
    hash_table *two = hash_new(8, hash_string, hash_strcmp, "two.c", 2);
    hash_insert(two, "a", nullptr, "t.c", 2);
    hash_insert(two, "b", nullptr, "t.c", 2);
    hash_insert(two, "a", nullptr, "t.c", 2);
    /* % 4: "a" 2, "b" 3, "e" 2 - one clash. */
    hash_table *three = hash_new(4, hash_string, nullptr, "three.c", 3);
    hash_insert(three, "a", nullptr, "t.c", 3);
    hash_insert(three, "b", nullptr, "t.c", 3);
    hash_insert(three, "e", nullptr, "t.c", 3);
    /* Four keys in one bucket: 0 + 1 + 2 + 3 clashes. */
    hash_table *four = hash_new(1, nullptr, hash_strcmp, "four.c", 4);
    for (const char *k : {"k1", "k2", "k3", "k4"}) hash_insert(four, k, nullptr, "t.c", 4);

    EXPECT_EQ("# Hash Table Master List:\n"
              "# ptr    file:line    max_util/capacity    max_usage/capacity    clashes    voidcmp"
              "    voidhash    alive\n"
              "# PTR    four.c:4    1/1    4/1    6    n    Y    Y\n"
              "# PTR    one.c:1    1/1    3/1    3    Y    Y    Y\n"
              "# PTR    three.c:3    2/4    3/4    1    Y    n    Y\n"
              "# PTR    two.c:2    2/8    2/8    0    n    n    Y\n",
              traced(hash_master_list_dump));
}

TEST(MasterList, HashClashLineGoesToTheCallersLocation)
{
    str_save("warm"); /* the trace's own string cache stays untracked */
    hash_table *untracked = hash_new(1, nullptr, nullptr, "quiet.c", 1);
    hash_set_tracking(true);
    hash_table *h = hash_new(1, nullptr, nullptr, "site.c", 7);
    int k1, k2, k3;
    std::string out = traced([&] {
        hash_insert(untracked, &k1, nullptr, "caller.c", 30);
        hash_insert(untracked, &k2, nullptr, "caller.c", 31);
        hash_insert(h, &k1, nullptr, "caller.c", 40);
        hash_insert(h, &k2, &k1, "caller.c", 41);
        hash_insert(h, &k3, &k2, "caller.c", 42);
        hash_insert(h, &k1, &k3, "caller.c", 43); /* present: no insert, no line */
    });
    EXPECT_EQ("caller.c:41" + pad(9) + "> HASH @ site.c:7 (2/1) clashed 1 times inserting (PTR,PTR)\n"
              "caller.c:42" + pad(9) + "> HASH @ site.c:7 (3/1) clashed 2 times inserting (PTR,PTR)\n",
              out);
}
