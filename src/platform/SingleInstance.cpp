#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <QElapsedTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pc {

namespace {
QString canonicalFolder(const QString &folder)
{
    const QFileInfo fi(folder);
    const QString canonical = fi.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(fi.absoluteFilePath()) : canonical;
}

// /tmp/pharmacy-client-<uid>: private to the user, the same in every session.
QString userFolder()
{
    const QString dir = QStringLiteral("/tmp/pharmacy-client-%1").arg(getuid());
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return dir;
}

QString folderKey(const QString &programFolder)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QFile::encodeName(canonicalFolder(programFolder)), QCryptographicHash::Sha1).toHex().left(16));
}
} // namespace

QString SingleInstance::lockFileFor(const QString &programFolder)
{
    const QString folder = canonicalFolder(programFolder);
    if (QFileInfo(folder).isWritable())
        return folder + QStringLiteral("/.client.lock");
    return userFolder() + QLatin1Char('/') + folderKey(programFolder) + QStringLiteral(".lock");
}

QString SingleInstance::socketNameFor(const QString &programFolder)
{
    return userFolder() + QLatin1Char('/') + folderKey(programFolder) + QStringLiteral(".sock");
}

SingleInstance::SingleInstance(const QString &programFolder) : m_fileName(lockFileFor(programFolder)) {}

SingleInstance::~SingleInstance()
{
    if (m_fd >= 0)
        ::close(m_fd); // drops the lock; the file stays for the next copy
}

bool SingleInstance::acquire()
{
    if (m_held)
        return true;
    if (m_fd < 0) {
        // Close-on-exec: no child (the launcher, an unpacker) may keep the lock alive.
        // Readable by all: a copy run as another user (sudo -u, a service) locks
        // the same file through a read-only descriptor.
        const QByteArray name = QFile::encodeName(m_fileName);
        m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0)
            m_fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            return false;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        return false;
    m_held = true;
    // The holder's process id, for a person who wonders who holds it.
    const QByteArray pid = QByteArray::number(qint64(getpid())) + '\n';
    if (::ftruncate(m_fd, 0) == 0)
        (void)!::pwrite(m_fd, pid.constData(), size_t(pid.size()), 0);
    return true;
}

bool SingleInstance::acquire(int timeoutMs, const std::function<void()> &idle)
{
    QElapsedTimer t;
    t.start();
    while (!acquire()) {
        if (t.elapsed() >= timeoutMs)
            return false;
        if (idle)
            idle();
        QThread::msleep(200);
    }
    return true;
}

} // namespace pc
