#include "platform/PrivateFolder.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace pc {

namespace {
QString reasonOf(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString homeFolder()
{
    const QString home = qEnvironmentVariable("HOME");
    if (home.startsWith(QLatin1Char('/')))
        return home;
    struct passwd pw {};
    struct passwd *found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
        return QFile::decodeName(found->pw_dir);
    return QString();
}
} // namespace

QString claimPrivateFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("Не удалось создать папку %1: %2").arg(shown, reasonOf(errno));
    // Opened without following a link: what is checked is what is used.
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            return QStringLiteral("%1 не папка, а ссылка или файл").arg(shown);
        return QStringLiteral("Не удалось открыть папку %1: %2").arg(shown, reasonOf(errno));
    }
    struct stat st {};
    QString problem;
    if (::fstat(fd, &st) != 0) {
        problem = QStringLiteral("Не удалось проверить папку %1: %2").arg(shown, reasonOf(errno));
    } else if (st.st_uid != geteuid()) {
        problem = QStringLiteral("Папка %1 принадлежит пользователю %2").arg(shown, userName(st.st_uid));
    } else if ((st.st_mode & 077) != 0) {
        if (::fchmod(fd, 0700) != 0)
            problem = QStringLiteral("Не удалось закрыть папку %1 от других пользователей: %2").arg(shown, reasonOf(errno));
        else if (::fstat(fd, &st) != 0 || (st.st_mode & 077) != 0)
            problem = QStringLiteral("Папка %1 остаётся открытой для других пользователей").arg(shown);
    }
    ::close(fd);
    return problem;
}

QString fallbackFolder(QString *why)
{
    QStringList reasons;
    // The runtime folder is looked up by the user's number, not by
    // XDG_RUNTIME_DIR: a timer's or cron's copy may have another or none.
    const QString runtime = QStringLiteral("/run/user/%1").arg(geteuid());
    struct stat st {};
    if (::lstat(QFile::encodeName(runtime).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid()
        && (st.st_mode & 077) == 0) {
        const QString folder = runtime + QStringLiteral("/pharmacy-client");
        const QString problem = claimPrivateFolder(folder);
        if (problem.isEmpty())
            return folder;
        reasons << problem;
    }
    const QString home = homeFolder();
    if (!home.isEmpty()) {
        const QString cache = home + QStringLiteral("/.cache");
        const QString folder = cache + QStringLiteral("/pharmacy-client");
        QDir().mkpath(cache);
        const QString problem = claimPrivateFolder(folder);
        if (problem.isEmpty())
            return folder;
        reasons << problem;
    } else {
        reasons << QStringLiteral("не найдена домашняя папка пользователя");
    }
    if (why)
        *why = reasons.join(QStringLiteral("; "));
    return QString();
}

QString userName(uid_t uid)
{
    struct passwd pw {};
    struct passwd *found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name && *found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

qint64 freeBytes(const QString &path)
{
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(path).constData(), &vfs) != 0)
        return -1;
    return qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
}

} // namespace pc
