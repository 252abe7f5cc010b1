/*
 * bench_foundation.cpp - costs of the foundation containers on the paths a
 * driver run exercises: appending to vectors, interning strings, and looking
 * strings up in a fixed 5077-bucket hash table of the kind the system's
 * tables are (the size the string cache once used for all its strings).
 *
 * The string cache is process-wide and never emptied, so the cases that use
 * it run in registration order:
 *   1. str_save of 100k distinct texts into an empty cache, one pass per
 *      process (Iterations(1)): compare separate runs of the program, not
 *      repetitions, which would find the texts cached already;
 *   2. hash_lookup of 100k texts in a 5077-bucket table holding them, with
 *      the table's chain statistics (the chain-walk cost of a fixed table);
 *   3. 1M str_save calls over 1000 texts that are already cached.
 */
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hash.h"
#include "stringcache.h"
#include "vector.h"

/* Texts of the shape a driver caches (option-like, 10 to 20 bytes), written
 * into one block of fixed-width slots so building them is not timed. */
enum : uint32_t { BENCH_TEXT_WIDTH = 32 };

/* The cache load the lookup figures are measured at. */
enum : uint32_t { BENCH_CACHE_TEXTS = 100000 };

struct bench_texts {
    char *block;
    uint32_t n;
};

static bench_texts bench_make_texts(const char *prefix, uint32_t n)
{
    bench_texts t = {(char *)calloc(n, BENCH_TEXT_WIDTH), n};
    for (uint32_t i = 0; i < n; i++) {
        snprintf(t.block + (size_t)i * BENCH_TEXT_WIDTH, BENCH_TEXT_WIDTH, "--%s=%u", prefix, i * 2654435761u);
    }
    return t;
}

static const char *bench_text(const bench_texts &t, uint32_t i)
{
    return t.block + (size_t)i * BENCH_TEXT_WIDTH;
}

static void BM_VecAppend1M(benchmark::State &state)
{
    int item = 0;
    for (auto _ : state) {
        vector *v = VEC_NEW();
        for (uint32_t i = 0; i < 1000000; i++) vec_append(v, &item);
        benchmark::DoNotOptimize(v->data);
        vec_free(v);
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_VecAppend1M)->Unit(benchmark::kMillisecond);

/* Chain statistics of a table: the mean chain length over all buckets and
 * the mean number of entries a successful lookup compares, sum L(L+1)/2 over
 * the chains divided by the entries. */
static void bench_chain_counters(benchmark::State &state, const hash_table *h)
{
    uint64_t compares = 0;
    uint32_t used = 0;
    for (uint32_t b = 0; b < h->size; b++) {
        uint64_t len = 0;
        for (const hash_entry *e = h->buckets[b]; e != NULL; e = e->next) len++;
        if (len != 0) used++;
        compares += len * (len + 1) / 2;
    }
    state.counters["entries"] = h->count;
    state.counters["buckets_used"] = used;
    state.counters["avg_chain"] = (double)h->count / h->size;
    state.counters["avg_compares_hit"] = h->count != 0 ? (double)compares / h->count : 0;
}

static void BM_StrSaveDistinct100k(benchmark::State &state)
{
    const uint32_t n = BENCH_CACHE_TEXTS;
    bench_texts texts = bench_make_texts("name", n);
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; i++) benchmark::DoNotOptimize(str_save(bench_text(texts, i)));
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["cached"] = str_cache_count();
    free(texts.block);
}
BENCHMARK(BM_StrSaveDistinct100k)->Iterations(1)->Unit(benchmark::kMillisecond);

static void BM_HashLookup5077At100k(benchmark::State &state)
{
    const uint32_t n = BENCH_CACHE_TEXTS;
    bench_texts texts = bench_make_texts("name", n);
    hash_table *h = HASH_NEW(5077, hash_string, hash_strcmp);
    for (uint32_t i = 0; i < n; i++) HASH_INSERT(h, bench_text(texts, i), bench_text(texts, i));

    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hash_lookup(h, bench_text(texts, i)));
        if (++i == n) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    bench_chain_counters(state, h);
}
BENCHMARK(BM_HashLookup5077At100k);

static void BM_StrSaveRepeated1M(benchmark::State &state)
{
    const uint32_t pool = 1000;
    bench_texts texts = bench_make_texts("repeat", pool);
    for (uint32_t i = 0; i < pool; i++) str_save(bench_text(texts, i));
    for (auto _ : state) {
        for (uint32_t i = 0; i < 1000000; i++) benchmark::DoNotOptimize(str_save(bench_text(texts, i % pool)));
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
    free(texts.block);
}
BENCHMARK(BM_StrSaveRepeated1M)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
