#pragma once
// Spawn attributes for a server a test starts: the test process blocks the
// termination and child signals; the child starts with a clean mask and the
// default dispositions.

#include <QDeadlineTimer>
#include <QThread>

#include <csignal>
#include <vector>
#include <spawn.h>
#include <sys/wait.h>

namespace pc::test {

// The argument vector of posix_spawn over `args` (QByteArrays that outlive
// it), ended by a null pointer.
template <typename Args>
std::vector<char *> argvOf(Args &args)
{
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

struct CleanSpawnAttributes {
    posix_spawnattr_t attr;
    CleanSpawnAttributes()
    {
        posix_spawnattr_init(&attr);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGPIPE, SIGUSR1, SIGUSR2})
            sigaddset(&defaults, s);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~CleanSpawnAttributes() { posix_spawnattr_destroy(&attr); }
    CleanSpawnAttributes(const CleanSpawnAttributes &) = delete;
    CleanSpawnAttributes &operator=(const CleanSpawnAttributes &) = delete;
};

// Sends sig to a child and reaps it, waiting at most ms (SIGCHLD is blocked
// in tests: by polling). True when it ended.
inline bool signalAndReap(pid_t pid, int sig, int ms)
{
    ::kill(pid, sig);
    QDeadlineTimer deadline(ms);
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

} // namespace pc::test
