/*
 * msgcat.h - the message catalogue and message files.
 *
 * The catalogue maps an alert number (0..10000) to {type, number, text,
 * level}.  It is built once per run from the embedded catalogue text and at
 * most one message file found on disk, whose entries replace embedded ones
 * number by number (numbers the embedded catalogue lacks are ignored).
 *
 * Catalogue text format (embedded and files alike): '#' lines are comments;
 * other lines are "number type text": number as atoi reads it (0..10000);
 * type F/f fatal, E/e error, M/m message, a digit or '-' a warning whose level
 * is the field's value; the text is everything after the single blank or tab
 * ending the type field.  Files are read in pieces of at most 255 characters.
 * A malformed line is reported as alert 3 (type "M") and skipped; a line with
 * an unrecognised type letter is reported and still stored as ALERT_UNSET.
 */
#ifndef KVQ_MSGCAT_H
#define KVQ_MSGCAT_H

#include <cstdint>

#include "alert.h"

struct vector;

struct alert_entry {
    uint32_t type;     /* alert_type */
    uint32_t number;
    const char *text;  /* cached string, printf-style, may hold "%m" */
    int32_t level;     /* warning level; 0 for other types */
};

/* Catalogue version of the embedded text and its built-in name. */
constexpr uint64_t MSGCAT_VERSION = 20240725155939ULL;
constexpr const char *MSGCAT_BUILTIN_NAME = "20240725155939_en.msgs";
constexpr uint32_t MSGCAT_MAX_NUMBER = 10000;

/* The embedded catalogue text (generated into the build from
 * common/catalogue/kvq_en.msgs) and its length in bytes. */
extern const char msgcat_embedded_text[];
extern const uint32_t msgcat_embedded_size;

/* 7 "de", 9 "en", 12 "fr", anything else "en". */
const char *lang_code(unsigned lang);

/* Appends to `candidates` the full paths of the message files in `dir`
 * ("<lang>_msgs.txt" exactly, or names ending "_<lang>.msgs"); returns how
 * many.  0 for a NULL argument or a directory that cannot be listed. */
unsigned findMsgFiles(const char *dir, unsigned lang, vector *candidates);

/* The catalogue version of a message file name: its base name cut after the
 * last '.', read with strtoull base 10 (0 when it starts with no digit). */
uint64_t getMsgFileVersion(const char *name);

/* vec_sort comparator over candidate slots: higher version first, then names
 * inside the installation's version directory, then descending bytes. */
int edf_rank(const void *slot_a, const void *slot_b);

/* The catalogue source to load: the best message file of the first directory
 * with matches (installation dat, program's parent/dat, current directory),
 * or MSGCAT_BUILTIN_NAME. */
const char *msg_filename(unsigned lang);

/* Builds and installs the catalogue from `name` and the embedded text (the
 * embedded text alone for the built-in name).  Returns the catalogue vector,
 * or NULL (nothing installed) when the file cannot be opened. */
vector *load_edf(const char *name);

/* A new entry for `number` (caller frees it): the catalogue's, or the default
 * error "An error, warning or message was generated, but no description is
 * available"; warnings go through the warning-as-error promotion. */
alert_entry *alert_lookup(uint32_t number);

#endif /* KVQ_MSGCAT_H */
