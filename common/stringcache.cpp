/*
 * stringcache.cpp - the string cache and the string utilities built on it.
 *
 * Every string the program builds at run time is interned here, so texts are
 * compared by pointer and nobody frees them.  Operations build their result in
 * one shared scratch buffer and finish by caching it.
 *
 * The cache is indexed by an open-addressing table (linear probing over a
 * power-of-two slot array that doubles when half full) rather than by a
 * fixed-size chained hash table: a build tool's "@" file can hold a million
 * distinct options, and interning each must stay O(1) at any count.
 *
 * Invariants:
 *  - Every indexed string is a copy that is never modified and never freed;
 *    two cached strings with equal contents are the same pointer.  Copies
 *    are carved one after another from TEXT_CHUNK-byte chunks and from the
 *    blocks of outgrown indexes (g_chunk_at and g_chunk_left describe the
 *    unused end of the newest), except texts longer than TEXT_OWN_BLOCK,
 *    which get a block of their own.
 *  - g_texts holds the g_cached strings; every slot in use names one of them
 *    and each is named by exactly one slot.
 *  - At most half of the index slots are in use, so every probe ends at an
 *    empty slot; a slot keeps its string's cache_hash value, so probes
 *    compare texts only on a full hash match and growth never rehashes.
 *  - A string's home slot is given by the top bits of its hash's Fibonacci
 *    product, so the slots keep the order of the homes: growth moves the
 *    entries of slot i to about 2i and re-inserts them in one forward sweep
 *    through both tables instead of at random places.
 *  - The scratch buffer is g_scratch_size bytes (0 and NULL before first
 *    use), never shrinks, and its contents mean nothing between operations.
 *    No result ever points into it.
 */
#include "stringcache.h"

#include <cassert>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "alloc.h"
#include "vector.h"

/* The first index size: 1024 slots (16 KiB) hold the few hundred strings of
 * an ordinary run without growing, and cost little to clear at start-up. */
constexpr uint32_t CACHE_INITIAL_SLOTS = 1024;

/* The smallest scratch buffer: one allocation covers every ordinary path,
 * option and message, so most runs never grow it. */
constexpr uint32_t SCRATCH_FLOOR = 4096;

/* Cached texts are never freed, so they are carved from chunks rather than
 * allocated one by one: a million-word "@" file then costs a few dozen heap
 * calls instead of a million, and its texts lie packed in the order cached.
 * 64 KiB is far more than an ordinary run caches, yet small beside the
 * index of a huge one. */
constexpr size_t TEXT_CHUNK = 64 * 1024;

/* A text of more bytes than this is given its own block: carving it would
 * abandon the rest of a chunk that could hold many ordinary texts. */
constexpr size_t TEXT_OWN_BLOCK = TEXT_CHUNK / 16;

/* str_read_line reads pieces of at most READ_PIECE - 1 bytes; a piece of that
 * length may be the front of a longer line. */
constexpr size_t READ_PIECE = 1024;

/* Eight bytes a slot: the index of a huge "@" file's strings is its largest
 * block, and it is touched at random. */
struct cache_slot {
    uint32_t hash;     /* cache_hash of the text */
    uint32_t text;     /* 1 + the text's place in g_texts; 0 for an empty slot */
};

static cache_slot *g_slots;     /* the index; NULL before the first string */
static uint32_t g_slot_count;   /* a power of two, 2^(32 - g_slot_shift) */
static uint32_t g_slot_shift;
static const char **g_texts;    /* the cached strings in the order cached */
static uint32_t g_texts_cap;
static uint32_t g_cached;       /* strings in the index and in g_texts */
static char *g_chunk_at;        /* the free end of the newest text chunk */
static size_t g_chunk_left;     /* its bytes */
static char *g_scratch;
static uint32_t g_scratch_size;

/* The index's own hash of the `len` bytes at `text`.  Nothing outside the
 * cache sees it, so it takes eight bytes a step rather than one as
 * hash_string does: hashing is a good part of interning a huge "@" file. */
static uint32_t cache_hash(const char *text, size_t len)
{
    const uint64_t mul = 0x9e3779b97f4a7c15u;
    uint64_t h = len * mul;
    uint64_t word;
    for (; len >= 8; text += 8, len -= 8) {
        memcpy(&word, text, 8);
        h = (h ^ word) * mul;
        h ^= h >> 32;
    }
    word = 0;
    memcpy(&word, text, len);
    h = (h ^ word) * mul;
    h ^= h >> 29;
    return (uint32_t)(h ^ (h >> 32));
}

/* The slot where a probe for `hash` starts: Fibonacci hashing spreads the
 * multiplicative string hash over the whole power-of-two range. */
static uint32_t cache_home(uint32_t hash)
{
    return (uint32_t)(hash * 2654435769u) >> g_slot_shift;
}

/* The slot holding `text` (hashed to `hash`), or the empty slot ending its
 * probe sequence. */
static cache_slot *cache_probe(const char *text, uint32_t hash)
{
    uint32_t mask = g_slot_count - 1;
    for (uint32_t i = cache_home(hash);; i = (i + 1) & mask) {
        cache_slot *slot = &g_slots[i];
        if (slot->text == 0 || (slot->hash == hash && strcmp(g_texts[slot->text - 1], text) == 0)) return slot;
    }
}

/* Index blocks of a large page or more come straight from the system, to be
 * backed by large pages: a huge "@" file's index is touched at random, and
 * the faults of its 4 KiB pages would cost more than the interning itself. */
static cache_slot *index_alloc(size_t bytes)
{
    return (cache_slot *)(bytes >= OS_LARGE_PAGE ? alloc_large(bytes) : alloc_zeroed((uint32_t)bytes));
}

static void index_free(cache_slot *slots, size_t bytes)
{
    if (bytes >= OS_LARGE_PAGE) os_free_large(slots, bytes);
    else free(slots);
}

/* Doubles the index (or creates it) and re-inserts every string; the
 * strings are distinct, so each goes to the first empty slot from its home. */
static void cache_grow(void)
{
    cache_slot *old = g_slots;
    uint32_t old_count = g_slot_count;
    if (old_count > UINT32_MAX / 2 / sizeof(cache_slot)) alloc_out_of_memory();
    g_slot_count = old ? old_count * 2 : CACHE_INITIAL_SLOTS;
    g_slot_shift = 32 - os_lowest_bit(g_slot_count);
    g_slots = index_alloc(g_slot_count * sizeof(cache_slot));
    uint32_t mask = g_slot_count - 1;
    for (uint32_t i = 0; i < old_count; i++) {
        if (old[i].text == 0) continue;
        uint32_t at = cache_home(old[i].hash);
        while (g_slots[at].text != 0) at = (at + 1) & mask;
        g_slots[at] = old[i];
    }
    /* The outgrown index is memory the process has touched already: carving
     * the next texts from it spares the page faults of fresh chunks, which
     * for a huge "@" file are a good part of the intake's cost. */
    size_t old_bytes = old_count * sizeof(cache_slot);
    if (old_bytes > g_chunk_left) {
        g_chunk_at = (char *)old;
        g_chunk_left = old_bytes;
    } else {
        index_free(old, old_bytes);
    }
}

/* A never-freed copy of the `size` bytes at `text`. */
static const char *text_copy(const char *text, size_t size)
{
    char *copy;
    if (size > TEXT_OWN_BLOCK) {
        if (size > UINT32_MAX) alloc_out_of_memory();
        copy = (char *)alloc_grow(NULL, 0, size);
    } else {
        if (size > g_chunk_left) {
            g_chunk_at = (char *)alloc_grow(NULL, 0, TEXT_CHUNK);
            g_chunk_left = TEXT_CHUNK;
        }
        copy = g_chunk_at;
        g_chunk_at += size;
        g_chunk_left -= size;
    }
    memcpy(copy, text, size);
    return copy;
}

/* The cached string equal to `text` of `len` bytes: the existing one, or a
 * new copy. */
static const char *cache_text(const char *text, size_t len)
{
    if (g_cached >= g_slot_count / 2) cache_grow();
    uint32_t hash = cache_hash(text, len);
    cache_slot *slot = cache_probe(text, hash);
    if (slot->text == 0) {
        if (g_cached == g_texts_cap) {
            uint32_t cap = g_texts_cap ? 2 * g_texts_cap : CACHE_INITIAL_SLOTS / 2;
            g_texts = (const char **)alloc_grow(g_texts, g_texts_cap * sizeof *g_texts, cap * sizeof *g_texts);
            g_texts_cap = cap;
        }
        g_texts[g_cached++] = text_copy(text, len + 1);
        *slot = {hash, g_cached};
    }
    return g_texts[slot->text - 1];
}

uint32_t str_cache_count(void)
{
    return g_cached;
}

bool str_is_cached(const char *text)
{
    return text != NULL && g_slots != NULL && cache_probe(text, cache_hash(text, strlen(text)))->text != 0;
}

/* A scratch size of `want` bytes, at least the floor and at most what the
 * 32-bit size holds. */
static uint32_t scratch_size_for(uint64_t want)
{
    if (want < SCRATCH_FLOOR)
        return SCRATCH_FLOOR;
    return want > UINT32_MAX ? UINT32_MAX : (uint32_t)want;
}

/* Replaces the scratch buffer by a zero-filled one of `size` bytes that
 * starts with the first `keep` bytes of the old one (keep <= both sizes). */
static void scratch_replace(uint32_t size, size_t keep)
{
    char *buf = (char *)alloc_zeroed(size);
    if (keep != 0)
        memcpy(buf, g_scratch, keep);
    free(g_scratch);
    g_scratch = buf;
    g_scratch_size = size;
}

/* The scratch buffer, holding at least `need` bytes; when it has to grow,
 * only its first `keep` bytes survive. */
static char *scratch_reserve(uint64_t need, size_t keep)
{
    if (need <= g_scratch_size)
        return g_scratch;
    /* No text this long fits the 32-bit size: out of memory. */
    if (need > UINT32_MAX) alloc_out_of_memory();
    scratch_replace(scratch_size_for(2 * need), keep);
    return g_scratch;
}

const char *str_save(const char *s)
{
    return s == NULL ? NULL : cache_text(s, strlen(s));
}

const char *str_nsave(const char *s, size_t n)
{
    if (s == NULL)
        return NULL;
    size_t len = strnlen(s, n);
    char *buf = scratch_reserve((uint64_t)len + 1, 0);
    memcpy(buf, s, len);
    buf[len] = '\0';
    return cache_text(buf, len);
}

const char *str_format(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const char *result = str_vformat(fmt, ap);
    va_end(ap);
    return result;
}

/* The buffer is sized from the format first (ten times its length covers
 * nearly every message), so the usual case formats once; a longer result is
 * formatted again into a buffer sized from the length vsnprintf reported. */
const char *str_vformat(const char *fmt, va_list ap)
{
    uint64_t fmt_len = strlen(fmt);
    if (g_scratch_size < 10 * fmt_len)
        scratch_replace(scratch_size_for(20 * fmt_len), 0);

    va_list again;
    va_copy(again, ap);
    int len = vsnprintf(g_scratch, g_scratch_size, fmt, ap);
    if (len < 0 || (uint32_t)len >= g_scratch_size) {
        if (len >= 0)
            scratch_reserve((uint64_t)len + 1, 0);
        len = vsnprintf(g_scratch, g_scratch_size, fmt, again);
        if (len < 0 || (uint32_t)len >= g_scratch_size) {
            fputs("vsnprintf failed in a mysterious way\n", stderr);
            abort();
        }
    }
    va_end(again);
    return cache_text(g_scratch, (size_t)len);
}

/* Caches the n bytes at a followed by the n bytes at b. */
static const char *cache_pair(const char *a, size_t alen, const char *b, size_t blen)
{
    char *buf = scratch_reserve((uint64_t)alen + blen + 1, 0);
    memcpy(buf, a, alen);
    memcpy(buf + alen, b, blen);
    buf[alen + blen] = '\0';
    return cache_text(buf, alen + blen);
}

const char *str_concat(const char *a, const char *b)
{
    if (a == NULL)
        return b;
    if (b == NULL)
        return a;
    return cache_pair(a, strlen(a), b, strlen(b));
}

const char *str_path_join(const char *dir, const char *name)
{
    if (dir == NULL || dir[0] == '\0')
        return name;
    if (name == NULL || name[0] == '\0')
        return dir;
    size_t dlen = strlen(dir);
    if (os_is_dir_sep(name[0]))
        name++;
    size_t nlen = strlen(name);
    if (os_is_dir_sep(dir[dlen - 1]))
        return cache_pair(dir, dlen, name, nlen);

    char *buf = scratch_reserve((uint64_t)dlen + nlen + 2, 0);
    memcpy(buf, dir, dlen);
    buf[dlen] = OS_DIR_SEP;
    memcpy(buf + dlen + 1, name, nlen + 1);
    return cache_text(buf, dlen + 1 + nlen);
}

/* Cached copy of s with every byte passed through `map`. */
static const char *cache_mapped(const char *s, const unsigned char map[256])
{
    size_t len = strlen(s);
    char *buf = scratch_reserve((uint64_t)len + 1, 0);
    for (size_t i = 0; i < len; i++)
        buf[i] = (char)map[(unsigned char)s[i]];
    buf[len] = '\0';
    return cache_text(buf, len);
}

/* Case maps, built on first use: the identity with `convert` applied to the
 * bytes that `is_case` accepts.  Bytes that are negative as a signed char
 * never reach the classifiers (undefined for them), so they stay unchanged;
 * the program never leaves the C locale, so only ASCII letters change. */
static unsigned char g_lower_map[256];
static unsigned char g_upper_map[256];
static bool g_case_maps_built;

static void case_map_fill(unsigned char map[256], int (*is_case)(int), int (*convert)(int))
{
    for (int c = 0; c < 256; c++)
        map[c] = (unsigned char)((signed char)c >= 0 && is_case(c) ? convert(c) : c);
}

static void case_maps_build(void)
{
    if (g_case_maps_built)
        return;
    case_map_fill(g_lower_map, isupper, tolower);
    case_map_fill(g_upper_map, islower, toupper);
    g_case_maps_built = true;
}

const char *str_lower(const char *s)
{
    case_maps_build();
    return cache_mapped(s, g_lower_map);
}

const char *str_upper(const char *s)
{
    case_maps_build();
    return cache_mapped(s, g_upper_map);
}

const char *str_translate(const char *s, const char *from, const char *to)
{
    unsigned char map[256];
    for (int c = 0; c < 256; c++)
        map[c] = (unsigned char)c;
    for (; *from != '\0' && *to != '\0'; from++, to++)
        map[(unsigned char)*from] = (unsigned char)*to;
    return cache_mapped(s, map);
}

const char *str_strip_ext(const char *s)
{
    const char *dot = strrchr(s, '.');
    if (dot == NULL || strchr(dot, OS_DIR_SEP) != NULL)
        return str_save(s);
    return str_nsave(s, (size_t)(dot - s));
}

const char *str_basename(const char *path)
{
    if (path == NULL)
        return NULL;
    const char *sep = os_last_sep(path);
    return str_save(sep != NULL ? sep + 1 : path);
}

/* An escape character standing before a quote already escapes that quote, so
 * it gets no escape of its own. */
static bool escape_before_quote(const char *p, char escape)
{
    return p[0] == escape && (p[1] == '"' || p[1] == '\'');
}

const char *str_escape(const char *s, const char *chars, char escape)
{
    if (escape == '\0')
        escape = '\\';
    bool special[256] = {};
    for (const char *c = chars; *c != '\0'; c++)
        special[(unsigned char)*c] = true;

    size_t cnt = 0;
    bool any = false;
    for (const char *p = s; *p != '\0'; p++) {
        bool hit = special[(unsigned char)*p];
        any |= hit;
        cnt += 1 + (hit && !escape_before_quote(p, escape));
    }
    if (!any)
        return str_save(s);

    char *buf = scratch_reserve((uint64_t)cnt + 1, 0);
    char *xp = buf;
    for (const char *p = s; *p != '\0'; p++) {
        if (special[(unsigned char)*p] && !escape_before_quote(p, escape))
            *xp++ = escape;
        *xp++ = *p;
    }
    assert(xp == buf+cnt);
    *xp = '\0';
    return cache_text(buf, cnt);
}

const char *str_quote(const char *s, char quote)
{
    size_t len = strlen(s);
    char *buf = scratch_reserve((uint64_t)len + 3, 0);
    buf[0] = quote;
    memcpy(buf + 1, s, len);
    buf[len + 1] = quote;
    buf[len + 2] = '\0';
    return cache_text(buf, len + 2);
}

vector *str_split(const char *s, const char *delims)
{
    vector *tokens = vec_new(__FILE__, __LINE__);
    for (;;) {
        s += strspn(s, delims);
        size_t len = strcspn(s, delims);
        if (len == 0)
            return tokens;
        vec_append(tokens, str_nsave(s, len));
        s += len;
    }
}

static bool ends_line(const char *piece, size_t len)
{
    return piece[len - 1] == '\n' || piece[len - 1] == '\r';
}

/* A short first piece is the whole line.  A full one is the front of a line
 * that may go on: the following pieces are gathered in the scratch buffer
 * until one ends in LF or CR or the file ends, so a long line costs time
 * linear in its length.  Every piece is cached as it is read. */
const char *str_read_line(FILE *stream)
{
    char piece[READ_PIECE];
    size_t got = os_read_text_piece(piece, sizeof piece, stream);
    if (got == 0)
        return NULL;
    const char *first = str_save(piece);
    if (got < READ_PIECE - 1 || ends_line(piece, got))
        return first;

    size_t used = strlen(first);
    memcpy(scratch_reserve((uint64_t)used + 1, 0), first, used);
    while ((got = os_read_text_piece(piece, sizeof piece, stream)) != 0) {
        size_t len = strlen(str_save(piece));
        memcpy(scratch_reserve((uint64_t)used + len + 1, used) + used, piece, len);
        used += len;
        if (ends_line(piece, got))
            break;
    }
    g_scratch[used] = '\0';
    return cache_text(g_scratch, used);
}

bool str_read_line_into(FILE *stream, char **buf, size_t *cap, size_t *len)
{
    size_t used = 0;
    for (bool first = true;; first = false) {
        if (*cap - used < READ_PIECE) {
            size_t grown = *cap ? 2 * *cap : READ_PIECE;
            if (grown < used + READ_PIECE) grown = used + READ_PIECE;
            *buf = (char *)alloc_grow(*buf, *cap, grown);
            *cap = grown;
        }
        char *piece = *buf + used;
        size_t got = os_read_text_piece(piece, READ_PIECE, stream);
        if (got == 0) {
            if (first)
                return false;
            break;
        }
        used += strlen(piece);
        /* Only the first piece ends the line by being short, as in
         * str_read_line: a later short piece still asks the stream once more. */
        if (ends_line(piece, got) || (first && got < READ_PIECE - 1))
            break;
    }
    (*buf)[used] = '\0';
    *len = used;
    return true;
}

bool str_starts_with(const char *s, const char *prefix)
{
    return s != NULL && prefix != NULL && strncmp(s, prefix, strlen(prefix)) == 0;
}

bool str_starts_with_nocase(const char *s, const char *prefix)
{
    return s != NULL && prefix != NULL && os_strnicmp(s, prefix, strlen(prefix)) == 0;
}

bool str_ends_with(const char *s, const char *suffix)
{
    if (s == NULL || suffix == NULL)
        return false;
    size_t slen = strlen(s);
    size_t xlen = strlen(suffix);
    return slen >= xlen && memcmp(s + slen - xlen, suffix, xlen) == 0;
}
