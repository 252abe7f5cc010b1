/*
 * debug_test_util.h - helpers of the debug tests: reading a zip back,
 * capturing this process's standard error, running the option probe.
 */
#ifndef KVQ_DEBUG_TEST_UTIL_H
#define KVQ_DEBUG_TEST_UTIL_H

#include <string>
#include <utility>
#include <vector>

#include "test_util.h"

/* The entries of a zip archive in stored order: name and uncompressed bytes.
 * Empty when the archive cannot be read. */
typedef std::vector<std::pair<std::string, std::string>> zip_entries;
zip_entries read_zip(const std::string &path);

/* Points file descriptor 2 at a scratch file until stop() returns what was
 * written there. */
struct stderr_capture {
    int saved = -1;
    std::string path;
    void start();
    std::string stop();
};

/* Runs the debug_probe helper with `steps` in the directory `cwd`. */
tu_result run_probe(const std::vector<std::string> &steps, const std::string &cwd,
                    const std::vector<std::string> &env = {});

/* Occurrences of `needle` in `text`. */
size_t count_of(const std::string &text, const std::string &needle);

#endif /* KVQ_DEBUG_TEST_UTIL_H */
