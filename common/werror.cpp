/*
 * werror.cpp - warning-as-error control.
 *
 * Records "-Werror" / "-Wno-error" options (alone, "=all" or "=<number>") in
 * command-line order and answers, for a warning number, whether it is to be
 * raised as an error.  The message catalogue asks when it looks an alert up.
 *
 * Invariant: a number is never in both sets; adding it to one removes it from
 * the other, so the last option naming a number decides for it.  The sets are
 * consulted only once both exist (the initialised flag).
 */
#include "werror.h"

#include <cstdlib>
#include <cstring>

#include "alert.h"
#include "numset.h"
#include "osdep.h"
#include "trace.h"

struct werr_state {
    uint8_t initialised;  /* both sets exist: promotion is in force */
    uint8_t error_all;    /* every warning is an error unless exempted */
    numset *promote;      /* errors while error_all is off */
    numset *exempt;       /* warnings while error_all is on */
};

static werr_state werr;

/* The two keywords; `promote` tells which set an identifier goes into. */
struct werr_keyword {
    const char *name;
    size_t length;
    bool promote;
};

/* name          length  promote */
static constexpr werr_keyword werr_keywords[] = {
    {"Werror", 6, true},
    {"Wno-error", 9, false},
};

/* The keyword that `body` (an option without its leading '-') starts with,
 * followed by the end or '='; NULL when there is none. */
static const werr_keyword *werr_match(const char *body)
{
    for (const werr_keyword &k : werr_keywords) {
        if (os_strnicmp(body, k.name, k.length) != 0) continue;
        char next = body[k.length];
        if (next == '\0' || next == '=') return &k;
    }
    return nullptr;
}

static const char *werr_skip_dashes(const char *str)
{
    while (*str == '-') str++;
    return str;
}

bool werr_isOption(const char *str)
{
    return str != nullptr && str[0] == '-' && werr_match(werr_skip_dashes(str)) != nullptr;
}

static void werr_init(void)
{
    werr.error_all = 0;
    werr.promote = numset_new();
    werr.exempt = numset_new();
    werr.initialised = werr.promote != nullptr && werr.exempt != nullptr;
}

/* Moves `number` into the set the keyword names, out of the other one. */
static void werr_record(const werr_keyword *k, uint64_t number)
{
    numset *into = k->promote ? werr.promote : werr.exempt;
    numset *from = k->promote ? werr.exempt : werr.promote;
    numset_add(into, number);
    numset_remove(from, number);
}

bool werr_parseOption(const char *str, bool lenient)
{
    DB_ASSERT(werr_isOption(str));
    if (!werr_isOption(str)) return false;
    if (werr.promote == nullptr) werr_init();
    if (!werr.initialised) return false;

    const char *body = werr_skip_dashes(str);
    const werr_keyword *k = werr_match(body);
    const char *rest = body + k->length;
    if (*rest == '\0' || os_stricmp(rest, "=all") == 0) {
        werr.error_all = k->promote;
        return true;
    }
    const char *id = rest + 1;
    if (*id == '\0') {
        alert(ALERT_BAD_WERROR_ID);
        return lenient;
    }
    char *end = nullptr;
    unsigned long number = strtoul(id, &end, 10);
    /* strtoul turns "-1" and overflowing digits into the one value a number
     * set cannot hold; such an identifier reads as no number at all. */
    if (number == 0 || !numset_canContain(number)) {
        if (!lenient) alert(ALERT_BAD_WERROR_ID);
        return lenient;
    }
    if (!lenient && *end != '\0') alert(ALERT_BAD_WERROR_ID);
    werr_record(k, number);
    return true;
}

bool werr_promotes(uint32_t number)
{
    if (!werr.initialised) return false;
    if (werr.error_all) return !numset_contains(werr.exempt, number);
    return numset_contains(werr.promote, number);
}
