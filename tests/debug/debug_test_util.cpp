/*
 * debug_test_util.cpp - helpers of the debug tests (see debug_test_util.h).
 */
#include "debug_test_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include <minizip/unzip.h>

zip_entries read_zip(const std::string &path)
{
    zip_entries entries;
    unzFile zf = unzOpen64(path.c_str());
    if (!zf) return entries;
    for (int rc = unzGoToFirstFile(zf); rc == UNZ_OK; rc = unzGoToNextFile(zf)) {
        char name[1024];
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zf, &info, name, sizeof name, NULL, 0, NULL, 0) != UNZ_OK) break;
        std::string data(info.uncompressed_size, '\0');
        if (unzOpenCurrentFile(zf) != UNZ_OK) break;
        int got = data.empty() ? 0 : unzReadCurrentFile(zf, &data[0], (unsigned)data.size());
        bool crc_ok = unzCloseCurrentFile(zf) == UNZ_OK;
        if (got != (int)data.size() || !crc_ok) data = "<unreadable>";
        entries.emplace_back(name, data);
    }
    unzClose(zf);
    return entries;
}

void stderr_capture::start()
{
    path = tu_mkdtemp("kvqdbgerr") + "/stderr";
    fflush(stderr);
    saved = dup(2);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    close(fd);
}

std::string stderr_capture::stop()
{
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text = tu_read(path);
    tu_rmtree(path.substr(0, path.rfind('/')));
    return text;
}

tu_result run_probe(const std::vector<std::string> &steps, const std::string &cwd,
                    const std::vector<std::string> &env)
{
    std::vector<std::string> argv{tu_helper("debug_probe")};
    argv.insert(argv.end(), steps.begin(), steps.end());
    return tu_run(argv, env, cwd);
}

size_t count_of(const std::string &text, const std::string &needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n++;
    return n;
}
