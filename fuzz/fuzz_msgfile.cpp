/*
 * fuzz_msgfile.cpp - the message-file line parser: load_edf on arbitrary
 * bytes written as a message file, then alert_lookup.
 *
 * A reference parser of the catalogue text format (written here from its
 * rules: '#' comments, number as atoi reads it in 0..10000, type letter or
 * warning level, the text after the one blank or tab ending the type field,
 * lines read in pieces of at most 255 characters, the last line of a number
 * winning) predicts the entry alert_lookup gives for every number the file
 * names: the file's entry when the embedded catalogue has that number (or,
 * for a text with conversions, possibly the entry before it: the catalogue
 * refuses conversions that do not suit the program's arguments), the default
 * error entry when the catalogue lacks it.  Lines whose reading the
 * format leaves open (an empty text, numbers too long for an int) make their
 * number, or the whole input, unchecked; every input still runs under the
 * sanitizers.  Malformed lines are messages, never counted and never fatal,
 * so nothing here may end the process.
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

/* One catalogue line as the reference parser reads it. */
struct ref_line {
    uint32_t number;
    ref_entry entry;
    bool sure;  /* false: the format leaves this line's reading open */
};

/* atoi's reading of s.  *sure is cleared when it holds too many digits for
 * an int, or begins with white space other than blank and tab (CR, VT, FF:
 * atoi skips them, the catalogue reader takes them as the end of the
 * number; which reading is right is an open question, so it is not
 * compared). */
static long read_int(const std::string &s, bool *sure)
{
    size_t i = 0;
    if (!s.empty() && isspace((unsigned char)s[0])) *sure = false;
    bool negative = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) i++;
    long value = 0;
    size_t digits = 0;
    for (; i < s.size() && isdigit((unsigned char)s[i]); i++, digits++) {
        if (digits < SAFE_DIGITS) value = value * 10 + (s[i] - '0');
    }
    if (digits > SAFE_DIGITS) *sure = false;
    return negative ? -value : value;
}

static bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

/* Reads one line (read piece); false for a comment or a malformed line.
 * *input_sure is cleared when a number too long for an int was read: which
 * entry that line lands on is then unknown. */
static bool parse_line(const std::string &line, ref_line *out, bool *input_sure)
{
    if (line.empty() || line[0] == '#') return false;
    size_t i = 0;
    while (i < line.size() && is_blank(line[i])) i++;
    size_t start = i;
    while (i < line.size() && !is_blank(line[i]) && line[i] != '\n') i++;
    if (i == start) return false;
    long number = read_int(line.substr(start, i - start), input_sure);
    if (number < 0 || number > (long)MSGCAT_MAX_NUMBER) return false;

    while (i < line.size() && is_blank(line[i])) i++;
    start = i;
    while (i < line.size() && !is_blank(line[i]) && line[i] != '\n') i++;
    if (i == start || i == line.size() || line[i] == '\n') return false;
    std::string field = line.substr(start, i - start);
    std::string text = line.substr(i + 1);
    if (!text.empty() && text.back() == '\n') text.pop_back();

    *out = {(uint32_t)number, {ALERT_UNSET, 0, text}, !text.empty()};
    switch (field[0]) {
    case 'F': case 'f': out->entry.type = ALERT_FATAL; break;
    case 'E': case 'e': out->entry.type = ALERT_ERROR; break;
    case 'M': case 'm': out->entry.type = ALERT_MESSAGE; break;
    default:
        if (isdigit((unsigned char)field[0]) || field[0] == '-') {
            out->entry.type = ALERT_WARNING;
            out->entry.level = (int32_t)read_int(field, input_sure);
        }
    }
    return true;
}

/* The lines of a catalogue text, longer lines cut into read pieces. */
static std::vector<ref_line> parse_text(const std::string &text, bool *input_sure)
{
    std::vector<ref_line> lines;
    ref_line l;
    for (const std::string &line : fz_lines(text)) {
        for (size_t at = 0; at < line.size(); at += PIECE_CHARS) {
            if (parse_line(line.substr(at, PIECE_CHARS), &l, input_sure)) lines.push_back(l);
        }
    }
    return lines;
}

static const std::map<uint32_t, ref_entry> &embedded(void)
{
    static std::map<uint32_t, ref_entry> entries;
    if (entries.empty()) {
        bool sure = true;
        for (const ref_line &l : parse_text(std::string(msgcat_embedded_text, msgcat_embedded_size), &sure))
            entries[l.number] = l.entry;
    }
    return entries;
}

/* What alert_lookup may give for one number after the file is applied. */
struct ref_outcome {
    std::vector<ref_entry> candidates;
    bool checked = true;
};

/* A file line replaces the embedded entry; one whose text holds a '%' may
 * instead be refused (its conversions must suit the arguments the program
 * passes for that number), so it only adds a possible outcome.  A line
 * whose reading is open leaves the number unchecked until a later sure one.
 * Numbers the embedded catalogue lacks keep the default entry. */
static std::map<uint32_t, ref_outcome> outcomes(const std::vector<ref_line> &file)
{
    const std::map<uint32_t, ref_entry> &builtin = embedded();
    std::map<uint32_t, ref_outcome> result;
    for (const ref_line &l : file) {
        auto it = builtin.find(l.number);
        bool fresh = !result.count(l.number);
        ref_outcome &o = result[l.number];
        if (fresh) o.candidates = {it != builtin.end() ? it->second : ref_entry{ALERT_ERROR, 0, DEFAULT_TEXT}};
        if (it == builtin.end()) continue;
        if (!l.sure) {
            o.checked = false;
        } else if (l.entry.text.find('%') == std::string::npos) {
            o.candidates = {l.entry};
            o.checked = true;
        } else {
            o.candidates.push_back(l.entry);
        }
    }
    return result;
}

static bool same(const alert_entry *e, const ref_entry &r)
{
    return e->type == r.type && e->level == r.level && e->text && r.text == e->text;
}

static void check_lookup(uint32_t number, const ref_outcome &o)
{
    alert_entry *e = alert_lookup(number);
    fz_check(e && e->number == number, "lookup gives the number asked for");
    bool found = false;
    for (const ref_entry &r : o.candidates) found = found || same(e, r);
    fz_check(found, "type, level and text as the reference parser reads them");
    free(e);
}

/* The catalogue lives to the end of a run and has no release operation; a
 * second load drops the first.  So that a long run does not grow without
 * bound, the fuzzer frees the replaced one itself: its vector, and every
 * entry that begins a heap block (entries the catalogue allocated inside a
 * shared block are freed with the block's first entry).  A block none of
 * whose entries begins it any more stays, and tools/lsan.supp names it. */
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
    fz_guard_in_process();
    fz_enter_scratch();
    fz_write_file("fuzz_en.msgs", data, size);
    vector *installed = load_edf(fz_scratch_path("fuzz_en.msgs").c_str());
    fz_leave_scratch();
    fz_check(installed != nullptr, "a readable message file installs a catalogue");
    if (previous) free_catalogue(previous);
    previous = installed;
    if (!fz_modelled(data, size, PIECE_CHARS + 1)) return 0;

    bool sure = true;
    std::map<uint32_t, ref_outcome> expected = outcomes(parse_text(fz_text_mode(data, size), &sure));
    if (!sure) return 0;
    for (const auto &[number, outcome] : expected) {
        if (outcome.checked) check_lookup(number, outcome);
    }
    /* Embedded entries the file leaves alone keep their reading. */
    for (uint32_t number : {1u, 908u, 2216u}) {
        auto it = embedded().find(number);
        if (it != embedded().end() && !expected.count(number)) check_lookup(number, ref_outcome{{it->second}, true});
    }
    return 0;
}
