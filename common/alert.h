/*
 * alert.h - numbered diagnostics: the single road to the user.
 *
 * An alert number (0..10000) selects a catalogue entry (msgcat.h) giving its
 * type and printf-style text.  A raised alert is looked up, filtered (warnings
 * below level 0 are dropped), counted (errors against a limit of 20),
 * formatted into one line and written to standard error, which is flushed.
 * Line forms, each ending in a newline:
 *     error, fatal:  "(%u) " text
 *     warning:       "(%u) " text " (warning)"
 *     message:       text
 * A fatal alert, and the error that passes the limit ("too many errors (21)"),
 * run the registered exit hook and end the process with status 1.
 *
 * The catalogue is loaded by the first numbered alert of the run, never at
 * start-up.  "%m" in a catalogue text expands to strerror(errno) as errno was
 * when the alert was raised (nothing when errno was 0).  Buffers are fixed:
 * 510 characters for prefix and text, 8191 for the whole line.
 * Single-threaded; an alert must not be raised while another is formatted.
 */
#ifndef KVQ_ALERT_H
#define KVQ_ALERT_H

#include <cstdarg>
#include <cstdint>

#include "osdep.h"

enum alert_type : uint32_t {
    ALERT_UNSET = 0,   /* type field not recognised: printed as a warning */
    ALERT_FATAL = 1,
    ALERT_MESSAGE = 2,
    ALERT_ERROR = 3,
    ALERT_WARNING = 4,
};

/* Alert numbers this program raises itself. */
enum : uint32_t {
    ALERT_TOO_MANY_ERRORS = 1,
    ALERT_MALFORMED_LINE = 3,
    ALERT_CANT_OPEN_FILE = 141,
    ALERT_OUT_OF_MEMORY = 296,     /* printed preformatted by the out-of-memory hook */
    ALERT_EXEC_FAILED = 900,
    ALERT_EXIT_STATUS = 908,
    ALERT_ARGUMENT_TOO_LONG = 917,
    ALERT_UNKNOWN_EXT = 1443,
    ALERT_RESPECIFIED_EXT = 1444,
    ALERT_ASSERT_WARNING = 1501,
    ALERT_ASSERT_ERROR = 1502,
    ALERT_ASSERT_FATAL = 1503,
    ALERT_BAD_WERROR_ID = 1606,
    ALERT_CANT_CREATE_TEMP = 2082,
    ALERT_CMDFILE_SELF = 2083,     /* an "@" file that includes itself */
    ALERT_CMDFILE_DEPTH = 2084,    /* "@" files nested too deeply */
    ALERT_CANT_REDIRECT_STDERR = 2085,
    ALERT_WAIT_FAILED = 2087,      /* the back end started, its status is lost */
};

/* Raises a numbered alert; the arguments fill the catalogue text.  Returns 1
 * when a line was written, 0 when dropped; does not return for a fatal alert
 * or an error past the limit. */
int alert(uint32_t number, ...);
int valert(uint32_t number, va_list ap);

/* Raises an alert after which the run cannot go on: the line is written in
 * the error form and the process ends as after a fatal alert, whatever
 * type a message file gives the number (a dropped warning included).  Its
 * text still comes from the catalogue, or from the message file. */
KVQ_NORETURN void alert_fatal(uint32_t number, ...);

/* As alert, but each number at most once per run; a repeat returns 0. */
int alert_once(uint32_t number, ...);

/* An alert whose type ("F", "E", "M" or a signed decimal warning level) and
 * format come from the caller: no catalogue, no promotion; only errors count. */
int alert_typed(uint32_t number, const char *type, const char *fmt, ...) KVQ_PRINTF(3, 4);

/* One free-form line through the same output path (db_diag_vprintf, echo to
 * the debug trace included): no number, no counting, no "%m" expansion, at
 * most 8190 chars. */
void alert_vprint(const char *fmt, va_list ap);

/* Loads the catalogue (msg_filename(255), load_edf) and marks it loaded.
 * Runs once; valert calls it on the first numbered alert. */
void alert_init(void);

/* Makes alerts of the trace core's reports (trace.h): running out of memory
 * writes the line of the fatal alert 296, "(296) out of memory", with one
 * write, removes the temporary directory and ends the process with status 1,
 * allocating nothing (os_emergency_exit); a failed consistency check at
 * assert level 1, 2 or 3 raises alert 1503, 1502 or 1501.  A program calls it
 * first thing in main; until then the trace core's plain defaults stand in. */
void alert_install_hooks(void);

/* The hook run before a fatal exit (the driver's cleanup).  The status passed
 * is 1.  Without a hook the process simply exits. */
typedef void (*alert_exit_hook)(int status);
void alert_set_exit_hook(alert_exit_hook hook);

/* Errors counted so far (for tests and the driver's summary). */
uint32_t alert_error_count(void);

#endif /* KVQ_ALERT_H */
