/*
 * test_intake_posix.cpp - the argument intake of command files that cannot be
 * read whole in advance: a pipe (here a FIFO) is read a line at a time, and
 * must give exactly the words that a file with the same bytes gives.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cmdline.h"
#include "test_util.h"
#include "vector.h"

namespace {

std::vector<std::string> expand(const std::string &at)
{
    std::vector<const char *> argv = {"kvq", at.c_str()};
    vector *args = cmdline_expand((int)argv.size(), (char **)argv.data(), nullptr);
    std::vector<std::string> out;
    for (uint32_t i = 0; i < vec_size(args); i++) out.push_back((const char *)vec_get(args, i));
    vec_free(args);
    return out;
}

}  // namespace

TEST(IntakePosix, APipeGivesTheWordsOfAFileWithTheSameBytes)
{
    std::string dir = tu_mkdtemp("kvqpipe"), x(1022, 'x'), nul(1, '\0');
    /* Quotes and escapes, CR LF, a CR that ends a 1023-byte piece, a NUL in a
     * long line, an escaped backslash and blank, and a nested file. */
    std::string text = "plain \"a b\"  c\\ d\r\n" + x + "\rtail\n-DA " + nul + std::string(5000, 'h') +
                       "\nx\\\\\\ y 'q\"' @" + dir + "/nested.txt last\n";
    tu_write(dir + "/nested.txt", "n1 n2\n");
    tu_write(dir + "/file.txt", text);
    ASSERT_EQ(mkfifo((dir + "/pipe").c_str(), 0600), 0);
    std::thread writer([&] {
        int fd = open((dir + "/pipe").c_str(), O_WRONLY);
        if (fd < 0) return;
        for (size_t at = 0; at < text.size();) {
            ssize_t n = write(fd, text.data() + at, text.size() - at);
            if (n <= 0) break;
            at += (size_t)n;
        }
        close(fd);
    });
    std::vector<std::string> from_pipe = expand("@" + dir + "/pipe");
    writer.join();

    const std::vector<std::string> want = {"plain", "a b", "c d", x + "\r", "tail", "-DA", "x y", "q\"",
                                           "n1", "n2", "last"};
    EXPECT_EQ(from_pipe, want);
    EXPECT_EQ(expand("@" + dir + "/file.txt"), want);
    tu_rmtree(dir);
}
