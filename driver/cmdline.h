/*
 * cmdline.h - argument intake: argv to the argument list the driver scans.
 *
 * "@file" arguments are expanded recursively (the file's text split into
 * words by getargs), one level of backslash escapes is removed from ordinary
 * arguments, empty arguments are dropped, and every argument beginning with
 * "--kvdebug" is handed to db_parse_options before it is stored.  An "@"
 * argument that names no readable file is kept as it is.  A file that is
 * already being expanded, or nesting deeper than CMDLINE_MAX_DEPTH, is fatal.
 * A command file's lines are those str_read_line reads; a NUL ends the text
 * of its line.
 */
#ifndef KVQ_DRIVER_CMDLINE_H
#define KVQ_DRIVER_CMDLINE_H

#include <cstdint>

struct vector;

/* Deepest nesting of "@" files accepted. */
constexpr uint32_t CMDLINE_MAX_DEPTH = 64;

/* Longest word of a command file (the word buffer holds one more byte). */
constexpr uint32_t GETARGS_WORD_MAX = 2047;

/* A new vector of strings: argv[1..] processed as above.  The strings live
 * to the end of the run and are never written to; equal texts need not be
 * the same pointer.  Writes the APP/ARGS trace lines when any debug flag is
 * set. */
vector *cmdline_args(int argc, char **argv);

/* The worker; `callback` (may be NULL) sees each argument before it is
 * examined.  Sets the program name from argv[0] on its first call. */
typedef void (*cmdline_callback)(const char *arg);
vector *cmdline_expand(int argc, char **argv, cmdline_callback callback);

/* Splits standard input into words: element 0 is `name`, then the words,
 * then NULL.  Prompts "<name>> " before each line when `one_line` is false,
 * `name` is set and standard input is a terminal.  The array is reused by
 * the next call; the words after element 0 are heap strings that belong to
 * the caller (free() each).  *count receives the number before the NULL. */
char **getargs(bool one_line, const char *name, int *count);

/* The program name (last component of argv[0]) or NULL before intake. */
const char *cmdline_program_name(void);

#endif /* KVQ_DRIVER_CMDLINE_H */
