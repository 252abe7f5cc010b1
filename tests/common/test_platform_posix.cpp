/* test_platform_posix.cpp - the platform layer's processes and its last-resort exit, with real
 * children, signal dispositions and memory limits. */
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "osdep.h"
#include "test_process_posix.h"
#include "test_util.h"

/* Runs sh -c `script` through os_spawn; "$@" are `args`. */
static int spawn_sh(const std::string &script, std::vector<std::string> args = {})
{
    args.insert(args.begin(), {"sh", "-c", script, "sh"});
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return os_spawn("/bin/sh", argv.data());
}

TEST(OsSpawn, ArgumentsStatusAndErrno)
{
    std::string dir = tu_mkdtemp(), out = dir + "/args";
    std::vector<std::string> args = {"two words", "tab\there", "\"quoted\"", "back\\slash\\", "", "it's", "*"};
    EXPECT_EQ(0, spawn_sh("for a; do printf '[%s]' \"$a\"; done > '" + out + "'", args));
    EXPECT_EQ("[two words][tab\there][\"quoted\"][back\\slash\\][][it's][*]", tu_read(out));
    EXPECT_EQ(3, spawn_sh("exit 3"));
    EXPECT_EQ(128 + 9, spawn_sh("kill -9 $$"));
    tu_write(dir + "/plain", "not a program\n");
    tu_write(dir + "/garbage", std::string("\x7f\x01\x02garbage", 10));
    chmod((dir + "/garbage").c_str(), 0755);
    /* path                errno */
    const struct { std::string path; int err; } cases[] = {
        {dir + "/missing", ENOENT}, {dir + "/plain", EACCES}, {dir, EACCES}, {dir + "/garbage", ENOEXEC},
    };
    for (const auto &c : cases) {
        char name[] = "x", *argv[] = {name, nullptr};
        errno = 0;
        EXPECT_EQ(-1, os_spawn(c.path.c_str(), argv)) << c.path;
        EXPECT_EQ(c.err, errno) << c.path << ": " << strerror(errno);
    }
    tu_rmtree(dir);
}

TEST(OsSpawn, AWaitThatFailsIsNoStartFailure)
{
    /* With SIGCHLD ignored the system reaps the child itself, so its status
     * is lost; the child did start. */
    struct sigaction ignore = {}, old;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &old);
    errno = 0;
    EXPECT_EQ(OS_SPAWN_WAIT_FAILED, spawn_sh("exit 0"));
    EXPECT_EQ(ECHILD, errno);
    sigaction(SIGCHLD, &old, nullptr);
}

TEST(OsTemp, OutOfMemoryEndsTheProcessWithoutAllocating)
{
#ifdef KVQ_SANITIZED
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no memory limit can apply";
#endif
    /* The probe makes a temporary name, takes all the memory malloc gives
     * and then asks for another name. */
    std::string base = tu_mkdtemp();
    tp_setup setup;
    setup.argv = {tu_helper("platform_probe"), "temp:.cmd", "hog"};
    setup.env = {"TEMP=" + base};
    setup.address_space = 64u << 20;
    tu_result r = tp_run(setup);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(0u, r.out.rfind(base + "/kv", 0)) << r.out;
    EXPECT_EQ("probe: out of memory\n", r.err);
    EXPECT_EQ(std::vector<std::string>{}, tu_list(base)) << "the temporary directory is removed";
    tu_rmtree(base);
}
