/*
 * fuzz_util.h - what the libFuzzer targets share: a private scratch
 * directory, forked runs for inputs that may end the process by design, and
 * a reference model of the command-file word syntax, written from its rules
 * (not from the code under test) to check the product against.
 *
 * In-process runs abort on any fatal alert ("unexpected fatal alert"), so
 * libFuzzer reports the input.  A forked child maps a fatal end to
 * FZ_EXIT_FATAL for the parent to compare with the model; a child killed by
 * a signal (a sanitizer report, an assertion) makes the parent abort.
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

/* Aborts with `what` when `ok` is false. */
void fz_check(bool ok, const char *what);

/* Enters this process's scratch directory (made on first use, removed at
 * exit) and makes fatal alerts abort; fz_leave_scratch empties it and
 * returns to libFuzzer's directory, where corpus and artifact paths hold. */
void fz_enter_scratch(void);
void fz_leave_scratch(void);

/* Writes the bytes to `name` in the current directory (truncating). */
void fz_write_file(const char *name, const uint8_t *data, size_t size);

/* Runs body(arg) in a forked child; returns its exit status (0 when body
 * returned, FZ_EXIT_FATAL after a fatal alert).  Aborts when it was killed. */
int fz_forked(void (*body)(void *), void *arg);

/* ---- reference model of the command-file word syntax ---------------------- */

/* True when the model describes what the product reads from these bytes: no
 * NUL byte (the C-string line reader cuts at it), and no CR in a line longer
 * than `piece` - 2 bytes (a CR at the end of a read piece may end the line
 * there).  Other inputs still run, for the sanitizers, but are not compared. */
bool fz_modelled(const uint8_t *data, size_t size, size_t piece);

/* The lines a text-mode reader returns (CR LF read as LF), each with its LF
 * but the last when the bytes do not end in one. */
std::vector<std::string> fz_lines(const uint8_t *data, size_t size);

/* Appends the non-empty words of one line; returns true when a word was
 * longer than FZ_WORD_MAX (it is cut there and the rest of the line dropped). */
bool fz_split_line(const std::string &line, std::vector<std::string> &words);

/* An ordinary argument without the backslashes that stand before a blank, a
 * quote or another backslash. */
std::string fz_unescape(const std::string &arg);

#endif /* KVQ_FUZZ_UTIL_H */
