/*
 * test_hash.cpp - hash functions, insertion, lookup and key order of the
 * fixed-size hash table.  Usage statistics and their dump are covered in
 * test_master_lists.cpp.
 */
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "hash.h"
#include "vector.h"

TEST(Hash, StringHashesTakeBytesAsSigned)
{
    EXPECT_EQ(5381u, hash_string(""));
    EXPECT_EQ(177670u, hash_string("a"));
    EXPECT_EQ(177670u * 33 + 98, hash_string("ab"));
    /* 0x80 adds -128, 0xFF adds -1. */
    EXPECT_EQ(5381u * 33 - 128, hash_string("\x80"));
    EXPECT_EQ(5381u * 33 - 1, hash_string("\xff"));
    EXPECT_EQ((5381u * 33 - 1) * 33 + 97, hash_string("\xff" "a"));

    EXPECT_EQ(hash_string("abc"), hash_string_nocase("ABC"));
    EXPECT_EQ(hash_string("mixed-1_z"), hash_string_nocase("MiXeD-1_Z"));
    /* Bytes above 0x7F are neither lowered nor taken as unsigned. */
    EXPECT_EQ(hash_string("\xc0\xff"), hash_string_nocase("\xc0\xff"));

}

TEST(Hash, InsertNeverReplaces)
{
    hash_table *h = HASH_NEW(7, hash_string, hash_strcmp);
    char key1[] = "name", key2[] = "name";
    int v1, v2;
    EXPECT_EQ(1, HASH_INSERT(h, key1, &v1));
    EXPECT_EQ(0, HASH_INSERT(h, key2, &v2)); /* equal text: same key */
    EXPECT_EQ(1u, h->count);
    EXPECT_EQ(&v1, hash_lookup(h, key2));
    EXPECT_TRUE(hash_haskey(h, "name"));
    EXPECT_FALSE(hash_haskey(h, "other"));
    EXPECT_EQ(nullptr, hash_lookup(h, "other"));

    /* A stored NULL value looks like absence to lookup, not to haskey. */
    EXPECT_EQ(1, HASH_INSERT(h, "nothing", nullptr));
    EXPECT_EQ(nullptr, hash_lookup(h, "nothing"));
    EXPECT_TRUE(hash_haskey(h, "nothing"));

    /* The default functions work on pointer identity. */
    hash_table *ids = HASH_NEW(7, nullptr, nullptr);
    EXPECT_EQ(1, HASH_INSERT(ids, key1, &v1));
    EXPECT_EQ(1, HASH_INSERT(ids, key2, &v2));
    EXPECT_EQ(&v1, hash_lookup(ids, key1));
    EXPECT_EQ(&v2, hash_lookup(ids, key2));
    EXPECT_FALSE(hash_haskey(ids, "name"));

    /* Case-insensitive tables find any spelling. */
    hash_table *nc = HASH_NEW(13, hash_string_nocase, hash_stricmp);
    EXPECT_EQ(1, HASH_INSERT(nc, "Alerts", &v1));
    EXPECT_EQ(0, HASH_INSERT(nc, "ALERTS", &v2));
    EXPECT_EQ(&v1, hash_lookup(nc, "alerts"));
}

TEST(Hash, KeysComeBucketByBucketInInsertionOrder)
{
    /* voidhash of these small "pointers" is their value: odd keys fall into
     * bucket 1, even ones into bucket 0. */
    hash_table *h = HASH_NEW(2, nullptr, nullptr);
    for (uintptr_t k = 1; k <= 5; k++) HASH_INSERT(h, (void *)k, (void *)(k * 10));
    vector *keys = hash_keys(h);
    std::vector<uintptr_t> order;
    for (uint32_t i = 0; i < vec_size(keys); i++) order.push_back((uintptr_t)vec_get(keys, i));
    EXPECT_EQ((std::vector<uintptr_t>{2, 4, 1, 3, 5}), order);
    for (uintptr_t k = 1; k <= 5; k++) EXPECT_EQ((void *)(k * 10), hash_lookup(h, (void *)k));
    vec_free(keys);
}

TEST(HashDeathTest, ZeroBucketsFailTheAssertion)
{
    EXPECT_DEATH(HASH_NEW(0, nullptr, nullptr), "hash\\.cpp:[0-9]+.*Assertion `size != 0' failed");
}
