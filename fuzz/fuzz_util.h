/*
 * fuzz_util.h - what the libFuzzer targets share: a private scratch
 * directory, forked runs for inputs that may legitimately end the process,
 * and reference models of the command-file syntax written from its rules
 * (not from the code under test) to check the product against.
 *
 * Fatal alerts end the process through exit(); the targets never let that
 * happen silently.  In-process runs install a hook that aborts ("unexpected
 * fatal alert"), so libFuzzer reports the input.  Inputs that may end the
 * process by design (an "@" file that includes itself, more than 20 overlong
 * words) run in a forked child whose fatal exit is reported as FZ_EXIT_FATAL
 * and compared with what the reference model expects.  A child killed by a
 * signal (a sanitizer report, an assertion) makes the parent abort.
 */
#ifndef KVQ_FUZZ_UTIL_H
#define KVQ_FUZZ_UTIL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/* Exit status of a forked child whose run a fatal alert ended. */
constexpr int FZ_EXIT_FATAL = 3;

/* Longest word of a command file; a longer one is cut (alert 917). */
constexpr size_t FZ_WORD_MAX = 2047;

/* Errors a run may raise before the next one ends it ("too many errors"). */
constexpr unsigned FZ_ERROR_LIMIT = 20;

/* Makes this process's private scratch directory (once) and changes into it;
 * fz_leave_scratch returns to the directory libFuzzer runs in, so crash
 * artifacts and corpus paths stay where the user put them. */
void fz_enter_scratch(void);
void fz_leave_scratch(void);

/* Absolute path of `name` in the scratch directory. */
std::string fz_scratch_path(const char *name);

/* Writes `size` bytes to `name` in the scratch directory (truncating). */
void fz_write_file(const char *name, const uint8_t *data, size_t size);

/* Removes everything in the scratch directory. */
void fz_clear_scratch(void);

/* Points standard input at a scratch file holding the bytes. */
void fz_stdin_from(const uint8_t *data, size_t size);

/* Makes any fatal alert of this process abort with a message. */
void fz_guard_in_process(void);

/* Runs body(arg) in a forked child with fatal alerts mapped to
 * FZ_EXIT_FATAL; returns the child's exit status (0 when body returned).
 * Aborts when the child was killed by a signal. */
int fz_forked(void (*body)(void *), void *arg);

/* Aborts with `what` when `ok` is false. */
void fz_check(bool ok, const char *what);

/* ---- reference model of the command-file word syntax ---------------------- */

/* True when the models below describe what the product reads from these
 * bytes: no NUL byte (the C-string line reader cuts at it, so the rest of
 * such a line is the platform's business), and no CR in a line longer than
 * `piece` - 2 bytes (a CR at the end of a read piece may end the line
 * there).  Other inputs still run, for the sanitizers, but are not compared. */
bool fz_modelled(const uint8_t *data, size_t size, size_t piece);

/* The bytes as a text-mode reader sees them: CR LF reads as LF. */
std::string fz_text_mode(const uint8_t *data, size_t size);

/* The lines as the line reader returns them, each with its LF (the last one
 * without, when the text does not end in LF). */
std::vector<std::string> fz_lines(const std::string &text);

/* Appends the words of one line; returns true when a word was longer than
 * FZ_WORD_MAX (the word is cut there and the rest of the line dropped).
 * Empty words are not appended: the intake drops them. */
bool fz_split_line(const std::string &line, std::vector<std::string> &words);

/* An ordinary argument without the backslashes that stand before a blank, a
 * quote or another backslash. */
std::string fz_unescape(const std::string &arg);

#endif /* KVQ_FUZZ_UTIL_H */
