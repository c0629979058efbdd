// FtpClient against the real test server, in passive and in active mode.
#include "exchange/FtpClient.h"
#include "support/FtpTestServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using pc::FtpClient;
using pc::FtpError;
using pc::test::FtpTestServer;

namespace {

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray pattern(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 251) & 0xff);
    return data;
}

// Runs `op`, expects an FtpError and returns it.
template <class Op>
FtpError expectFtpError(Op op)
{
    try {
        op();
    } catch (const FtpError &e) {
        return e;
    }
    ADD_FAILURE() << "no FtpError raised";
    return FtpError(FtpError::Refused, QString(), QString());
}

class FtpClientTest : public ::testing::TestWithParam<bool> {
protected:
    explicit FtpClientTest(FtpTestServer::Options options = {}) : server(options)
    {
        client.setHost(QStringLiteral("127.0.0.1"));
        client.setPort(server.port());
        client.setUserName(QStringLiteral("1234"));
        client.setPassword(QStringLiteral("secret"));
        client.setPassive(GetParam());
        client.setConnectTimeout(3000);
        client.setResponseTimeout(3000);
    }

    QString home() const { return server.home(QStringLiteral("1234")); }
    QString local(const QString &name) const { return tmp.filePath(name); }
    // Files left in the local folder (a failed download must leave no temporary file).
    QStringList localFiles() const { return QDir(tmp.path()).entryList(QDir::Files); }

    FtpTestServer server;
    FtpClient client;
    QTemporaryDir tmp;
};

class FtpDropTest : public FtpClientTest {
protected:
    FtpDropTest() : FtpClientTest({.mode = FtpTestServer::Mode::DropRetr}) {}
};

class FtpHangTest : public FtpClientTest {
protected:
    FtpHangTest() : FtpClientTest({.hangOn = QStringLiteral("RETR")}) {}
};

class FtpIdleTest : public FtpClientTest {
protected:
    FtpIdleTest() : FtpClientTest({.idleTimeoutMs = 500}) {}
};

} // namespace

TEST_P(FtpClientTest, EveryOperationOverOneLogin)
{
    writeFile(home() + "/Defect/1234/D0001.DBF", "first");
    writeFile(home() + "/Defect/1234/d0002.dbf", pattern(300000));
    writeFile(home() + "/Defect/1234/notes.txt", "x");
    writeFile(home() + "/Defect/1234/README", "no dot");
    writeFile(local("order.ini"), "[Order]\r\nN=1\r\n");

    int idleCalls = 0;
    qint64 lastDone = -1;
    client.setIdleCallback([&] { ++idleCalls; });
    client.setProgressCallback([&](qint64 done, qint64) { lastDone = done; });

    client.connect();
    EXPECT_TRUE(client.isConnected());
    EXPECT_GT(idleCalls, 0) << "the window layer must get its turn while waiting";

    client.put(local("order.ini"), "1234_1.ini");
    EXPECT_EQ(readFile(home() + "/1234_1.ini"), "[Order]\r\nN=1\r\n");
    writeFile(local("order.ini"), "replaced");
    client.put(local("order.ini"), "1234_1.ini");
    EXPECT_EQ(readFile(home() + "/1234_1.ini"), "replaced");
    EXPECT_EQ(client.size("1234_1.ini"), 8);

    client.changeDir("\\Defect\\1234");
    EXPECT_EQ(client.currentDir(), QStringList{"\\Defect\\1234"});
    QStringList dbf = client.list("*.dbf");
    dbf.sort(Qt::CaseInsensitive);
    EXPECT_EQ(dbf, (QStringList{"D0001.DBF", "d0002.dbf"}));
    EXPECT_TRUE(client.list("*.*").contains("README"));
    EXPECT_EQ(client.list("*.zip"), QStringList());

    writeFile(local("D0001.DBF"), "older local copy");
    client.get("D0001.DBF", local("D0001.DBF"));
    EXPECT_EQ(readFile(local("D0001.DBF")), "first");
    client.get("d0002.dbf", local("big.dbf"));
    EXPECT_EQ(readFile(local("big.dbf")), pattern(300000));
    EXPECT_EQ(lastDone, 300000);
    EXPECT_EQ(client.size("d0002.dbf"), 300000);

    client.deleteFile("D0001.DBF");
    EXPECT_FALSE(QFile::exists(home() + "/Defect/1234/D0001.DBF"));

    // A relative folder is entered from the current one.
    writeFile(home() + "/Defect/1234/sub/x.dbf", "x");
    client.changeDir("sub");
    EXPECT_EQ(client.currentDir(), (QStringList{"\\Defect\\1234", "sub"}));
    EXPECT_EQ(client.list("*.DBF"), QStringList{"x.dbf"});
    client.changeDir("\\");
    EXPECT_EQ(client.list("*.ini"), QStringList{"1234_1.ini"});

    client.disconnect();
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(server.waitForCommand("QUIT"));

    EXPECT_EQ(server.commands("USER"), QStringList{"USER 1234"});
    EXPECT_EQ(server.commands("PASS").size(), 1);
    const QStringList cwd = server.commands("CWD");
    EXPECT_TRUE(cwd.contains("CWD \\Defect\\1234")) << cwd.join(" | ").toStdString();
    EXPECT_TRUE(cwd.contains("CWD sub"));
    const QStringList log = server.commands();
    EXPECT_TRUE(log.contains("NLST *.dbf"));
    EXPECT_TRUE(log.contains("DELE D0001.DBF"));
    EXPECT_TRUE(log.contains("STOR 1234_1.ini"));
    EXPECT_TRUE(log.contains("RETR d0002.dbf"));
    EXPECT_TRUE(log.contains("SIZE d0002.dbf"));
    if (GetParam()) {
        EXPECT_FALSE(server.commands("PASV").isEmpty());
        EXPECT_TRUE(server.commands("PORT").isEmpty());
    } else {
        EXPECT_FALSE(server.commands("PORT").isEmpty());
        EXPECT_TRUE(server.commands("PASV").isEmpty());
    }
}

TEST_P(FtpClientTest, MissingFilesAndFoldersSayNotFound)
{
    writeFile(local("price.arc"), "yesterday's price");
    client.connect();

    FtpError e = expectFtpError([&] { client.get("price.arc", local("price.arc")); });
    EXPECT_EQ(e.kind(), FtpError::NotFound);
    EXPECT_TRUE(e.message().contains("not found")) << e.message().toStdString();
    EXPECT_TRUE(e.message().contains(e.serverReply()));
    EXPECT_TRUE(e.serverReply().startsWith("550")) << e.serverReply().toStdString();
    EXPECT_EQ(readFile(local("price.arc")), "yesterday's price");
    EXPECT_EQ(localFiles(), QStringList{"price.arc"});

    EXPECT_EQ(client.size("price.arc"), -1);
    EXPECT_EQ(client.list("price.arc"), QStringList()); // the server answers 550

    // Local trouble is told apart from the server's.
    e = expectFtpError([&] { client.get("log.ini", local("no-such-folder/log.ini")); });
    EXPECT_EQ(e.kind(), FtpError::LocalFile);
    e = expectFtpError([&] { client.put(local("no-such-file.ini"), "x.ini"); });
    EXPECT_EQ(e.kind(), FtpError::LocalFile);
    EXPECT_TRUE(e.message().contains("no-such-file.ini"));

    e = expectFtpError([&] { client.changeDir("\\Update"); });
    EXPECT_EQ(e.kind(), FtpError::NotFound);
    EXPECT_TRUE(e.message().contains("not found"));
    EXPECT_TRUE(server.commands().contains("CWD \\Update"));
    EXPECT_TRUE(client.currentDir().isEmpty());

    e = expectFtpError([&] { client.deleteFile("1234_9.ini"); });
    EXPECT_EQ(e.kind(), FtpError::NotFound);
    EXPECT_TRUE(e.message().contains("not found"));

    // None of these costs the connection.
    EXPECT_TRUE(client.isConnected());
    writeFile(home() + "/log.ini", "[Log]");
    client.get("log.ini", local("log.ini"));
    EXPECT_EQ(readFile(local("log.ini")), "[Log]");
    EXPECT_EQ(server.commands("USER").size(), 1);
}

TEST_P(FtpClientTest, RefusedLoginsAndUnreachableServers)
{
    client.setPassword("wrong");
    FtpError e = expectFtpError([&] { client.connect(); });
    EXPECT_EQ(e.kind(), FtpError::Login);
    EXPECT_TRUE(e.message().contains("530")) << e.message().toStdString();
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(expectFtpError([&] { client.list(); }).kind(), FtpError::NotConnected);

    // The order account has its own home folder.
    client.setUserName("Order");
    client.setPassword("orderpass");
    client.connect();
    writeFile(local("1234_7.ini"), "order");
    client.put(local("1234_7.ini"), "1234_7.ini");
    EXPECT_EQ(readFile(server.home("Order") + "/1234_7.ini"), "order");
    EXPECT_FALSE(QFile::exists(home() + "/1234_7.ini"));

    // The server goes away: nothing listens on its port any more.
    client.disconnect();
    server.stop();
    e = expectFtpError([&] { client.connect(); });
    EXPECT_EQ(e.kind(), FtpError::Connect);
    EXPECT_TRUE(e.message().contains("no reply from the server")) << e.message().toStdString();
    EXPECT_TRUE(e.message().contains(QString::number(server.port())));

    client.setHost("no-such-host.invalid");
    QElapsedTimer timer;
    timer.start();
    e = expectFtpError([&] { client.connect(); });
    EXPECT_TRUE(e.kind() == FtpError::Connect || e.kind() == FtpError::Timeout) << e.message().toStdString();
    EXPECT_TRUE(e.message().contains("no-such-host.invalid"));
    EXPECT_LT(timer.elapsed(), 10000);

    client.setHost("bad host/name");
    EXPECT_EQ(expectFtpError([&] { client.connect(); }).kind(), FtpError::Connect);
}

TEST_P(FtpClientTest, CallbacksDuringATransfer)
{
    // Nothing here is about time-outs: on a loaded machine the server may be
    // slow to answer, and that must not fail the test.
    client.setConnectTimeout(30000);
    client.setResponseTimeout(30000);
    writeFile(home() + "/price.arc", pattern(2000000));
    client.connect();

    // A second operation from inside a callback is refused; a disconnect asked
    // for there waits until the running download is done.
    bool refused = false;
    bool asked = false;
    client.setProgressCallback([&](qint64 done, qint64) {
        if (done > 0 && !asked) {
            asked = true;
            try {
                client.size("price.arc");
            } catch (const FtpError &e) {
                refused = e.kind() == FtpError::Busy;
            }
            client.disconnect();
        }
    });
    client.get("price.arc", local("price.arc"));
    EXPECT_TRUE(refused);
    EXPECT_EQ(readFile(local("price.arc")), pattern(2000000));
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(server.waitForCommand("QUIT", 20000));
    // The one SIZE is the download's own; the refused call sent nothing.
    EXPECT_EQ(server.commands("SIZE").size(), 1);

    // An exception from a callback stops the transfer and reaches the caller,
    // whether it comes with the first bytes or once every byte has arrived
    // (how much has arrived at the first report depends on the machine's load).
    writeFile(local("price.arc"), "kept");
    for (const bool atTheEnd : {false, true}) {
        SCOPED_TRACE(atTheEnd ? "thrown at the end" : "thrown at the first bytes");
        client.connect();
        client.setProgressCallback([atTheEnd](qint64 done, qint64 total) {
            if (atTheEnd ? total > 0 && done == total : done > 0)
                throw std::runtime_error("stopped by the window");
        });
        EXPECT_THROW(client.get("price.arc", local("price.arc")), std::runtime_error);
        EXPECT_EQ(readFile(local("price.arc")), "kept");
        EXPECT_EQ(localFiles(), QStringList{"price.arc"});
        EXPECT_FALSE(client.isConnected());
    }

    // Names that would smuggle in a second command are not sent at all.
    client.setProgressCallback({});
    client.connect();
    server.clearCommands();
    EXPECT_EQ(expectFtpError([&] { client.list("*.dbf\r\nDELE price.arc"); }).kind(), FtpError::BadName);
    EXPECT_EQ(expectFtpError([&] { client.deleteFile("x\nDELE price.arc"); }).kind(), FtpError::BadName);
    EXPECT_TRUE(server.commands("DELE").isEmpty());
    EXPECT_TRUE(QFile::exists(home() + "/price.arc"));
}

TEST_P(FtpDropTest, DroppedDownloadKeepsTheOldFile)
{
    writeFile(home() + "/price.arc", pattern(1000000));
    writeFile(local("price.arc"), "old price");
    client.connect();
    const FtpError e = expectFtpError([&] { client.get("price.arc", local("price.arc")); });
    EXPECT_TRUE(e.kind() == FtpError::Transfer || e.kind() == FtpError::Timeout) << e.message().toStdString();
    EXPECT_TRUE(e.message().contains("price.arc")) << e.message().toStdString();
    EXPECT_FALSE(e.serverReply().isEmpty());
    EXPECT_TRUE(e.message().contains("(server: " + e.serverReply() + ")")) << e.message().toStdString();
    EXPECT_EQ(readFile(local("price.arc")), "old price");
    EXPECT_EQ(localFiles(), QStringList{"price.arc"});
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(expectFtpError([&] { client.size("price.arc"); }).kind(), FtpError::NotConnected);
}

TEST_P(FtpHangTest, SilentServerRunsIntoTheTimeout)
{
    writeFile(home() + "/price.arc", "data");
    writeFile(local("price.arc"), "old price");
    client.setResponseTimeout(1000);
    client.connect();
    QElapsedTimer timer;
    timer.start();
    const FtpError e = expectFtpError([&] { client.get("price.arc", local("price.arc")); });
    EXPECT_EQ(e.kind(), FtpError::Timeout) << e.message().toStdString();
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(readFile(local("price.arc")), "old price");
}

TEST_P(FtpIdleTest, ClosedByTheServerWhileIdle)
{
    writeFile(home() + "/Defect/1234/D0001.DBF", "first");
    client.connect();
    client.changeDir("\\Defect\\1234");
    ASSERT_TRUE(server.waitForCommand("CWD \\Defect\\1234"));
    QThread::msleep(1500); // the server hangs up meanwhile

    // The session goes on over a new connection, logged in again, in the same folder.
    EXPECT_EQ(client.list("*.dbf"), QStringList{"D0001.DBF"});
    EXPECT_EQ(server.commands("USER").size(), 2);
    EXPECT_EQ(server.commands().count("CWD \\Defect\\1234"), 2);
    EXPECT_TRUE(client.isConnected());

    // connect() on an open session says goodbye first.
    server.clearCommands();
    client.connect();
    const QStringList log = server.commands();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[0], "QUIT");
    EXPECT_EQ(log[1], "USER 1234");
    EXPECT_TRUE(client.currentDir().isEmpty());
}

TEST(FtpSilentServer, QuitNeverAnswered)
{
    FtpTestServer server({.hangOn = QStringLiteral("QUIT")});
    FtpClient client;
    client.setHost("127.0.0.1");
    client.setPort(server.port());
    client.setUserName("1234");
    client.setPassword("secret");
    client.setResponseTimeout(1000);
    client.connect();
    QElapsedTimer timer;
    timer.start();
    client.disconnect();
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(server.commands().contains("QUIT"));
}

TEST(FtpSilentServer, GreetingNeverComes)
{
    FtpTestServer server({.mode = FtpTestServer::Mode::Silent});
    FtpClient client;
    client.setHost("127.0.0.1");
    client.setPort(server.port());
    client.setUserName("1234");
    client.setPassword("secret");
    client.setConnectTimeout(500);
    QElapsedTimer timer;
    timer.start();
    const FtpError e = expectFtpError([&] { client.connect(); });
    EXPECT_EQ(e.kind(), FtpError::Timeout) << e.message().toStdString();
    EXPECT_TRUE(e.message().contains("no reply from the server"));
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_FALSE(client.isConnected());
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpClientTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });
INSTANTIATE_TEST_SUITE_P(Modes, FtpDropTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });
INSTANTIATE_TEST_SUITE_P(Modes, FtpIdleTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });
INSTANTIATE_TEST_SUITE_P(Modes, FtpHangTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });
