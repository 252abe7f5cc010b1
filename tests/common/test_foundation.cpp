/* test_foundation.cpp - the foundation library: vector, hash table, master lists, skip list, tally
 * table, formatting, sorting and the string cache.  Each TEST runs in a process of its own. */
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>

#include "freecache.h"
#include "hash.h"
#include "numset.h"
#include "skiplist.h"
#include "stringcache.h"
#include "test_util.h"
#include "trace.h"
#include "vector.h"

/* Item n is the pointer 16 * (n + 1); ids() lists a vector's item numbers, "-" for NULL. */
static void *item(uintptr_t n) { return (void *)(n * 16 + 16); }
static std::string num(void *p) { return p ? std::to_string(((uintptr_t)p - 16) / 16) : "-"; }

static std::string ids(vector *v)
{
    std::string out;
    for (uint32_t i = 0; i < vec_size(v); i++) out += num(vec_get(v, i)) + " ";
    return out;
}

static vector *vec_of(uintptr_t n, vector *v = VEC_NEW())
{
    for (uintptr_t i = 0; i < n; i++) vec_append(v, item(i));
    return v;
}

TEST(Vector, GrowthSetInsertCopyAndIteration)
{
    vector *v = VEC_NEW(), *full = vec_of(10), *three = vec_of(3);
    std::string growth, seen; /* growth: "count:capacity" at each growth */
    for (uint32_t i = 0, cap = 0; i < 41; i++) {
        vec_append(v, item(i));
        if (v->capacity != cap) growth += std::to_string(i + 1) + ":" + std::to_string(cap = v->capacity) + " ";
    }
    EXPECT_EQ("1:10 11:20 21:40 41:80 ", growth);
    vec_truncate(v, 2);
    vec_set(v, item(7), 6); /* the slots skipped over read NULL, also where items stood */
    EXPECT_TRUE(ids(v) == "0 1 - - - - 7 " && !vec_get(v, 7) && !vec_size(nullptr));
    vector *c = VEC_COPY(v);
    EXPECT_TRUE(vec_append_all(c, c) == 7 && ids(c) == "0 1 - - - - 7 0 1 - - - - 7 " && !VEC_COPY(nullptr))
        << "to itself: doubles once";

    /* Inserting before or at a live iterator's position moves it on; an index past the end is clamped. */
    void *it, *inner;
    uint32_t used = 0;
    vec_for_each(full, it) {
        seen += num(it) + " ";
        if (it == item(1)) used = vec_insert(full, item(10), 0) + vec_insert(full, item(11), 3) * 100;
        if (it == item(8)) used += vec_insert(full, item(12), 99) * 10000;
    }
    EXPECT_TRUE(used == 120300 && full->capacity == 20 && seen == "0 1 2 3 4 5 6 7 8 9 12 ");
    EXPECT_EQ("10 0 1 11 2 3 4 5 6 7 8 9 12 ", ids(full));
    /* Nested loops keep their places; vec_iter_end(v, 0) lets the outer one resume. */
    seen = "";
    vec_for_each(three, it) {
        vec_for_each(three, inner) {
            seen += num(it) + num(inner) + " ";
            if (it == item(1) && inner == item(0)) { vec_iter_end(three, 0); break; }
        }
    }
    EXPECT_TRUE(seen == "00 01 02 10 20 21 22 " && !full->iterator && !three->iterator);
    vec_iter_start(three); /* exhausted: NULL, yet a later append is reached */
    for (int i = 0; i < 4; i++) vec_iter_next(three);
    vec_append(three, item(3));
    EXPECT_EQ(item(3), vec_iter_next(three));
    for (vector *x : {v, c, full, three, (vector *)nullptr}) vec_free(x); /* three's iterator still open */
}

/* What `write` puts into the debug-out file, "%p" renderings as "PTR". */
template <typename F> static std::string traced(F write)
{
    FILE *f = tmpfile(), *saved = gFile;
    gFile = f;
    write();
    gFile = saved;
    std::string text(1 << 16, '\0');
    rewind(f);
    text.resize(fread(&text[0], 1, text.size(), f));
    fclose(f);
    /* glibc writes "0x..." or "(nil)", the Windows runtimes sixteen digits. */
    return std::regex_replace(text, std::regex("0x[0-9a-f]+|\\(nil\\)|[0-9A-Fa-f]{16}"), "PTR");
}

static std::string pad(size_t n) { return std::string(n, ' '); }

TEST(MasterList, VectorDumpListsLivingVectorsAndSumsPerSite)
{
    EXPECT_EQ("", traced(vec_master_list_dump)); /* tracking never started */
    vector *untracked = VEC_NEW();
    vec_set_tracking(true);
    static const char ALPHA[] = "alpha.c", BETA[] = "beta.c", GAMMA[] = "gamma.c"; /* sites by pointer */
    vector *a = vec_of(12, vec_new(ALPHA, 10)); /* 12/20 */
    vector *b = vec_of(3, vec_new(ALPHA, 10));  /* 3/10 */
    vector *c = vec_of(1, vec_new_sized(4, BETA, 5)); /* 1/4 */
    vec_free(vec_of(11, vec_new(BETA, 6)));     /* dead, 11/20 */
    vector *a_copy = vec_copy(a, GAMMA, 1);     /* 12/20, ties with a up to the file */
    vector *u_copy = vec_copy(vec_of(30, untracked), GAMMA, 2);
    vec_set_tracking(false); /* a copy is tracked exactly when its source is, whatever the switch */
    vector *late = vec_new(BETA, 7), *late_copy = vec_copy(c, GAMMA, 3);
    /* Sites in reverse order of first appearance in the sorted list (dead beta.c:6 first). */
    EXPECT_EQ("# Living Vector Master List:\n"
              "# ptr    file:line    max_count/capacity    alive\n"
              "# PTR    alpha.c:10    12/20    Y\n"
              "# PTR    gamma.c:1    12/20    Y\n"
              "# PTR    alpha.c:10    3/10    Y\n"
              "# PTR    beta.c:5    1/4    Y\n"
              "# PTR    gamma.c:3    1/4    Y\n"
              "# Vector Master List Summary:\n"
              "#" + pad(66) + "Living" + pad(14) + "Dead" + pad(16) + "Total\n"
              "#" + pad(32) + "file:line" + pad(25) + "vectors/capacity    vectors/capacity    vectors/capacity\n"
              "# " + pad(28) + "gamma.c:3    " + pad(24) + "1/4    0/0    1/4\n"
              "# " + pad(29) + "beta.c:5    " + pad(24) + "1/4    0/0    1/4\n"
              "# " + pad(28) + "gamma.c:1    " + pad(24) + "1/20    0/0    1/20\n"
              "# " + pad(28) + "alpha.c:10   " + pad(24) + "2/30    0/0    2/30\n"
              "# " + pad(29) + "beta.c:6    " + pad(24) + "0/0    1/20    1/20\n"
              "# " + pad(22) + "Total Summary:0    " + pad(24) + "5/58    1/20    6/78\n",
              traced(vec_master_list_dump));
    for (vector *v : {a, b, c, a_copy, u_copy, untracked, late, late_copy}) vec_free(v);
}

TEST(MasterList, HashDumpShowsUsageClashesAndFlags)
{
    hash_table *early = HASH_NEW(1, nullptr, nullptr); /* made before tracking: never listed */
    hash_set_tracking(true);
    hash_table *one = hash_new(1, nullptr, nullptr, "one.c", 1), *four = hash_new(1, nullptr, hash_strcmp, "four.c", 4);
    hash_table *two = hash_new(8, hash_string, hash_strcmp, "two.c", 2);
    hash_table *three = hash_new(4, hash_string, nullptr, "three.c", 3);
    int k[3];
    for (int i = 0; i < 4; i++) HASH_INSERT(one, &k[i % 3], nullptr), HASH_INSERT(early, &k[i % 3], nullptr);
    /* hash_string % 8: "a" 6, "b" 7; % 4: "a" 2, "b" 3, "e" 2. */
    for (const char *key : {"a", "b", "a"}) hash_insert(two, key, nullptr, "t.c", 2);
    for (const char *key : {"a", "b", "e"}) hash_insert(three, key, nullptr, "t.c", 3);
    for (const char *key : {"k1", "k2", "k3", "k4"}) hash_insert(four, key, nullptr, "t.c", 4);
    EXPECT_EQ("# Hash Table Master List:\n"
              "# ptr    file:line    max_util/capacity    max_usage/capacity    clashes    voidcmp"
              "    voidhash    alive\n"
              "# PTR    four.c:4    1/1    4/1    6    n    Y    Y\n"
              "# PTR    one.c:1    1/1    3/1    3    Y    Y    Y\n"
              "# PTR    three.c:3    2/4    3/4    1    Y    n    Y\n"
              "# PTR    two.c:2    2/8    2/8    0    n    n    Y\n",
              traced(hash_master_list_dump));
}

TEST(Hash, StringHashesInsertLookupAndKeys)
{
    /* Bytes >= 0x80 add their signed value; the nocase hash lowers ASCII letters only. */
    EXPECT_EQ((5381u * 33 - 1) * 33 + 97, hash_string("\xff" "a"));
    EXPECT_EQ(hash_string("mixed-1_z\xc0\xff"), hash_string_nocase("MiXeD-1_Z\xc0\xff"));
    hash_table *h = HASH_NEW(7, hash_string, hash_strcmp), *nc = HASH_NEW(13, hash_string_nocase, hash_stricmp);
    hash_table *two = HASH_NEW(2, nullptr, nullptr);
    char key1[] = "name", key2[] = "NAME";
    int v1, v2;
    EXPECT_TRUE(HASH_INSERT(h, key1, &v1) == 1 && HASH_INSERT(h, "name", &v2) == 0) << "never replaces";
    EXPECT_TRUE(h->count == 1 && hash_lookup(h, "name") == &v1 && !hash_lookup(h, key2));
    EXPECT_EQ(1, HASH_INSERT(h, "nothing", nullptr)); /* a NULL value: absent to lookup only */
    EXPECT_TRUE(hash_haskey(h, "nothing") && !hash_lookup(h, "nothing") && !hash_haskey(h, "other"));
    EXPECT_TRUE(HASH_INSERT(nc, key1, &v1) == 1 && HASH_INSERT(nc, key2, &v2) == 0 && hash_lookup(nc, "Name") == &v1);
    for (uintptr_t key = 1; key <= 5; key++) HASH_INSERT(two, (void *)key, (void *)(key * 10));
    vector *keys = hash_keys(two); /* voidhash: odd keys in bucket 1 */
    EXPECT_EQ((std::vector<void *>{(void *)2, (void *)4, (void *)1, (void *)3, (void *)5}),
              std::vector<void *>(keys->data, keys->data + keys->count));
    vec_free(keys);
}

/* The keys in list order, each pair ascending by key code, then by the compare function. */
static std::vector<uintptr_t> check_list(const sl_list *l)
{
    std::vector<uintptr_t> keys;
    for (sl_node *prev = nullptr, *n = sl_links(l->head)[0]; n; prev = n, n = sl_links(n)[0]) {
        EXPECT_TRUE(!prev || prev->code < n->code || (prev->code == n->code && l->cmp_fn(prev->key, n->key) < 0));
        keys.push_back(n->key);
    }
    EXPECT_EQ(keys.size(), l->count);
    return keys;
}

TEST(SkipList, OrderLookupAndDelete)
{
    /* Key code key % 7, then descending key. */
    sl_list *l = sl_new([](uintptr_t key) { return (uint32_t)(key % 7); },
                        [](uintptr_t a, uintptr_t b) { return (int32_t)(a < b ? 1 : a > b ? -1 : 0); });
    const uintptr_t n = 20000;
    for (uintptr_t k = 1; k <= n; k++) ASSERT_EQ(1, sl_insert(l, (k * 7919) % 20011, k)) << k;
    std::vector<uintptr_t> keys = check_list(l);
    EXPECT_TRUE(keys.size() == n && keys.front() == 20006 && keys.back() == 6);
    EXPECT_TRUE(sl_lookup(l, (5 * 7919) % 20011) == 5 && sl_lookup(l, 30000) == 0);
    EXPECT_TRUE(sl_insert(l, 7919, 999) == 0 && sl_lookup(l, 7919) == 1) << "the first value stays";
    for (size_t i = 0; i < n; i += 2) ASSERT_EQ(keys[i], (sl_delete(l, keys[i]) * 7919) % 20011);
    std::vector<uintptr_t> odd = check_list(l);
    EXPECT_TRUE(odd.size() == n / 2 && odd[0] == keys[1] && odd.back() == keys[n - 1] && !sl_delete(l, keys[0]));
    for (size_t i = 1; i < n; i += 2) sl_delete(l, keys[i]);
    EXPECT_TRUE(l->count == 0 && sl_insert(l, 4, 44) && sl_insert(l, 11, 33));
    EXPECT_TRUE(check_list(l) == (std::vector<uintptr_t>{11, 4}) && sl_lookup(l, 4) == 44);
}

static int int_order(const void *a, const void *b)
{
    int x = *(const int *)a, y = *(const int *)b;
    return x < y ? -1 : x > y;
}

TEST(Qsort, EqualElementsEndInTheFixedOrderAndAnyInputSorts)
{
    /* {key, id} pairs: two equal keys are exchanged, three reversed; ids after sorting */
    const struct { std::vector<std::pair<int, int>> in; const char *ids; } cases[] = {
        {{{5, 0}, {5, 1}}, "10"}, {{{5, 0}, {5, 1}, {5, 2}}, "210"}, {{{1, 0}, {3, 1}, {2, 2}, {2, 3}}, "0231"},
        {{{1, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}}, "34201"}};
    for (auto c : cases) {
        os_qsort(c.in.data(), c.in.size(), sizeof c.in[0], int_order);
        std::string ids;
        for (const auto &k : c.in) ids += std::to_string(k.second);
        EXPECT_EQ(c.ids, ids);
    }
    os_qsort(nullptr, 1, sizeof(int), int_order);
    std::mt19937 rng(12345);
    for (size_t n : {2u, 7u, 1000u, 20000u, 20001u}) { /* few distinct values, then many */
        std::vector<int> v(n);
        for (int &x : v) x = (int)(rng() % (n % 2 ? 1u << 30 : 3u));
        std::vector<int> want = v;
        std::sort(want.begin(), want.end());
        os_qsort(v.data(), n, sizeof(int), int_order);
        EXPECT_EQ(want, v) << n;
    }
}

TEST(StringCache, EqualTextsShareOnePointerAndBuildersGiveCachedResults)
{
    char a[] = "interned text", b[] = "interned text", own[] = "not cached";
    const char *sa = str_save(a);
    uint32_t entries = str_cache_count();
    a[0] = 'X';
    EXPECT_TRUE(sa != a && sa == str_save(b) && !strcmp(sa, "interned text")) << "the cache holds its own copy";
    EXPECT_TRUE(sa == str_nsave("interned text and more", 13) && sa == str_format("%s %s", "interned", "text"));
    EXPECT_EQ(entries, str_cache_count()) << "a repeated text adds no entry";
    EXPECT_TRUE(str_save("short") == str_nsave("short", 100) && !str_save(nullptr) && !str_nsave(nullptr, 3));
    /* A NULL or empty side hands back the other argument itself. */
    for (const char *got : {str_concat(nullptr, own), str_concat(own, nullptr), str_path_join(nullptr, own),
                            str_path_join("", own), str_path_join(own, nullptr), str_path_join(own, "")})
        EXPECT_EQ(own, got);
    std::string big(300000, 'y'), fmt(5000, 'f');
    /* result                                         expected text */
    const struct { const char *got; std::string want; } cases[] = {
        {str_path_join(tu_path("dir/").c_str(), tu_path("/name").c_str()), tu_path("dir/name")},
        {str_strip_ext(tu_path("dir.d/file").c_str()),    tu_path("dir.d/file")},
        {str_strip_ext("dir.d\\x.tar.gz"),                "dir.d\\x.tar"},
        {str_basename(tu_path("a/b/c.d").c_str()),        "c.d"},
        {str_escape("a\\\"b", "\"", 0),                   "a\\\\\"b"},
        {str_escape("\\x\\'", "\\'", '\\'),               "\\\\x\\\\'"},
        {str_escape("^\"a b", " \"^", '^'),               "^^\"a^ b"},
        {str_lower("MiXeD 123_Z\xC4\xE4"),                "mixed 123_z\xC4\xE4"},
        {str_upper("MiXeD 123_a\xC4\xE4"),                "MIXED 123_A\xC4\xE4"},
        {str_translate("abc", "aab", "xyX"),              "yXc"},
        {str_quote("a \"b\"", '"'),                       "\"a \"b\"\""},
        {str_format("%d:%s:%d", 7, big.c_str(), 9),       "7:" + big + ":9"},
        {str_format("%s%s", fmt.c_str(), "!"),            fmt + "!"},
    };
    for (const auto &c : cases) EXPECT_TRUE(c.got == str_save(c.want.c_str())) << std::string(c.got).substr(0, 40);
    vector *v = str_split(" ,a,,b , c ,", ", ");
    EXPECT_TRUE(vec_size(v) == 3 && vec_get(v, 0) == str_save("a") && vec_get(v, 2) == str_save("c"));
    vec_free(v);
    EXPECT_TRUE(str_starts_with_nocase("--CHIP=18f", "--chip=") && !str_starts_with("--CHIP=18f", "--chip=") &&
                str_starts_with("x", "") && str_ends_with("x", "") && str_ends_with("a.c", ".c"));
    EXPECT_FALSE(str_starts_with("ab", "abc") || str_ends_with(".c", "file.c") || str_ends_with(nullptr, ""));
}

TEST(FoundationDeathTest, MisuseFailsTheStandardAssertion)
{
    vector *v = vec_of(1);
    EXPECT_DEATH(vec_iter_more(v), tu_assertion_report("vector\\.cpp", "p->iterator != NULL"));
    EXPECT_DEATH(vec_append(nullptr, item(1)), tu_assertion_report("vector\\.cpp", "p != NULL"));
    EXPECT_DEATH(VEC_NEW_SIZED(0), tu_assertion_report("vector\\.cpp", "initial != 0"));
    EXPECT_DEATH(numset_add(numset_new(), 18446744073709551615u), "numset_canContain\\(n\\)");
    EXPECT_DEATH(ptrset_contains(nullptr, 1), "sp != NULL");
    EXPECT_DEATH(HASH_NEW(0, nullptr, nullptr), tu_assertion_report("hash\\.cpp", "size != 0"));
    EXPECT_DEATH(fc_new(4, 10), tu_assertion_report("freecache\\.cpp", "obj_size >= sizeof ?\\(void ?\\*\\)"));
    EXPECT_DEATH(os_qsort(nullptr, 2, sizeof(int), int_order), tu_assertion_report("os_qsort\\.cpp", "vbase"));
    vec_free(v);
}
