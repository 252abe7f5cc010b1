/*
 * fuzz_cmdfile.cpp - the command-file writer (kvq_cmdfile_line: double
 * quotes escaped with a backslash, then the whole option quoted when it holds
 * a blank, tab, LF or CR) against a decoder of our own.
 *
 * The input is split at NUL bytes into options.  For each, the written line
 * must decode back to the option, be quoted exactly when the option holds one
 * of the four characters (vertical tab and form feed do not count), and be an
 * interned string.  Nothing here raises an alert.
 */
#include <cstring>

#include "fuzz_util.h"
#include "kvq.h"
#include "stringcache.h"

/* The option a command-file line stands for: outer quotes removed when the
 * line begins with one, then the backslash before each double quote.  False
 * when the line is not a valid encoding (an unescaped quote inside, or a
 * quoted line without its closing quote). */
static bool decode(const std::string &line, std::string *option)
{
    std::string body = line;
    if (!body.empty() && body[0] == '"') {
        if (body.size() < 2 || body.back() != '"') return false;
        body = body.substr(1, body.size() - 2);
    }
    option->clear();
    for (size_t i = 0; i < body.size(); i++) {
        if (body[i] == '"') return false;
        if (body[i] == '\\' && i + 1 < body.size() && body[i + 1] == '"') i++;
        *option += body[i];
    }
    return true;
}

static void check_option(const std::string &option)
{
    const char *line = kvq_cmdfile_line(option.c_str());
    fz_check(line != nullptr, "every option has a line");
    fz_check(line == str_save(line), "the line is an interned string");
    std::string decoded;
    fz_check(decode(line, &decoded), "the line is a valid encoding");
    fz_check(decoded == option, "the line decodes to the option");
    bool needs_quotes = option.find_first_of(" \t\n\r") != std::string::npos;
    /* An unquoted line never begins with a quote: a leading one is escaped. */
    fz_check(needs_quotes == (line[0] == '"'), "quoted exactly when the option holds a blank, tab, LF or CR");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *p = (const char *)data, *end = p + size;
    while (p <= end) {
        const char *nul = (const char *)memchr(p, '\0', (size_t)(end - p));
        const char *stop = nul ? nul : end;
        check_option(std::string(p, (size_t)(stop - p)));
        p = stop + 1;
    }
    return 0;
}
