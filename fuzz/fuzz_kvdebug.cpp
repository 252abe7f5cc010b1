/*
 * fuzz_kvdebug.cpp - the "--kvdebug" option parser and the option it forwards
 * to a back end, on "--kvdebug" followed by the input ("=on,adt"), each parse
 * after db_reset_options.  The one fatal alert is 141, a debug-out file that
 * cannot be opened ("out:+" names none, a name may not exceed 255 bytes), so
 * items ending in "+" and inputs over 200 bytes are refused; and so are '/'
 * and "..", so that files are made in the scratch directory only.
 */
#include <cstring>
#include <string>

#include "fuzz_util.h"
#include "hash.h"
#include "kvdebug.h"
#include "trace.h"

static const char *parse(const std::string &arg)
{
    db_reset_options();
    db_parse_options(arg.c_str());
    /* Else the process's hash master list would grow with every "adt" input. */
    hash_set_tracking(false);
    fz_check(gAssertLevel <= DB_ASSERT_WARNING && (!gDebugFlags || gFile), "assert level 0..3, flags with a file");
    return db_make_option(DBC_KVQ, "torc18");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string arg = "--kvdebug" + std::string((const char *)data, strnlen((const char *)data, size));
    if (size > 200 || arg.back() == '+' || arg.find("+,") != arg.npos) return 0;
    if (arg.find('/') != arg.npos || arg.find("..") != arg.npos) return 0;
    fz_enter_scratch();
    const char *forwarded = parse(arg), *again = nullptr;
    uint32_t flags = gDebugFlags, level = gAssertLevel;
    if (forwarded) {
        fz_check(strncmp(forwarded, "--kvdebug=", 10) == 0 && (again = parse(forwarded)) && !strcmp(again, forwarded),
                 "the forwarded option is --kvdebug=..., forwarded unchanged");
        fz_check(gDebugFlags == flags && gAssertLevel == level, "the forwarded option sets the same flags and level");
    }
    db_finish();
    db_reset_options();
    fz_leave_scratch();
    return 0;
}
