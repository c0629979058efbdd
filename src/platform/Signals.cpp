#include "platform/Signals.h"

#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace pc {

namespace {
sigset_t blockedSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2})
        sigaddset(&set, s);
    return set;
}

sigset_t terminationSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, s);
    return set;
}
} // namespace

void blockProcessSignals()
{
    sigset_t set = blockedSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void setFirebirdLockFolder()
{
    if (!qEnvironmentVariableIsEmpty("FIREBIRD_LOCK"))
        return;
    // Never the session's runtime folder: a copy started by a timer or cron
    // has another one, and two engines on one database file must meet in the
    // same lock folder.
    const QString dir = QStringLiteral("/tmp/firebird-%1").arg(getuid());
    QDir().mkpath(dir);
    qputenv("FIREBIRD_LOCK", QFile::encodeName(dir));
}

TerminationWatcher::TerminationWatcher(std::function<void(int)> handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler))
{
    sigset_t set = terminationSet();
    m_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationWatcher::readSignal);
}

TerminationWatcher::~TerminationWatcher()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void TerminationWatcher::readSignal()
{
    signalfd_siginfo info{};
    while (::read(m_fd, &info, sizeof info) == ssize_t(sizeof info)) {
        if (m_handler)
            m_handler(int(info.ssi_signo));
    }
}

} // namespace pc
