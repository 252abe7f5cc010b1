/*
 * launch - runs a program with some environment variables set and reports
 * how it ended, riding out Ctrl-C itself: the Linux side of the Ctrl-C test
 * (tests/driver/ctrl_c_win32.sh) starts it under Wine, which gives Windows
 * programs its own TEMP whatever the Linux environment says, and interrupts
 * its whole process group.
 * Usage: launch NAME=VALUE... -- PROGRAM [ARG...]   (arguments without blanks)
 * Prints "exit code 0x<hex>" of PROGRAM; exits 0, or 2 on a usage error, 3
 * when PROGRAM cannot be started.
 */
#include <process.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

/* Ctrl-C and Ctrl-Break are handled (ignored) here, so that this process
 * outlives the program it waits for; the program gets them as well. */
static BOOL WINAPI ride_out(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

int main(int argc, char **argv)
{
    int i = 1;
    for (; i < argc && strcmp(argv[i], "--") != 0; i++) {
        if (!strchr(argv[i], '=') || _putenv(argv[i]) != 0)
            return fprintf(stderr, "launch: bad setting %s\n", argv[i]), 2;
    }
    if (i + 1 >= argc) return fprintf(stderr, "usage: launch NAME=VALUE... -- PROGRAM [ARG...]\n"), 2;
    SetConsoleCtrlHandler(ride_out, TRUE);
    char **program = argv + i + 1;
    fflush(stdout);
    intptr_t status = _spawnv(_P_NOWAIT, program[0], program);
    if (status == -1) return perror(program[0]), 3;
    HANDLE process = (HANDLE)status;
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    printf("exit code 0x%lx\n", (unsigned long)code);
    return 0;
}
