/*
 * stringcache.h - interned strings and the string utilities built on them.
 *
 * Every operation here that returns `const char *` returns a cached string:
 * an immutable, interned copy owned by the string cache.  Equal texts are the
 * same pointer, nothing is ever freed, and callers keep the pointers for the
 * whole run.  Results are built in one shared scratch buffer (grown
 * geometrically, 4096-byte floor) and then interned, so building a string
 * costs no allocation beyond the final copy of a new text.
 *
 * The cache's index grows with the number of strings (interning stays O(1)
 * for a million-word "@" file) and is created on first use.  Single-threaded; operations are not re-entrant.
 * NULL inputs are accepted only where noted.
 */
#ifndef KVQ_STRINGCACHE_H
#define KVQ_STRINGCACHE_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "osdep.h"

struct vector;

/* Cached copy of s; NULL gives NULL.  Does not touch the scratch buffer. */
const char *str_save(const char *s);

/* Cached copy of the first n bytes of s (fewer when s is shorter). */
const char *str_nsave(const char *s, size_t n);

/* Cached printf-style result.  A result that cannot be formatted even after
 * growing the buffer aborts with "vsnprintf failed in a mysterious way". */
const char *str_format(const char *fmt, ...) KVQ_PRINTF(1, 2);
const char *str_vformat(const char *fmt, va_list ap);

/* Cached a followed by b; a NULL side returns the other argument itself. */
const char *str_concat(const char *a, const char *b);

/* Cached dir + separator + name with exactly one separator at the seam (one
 * ending dir / one leading name is reused).  NULL or empty dir returns name
 * itself; NULL or empty name returns dir itself (not cached). */
const char *str_path_join(const char *dir, const char *name);

/* Cached copies with ASCII letters lowered / raised (other bytes unchanged). */
const char *str_lower(const char *s);
const char *str_upper(const char *s);

/* Cached s up to its last '.' when no separator follows that dot; else s. */
const char *str_strip_ext(const char *s);

/* Cached s with each byte that has a pair in from/to replaced by its partner
 * (pairs taken while both lists have characters; a later pair wins). */
const char *str_translate(const char *s, const char *from, const char *to);

/* Cached last component of path (after the separator os_last_sep finds, else
 * the whole path); NULL gives NULL. */
const char *str_basename(const char *path);

/* Cached s with `escape` (0 means backslash) before each byte found in
 * `chars`; an escape character already standing before a double or single
 * quote is copied without an escape of its own. */
const char *str_escape(const char *s, const char *chars, char escape);

/* Cached quote + s + quote; nothing inside is escaped. */
const char *str_quote(const char *s, char quote);

/* A new vector (caller frees with vec_free) of cached tokens: the maximal
 * non-empty runs of bytes not in `delims`, in order. */
vector *str_split(const char *s, const char *delims);

/* Lines are read in text mode in pieces of at most STR_LINE_PIECE bytes: a
 * piece that ends in LF or CR ends the line.  So a CR ends its line when it
 * is byte STR_LINE_PIECE - 1 (counting from 0) of a line or of a later piece
 * of it, and no LF follows.  A NUL ends the text of its line, whatever the
 * line's length: the bytes after it, up to the line's end, are not part of
 * the result. */
constexpr size_t STR_LINE_PIECE = 1023;

/* The next whole line of `stream` (any length) with its line end, cached;
 * NULL at end of file when nothing was read. */
const char *str_read_line(FILE *stream);

/* The same line as str_read_line gives, without caching anything: the text
 * goes into the caller's heap buffer *buf of *cap bytes (both may start as
 * NULL and 0; it grows with alloc_grow and stays the caller's to free), NUL
 * terminated, with its length in *len.  False at end of file when nothing
 * was read.  For readers that only look at each line once. */
bool str_read_line_into(FILE *stream, char **buf, size_t *cap, size_t *len);

/* Prefix / suffix tests; false when either argument is NULL; an empty
 * prefix or suffix matches. */
bool str_starts_with(const char *s, const char *prefix);
bool str_starts_with_nocase(const char *s, const char *prefix);
bool str_ends_with(const char *s, const char *suffix);

/* Statistics for tests and benchmarks: the number of cached strings, and
 * whether a text equal to `text` is cached. */
uint32_t str_cache_count(void);
bool str_is_cached(const char *text);

#endif /* KVQ_STRINGCACHE_H */
