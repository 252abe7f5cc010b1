/*
 * test_backend_posix.cpp - the test back end's POSIX actions (SIGINT is
 * ignored while it pauses):
 * KVQ_TB_KILL_PARENT=n sends signal n to the driver; KVQ_TB_SIGNAL=n ends the
 * back end by signal n; KVQ_TB_CRASH=1 ends it by SIGSEGV.
 */
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

/* Ends the process by `sig` with its default action, even where a sanitizer
 * has taken the signal over. */
static void end_by(int sig)
{
    signal(sig, SIG_DFL);
    raise(sig);
}

void tb_ignore_ctrl_c(void)
{
    signal(SIGINT, SIG_IGN);
}

void tb_platform_actions(void)
{
    if (const char *sig = getenv("KVQ_TB_KILL_PARENT")) kill(getppid(), atoi(sig));
    if (const char *sig = getenv("KVQ_TB_SIGNAL")) end_by(atoi(sig));
    if (getenv("KVQ_TB_CRASH")) end_by(SIGSEGV);
}
