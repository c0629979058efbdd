// What a child of the program inherits: standard input, output and error only,
// whichever way it is started, while the program holds a database and files
// opened without close-on-exec.

#include "TempAppDir.h"
#include "TempDatabase.h"
#include "platform/Process.h"
#include "platform/Shell.h"
#include "platform/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Each child tells its process number, then becomes "sleep", whose open
// descriptors are read from outside while it waits.
const char *kSleeper = "echo $$ > \"$0\"; exec sleep 3";

std::string descriptorsOfSleeper(const QString &pidFile, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        QFile f(pidFile);
        if (f.open(QIODevice::ReadOnly)) {
            const QString pid = QString::fromLatin1(f.readAll()).trimmed();
            QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!pid.isEmpty() && cmd.open(QIODevice::ReadOnly) && cmd.readAll().startsWith("sleep")) {
                QStringList fds =
                    QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
                fds.sort();
                return fds.join(QLatin1Char(' ')).toStdString();
            }
        }
        QThread::msleep(10);
    }
    return "the child never got going";
}

// Open descriptors of this process that name the file.
QList<int> descriptorsOf(const QString &file)
{
    QList<int> out;
    const QByteArray target = QFile::encodeName(QFileInfo(file).canonicalFilePath());
    for (const QString &fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char buf[4096];
        const ssize_t n = readlink(QFile::encodeName(QStringLiteral("/proc/self/fd/") + fd).constData(), buf, sizeof buf);
        if (n > 0 && QByteArray(buf, int(n)) == target)
            out << fd.toInt();
    }
    return out;
}

class ChildDescriptors : public ::testing::Test {
protected:
    void SetUp() override
    {
        // As the engine does: files held open without close-on-exec.
        plain = ::open(QFile::encodeName(dir.file("held.txt")).constData(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(plain, 0);
        ASSERT_TRUE(db.db().isAttached());
        // (A database reached through a server is held open by the server.)
        if (pc::fb::Database::defaultServer().isEmpty())
            ASSERT_FALSE(descriptorsOf(db.path()).isEmpty()) << "the engine holds the database file open";
    }
    void TearDown() override { ::close(plain); }

    TempAppDir dir;
    pc::test::TempDatabase db;
    int plain = -1;
    const std::string standardOnly = "0 1 2";
};

} // namespace

TEST_F(ChildDescriptors, WaitedAndDetachedChildrenGetOnlyStandardDescriptors)
{
    std::string waited;
    const pc::RunResult r = pc::runAndWait(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), kSleeper, dir.file("waited.pid")},
                                           dir.path(), 10000, [&] {
                                               if (waited.empty())
                                                   waited = descriptorsOfSleeper(dir.file("waited.pid"));
                                           });
    ASSERT_EQ(r.status, pc::RunResult::Finished);
    EXPECT_EQ(waited, standardOnly);

    QString error;
    ASSERT_TRUE(pc::startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), kSleeper, dir.file("detached.pid")},
                                  dir.path(), &error))
        << error.toStdString();
    EXPECT_EQ(descriptorsOfSleeper(dir.file("detached.pid")), standardOnly);
}

TEST_F(ChildDescriptors, DesktopOpenerIsStartedTheSameWay)
{
    // A stand-in for the desktop's opener, first on the search path.
    QTemporaryDir bin;
    const QString opener = bin.path() + QStringLiteral("/xdg-open");
    {
        QFile f(opener);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("#!/bin/sh\necho \"$1\" > \"") + QFile::encodeName(dir.file("opened.txt")) + "\"\n"
                "echo $$ > \"" + QFile::encodeName(dir.file("opener.pid")) + "\"\nexec sleep 3\n");
    }
    QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ":" + path);
    const bool opened = pc::shellOpen(dir.file("Data"));
    qputenv("PATH", path);
    ASSERT_TRUE(opened);
    EXPECT_EQ(descriptorsOfSleeper(dir.file("opener.pid")), standardOnly);
    EXPECT_EQ(QString::fromLocal8Bit(dir.readBytes("opened.txt")).trimmed(), dir.file("Data"));
}

TEST(OwnFiles, SingleInstanceLockIsClosedOnExec)
{
    QTemporaryDir locks;
    pc::SingleInstance instance(QStringLiteral("client"), locks.path());
    ASSERT_TRUE(instance.acquire());
    const QList<int> fds = descriptorsOf(instance.lockFileName());
    ASSERT_FALSE(fds.isEmpty()) << "the lock must be held open while the program runs";
    for (const int fd : fds)
        EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "descriptor " << fd;
}
