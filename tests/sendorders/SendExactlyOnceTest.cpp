// Sending under faults: every order reaches the server once, complete, under
// its own name; what is marked sent is on the server and committed at once.
#include "FtpTestServer.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "core/PriceMask.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/firebird/Database.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Transaction.h"
#include "exchange/ServerConnection.h"
#include "orders/OrderFile.h"
#include "orders/SaveOrder.h"
#include "orders/SendOrders.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace pc;
using Fault = test::FtpTestServer::Fault;

namespace {

constexpr int kOrders = 3;
constexpr int kLines = 30; // an order file of a few kilobytes
const QString kMaybeSent = QStringLiteral("Заявка №%1, возможно, уже отправлена: связь прервалась во время отправки. Отправить ещё раз?");
const QString kSendFailed = QStringLiteral("При отправке заявки возникли ошибки.\r\nЗаявка была перемещена в архив и будет отправлена при повторном сеансе связи");

Settings sendSettings(int port)
{
    Settings settings;
    settings.ClientCode = "1234";
    settings.ClientName = "Аптека";
    settings.ServerAddresses = QStringList{"127.0.0.1"};
    settings.ServerPort = port;
    settings.OrderAccount = {"Order", "nulpet"};
    settings.ClientAccount = {"1234", "pw"};
    settings.DeliveryAddresses = {{"--ОСНОВНОГО АДРЕСА--", "1234", 0}};
    settings.AskSendLog = true;
    return settings;
}

// The program's objects over one attachment of the program folder's database.
struct Client {
    AppContext context;
    Settings settings;
    ScriptedDialogs dialogs;
    RecordingLog log;
    TDM dm;
    ServerConnection connection;
    OrderFileWriter writer;
    OrderSaver saver;
    OrderSender sender;

    Client(const QString &dir, int port)
        : context(dir), settings(sendSettings(port)), dm(context, dialogs, log), connection(settings, dialogs, log),
          writer(dm, dialogs, log, context, settings), saver(dm, dialogs, log, settings),
          sender(dm, dialogs, log, context, settings, connection, writer, saver)
    {
        dm.CreateFirebirdObjects();
        dm.OpenDatabase();
        connection.ftp().setConnectTimeout(5000);
        connection.ftp().setResponseTimeout(5000);
        sender.checkPriceActuality = [](bool) { return true; };
    }
};

// An order file as the server holds it is whole: every line section, and
// the last one complete.
bool isWholeOrderFile(const QByteArray &bytes)
{
    return bytes.startsWith("[Header]") && bytes.count("[Record") == kLines && bytes.endsWith("Change = 2");
}

bool dosIniName(const QString &name) { return name.endsWith(QStringLiteral(".ini"), Qt::CaseInsensitive); }

QString finalName(int id) { return QStringLiteral("1234_%1.ini").arg(id); }

} // namespace

class SendExactlyOnce : public ::testing::Test {
protected:
    test::FtpTestServer server{test::FtpTestServer::Options{{{"1234", "pw"}, {"Order", "nulpet"}}}};
    TempAppDir dir;
    std::unique_ptr<Client> client;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        open();
        for (int id = 1; id <= kOrders; ++id) {
            client->dm.ExecSQL(QString("INSERT INTO ORDERS (ID, STATUS, DATET, SUMMA) VALUES (%1, 0, '01.12.2026', 10)").arg(id), false);
            for (int line = 0; line < kLines; ++line)
                client->dm.ExecSQL(QString("INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, QNT, PRICE, SUMMA) "
                                           "VALUES (%1, 'A%2', 'Аспирин %2', 1, %3, 10)")
                                       .arg(id)
                                       .arg(line)
                                       .arg(MaskPriceValue(10, "1234"), 0, 'f', 2),
                                   false);
        }
        client->dm.Commit();
    }
    void TearDown() override
    {
        client.reset();
        QLocale::setDefault(QLocale::c());
    }
    void open() { client = std::make_unique<Client>(dir.path(), server.port()); }
    void close() { client.reset(); }

    // Every order unsent again and the server's folder empty.
    void restart()
    {
        client->dm.ExecSQL("UPDATE ORDERS SET STATUS = 0, SENDFILE = NULL, SENDSIZE = NULL", true);
        QDir home(server.home("Order"));
        for (const QString &f : home.entryList(QDir::Files))
            home.remove(f);
        server.clearCommands();
        server.clearFaults();
        client->dialogs.notices.clear();
        client->dialogs.questions.clear();
        client->log.entries.clear();
    }

    // The statuses as another attachment of the database sees them: only
    // what was committed.
    std::map<int, int> committedStatuses()
    {
        fb::Database db;
        db.attach(client->dm.DatabaseFile());
        fb::Transaction tr(db);
        tr.start();
        fb::Statement st(tr);
        st.prepare("SELECT ID, STATUS FROM ORDERS");
        st.execute();
        std::map<int, int> result;
        while (st.fetch())
            result[st.asInt(0)] = st.asInt(1);
        tr.rollback();
        return result;
    }

    // The orders committed as being put under their name on the server.
    std::map<int, QString> sendMarks()
    {
        fb::Database db;
        db.attach(client->dm.DatabaseFile());
        fb::Transaction tr(db);
        tr.start();
        fb::Statement st(tr);
        st.prepare("SELECT ID, SENDFILE FROM ORDERS WHERE SENDFILE IS NOT NULL");
        st.execute();
        std::map<int, QString> result;
        while (st.fetch())
            result[st.asInt(0)] = st.asText(1).trimmed();
        tr.rollback();
        return result;
    }

    QStringList serverFiles() const { return QDir(server.home("Order")).entryList(QDir::Files, QDir::Name); }
    QByteArray serverFile(const QString &name) const
    {
        QFile f(server.home("Order") + "/" + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // What the supplier's pick-up would take: whole order files, one per order.
    void expectOnServerExactly(const QList<int> &ids)
    {
        QStringList expected;
        for (int id : ids)
            expected << finalName(id);
        QStringList ini = serverFiles().filter(QRegularExpression("\\.ini$", QRegularExpression::CaseInsensitiveOption));
        EXPECT_EQ(ini, expected);
        for (const QString &name : ini)
            EXPECT_TRUE(isWholeOrderFile(serverFile(name))) << name.toStdString();
    }

    bool logged(const QString &part) const
    {
        for (const auto &e : client->log.entries)
            if (e.text.contains(part))
                return true;
        return false;
    }
};

// Each step of a send refused or cut off: the order concerned stays unsent,
// nothing incomplete sits under a name the supplier takes, the person is told,
// and the next send delivers every order once.
TEST_F(SendExactlyOnce, EveryStepOfASendCanFail)
{
    struct Case {
        const char *name;
        Fault fault;
        QList<int> sentDespite; // orders delivered and marked sent by the failing send
        QString logged;         // part of the message that explains the failure
        bool uncertain = false; // the failing send cannot know whether order 1 got its name
    };
    const QList<Case> cases = {
        {"upload refused", {.verb = "STOR", .argMask = "*.tmp", .reply = "452 Insufficient storage space."}, {},
         "Заявка № 1 не отправлена: файл 1234_1.ini не удалось передать на сервер"},
        {"connection lost mid-upload", {.verb = "STOR", .argMask = "*.tmp", .action = Fault::Drop, .bytes = 1000}, {},
         "Заявка № 1 не отправлена: файл 1234_1.ini не удалось передать на сервер"},
        {"rename refused at RNFR", {.verb = "RNFR", .reply = "550 Access denied."}, {},
         "Заявка № 1 не отправлена: сервер не дал переименовать переданный файл 1234_1.ini.tmp в 1234_1.ini"},
        {"rename refused at RNTO", {.verb = "RNTO", .reply = "553 Not allowed."}, {},
         "Заявка № 1 не отправлена: сервер не дал переименовать"},
        {"connection lost at RNTO", {.verb = "RNTO", .action = Fault::Drop}, {},
         "Заявка № 1 не отправлена: не удалось переименовать переданный файл 1234_1.ini.tmp в 1234_1.ini", true},
        {"second order's upload refused", {.verb = "STOR", .argMask = "1234_2.ini.tmp", .reply = "451 Local error."}, {1},
         "Заявка № 2 не отправлена"},
        {"history upload refused", {.verb = "STOR", .argMask = "*.log.tmp", .reply = "452 Insufficient storage space."}, {1},
         "Заявка № 1 отправлена, но журнал отправки 1234.log не удалось передать на сервер"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        server.setFaults({c.fault});
        client->dialogs.setNextAnswer(mrYes); // "Будет отправлено 3 заявок из архива..."
        client->sender.SendOrders(1, 0, QString());
        // The notice says what went; "will be sent next time" only of what did not.
        const QString notice = c.sentDespite.isEmpty() ? kSendFailed
                             : c.fault.argMask.endsWith(".log.tmp")
                                 ? QStringLiteral("Было отправлено 1 заявок  на сумму 300\r\nПри отправке остальных заявок "
                                                  "возникли ошибки: они остались в архиве и будут отправлены при повторном "
                                                  "сеансе связи\r\nЖурнал отправки не удалось передать на сервер, он будет "
                                                  "передан со следующей заявкой")
                                 : QStringLiteral("Было отправлено 1 заявок  на сумму 300\r\nПри отправке остальных заявок "
                                                  "возникли ошибки: они остались в архиве и будут отправлены при повторном "
                                                  "сеансе связи");
        EXPECT_TRUE(client->dialogs.notices.contains(notice)) << client->dialogs.notices.join("|").toStdString();
        EXPECT_EQ(client->dialogs.notices.contains(kSendFailed), c.sentDespite.isEmpty());
        EXPECT_TRUE(logged(c.logged)) << c.logged.toStdString();
        EXPECT_EQ(client->dialogs.waitShown, 0);

        // Marked sent and committed exactly when delivered.
        const std::map<int, int> statuses = committedStatuses();
        for (int id = 1; id <= kOrders; ++id)
            EXPECT_EQ(statuses.at(id), c.sentDespite.contains(id) ? 1 : 0) << id;
        expectOnServerExactly(c.sentDespite);
        // A temporary file that was not completed is removed as far as the server lets us.
        const bool refusedRename = c.fault.action == Fault::Reply && (c.fault.verb == "RNFR" || c.fault.verb == "RNTO");
        for (int id = 1; id <= kOrders; ++id)
            if ((c.fault.action == Fault::Drop && c.fault.verb == "STOR") || refusedRename)
                EXPECT_FALSE(serverFiles().contains(OrderSender::UploadName(finalName(id))));

        server.clearFaults();
        client->dialogs.setNextAnswer(mrYes);
        // Not on the server under its name: sent again only on the pharmacist's word.
        if (c.uncertain)
            client->dialogs.setNextAnswer(mrYes);
        const int rest = kOrders - int(c.sentDespite.size());
        client->sender.SendOrders(1, 0, QString());
        EXPECT_TRUE(client->dialogs.notices.contains(QStringLiteral("Было отправлено %1 заявок  на сумму %2").arg(rest).arg(rest * 300)))
            << client->dialogs.notices.join("|").toStdString();
        for (const auto &[id, status] : committedStatuses())
            EXPECT_EQ(status, 1) << id;
        expectOnServerExactly({1, 2, 3});
        EXPECT_EQ(serverFiles().filter(".tmp"), QStringList());
        // One rename per order, besides the one the server refused.
        for (int id = 1; id <= kOrders; ++id)
            EXPECT_EQ(server.commands().count("RNTO " + finalName(id)), c.fault.verb == "RNTO" && id == 1 ? 2 : 1) << id;
        EXPECT_TRUE(server.commands("STOR").filter(QRegularExpression("\\.ini$")).isEmpty())
            << "an order file went up under its own name";
        EXPECT_EQ(client->dialogs.questions.contains(kMaybeSent.arg(1)), c.uncertain);
        client->dialogs.questions.clear();
    }

    // A missing history on the server is of no concern.
    restart();
    server.setFaults({{.verb = "DELE", .reply = "550 No such file."}});
    client->dialogs.setNextAnswer(mrYes);
    client->sender.SendOrders(1, 0, QString());
    EXPECT_TRUE(client->dialogs.notices.contains(QStringLiteral("Было отправлено 3 заявок  на сумму 900")));
    expectOnServerExactly({1, 2, 3});
    EXPECT_TRUE(serverFiles().contains("1234.log"));
}

// A send cut off between the upload and the marking as sent: the next send
// looks for the file on the server before anything goes up again.
TEST_F(SendExactlyOnce, InterruptedSendIsCheckedOnTheServerFirst)
{
    struct Case {
        const char *name;
        Fault fault;
        QList<int> answers; // to the question about order 1, in the sends after the failing one
    };
    // The server renamed the file and the answer never came: it is there.
    // The connection broke before the rename: it is not, and the pharmacist
    // decides (No keeps it unsent and asks again the next time).
    const QList<Case> cases = {
        {"renamed, answer lost", {.verb = "RNTO", .argMask = "1234_1.ini", .action = Fault::Vanish, .times = 1}, {}},
        {"lost before the rename", {.verb = "RNTO", .argMask = "1234_1.ini", .action = Fault::Drop, .times = 1},
         {mrNo, mrYes}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        server.setFaults({c.fault});
        client->dialogs.setNextAnswer(mrYes); // "Будет отправлено 3 заявок ..."
        client->sender.SendOrders(1, 0, QString());
        ASSERT_TRUE(client->dialogs.notices.contains(kSendFailed));
        client->dialogs.questions.clear();
        EXPECT_EQ(committedStatuses().at(1), 0);
        EXPECT_EQ(sendMarks(), (std::map<int, QString>{{1, finalName(1)}}));
        server.clearFaults();

        if (c.answers.isEmpty()) {
            server.clearCommands();
            client->sender.SendUnsentOrders();
            EXPECT_TRUE(client->dialogs.questions.isEmpty()) << client->dialogs.questions.join("|").toStdString();
            EXPECT_EQ(server.commands().count("STOR " + OrderSender::UploadName(finalName(1))), 0);
            EXPECT_TRUE(client->dialogs.notices.contains("Было отправлено 3 заявок  на сумму 900"));
            EXPECT_TRUE(logged("Заявка № 1 уже на сервере"));
        }
        for (int answer : c.answers) {
            server.clearCommands();
            client->dialogs.questions.clear();
            client->dialogs.notices.clear();
            client->dialogs.setNextAnswer(answer);
            client->sender.SendUnsentOrders();
            EXPECT_EQ(client->dialogs.questions.join("|").toStdString(), kMaybeSent.arg(1).toStdString());
            EXPECT_EQ(server.commands().count("STOR " + OrderSender::UploadName(finalName(1))), answer == mrYes ? 1 : 0)
                << server.commands().join("|").toStdString();
            EXPECT_EQ(committedStatuses().at(1), answer == mrYes ? 1 : 0);
            EXPECT_EQ(sendMarks().size(), answer == mrYes ? 0u : 1u);
            // The others go out whatever the answer about this one.
            EXPECT_EQ(committedStatuses().at(2), 1);
            EXPECT_TRUE(client->dialogs.notices.contains(answer == mrYes ? QStringLiteral("Было отправлено 1 заявок  на сумму 300")
                                                                          : QStringLiteral("Было отправлено 2 заявок  на сумму 600")))
                << client->dialogs.notices.join("|").toStdString();
        }
        for (const auto &[id, status] : committedStatuses())
            EXPECT_EQ(status, 1) << id;
        expectOnServerExactly({1, 2, 3});
        EXPECT_EQ(serverFiles().filter(".tmp"), QStringList());
    }

    // A file of that name with another size is not taken for ours.
    restart();
    client->dm.ExecSQL("UPDATE ORDERS SET SENDFILE = '1234_1.ini', SENDSIZE = 5 WHERE ID = 1", true);
    QFile other(server.home("Order") + "/1234_1.ini");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("1234");
    other.close();
    client->dialogs.setNextAnswer(mrYes);
    client->sender.SendUnsentOrders();
    EXPECT_EQ(client->dialogs.questions, QStringList{kMaybeSent.arg(1)});
    expectOnServerExactly({1, 2, 3});
}

// An interrupted send's file is ours only when the server holds the very
// bytes sent: another file of that name and size (the numbers start again
// after the database is cleared), or a server that answers the size for a
// file it does not have, is not taken for it. The pharmacist is asked, and
// the order goes up under its own name, replacing the other file.
TEST_F(SendExactlyOnce, AFileUnderOurNameIsOursOnlyByItsContent)
{
    for (const bool sizeLies : {false, true}) {
        SCOPED_TRACE(sizeLies ? "SIZE answers for a missing file" : "another file of the same size");
        restart();
        // The connection breaks before the rename: the order is left as being sent.
        server.setFaults({{.verb = "RNTO", .argMask = "1234_1.ini", .action = Fault::Drop, .times = 1}});
        client->dialogs.setNextAnswer(mrYes); // "Будет отправлено 3 заявок ..."
        client->sender.SendOrders(1, 0, QString());
        ASSERT_EQ(sendMarks(), (std::map<int, QString>{{1, finalName(1)}}));
        server.clearFaults();
        ASSERT_FALSE(serverFiles().contains(finalName(1)));
        const QByteArray sent = dir.readBytes("Orders/" + finalName(1));
        if (sizeLies) {
            server.setFaults({{.verb = "SIZE", .argMask = finalName(1), .reply = QStringLiteral("213 %1").arg(sent.size())}});
        } else {
            QByteArray other = sent;
            other[other.indexOf("Count = 1") + 8] = '2'; // another order of the same length
            QFile f(server.home("Order") + "/" + finalName(1));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(other);
        }
        client->dialogs.questions.clear();
        client->dialogs.notices.clear();
        client->dialogs.setNextAnswer(mrYes);
        client->sender.SendUnsentOrders();
        EXPECT_EQ(client->dialogs.questions, QStringList{kMaybeSent.arg(1)});
        EXPECT_FALSE(logged("Заявка № 1 уже на сервере"));
        for (const auto &[id, status] : committedStatuses())
            EXPECT_EQ(status, 1) << id;
        EXPECT_TRUE(sendMarks().empty());
        expectOnServerExactly({1, 2, 3});
        // What the server holds now is the order as sent this time.
        EXPECT_EQ(serverFile(finalName(1)), dir.readBytes("Orders/" + finalName(1)));
        EXPECT_TRUE(client->dialogs.notices.contains("Было отправлено 3 заявок  на сумму 900"))
            << client->dialogs.notices.join("|").toStdString();
        // The check leaves nothing behind in the orders folder.
        EXPECT_EQ(QDir(dir.file("Orders")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).filter(".check"),
                  QStringList());
    }
}

// A database of an earlier version, without the columns of an interrupted
// send, opens with them added and its orders kept.
TEST_F(SendExactlyOnce, OlderDatabaseGetsTheSendColumns)
{
    client->dm.ExecSQL("ALTER TABLE ORDERS DROP SENDFILE", true);
    client->dm.ExecSQL("ALTER TABLE ORDERS DROP SENDSIZE", true);
    close();
    open();
    EXPECT_EQ(committedStatuses().size(), size_t(kOrders));
    client->dialogs.setNextAnswer(mrYes);
    client->sender.SendOrders(1, 0, QString());
    EXPECT_TRUE(client->dialogs.notices.contains("Было отправлено 3 заявок  на сумму 900"));
    expectOnServerExactly({1, 2, 3});
}

// The history on the server is replaced only by a whole new one: a server
// that does not rename over a file gets the old one moved aside first, and a
// server that refuses the new name keeps the old history.
TEST_F(SendExactlyOnce, HistoryIsReplacedOrKept)
{
    struct Case {
        const char *name;
        Fault fault;
        bool replaced;
    };
    const QList<Case> cases = {
        {"no rename over a file",
         {.verb = "RNTO", .argMask = "1234.log", .reply = "550 Cannot create a file when that file already exists.",
          .onlyIfExists = true},
         true},
        // Refused at first, and again once the old one has stepped aside;
        // the old one then gets its name back.
        {"new name refused", {.verb = "RNTO", .argMask = "1234.log", .reply = "553 Not allowed.", .times = 2}, false},
        // Every rename onto the name refused, also the way back: the new
        // history is stored under its name directly, never left without it.
        {"every rename onto the name refused", {.verb = "RNTO", .argMask = "1234.log", .reply = "553 Not allowed."}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        QFile old(server.home("Order") + "/1234.log");
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("yesterday");
        old.close();
        server.setFaults({c.fault});
        client->dialogs.setNextAnswer(mrYes);
        client->sender.SendOrders(1, 0, QString());
        const QByteArray history = serverFile("1234.log");
        if (c.replaced) {
            EXPECT_EQ(history, dir.readBytes("history.log"));
            EXPECT_TRUE(client->dialogs.notices.contains("Было отправлено 3 заявок  на сумму 900"));
        } else {
            EXPECT_EQ(history, "yesterday");
            EXPECT_TRUE(logged("Заявка № 1 отправлена, но журнал отправки 1234.log не удалось передать на сервер"));
            EXPECT_EQ(committedStatuses().at(1), 1);
        }
        EXPECT_EQ(serverFiles().filter(".tmp"), QStringList());
        EXPECT_EQ(serverFiles().filter(".old"), QStringList());
    }
}

// An upload the server stopped taking is given up after the stall time, and
// its remnant is not chased over a new connection to the same silent server.
TEST_F(SendExactlyOnce, StalledUploadIsNotFollowedBySecondWait)
{
    client->connection.ftp().setStallTimeout(1000);
    server.setFaults({{.verb = "STOR", .argMask = "*.tmp", .action = Fault::Stall, .bytes = 1000, .seconds = 6}});
    client->dialogs.setNextAnswer(mrYes);
    QElapsedTimer timer;
    timer.start();
    client->sender.SendOrders(1, 0, QString());
    EXPECT_LT(timer.elapsed(), 4000);
    EXPECT_TRUE(client->dialogs.notices.contains(kSendFailed));
    EXPECT_EQ(server.commands("USER").size(), 1);
    EXPECT_EQ(committedStatuses().at(1), 0);
}

// The sending process of another copy, started by the test below: the
// program folder and the server's port come in the environment.
TEST(SendChild, DISABLED_SendUnsentOrders)
{
    const QString dir = qEnvironmentVariable("PC_SEND_CHILD_DIR");
    const int port = qEnvironmentVariableIntValue("PC_SEND_CHILD_PORT");
    if (dir.isEmpty() || port <= 0)
        GTEST_SKIP() << "started by KilledWhileSendingNeverSendsTwice only";
    Client client(dir, port);
    client.sender.SendUnsentOrders();
}

// A sending process killed at every step of its conversation with the server:
// what it marked sent is on the server whole, and the next send delivers the
// rest, so that every order arrives exactly once. An order the killed process
// was putting under its name is looked for on the server first: there, it is
// marked sent without going up again; not there, the pharmacist is asked.
TEST_F(SendExactlyOnce, KilledWhileSendingNeverSendsTwice)
{
    const QByteArray exe = QFile::encodeName(QFileInfo("/proc/self/exe").symLinkTarget());
    const QByteArray dirEnv = "PC_SEND_CHILD_DIR=" + QFile::encodeName(dir.path());
    const QByteArray portEnv = "PC_SEND_CHILD_PORT=" + QByteArray::number(server.port());

    // Starts the sending copy; with killAfter > 0 kills it once the server has
    // received that many commands (and `extraMs` more). Returns the commands.
    auto runChild = [&](int killAfter, int extraMs) {
        close(); // one process at a time on the database file
        std::vector<QByteArray> env{dirEnv, portEnv};
        for (char **e = environ; *e; ++e)
            env.emplace_back(*e);
        std::vector<char *> envp;
        for (QByteArray &e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        QByteArray a0 = exe, a1 = "--gtest_filter=SendChild.DISABLED_SendUnsentOrders",
                   a2 = "--gtest_also_run_disabled_tests";
        char *argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, exe.constData(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        int status = 0;
        QDeadlineTimer deadline(20000);
        bool ended = false;
        while (!deadline.hasExpired()) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                ended = true;
                break;
            }
            if (killAfter > 0 && server.commands().size() >= killAfter) {
                if (extraMs > 0)
                    QThread::usleep(extraMs * 1000);
                break;
            }
            QThread::usleep(500);
        }
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        open();
        return server.commands();
    };

    // One undisturbed run: how many commands a send of every order takes.
    // The server takes 10 ms over every command, so that a kill lands where
    // it is meant to: while the sender waits for the reply to command k, or
    // (with 12 ms more) just after the reply came.
    QList<Fault> slow;
    for (const char *verb : {"USER", "PASS", "PWD", "PASV", "PORT", "TYPE", "STOR", "RNFR", "RNTO", "DELE"})
        slow << Fault{.verb = verb, .action = Fault::Stall, .seconds = 0.01};
    server.setFaults(slow);
    const QStringList undisturbed = runChild(0, 0);
    const int total = int(undisturbed.size());
    for (const auto &[id, status] : committedStatuses())
        EXPECT_EQ(status, 1) << id;
    expectOnServerExactly({1, 2, 3});
    // Every order goes through the same steps: the login, every step of the
    // first order and the passage to the second are the moments that differ.
    const int last = int(undisturbed.indexOf("RNTO " + finalName(2))) + 2;
    ASSERT_GT(last, 10);

    for (int k = 1; k <= last; ++k) {
        SCOPED_TRACE(QString("killed after command %1 of %2").arg(k).arg(total).toStdString());
        restart();
        server.setFaults(slow);
        const QStringList killedRun = runChild(k, (k % 2) * 12);
        server.clearFaults();
        const std::map<int, int> afterKill = committedStatuses();
        // Marked sent only once delivered whole.
        for (const auto &[id, status] : afterKill)
            if (status == 1)
                EXPECT_TRUE(isWholeOrderFile(serverFile(finalName(id)))) << id;
        // Nothing incomplete under a name the supplier takes.
        for (const QString &name : serverFiles())
            if (dosIniName(name))
                EXPECT_TRUE(isWholeOrderFile(serverFile(name))) << name.toStdString();

        // The orders the killed process left half-way through their rename.
        QList<int> askedFor;
        for (const auto &[id, file] : sendMarks())
            if (!serverFiles().contains(file))
                askedFor << id;
        for (int i = 0; i < askedFor.size(); ++i)
            client->dialogs.setNextAnswer(mrYes);

        server.clearCommands();
        client->dialogs.questions.clear();
        client->sender.SendUnsentOrders();
        const QStringList nextRun = server.commands();
        QStringList expectedQuestions;
        for (int id : askedFor)
            expectedQuestions << kMaybeSent.arg(id);
        EXPECT_EQ(client->dialogs.questions, expectedQuestions);
        EXPECT_TRUE(sendMarks().empty());
        for (const auto &[id, status] : committedStatuses())
            EXPECT_EQ(status, 1) << id;
        expectOnServerExactly({1, 2, 3});
        EXPECT_EQ(serverFiles().filter(".tmp"), QStringList());
        for (int id = 1; id <= kOrders; ++id) {
            const QString rnto = "RNTO " + finalName(id);
            const int renames = int(killedRun.count(rnto) + nextRun.count(rnto));
            EXPECT_EQ(renames, 1) << id;
            if (afterKill.at(id) == 1)
                EXPECT_EQ(nextRun.count(rnto), 0) << id;
        }
        if (HasFailure())
            break;
    }
}
