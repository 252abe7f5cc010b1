/*
 * test_backend_posix.cpp - the test back end's POSIX parts: what it
 * inherited (descriptors, then "ignored:" and "blocked:" with the ignored and
 * the blocked signals); KVQ_TB_KILL_PARENT=n sends signal n to the driver;
 * SIGINT is ignored while it pauses; KVQ_TB_SIGNAL=n ends the back end by
 * signal n; KVQ_TB_CRASH=1 ends it by SIGSEGV.
 */
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

/* Ends the process by `sig` with its default action, even where a sanitizer
 * has taken the signal over. */
static void end_by(int sig)
{
    signal(sig, SIG_DFL);
    raise(sig);
}

/* Descriptors are looked at with fcntl, which opens none of its own. */
std::string tb_inherited(void)
{
    std::string fds = "fds:", ignored = "ignored:", blocked = "blocked:";
    for (int fd = 0; fd < 1024; fd++)
        if (fcntl(fd, F_GETFD) != -1) fds += " " + std::to_string(fd);
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    for (int sig = 1; sig < 32; sig++) {
        struct sigaction sa;
        if (sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler == SIG_IGN) ignored += " " + std::to_string(sig);
        if (sigismember(&mask, sig) == 1) blocked += " " + std::to_string(sig);
    }
    return fds + "\n" + ignored + "\n" + blocked + "\n";
}

void tb_signal_parent(void)
{
    if (const char *sig = getenv("KVQ_TB_KILL_PARENT")) kill(getppid(), atoi(sig));
}

void tb_ignore_ctrl_c(void)
{
    signal(SIGINT, SIG_IGN);
}

void tb_platform_actions(void)
{
    if (const char *sig = getenv("KVQ_TB_SIGNAL")) end_by(atoi(sig));
    if (getenv("KVQ_TB_CRASH")) end_by(SIGSEGV);
}
