// FtpClient against the real test server, in passive and in active mode.
#include "exchange/FtpClient.h"
#include "support/FtpTestServer.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>

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

// A server with FTP over TLS. Where the data connections can be protected
// it speaks nothing else: it refuses the login on a control connection
// without TLS and every data connection before PROT P.
class FtpTlsTest : public FtpClientTest {
protected:
    FtpTlsTest()
        : FtpClientTest({.tls = dataProtected() ? FtpTestServer::Options::Tls::Required : FtpTestServer::Options::Tls::Offered})
    {
    }
    static bool dataProtected() { return GetParam() || FtpClient::canProtectActiveData(); }
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

// A download the disk has no room for, whether the disk fills during the
// transfer or at the final sync, keeps the local file it would replace and
// says the disk is full. (A transfer cut off by the local side ends libcurl's
// session: the next operation connects again.)
TEST_P(FtpClientTest, ADownloadNotStoredWholeKeepsTheOldFile)
{
    writeFile(home() + "/price.arc", QByteArray(20000, 'p'));
    writeFile(local("price.arc"), "yesterday's price");
    for (pc::FileStep failing : {pc::FileStep::Write, pc::FileStep::Sync}) {
        if (!client.isConnected())
            client.connect();
        pc::setFileFaultHook([failing](pc::FileStep step, const QString &, qint64 written) {
            return step == failing && (step != pc::FileStep::Write || written > 4096) ? ENOSPC : 0;
        });
        FtpError e = expectFtpError([&] { client.get("price.arc", local("price.arc")); });
        pc::setFileFaultHook({});
        EXPECT_EQ(e.kind(), FtpError::LocalFile) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains("на диске нет места")) << e.message().toStdString();
        EXPECT_EQ(readFile(local("price.arc")), "yesterday's price");
        EXPECT_EQ(localFiles(), QStringList{"price.arc"});
    }
    if (!client.isConnected())
        client.connect();
    client.get("price.arc", local("price.arc"));
    EXPECT_EQ(readFile(local("price.arc")), QByteArray(20000, 'p'));
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
    EXPECT_TRUE(e.message().contains("сервер не ответил")) << e.message().toStdString();
    EXPECT_TRUE(e.message().startsWith("Соединение с 127.0.0.1:" + QString::number(server.port())
                                       + ": сервер не принимает соединений"))
        << e.message().toStdString();

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

// With TLS required, a server without it is refused before the client code
// or the password is sent; left to try, the session goes on in the clear.
TEST_P(FtpClientTest, TlsRequiredRefusesAServerWithoutItBeforeTheLogin)
{
    client.setTls(FtpClient::Tls::Required);
    const FtpError e = expectFtpError([&] { client.connect(); });
    EXPECT_FALSE(client.isConnected());
    if (!GetParam() && !FtpClient::canProtectActiveData()) {
        // Active mode cannot be protected here: said before anything is sent.
        EXPECT_EQ(e.kind(), FtpError::TlsFailed);
        EXPECT_TRUE(server.commands().isEmpty());
        return;
    }
    EXPECT_EQ(e.kind(), FtpError::TlsRefused);
    EXPECT_TRUE(e.message().startsWith("Соединение с 127.0.0.1:" + QString::number(server.port())
                                       + ": сервер не поддерживает защищённое соединение TLS"))
        << e.message().toStdString();
    const QStringList refused = server.commands();
    EXPECT_FALSE(refused.isEmpty());
    for (const QString &line : refused)
        EXPECT_TRUE(line.startsWith("AUTH ")) << line.toStdString();
    EXPECT_TRUE(server.commands("USER").isEmpty());
    EXPECT_TRUE(server.commands("PASS").isEmpty());

    server.clearCommands();
    client.setTls(FtpClient::Tls::Try);
    client.connect();
    EXPECT_EQ(server.commands().value(0), "AUTH TLS");
    EXPECT_EQ(server.commands("USER"), QStringList{"USER 1234"});
}

TEST_P(FtpTlsTest, TheLoginAndEveryTransferGoOverTls)
{
    writeFile(home() + "/Defect/1234/d0002.dbf", pattern(300000));
    writeFile(local("order.ini"), "[Order]\r\nN=1\r\n");

    // Tried by default; the self-signed certificate is not in the way.
    client.connect();
    client.put(local("order.ini"), "1234_1.tmp");
    client.rename("1234_1.tmp", "1234_1.ini");
    EXPECT_EQ(readFile(home() + "/1234_1.ini"), "[Order]\r\nN=1\r\n");
    client.changeDir("\\Defect\\1234");
    EXPECT_EQ(client.list("*.dbf"), QStringList{"d0002.dbf"});
    EXPECT_EQ(client.size("d0002.dbf"), 300000);
    client.get("d0002.dbf", local("big.dbf"));
    EXPECT_EQ(readFile(local("big.dbf")), pattern(300000));
    client.deleteFile("d0002.dbf");
    client.disconnect();
    EXPECT_TRUE(server.waitForCommand("QUIT"));

    const QStringList log = server.commands();
    EXPECT_EQ(log.value(0), "AUTH TLS");
    EXPECT_TRUE(log.contains("PBSZ 0"));
    // (Where libcurl cannot protect the data connections of active mode,
    // the login is protected, and the data go in the clear.)
    EXPECT_EQ(log.contains("PROT P"), dataProtected()) << log.join(" | ").toStdString();
    EXPECT_EQ(server.commands("USER"), QStringList{"USER 1234"}) << "one login for the whole session";
    EXPECT_FALSE(QFile::exists(home() + "/Defect/1234/d0002.dbf"));
}

// Required, the certificate must be trusted: a self-signed one only by its
// pinned key. A certificate with another key is refused in either mode. The
// login never leaves the client before the certificate is accepted.
TEST_P(FtpTlsTest, RequiredTlsTrustsACertificateByThePinnedKeyOnly)
{
    client.setTls(FtpClient::Tls::Required);
    FtpError e = expectFtpError([&] { client.connect(); });
    if (!dataProtected()) {
        EXPECT_EQ(e.kind(), FtpError::TlsFailed);
        EXPECT_TRUE(e.message().contains("включите «Пассивный FTP»")) << e.message().toStdString();
        EXPECT_TRUE(server.commands().isEmpty());
        return;
    }
    EXPECT_EQ(e.kind(), FtpError::TlsFailed);
    EXPECT_TRUE(e.message().contains("сертификат сервера не подтверждён")) << e.message().toStdString();

    client.setPinnedPublicKey("sha256//" + QString::fromLatin1(QByteArray(32, 'x').toBase64()));
    for (const FtpClient::Tls tls : {FtpClient::Tls::Required, FtpClient::Tls::Try}) {
        client.setTls(tls);
        e = expectFtpError([&] { client.connect(); });
        EXPECT_EQ(e.kind(), FtpError::TlsFailed);
        EXPECT_TRUE(e.message().contains("ключ сертификата сервера не тот")) << e.message().toStdString();
    }
    EXPECT_TRUE(server.commands("USER").isEmpty());
    EXPECT_TRUE(server.commands("PASS").isEmpty());

    client.setTls(FtpClient::Tls::Required);
    client.setPinnedPublicKey(server.publicKeyPin());
    client.connect();
    EXPECT_EQ(client.list(), QStringList());
    EXPECT_EQ(server.commands("USER"), QStringList{"USER 1234"});
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
    EXPECT_TRUE(e.message().contains("(ответ сервера: " + e.serverReply() + ")")) << e.message().toStdString();
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
    // (TLS is asked for first; this server has none.)
    EXPECT_EQ(log.mid(1, log.indexOf("USER 1234") - 1), (QStringList{"AUTH TLS", "AUTH SSL"}));
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
    EXPECT_TRUE(e.message().contains("сервер не ответил"));
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_FALSE(client.isConnected());
}

using Fault = FtpTestServer::Fault;

// An upload goes up under one name and is renamed; the server's refusals at
// each step are reported and, except for a lost connection, keep the session.
TEST_P(FtpClientTest, RenameAndRefusedSteps)
{
    writeFile(local("order.ini"), pattern(5000));
    client.connect();
    client.put(local("order.ini"), "1234_5.ini.tmp");
    client.rename("1234_5.ini.tmp", "1234_5.ini");
    EXPECT_EQ(readFile(home() + "/1234_5.ini"), pattern(5000));
    EXPECT_FALSE(QFile::exists(home() + "/1234_5.ini.tmp"));
    EXPECT_TRUE(server.commands().contains("RNFR 1234_5.ini.tmp"));
    EXPECT_TRUE(server.commands().contains("RNTO 1234_5.ini"));

    // A rename over an existing file replaces it.
    writeFile(home() + "/new.tmp", "newer");
    client.rename("new.tmp", "1234_5.ini");
    EXPECT_EQ(readFile(home() + "/1234_5.ini"), "newer");

    // The old name is missing: not found. The new name refused: a refusal,
    // not "not found", though the server answers 550 to both.
    FtpError e = expectFtpError([&] { client.rename("missing.tmp", "x.ini"); });
    EXPECT_EQ(e.kind(), FtpError::NotFound) << e.message().toStdString();
    writeFile(home() + "/a.tmp", "a");
    server.setFaults({{.verb = "RNTO", .reply = "550 Permission denied."}});
    e = expectFtpError([&] { client.rename("a.tmp", "a.ini"); });
    EXPECT_EQ(e.kind(), FtpError::Refused) << e.message().toStdString();
    EXPECT_TRUE(e.message().contains("550 Permission denied.")) << e.message().toStdString();
    EXPECT_FALSE(e.message().contains("not found"));
    EXPECT_TRUE(QFile::exists(home() + "/a.tmp"));
    EXPECT_TRUE(client.isConnected());

    server.setFaults({{.verb = "RNFR", .reply = "450 Busy."}});
    e = expectFtpError([&] { client.rename("a.tmp", "a.ini"); });
    EXPECT_EQ(e.kind(), FtpError::Refused);
    EXPECT_TRUE(e.message().contains("450 Busy.")) << e.message().toStdString();

    server.setFaults({{.verb = "DELE", .reply = "550 Access denied."}});
    EXPECT_THROW(client.deleteFile("a.tmp"), FtpError);
    EXPECT_TRUE(QFile::exists(home() + "/a.tmp"));

    server.setFaults({{.verb = "STOR", .reply = "452 Insufficient storage space."}});
    e = expectFtpError([&] { client.put(local("order.ini"), "b.tmp"); });
    EXPECT_TRUE(e.message().contains("452 Insufficient storage space.")) << e.message().toStdString();
    EXPECT_FALSE(QFile::exists(home() + "/b.tmp"));

    // The session survived every refusal.
    server.clearFaults();
    EXPECT_TRUE(client.isConnected());
    client.rename("a.tmp", "a.ini");
    EXPECT_EQ(readFile(home() + "/a.ini"), "a");
    EXPECT_EQ(server.commands("USER").size(), 1);

    // The connection drops after 1000 bytes of an upload: the part that
    // arrived stays on the server. The client notices the lost connection at
    // once or at its next operation, which goes over a new one.
    writeFile(local("big.ini"), pattern(400000));
    server.setFaults({{.verb = "STOR", .action = Fault::Drop, .bytes = 1000, .times = 1}});
    e = expectFtpError([&] { client.put(local("big.ini"), "c.tmp"); });
    EXPECT_EQ(e.kind(), FtpError::Transfer) << e.message().toStdString();
    EXPECT_EQ(readFile(home() + "/c.tmp").size(), 1000);
    if (!client.isConnected())
        client.connect();
    EXPECT_EQ(client.size("c.tmp"), 1000);
    EXPECT_EQ(server.commands("USER").size(), 2);

    // The connection drops on RNTO.
    server.setFaults({{.verb = "RNTO", .action = Fault::Drop}});
    e = expectFtpError([&] { client.rename("c.tmp", "c.ini"); });
    EXPECT_NE(e.kind(), FtpError::NotFound) << e.message().toStdString();
    EXPECT_FALSE(QFile::exists(home() + "/c.ini"));
}

// libcurl takes a 421 for a time-out; it is a server refusing service.
TEST_P(FtpClientTest, ServiceNotAvailableIsNoTimeout)
{
    server.setFaults({{.verb = "USER", .reply = "421 Too many users, try again later.", .times = 1}});
    FtpError e = expectFtpError([&] { client.connect(); });
    EXPECT_EQ(e.kind(), FtpError::Connect) << e.message().toStdString();
    EXPECT_TRUE(e.message().contains("421 Too many users")) << e.message().toStdString();
    EXPECT_FALSE(e.message().contains("не отвечает")) << e.message().toStdString();

    writeFile(home() + "/price.arc", "data");
    client.connect();
    server.setFaults({{.verb = "RETR", .reply = "421 Service shutting down."}});
    e = expectFtpError([&] { client.get("price.arc", local("price.arc")); });
    EXPECT_NE(e.kind(), FtpError::Timeout) << e.message().toStdString();
    EXPECT_FALSE(e.message().contains("не отвечает")) << e.message().toStdString();
    EXPECT_TRUE(e.message().contains("421 Service shutting down.")) << e.message().toStdString();
}

// The environment's proxy settings are not followed: the server is reached
// directly even when they name a proxy that does not exist.
TEST_P(FtpClientTest, ProxyFromTheEnvironmentIsIgnored)
{
    struct Env {
        QList<QByteArray> names{"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"};
        QList<QByteArray> saved;
        QList<bool> had;
        Env()
        {
            for (const QByteArray &n : names) {
                had << qEnvironmentVariableIsSet(n.constData());
                saved << qgetenv(n.constData());
                if (n.toLower() == "no_proxy")
                    qunsetenv(n.constData());
                else
                    qputenv(n.constData(), "http://127.0.0.1:9");
            }
        }
        ~Env()
        {
            for (qsizetype i = 0; i < names.size(); ++i) {
                if (had[i])
                    qputenv(names[i].constData(), saved[i]);
                else
                    qunsetenv(names[i].constData());
            }
        }
    } env;
    writeFile(home() + "/price.arc", "data");
    writeFile(local("order.ini"), "order");
    client.connect();
    client.get("price.arc", local("price.arc"));
    EXPECT_EQ(readFile(local("price.arc")), "data");
    client.put(local("order.ini"), "1234_1.ini");
    EXPECT_EQ(readFile(home() + "/1234_1.ini"), "order");
}

// A transfer that moves nothing for the stall time is abandoned, downloads
// and uploads alike, well before the server's own time-outs.
TEST(FtpStall, SilentTransferIsAbandoned)
{
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        FtpTestServer server;
        QTemporaryDir tmp;
        FtpClient client;
        client.setHost("127.0.0.1");
        client.setPort(server.port());
        client.setUserName("1234");
        client.setPassword("secret");
        client.setStallTimeout(1000);
        writeFile(server.home("1234") + "/price.arc", pattern(200000));
        writeFile(tmp.filePath("price.arc"), "old price");
        writeFile(tmp.filePath("up.arc"), pattern(200000));
        client.connect();
        server.setFaults({{.verb = upload ? "STOR" : "RETR", .action = Fault::Stall, .bytes = 1000, .seconds = 20}});
        QElapsedTimer timer;
        timer.start();
        const FtpError e = expectFtpError([&] {
            if (upload)
                client.put(tmp.filePath("up.arc"), "up.arc");
            else
                client.get("price.arc", tmp.filePath("price.arc"));
        });
        EXPECT_EQ(e.kind(), FtpError::Timeout) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains("1 с ничего не получено и не отправлено")) << e.message().toStdString();
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_GE(timer.elapsed(), 900);
        EXPECT_FALSE(client.isConnected());
        EXPECT_EQ(readFile(tmp.filePath("price.arc")), "old price");
    }
}

// Silence is what ends an exchange, not slowness: an upload, a download and
// a reply that take several times the stall time go through while bytes keep
// moving, the last bytes of an upload included (they sit in the system's
// buffers after the file was read to the end).
TEST(FtpStall, SlowButMovingExchangeGoesThrough)
{
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    FtpTestServer server;
    QTemporaryDir tmp;
    FtpClient client;
    client.setPassive(passive);
    client.setHost("127.0.0.1");
    client.setPort(server.port());
    client.setUserName("1234");
    client.setPassword("secret");
    client.setStallTimeout(1000);
    const QByteArray data = pattern(1 << 19);
    writeFile(tmp.filePath("up.arc"), data);
    writeFile(server.home("1234") + "/price.arc", data);
    QDir().mkpath(server.home("1234") + "/Defect");
    client.connect();

    QElapsedTimer timer;
    server.setFaults({{.verb = "STOR", .action = Fault::Slow, .rate = 256 * 1024}});
    timer.start();
    client.put(tmp.filePath("up.arc"), "up.arc");
    EXPECT_GT(timer.elapsed(), 1500);
    EXPECT_TRUE(readFile(server.home("1234") + "/up.arc") == data);

    server.setFaults({{.verb = "RETR", .action = Fault::Slow, .rate = 256 * 1024}});
    timer.start();
    client.get("price.arc", tmp.filePath("price.arc"));
    EXPECT_GT(timer.elapsed(), 1500);
    EXPECT_TRUE(readFile(tmp.filePath("price.arc")) == data);

    server.setFaults({{.verb = "CWD", .action = Fault::Drip, .reply = "250 CWD ok.", .seconds = 0.25}});
    timer.start();
    client.changeDir("\\Defect");
    EXPECT_GT(timer.elapsed(), 2000);
    EXPECT_TRUE(client.isConnected());
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpClientTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });
INSTANTIATE_TEST_SUITE_P(Modes, FtpDropTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });
INSTANTIATE_TEST_SUITE_P(Modes, FtpTlsTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });
INSTANTIATE_TEST_SUITE_P(Modes, FtpIdleTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });
INSTANTIATE_TEST_SUITE_P(Modes, FtpHangTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });
