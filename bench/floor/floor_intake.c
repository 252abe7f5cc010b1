/*
 * floor_intake.c - the least the intake of a large "@" file can cost.
 *
 * Reads the file named by the single "@file" argument in one piece, splits it
 * into words at blanks, tabs and line ends, and hands the words, one per line,
 * to the back end (floor.h).  Every byte is touched a constant number of
 * times: this is the linear floor that kvq's intake (quotes, escapes,
 * interning, "@" nesting) is measured against.
 */
#include <sys/stat.h>

#include "floor.h"

/* The whole file in a heap buffer; NULL when it cannot be read. */
static char *slurp(const char *path, size_t *len)
{
    int fd = open(path, O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) return NULL;
    char *data = (char *)malloc((size_t)st.st_size + 1);
    size_t got = 0;
    ssize_t n = 1;
    while (data && got < (size_t)st.st_size && (n = read(fd, data + got, (size_t)st.st_size - got)) > 0)
        got += (size_t)n;
    close(fd);
    *len = got;
    return data;
}

/* The words of `in`, one per line, into `out` (len + 1 bytes); the length. */
static size_t split_words(const char *in, size_t len, char *out)
{
    size_t o = 0;
    int in_word = 0;
    for (size_t i = 0; i < len; i++) {
        char c = in[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (in_word) out[o++] = '\n';
            in_word = 0;
        } else {
            out[o++] = c;
            in_word = 1;
        }
    }
    if (in_word) out[o++] = '\n';
    return o;
}

int main(int argc, char **argv)
{
    if (argc != 2 || argv[1][0] != '@') return 1;
    size_t len = 0;
    char *text = slurp(argv[1] + 1, &len);
    char *words = text ? (char *)malloc(len + 1) : NULL;
    if (!words) return 1;
    return floor_run(words, split_words(text, len, words));
}
