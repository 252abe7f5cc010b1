/*
 * debug_fake_debugger.cpp - stands in for the command-line debugger in the
 * launch tests.  It writes its arguments, one a line, to the file named by
 * KVQ_FAKE_DEBUGGER_LOG, and a byte copy of the script file that follows
 * "-s" to the same name plus ".script"; then exits with status 5.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    const char *log = getenv("KVQ_FAKE_DEBUGGER_LOG");
    if (!log) return 2;
    FILE *out = fopen(log, "w");
    if (!out) return 3;
    for (int i = 0; i < argc; i++) fprintf(out, "%s\n", argv[i]);
    fclose(out);
    for (int i = 1; i + 1 < argc; i++) {
        if (strcmp(argv[i], "-s") != 0) continue;
        FILE *in = fopen(argv[i + 1], "rb");
        FILE *copy = fopen((std::string(log) + ".script").c_str(), "wb");
        if (!in || !copy) return 4;
        int c;
        while ((c = fgetc(in)) != EOF) fputc(c, copy);
        fclose(in);
        fclose(copy);
    }
    return 5;
}
