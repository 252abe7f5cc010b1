/*
 * cmdline.cpp - argument intake: the process's argv turned into the list of
 * cached strings that the driver scans, with "@file" command files expanded
 * in place, depth first.
 *
 * A command file is read through standard input reopened on it, split into
 * words by the splitter behind getargs, and those words are expanded in turn;
 * standard input stays attached to the last file opened.  getargs hands out
 * heap copies of the words in one reused word array.  An expansion instead
 * appends the words straight to the argument list, caching at once the ones
 * it would cache unchanged anyway (pre_cached), and then replaces them in
 * place by what they stand for: the bulk of a huge file is copied once, into
 * the string cache, and no second list of its words is ever built.  Only the
 * other words are heap copies, freed once used.
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

/* The word being built: at most GETARGS_WORD_MAX characters. */
static char word_buf[GETARGS_WORD_MAX + 1];
static uint32_t word_len;

/* Adds the n bytes at p to the word; false (alert 917) when they do not all
 * fit, after keeping the ones that do. */
static bool word_add_run(const char *p, size_t n)
{
    size_t room = GETARGS_WORD_MAX - word_len;
    size_t take = n < room ? n : room;
    memcpy(word_buf + word_len, p, take);
    word_len += (uint32_t)take;
    if (take == n) return true;
    alert(ALERT_ARGUMENT_TOO_LONG);
    return false;
}

static bool word_add(char c) { return word_add_run(&c, 1); }

/* Whether an expansion keeps `word` as its cached string from the start:
 * when the expansion would cache it unchanged, that is, when it is not
 * empty, names no command file and holds no backslash to remove. */
static bool pre_cached(const char *word)
{
    return word[0] != '\0' && word[0] != '@' && !strchr(word, '\\');
}

/* Set while an expansion reads a file: the words go to the end of this list,
 * as pre_cached tells, rather than all as heap copies to the word array. */
static vector *words_out;

static void word_end(void)
{
    word_buf[word_len] = '\0';
    if (words_out)
        vec_append(words_out, pre_cached(word_buf) ? str_save(word_buf) : alloc_strdup(word_buf));
    else
        words_append(alloc_strdup(word_buf));
    word_len = 0;
}

/* The bytes the splitter treats specially; every other byte is copied into
 * the word as it is, a whole run at a time. */
static const char SPECIAL_BYTES[] = "'\"\\ \t\n";

/* Splits one line of `len` bytes, with a NUL after them and none among
 * them, into words.  Quotes of either kind group
 * blanks; inside one kind the other is literal; a backslash escapes a quote,
 * a blank or a backslash and stands for itself before anything else.  Tab and
 * line feed always end a word, even inside quotes, without resetting the
 * quote or escape state.  An overlong word is cut and the rest of the line
 * dropped. */
static void split_line(const char *line, size_t len)
{
    char quote = 0;
    bool escape = false;
    bool room = true;
    word_len = 0;
    const char *end = line + len;
    for (const char *p = line; p < end && room; p++) {
        char c = *p;
        switch (c) {
        case '\'':
        case '"':
            if (escape) {
                room = word_add(c);
                escape = false;
            } else if (quote == 0) {
                quote = c;
            } else if (quote == c) {
                quote = 0;
            } else {
                room = word_add(c);
            }
            break;
        case '\\':
            if (escape) room = word_add('\\');
            escape = !escape;
            break;
        case ' ':
            if (quote || escape) {
                room = word_add(' ');
                escape = false;
            } else {
                word_end();
            }
            break;
        case '\t':
        case '\n':
            word_end();
            break;
        default: {
            if (escape) {
                room = word_add('\\');
                escape = false;
            }
            size_t run = 1 + strcspn(p + 1, SPECIAL_BYTES);
            if (room) room = word_add_run(p, run);
            p += run - 1;
            break;
        }
        }
    }
    if (word_len > 0) word_end();
}

/* Splits standard input into words, to wherever word_end sends them, up to
 * its end or after one line; prompts as getargs tells. */
static void split_input(bool one_line, const char *name)
{
    bool prompt = !one_line && name && os_isatty(os_fileno(stdin));
    /* Each line is split once and never kept, so none of it is cached. */
    char *line = NULL;
    size_t cap = 0;
    for (;;) {
        if (prompt) {
            printf("%s> ", name);
            fflush(stdout);
        }
        size_t len;
        if (!str_read_line_into(stdin, &line, &cap, &len)) break;
        split_line(line, len);
        if (one_line) break;
    }
    free(line);
}

char **getargs(bool one_line, const char *name, int *count)
{
    words_count = 0;
    words_append((char *)name);
    split_input(one_line, name);
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

static void expand_appended(vector *out, uint32_t from, cmdline_callback callback);

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
    words_out = out;
    split_input(false, program_name);
    words_out = NULL;
    expand_appended(out, from, callback);
    open_depth--;
    return true;
}

/* A cached copy of arg without the backslashes that stand before a blank, a
 * quote or another backslash (the character after such a backslash is kept
 * and not looked at again).  An arg that is `cached` already is its own
 * result when it holds no backslash. */
static const char *unescape(const char *arg, bool cached)
{
    if (!strchr(arg, '\\')) return cached ? arg : str_save(arg);
    size_t len = strlen(arg);
    char *copy = (char *)alloc_zeroed((uint32_t)len + 1);
    char *q = copy;
    for (const char *p = arg; *p; p++) {
        if (p[0] == '\\' && p[1] && strchr(" \"'\\", p[1])) p++;
        *q++ = *p;
    }
    const char *result = str_nsave(copy, (size_t)(q - copy));
    free(copy);
    return result;
}

/* What an argument that names no command file stands for: NULL when it is
 * empty, else its unescaped cached text; "--kvdebug" arguments go to
 * db_parse_options on the way.  `cached` as for unescape. */
static const char *plain_arg(const char *arg, bool cached)
{
    if (arg[0] == '\0') return NULL;
    if (strncmp(arg, "--kvdebug", 9) == 0) db_parse_options(arg);
    return unescape(arg, cached);
}

/* Appends what one argument stands for to `out`; `cached` as for unescape. */
static void expand_one(vector *out, const char *arg, cmdline_callback callback, bool cached)
{
    if (callback) callback(arg);
    if (arg[0] == '@') {
        if (!arg[1] || !expand_file(arg + 1, out, callback)) vec_append(out, str_save(arg));
        return;
    }
    if (const char *result = plain_arg(arg, cached)) vec_append(out, result);
}

/* Appends what the n arguments at `list` stand for to `out`.  With `owned`,
 * they are words read from a command file: cached strings where pre_cached,
 * heap strings otherwise, each freed as soon as it is processed. */
static void expand_list(vector *out, uint32_t n, char **list, cmdline_callback callback, bool owned)
{
    for (uint32_t i = 0; i < n; i++) {
        char *arg = list[i] ? list[i] : (char *)"";
        bool cached = owned && pre_cached(arg);
        expand_one(out, arg, callback, cached);
        if (owned && !cached) free(arg);
    }
}

/* Replaces, in place and in order, the words that reading a command file
 * appended to `out` from index `from` on by what they stand for.  A nested
 * file appends its words to `out` as well, so at the first "@" word the
 * words not yet processed move to an array of their own first. */
static void expand_appended(vector *out, uint32_t from, cmdline_callback callback)
{
    uint32_t end = vec_size(out);
    uint32_t kept = from;
    for (uint32_t i = from; i < end; i++) {
        char *arg = (char *)out->data[i];
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
        bool cached = pre_cached(arg);
        const char *result = plain_arg(arg, cached);
        if (!cached) free(arg);
        if (result) out->data[kept++] = (void *)result;
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
