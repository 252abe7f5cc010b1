/*
 * fuzz_intake.cpp - the argument intake (cmdline_expand) on a tree of "@"
 * files.
 *
 * The input is split at the byte 0x1E into up to four command files f0..f3
 * in the scratch directory, and the intake runs on "kvq @f0"; the files may
 * name each other, themselves, the directories "." and ".." (no command
 * files: they stay as they are) or missing files.  Inputs holding a '/' are
 * skipped, so no name leaves the scratch directory.
 *
 * The reference expansion predicts the arguments, their order, that each is
 * an interned string, and the number of 917 errors.  A file that includes
 * itself ends the run with fatal alert 2083, more than 20 cut words with
 * "too many errors": such inputs, and those the model does not describe,
 * run in a forked child whose exit status is checked.
 */
#include <algorithm>
#include <cstring>

#include "alert.h"
#include "cmdline.h"
#include "fuzz_util.h"
#include "kvdebug.h"
#include "stringcache.h"
#include "vector.h"

constexpr int TREE_FILES = 4;
constexpr uint8_t FILE_SEPARATOR = 0x1E;
static const char *const FILE_NAMES[TREE_FILES] = {"f0", "f1", "f2", "f3"};

struct expansion {
    std::vector<std::string> files[TREE_FILES]; /* the lines of each file */
    bool modelled = true;
    std::vector<std::string> args;
    unsigned cut_lines = 0;
    bool cyclic = false;
};

static void model(expansion &e, const std::vector<std::string> &args, std::vector<int> &open)
{
    for (const std::string &arg : args) {
        if (e.cyclic) return;
        int k = TREE_FILES;
        if (arg[0] == '@') k = (int)(std::find(FILE_NAMES, FILE_NAMES + TREE_FILES, arg.substr(1)) - FILE_NAMES);
        if (k == TREE_FILES) {
            /* An ordinary argument, or "@" naming no command file. */
            e.args.push_back(arg[0] == '@' ? arg : fz_unescape(arg));
            continue;
        }
        if (std::find(open.begin(), open.end(), k) != open.end()) {
            e.cyclic = true;
            return;
        }
        std::vector<std::string> words;
        for (const std::string &line : e.files[k]) e.cut_lines += fz_split_line(line, words);
        open.push_back(k);
        model(e, words, open);
        open.pop_back();
    }
}

static void seen(const char *arg)
{
    fz_check(arg != nullptr, "the callback sees a real argument");
}

static void run_intake(void *arg)
{
    const expansion *want = (const expansion *)arg;
    char arg0[] = "kvq", arg1[] = "@f0";
    char *argv[] = {arg0, arg1, nullptr};
    uint32_t errors_before = alert_error_count();
    vector *out = cmdline_expand(2, argv, seen);
    if (want->modelled && !want->cyclic) {
        fz_check(alert_error_count() - errors_before == want->cut_lines, "one alert 917 per cut word");
        fz_check(vec_size(out) == want->args.size(), "as many arguments as the model");
        for (uint32_t i = 0; i < vec_size(out) && i < want->args.size(); i++)
            fz_check(vec_get(out, i) == str_save(want->args[i].c_str()), "each argument is the model's, interned");
    }
    vec_free(out);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    /* The one debug-option parse of the process, with an empty list: later
     * "--kvdebug" words only warn, and nothing writes trace files. */
    db_parse_options("--kvdebug=");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (memchr(data, '/', size)) return 0;
    fz_enter_scratch();
    expansion e;
    const uint8_t *start = data, *end = data + size;
    for (int i = 0; i < TREE_FILES; i++) {
        const uint8_t *stop = i + 1 < TREE_FILES ? std::find(start, end, FILE_SEPARATOR) : end;
        fz_write_file(FILE_NAMES[i], start, (size_t)(stop - start));
        e.files[i] = fz_lines(start, (size_t)(stop - start));
        e.modelled = e.modelled && fz_modelled(start, (size_t)(stop - start), 1024);
        start = stop < end ? stop + 1 : end;
    }
    std::vector<int> open;
    model(e, {"@f0"}, open);
    if (e.modelled && !e.cyclic && e.cut_lines == 0) {
        run_intake(&e);
    } else {
        int status = fz_forked(run_intake, &e);
        bool fatal = e.cyclic || e.cut_lines > FZ_ERROR_LIMIT;
        fz_check(e.modelled ? status == (fatal ? FZ_EXIT_FATAL : 0) : (status == 0 || status == FZ_EXIT_FATAL),
                 "a forked run ends by itself exactly when it must");
    }
    fz_leave_scratch();
    return 0;
}
