/*
 * test_util.h - helpers shared by the test suites: files, scratch directories
 * and child processes with captured output.
 *
 * Paths of the built programs come from the build (test_util's compile
 * definitions): KVQ_BINARY, KVQ_TEST_BACKEND, KVQ_STAGE_BIN and
 * KVQ_TEST_HELPERS_DIR (where the programs of tests/helpers/ are built).
 */
#ifndef KVQ_TEST_UTIL_H
#define KVQ_TEST_UTIL_H

#include <string>
#include <vector>

std::string tu_read(const std::string &path);
void tu_write(const std::string &path, const std::string &content);
bool tu_exists(const std::string &path);

/* Copies a file, keeping it executable when `exec`. */
void tu_copy(const std::string &from, const std::string &to, bool exec);

/* Creates every missing directory of `path`. */
void tu_mkdirs(const std::string &path);

/* A new private directory under /tmp; tu_rmtree removes a tree. */
std::string tu_mkdtemp(const char *tag = "kvqtest");
void tu_rmtree(const std::string &path);

/* Names in a directory, sorted, without "." and "..". */
std::vector<std::string> tu_list(const std::string &dir);

struct tu_result {
    int status;       /* exit code; 128+N when killed by signal N; -1 on failure */
    std::string out;  /* standard output */
    std::string err;  /* standard error */
};

/* Runs argv[0] (a path) with argv, waits, captures both streams.
 *   env: "NAME=value" sets, "NAME" alone unsets (applied to our environment).
 *   cwd: the child's working directory ("" keeps ours).
 *   input: written to the child's standard input, which is then closed. */
tu_result tu_run(const std::vector<std::string> &argv,
                 const std::vector<std::string> &env = {},
                 const std::string &cwd = "",
                 const std::string &input = "");

/* Path of a program built from tests/helpers/<name>.cpp. */
std::string tu_helper(const char *name);

#endif /* KVQ_TEST_UTIL_H */
