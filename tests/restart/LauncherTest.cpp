// The launcher script on its own: it waits for the copy that asked for the
// restart, installs Update/client over client and starts it; a copy that does
// not end is reported instead of being ignored.

#include "TempAppDir.h"

#include "platform/Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>

namespace {

struct Launcher : ::testing::Test {
    TempAppDir dir;
    pid_t old = -1;

    void SetUp() override
    {
        ASSERT_TRUE(QFile::copy(QStringLiteral(PC_SOURCE_DIR "/scripts/vorn"), dir.file("vorn")));
        QFile::setPermissions(dir.file("vorn"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // Each program says which one ran and whether the old copy had ended.
        program("client", "old");
    }
    void TearDown() override
    {
        if (old > 0) {
            ::kill(-old, SIGKILL); // with its own children (a sleep holding the test's output)
            waitpid(old, nullptr, 0);
        }
    }
    void program(const QString &relative, const QString &name)
    {
        dir.writeBytes(relative, ("#!/bin/sh\necho " + name + " $(cat old-ended 2>/dev/null) > ran.txt\n").toUtf8());
        QFile::setPermissions(dir.file(relative), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // The copy that asked for the restart: it ends after a while and is left
    // uncollected, as a parent busy elsewhere would leave it.
    void startOldCopy(const QString &script)
    {
        qint64 pid = -1;
        ASSERT_TRUE(pc::startDetached("/bin/sh", {"-c", script}, dir.path(), nullptr, &pid));
        old = pid_t(pid);
    }
    // The launcher run to its end (it becomes the started program); stderr kept.
    pc::RunResult launch(const QStringList &args)
    {
        return pc::runAndWait("/bin/sh",
                              QStringList{"-c", "\"$0\" \"$@\" 2> \"" + dir.file("launcher-errors.txt") + "\"", dir.file("vorn")} + args,
                              QDir::rootPath(), 15000);
    }
    QString ran() const { return QString::fromUtf8(dir.readBytes("ran.txt")).trimmed(); }
};

} // namespace

TEST_F(Launcher, WaitsForTheOldCopyThenInstallsAndStartsTheNewVersion)
{
    program("Update/client", "new");
    const QByteArray newVersion = dir.readBytes("Update/client");
    startOldCopy("sleep 0.7; echo ended > old-ended");
    const pc::RunResult r = launch({QString::number(old)});
    ASSERT_EQ(r.status, pc::RunResult::Finished);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ran(), "new ended") << "the new version starts only after the old copy has ended";
    EXPECT_EQ(dir.readBytes("client"), newVersion);
    EXPECT_TRUE(QFileInfo(dir.file("client")).isExecutable());
    EXPECT_FALSE(dir.exists("Update/client"));
    EXPECT_EQ(QDir(dir.path()).entryList({"*client*"}, QDir::Files | QDir::Hidden), QStringList{"client"}) << "no staging file left";
    EXPECT_TRUE(dir.readBytes("launcher-errors.txt").isEmpty());
}

TEST_F(Launcher, WithoutANewVersionTheInstalledProgramStarts)
{
    const pc::RunResult r = launch({});
    ASSERT_EQ(r.status, pc::RunResult::Finished);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ran(), "old");
}

TEST_F(Launcher, OldCopyThatDoesNotEndIsReportedAndNothingIsInstalled)
{
    program("Update/client", "new");
    startOldCopy("sleep 30; echo never");
    const pc::RunResult r = launch({QString::number(old), "1"});
    ASSERT_EQ(r.status, pc::RunResult::Finished);
    EXPECT_EQ(r.exitCode, 2);
    const QString errors = QString::fromUtf8(dir.readBytes("launcher-errors.txt"));
    EXPECT_TRUE(errors.contains("не завершилась за 1 с")) << errors.toStdString();
    EXPECT_FALSE(dir.exists("ran.txt")) << "no second copy may start beside the running one";
    EXPECT_TRUE(dir.exists("Update/client"));
}
