/*
 * test_vector.cpp - growth, insertion, iteration, copying and misuse of the
 * tracked vector.  The master-list dump is covered in test_master_lists.cpp.
 */
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "vector.h"

/* Distinct, recognisable item pointers. */
static void *item(uintptr_t n) { return (void *)(n * 16 + 16); }
static uintptr_t item_id(void *p) { return ((uintptr_t)p - 16) / 16; }

static std::vector<uintptr_t> ids_of(vector *v)
{
    std::vector<uintptr_t> ids;
    for (uint32_t i = 0; i < vec_size(v); i++) ids.push_back(item_id(vec_get(v, i)));
    return ids;
}

TEST(Vector, GrowsOnTheAppendThatFindsItFull)
{
    vector *v = VEC_NEW();
    EXPECT_EQ(nullptr, v->data);

    std::vector<uint32_t> caps;
    for (uintptr_t i = 0; i < 41; i++) {
        vec_append(v, item(i));
        caps.push_back(v->capacity);
    }
    /* The 10th append fills, the 11th grows. */
    EXPECT_EQ(10u, caps[0]);
    EXPECT_EQ(10u, caps[9]);
    EXPECT_EQ(20u, caps[10]);
    EXPECT_EQ(40u, caps[20]);
    EXPECT_EQ(80u, caps[40]);
    EXPECT_EQ(item(40), vec_get(v, 40));
    vec_free(v);

    vector *s = VEC_NEW_SIZED(3);
    for (uintptr_t i = 0; i < 7; i++) vec_append(s, item(i));
    EXPECT_EQ(12u, s->capacity);
    vec_free(s);
}

TEST(Vector, SetGetAndBounds)
{
    vector *v = VEC_NEW();
    vec_set(v, item(7), 25);
    EXPECT_EQ(40u, v->capacity);
    EXPECT_EQ(26u, vec_size(v));
    for (uint32_t i = 0; i < 25; i++) EXPECT_EQ(nullptr, vec_get(v, i)) << i;
    EXPECT_EQ(item(7), vec_get(v, 25));
    EXPECT_EQ(nullptr, vec_get(v, 26));
    EXPECT_EQ(nullptr, vec_get(v, UINT32_MAX));

    vec_free(v);

    /* An index equal to a capacity step needs the next step. */
    vector *edge = VEC_NEW();
    vec_set(edge, item(1), 10);
    EXPECT_EQ(20u, edge->capacity);
    vec_set(edge, item(2), 20);
    EXPECT_EQ(40u, edge->capacity);
    vec_free(edge);

    /* A full vector grows even when vec_set only overwrites a slot. */
    vector *full = VEC_NEW();
    for (uintptr_t i = 0; i < 10; i++) vec_append(full, item(i));
    vec_set(full, item(99), 4);
    EXPECT_EQ(20u, full->capacity);
    EXPECT_EQ(10u, vec_size(full));
    EXPECT_EQ(item(99), vec_get(full, 4));
    vec_set(full, item(10), 10); /* at the count: extends it */
    EXPECT_EQ(11u, vec_size(full));
    vec_free(full);

    EXPECT_EQ(0u, vec_size(nullptr));
    vec_free(nullptr);
}

TEST(Vector, InsertShiftsAndClamps)
{
    vector *v = VEC_NEW();
    EXPECT_EQ(0u, vec_insert(v, item(1), 5)); /* clamped: appends */
    EXPECT_EQ(1u, vec_insert(v, item(3), 100));
    EXPECT_EQ(1u, vec_insert(v, item(2), 1));
    EXPECT_EQ(0u, vec_insert(v, item(0), 0));
    EXPECT_EQ((std::vector<uintptr_t>{0, 1, 2, 3}), ids_of(v));

    /* Inserting into a full vector grows it and keeps every item. */
    for (uintptr_t i = 4; i < 10; i++) vec_append(v, item(i));
    vec_insert(v, item(42), 5);
    EXPECT_EQ(20u, v->capacity);
    EXPECT_EQ((std::vector<uintptr_t>{0, 1, 2, 3, 4, 42, 5, 6, 7, 8, 9}), ids_of(v));
    vec_free(v);
}

TEST(Vector, InsertDuringIterationKeepsThePlace)
{
    vector *v = VEC_NEW();
    for (uintptr_t i = 0; i < 4; i++) vec_append(v, item(i));

    std::vector<uintptr_t> seen;
    void *it;
    vec_for_each(v, it) {
        uintptr_t id = item_id(it);
        seen.push_back(id);
        if (id == 1) {
            vec_insert(v, item(10), 0);  /* before the position: not visited */
            vec_insert(v, item(11), 3);  /* at the position itself: not visited */
            vec_insert(v, item(12), 10); /* at the end: visited */
        }
    }
    EXPECT_EQ((std::vector<uintptr_t>{0, 1, 2, 3, 12}), seen);
    EXPECT_EQ((std::vector<uintptr_t>{10, 0, 1, 11, 2, 3, 12}), ids_of(v));
    EXPECT_EQ(nullptr, v->iterator);
    vec_free(v);
}

TEST(Vector, NestedAndAbandonedIteration)
{
    vector *v = VEC_NEW();
    for (uintptr_t i = 0; i < 3; i++) vec_append(v, item(i));

    std::vector<std::string> pairs;
    void *outer;
    void *inner;
    vec_for_each(v, outer) {
        vec_for_each(v, inner) pairs.push_back(std::to_string(item_id(outer)) + std::to_string(item_id(inner)));
    }
    EXPECT_EQ((std::vector<std::string>{"00", "01", "02", "10", "11", "12", "20", "21", "22"}), pairs);
    EXPECT_EQ(nullptr, v->iterator);

    /* Leaving a loop through vec_iter_end(v, 0) pops its iterator, so the
     * enclosing loop resumes where it was. */
    std::vector<uintptr_t> outer_seen;
    vec_for_each(v, outer) {
        outer_seen.push_back(item_id(outer));
        vec_for_each(v, inner) {
            if (item_id(inner) == 1) {
                vec_iter_end(v, 0);
                break;
            }
        }
    }
    EXPECT_EQ((std::vector<uintptr_t>{0, 1, 2}), outer_seen);
    EXPECT_EQ(nullptr, v->iterator);

    /* At the end, next gives NULL without advancing; a later append is
     * still reached by the same iterator.  Freeing with it open is allowed. */
    vec_iter_start(v);
    for (int i = 0; i < 3; i++) vec_iter_next(v);
    EXPECT_EQ(nullptr, vec_iter_next(v));
    vec_append(v, item(3));
    EXPECT_EQ(item(3), vec_iter_next(v));
    vec_free(v);

    /* A NULL vector iterates as empty. */
    vector *none = nullptr;
    int runs = 0;
    vec_for_each(none, inner) runs++;
    EXPECT_EQ(0, runs);
    EXPECT_EQ(nullptr, vec_iter_next(nullptr));
    EXPECT_FALSE(vec_iter_more(nullptr));
}

TEST(Vector, CopyAndAppendAll)
{
    EXPECT_EQ(nullptr, VEC_COPY(nullptr));

    vector *v = VEC_NEW_SIZED(4);
    for (uintptr_t i = 0; i < 5; i++) vec_append(v, item(i));
    vector *c = VEC_COPY(v);
    EXPECT_EQ(8u, c->capacity);
    EXPECT_EQ(4u, c->initial);
    EXPECT_EQ(ids_of(v), ids_of(c));
    vec_set(c, item(9), 0);
    EXPECT_EQ(item(0), vec_get(v, 0)); /* shallow copy, separate slots */

    /* A vector that never grew copies into an empty array and grows normally. */
    vector *empty = VEC_NEW();
    vector *ec = VEC_COPY(empty);
    EXPECT_EQ(0u, ec->capacity);
    vec_append(ec, item(1));
    EXPECT_EQ(10u, ec->capacity);

    EXPECT_EQ(5u, vec_append_all(ec, v));
    EXPECT_EQ((std::vector<uintptr_t>{1, 0, 1, 2, 3, 4}), ids_of(ec));

    /* Appending a vector to itself doubles it once. */
    EXPECT_EQ(6u, vec_append_all(ec, ec));
    EXPECT_EQ((std::vector<uintptr_t>{1, 0, 1, 2, 3, 4, 1, 0, 1, 2, 3, 4}), ids_of(ec));

    vec_free(v);
    vec_free(c);
    vec_free(empty);
    vec_free(ec);
}

TEST(Vector, CopyIsTrackedOnlyWhenItsSourceIs)
{
    vector *before = VEC_NEW();
    vec_set_tracking(true);
    vector *after = VEC_NEW();
    EXPECT_EQ(nullptr, before->record);
    EXPECT_NE(nullptr, after->record);

    vector *copy_untracked = VEC_COPY(before);
    EXPECT_EQ(nullptr, copy_untracked->record);

    vec_set_tracking(false);
    vector *copy_tracked = VEC_COPY(after);
    EXPECT_NE(nullptr, copy_tracked->record);
    EXPECT_NE(after->record, copy_tracked->record);
    EXPECT_EQ(nullptr, VEC_NEW()->record);
}

TEST(VectorDeathTest, MisuseFailsTheAssertion)
{
    vector *v = VEC_NEW();
    vec_append(v, item(1));
    EXPECT_DEATH(vec_iter_more(v), "vector\\.cpp:[0-9]+.*Assertion `p->iterator != NULL' failed");
    EXPECT_DEATH(vec_append(nullptr, item(1)), "vector\\.cpp:[0-9]+.*Assertion `p != NULL' failed");
    EXPECT_DEATH(vec_append_all(v, nullptr), "Assertion `n != NULL' failed");
    EXPECT_DEATH(vec_iter_end(nullptr, 1), "Assertion `more == 0' failed");
    EXPECT_DEATH(VEC_NEW_SIZED(0), "Assertion `initial != 0' failed");
    vec_free(v);
}
