#include "TempAppDir.h"
#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/Signals.h"
#include "platform/SingleInstance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <csignal>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

TEST(CodePage, CyrillicRoundTripsThroughBothCodePages)
{
    const QString text = QStringLiteral("Аспирин таб. 0,5г №10 ЁёЪъ");
    EXPECT_EQ(pc::fromCp1251(pc::toCp1251(text)), text);
    EXPECT_EQ(pc::fromCp866(pc::toCp866(text)), text);
    EXPECT_EQ(pc::toCp1251(QStringLiteral("А")), QByteArray("\xC0"));
    EXPECT_EQ(pc::toCp866(QStringLiteral("А")), QByteArray("\x80"));
    EXPECT_EQ(pc::toCp1251(QStringLiteral("漢")), QByteArray("?")); // lacking characters become "?"
    EXPECT_EQ(pc::toCp1251(QStringLiteral("\u0080\uFFFF░")), QByteArray("???"));
    // Every byte of 1251 and every letter byte of 866 decodes and encodes back
    // to itself, and 866 goes into 1251 byte for byte as the detour would.
    std::string all866;
    for (int b = 0; b < 256; ++b) {
        const char c = char(b);
        const std::string_view one(&c, 1);
        EXPECT_EQ(pc::toCp1251(pc::fromCp1251(one)), QByteArray(1, c)) << b;
        if (b >= 0x80)
            EXPECT_EQ(pc::toCp866(pc::fromCp866(one)), QByteArray(1, c)) << b;
        all866 += c;
    }
    std::string out = "x";
    pc::appendCp866AsCp1251(all866, out);
    EXPECT_EQ(QByteArray::fromStdString(out), "x" + pc::toCp1251(pc::fromCp866(all866)));
    EXPECT_EQ(out.substr(1 + 0x80, 3), "\xC0\xC1\xC2"); // А Б В
    EXPECT_EQ(out.substr(1 + 0xB0, 1), "?");            // ░ is not in 1251
}

// One copy per program folder, whatever the session's environment: a copy
// started by a timer or cron (another runtime folder) and a copy that names
// the folder another way both see the lock; another folder does not.
TEST(SingleInstance, OneCopyPerProgramFolderWhateverTheEnvironment)
{
    QTemporaryDir folder, other, links;
    pc::SingleInstance first(folder.path());
    ASSERT_TRUE(first.acquire());
    EXPECT_TRUE(first.lockFileName().startsWith(QFileInfo(folder.path()).canonicalFilePath() + "/"));
    const QString alias = links.filePath("alias");
    ASSERT_TRUE(QFile::link(folder.path(), alias));

    const pid_t pid = fork();
    if (pid == 0) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(links.path()));
        qputenv("TMPDIR", QFile::encodeName(links.path()));
        pc::SingleInstance same(folder.path() + "/"), viaLink(alias), elsewhere(other.path());
        _exit((same.acquire() ? 1 : 0) | (viaLink.acquire() ? 2 : 0) | (elsewhere.acquire() ? 0 : 4));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: same folder passed, 2: folder through a link passed, 4: other folder refused";
}

// Two engines on one database file must share one lock folder: a copy
// started by a timer or cron (another runtime folder, another TMPDIR) gets
// the same one as the desktop's copy.
TEST(FirebirdLockFolder, OnePerUserWhateverTheSessionsEnvironment)
{
    QTemporaryDir runtime;
    const pid_t pid = fork();
    if (pid == 0) {
        qunsetenv("FIREBIRD_LOCK");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        qputenv("TMPDIR", QFile::encodeName(runtime.path()));
        pc::setFirebirdLockFolder();
        const QString expected = QStringLiteral("/tmp/firebird-%1").arg(getuid());
        _exit(qEnvironmentVariable("FIREBIRD_LOCK") == expected && QFileInfo(expected).isDir() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A copy killed while holding the lock (no chance to clean up) never blocks
// the next start.
TEST(SingleInstance, LockOfAKilledCopyDoesNotBlock)
{
    QTemporaryDir folder;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        pc::SingleInstance holder(folder.path());
        const char c = holder.acquire() ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        for (;;)
            pause();
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    pc::SingleInstance next(folder.path());
    EXPECT_FALSE(next.acquire()) << "the holder is alive";
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_TRUE(next.acquire());
    close(ready[0]);
    close(ready[1]);
}

TEST(RunAndWait, ReportsExitCodeWorkingFolderAndTimeOut)
{
    TempAppDir dir;
    int idles = 0;
    pc::RunResult r = pc::runAndWait("/bin/sh", {"-c", "pwd > where.txt; exit 3"}, dir.path(), 5000, [&] { ++idles; });
    EXPECT_EQ(r.status, pc::RunResult::Finished);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(QString::fromLocal8Bit(dir.readBytes("where.txt")).trimmed() + "/", dir.path());

    QElapsedTimer t;
    t.start();
    r = pc::runAndWait("/bin/sleep", {"30"}, dir.path(), 300);
    EXPECT_EQ(r.status, pc::RunResult::TimedOut);
    EXPECT_LT(t.elapsed(), 5000);

    r = pc::runAndWait(dir.file("no-such-program"), {}, dir.path(), 1000);
    EXPECT_NE(r.status == pc::RunResult::Finished && r.exitCode == 0, true);
}

TEST(RunAndWait, ChildGetsCleanSignalMaskAndDefaultHandlers)
{
    TempAppDir dir;
    // Signals are blocked in the test process; a child that inherited the mask
    // would survive its own SIGTERM and run into the time-out.
    pc::RunResult r = pc::runAndWait("/bin/sh", {"-c", "kill -TERM $$; sleep 5"}, dir.path(), 4000);
    EXPECT_EQ(r.status, pc::RunResult::Finished);
    EXPECT_EQ(r.exitCode, 128 + SIGTERM);
}

namespace {
// Whether a process is gone (or dead and waiting for a parent that is not
// this program); false while it runs, and while it is this program's zombie.
QChar processState(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return QChar('-');
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || close + 2 >= text.size() ? QChar('?') : QChar(text.at(close + 2));
}
} // namespace

// A child that runs out of time is stopped with everything it started, and a
// child started without waiting is reaped by the next start, never left as a
// zombie.
TEST(RunAndWait, TimeOutStopsTheGrandchildrenAndDetachedChildrenAreReaped)
{
    TempAppDir dir;
    const pc::RunResult r =
        pc::runAndWait("/bin/sh", {"-c", "sleep 30 & echo $! > grandchild.pid; wait"}, dir.path(), 500);
    ASSERT_EQ(r.status, pc::RunResult::TimedOut);
    const QString grandchild = QString::fromLatin1(dir.readBytes("grandchild.pid")).trimmed();
    ASSERT_FALSE(grandchild.isEmpty());
    QElapsedTimer t;
    t.start();
    while (processState(grandchild) != '-' && processState(grandchild) != 'Z' && t.elapsed() < 3000)
        QThread::msleep(20);
    const QChar state = processState(grandchild);
    EXPECT_TRUE(state == '-' || state == 'Z') << "the grandchild runs on: " << state.toLatin1();

    qint64 pid = 0;
    QString error;
    ASSERT_TRUE(pc::startDetached("/bin/true", {}, dir.path(), &error, &pid)) << error.toStdString();
    t.restart();
    while (processState(QString::number(pid)) != 'Z' && t.elapsed() < 3000)
        QThread::msleep(20);
    ASSERT_EQ(processState(QString::number(pid)), 'Z'); // ended, not yet reaped
    pc::runAndWait("/bin/true", {}, dir.path(), 5000);
    EXPECT_EQ(processState(QString::number(pid)), '-');
}

// A signal the program ignores is not ignored in its children: an unpacker
// must die of a broken pipe or a hang-up as usual.
TEST(RunAndWait, SignalsTheProgramIgnoresAreDefaultInItsChildren)
{
    TempAppDir dir;
    struct sigaction ignore {}, pipeBefore {}, hupBefore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &pipeBefore);
    sigaction(SIGHUP, &ignore, &hupBefore);
    const pc::RunResult r = pc::runAndWait("/bin/sh", {"-c", "grep SigIgn /proc/self/status > ignored.txt"}, dir.path(), 5000);
    sigaction(SIGPIPE, &pipeBefore, nullptr);
    sigaction(SIGHUP, &hupBefore, nullptr);
    ASSERT_EQ(r.status, pc::RunResult::Finished);
    const QString line = QString::fromLatin1(dir.readBytes("ignored.txt")).simplified();
    ASSERT_TRUE(line.startsWith("SigIgn:")) << line.toStdString();
    const qulonglong mask = line.section(' ', 1).toULongLong(nullptr, 16);
    EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u) << line.toStdString();
    EXPECT_EQ(mask & (1ull << (SIGHUP - 1)), 0u) << line.toStdString();
}
