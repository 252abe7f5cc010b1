/*
 * fuzz_cmdfile.cpp - the command-file writer (kvq_cmdfile_line: double
 * quotes escaped with a backslash, then the whole option quoted when it holds
 * a blank, tab, LF or CR) against a decoder of our own.
 *
 * The input is split at NUL bytes into options.  Each written line must be
 * an interned string, decode back to the option, and be quoted exactly when
 * the option holds one of the four characters (vertical tab and form feed do
 * not count; an unquoted line never begins with a quote, as a leading one is
 * escaped).  Nothing here raises an alert.
 */
#include <cstring>

#include "fuzz_util.h"
#include "kvq.h"
#include "stringcache.h"

/* The option a line stands for: outer quotes removed when it begins with
 * one, then the backslash before each double quote.  False when the line is
 * no valid encoding (an unescaped quote inside, or no closing quote). */
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
    const char *p = (const char *)data, *end = p + size;
    for (const char *stop; p <= end; p = stop + 1) {
        stop = (const char *)memchr(p, '\0', (size_t)(end - p));
        if (!stop) stop = end;
        std::string option(p, (size_t)(stop - p)), decoded;
        const char *line = kvq_cmdfile_line(option.c_str());
        fz_check(line != nullptr && line == str_save(line), "the line is an interned string");
        fz_check(decode(line, &decoded) && decoded == option, "the line decodes to the option");
        fz_check((option.find_first_of(" \t\n\r") != std::string::npos) == (line[0] == '"'),
                 "quoted exactly when the option holds a blank, tab, LF or CR");
    }
    return 0;
}
