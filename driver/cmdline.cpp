/*
 * cmdline.cpp - argument intake: the process's argv turned into the list of
 * strings that the driver scans, with "@file" command files expanded in
 * place, depth first.
 *
 * A command file is read through standard input reopened on it; standard
 * input stays attached to the last file opened.  Its text is read whole and
 * split into words in place: each word is written over the bytes it comes
 * from and terminated there, so the bulk of a huge file is read once, looked
 * at once and never copied.  The words are appended straight to the argument
 * list and then replaced in place by what they stand for; a word that stands
 * for itself stays where it lies, and the file's text is kept to the end of
 * the run.  Only getargs hands out heap copies, in one reused word array.
 *
 * Invariant: the files being expanded at any moment are distinct (by device
 * and inode) and at most CMDLINE_MAX_DEPTH deep, so every expansion ends.
 */
#include "cmdline.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alert.h"
#include "alloc.h"
#include "kvdebug.h"
#include "osdep.h"
#include "stringcache.h"
#include "trace.h"
#include "vector.h"

static char *program_name;

const char *cmdline_program_name(void) { return program_name; }

/* ---- getargs: splitting standard input into words ---------------------- */

/* Entries the word array starts with; it doubles from there, so a command
 * file of a million words costs linear time. */
constexpr uint32_t WORDS_INITIAL = 1024;

static char **words;          /* words[0] is the name, then heap words, NULL */
static uint32_t words_cap;
static uint32_t words_count;

static void words_append(char *word)
{
    if (words_count + 1 >= words_cap) {
        if (words_cap > UINT32_MAX / 2 / sizeof *words) alloc_out_of_memory();
        uint32_t cap = words_cap ? words_cap * 2 : WORDS_INITIAL;
        /* Growing in place lets a large array move without being copied. */
        words = (char **)alloc_grow(words, words_cap * sizeof *words, cap * sizeof *words);
        words_cap = cap;
    }
    words[words_count++] = word;
}

/* What the splitter does with a byte. */
enum split_class : uint8_t {
    SC_PLAIN,      /* joins the word as it is */
    SC_QUOTE,      /* ' or " */
    SC_BACKSLASH,
    SC_BLANK,      /* ' ' */
    SC_TAB,        /* ends the word, even inside quotes */
    SC_LF,         /* ends the word and the line */
    SC_CR,         /* joins the word, unless it ends the line (see split_cr) */
    SC_NUL,        /* ends the text of its line; the one after the text ends it */
};

struct split_classes {
    split_class of[256];
};

static constexpr split_classes split_make_classes(void)
{
    split_classes t = {};
    t.of[(unsigned char)'\''] = t.of[(unsigned char)'"'] = SC_QUOTE;
    t.of[(unsigned char)'\\'] = SC_BACKSLASH;
    t.of[(unsigned char)' '] = SC_BLANK;
    t.of[(unsigned char)'\t'] = SC_TAB;
    t.of[(unsigned char)'\n'] = SC_LF;
    t.of[(unsigned char)'\r'] = SC_CR;
    t.of[0] = SC_NUL;
    return t;
}

static constexpr split_classes SPLIT = split_make_classes();

/* A text being split in place.  The words are written over the text they
 * come from: a word is never longer than its source, and every word ends at
 * a byte already read (its blank, tab or line feed, the NUL that ends the
 * text, or a byte dropped from it), so w never passes r and each word is
 * terminated where it lies.  Only a word ended by a line's CR
 * (split_cr) may have no such byte and is copied out instead. */
struct splitter {
    char *r;            /* the next byte to read */
    char *w;            /* where the word's next byte goes; w <= r */
    char *word;         /* the start of the word being built */
    char *line;         /* the first byte of the line being read */
    char *end;          /* the end of the text, where a NUL stands */
    bool raw;           /* the text is a file's bytes, not lines already read */
    char quote;         /* the open quote, or 0 */
    bool escape;        /* a backslash waits for the next byte */
    bool backslash;     /* a word so far holds a backslash */
    vector *out;        /* receives the words */
};

/* Ends the word being built, even an empty one, and appends it. */
static void split_word_end(splitter *s)
{
    *s->w = '\0';
    vec_append(s->out, s->word);
    s->word = ++s->w;
}

/* The line ends before s->r, which is the first byte of the next one: a word
 * under way is appended, and quote and escape start cleared. */
static void split_line_end(splitter *s)
{
    if (s->w != s->word) split_word_end(s);
    s->line = s->r;
    s->quote = 0;
    s->escape = false;
}

/* Where the line that began at `line` ends, looking from q on: after its line
 * feed, or after a CR that ends a read piece (split_cr), or at `end`. */
static char *split_rest_of_line(const char *line, char *q, char *end)
{
    char *lf = (char *)memchr(q, '\n', (size_t)(end - q));
    size_t stop = (size_t)((lf ? lf : end) - line);
    size_t at = (size_t)(q - line);
    for (size_t o = at + (STR_LINE_PIECE - 1 - at % STR_LINE_PIECE); o < stop; o += STR_LINE_PIECE) {
        if (line[o] == '\r' && line + o + 1 != lf) return (char *)line + o + 1;
    }
    return lf ? lf + 1 : end;
}

/* The rest of the line, from s->r on, is not read: after a NUL, or when a
 * word is too long. */
static void split_drop_rest(splitter *s)
{
    s->r = split_rest_of_line(s->line, s->r, s->end);
    split_line_end(s);
}

/* Adds the n bytes at p to the word (p may be s->w: bytes that already lie
 * where they belong).  False when they do not all fit: the word keeps the
 * ones that do (alert 917) and the rest of the line is dropped. */
static bool split_add(splitter *s, const char *p, size_t n)
{
    size_t room = GETARGS_WORD_MAX - (size_t)(s->w - s->word);
    bool fits = n <= room;
    size_t take = fits ? n : room;
    if (s->w != p) memmove(s->w, p, take);
    s->w += take;
    if (fits) return true;
    alert(ALERT_ARGUMENT_TOO_LONG);
    split_drop_rest(s);
    return false;
}

static bool split_add_char(splitter *s, char c)
{
    return split_add(s, &c, 1);
}

/* Adds a backslash to the word. */
static bool split_add_backslash(splitter *s)
{
    s->backslash = true;
    return split_add_char(s, '\\');
}

/* A pending escape before an ordinary byte stands for itself. */
static bool split_flush_escape(splitter *s)
{
    if (!s->escape) return true;
    s->escape = false;
    return split_add_backslash(s);
}

/* Eight bytes of text as a number whose low byte is the first of them, on
 * any machine (compilers make this one load where that is the order). */
static uint64_t split_block(const char *p)
{
    const unsigned char *u = (const unsigned char *)p;
    uint64_t x = 0;
    for (int i = 7; i >= 0; i--) x = x << 8 | u[i];
    return x;
}

/* The top bit of each byte of a split_block that may be one the splitter
 * treats specially: each of those is below '(' or is a backslash.  A byte
 * below n gets its top bit from (x - n * ones) & ~x (n <= 0x80); a borrow
 * only ever marks a byte above one already marked, so the lowest mark is
 * exact. */
static uint64_t split_candidates(uint64_t x)
{
    const uint64_t ones = 0x0101010101010101u, tops = 0x8080808080808080u;
    uint64_t low = (x - ones * '(') & ~x;
    uint64_t y = x ^ (ones * '\\');
    uint64_t backslash = (y - ones) & ~y;
    return (low | backslash) & tops;
}

/* The index of the byte whose top bit is the lowest set in `marks` (not 0). */
static uint32_t split_first_mark(uint64_t marks)
{
    uint32_t low = (uint32_t)marks;
    return (low ? os_lowest_bit(low) : 32 + os_lowest_bit((uint32_t)(marks >> 32))) / 8;
}

/* A run of ordinary bytes joins the word.  Most words are one such run: it
 * is skimmed eight bytes at a time (the text's padding keeps every block in
 * bounds), from one candidate byte to the next, until a candidate is a byte
 * the splitter treats specially. */
static void split_plain(splitter *s)
{
    char *run = s->r++;
    for (;;) {
        uint64_t marks = split_candidates(split_block(s->r));
        if (marks == 0) {
            s->r += 8;
            continue;
        }
        s->r += split_first_mark(marks);
        if (SPLIT.of[(unsigned char)*s->r] != SC_PLAIN) break;
        s->r++;
    }
    if (split_flush_escape(s)) split_add(s, run, (size_t)(s->r - run));
}

/* In a file's bytes as "r" reads them, a CR before a line feed is dropped
 * where the runtime has not done so already (CR LF reads as LF), and a CR
 * that ends a piece of a line as str_read_line reads it ends the line after
 * it, as it does there; any other CR joins the word. */
static void split_cr(splitter *s)
{
    char *cr = s->r;
    if (s->raw && OS_READ_KEEPS_CRLF && cr[1] == '\n') {
        s->r++;
        return;
    }
    if (!split_flush_escape(s) || !split_add_char(s, '\r')) return;
    s->r++;
    if (!s->raw || (size_t)(cr - s->line) % STR_LINE_PIECE != STR_LINE_PIECE - 1) return;
    if (s->w == s->r) {
        /* No byte of this line is free to end the word: it is copied. */
        vec_append(s->out, str_nsave(s->word, (size_t)(s->w - s->word)));
        s->word = s->w;
    }
    split_line_end(s);
}

static void split_quote(splitter *s)
{
    char c = *s->r;
    if (s->escape) {
        s->escape = false;
        if (!split_add_char(s, c)) return;
    } else if (s->quote == 0) {
        s->quote = c;
    } else if (s->quote == c) {
        s->quote = 0;
    } else if (!split_add_char(s, c)) {
        return;
    }
    s->r++;
}

static void split_backslash(splitter *s)
{
    if (s->escape && !split_add_backslash(s)) return;
    s->escape = !s->escape;
    s->r++;
}

static void split_blank(splitter *s)
{
    if (s->quote || s->escape) {
        s->escape = false;
        if (!split_add_char(s, ' ')) return;
    } else {
        split_word_end(s);
    }
    s->r++;
}

/* The NUL bytes a text to split has after its end: the sentinel and the
 * padding that split_plain's blocks may reach. */
constexpr size_t SPLIT_PAD = 8;

/* Splits the `len` bytes at `text` (SPLIT_PAD NUL bytes after them) into
 * words, in place, appending them to `out`; true when one of them holds a
 * backslash.  With `raw`, the text is a file's bytes and
 * splits into lines as str_read_line reads them: CR LF reads as LF, a CR that
 * ends a read piece ends its line, and a NUL ends the text of its line.
 * Otherwise it is lines as that reader gave them.
 *
 * Quotes of either kind group blanks; inside one kind the other is literal;
 * a backslash escapes a quote, a blank or a backslash and stands for itself
 * before anything else.  Tab and line feed always end a word, even inside
 * quotes, without resetting the quote or escape state; a line feed, a blank
 * or a tab ends a word even when it is empty.  Each line starts with both
 * cleared.  A word longer than GETARGS_WORD_MAX is cut (alert 917) and the
 * rest of its line dropped. */
static bool split_text(char *text, size_t len, bool raw, vector *out)
{
    splitter s = {text, text, text, text, text + len, raw, 0, false, false, out};
    for (;;) {
        switch (SPLIT.of[(unsigned char)*s.r]) {
        case SC_PLAIN: split_plain(&s); break;
        case SC_QUOTE: split_quote(&s); break;
        case SC_BACKSLASH: split_backslash(&s); break;
        case SC_BLANK: split_blank(&s); break;
        case SC_TAB:
            split_word_end(&s);
            s.r++;
            break;
        case SC_LF:
            split_word_end(&s);
            s.r++;
            split_line_end(&s);
            break;
        case SC_CR: split_cr(&s); break;
        case SC_NUL:
            if (s.r == s.end) {
                split_line_end(&s);
                return s.backslash;
            }
            split_drop_rest(&s);
            break;
        }
    }
}

/* The bytes left to read in `stream` when it is a file whose size is known
 * (it can seek), else 0.  The stream's position is unchanged; should it fail
 * to return there, the rest of the file reads as empty, as after a read
 * error. */
static size_t bytes_left(FILE *stream)
{
    long here = ftell(stream);
    if (here < 0 || fseek(stream, 0, SEEK_END) != 0) return 0;
    long end = ftell(stream);
    if (fseek(stream, here, SEEK_SET) != 0) return 0;
    return end > here ? (size_t)(end - here) : 0;
}

/* A command file's text read whole: its bytes, with SPLIT_PAD NUL bytes
 * after them, in a heap block or, when `large` is not 0, in a block of that
 * many bytes from alloc_large. */
struct file_text {
    char *bytes;
    size_t len;
    size_t large;
};

/* A text of a large page or more is read into large pages: reading it into
 * small ones faults them in one at a time, and on some machines those faults
 * cost more than splitting the text. */
static char *text_block(size_t need, file_text *text)
{
    if (need < OS_LARGE_PAGE) return (char *)alloc_grow(NULL, 0, need);
    text->large = (need + OS_LARGE_PAGE - 1) / OS_LARGE_PAGE * OS_LARGE_PAGE;
    return (char *)alloc_large(text->large);
}

static void text_free(file_text *text)
{
    if (text->large) os_free_large(text->bytes, text->large);
    else free(text->bytes);
}

/* The rest of `stream`, `expect` bytes or more, read whole into a block of
 * the caller's.  A file that has grown is read to its new end; a read error
 * ends the text like the end of the file. */
static file_text read_rest(FILE *stream, size_t expect)
{
    if (expect > SIZE_MAX / 2 - OS_LARGE_PAGE) alloc_out_of_memory();
    file_text text = {NULL, 0, 0};
    text.bytes = text_block(expect + 1 + SPLIT_PAD, &text);
    size_t cap = (text.large ? text.large : expect + 1 + SPLIT_PAD) - SPLIT_PAD;
    for (;;) {
        text.len += fread(text.bytes + text.len, 1, cap - text.len, stream);
        if (text.len < cap) break;
        if (cap > (SIZE_MAX - SPLIT_PAD) / 2) alloc_out_of_memory();
        char *grown = (char *)alloc_grow(text.large ? NULL : text.bytes, text.large ? 0 : cap + SPLIT_PAD,
                                         2 * cap + SPLIT_PAD);
        if (text.large) {
            memcpy(grown, text.bytes, text.len);
            text_free(&text);
            text.large = 0;
        }
        text.bytes = grown;
        cap *= 2;
    }
    memset(text.bytes + text.len, 0, SPLIT_PAD);
    return text;
}

/* The texts of the command files expanded: their words lie in them, so they
 * are kept to the end of the run. */
static char **kept_texts;
static uint32_t kept_count;
static uint32_t kept_cap;

static void keep_text(char *text)
{
    if (kept_count == kept_cap) {
        if (kept_cap > UINT32_MAX / 2 / sizeof *kept_texts) alloc_out_of_memory();
        uint32_t cap = kept_cap ? kept_cap * 2 : 16;
        kept_texts = (char **)alloc_grow(kept_texts, kept_cap * sizeof *kept_texts, cap * sizeof *kept_texts);
        kept_cap = cap;
    }
    kept_texts[kept_count++] = text;
}

/* Splits standard input into words appended to `out`, up to its end or after
 * one line; prompts as getargs tells.  *escaped tells whether a word holds a
 * backslash.  A file of known size is read whole: the text is split in place
 * and returned (the words lie in it; the caller keeps or frees it).  Anything
 * else (one line, a terminal, a pipe, a device) is read a line at a time; each
 * line's words are cached strings, and the result has no bytes.  So a stream
 * that never ends costs no more memory than its words. */
static file_text read_words(bool one_line, const char *name, vector *out, bool *escaped)
{
    bool prompt = !one_line && name && os_isatty(os_fileno(stdin));
    size_t size = prompt || one_line ? 0 : bytes_left(stdin);
    if (size > 0) {
        file_text text = read_rest(stdin, size);
        *escaped = split_text(text.bytes, text.len, true, out);
        return text;
    }
    *escaped = false;
    char *line = NULL;
    size_t cap = 0;
    for (;;) {
        if (prompt) {
            printf("%s> ", name);
            fflush(stdout);
        }
        size_t len;
        if (!str_read_line_into(stdin, &line, &cap, &len)) break;
        if (cap - len < SPLIT_PAD) {
            line = (char *)alloc_grow(line, cap, len + SPLIT_PAD);
            cap = len + SPLIT_PAD;
        }
        memset(line + len, 0, SPLIT_PAD);
        uint32_t from = vec_size(out);
        *escaped |= split_text(line, len, false, out);
        for (uint32_t i = from; i < vec_size(out); i++) out->data[i] = (void *)str_save((const char *)out->data[i]);
        if (one_line) break;
    }
    free(line);
    return {NULL, 0, 0};
}

/* Splits the whole of standard input into words for an expansion: to the
 * end of `out`, where they stay valid to the end of the run.  True when a
 * word holds a backslash: only then has the expansion to look for escapes. */
static bool split_input(vector *out, const char *name)
{
    bool escaped;
    file_text text = read_words(false, name, out, &escaped);
    if (text.bytes) keep_text(text.bytes);
    return escaped;
}

char **getargs(bool one_line, const char *name, int *count)
{
    words_count = 0;
    words_append((char *)name);
    vector *split = VEC_NEW();
    bool escaped;
    file_text text = read_words(one_line, name, split, &escaped);
    for (uint32_t i = 0; i < vec_size(split); i++) words_append(alloc_strdup((const char *)split->data[i]));
    if (text.bytes) text_free(&text);
    vec_free(split);
    words[words_count] = NULL;
    if (count) *count = (int)words_count;
    return words;
}

/* ---- expansion ---------------------------------------------------------------- */

/* Standard input's buffer while it reads a command file: 64 KiB reads a
 * million-option file in a few hundred calls rather than in thousands of
 * 4 KiB ones.  It outlives the intake because standard input stays on the
 * last file opened. */
static char stdin_buffer[64 * 1024];

/* The command files being expanded, outermost first. */
static os_file_identity open_files[CMDLINE_MAX_DEPTH];
static uint32_t open_depth;

/* True when `id` is one of the files being expanded. */
static bool already_open(const os_file_identity *id)
{
    for (uint32_t i = 0; i < open_depth; i++) {
        if (open_files[i].dev == id->dev && open_files[i].ino == id->ino) return true;
    }
    return false;
}

static void expand_appended(vector *out, uint32_t from, bool escaped, cmdline_callback callback);

/* Expands "@path" into `out` when path names a file that standard input can
 * be reopened on; false (nothing appended) otherwise.  A name that no file
 * or only a directory has leaves standard input alone; after that the file
 * opened is what counts, whatever its name means by now: a directory, which
 * POSIX lets one open for reading, is not a command file. */
static bool expand_file(const char *path, vector *out, cmdline_callback callback)
{
    if (!os_exists(path) || os_is_dir(path)) return false;
    bool opened = freopen(path, "r", stdin) != NULL;
    os_file_identity id;
    if (opened) {
        int failed = setvbuf(stdin, stdin_buffer, _IOFBF, sizeof stdin_buffer);
        assert(failed == 0); /* fails only for an invalid mode or size */
        opened = os_stream_id(stdin, &id) && !id.is_dir;
    }
    if (!opened) {
        /* A failed reopen closed standard input, and a directory is nothing
         * to read: the null device takes its place, so that no file opened
         * later becomes descriptor 0.  Should even that fail, there is
         * nothing better to put there. */
        (void)os_reopen_null(stdin, "r");
        return false;
    }
    if (already_open(&id)) alert_fatal(ALERT_CMDFILE_SELF, path);
    if (open_depth == CMDLINE_MAX_DEPTH) alert_fatal(ALERT_CMDFILE_DEPTH, CMDLINE_MAX_DEPTH, path);

    open_files[open_depth++] = id;
    uint32_t from = vec_size(out);
    bool escaped = split_input(out, program_name);
    expand_appended(out, from, escaped, callback);
    open_depth--;
    return true;
}

/* The first backslash of arg that stands before a blank, a quote or another
 * backslash, or NULL. */
static const char *removable_escape(const char *arg)
{
    const char *p = arg;
    while ((p = strchr(p, '\\')) != NULL && !(p[1] && strchr(" \"'\\", p[1]))) p++;
    return p;
}

/* arg without the backslashes that stand before a blank, a quote or another
 * backslash (the character after such a backslash is kept and not looked at
 * again), as a cached string.  An arg that is `durable` (it lives to the end
 * of the run and is never written) is its own result when it has no such
 * backslash. */
static const char *unescape(const char *arg, bool durable)
{
    const char *p = removable_escape(arg);
    if (!p) return durable ? arg : str_save(arg);
    size_t len = strlen(arg);
    char *copy = (char *)alloc_grow(NULL, 0, len + 1);
    char *q = copy + (p - arg);
    memcpy(copy, arg, (size_t)(p - arg));
    for (; *p; p++) {
        if (p[0] == '\\' && p[1] && strchr(" \"'\\", p[1])) p++;
        *q++ = *p;
    }
    const char *result = str_nsave(copy, (size_t)(q - copy));
    free(copy);
    return result;
}

/* What an argument that names no command file stands for: NULL when it is
 * empty, else its unescaped text; "--kvdebug" arguments go to
 * db_parse_options on the way.  `durable` as for unescape; an arg known to
 * hold no backslash (`escaped` false) must be durable. */
static const char *plain_arg(const char *arg, bool durable, bool escaped)
{
    if (arg[0] == '\0') return NULL;
    if (arg[0] == '-' && arg[1] == '-' && strncmp(arg, "--kvdebug", 9) == 0) db_parse_options(arg);
    return escaped ? unescape(arg, durable) : arg;
}

/* Appends what one argument stands for to `out`; `durable` as for unescape. */
static void expand_one(vector *out, const char *arg, cmdline_callback callback, bool durable)
{
    if (callback) callback(arg);
    if (arg[0] == '@') {
        if (!arg[1] || !expand_file(arg + 1, out, callback)) vec_append(out, durable ? arg : str_save(arg));
        return;
    }
    if (const char *result = plain_arg(arg, durable, true)) vec_append(out, result);
}

/* Appends what the n arguments at `list` stand for to `out`; `durable` as
 * for unescape (true for words read from a command file). */
static void expand_list(vector *out, uint32_t n, char **list, cmdline_callback callback, bool durable)
{
    for (uint32_t i = 0; i < n; i++) expand_one(out, list[i] ? list[i] : "", callback, durable);
}

/* Replaces, in place and in order, the words that reading a command file
 * appended to `out` from index `from` on by what they stand for; `escaped`
 * as split_input tells.  A nested
 * file appends its words to `out` as well, so at the first "@" word the
 * words not yet processed move to an array of their own first. */
static void expand_appended(vector *out, uint32_t from, bool escaped, cmdline_callback callback)
{
    uint32_t end = vec_size(out);
    uint32_t kept = from;
    for (uint32_t i = from; i < end; i++) {
        const char *arg = (const char *)out->data[i];
        if (arg[0] == '@') {
            uint32_t rest = end - i;
            char **moved = (char **)alloc_grow(NULL, 0, rest * sizeof *moved);
            memcpy(moved, &out->data[i], rest * sizeof *moved);
            vec_truncate(out, kept);
            expand_list(out, rest, moved, callback, true);
            free(moved);
            return;
        }
        if (callback) callback(arg);
        if (const char *result = plain_arg(arg, true, escaped)) out->data[kept++] = (void *)result;
    }
    vec_truncate(out, kept);
}

vector *cmdline_expand(int argc, char **argv, cmdline_callback callback)
{
    vector *out = VEC_NEW_SIZED(argc > 1 ? (uint32_t)argc : 1);
    if (argc <= 0) return out;
    if (!program_name && argv[0]) program_name = os_basename_copy(argv[0]);
    expand_list(out, (uint32_t)argc - 1, argv + 1, callback, false);
    return out;
}

vector *cmdline_args(int argc, char **argv)
{
    DB_ASSERT(argv != NULL);
    vector *args = cmdline_expand(argv ? argc : 0, argv, NULL);
    if (gDebugFlags && argv) db_print_argv(argc, argv);
    return args;
}
