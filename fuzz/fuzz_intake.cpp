/*
 * fuzz_intake.cpp - the argument intake (cmdline_expand) on a tree of "@"
 * files.
 *
 * The input is split at the byte 0x1E into the contents of up to four
 * command files f0..f3 in the scratch directory, and the intake runs on the
 * command line "kvq @f0"; the files may name each other ("@f2"), themselves,
 * the directories "." and ".." (which are no command files and stay as they
 * are), or files that do not exist.  Inputs holding a '/' are skipped, so no
 * name can leave the scratch directory (no "@/dev/zero").
 *
 * The reference expansion (files read with the word model of fuzz_util, "@"
 * names resolved in the tree, other words unescaped, empty ones dropped)
 * predicts the arguments, their order, that each is an interned string, and
 * how many 917 errors are raised.  A tree in which a file includes itself
 * ends the run with fatal alert 2083, and more than 20 cut words end it with
 * "too many errors": such inputs, and those the model does not describe, run
 * in a forked child whose exit status is checked.
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

struct tree {
    std::string text[TREE_FILES];  /* each file as a text-mode reader sees it */
    bool described;                /* the word model covers every file */
};

struct expansion {
    std::vector<std::string> args;
    unsigned cut_lines = 0;
    bool cyclic = false;
};

static int file_index(const std::string &name)
{
    for (int i = 0; i < TREE_FILES; i++) {
        if (name == FILE_NAMES[i]) return i;
    }
    return -1;
}

static void model(const tree &t, const std::vector<std::string> &args, std::vector<int> &open, expansion &e)
{
    for (const std::string &arg : args) {
        if (e.cyclic) return;
        if (arg.empty()) continue;
        if (arg[0] != '@') {
            e.args.push_back(fz_unescape(arg));
            continue;
        }
        std::string name = arg.substr(1);
        int k = file_index(name);
        if (k < 0) {
            /* Not a command file (missing, or a directory): kept as it is. */
            e.args.push_back(arg);
            continue;
        }
        if (std::find(open.begin(), open.end(), k) != open.end()) {
            e.cyclic = true;
            return;
        }
        std::vector<std::string> words;
        for (const std::string &line : fz_lines(t.text[k])) e.cut_lines += fz_split_line(line, words);
        open.push_back(k);
        model(t, words, open, e);
        open.pop_back();
    }
}

static void seen(const char *arg)
{
    fz_check(arg != nullptr, "the callback sees a real argument");
}

struct intake_case {
    const tree *t;
    const expansion *want;
};

/* Runs the intake on "kvq @f0" and compares it with the model when the
 * model describes the tree and the run can end normally. */
static void run_intake(void *arg)
{
    const intake_case *c = (const intake_case *)arg;
    char arg0[] = "kvq", arg1[] = "@f0";
    char *argv[] = {arg0, arg1, nullptr};
    uint32_t errors_before = alert_error_count();
    vector *out = cmdline_expand(2, argv, seen);
    if (c->t->described && !c->want->cyclic) {
        const std::vector<std::string> &want = c->want->args;
        fz_check(alert_error_count() - errors_before == c->want->cut_lines, "one alert 917 per cut word");
        fz_check(vec_size(out) == want.size(), "as many arguments as the model");
        for (uint32_t i = 0; i < vec_size(out) && i < want.size(); i++) {
            fz_check(vec_get(out, i) == str_save(want[i].c_str()), "each argument is the model's, interned");
        }
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
    fz_guard_in_process();
    fz_enter_scratch();
    tree t;
    t.described = true;
    const uint8_t *start = data, *end = data + size;
    for (int i = 0; i < TREE_FILES; i++) {
        const uint8_t *stop = i + 1 < TREE_FILES ? std::find(start, end, FILE_SEPARATOR) : end;
        fz_write_file(FILE_NAMES[i], start, (size_t)(stop - start));
        t.text[i] = fz_text_mode(start, (size_t)(stop - start));
        t.described = t.described && fz_modelled(start, (size_t)(stop - start), 1024);
        start = stop < end ? stop + 1 : end;
    }
    expansion want;
    std::vector<int> open;
    model(t, {"@f0"}, open, want);
    intake_case c{&t, &want};

    if (t.described && !want.cyclic && want.cut_lines == 0) {
        run_intake(&c);
    } else {
        int status = fz_forked(run_intake, &c);
        if (t.described) {
            bool fatal = want.cyclic || want.cut_lines > FZ_ERROR_LIMIT;
            fz_check(status == (fatal ? FZ_EXIT_FATAL : 0), "a forked run ends by itself exactly when it must");
        } else {
            fz_check(status == 0 || status == FZ_EXIT_FATAL, "a forked run ends normally or by a fatal alert");
        }
    }
    fz_leave_scratch();
    return 0;
}
