/*
 * platform_facts.h - what the shared tests expect of the platform they run
 * on, stated here once rather than read from the code under test.
 * test_util_posix.cpp and test_util_win32.cpp define them.
 */
#ifndef KVQ_PLATFORM_FACTS_H
#define KVQ_PLATFORM_FACTS_H

#include <string>
#include <vector>

/* The separator the program writes into paths ('/'; '\\'). */
extern const char TU_SEP;

/* The file name suffix of a program ("", ".exe"). */
extern const char *const TU_EXE;

/* A line end as a file written in text mode holds it ("\n"; "\r\n"). */
extern const char *const TU_EOL;

/* Whether reading a file in text mode ends at a Ctrl-Z byte (Windows). */
extern const bool TU_TEXT_ENDS_AT_CTRL_Z;

/* Whether file names that differ only in case name one file (Windows). */
extern const bool TU_NAMES_IGNORE_CASE;

/* The longest argument the platform passes to a child program: Linux takes
 * 128 KiB for one argument, the Windows command line 32767 characters in
 * all. */
extern const size_t TU_ARG_MAX;

/* How many characters the root of an absolute path takes ("/"; "C:\"). */
extern const size_t TU_ROOT_LEN;

/* Paths, each with whether it is absolute on this platform. */
struct tu_path_example {
    const char *path;
    bool absolute;
};
extern const std::vector<tu_path_example> TU_PATH_EXAMPLES;

/* The exit status the runtime reports for the test back end's crash
 * (KVQ_TB_CRASH): a segmentation fault (128 + 11), an access violation
 * (0xC0000005 as an int). */
extern const int TU_CRASH_STATUS;

/* The system's text for opening a directory as a file to write to it. */
extern const char *const TU_DIR_AS_FILE_ERROR;

/* Whether writes of several processes to one file opened for appending
 * each land whole at its end.  POSIX's O_APPEND does so, and so does a
 * Windows handle opened for appending only; Wine, however, appends by
 * moving to the end and then writing, so that concurrent writers there
 * overwrite each other's lines. */
bool tu_appends_whole_lines(void);

/* A regular expression, as GoogleTest's death tests read them, matching the
 * standard assertion report for a failed `expression` (a regular expression
 * too, without brackets) in `file` (its base name). */
std::string tu_assertion_report(const std::string &file, const std::string &expression);

#endif /* KVQ_PLATFORM_FACTS_H */
