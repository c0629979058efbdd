#include "platform/SingleInstance.h"

#include "platform/PrivateFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
// One that another user made first (or left open to others) is refused: its
// socket could answer for us. Empty when no private folder can be had.
QString userFolder()
{
    const QString dir = QStringLiteral("/tmp/pharmacy-client-%1").arg(geteuid());
    if (claimPrivateFolder(dir).isEmpty())
        return dir;
    return fallbackFolder();
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
    const QString own = userFolder();
    return own.isEmpty() ? QString() : own + QLatin1Char('/') + folderKey(programFolder) + QStringLiteral(".lock");
}

QString SingleInstance::socketNameFor(const QString &programFolder)
{
    const QString own = userFolder();
    return own.isEmpty() ? QString() : own + QLatin1Char('/') + folderKey(programFolder) + QStringLiteral(".sock");
}

SingleInstance::SingleInstance(const QString &programFolder) : m_fileName(lockFileFor(programFolder)) {}

SingleInstance::~SingleInstance()
{
    if (m_fd >= 0)
        ::close(m_fd); // drops the lock; the file stays for the next copy
}

namespace {
// Opens the lock file without following a link. `made`: this call created it.
int openLockFile(const QByteArray &name, bool &made)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Readable by all: a copy run as another user (sudo -u, a service)
        // locks the same file through a read-only descriptor.
        int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            made = true;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
        made = false;
        // Non-blocking: a fifo put in its place must not hold the start.
        fd = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == EACCES)
            fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
            return fd;
        if (fd >= 0)
            ::close(fd);
        else if (errno != ELOOP)
            return -1;
        // A link or anything else but a plain file under the lock's name was
        // put there by someone: only the name goes, never what it points to.
        if (::lstat(name.constData(), &st) != 0 || S_ISDIR(st.st_mode) || ::unlink(name.constData()) != 0)
            return -1;
    }
    return -1;
}
} // namespace

bool SingleInstance::acquire()
{
    if (m_held)
        return true;
    if (m_fd < 0) {
        if (m_fileName.isEmpty())
            return false;
        // Close-on-exec: no child (the launcher, an unpacker) may keep the lock alive.
        m_fd = openLockFile(QFile::encodeName(m_fileName), m_made);
        if (m_fd < 0)
            return false;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        return false;
    m_held = true;
    // The holder's process id, for a person who wonders who holds it: only
    // into a lock file of our own, never into a file someone else made or
    // linked here.
    struct stat st {};
    const bool ours = m_made
        || (::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1 && st.st_size <= 32);
    if (ours) {
        const QByteArray pid = QByteArray::number(qint64(getpid())) + '\n';
        if (::ftruncate(m_fd, 0) == 0)
            (void)!::pwrite(m_fd, pid.constData(), size_t(pid.size()), 0);
    }
    return true;
}

std::optional<uid_t> SingleInstance::holderUid() const
{
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return std::nullopt;
    if (m_held)
        return geteuid();
    // The kernel's table of locks names the process holding ours:
    //   "1: FLOCK  ADVISORY  WRITE 4236 fd:01:123456 0 EOF"
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray file = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':'
        + QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + ':' + QByteArray::number(quint64(st.st_ino));
    // Some file systems (overlays) show another device number there than
    // stat() does: the inode number alone is taken when nothing matches whole.
    const QByteArray inode = ':' + QByteArray::number(quint64(st.st_ino));
    QByteArray byInode;
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 6 || f[1] != "FLOCK")
            continue;
        if (f[5] == file) {
            byInode = f[4];
            break;
        }
        if (f[5].endsWith(inode) && byInode.isEmpty())
            byInode = f[4];
    }
    struct stat proc {};
    if (!byInode.isEmpty() && ::stat(QByteArray("/proc/" + byInode).constData(), &proc) == 0)
        return proc.st_uid;
    return std::nullopt;
}

QString SingleInstance::otherUserHolding() const
{
    const std::optional<uid_t> uid = holderUid();
    return uid && *uid != geteuid() ? userName(*uid) : QString();
}

QString SingleInstance::runByOtherUserText(const QString &user)
{
    return QStringLiteral("Программа уже запущена пользователем %1").arg(user);
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
