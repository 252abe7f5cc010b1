/*
 * fuzz_msgfile.cpp - the message-file line parser: load_edf on arbitrary
 * bytes written as a message file, then alert_lookup.
 *
 * A reference parser of the catalogue text format ('#' comments, the number
 * as atoi reads it in 0..10000, a type letter or warning level, the text
 * after the one blank or tab ending the type field, lines read in pieces of
 * at most 255 characters, the last line of a number winning) predicts what
 * alert_lookup gives for every number the file names: the file's entry when
 * the embedded catalogue has that number, the default error entry when it
 * lacks it.  A text with conversions may be refused (they must suit the
 * program's arguments), and the format leaves some readings open (an empty
 * text, numbers too long for an int): such lines leave their number, or
 * the whole input, unchecked until a later line settles it.
 * Malformed lines are messages: nothing here may end the process.
 */
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include <sanitizer/allocator_interface.h>

#include "alert.h"
#include "fuzz_util.h"
#include "msgcat.h"
#include "vector.h"

/* Characters of one read piece of a message file. */
constexpr size_t PIECE_CHARS = 255;

/* Decimal digits an int surely holds; longer numbers are not compared. */
constexpr size_t SAFE_DIGITS = 9;

static const char *const DEFAULT_TEXT = "An error, warning or message was generated, but no description is available";

struct ref_entry {
    uint32_t type;
    int32_t level;
    std::string text;
};

/* atoi's reading of s.  *sure is cleared for too many digits, or for white
 * space other than blank and tab in front (atoi skips CR, VT and FF, the
 * catalogue reader ends the number there; which is right is left open). */
static long read_int(const std::string &s, bool *sure)
{
    size_t i = !s.empty() && (s[0] == '-' || s[0] == '+');
    if (!s.empty() && isspace((unsigned char)s[0])) *sure = false;
    long value = 0;
    size_t digits = 0;
    for (; i < s.size() && isdigit((unsigned char)s[i]); i++, digits++) {
        if (digits < SAFE_DIGITS) value = value * 10 + (s[i] - '0');
    }
    if (digits > SAFE_DIGITS) *sure = false;
    return s[0] == '-' ? -value : value;
}

/* The next field of `line` from *at: blanks and tabs skipped, then up to
 * the next blank, tab or LF. */
static std::string next_field(const std::string &line, size_t *at)
{
    size_t i = line.find_first_not_of(" \t", *at);
    if (i == std::string::npos) i = line.size();
    *at = std::min(line.find_first_of(" \t\n", i), line.size());
    return line.substr(i, *at - i);
}

/* Reads one line (read piece) into *number and *entry; false for a comment
 * or a malformed line.  *sure is cleared when the line's reading is open. */
static bool parse_line(const std::string &line, uint32_t *number, ref_entry *entry, bool *sure, bool *input_sure)
{
    if (line.empty() || line[0] == '#') return false;
    size_t at = 0;
    std::string num = next_field(line, &at);
    if (num.empty()) return false;
    long n = read_int(num, input_sure);
    std::string field = next_field(line, &at);
    if (n < 0 || n > (long)MSGCAT_MAX_NUMBER || field.empty() || at == line.size() || line[at] == '\n') return false;
    std::string text = line.substr(at + 1);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    *number = (uint32_t)n;
    *entry = {ALERT_UNSET, 0, text};
    *sure = !text.empty();
    switch (field[0]) {
    case 'F': case 'f': entry->type = ALERT_FATAL; break;
    case 'E': case 'e': entry->type = ALERT_ERROR; break;
    case 'M': case 'm': entry->type = ALERT_MESSAGE; break;
    default:
        if (isdigit((unsigned char)field[0]) || field[0] == '-') {
            entry->type = ALERT_WARNING;
            entry->level = (int32_t)read_int(field, input_sure);
        }
    }
    return true;
}

/* What alert_lookup gives for one number, when it is known. */
struct ref_outcome {
    ref_entry entry;
    bool checked;
};

/* Applies the lines of a catalogue text to `table`.  With `base` (the
 * embedded entries) numbers the base lacks keep the default entry. */
static void apply_text(const uint8_t *data, size_t size, const std::map<uint32_t, ref_outcome> *base,
                       std::map<uint32_t, ref_outcome> &table, bool *input_sure)
{
    uint32_t n;
    ref_entry entry;
    bool sure;
    for (const std::string &line : fz_lines(data, size)) {
        for (size_t at = 0; at < line.size(); at += PIECE_CHARS) {
            if (!parse_line(line.substr(at, PIECE_CHARS), &n, &entry, &sure, input_sure)) continue;
            if (base && !base->count(n)) table[n] = {{ALERT_ERROR, 0, DEFAULT_TEXT}, true};
            else table[n] = {entry, sure && entry.text.find('%') == std::string::npos};
        }
    }
}

static const std::map<uint32_t, ref_outcome> &embedded(void)
{
    static std::map<uint32_t, ref_outcome> entries;
    bool sure = true;
    if (entries.empty())
        apply_text((const uint8_t *)msgcat_embedded_text, msgcat_embedded_size, nullptr, entries, &sure);
    return entries;
}

static void check_lookup(uint32_t number, const ref_entry &r)
{
    alert_entry *e = alert_lookup(number);
    fz_check(e && e->number == number, "lookup gives the number asked for");
    fz_check(e->type == r.type && e->level == r.level && e->text && r.text == e->text,
             "type, level and text as the reference parser reads them");
    free(e);
}

/* The catalogue has no release operation; a second load drops the first.
 * So that a long run does not grow without bound, the replaced one is freed
 * here: its vector, and every entry that begins a heap block (entries inside
 * a shared block go with the block's first entry; tools/lsan.supp names the
 * blocks none of whose entries begins them). */
static void free_catalogue(vector *catalogue)
{
    std::set<void *> blocks;
    for (uint32_t i = 0; i < vec_size(catalogue); i++) {
        void *entry = vec_get(catalogue, i);
        if (entry && __sanitizer_get_ownership(entry)) blocks.insert(entry);
    }
    for (void *block : blocks) free(block);
    vec_free(catalogue);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static vector *previous;
    fz_enter_scratch();
    fz_write_file("fuzz_en.msgs", data, size);
    vector *installed = load_edf("fuzz_en.msgs");
    fz_leave_scratch();
    fz_check(installed != nullptr, "a readable message file installs a catalogue");
    if (previous) free_catalogue(previous);
    previous = installed;
    if (!fz_modelled(data, size, PIECE_CHARS + 1)) return 0;

    bool sure = true;
    std::map<uint32_t, ref_outcome> expected;
    apply_text(data, size, &embedded(), expected, &sure);
    if (!sure) return 0;
    for (const auto &[number, outcome] : expected) {
        if (outcome.checked) check_lookup(number, outcome.entry);
    }
    /* Embedded entries the file leaves alone keep their reading. */
    for (uint32_t number : {1u, 908u, 2216u}) {
        auto it = embedded().find(number);
        if (it != embedded().end() && !expected.count(number)) check_lookup(number, it->second.entry);
    }
    return 0;
}
