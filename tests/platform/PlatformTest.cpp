#include "TempAppDir.h"
#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/SingleInstance.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/wait.h>
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

TEST(SingleInstance, SecondCopyOfTheSameNameIsRefusedOthersRun)
{
    QTemporaryDir locks;
    pc::SingleInstance first("client", locks.path());
    ASSERT_TRUE(first.acquire());
    pc::SingleInstance other("client2", locks.path());
    EXPECT_TRUE(other.acquire());

    // A separate process must be refused while the first holds the lock.
    const pid_t pid = fork();
    if (pid == 0) {
        pc::SingleInstance second("client", locks.path());
        _exit(second.acquire() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SingleInstance, StaleLockOfACrashedCopyDoesNotBlock)
{
    QTemporaryDir locks;
    const pid_t pid = fork();
    if (pid == 0) {
        pc::SingleInstance crashed("client", locks.path());
        crashed.acquire();
        _exit(0); // dies holding the lock file
    }
    int status = 0;
    waitpid(pid, &status, 0);
    pc::SingleInstance next("client", locks.path());
    EXPECT_TRUE(next.acquire());
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
