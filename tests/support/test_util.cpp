/*
 * test_util.cpp - the test helpers every platform shares: reading, writing
 * and listing files, path forms, and the paths of the build's programs.
 * Failures here are test failures (gtest assertions), never silent.
 */
#include "test_util.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

/* The platform's form of a path of the build tree (test_util_<platform>.cpp). */
std::string tu_build_path(const char *path);

std::string tu_read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void tu_write(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::vector<std::string> tu_list(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    while (struct dirent *e = d ? readdir(d) : nullptr) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    }
    if (d) closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string tu_path(std::string path)
{
    std::replace(path.begin(), path.end(), '/', TU_SEP);
    return path;
}

std::string tu_text(const std::string &text)
{
    std::string out;
    for (char c : text) out += c == '\n' ? std::string(TU_EOL) : std::string(1, c);
    return out;
}

std::string tu_helper(const char *name)
{
    return tu_build_path(KVQ_TEST_HELPERS_DIR) + TU_SEP + name + TU_EXE;
}

std::string tu_staged(const char *name)
{
    return tu_build_path(KVQ_STAGE_BIN) + TU_SEP + name + TU_EXE;
}

std::string tu_test_backend(void)
{
    return tu_build_path(KVQ_TEST_BACKEND);
}
