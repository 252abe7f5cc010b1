/*
 * test_hostile_inputs_posix.cpp - hostile inputs only POSIX systems have:
 * one command file under a hard or symbolic link's name, "@" names of a
 * socket, a dangling link and an unreadable file, temporary bases on a
 * read-only file system or in a directory without write permission, a back
 * end without its execute bit, and signals while kvq waits.
 */
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "kvq_run.h"

TEST_F(HostileInputs, LinksSocketsAndModes)
{
    /* One file under three names: the identity, not the name, is tracked. */
    file("a.txt", "-DA @hard.txt\n");
    ASSERT_EQ(link((work + "/a.txt").c_str(), (work + "/hard.txt").c_str()), 0);
    ASSERT_EQ(symlink((work + "/a.txt").c_str(), (work + "/soft.txt").c_str()), 0);
    run r = kvq({"@soft.txt"});
    EXPECT_EQ(r.said, "(2083) command file \"hard.txt\" includes itself\n");
    EXPECT_TRUE(r.r.status == 1 && r.argv.empty());

    /* Entries that exist but cannot be read are passed on as typed. */
    strings unread = {"@sock", "@dangling"};
    symlink("nowhere", (work + "/dangling").c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM, 0); /* exists, but no one, root included, can open it */
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    (work + "/sock").copy(addr.sun_path, sizeof addr.sun_path - 1);
    EXPECT_EQ(bind(fd, (sockaddr *)&addr, sizeof addr), 0);
    close(fd);
    std::vector<std::string> temps = {"/proc"}; /* a read-only file system */
    if (geteuid() != 0) { /* root may read and write anywhere */
        file("locked", "-DSECRET\n");
        chmod((work + "/locked").c_str(), 0);
        unread.push_back("@locked");
        mkdir((dir + "/readonly").c_str(), 0555);
        temps.push_back(dir + "/readonly");
    }
    strings args = {"-q"};
    args.insert(args.end(), unread.begin(), unread.end());
    r = kvq(args);
    EXPECT_EQ(r.r.status, 0);
    ASSERT_EQ(r.cmd.size(), 1u);
    EXPECT_EQ(r.cmd[0], lines(args));

    for (const std::string &temp_base : temps) {
        r = kvq({"-q"}, {"TEMP=" + temp_base});
        EXPECT_EQ(r.said, "(2082) can't create temporary file\n") << temp_base;
        EXPECT_TRUE(r.r.status == 1 && r.argv.empty()) << temp_base;
    }
}

TEST_F(KvqRun, ABackEndWithoutItsExecuteBitCannotRun)
{
    chmod(program("torc").c_str(), 0644);
    run r = kvq({"-q"});
    EXPECT_EQ(r.said, "(900) exec failed: " + bin + "/torc\n");
    EXPECT_EQ(r.r.status, 1);
}

TEST_F(HostileInputs, SignalsWhileTheBackEndRuns)
{
    /* The back end signals kvq while kvq waits for it: SIGTERM to kvq alone,
     * SIGINT to both (as Ctrl-C does).  kvq removes its directory (checked
     * after every run) and ends by that signal. */
    EXPECT_EQ(kvq({"-q"}, {"KVQ_TB_KILL_PARENT=15"}).r.status, 128 + SIGTERM);
    EXPECT_EQ(kvq({"-q"}, {"KVQ_TB_KILL_PARENT=2", "KVQ_TB_SIGNAL=2"}).r.status, 128 + SIGINT);
}
