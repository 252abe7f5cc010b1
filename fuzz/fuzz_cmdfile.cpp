/*
 * fuzz_cmdfile.cpp - the command-file writer (kvq_cmdfile_line: a backslash
 * before each double quote, then the option quoted when it holds a blank,
 * tab, LF or CR) on the input up to its first NUL.
 */
#include <cstring>
#include <string>

#include "fuzz_util.h"
#include "kvq.h"
#include "stringcache.h"

/* The option a line stands for (outer quotes off, then the backslash before
 * each double quote); false for no valid encoding. */
static bool decode(std::string body, std::string *option)
{
    if (!body.empty() && body[0] == '"') {
        if (body.size() < 2 || body.back() != '"') return false;
        body = body.substr(1, body.size() - 2);
    }
    for (size_t i = 0; i < body.size(); i++) {
        if (body[i] == '"') return false;
        if (body[i] == '\\' && i + 1 < body.size() && body[i + 1] == '"') i++;
        *option += body[i];
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string option((const char *)data, strnlen((const char *)data, size)), decoded;
    const char *line = kvq_cmdfile_line(option.c_str());
    fz_check(line && line == str_save(line), "the line is an interned string");
    fz_check(decode(line, &decoded) && decoded == option, "the line decodes to the option");
    fz_check((option.find_first_of(" \t\n\r") != option.npos) == (line[0] == '"'),
             "quoted exactly when the option holds a blank, tab, LF or CR");
    return 0;
}
