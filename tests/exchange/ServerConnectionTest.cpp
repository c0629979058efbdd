// Connecting with fall-back over the server list, and sending the message log,
// against the real test server in passive and in active mode.
#include "exchange/ErrorLogUpload.h"
#include "exchange/ServerConnection.h"
#include "exchange/ServerList.h"
#include "support/FtpTestServer.h"
#include "support/ScriptedDialogs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using pc::FtpError;
using pc::ServerConnection;
using pc::test::FtpTestServer;

namespace {

const QString kWait = QStringLiteral("Подождите некоторое время, происходит соединение с сервером...");
const QString kNoServer = QStringLiteral("Не удалось соединиться с сервером. Попробуйте позднее");

QStringList addresses(const QStringList &first)
{
    QStringList list = first;
    while (list.size() < ServerConnection::kServerCount)
        list << QString();
    return list;
}

QStringList texts(const RecordingLog &log, const QString &part = QString())
{
    QStringList result;
    for (const auto &e : log.entries)
        if (e.text.contains(part))
            result << e.text;
    return result;
}

// The log lines of failed attempts.
QStringList connectErrors(const RecordingLog &log)
{
    QStringList result;
    for (const auto &e : log.entries)
        if (e.level == Error && e.reveal && e.text.startsWith(QStringLiteral("Соединение с ")))
            result << e.text;
    return result;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
}

class ServerConnectionTest : public ::testing::TestWithParam<bool> {
protected:
    ServerConnectionTest()
    {
        settings.ServerPort = server.port();
        settings.FTPPassive = GetParam();
        settings.ClientAccount = {QStringLiteral("1234"), QStringLiteral("secret")};
        settings.OrderAccount = {QStringLiteral("Order"), QStringLiteral("orderpass")};
        settings.ServerAddresses = addresses({QStringLiteral("127.0.0.1")});
        connection = std::make_unique<ServerConnection>(settings, dialogs, log);
        connection->ftp().setConnectTimeout(3000);
        connection->ftp().setResponseTimeout(10000);
        connection->setIdleHook([this] { ++idleCalls; });
    }

    FtpTestServer server;
    Settings settings;
    ScriptedDialogs dialogs;
    RecordingLog log;
    std::unique_ptr<ServerConnection> connection;
    int idleCalls = 0;
};

} // namespace

TEST_P(ServerConnectionTest, FallsBackOverTheReservesAndKeepsToTheOneThatAnswered)
{
    // The main address is empty; reserve 1 does not resolve, nothing listens
    // on reserve 2; reserve 3 is the server.
    settings.ServerAddresses = addresses({QString(), QStringLiteral("no-such-host.invalid"),
                                          QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.1")});
    int busy = 0;
    connection->setBusyCursorHook([&](bool on) { busy += on ? 1 : -1; });

    ASSERT_TRUE(connection->ConnectToServer(true));
    EXPECT_TRUE(connection->isConnected());
    EXPECT_EQ(connection->CurrentServerIndex(), 3);
    EXPECT_EQ(texts(log, QStringLiteral("***")),
              (QStringList{QStringLiteral("*** Попытка подключения к резервному серверу 1(no-such-host.invalid)..."),
                           QStringLiteral("*** Попытка подключения к резервному серверу 2(127.0.0.2)..."),
                           QStringLiteral("*** Попытка подключения к резервному серверу 3(127.0.0.1)..."),
                           QStringLiteral("*** ... успешно подключились")}));
    for (const auto &e : log.entries)
        EXPECT_TRUE(e.level == Error && e.reveal) << e.text.toStdString();
    // Each failure in the library's and the server's words, in the order tried.
    const QStringList errors = connectErrors(log);
    ASSERT_EQ(errors.size(), 2) << texts(log).join('\n').toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("Соединение с no-such-host.invalid:"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("адрес сервера не найден"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[1].contains(QStringLiteral("127.0.0.2"))) << errors[1].toStdString();
    EXPECT_TRUE(errors[1].contains(QStringLiteral("(сервер не ответил)"))) << errors[1].toStdString();
    EXPECT_EQ(log.details, (QStringList{QStringLiteral("Соединение с сервером no-such-host.invalid"),
                                       QStringLiteral("Соединение с сервером 127.0.0.2"),
                                       QStringLiteral("Соединение с сервером 127.0.0.1"),
                                       QStringLiteral("Соединение с сервером 127.0.0.1 установлено")}));
    EXPECT_EQ(dialogs.waits, QStringList{kWait});
    EXPECT_EQ(dialogs.waitShown, 0);
    EXPECT_TRUE(dialogs.notices.isEmpty());
    EXPECT_EQ(busy, 0);
    EXPECT_GT(idleCalls, 0);
    EXPECT_EQ(server.commands("USER"), QStringList{"USER 1234"});

    // The session works, with data connections of the mode chosen.
    writeFile(server.home("1234") + "/price.arc", "price");
    EXPECT_EQ(connection->ftp().list(), QStringList{"price.arc"});
    EXPECT_NE(server.commands(GetParam() ? "PASV" : "PORT").size(), 0);
    EXPECT_EQ(server.commands(GetParam() ? "PORT" : "PASV").size(), 0);

    connection->DisconnectFromServer();
    EXPECT_FALSE(connection->isConnected());
    EXPECT_EQ(log.details.last(), QStringLiteral("Рассоединение с сервером"));
    EXPECT_TRUE(server.waitForCommand("QUIT", 10000));

    // The next connection of the run goes to reserve 3 straight away.
    log.entries.clear();
    log.details.clear();
    ASSERT_TRUE(connection->ConnectToServer(true));
    EXPECT_TRUE(log.entries.empty()) << texts(log).join('\n').toStdString();
    EXPECT_EQ(log.details, (QStringList{QStringLiteral("Соединение с сервером 127.0.0.1"),
                                        QStringLiteral("Соединение с сервером 127.0.0.1 установлено")}));
    EXPECT_EQ(server.commands("USER").size(), 2);
    connection->DisconnectFromServer();

    // When that one is gone too, every other entry is tried and announced,
    // and only then is the person told.
    server.stop();
    log.entries.clear();
    ASSERT_FALSE(connection->ConnectToServer(true));
    EXPECT_EQ(texts(log, QStringLiteral("***")),
              (QStringList{QStringLiteral("*** Попытка подключения к резервному серверу 1(no-such-host.invalid)..."),
                           QStringLiteral("*** Попытка подключения к резервному серверу 2(127.0.0.2)...")}));
    EXPECT_EQ(connectErrors(log).size(), 3);
    EXPECT_EQ(dialogs.notices, QStringList{kNoServer});
    EXPECT_EQ(dialogs.waitShown, 0);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(connection->CurrentServerIndex(), 3);
    EXPECT_FALSE(connection->isConnected());
}

TEST_P(ServerConnectionTest, AnOpenConnectionIsReusedOnlyWhenAskedAndUnderTheSameLogin)
{
    EXPECT_EQ(connection->login(), settings.ClientAccount);
    ASSERT_TRUE(connection->ConnectToServer(false));
    EXPECT_EQ(connection->CurrentServerIndex(), 0);
    EXPECT_TRUE(texts(log, QStringLiteral("***")).isEmpty()) << "the server answered last is not announced";

    log.details.clear();
    ASSERT_TRUE(connection->ConnectToServer(false));
    EXPECT_EQ(log.details, QStringList{QStringLiteral("Соединение с сервером 127.0.0.1")});
    EXPECT_TRUE(log.entries.empty());
    EXPECT_EQ(server.commands("USER").size(), 1);
    EXPECT_TRUE(server.commands("QUIT").isEmpty());
    EXPECT_EQ(connection->ftp().list(), QStringList());

    // reconnect = true: said goodbye and logged in again.
    ASSERT_TRUE(connection->ConnectToServer(true));
    EXPECT_TRUE(server.waitForCommand("QUIT", 10000));
    EXPECT_EQ(server.commands("USER").size(), 2);

    // Another account is never served by the open connection.
    connection->setLogin(settings.OrderAccount);
    ASSERT_TRUE(connection->ConnectToServer(false));
    EXPECT_EQ(server.commands("USER"), (QStringList{"USER 1234", "USER 1234", "USER Order"}));
    writeFile(server.home("Order") + "/1234_1.ini", "order");
    EXPECT_EQ(connection->ftp().list(), QStringList{"1234_1.ini"});
    EXPECT_TRUE(connectErrors(log).isEmpty());
}

TEST_P(ServerConnectionTest, MessageLogArrivesUnderTheOrderAccount)
{
    QTemporaryDir appDir;
    const QString name = QStringLiteral("1234261207_91512.err");
    const QString path = appDir.filePath(name);
    const QByteArray pane = "[07.12.2026 09:15:12] i: line 1\r\n[07.12.2026 09:15:13] ОШИБКА!: line 2\r\n";
    writeFile(server.home("Order") + "/" + name, "an older log of that name");

    bool connectedWhenWritten = false;
    const bool sent = pc::SendErrorLog(*connection, settings.OrderAccount, [&] {
        connectedWhenWritten = connection->isConnected();
        writeFile(path, pane);
        return path;
    });
    ASSERT_TRUE(sent);
    EXPECT_TRUE(connectedWhenWritten) << "the pane is written once the server has answered";
    EXPECT_EQ(readFile(server.home("Order") + "/" + name), pane);
    EXPECT_FALSE(QFile::exists(server.home("1234") + "/" + name));
    EXPECT_EQ(readFile(path), pane) << "the local copy stays";
    EXPECT_FALSE(connection->isConnected());
    EXPECT_EQ(log.details.last(), QStringLiteral("Рассоединение с сервером"));
    EXPECT_TRUE(server.waitForCommand("QUIT", 10000));
    const QStringList commands = server.commands();
    EXPECT_EQ(server.commands("USER"), QStringList{"USER Order"});
    EXPECT_TRUE(commands.contains("STOR " + name)) << commands.join(" | ").toStdString();
    EXPECT_TRUE(server.commands("APPE").isEmpty());

    // A failed upload still closes the connection; the error reaches the caller.
    try {
        pc::SendErrorLog(*connection, settings.OrderAccount, [&] { return appDir.filePath("gone/x.err"); });
        ADD_FAILURE() << "no error for a file that cannot be read";
    } catch (const FtpError &e) {
        EXPECT_EQ(e.kind(), FtpError::LocalFile) << e.message().toStdString();
    }
    EXPECT_FALSE(connection->isConnected());
    EXPECT_EQ(log.details.last(), QStringLiteral("Рассоединение с сервером"));

    // No server: nothing is written, the person is told once.
    server.stop();
    bool written = false;
    EXPECT_FALSE(pc::SendErrorLog(*connection, settings.OrderAccount, [&] {
        written = true;
        return path;
    }));
    EXPECT_FALSE(written);
    EXPECT_EQ(dialogs.notices, QStringList{kNoServer});
}

INSTANTIATE_TEST_SUITE_P(Modes, ServerConnectionTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });

// Servers that do not let the program in: each failure is logged in the
// server's words, the wait is bounded, and the program goes on.
TEST(ServerConnectionFailures, SilentServerAndRefusedLogin)
{
    Settings settings;
    settings.ClientAccount = {QStringLiteral("1234"), QStringLiteral("wrong")};
    settings.ServerAddresses = addresses({QStringLiteral("127.0.0.1")});
    ScriptedDialogs dialogs;
    RecordingLog log;

    {
        FtpTestServer silent({.mode = FtpTestServer::Mode::Silent});
        settings.ServerPort = silent.port();
        ServerConnection connection(settings, dialogs, log);
        connection.ftp().setConnectTimeout(500);
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(connection.ConnectToServer(true));
        EXPECT_LT(timer.elapsed(), 5000);
        const QStringList errors = connectErrors(log);
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(QStringLiteral("сервер не ответил"))) << errors[0].toStdString();
        EXPECT_EQ(dialogs.notices, QStringList{kNoServer});
        EXPECT_EQ(dialogs.waitShown, 0);
    }

    FtpTestServer server;
    settings.ServerPort = server.port();
    log.entries.clear();
    ServerConnection connection(settings, dialogs, log);
    EXPECT_FALSE(connection.ConnectToServer(true));
    const QStringList errors = connectErrors(log);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("(ответ сервера: 530"))) << errors[0].toStdString();
    EXPECT_FALSE(connection.isConnected());
    // Trying later would not help: the person is told what was refused.
    ASSERT_FALSE(dialogs.notices.isEmpty());
    EXPECT_EQ(dialogs.notices.last(),
              QStringLiteral("Сервер не принял имя пользователя или пароль (пользователь \"1234\"). Проверьте их в настройках"));

    // A server that turns everyone away with 421 is no time-out and no
    // refused login: try later.
    {
        FtpTestServer busy;
        busy.setFaults({{.verb = "USER", .reply = "421 Too many users."}});
        settings.ServerPort = busy.port();
        log.entries.clear();
        ServerConnection other(settings, dialogs, log);
        EXPECT_FALSE(other.ConnectToServer(true));
        const QStringList busyErrors = connectErrors(log);
        ASSERT_EQ(busyErrors.size(), 1);
        EXPECT_TRUE(busyErrors[0].contains(QStringLiteral("421 Too many users."))) << busyErrors[0].toStdString();
        EXPECT_FALSE(busyErrors[0].contains(QStringLiteral("не отвечает"))) << busyErrors[0].toStdString();
        EXPECT_EQ(dialogs.notices.last(), kNoServer);
        settings.ServerPort = server.port();
    }

    // The right password on the next try works: nothing was left half-open.
    connection.setLogin({QStringLiteral("1234"), QStringLiteral("secret")});
    EXPECT_TRUE(connection.ConnectToServer(false));
    EXPECT_EQ(connection.ftp().list(), QStringList());
}

// «Только защищённое соединение»: a server without TLS is not used, no
// password goes to it, and the person is told what to do; a server whose
// certificate carries the key the supplier gave (server.ini) is used.
TEST(ServerConnectionTls, RequiredTlsRefusesAServerWithoutItAndTrustsThePinnedKey)
{
    Settings settings;
    settings.ClientAccount = {QStringLiteral("1234"), QStringLiteral("secret")};
    settings.FTPRequireTLS = true;
    ScriptedDialogs dialogs;
    RecordingLog log;

    FtpTestServer plain;
    settings.ServerPort = plain.port();
    settings.ServerAddresses = addresses({QStringLiteral("127.0.0.1")});
    {
        ServerConnection connection(settings, dialogs, log);
        EXPECT_FALSE(connection.ConnectToServer(true));
    }
    EXPECT_TRUE(plain.commands("USER").isEmpty());
    EXPECT_TRUE(plain.commands("PASS").isEmpty());
    const QStringList errors = connectErrors(log);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("не поддерживает защищённое соединение TLS"))) << errors[0].toStdString();
    ASSERT_FALSE(dialogs.notices.isEmpty());
    EXPECT_TRUE(dialogs.notices.last().startsWith(QStringLiteral("Сервер не поддерживает защищённое соединение (TLS)")))
        << dialogs.notices.last().toStdString();

    pc::ConnectionCheckRequest request;
    request.address = QStringLiteral("127.0.0.1");
    request.portText = QString::number(plain.port());
    request.requireTls = true;
    request.login = settings.ClientAccount;
    const pc::ConnectionCheck check = pc::checkServerConnection(request);
    EXPECT_EQ(check.outcome, pc::ConnectionCheck::NotSecure);
    EXPECT_TRUE(check.text.contains(QStringLiteral("не поддерживает защищённое соединение"))) << check.text.toStdString();
    EXPECT_TRUE(plain.commands("PASS").isEmpty());

    FtpTestServer secure({.tls = FtpTestServer::Options::Tls::Required});
    settings.ServerPort = secure.port();
    settings.TLSPublicKey = secure.publicKeyPin();
    ServerConnection connection(settings, dialogs, log);
    ASSERT_TRUE(connection.ConnectToServer(true));
    EXPECT_EQ(connection.ftp().list(), QStringList());
    EXPECT_EQ(secure.commands().value(0), QStringLiteral("AUTH TLS"));
    EXPECT_TRUE(secure.commands().contains(QStringLiteral("PROT P")));
}
