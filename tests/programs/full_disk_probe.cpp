// Writes through the program's file writer on a file system that is full.
//
//   full_disk_probe <folder on a small, empty file system>
//
// Exit 0 when every check held, 2 (with the reason on standard error) when one
// did not, 77 when the folder could not be filled.

#include "platform/AppError.h"
#include "platform/IniFile.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <fcntl.h>
#include <unistd.h>

namespace {

int failures = 0;

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Fills the file system; returns the descriptor of the filler file, -1 on failure.
int fill(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder + "/filler").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return -1;
    const QByteArray block(4096, 'x');
    for (;;) {
        const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
        if (n < 0 && errno == ENOSPC)
            break;
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
    }
    ::fsync(fd);
    return fd;
}

bool rejectedForFullDisk(const std::function<void()> &write)
{
    try {
        write();
    } catch (const pc::AppError &e) {
        std::fprintf(stderr, "refused as expected: %s\n", e.message().toUtf8().constData());
        return e.message().contains(QStringLiteral("на диске нет места"));
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2)
        return 77;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString ini = folder + "/client.ini";
    const QString log = folder + "/day.err";
    const QByteArray oldIni = "[Header]\r\nClientCode=1234\r\nClientName=Аптека\r\n";
    try {
        pc::writeWholeFile(ini, oldIni);
        pc::appendToFile(log, "first line\r\n");
    } catch (const pc::AppError &) {
        return 77;
    }
    const int filler = fill(folder);
    if (filler < 0)
        return 77;

    // A file smaller than one page: a buffered writer would only fail at its flush.
    const QByteArray newIni = QByteArray("[Header]\r\n") + QByteArray(6000, 'n');
    check(rejectedForFullDisk([&] { pc::writeWholeFile(ini, newIni); }), "a whole-file write on a full disk is refused");
    check(readAll(ini) == oldIni, "the old file stays as it was");
    check(rejectedForFullDisk([&] {
              pc::IniFile settings(ini);
              settings.beginBatch();
              settings.writeString("Header", "DBDriverChanged", "0");
              settings.commit();
          }),
          "a settings file of a few bytes on a full disk is refused");
    check(readAll(ini) == oldIni, "the settings file stays as it was");
    check(rejectedForFullDisk([&] { pc::appendToFile(log, QByteArray(6000, 'l')); }), "an append on a full disk is refused");
    check(readAll(log) == "first line\r\n", "the log keeps its lines and nothing of the failed append");
    check(QDir(folder).entryList(QDir::Files | QDir::Hidden).size() == 3, "no temporary file is left behind");

    // With room again, the same writes go through.
    if (::ftruncate(filler, 0) != 0)
        return 77;
    ::close(filler);
    try {
        pc::writeWholeFile(ini, newIni);
        pc::appendToFile(log, "second line\r\n");
    } catch (const pc::AppError &e) {
        std::fprintf(stderr, "unexpected: %s\n", e.message().toUtf8().constData());
        ++failures;
    }
    check(readAll(ini) == newIni, "with room the new file is written");
    check(readAll(log) == "first line\r\nsecond line\r\n", "with room the line is appended");
    return failures ? 2 : 0;
}
