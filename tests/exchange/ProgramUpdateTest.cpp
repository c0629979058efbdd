#include "FtpTestServer.h"
#include "ScriptedDialogs.h"
#include "SigningKey.h"
#include "TempAppDir.h"

#include "core/Settings.h"
#include "exchange/ProgramUpdate.h"
#include "exchange/ServerConnection.h"
#include "platform/Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

using namespace pc;

namespace {

const QString kRefusedEnd = QStringLiteral(". Работает прежняя версия");

struct ProgramUpdateFixture : ::testing::Test {
    TempAppDir dir;
    test::SigningKey supplier;
    ScriptedDialogs dialogs;
    RecordingLog log;
    int restarts = 0;
    QString started;
    std::unique_ptr<ProgramUpdate> update;

    void SetUp() override
    {
        dir.writeBytes("client", "running program");
        supplier.installIn(dir.path());
        update = std::make_unique<ProgramUpdate>(dir.path(), dir.file("client"), dialogs, log);
        update->restartProgram = [this] { ++restarts; };
        update->startAndQuit = [this](const QString &program, const QString &, QString &) {
            started = program;
            return true;
        };
    }
    void TearDown() override { EXPECT_FALSE(dialogs.answersLeft()); }
    // A new version the price archive left, signed by the supplier.
    void writeUpdate(const QString &name, const QByteArray &bytes)
    {
        dir.writeBytes(name, bytes);
        supplier.signFile(dir.file(name), dir.file("update.sig"));
    }
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
    writeUpdate("update", "#!/bin/sh\n# new version\n");
    setAge("client", 3600);
    update->CheckProgramUpdate(false);
    EXPECT_FALSE(dir.exists("update"));
    EXPECT_FALSE(dir.exists("update.sig"));
    EXPECT_EQ(dir.readBytes("Update/client"), QByteArray("#!/bin/sh\n# new version\n"));
    EXPECT_TRUE(QFileInfo(dir.file("Update/client")).isExecutable());
    EXPECT_EQ(dialogs.notices, QStringList({"Пришло обновление программы. Программа будет перезапущена!"}));
    EXPECT_EQ(restarts, 1);
}

TEST_F(ProgramUpdateFixture, OlderVersionCanBeDeclinedAndChangesModeDefersTheRestart)
{
    writeUpdate("update", "#!/bin/sh\n# old version\n");
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
    writeUpdate("UPDATE.EXE", QByteArray("\x7f" "ELF") + "\x02\x01\x01 new version");
    update->CheckProgramUpdate(false);
    EXPECT_FALSE(dir.exists("UPDATE.EXE"));
    EXPECT_TRUE(dir.readBytes("Update/client").endsWith("new version"));
    EXPECT_EQ(restarts, 1);

    // A Windows program would leave the pharmacy without a working program.
    QFile::remove(dir.file("Update/client"));
    writeUpdate("update.exe", "MZ\x90 windows program");
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
    const QString served = server.home("1234") + "/Update/";
    QFile f(served + "update");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.close();
    supplier.signFile(served + "update", served + "update.sig");
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
    supplier.signFile(served + "update.exe", served + "update.sig");
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

// Only a version the supplier signed is put aside: without a signature, with
// a damaged one, one of other bytes, one by another key, or without the key
// beside the program, the update and its signature are removed, the pharmacist
// is told, and the running program stays; nothing reaches Update/.
TEST_F(ProgramUpdateFixture, ArchivedUpdateWithoutTheSuppliersSignatureIsRefused)
{
    setAge("client", 3600);
    const QByteArray program = "#!/bin/sh\n# delivered\n";
    test::SigningKey stranger;
    struct Case {
        const char *what;
        std::function<void()> prepare;
        QString problem;
    };
    const std::vector<Case> cases{
        {"no signature", [&] { dir.writeBytes("update", program); }, "нет подписи update.sig"},
        {"damaged signature", [&] {
             dir.writeBytes("update", program);
             dir.writeBytes("update.sig", "not a signature");
         }, "файл подписи повреждён"},
        {"signature of other bytes", [&] {
             dir.writeBytes("update", program);
             dir.writeBytes("update.sig", supplier.sign(program + "x"));
         }, "подпись не подтверждена"},
        {"signed by another key", [&] {
             dir.writeBytes("update", program);
             stranger.signFile(dir.file("update"), dir.file("update.sig"));
         }, "подпись не подтверждена"},
        {"another key in base64", [&] {
             dir.writeBytes("update", program);
             dir.writeBytes("update.sig", stranger.sign(program).toBase64() + "\n");
         }, "подпись не подтверждена"},
        {"no key beside the program", [&] {
             writeUpdate("update", program);
             QFile::remove(dir.file("supplier.pub"));
         }, "нет открытого ключа поставщика"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        supplier.installIn(dir.path());
        c.prepare();
        dialogs.notices.clear();
        update->CheckProgramUpdate(false);
        ASSERT_EQ(dialogs.notices.size(), 1);
        EXPECT_TRUE(dialogs.notices[0].startsWith("Обновление программы не принято: " + c.problem))
            << dialogs.notices[0].toStdString();
        EXPECT_TRUE(dialogs.notices[0].endsWith(kRefusedEnd));
        EXPECT_FALSE(dir.exists("update"));
        EXPECT_FALSE(dir.exists("update.sig"));
        EXPECT_FALSE(dir.exists("Update/client"));
        EXPECT_EQ(dir.readBytes("client"), QByteArray("running program"));
        EXPECT_EQ(restarts, 0);
    }

    // A base64 signature by the supplier's key is the supplier's signature.
    supplier.installIn(dir.path());
    dir.writeBytes("update", program);
    dir.writeBytes("update.sig", supplier.sign(program).toBase64());
    update->CheckProgramUpdate(false);
    EXPECT_EQ(dir.readBytes("Update/client"), program);
    EXPECT_EQ(restarts, 1);
}

// The updater fetched on demand is started only with the supplier's signature
// from the same folder of the server; otherwise it is removed unstarted.
TEST_F(ProgramUpdateFixture, UpdaterWithoutTheSuppliersSignatureIsNotStarted)
{
    test::FtpTestServer server(test::FtpTestServer::Options{{{"1234", "pw"}}});
    Settings settings;
    settings.ServerAddresses = {"127.0.0.1"};
    settings.ServerPort = server.port();
    settings.ClientAccount = {"1234", "pw"};
    ServerConnection connection(settings, dialogs, log);
    QDir(server.home("1234")).mkpath("Update");
    const QString served = server.home("1234") + "/Update/";
    QFile f(served + "update");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n# someone's updater\n");
    f.close();

    // Whoever answers on the server's address may offer a key of their own too.
    test::SigningKey stranger;
    stranger.installIn(served);
    for (const bool signedByStranger : {false, true}) {
        SCOPED_TRACE(signedByStranger ? "another key" : "no signature");
        if (signedByStranger)
            stranger.signFile(served + "update", served + "update.sig");
        dialogs.notices.clear();
        update->UpdateProgram(connection, settings);
        EXPECT_TRUE(started.isEmpty());
        EXPECT_FALSE(dir.exists("Update/update"));
        EXPECT_FALSE(dir.exists("Update/update.sig"));
        ASSERT_EQ(dialogs.notices.size(), 1);
        const QString problem = signedByStranger ? "подпись не подтверждена" : "на сервере нет подписи update.sig";
        EXPECT_EQ(dialogs.notices[0], "Обновление программы не принято: " + problem + kRefusedEnd);
    }
    EXPECT_EQ(dir.readBytes("supplier.pub"), supplier.publicPem());
}

// The demonstration supplier signs its updater with a key pair of its own,
// whose public half the demonstration program folder keeps: the program
// takes that updater and starts it.
TEST_F(ProgramUpdateFixture, DemoSuppliersSignedUpdaterIsStarted)
{
    test::FtpTestServer server(test::FtpTestServer::Options{{{"DEMO", "demo"}}});
    QTemporaryDir keys;
    const RunResult made = runAndWait("/bin/sh", {PC_SOURCE_DIR "/tools/demo-supplier/make_update.sh", server.home("DEMO"),
                                                  keys.filePath("demo-key")},
                                      keys.path(), 30000);
    ASSERT_EQ(made.status, RunResult::Finished);
    ASSERT_EQ(made.exitCode, 0);
    ASSERT_TRUE(QFile::remove(dir.file("supplier.pub")));
    ASSERT_TRUE(QFile::copy(keys.filePath("demo-key/supplier.pub"), dir.file("supplier.pub")));

    Settings settings;
    settings.ServerAddresses = {"127.0.0.1"};
    settings.ServerPort = server.port();
    settings.ClientAccount = {"DEMO", "demo"};
    ServerConnection connection(settings, dialogs, log);
    update->UpdateProgram(connection, settings);
    EXPECT_EQ(started, dir.file("Update/update"));
    EXPECT_TRUE(dir.readBytes("Update/update").contains("vorn"));
    // The supplier's private key never travels with what it signs.
    EXPECT_FALSE(QFileInfo::exists(server.home("DEMO") + "/Update/private.pem"));
}
