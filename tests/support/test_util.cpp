/*
 * test_util.cpp - the test helpers every platform shares: files and
 * directories (through std::filesystem), path forms, the environment of a
 * child, and the paths of the build's programs.
 */
#include "test_util.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <unistd.h> /* environ */

#include <gtest/gtest.h>

namespace fs = std::filesystem;

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

bool tu_exists(const std::string &path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

void tu_copy(const std::string &from, const std::string &to, bool exec)
{
    std::error_code ec;
    fs::remove(to, ec); /* rather than overwrite_existing, which mingw's library refuses */
    fs::copy_file(from, to, ec);
    if (!ec) fs::permissions(to, fs::perms(exec ? 0755 : 0644), ec);
    if (ec) ADD_FAILURE() << "copy " << from << " to " << to << ": " << ec.message();
}

void tu_mkdirs(const std::string &path)
{
    std::error_code ec;
    fs::create_directories(path, ec);
}

std::string tu_mkdtemp(const char *tag)
{
    static std::mt19937 random(std::random_device{}());
    std::error_code ec;
    fs::path base = fs::canonical(fs::temp_directory_path(ec), ec);
    for (int attempt = 0; attempt < 100; attempt++) {
        fs::path dir = base / (std::string(tag) + "-" + std::to_string(random() % 1000000));
        if (fs::create_directory(dir, ec)) return dir.string();
    }
    ADD_FAILURE() << "no new directory under " << base;
    return base.string();
}

void tu_rmtree(const std::string &path)
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::vector<std::string> tu_list(const std::string &dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
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

/* Names are compared as the platform compares them ("=C:=C:\dir", a drive's
 * current directory on Windows, has an empty name). */
std::vector<std::string> tu_environment(const std::vector<std::string> &changes)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) env.push_back(*e);
    for (const std::string &change : changes) {
        std::string name = change.substr(0, change.find('=')) + "=";
        auto named = [&](const std::string &e) {
            return e.size() >= name.size() && (TU_NAMES_IGNORE_CASE ? strncasecmp : strncmp)(e.c_str(), name.c_str(),
                                                                                             name.size()) == 0;
        };
        env.erase(std::remove_if(env.begin(), env.end(), named), env.end());
        if (change.find('=') != std::string::npos) env.push_back(change);
    }
    return env;
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
