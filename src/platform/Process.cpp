#include "platform/Process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace pc {

namespace {

// Every descriptor above standard error is closed in the child, whatever
// opened it and however (the engine's files carry no close-on-exec flag).
void closeAllButStandard(posix_spawn_file_actions_t *actions)
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(actions, STDERR_FILENO + 1);
#else
    // The descriptors open at this moment, as the kernel lists them.
    std::vector<int> open;
    if (DIR *dir = opendir("/proc/self/fd")) {
        const int own = dirfd(dir);
        while (const dirent *e = readdir(dir)) {
            char *end = nullptr;
            const long fd = std::strtol(e->d_name, &end, 10);
            if (end != e->d_name && *end == '\0' && fd > STDERR_FILENO && fd != own)
                open.push_back(int(fd));
        }
        closedir(dir);
    }
    for (const int fd : open)
        posix_spawn_file_actions_addclose(actions, fd);
#endif
}

// Children started without waiting, reaped whenever this module runs again.
std::mutex detachedMutex;
std::vector<pid_t> detached;

void reapDetached()
{
    std::lock_guard lock(detachedMutex);
    std::erase_if(detached, [](pid_t pid) {
        const pid_t r = waitpid(pid, nullptr, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

// The child's standard streams, when not inherited: descriptors put in place
// of standard input, output and error (-1 keeps ours).
struct StandardStreams {
    int in = -1;
    int out = -1;
    int err = -1;
};

pid_t spawn(const QString &program, const QStringList &arguments, const QString &workingDir, QString *error,
            const StandardStreams &streams = {})
{
    reapDetached();
    std::vector<QByteArray> args;
    args.push_back(QFile::encodeName(program));
    for (const QString &a : arguments)
        args.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (streams.in >= 0)
        posix_spawn_file_actions_adddup2(&actions, streams.in, STDIN_FILENO);
    if (streams.out >= 0)
        posix_spawn_file_actions_adddup2(&actions, streams.out, STDOUT_FILENO);
    if (streams.err >= 0)
        posix_spawn_file_actions_adddup2(&actions, streams.err, STDERR_FILENO);
    closeAllButStandard(&actions);
    const QByteArray dir = QFile::encodeName(workingDir);
    if (!workingDir.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, dir.constData());

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t empty, all;
    sigemptyset(&empty);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0].constData(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(rc));
        return -1;
    }
    return pid;
}

// An exec failure inside the child shows as exit code 127 right away.
int decodeStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

RunResult runAndWait(const QString &program, const QStringList &arguments, const QString &workingDir,
                     int timeoutMs, const std::function<void()> &idle)
{
    RunResult result;
    const pid_t pid = spawn(program, arguments, workingDir, &result.error);
    if (pid < 0)
        return result;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            result.status = RunResult::Finished;
            result.exitCode = decodeStatus(status);
            return result;
        }
        if (r < 0 && errno != EINTR) {
            result.status = RunResult::Finished;
            result.exitCode = -1;
            return result;
        }
        if (timer.elapsed() >= timeoutMs) {
            ::kill(-pid, SIGKILL); // its whole process group
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.status = RunResult::TimedOut;
            return result;
        }
        if (idle)
            idle();
        QThread::msleep(10);
    }
}

RunResult runAndCapture(const QString &program, const QStringList &arguments, const QString &workingDir, int timeoutMs)
{
    RunResult result;
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || nothing < 0) {
        result.error = QString::fromLocal8Bit(std::strerror(errno));
        for (const int fd : {out[0], out[1], err[0], err[1], nothing})
            if (fd >= 0)
                ::close(fd);
        return result;
    }
    const pid_t pid = spawn(program, arguments, workingDir, &result.error, {nothing, out[1], err[1]});
    ::close(out[1]);
    ::close(err[1]);
    ::close(nothing);
    // Both pipes are read while the child runs, so that a child writing much
    // never blocks on a full pipe.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    QByteArray *into[2] = {&result.output, &result.errors};
    auto drain = [&](int waitMs) {
        if (fds[0].fd < 0 && fds[1].fd < 0)
            return;
        if (::poll(fds, 2, waitMs) <= 0)
            return;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                into[i]->append(buf, n);
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    };
    if (pid >= 0) {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            drain(10);
            int status = 0;
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid || (r < 0 && errno != EINTR)) {
                result.status = RunResult::Finished;
                result.exitCode = r == pid ? decodeStatus(status) : -1;
                break;
            }
            if (timer.elapsed() >= timeoutMs) {
                ::kill(-pid, SIGKILL);
                ::kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                result.status = RunResult::TimedOut;
                break;
            }
        }
        // What the child wrote last, unless a grandchild keeps the pipe open.
        for (int i = 0; i < 50 && (fds[0].fd >= 0 || fds[1].fd >= 0); ++i)
            drain(10);
    }
    for (const pollfd &p : fds)
        if (p.fd >= 0)
            ::close(p.fd);
    return result;
}

bool startDetached(const QString &program, const QStringList &arguments, const QString &workingDir, QString *error,
                   qint64 *pid)
{
    if (!QFileInfo(program).isExecutable()) {
        if (error)
            *error = QStringLiteral("файл %1 не найден или не исполняемый").arg(QDir::toNativeSeparators(program));
        return false;
    }
    const pid_t child = spawn(program, arguments, workingDir, error);
    if (child <= 0)
        return false;
    if (pid)
        *pid = child;
    std::lock_guard lock(detachedMutex);
    detached.push_back(child);
    return true;
}

QString findProgram(const QString &name, const QString &appDir)
{
    const QString local = appDir + name;
    if (!appDir.isEmpty() && QFileInfo(local).isExecutable())
        return local;
    return QStandardPaths::findExecutable(name);
}

} // namespace pc
