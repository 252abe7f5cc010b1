/*
 * msgcat.cpp - the message catalogue: the embedded text, message files and
 * the lookup of an alert number.
 *
 * The catalogue is a vector indexed by alert number.  It is built once per
 * run (on the first numbered alert) from the embedded catalogue text, with
 * the entries of at most one message file replacing embedded entries number
 * by number.
 *
 * Invariants: a number the embedded text lacks is never in the catalogue; a
 * message file's text takes the same printf arguments as the embedded text
 * it replaces (or a leading part of them), since callers pass the arguments
 * the embedded text asks for; entries and their cached texts are never freed.
 */
#include "msgcat.h"


#include <cassert>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "alloc.h"
#include "kvinstdir.h"
#include "registry.h"
#include "stringcache.h"
#include "trace.h"
#include "vector.h"
#include "werror.h"

/* The installed catalogue; NULL until load_edf succeeds. */
static vector *msg_catalogue;

static const char MSG_DEFAULT_TEXT[] =
    "An error, warning or message was generated, but no description is available";

/* Message files are read in pieces of this many characters: a catalogue line
 * is never longer, so an expanded text always fits the alert buffers; the rest
 * of a longer line is read as a line of its own. */
constexpr size_t MSG_PIECE_CHARS = 255;

/* Catalogue slots allocated at once: one past the highest number of the
 * embedded catalogue (2216), so that building it never regrows the vector. */
constexpr uint32_t MSG_CATALOGUE_SLOTS = 2217;

struct msg_language {
    unsigned number;
    const char *code;
};

/* number  code */
static constexpr msg_language msg_languages[] = {
    {7, "de"},
    {9, "en"},
    {12, "fr"},
};

const char *lang_code(unsigned lang)
{
    for (const msg_language &l : msg_languages) {
        if (l.number == lang) return l.code;
    }
    return "en";
}

/* ---- finding the message file ------------------------------------------ */

/* What findMsgFiles collects from one directory listing. */
struct msg_search {
    const char *dir;
    const char *legacy;  /* "<lang>_msgs.txt", matched whole */
    const char *suffix;  /* "_<lang>.msgs", matched at the end */
    vector *candidates;
    unsigned found;
};

static void msg_consider(const char *name, void *ctx)
{
    msg_search *search = (msg_search *)ctx;
    if (strcmp(name, search->legacy) != 0 && !str_ends_with(name, search->suffix)) return;
    const char *path = str_path_join(search->dir, name);
    vec_append(search->candidates, path);
    DB_TRACEF("Found: %s", path);
    search->found++;
}

unsigned findMsgFiles(const char *dir, unsigned lang, vector *candidates)
{
    if (dir == nullptr || candidates == nullptr) return 0;
    const char *code = lang_code(lang);
    msg_search search = {dir, str_format("%s_msgs.txt", code), str_format("_%s.msgs", code), candidates, 0};
    DB_TRACEF("legacyMsgFile = \"%s\"", search.legacy);
    DB_TRACEF("msgFileSuffix = \"%s\"", search.suffix);
    os_list_dir(dir, msg_consider, &search);
    DB_TRACEF("numFound = %u", search.found);
    return search.found;
}

/* The version is the base name read as a decimal number.  Reading stops at
 * the first non-digit, so cutting the name after its last '.' first changes
 * nothing; a name that does not start with a digit has version 0. */
uint64_t getMsgFileVersion(const char *name)
{
    assert(name != nullptr);
    const char *base = os_basename(name);
    if (!isdigit((unsigned char)base[0])) return 0;
    return strtoull(base, nullptr, 10);
}

int edf_rank(const void *slot_a, const void *slot_b)
{
    const char *a = *(const char *const *)slot_a;
    const char *b = *(const char *const *)slot_b;
    if (strcmp(a, b) == 0) return 0;
    uint64_t version_a = getMsgFileVersion(a);
    uint64_t version_b = getMsgFileVersion(b);
    if (version_a != version_b) return version_a > version_b ? -1 : 1;
    const char *ver_dir = kvinstdir(KVINSTDIR_VER);
    if (str_starts_with(b, ver_dir)) return 1;
    if (str_starts_with(a, ver_dir)) return -1;
    return strcmp(b, a);
}

/* "dat" beside the program's directory: the program's directory with its
 * trailing '.' and separators removed, then its parent joined with "dat".
 * NULL when the program's path is unknown or has no parent. */
static const char *msg_program_dat_dir(void)
{
    char *program = os_program_path();
    char *dir = os_dirname(program);
    free(program);
    if (dir == nullptr) return nullptr;
    size_t len = strlen(dir);
    while (len > 0 && (dir[len - 1] == '.' || os_is_dir_sep(dir[len - 1]))) dir[--len] = '\0';
    char *parent = os_dirname(dir);
    free(dir);
    if (parent == nullptr) return nullptr;
    /* os_dirname gives "" for the root. */
    const char *dat = str_path_join(parent[0] != '\0' ? parent : OS_DIR_SEP_STR, "dat");
    free(parent);
    return dat;
}

static unsigned msg_find_in_cwd(unsigned lang, vector *candidates)
{
    char *cwd = os_getcwd();
    unsigned found = findMsgFiles(cwd, lang, candidates);
    free(cwd);
    return found;
}

const char *msg_filename(unsigned lang)
{
    DB_ENTERF("msg_filename", "lnum = %lu", (unsigned long)lang);
    vector *candidates = VEC_NEW();
    unsigned found = findMsgFiles(reg_instdir(REG_DAT), lang, candidates);
    if (found == 0) found = findMsgFiles(msg_program_dat_dir(), lang, candidates);
    if (found == 0) found = msg_find_in_cwd(lang, candidates);
    vec_append(candidates, MSGCAT_BUILTIN_NAME);
    if (found != 0) vec_sort(candidates, edf_rank);
    const char *name = (const char *)vec_get(candidates, 0);
    vec_free(candidates);
    DB_EXITF("msg_filename", "\"%s\"", name);
    return name;
}

/* ---- parsing catalogue lines ------------------------------------------- */

/* One catalogue line being parsed: [p, end), its newline excluded. */
struct msg_line {
    const char *p;
    const char *end;
    uint32_t number;     /* line number, from 1, comments included */
    const char *source;  /* the file being read (the built-in name for the embedded text) */
};

static void msg_malformed(const msg_line *l)
{
    alert_typed(ALERT_MALFORMED_LINE, "M", "Malformed error information on line %u, in file %s\n",
                l->number, l->source);
}

static bool msg_is_blank(char c)
{
    return c == ' ' || c == '\t';
}

static void msg_skip_blanks(msg_line *l)
{
    while (l->p < l->end && msg_is_blank(*l->p)) l->p++;
}

/* Moves past one blank-separated field; returns where it started. */
static const char *msg_take_field(msg_line *l)
{
    const char *start = l->p;
    while (l->p < l->end && !msg_is_blank(*l->p)) l->p++;
    return start;
}

/* The field [p, end) read as atoi reads it: white space (a CR, VT or FF can
 * stand inside a blank-separated field), an optional sign, then digits up to
 * the first non-digit.  Saturates instead of overflowing, so a hostile run of
 * digits reads as a huge value, never as a small one. */
static int32_t msg_atoi(const char *p, const char *end)
{
    while (p < end && isspace((unsigned char)*p)) p++;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int64_t value = 0;
    for (; p < end && isdigit((unsigned char)*p); p++) {
        value = value * 10 + (*p - '0');
        if (value > INT32_MAX) value = INT32_MAX;
    }
    return (int32_t)(negative ? -value : value);
}

/* Reads the number and stops at the type field.  A comment gives false
 * silently; a line without a number token, with a number outside 0..10000 or
 * without a type field is reported and gives false. */
static bool msg_parse_head(msg_line *l, uint32_t *number)
{
    if (l->p < l->end && *l->p == '#') return false;
    msg_skip_blanks(l);
    const char *token = msg_take_field(l);
    int32_t value = msg_atoi(token, l->p);
    bool has_token = token != l->p;
    msg_skip_blanks(l);
    if (!has_token || value < 0 || value > (int32_t)MSGCAT_MAX_NUMBER || l->p == l->end) {
        msg_malformed(l);
        return false;
    }
    *number = (uint32_t)value;
    return true;
}

/* Fills `parsed` from a line whose head was read: type and level from the
 * type field, the text after the one blank or tab that ends it (further
 * blanks belong to the text).  An unrecognised type is reported and kept as
 * ALERT_UNSET; a line without text is reported and gives false. */
static bool msg_parse_entry(msg_line *l, uint32_t number, alert_entry *parsed)
{
    const char *field = msg_take_field(l);
    *parsed = {ALERT_UNSET, number, nullptr, 0};
    switch (*field) {
    case 'F': case 'f': parsed->type = ALERT_FATAL; break;
    case 'E': case 'e': parsed->type = ALERT_ERROR; break;
    case 'M': case 'm': parsed->type = ALERT_MESSAGE; break;
    default:
        if (isdigit((unsigned char)*field) || *field == '-') {
            parsed->type = ALERT_WARNING;
            parsed->level = msg_atoi(field, l->p);
        } else {
            msg_malformed(l);
        }
    }
    if (l->end - l->p < 2) {
        msg_malformed(l);
        return false;
    }
    parsed->text = str_nsave(l->p + 1, (size_t)(l->end - l->p - 1));
    return true;
}

/* ---- printf arguments of a text ------------------------------------------ */

/* An argument class: the conversion's group ('i' integer, 'f' floating, 's'
 * string, 'p' pointer) in the high byte, its normalised length modifier in
 * the low byte.  Arguments of different classes are passed differently. */
typedef uint16_t msg_arg_class;

/* A conversion that consumes no argument ("%%", "%m"), and one that no
 * caller's arguments can meet safely. */
constexpr msg_arg_class MSG_CLASS_NONE = 0;
constexpr msg_arg_class MSG_CLASS_BAD = 1;

/* A 255-character text holds fewer conversions than this. */
constexpr uint32_t MSG_MAX_ARGS = 128;
constexpr uint32_t MSG_ARGS_BAD = UINT32_MAX;

static msg_arg_class msg_class(char group, char length)
{
    return (msg_arg_class)(((unsigned char)group << 8) | (unsigned char)length);
}

/* Skips a length modifier and returns it normalised: 0 for none, "h" and
 * "hh" (promoted to int), 'L' for "ll", "L" and "q", 'z' for "z" and "Z". */
static char msg_length(const char **pp)
{
    const char *p = *pp;
    char length = 0;
    if (*p == 'h') {
        p += p[1] == 'h' ? 2 : 1;
    } else if (*p == 'l') {
        length = p[1] == 'l' ? 'L' : 'l';
        p += p[1] == 'l' ? 2 : 1;
    } else if (*p != '\0' && strchr("LqjzZt", *p) != nullptr) {
        length = *p == 'q' ? 'L' : *p == 'Z' ? 'z' : *p;
        p++;
    }
    *pp = p;
    return length;
}

/* The class a conversion letter consumes with `length`; MSG_CLASS_BAD for
 * "%n", wide strings and letters printf does not know. */
static msg_arg_class msg_conversion(char letter, char length)
{
    if (letter == '%' || letter == 'm') return MSG_CLASS_NONE;
    if (letter != '\0' && strchr("diouxXc", letter) != nullptr) return msg_class('i', length);
    if (letter != '\0' && strchr("eEfFgGaA", letter) != nullptr) {
        return msg_class('f', length == 'L' ? 'L' : 0);
    }
    if ((letter == 's' || letter == 'p') && length == 0) return msg_class(letter, 0);
    return MSG_CLASS_BAD;
}

/* The classes of the arguments `fmt` consumes, in order, into `classes`;
 * returns their count, or MSG_ARGS_BAD when some conversion cannot be met
 * safely by any caller. */
static uint32_t msg_arg_classes(const char *fmt, msg_arg_class *classes)
{
    uint32_t count = 0;
    for (const char *p = strchr(fmt, '%'); p != nullptr; p = strchr(p, '%')) {
        p++;
        p += strspn(p, "-+ #0'");
        for (int part = 0; part < 2; part++) {  /* width, then precision */
            if (part == 1 && *p == '.') p++;
            if (*p == '*') {
                if (count == MSG_MAX_ARGS) return MSG_ARGS_BAD;
                classes[count++] = msg_class('i', 0);
                p++;
            }
            p += strspn(p, "0123456789");
        }
        char length = msg_length(&p);
        msg_arg_class cls = msg_conversion(*p, length);
        if (cls == MSG_CLASS_BAD || count == MSG_MAX_ARGS) return MSG_ARGS_BAD;
        if (cls != MSG_CLASS_NONE) classes[count++] = cls;
        p++;
    }
    return count;
}

/* True when formatting `text` with the arguments `model` asks for is safe:
 * text consumes the same classes as model, or a leading part of them. */
static bool msg_same_arguments(const char *text, const char *model)
{
    msg_arg_class text_classes[MSG_MAX_ARGS];
    msg_arg_class model_classes[MSG_MAX_ARGS];
    uint32_t text_count = msg_arg_classes(text, text_classes);
    uint32_t model_count = msg_arg_classes(model, model_classes);
    if (text_count == MSG_ARGS_BAD || model_count == MSG_ARGS_BAD || text_count > model_count) {
        return false;
    }
    return memcmp(text_classes, model_classes, text_count * sizeof(msg_arg_class)) == 0;
}

/* ---- building the catalogue ---------------------------------------------- */

/* The catalogue of the embedded text alone, walked in place line by line.
 * Its entries share one block (a line holds at most one entry): the first
 * alert of a run pays for one allocation instead of one per entry. */
static vector *msg_parse_embedded(void)
{
    const char *p = msgcat_embedded_text;
    const char *text_end = p + msgcat_embedded_size;
    uint32_t lines = 1;
    for (const char *nl = p; (nl = (const char *)memchr(nl, '\n', (size_t)(text_end - nl))) != nullptr; nl++) {
        lines++;
    }
    alert_entry *next = (alert_entry *)alloc_zeroed(lines * (uint32_t)sizeof(alert_entry));
    vector *catalogue = VEC_NEW_SIZED(MSG_CATALOGUE_SLOTS);
    msg_line l = {nullptr, nullptr, 0, MSGCAT_BUILTIN_NAME};
    while (p < text_end) {
        const char *newline = (const char *)memchr(p, '\n', (size_t)(text_end - p));
        l.number++;
        l.p = p;
        l.end = newline != nullptr ? newline : text_end;
        p = newline != nullptr ? newline + 1 : text_end;
        uint32_t number;
        if (!msg_parse_head(&l, &number)) continue;
        if (msg_parse_entry(&l, number, next)) vec_set(catalogue, next++, number);
    }
    return catalogue;
}

/* Reads the message file's entries into `overrides` (a later line for a
 * number replaces an earlier one).  Entries for numbers the embedded
 * catalogue lacks are dropped; a text whose arguments differ from the
 * embedded text's is reported as malformed and dropped. */
static void msg_read_file(FILE *file, const char *name, const vector *embedded, vector *overrides)
{
    char piece[MSG_PIECE_CHARS + 1];
    msg_line l = {nullptr, nullptr, 0, name};
    size_t n;
    while ((n = os_read_text_piece(piece, sizeof piece, file)) != 0) {
        l.number++;
        l.p = piece;
        l.end = piece[n - 1] == '\n' ? piece + n - 1 : piece + n;
        uint32_t number;
        if (!msg_parse_head(&l, &number)) continue;
        alert_entry parsed;
        if (!msg_parse_entry(&l, number, &parsed)) continue;
        const alert_entry *model = (const alert_entry *)vec_get(embedded, number);
        if (model == nullptr) continue;
        if (!msg_same_arguments(parsed.text, model->text)) {
            msg_malformed(&l);
            continue;
        }
        alert_entry *entry = (alert_entry *)vec_get(overrides, number);
        if (entry == nullptr) {
            entry = (alert_entry *)alloc_zeroed(sizeof *entry);
            vec_set(overrides, entry, number);
        }
        *entry = parsed;
    }
}

/* Puts every override into the catalogue in place of the embedded entry
 * (which stays in its block, unused). */
static void msg_apply(vector *catalogue, const vector *overrides)
{
    for (uint32_t number = 0; number < vec_size(overrides); number++) {
        alert_entry *entry = (alert_entry *)vec_get(overrides, number);
        if (entry != nullptr) vec_set(catalogue, entry, number);
    }
}

vector *load_edf(const char *name)
{
    FILE *file = nullptr;
    if (strcmp(name, MSGCAT_BUILTIN_NAME) != 0) {
        file = fopen(name, "r");
        if (file == nullptr) return nullptr;
    }
    vector *catalogue = msg_parse_embedded();
    if (file != nullptr) {
        vector *overrides = VEC_NEW();
        msg_read_file(file, name, catalogue, overrides);
        fclose(file);
        msg_apply(catalogue, overrides);
        vec_free(overrides);
    }
    msg_catalogue = catalogue;
    return catalogue;
}

alert_entry *alert_lookup(uint32_t number)
{
    alert_entry *entry = (alert_entry *)alloc_zeroed(sizeof *entry);
    const alert_entry *found =
        msg_catalogue != nullptr ? (const alert_entry *)vec_get(msg_catalogue, number) : nullptr;
    if (found != nullptr) {
        *entry = *found;
    } else {
        *entry = {ALERT_ERROR, number, MSG_DEFAULT_TEXT, 0};
    }
    if (entry->type == ALERT_WARNING && werr_promotes(number)) entry->type = ALERT_ERROR;
    return entry;
}
