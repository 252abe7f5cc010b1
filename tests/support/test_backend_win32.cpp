/*
 * test_backend_win32.cpp - the test back end's Windows parts: what it
 * inherited (the descriptors the runtime set up from what its parent
 * passed); Ctrl-C and Ctrl-Break are handled, and so ignored, while it
 * pauses; KVQ_TB_CRASH=1 ends it by an access violation, as a program that
 * writes through a null pointer ends.  Windows has no signal to send the
 * driver.
 */
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <string>

/* The runtime's descriptor table is at most 2048 long in msvcrt. */
constexpr int TB_MAX_FDS = 2048;

std::string tb_inherited(void)
{
    std::string fds = "fds:";
    for (int fd = 0; fd < TB_MAX_FDS; fd++) {
        intptr_t h = _get_osfhandle(fd);
        if (h != -1 && h != -2) fds += " " + std::to_string(fd);
    }
    return fds + "\n";
}

void tb_signal_parent(void)
{
}

static BOOL WINAPI handled(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

void tb_ignore_ctrl_c(void)
{
    SetConsoleCtrlHandler(handled, TRUE);
}

void tb_platform_actions(void)
{
    if (getenv("KVQ_TB_CRASH")) RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, NULL);
}
