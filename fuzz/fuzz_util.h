/*
 * fuzz_util.h - what the libFuzzer targets share: checks, a scratch directory
 * and forked runs for inputs that may end the process by design.
 */
#ifndef KVQ_FUZZ_UTIL_H
#define KVQ_FUZZ_UTIL_H

#include <cstddef>
#include <cstdint>

void fz_check(bool ok, const char *what);

/* Enter the process's scratch directory (removed at exit; alerts report out
 * of memory and failed checks as in kvq, and a fatal alert now aborts); empty
 * it and return to where the process started. */
void fz_enter_scratch(void);
void fz_leave_scratch(void);
void fz_write_file(const char *name, const uint8_t *data, size_t size);

/* True when a line ('\n'-ended) of the bytes is longer than `max`. */
bool fz_long_line(const uint8_t *data, size_t size, size_t max);

/* Runs body(arg) in process, where it must raise no error, or, when a fatal
 * alert or the 21st error `may_end` it, in a forked child: false when one
 * did.  Aborts when the child was killed (or hung for 20 s). */
bool fz_run(void (*body)(const void *), const void *arg, bool may_end);

#endif /* KVQ_FUZZ_UTIL_H */
