/*
 * werror.h - warning-as-error control ("-Werror", "-Wno-error", alone, with
 * "=all" or "=<number>").
 *
 * Options are recorded in command-line order into two number sets (a number is
 * never in both) and an error-all flag; alert_lookup applies the promotion to
 * warning entries.  Before the first option nothing is promoted.
 */
#ifndef KVQ_WERROR_H
#define KVQ_WERROR_H

#include <cstdint>

/* True when str begins with '-' and, after all leading '-', with "Werror" or
 * "Wno-error" (any case) followed by the end or '='. */
bool werr_isOption(const char *str);

/* Records one option; true when the caller is to pass it on (always, when
 * `lenient`).  "-Werror=" / "-Wno-error=" raise alert 1606; a strict call also
 * reports an identifier with trailing characters and refuses one reading 0. */
bool werr_parseOption(const char *str, bool lenient);

/* The promotion: true when the warning `number` is to be an error. */
bool werr_promotes(uint32_t number);

#endif /* KVQ_WERROR_H */
