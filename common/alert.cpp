/*
 * alert.cpp - issuing alerts: lookup, filtering, counting, formatting and
 * writing one diagnostic line per alert.
 *
 * Every alert leaves through alert_emit as one diagnostic line of the trace
 * core (db_diag_line): echoed into the debug trace when asked, written to
 * standard error's descriptor with one write.
 *
 * Invariants: the catalogue is loaded by the first numbered alert and never
 * before; the error count only grows, and the error that finds it at the limit
 * ends the process; a fatal alert never returns.  All text is built in the
 * fixed buffers below, so issuing an alert allocates only its entry copy.
 */
#include "alert.h"

#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alloc.h"
#include "hash.h"
#include "msgcat.h"
#include "trace.h"

/* Errors allowed before the run stops: the next one ends it. */
constexpr uint32_t ALERT_ERROR_LIMIT = 20;
/* Warnings with a level below this are dropped. */
constexpr int32_t ALERT_WARNING_THRESHOLD = 0;
/* The diagnostic line holds at most this many characters, newline included. */
constexpr size_t ALERT_LINE_MAX = 8191;
/* The number prefix and the formatted text hold at most this many characters. */
constexpr size_t ALERT_MESSAGE_MAX = 510;
/* The level of a type string that is not a number: above every threshold. */
constexpr int32_t ALERT_TYPED_LEVEL = 10;
/* Buckets of the once table: few alerts are ever raised once. */
constexpr uint32_t ALERT_ONCE_BUCKETS = 199;

static const char ALERT_WARNING_SUFFIX[] = " (warning)";

struct alert_state {
    uint32_t initialised;         /* alert_init has run */
    int saved_errno;              /* errno when the alert was raised; expands "%m" */
    uint32_t error_count;         /* errors issued, the stopping one included */
    alert_exit_hook exit_hook;    /* run before a fatal exit */
    hash_table *once;             /* keys of alerts raised through alert_once */
    size_t line_len;
    char line[ALERT_LINE_MAX + 1];          /* the diagnostic line */
    char message[ALERT_MESSAGE_MAX + 2];    /* number prefix and formatted text */
    char expansion[ALERT_MESSAGE_MAX + 2];  /* the text with "%m" expanded */
};

static alert_state as;

/* The three line forms. */
enum alert_form { ALERT_FORM_ERROR, ALERT_FORM_WARNING, ALERT_FORM_MESSAGE };

/* The form of a type code or of a type letter (from alert_typed). */
static alert_form alert_form_of(uint32_t type)
{
    switch (type) {
    case ALERT_MESSAGE: case 'M': case 'm':
        return ALERT_FORM_MESSAGE;
    case ALERT_FATAL: case ALERT_ERROR: case 'E': case 'e': case 'F': case 'f':
        return ALERT_FORM_ERROR;
    default:
        return ALERT_FORM_WARNING;
    }
}

void alert_set_exit_hook(alert_exit_hook hook)
{
    as.exit_hook = hook;
}

uint32_t alert_error_count(void)
{
    return as.error_count;
}

/* Runs the exit hook once (an alert raised by the hook itself must not run it
 * again) and ends the process; atexit handlers still run. */
KVQ_NORETURN static void alert_exit(void)
{
    alert_exit_hook hook = as.exit_hook;
    as.exit_hook = nullptr;
    if (hook != nullptr) hook(1);
    exit(1);
}

/* ---- building and writing the line ---------------------------------------- */

static void alert_clear_line(void)
{
    as.line_len = 0;
    as.line[0] = '\0';
}

/* Appends up to the line's room; the result is always terminated. */
static void alert_append(const char *text, size_t len)
{
    size_t room = ALERT_LINE_MAX - as.line_len;
    if (len > room) len = room;
    memcpy(as.line + as.line_len, text, len);
    as.line_len += len;
    as.line[as.line_len] = '\0';
}

/* Ends the line with a newline (replacing its last character when it is
 * full) and writes it as a diagnostic line (echoed into the debug trace when
 * asked). */
static void alert_emit(void)
{
    if (as.line_len == ALERT_LINE_MAX) as.line_len--;
    as.line[as.line_len++] = '\n';
    as.line[as.line_len] = '\0';
    db_diag_line(as.line, as.line_len);
}

/* Copies `text` into the expansion buffer with "%m" replaced by the system's
 * text for the saved errno (nothing for 0).  A '%' and the character after it
 * are copied as a pair, so "%%m" stays as it is. */
static void alert_expand(const char *text)
{
    memset(as.expansion, 0, sizeof as.expansion);
    size_t len = 0;
    for (const char *p = text; *p != '\0' && len < ALERT_MESSAGE_MAX; p++) {
        if (p[0] == '%' && p[1] == 'm') {
            const char *sys = as.saved_errno != 0 ? strerror(as.saved_errno) : "";
            size_t n = strnlen(sys, ALERT_MESSAGE_MAX - len);
            memcpy(as.expansion + len, sys, n);
            len += n;
            p++;
            continue;
        }
        as.expansion[len++] = *p;
        if (p[0] == '%' && p[1] != '\0' && len < ALERT_MESSAGE_MAX) as.expansion[len++] = *++p;
    }
}

/* The number of characters snprintf-style output left in a buffer of `size`. */
static size_t alert_written(int result, size_t size)
{
    if (result < 0) return 0;
    return (size_t)result < size ? (size_t)result : size - 1;
}

/* Formats the alert into the (cleared) diagnostic line and writes it. */
static void alert_format(uint32_t number, uint32_t type, const char *text, va_list ap)
{
    alert_form form = alert_form_of(type);
    alert_expand(text);
    size_t size = ALERT_MESSAGE_MAX + 1;
    size_t len = 0;
    if (form != ALERT_FORM_MESSAGE) len = alert_written(snprintf(as.message, size, "(%u) ", number), size);
    len += alert_written(vsnprintf(as.message + len, size - len, as.expansion, ap), size - len);
    alert_append(as.message, len);
    if (form == ALERT_FORM_WARNING) alert_append(ALERT_WARNING_SUFFIX, sizeof ALERT_WARNING_SUFFIX - 1);
    alert_emit();
}

/* Counts an error; the one that finds the count at the limit is replaced by
 * "too many errors (N)" and ends the run. */
static void alert_count_error(void)
{
    if (as.error_count++ < ALERT_ERROR_LIMIT) return;
    alert_typed(ALERT_TOO_MANY_ERRORS, "M", "too many errors (%u)", as.error_count);
    alert_exit();
}

/* ---- raising alerts ------------------------------------------------------------ */

void alert_init(void)
{
    /* Set first: an alert raised while the catalogue loads must not load it
     * again. */
    as.initialised = 1;
    load_edf(msg_filename(255));
}

static bool alert_dropped(const alert_entry *entry)
{
    return entry->type == ALERT_WARNING && entry->level < ALERT_WARNING_THRESHOLD;
}

/* The type alert_issue returns for an alert it dropped. */
constexpr uint32_t ALERT_DROPPED = UINT32_MAX;

/* Looks the alert up, filters, counts and writes it; returns its type, or
 * ALERT_DROPPED when nothing was written.  With `stop` the type is fatal
 * whatever the catalogue says.  Leaves ending the process to the caller. */
static uint32_t alert_issue(uint32_t number, bool stop, va_list ap)
{
    /* Kept aside until formatting: loading the catalogue may change errno and
     * may report malformed lines, which set the saved errno of their own. */
    int saved = errno;
    if (!as.initialised) alert_init();
    alert_entry *entry = alert_lookup(number);
    if (stop) entry->type = ALERT_FATAL;
    uint32_t type = alert_dropped(entry) ? ALERT_DROPPED : entry->type;
    if (type != ALERT_DROPPED) {
        alert_clear_line();
        if (type == ALERT_ERROR) alert_count_error();
        as.saved_errno = saved;
        alert_format(entry->number, type, entry->text, ap);
    }
    free(entry);
    return type;
}

int valert(uint32_t number, va_list ap)
{
    uint32_t type = alert_issue(number, false, ap);
    if (type == ALERT_FATAL) alert_exit();
    return type != ALERT_DROPPED;
}

void alert_fatal(uint32_t number, ...)
{
    va_list ap;
    va_start(ap, number);
    alert_issue(number, true, ap);
    va_end(ap);
    alert_exit();
}

int alert(uint32_t number, ...)
{
    va_list ap;
    va_start(ap, number);
    int written = valert(number, ap);
    va_end(ap);
    return written;
}

/* The key of the once table.  The system raises no alert with a source
 * position, so line is 0 and file empty, but they stay part of the key. */
struct alert_once_key {
    uint32_t number;
    uint32_t line;
    char *file;
};

static uint32_t alert_once_hash(const void *key)
{
    const alert_once_key *k = (const alert_once_key *)key;
    return (k->line << 16) ^ k->number ^ hash_string(k->file);
}

static int alert_once_cmp(const void *a, const void *b)
{
    const alert_once_key *ka = (const alert_once_key *)a;
    const alert_once_key *kb = (const alert_once_key *)b;
    if (ka->number != kb->number || ka->line != kb->line) return 1;
    return strcmp(ka->file, kb->file);
}

int alert_once(uint32_t number, ...)
{
    int saved = errno;
    if (as.once == nullptr) as.once = HASH_NEW(ALERT_ONCE_BUCKETS, alert_once_hash, alert_once_cmp);
    char no_file[] = "";
    alert_once_key probe = {number, 0, no_file};
    if (hash_haskey(as.once, &probe)) return 0;

    /* The lookup needs the catalogue, and loading it may change errno. */
    if (!as.initialised) alert_init();
    alert_entry *entry = alert_lookup(number);
    if (!alert_dropped(entry)) {
        alert_once_key *key = (alert_once_key *)alloc_zeroed(sizeof *key);
        *key = {number, 0, alloc_strdup("")};
        HASH_INSERT(as.once, key, key);
    }
    free(entry);

    errno = saved;
    va_list ap;
    va_start(ap, number);
    int written = valert(number, ap);
    va_end(ap);
    return written;
}

/* The level of a type string: its decimal value when it starts with a digit
 * or with '-' and a digit, else ALERT_TYPED_LEVEL. */
static int32_t alert_typed_level(const char *type)
{
    bool number = isdigit((unsigned char)type[0]) ||
                  (type[0] == '-' && isdigit((unsigned char)type[1]));
    return number ? (int32_t)strtol(type, nullptr, 10) : ALERT_TYPED_LEVEL;
}

int alert_typed(uint32_t number, const char *type, const char *fmt, ...)
{
    assert(type != nullptr && fmt != nullptr);
    as.saved_errno = errno;
    int32_t level = alert_typed_level(type);
    char letter = type[0];
    bool fatal = letter == 'F' || letter == 'f';
    if (letter == 'E' || letter == 'e') alert_count_error();
    if (level < ALERT_WARNING_THRESHOLD) return 0;

    alert_clear_line();
    va_list ap;
    va_start(ap, fmt);
    alert_format(number, (unsigned char)letter, fmt, ap);
    va_end(ap);
    if (fatal) alert_exit();
    return 1;
}

void alert_vprint(const char *fmt, va_list ap)
{
    as.saved_errno = errno;
    db_diag_vprintf(fmt, ap);
}

/* ---- the trace core's reports ---------------------------------------------- */

/* Alert 296 as it prints, formatted in advance: raising it would look it up
 * in the catalogue, which allocates, and the path that reports running out of
 * memory must not fail the same way.  So neither the catalogue nor the exit
 * hook is involved: a message file cannot change this line, and the debug
 * trace and package are not finished. */
static const char ALERT_OUT_OF_MEMORY_LINE[] = "(296) out of memory\n";

static void alert_out_of_memory(void)
{
    os_emergency_exit(ALERT_OUT_OF_MEMORY_LINE, sizeof ALERT_OUT_OF_MEMORY_LINE - 1, 1);
}

static void alert_assertion(uint32_t level, const char *expr, const char *file, int line)
{
    /* Level 1 raises 1503 (fatal), 2 raises 1502 (error), 3 raises 1501. */
    alert(ALERT_ASSERT_FATAL + DB_ASSERT_FATAL - level, expr, file, line);
}

void alert_install_hooks(void)
{
    db_set_out_of_memory_hook(alert_out_of_memory);
    db_set_assert_hook(alert_assertion);
}
