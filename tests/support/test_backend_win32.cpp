/*
 * test_backend_win32.cpp - the test back end's Windows action (Ctrl-C and
 * Ctrl-Break are handled, and so ignored, while it pauses):
 * KVQ_TB_CRASH=1 ends it by an access violation, as a program that writes
 * through a null pointer ends.
 */
#include <windows.h>

#include <cstdlib>

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
