#include "platform/Signals.h"

#include "platform/PrivateFolder.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
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

namespace {
// The engine maps its lock files (about a megabyte or two, growing with the
// work) into memory: on a file system without room it is killed by SIGBUS
// the first time it touches a page, instead of getting an error.
constexpr qint64 kLockFolderRoom = qint64(8) << 20;

// Empty when the engine can keep its lock files in `dir`, else why not.
QString lockFolderProblem(const QString &dir)
{
    const QString shown = QDir::toNativeSeparators(dir);
    const QByteArray probe = QFile::encodeName(dir + QStringLiteral("/.probe-%1").arg(getpid()));
    ::unlink(probe.constData()); // left by a killed copy that had our process id
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return QStringLiteral("в папке %1 нельзя создать файл (%2)").arg(shown, fileErrorReason(errno));
    const int written = int(::write(fd, "x", 1));
    const int error = errno;
    ::close(fd);
    ::unlink(probe.constData());
    if (written != 1)
        return QStringLiteral("в папку %1 нельзя записать (%2)").arg(shown, fileErrorReason(error));
    const qint64 free = freeBytes(dir);
    if (free >= 0 && free < kLockFolderRoom)
        return QStringLiteral("в папке %1 мало места: свободно %2 КБ, нужно не меньше %3 МБ")
            .arg(shown)
            .arg(free / 1024)
            .arg(kLockFolderRoom >> 20);
    return QString();
}

QString ownLockFolderProblem(const QString &dir)
{
    const QString problem = claimPrivateFolder(dir);
    return problem.isEmpty() ? lockFolderProblem(dir) : problem;
}
} // namespace

QString setFirebirdLockFolder()
{
    const QString given = qEnvironmentVariable("FIREBIRD_LOCK");
    QStringList problems;
    if (!given.isEmpty()) {
        // Set by whoever started us (a shared folder of a server, a test): kept,
        // only checked.
        QDir().mkpath(given);
        const QString problem = lockFolderProblem(given);
        if (problem.isEmpty())
            return QString();
        problems << problem;
    } else {
        // Never the session's runtime folder: a copy started by a timer or cron
        // has another one, and two engines on one database file must meet in
        // the same lock folder. The fall-back depends on the user alone too.
        auto use = [&problems](const QString &dir) {
            const QString problem = ownLockFolderProblem(dir);
            if (problem.isEmpty())
                qputenv("FIREBIRD_LOCK", QFile::encodeName(dir));
            else
                problems << problem;
            return problem.isEmpty();
        };
        if (use(QStringLiteral("/tmp/firebird-%1").arg(geteuid())))
            return QString();
        QString why;
        const QString own = fallbackFolder(&why);
        if (own.isEmpty())
            problems << why;
        else if (use(own + QStringLiteral("/firebird")))
            return QString();
    }
    return QStringLiteral("Негде хранить служебные файлы базы данных: %1. Освободите место на диске (папка /tmp) "
                          "и запустите программу снова.")
        .arg(problems.join(QStringLiteral("; ")));
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
