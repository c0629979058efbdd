#include "FtpTestServer.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/Settings.h"
#include "exchange/ProgramUpdate.h"
#include "exchange/ServerConnection.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace pc;

namespace {

struct ProgramUpdateFixture : ::testing::Test {
    TempAppDir dir;
    ScriptedDialogs dialogs;
    RecordingLog log;
    int restarts = 0;
    QString started;
    std::unique_ptr<ProgramUpdate> update;

    void SetUp() override
    {
        dir.writeBytes("client", "running program");
        update = std::make_unique<ProgramUpdate>(dir.path(), dir.file("client"), dialogs, log);
        update->restartProgram = [this] { ++restarts; };
        update->startAndQuit = [this](const QString &program, const QString &, QString &) {
            started = program;
            return true;
        };
    }
    void TearDown() override { EXPECT_FALSE(dialogs.answersLeft()); }
    void setAge(const QString &relative, int secondsAgo)
    {
        QFile f(dir.file(relative));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo), QFileDevice::FileModificationTime);
    }
};

} // namespace

TEST_F(ProgramUpdateFixture, NewVersionFromTheArchiveIsPutAsideAndTheProgramRestarts)
{
    update->CheckProgramUpdate(false); // nothing there: nothing happens
    EXPECT_EQ(restarts, 0);
    EXPECT_TRUE(dialogs.notices.isEmpty());

    dir.writeBytes("Update/client", "older version never installed");
    dir.writeBytes("update", "#!/bin/sh\n# new version\n");
    setAge("client", 3600);
    update->CheckProgramUpdate(false);
    EXPECT_FALSE(dir.exists("update"));
    EXPECT_EQ(dir.readBytes("Update/client"), QByteArray("#!/bin/sh\n# new version\n"));
    EXPECT_TRUE(QFileInfo(dir.file("Update/client")).isExecutable());
    EXPECT_EQ(dialogs.notices, QStringList({"Пришло обновление программы. Программа будет перезапущена!"}));
    EXPECT_EQ(restarts, 1);
}

TEST_F(ProgramUpdateFixture, OlderVersionCanBeDeclinedAndChangesModeDefersTheRestart)
{
    dir.writeBytes("update", "#!/bin/sh\n# old version\n");
    setAge("update", 3600);
    dialogs.setNextAnswer(mrYes);
    update->CheckProgramUpdate(false);
    EXPECT_TRUE(dir.exists("update"));
    EXPECT_FALSE(dir.exists("Update/client"));
    EXPECT_EQ(restarts, 0);

    dialogs.setNextAnswer(mrNo);
    update->CheckProgramUpdate(true);
    EXPECT_TRUE(dir.exists("Update/client"));
    EXPECT_EQ(dialogs.notices, QStringList({"Пришло обновление программы. Программу необходимо перезапустить!"}));
    EXPECT_EQ(restarts, 0);
}

TEST_F(ProgramUpdateFixture, WindowsNameIsAcceptedButOnlyAProgramOfThisSystemIsInstalled)
{
    setAge("client", 3600);
    // The name a supplier serving Windows clients uses, in its own letter case.
    dir.writeBytes("UPDATE.EXE", QByteArray("\x7f" "ELF") + "\x02\x01\x01 new version");
    update->CheckProgramUpdate(false);
    EXPECT_FALSE(dir.exists("UPDATE.EXE"));
    EXPECT_TRUE(dir.readBytes("Update/client").endsWith("new version"));
    EXPECT_EQ(restarts, 1);

    // A Windows program would leave the pharmacy without a working program.
    QFile::remove(dir.file("Update/client"));
    dir.writeBytes("update.exe", "MZ\x90 windows program");
    update->CheckProgramUpdate(false);
    EXPECT_TRUE(dir.exists("update.exe"));
    EXPECT_FALSE(dir.exists("Update/client"));
    EXPECT_EQ(restarts, 1);
    ASSERT_FALSE(log.entries.empty());
    EXPECT_TRUE(log.entries.back().text.contains("не установлено")) << log.entries.back().text.toStdString();
}

TEST_F(ProgramUpdateFixture, UpdaterIsFetchedFromTheServerOrItsAbsenceReported)
{
    test::FtpTestServer server(test::FtpTestServer::Options{{{"1234", "pw"}}});
    Settings settings;
    settings.ServerAddresses = {"127.0.0.1"};
    settings.ServerPort = server.port();
    settings.ClientAccount = {"1234", "pw"};
    ServerConnection connection(settings, dialogs, log);

    update->UpdateProgram(connection, settings);
    EXPECT_EQ(dialogs.notices, QStringList({"На сервере нет обновлений или исправлений программы"}));
    EXPECT_TRUE(started.isEmpty());

    QDir(server.home("1234")).mkpath("Update");
    QFile f(server.home("1234") + "/Update/update");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.close();
    dialogs.notices.clear();
    update->UpdateProgram(connection, settings);
    EXPECT_TRUE(server.commands().contains("CWD \\Update"));
    EXPECT_EQ(started, dir.file("Update/update"));
    EXPECT_TRUE(QFileInfo(dir.file("Update/update")).isExecutable());
    ASSERT_EQ(dialogs.notices.size(), 1);
    EXPECT_TRUE(dialogs.notices[0].startsWith("Получено обновление/исправление программы"));

    // A server that keeps the Windows name only.
    QFile::remove(server.home("1234") + "/Update/update");
    QFile exe(server.home("1234") + "/Update/update.exe");
    ASSERT_TRUE(exe.open(QIODevice::WriteOnly));
    exe.write("#!/bin/sh\n# updater\n");
    exe.close();
    QFile::remove(dir.file("Update/update"));
    started.clear();
    update->UpdateProgram(connection, settings);
    EXPECT_EQ(started, dir.file("Update/update"));
    EXPECT_EQ(dir.readBytes("Update/update"), QByteArray("#!/bin/sh\n# updater\n"));

    // A failure other than a missing updater is not "no updates": it passes
    // on to the application's handler. Here the updater cannot be written.
    QDir(dir.file("Update")).removeRecursively();
    dir.writeBytes("Update", "a file where the folder belongs");
    dialogs.notices.clear();
    started.clear();
    EXPECT_ANY_THROW(update->UpdateProgram(connection, settings));
    EXPECT_TRUE(dialogs.notices.isEmpty()) << dialogs.notices.join('|').toStdString();
    EXPECT_TRUE(started.isEmpty());
}
