/*
 * fuzz_kvdebug.cpp - the "--kvdebug" option parser (db_parse_options) and
 * the option it forwards (db_make_option), on "--kvdebug" followed by the
 * input (so "=on,adt" is the usual shape).
 *
 * The parser takes effect once per process and has no reset, so every input
 * runs in a forked child (the sanitizers watch it; libFuzzer sees no
 * coverage from it and mutates around the seeds).  The child parses in the
 * scratch directory (inputs holding a '/' are skipped, so "out:" and "zip:"
 * touch files only there), checks the debug state and the forwarded option,
 * and runs the end-of-run step.  The one fatal alert the parser may raise is
 * 141, a debug-out file that cannot be opened.
 */
#include <cstring>

#include "fuzz_util.h"
#include "kvdebug.h"

/* The forwarded items that follow from the flag word and the assert level
 * alone, in table order ("out", "zip" and "debug" are left out). */
static std::string expected_items(void)
{
    static const char *const level_names[] = {"ignore", "fatal", "error", "warning"};
    std::string items;
    if (gDebugFlags & DB_FLAG_TRACE) items += ",default,on";
    if (gDebugFlags & DB_FLAG_SDB) items += ",sdb";
    if (gDebugFlags & DB_FLAG_DWARF) items += ",dwarf";
    if (gDebugFlags & DB_FLAG_ALERTS) items += ",alerts";
    if (gAssertLevel != DB_ASSERT_IGNORE) items += std::string(",assert:") + level_names[gAssertLevel];
    if (gDebugFlags & DB_FLAG_ADT) items += ",adt";
    if (gDebugFlags) items += ",num:1";
    return items;
}

/* The items of a forwarded option that derive from flags and level. */
static std::string derived_items(const char *option)
{
    static const char *const derived[] = {"default", "on", "sdb", "dwarf", "alerts", "adt", "assert:", "num:"};
    std::string items;
    if (!option) return items;
    fz_check(strncmp(option, "--kvdebug=", 10) == 0, "the forwarded option begins with --kvdebug=");
    if (!option[10]) return items;
    for (const char *item = option + 10;; item += strcspn(item, ",") + 1) {
        std::string name(item, strcspn(item, ","));
        fz_check(!name.empty(), "no empty item in the forwarded option");
        for (const char *d : derived) {
            bool prefix = d[strlen(d) - 1] == ':';
            if (prefix ? name.compare(0, strlen(d), d) == 0 : name == d) items += "," + name;
        }
        if (!item[name.size()]) return items;
    }
}

static void parse_and_finish(void *arg)
{
    fz_check(freopen("stderr.txt", "w", stderr) != nullptr, "capture standard error");
    db_parse_options(((const std::string *)arg)->c_str());
    fz_check(gAssertLevel <= DB_ASSERT_WARNING, "assert level 0..3");
    fz_check(gDebugFlags == 0 || gFile != nullptr, "a non-zero flag word has an open debug-out file");
    fz_check(derived_items(db_make_option(DBC_KVQ, "driver")) == expected_items(),
             "flags and assert level are forwarded in table order");
    db_finish();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (memchr(data, '/', size)) return 0;
    std::string arg = "--kvdebug" + std::string((const char *)data, strnlen((const char *)data, size));
    fz_enter_scratch();
    int status = fz_forked(parse_and_finish, &arg);
    if (status == FZ_EXIT_FATAL) {
        std::string err;
        FILE *f = fopen("stderr.txt", "r");
        fz_check(f != nullptr, "standard error was captured");
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) err.append(buf, n);
        fclose(f);
        fz_check(err.find("(141) ") != std::string::npos, "the only fatal alert is 141 (debug-out file)");
    } else {
        fz_check(status == 0, "the child ends normally");
    }
    fz_leave_scratch();
    return 0;
}
