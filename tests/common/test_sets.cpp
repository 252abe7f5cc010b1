/*
 * test_sets.cpp - the skip list and the pointer and number sets on it.
 */
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "numset.h"
#include "ptrset.h"
#include "skiplist.h"

/* Checks every level of a list: ascending by key code, then by the compare
 * function; each node linked on exactly its own levels, none above the list
 * level; level 0 holds `count` nodes.  Returns the keys of level 0. */
static std::vector<uintptr_t> check_list(const sl_list *l)
{
    std::vector<uintptr_t> keys;
    uint32_t list_level = l->head->level;
    EXPECT_LE(list_level, SL_MAX_LEVEL);
    for (uint32_t i = 0; i < list_level; i++) {
        const sl_node *prev = nullptr;
        for (const sl_node *n = l->head->forward[i]; n != nullptr; prev = n, n = n->forward[i]) {
            EXPECT_TRUE(n->level > i && n->level <= list_level);
            EXPECT_EQ(n->code, l->key_fn(n->key));
            EXPECT_TRUE(prev == nullptr || prev->code < n->code ||
                        (prev->code == n->code && l->cmp_fn(prev->key, n->key) < 0))
                << "level " << i << " out of order at key " << n->key;
            if (i == 0)
                keys.push_back(n->key);
        }
    }
    EXPECT_EQ(keys.size(), l->count);
    return keys;
}

/* Key code: the key modulo 7; equal codes ordered by descending key. */
static uint32_t mod7(uintptr_t key) { return (uint32_t)(key % 7); }
static int32_t descending(uintptr_t a, uintptr_t b) { return a < b ? 1 : a > b ? -1 : 0; }

TEST(SkipList, CustomFunctionsOrderTheNodes)
{
    sl_list *l = sl_new(mod7, descending);
    for (uintptr_t k = 1; k <= 200; k++)
        EXPECT_EQ(sl_insert(l, (k * 37) % 211, k), 1);
    std::vector<uintptr_t> keys = check_list(l);
    ASSERT_EQ(keys.size(), 200u);
    EXPECT_EQ(keys.front(), 210u) << "code 0, largest key first";
    EXPECT_EQ(keys.back(), 6u) << "code 6, smallest key last";

    for (uintptr_t k = 1; k <= 200; k++)
        EXPECT_EQ(sl_lookup(l, (k * 37) % 211), k);
    EXPECT_EQ(sl_lookup(l, 500), 0u);
    EXPECT_EQ(sl_insert(l, 37, 999), 0) << "a present key is not added again";
    EXPECT_EQ(sl_lookup(l, 37), 1u) << "and keeps its value";
}

/* The cap of 16 levels needs about 4^15 nodes to be reached; this checks
 * what a realistic list shows: the list level rises by at most one per
 * insertion and each further level has probability 1/4. */
TEST(SkipList, LevelsStayWithinTheCaps)
{
    sl_list *l = sl_new(nullptr, nullptr);
    const uint32_t n = 100000;
    for (uint32_t k = 0; k < n; k++) {
        uint32_t before = l->head->level;
        ASSERT_EQ(sl_insert(l, (uintptr_t)k * 2654435761u % 1000003u + 1, k + 1), 1);
        ASSERT_LE(l->head->level, before + 1);
    }
    EXPECT_EQ(check_list(l).size(), n);

    uint32_t at_least[3] = {0, 0, 0};
    for (const sl_node *x = l->head->forward[0]; x != nullptr; x = x->forward[0])
        for (uint32_t i = 0; i < 3 && x->level > i; i++)
            at_least[i]++;
    EXPECT_NEAR(at_least[1], n / 4.0, n / 40.0);
    EXPECT_NEAR(at_least[2], n / 16.0, n / 80.0);
}

TEST(SkipList, DeleteAndReinsert)
{
    sl_list *l = sl_new(nullptr, nullptr);
    for (uintptr_t k = 1; k <= 1000; k++)
        sl_insert(l, k, k + 5000);
    for (uintptr_t k = 2; k <= 1000; k += 2)
        EXPECT_EQ(sl_delete(l, k), k + 5000);
    EXPECT_EQ(sl_delete(l, 2), 0u) << "already deleted";
    std::vector<uintptr_t> keys = check_list(l);
    ASSERT_EQ(keys.size(), 500u);
    EXPECT_TRUE(keys[0] == 1 && keys[1] == 3 && keys[499] == 999);

    uint32_t level = l->head->level;
    for (uintptr_t k = 1; k <= 1000; k += 2)
        EXPECT_EQ(sl_delete(l, k), k + 5000);
    EXPECT_EQ(l->count, 0u);
    EXPECT_EQ(l->head->level, level) << "the list level never goes down";
    EXPECT_EQ(sl_insert(l, 4, 44) + sl_insert(l, 3, 33), 2);
    EXPECT_EQ(sl_lookup(l, 4), 44u);
    EXPECT_EQ(check_list(l), (std::vector<uintptr_t>{3, 4}));
}

TEST(NumberSet, AddRemoveContains)
{
    numset *s = numset_new();
    EXPECT_FALSE(numset_contains(s, 0));
    EXPECT_EQ(numset_remove(s, 1501), 0) << "a set that never held anything";
    EXPECT_EQ(s->list, nullptr) << "queries do not create the list";

    EXPECT_EQ(numset_add(s, 1501), 1u);
    EXPECT_EQ(numset_add(s, 1501), 1502u) << "a second add finds the stored n + 1";
    EXPECT_EQ(numset_add(s, 0), 1u);
    EXPECT_TRUE(numset_contains(s, 1501) && numset_contains(s, 0));
    EXPECT_FALSE(numset_contains(s, 1500));
    EXPECT_EQ(numset_remove(s, 77), 0);
    EXPECT_EQ(s->list->count, 2u);
    EXPECT_EQ(numset_remove(s, 1501), 1);
    EXPECT_FALSE(numset_contains(s, 1501));
    EXPECT_FALSE(numset_contains(numset_new(), 0)) << "sets are independent";
}

/* Keys whose n + 1 agree in the low 32 bits are one element: the sets use
 * the skip list's default key.  Message numbers stay far below 2^32. */
TEST(NumberSet, LargestNumberAndKeysAboveBit31)
{
    numset *s = numset_new();
    EXPECT_FALSE(numset_contains(s, UINT64_MAX));
    /* 2^32 - 1 is stored as 2^32, whose key code is 0 like the wrapped
     * UINT64_MAX + 1: the query must answer before it reaches the set. */
    numset_add(s, 0xFFFFFFFFu);
    EXPECT_FALSE(numset_contains(s, UINT64_MAX));

    const uint64_t high = (uint64_t)1 << 32;
    EXPECT_EQ(numset_add(s, 7), 1u);
    EXPECT_TRUE(numset_contains(s, high + 7));
    EXPECT_EQ(numset_add(s, high + 7), 8u) << "finds the stored value of 7";
    EXPECT_EQ(numset_remove(s, (high << 5) + 7), 1);
    EXPECT_FALSE(numset_contains(s, 7));
}

TEST(SetsDeathTest, AssertionsStopTheProcess)
{
    numset *s = numset_new();
    EXPECT_DEATH(numset_add(s, UINT64_MAX), "numset_canContain\\(n\\)");
    EXPECT_DEATH(ptrset_contains(nullptr, 1), "sp != NULL");
    EXPECT_DEATH(ptrset_remove(nullptr, 1), "sp != NULL");
}
