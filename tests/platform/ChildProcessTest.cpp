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

#include <optional>

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Each child tells its process number, then becomes "sleep", whose open
// descriptors are read from outside while it waits.
const char *kSleeper = "echo $$ > \"$0\"; exec sleep 3";

QStringList openDescriptors(const QString &pid)
{
    QStringList fds =
        QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    fds.sort();
    return fds;
}

// True once the process sits in its sleep: its start-up (the dynamic loader
// reading libraries, the locale set-up) is over, and any descriptor it holds
// now it was given. Unknown (nullopt) where the system does not tell.
std::optional<bool> isInItsSleep(const QString &pid)
{
    QFile f(QStringLiteral("/proc/%1/syscall").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray first = f.readAll().split(' ').value(0).trimmed();
    bool ok = false;
    const long call = first.toLong(&ok);
    if (!ok)
        return first == "running" ? std::optional<bool>(false) : std::nullopt;
    return call == SYS_clock_nanosleep || call == SYS_nanosleep;
}

// The descriptors of the sleeping child once its start-up is over: read when
// the child is seen inside its sleep, or, where that cannot be seen, when the
// same list has been read for a quarter of a second. A descriptor the child
// was given stays for its whole life, so a leak is always seen; one the
// child's own start-up holds for a moment is never.
std::string descriptorsOfSleeper(const QString &pidFile, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    QStringList last;
    QElapsedTimer stableFor;
    while (t.elapsed() < timeoutMs) {
        QFile f(pidFile);
        if (f.open(QIODevice::ReadOnly)) {
            const QString pid = QString::fromLatin1(f.readAll()).trimmed();
            QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!pid.isEmpty() && cmd.open(QIODevice::ReadOnly) && cmd.readAll().startsWith("sleep")) {
                const std::optional<bool> sleeping = isInItsSleep(pid);
                const QStringList fds = openDescriptors(pid);
                if (sleeping.has_value()) {
                    if (*sleeping && openDescriptors(pid) == fds)
                        return fds.join(QLatin1Char(' ')).toStdString();
                } else if (fds != last || !stableFor.isValid()) {
                    last = fds;
                    stableFor.start();
                } else if (stableFor.elapsed() >= 250) {
                    return fds.join(QLatin1Char(' ')).toStdString();
                }
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

// The first descriptor above standard error is closed too, whatever holds it.
// Descriptor 3 is taken over in a copy of this process, where no engine
// thread runs that could be using it.
TEST_F(ChildDescriptors, DescriptorThreeIsNotInherited)
{
    const QString result = dir.file("three.txt");
    const pid_t copy = ::fork();
    ASSERT_GE(copy, 0);
    if (copy == 0) {
        std::string seen = "descriptor 3 not taken over";
        if (::dup2(plain, 3) == 3) { // a copy without close-on-exec
            QString error;
            seen = pc::startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), kSleeper, dir.file("three.pid")},
                                     dir.path(), &error)
                ? descriptorsOfSleeper(dir.file("three.pid"))
                : error.toStdString();
        }
        QFile out(result);
        if (out.open(QIODevice::WriteOnly))
            out.write(seen.c_str());
        out.close();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(copy, &status, 0), copy);
    EXPECT_EQ(dir.readBytes("three.txt").toStdString(), standardOnly);
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
    pc::SingleInstance instance(locks.path());
    ASSERT_TRUE(instance.acquire());
    const QList<int> fds = descriptorsOf(instance.lockFileName());
    ASSERT_FALSE(fds.isEmpty()) << "the lock must be held open while the program runs";
    for (const int fd : fds)
        EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "descriptor " << fd;
}

// A captured child's output and errors come back apart and whole, however
// much it writes; its standard input reads nothing.
TEST(CapturedChild, OutputAndErrorsComeBackApartAndWhole)
{
    const pc::RunResult r = pc::runAndCapture(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("head -c 300000 /dev/zero; echo 'ошибка' >&2; "
                        "read x && echo 'read something' >&2; exit 3")},
        QString(), 10000);
    ASSERT_EQ(r.status, pc::RunResult::Finished);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.output, QByteArray(300000, '\0'));
    EXPECT_EQ(QString::fromUtf8(r.errors), QStringLiteral("ошибка\n"));

    const pc::RunResult slow = pc::runAndCapture(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo started; exec sleep 30")},
                                                 QString(), 300);
    EXPECT_EQ(slow.status, pc::RunResult::TimedOut);
    EXPECT_EQ(slow.output, "started\n");

    EXPECT_EQ(pc::runAndCapture(QStringLiteral("/nonexistent/program"), {}, QString()).status, pc::RunResult::NotStarted);
}
