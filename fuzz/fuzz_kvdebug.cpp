/*
 * fuzz_kvdebug.cpp - the "--kvdebug" option parser (db_parse_options) and
 * the option it forwards (db_make_option), on "--kvdebug" followed by the
 * input (so "=on,adt" is the usual shape).
 *
 * The parser takes effect once per process and has no reset, so every input
 * runs in a forked child: the sanitizers still watch it, but libFuzzer sees
 * no coverage from inside the child and mutates blindly around the seeds.
 * The child parses in the scratch directory (inputs holding a '/' are
 * skipped, so "out:" and "zip:" can create, truncate or remove files only
 * there), checks the debug state and the forwarded option, and runs the
 * end-of-run step (package zip, master-list dumps).  The one fatal alert the
 * parser may raise is 141, a debug-out file that cannot be opened; any other
 * fatal end is a finding.
 */
#include <cstring>
#include <sstream>

#include "fuzz_util.h"
#include "kvdebug.h"

/* The forwarded items that follow from the flag word and the assert level
 * alone, in table order (the "out", "zip" and "debug" items are left out). */
static std::vector<std::string> expected_items(void)
{
    static const char *const level_names[] = {"ignore", "fatal", "error", "warning"};
    std::vector<std::string> items;
    if (gDebugFlags & DB_FLAG_TRACE) items.insert(items.end(), {"default", "on"});
    if (gDebugFlags & DB_FLAG_SDB) items.push_back("sdb");
    if (gDebugFlags & DB_FLAG_DWARF) items.push_back("dwarf");
    if (gDebugFlags & DB_FLAG_ALERTS) items.push_back("alerts");
    if (gAssertLevel != DB_ASSERT_IGNORE) items.push_back(std::string("assert:") + level_names[gAssertLevel]);
    if (gDebugFlags & DB_FLAG_ADT) items.push_back("adt");
    if (gDebugFlags) items.push_back("num:1");
    return items;
}

static bool derived_item(const std::string &item)
{
    static const char *const names[] = {"default", "on", "sdb", "dwarf", "alerts", "adt"};
    for (const char *name : names) {
        if (item == name) return true;
    }
    return item.compare(0, 7, "assert:") == 0 || item.compare(0, 4, "num:") == 0;
}

static void check_forwarded(const char *option)
{
    std::vector<std::string> derived;
    if (option) {
        fz_check(strncmp(option, "--kvdebug=", 10) == 0, "the forwarded option begins with --kvdebug=");
        std::stringstream list(option + 10);
        std::string item;
        while (std::getline(list, item, ',')) {
            fz_check(!item.empty(), "no empty item in the forwarded option");
            if (derived_item(item)) derived.push_back(item);
        }
        fz_check(option[strlen(option) - 1] != ',', "no trailing comma");
    }
    fz_check(derived == expected_items(), "flags and assert level are forwarded in table order");
}

static void parse_and_finish(void *arg)
{
    fz_check(freopen("stderr.txt", "w", stderr) != nullptr, "capture standard error");
    db_parse_options(((const std::string *)arg)->c_str());
    fz_check(gAssertLevel <= DB_ASSERT_WARNING, "assert level 0..3");
    fz_check(gDebugFlags == 0 || gFile != nullptr, "a non-zero flag word has an open debug-out file");
    check_forwarded(db_make_option(DBC_KVQ, "driver"));
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
        if (FILE *f = fopen("stderr.txt", "r")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0) err.append(buf, n);
            fclose(f);
        }
        fz_check(err.find("(141) ") != std::string::npos, "the only fatal alert is 141 (debug-out file)");
    } else {
        fz_check(status == 0, "the child ends normally");
    }
    fz_clear_scratch();
    fz_leave_scratch();
    return 0;
}
