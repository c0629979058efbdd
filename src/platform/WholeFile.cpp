#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pc {

namespace {

FileFaultHook &faultHook()
{
    static FileFaultHook hook;
    return hook;
}

int injected(FileStep step, const QString &target, qint64 writtenAfter)
{
    const FileFaultHook &hook = faultHook();
    return hook ? hook(step, target, writtenAfter) : 0;
}

QByteArray nativeName(const QString &fileName) { return QFile::encodeName(fileName); }

// The process's umask, read once before main() (reading it means setting it,
// which must not race with a thread creating files).
const mode_t g_umask = [] {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}();
mode_t processUmask() { return g_umask; }

// Writes all of data; returns 0 or the error number of the failing write.
int writeAll(int fd, const QString &target, qint64 alreadyWritten, const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        // At most 1 MB a call, so a test can fail a large file half way.
        const qint64 chunk = std::min<qint64>(size - done, 1 << 20);
        if (const int error = injected(FileStep::Write, target, alreadyWritten + done + chunk))
            return error;
        const ssize_t n = ::write(fd, data + done, size_t(chunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC; // a write that takes nothing: the disk has no room left
        done += n;
    }
    return 0;
}

int syncFile(int fd, const QString &target)
{
    if (const int error = injected(FileStep::Sync, target, -1))
        return error;
    return ::fsync(fd) == 0 ? 0 : errno;
}

// The folder's entry of a renamed file reaches the disk too; a folder that
// cannot be synced (some file systems refuse) changes nothing already done.
void syncFolder(const QString &fileName)
{
    const int dir = ::open(nativeName(QFileInfo(fileName).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return;
    ::fsync(dir);
    ::close(dir);
}

} // namespace

QString fileErrorReason(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("на диске нет места");
    case EROFS:
        return QStringLiteral("диск доступен только для чтения");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав на запись");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода на диске");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("папка не найдена");
    case EISDIR:
        return QStringLiteral("на месте файла находится папка");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

bool holdsSecrets(const QString &fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    return name.compare(QLatin1String("client.ini"), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1String("bkclient.ini"), Qt::CaseInsensitive) == 0;
}

QString keepPrivate(const QString &fileName)
{
    const QByteArray name = nativeName(fileName);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? QString()
                               : QStringLiteral("Не удалось проверить права на файл %1: %2")
                                     .arg(QDir::toNativeSeparators(fileName), fileErrorReason(errno));
    struct stat st {};
    QString problem;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0) {
        const QString open = QStringLiteral("Файл %1 с паролями открыт другим пользователям, и закрыть его не удалось")
                                 .arg(QDir::toNativeSeparators(fileName));
        const QString hint = QStringLiteral(". Установите ему права 0600 (chmod 600)");
        if (::fchmod(fd, st.st_mode & 07700) != 0)
            problem = open + QStringLiteral(" (") + fileErrorReason(errno) + QLatin1Char(')') + hint;
        else if (::fstat(fd, &st) != 0 || (st.st_mode & 077) != 0)
            problem = open + hint;
    }
    ::close(fd);
    return problem;
}

void setFileFaultHook(FileFaultHook hook) { faultHook() = std::move(hook); }

int fileFaultAt(FileStep step, const QString &target, qint64 writtenAfter) { return injected(step, target, writtenAfter); }

WholeFileWriter::WholeFileWriter(QString fileName) : m_fileName(std::move(fileName)) {}

WholeFileWriter::~WholeFileWriter() { cancel(); }

void WholeFileWriter::fail(const QString &what, int error)
{
    cancel();
    throw AppError(QStringLiteral("Не удалось %1 файл %2: %3")
                       .arg(what, QDir::toNativeSeparators(m_fileName), fileErrorReason(error)));
}

void WholeFileWriter::open()
{
    cancel();
    // Beside the target, so the rename never crosses file systems; a name no
    // one else uses.
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_tempName = m_fileName + QStringLiteral(".~")
                   + QString::number(QRandomGenerator::global()->generate() & 0xFFFFFF, 36);
        // Only we may read it until it is whole and has its final mode: a
        // settings file holds passwords.
        m_fd = ::open(nativeName(m_tempName).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0 && errno != EEXIST) {
            const int error = errno;
            m_tempName.clear();
            fail(QStringLiteral("записать"), error);
        }
    }
    if (m_fd < 0) {
        m_tempName.clear();
        fail(QStringLiteral("записать"), EEXIST);
    }
    m_written = 0;
}

void WholeFileWriter::write(const char *data, qint64 size)
{
    if (m_fd < 0)
        fail(QStringLiteral("записать"), EBADF);
    if (const int error = writeAll(m_fd, m_fileName, m_written, data, size))
        fail(QStringLiteral("записать"), error);
    m_written += size;
}

namespace {
// The file gets its final mode before it takes the target's place: the
// mode of the file it replaces, else private for a file that holds
// passwords and the usual one (umask) for any other. A mode that cannot
// be set leaves it private.
void giveFinalMode(int fd, const QString &fileName)
{
    struct stat st {};
    const mode_t mode = ::stat(nativeName(fileName).constData(), &st) == 0 ? mode_t(st.st_mode & 07777)
                      : holdsSecrets(fileName)                              ? mode_t(0600)
                                                                            : mode_t(0666 & ~processUmask());
    if (mode != 0600)
        (void)::fchmod(fd, mode);
}
} // namespace

void WholeFileWriter::commit()
{
    if (m_fd < 0)
        fail(QStringLiteral("записать"), EBADF);
    giveFinalMode(m_fd, m_fileName);
    if (const int error = syncFile(m_fd, m_fileName))
        fail(QStringLiteral("записать"), error);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(nativeName(m_tempName).constData());
        m_tempName.clear();
        fail(QStringLiteral("записать"), error);
    }
    int error = injected(FileStep::Rename, m_fileName, m_written);
    if (!error && ::rename(nativeName(m_tempName).constData(), nativeName(m_fileName).constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(nativeName(m_tempName).constData());
        m_tempName.clear();
        fail(QStringLiteral("заменить"), error);
    }
    m_tempName.clear();
    syncFolder(m_fileName);
}

QString WholeFileWriter::commitAside()
{
    if (m_fd < 0)
        fail(QStringLiteral("записать"), EBADF);
    giveFinalMode(m_fd, m_fileName);
    if (const int error = syncFile(m_fd, m_fileName))
        fail(QStringLiteral("записать"), error);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        fail(QStringLiteral("записать"), errno);
    QString temp;
    std::swap(temp, m_tempName);
    return temp;
}

void WholeFileWriter::cancel() noexcept
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempName.isEmpty()) {
        ::unlink(nativeName(m_tempName).constData());
        m_tempName.clear();
    }
}

void writeWholeFile(const QString &fileName, const QByteArray &bytes)
{
    WholeFileWriter writer(fileName);
    writer.open();
    writer.write(bytes);
    writer.commit();
}

void appendToFile(const QString &fileName, const QByteArray &bytes)
{
    const QByteArray name = nativeName(fileName);
    const bool existed = QFileInfo::exists(fileName);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    auto failed = [&](int error) {
        return AppError(QStringLiteral("Не удалось записать файл %1: %2")
                            .arg(QDir::toNativeSeparators(fileName), fileErrorReason(error)));
    };
    if (fd < 0)
        throw failed(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        throw failed(error);
    }
    int error = writeAll(fd, fileName, 0, bytes.constData(), bytes.size());
    if (!error)
        error = syncFile(fd, fileName);
    if (error) {
        // What was added of the failed part goes again; the earlier lines stay.
        if (::ftruncate(fd, st.st_size) == 0)
            ::fsync(fd);
        ::close(fd);
        if (!existed)
            ::unlink(name.constData());
        throw failed(error);
    }
    if (::close(fd) != 0)
        throw failed(errno);
}

} // namespace pc
