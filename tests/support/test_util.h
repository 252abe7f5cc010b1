/*
 * test_util.h - helpers shared by the test suites: files, scratch directories
 * and child processes with captured output.  The build defines the paths
 * KVQ_TEST_BACKEND, KVQ_STAGE_BIN (the staged tor/bin) and KVQ_TEST_HELPERS_DIR.
 */
#ifndef KVQ_TEST_UTIL_H
#define KVQ_TEST_UTIL_H

#include <string>
#include <vector>

std::string tu_read(const std::string &path);
void tu_write(const std::string &path, const std::string &content);
bool tu_exists(const std::string &path);  /* lstat: a dangling link exists */
void tu_copy(const std::string &from, const std::string &to, bool exec);
void tu_mkdirs(const std::string &path);  /* with every missing parent */
std::string tu_mkdtemp(const char *tag = "kvqtest");  /* a new directory under /tmp */
void tu_rmtree(const std::string &path);
std::vector<std::string> tu_list(const std::string &dir);  /* sorted, without "." and ".." */

struct tu_result {
    int status;       /* exit code; 128+N when killed by signal N; -1 on failure */
    std::string out;  /* standard output */
    std::string err;  /* standard error */
};

/* Runs argv[0] (a path) with argv and standard input from /dev/null; waits
 * until it has exited and no process (its children included) holds its
 * standard output any more.  env: "NAME=value" sets, "NAME" alone unsets, on
 * top of our environment; cwd: the child's working directory ("": ours). */
tu_result tu_run(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                 const std::string &cwd = "");

/* Path of a program built from tests/helpers/<name>.cpp. */
std::string tu_helper(const char *name);

#endif /* KVQ_TEST_UTIL_H */
