#pragma once
// Spawn attributes for a server a test starts: the test process blocks the
// termination and child signals; the child starts with a clean mask and the
// default dispositions.

#include <csignal>
#include <spawn.h>

namespace pc::test {

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

} // namespace pc::test
