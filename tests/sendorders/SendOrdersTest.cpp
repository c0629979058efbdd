#include "FtpTestServer.h"
#include "OtherConnection.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "core/PriceMask.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "exchange/ServerConnection.h"
#include "orders/OrderFile.h"
#include "orders/SaveOrder.h"
#include "orders/SendOrders.h"
#include "platform/AppError.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <gtest/gtest.h>

#include <cerrno>

using namespace pc;

namespace {

struct SendFixture : ::testing::Test {
    test::FtpTestServer server{test::FtpTestServer::Options{{{"1234", "pw"}, {"Order", "nulpet"}}}};
    TempAppDir dir;
    AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    Settings settings;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<ServerConnection> connection;
    std::unique_ptr<OrderFileWriter> writer;
    std::unique_ptr<OrderSaver> saver;
    std::unique_ptr<OrderSender> sender;
    int fetched = 0;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        settings.ClientCode = "1234";
        settings.ClientName = "Аптека";
        settings.ServerAddresses = QStringList{"127.0.0.1"};
        settings.ServerPort = server.port();
        settings.OrderAccount = {"Order", "nulpet"};
        settings.ClientAccount = {"1234", "pw"};
        settings.DeliveryAddresses = {{"--ОСНОВНОГО АДРЕСА--", "1234", 0}};
        dm = std::make_unique<TDM>(context, dialogs, log);
        dm->CreateFirebirdObjects();
        dm->OpenDatabase();
        dialogs.notices.clear();
        connection = std::make_unique<ServerConnection>(settings, dialogs, log);
        writer = std::make_unique<OrderFileWriter>(*dm, dialogs, log, context, settings);
        saver = std::make_unique<OrderSaver>(*dm, dialogs, log, settings);
        sender = std::make_unique<OrderSender>(*dm, dialogs, log, context, settings, *connection, *writer, *saver);
        sender->checkPriceActuality = [](bool) { return true; };
        sender->fetchDocuments = [this] { ++fetched; };
    }
    void TearDown() override
    {
        sender.reset();
        saver.reset();
        writer.reset();
        connection.reset();
        dm.reset();
        QLocale::setDefault(QLocale::c());
        EXPECT_FALSE(dialogs.answersLeft());
    }
    void archivedOrder(int id, int status)
    {
        dm->ExecSQL(QString("INSERT INTO ORDERS (ID, STATUS, DATET, SUMMA) VALUES (%1, %2, '01.12.2026', 10)").arg(id).arg(status), false);
        dm->ExecSQL(QString("INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, QNT, PRICE, SUMMA) VALUES (%1, 'A', 'Аспирин', 1, %2, 10)")
                        .arg(id)
                        .arg(MaskPriceValue(10, settings.ClientCode), 0, 'f', 2),
                    true);
    }
    // The status as another connection sees it: what is committed.
    int status(int id)
    {
        return int(test::committedScalar(dir.file("Data/client.gdb"), QString("SELECT STATUS FROM ORDERS WHERE ID = %1").arg(id)));
    }
    QStringList uploaded() { return QDir(server.home("Order")).entryList(QDir::Files, QDir::Name); }
};

} // namespace

TEST_F(SendFixture, UnsentArchiveOrdersAndTheCurrentOneGoUpEachWithTheHistory)
{
    archivedOrder(1, 0);
    archivedOrder(2, 0);
    archivedOrder(3, 0);
    archivedOrder(4, 2); // cancelled: never sent
    dm->ExecSQL(QString("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('B', 'Бинт', '01.01.2027', %1, 2, 10)")
                    .arg(MaskPriceValue(5, settings.ClientCode), 0, 'f', 2),
                true);
    dm->OpenPrice(false);
    dm->OpenPrice(true);
    dialogs.setNextAnswer(mrYes); // "Будет отправлено 3 заявок из архива..."
    sender->SendOrders(1, 0, "к обеду");
    ASSERT_EQ(dialogs.questions.size(), 1) << dialogs.questions.join("|").toStdString();
    EXPECT_TRUE(dialogs.questions.front().startsWith("Будет отправлено 3 заявок из архива.\r\nСамая старая из них от 01.12.2026"));
    EXPECT_TRUE(dialogs.notices.filter("Было отправлено 4 заявок  на сумму").size() == 1) << dialogs.notices.join("|").toStdString();
    const QStringList files = uploaded();
    EXPECT_EQ(files.filter(".ini").size(), 4);
    EXPECT_TRUE(files.contains("1234.log"));
    EXPECT_EQ(server.commands("STOR").size(), 8); // each order followed by the history
    // What went up is the order files and the history, byte for byte.
    auto serverBytes = [this](const QString &name) {
        QFile f(server.home("Order") + "/" + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    };
    for (const QString &name : files.filter(".ini"))
        EXPECT_EQ(serverBytes(name), dir.readBytes("Orders/" + name)) << name.toStdString();
    EXPECT_EQ(serverBytes("1234.log"), dir.readBytes("history.log"));
    for (int id : {1, 2, 3})
        EXPECT_EQ(status(id), 1);
    EXPECT_EQ(status(4), 2);
    EXPECT_EQ(server.commands("USER").size(), 1);
    EXPECT_EQ(connection->login(), settings.ClientAccount);
    EXPECT_EQ(fetched, 1);
    // A second send has nothing left.
    sender->SendOrders(1, 0, QString());
    EXPECT_TRUE(dialogs.notices.contains("Было отправлено 0 заявок  на сумму 0"));
}

// The history goes up under a passing name and replaces the server's one
// only when whole: a transfer that breaks off leaves the previous history and
// no remnant, and the order itself stays sent.
TEST_F(SendFixture, BrokenHistoryUploadLeavesThePreviousHistory)
{
    const QString onServer = server.home("Order") + "/1234.log";
    {
        QFile f(onServer);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[previous]\r\n");
    }
    archivedOrder(1, 0);
    server.setFaults({{.verb = "STOR", .argMask = "*.log.tmp", .action = test::FtpTestServer::Fault::Drop, .bytes = 5}});
    dialogs.setNextAnswer(mrYes); // "Будет отправлено 1 заявок из архива..."
    sender->SendOrders(1, 0, QString());
    // The order went: the notice says so, and that the history did not.
    EXPECT_EQ(dialogs.notices, QStringList({"Было отправлено 1 заявок  на сумму 10\r\nЖурнал отправки не удалось передать на "
                                            "сервер, он будет передан со следующей заявкой"}));
    QFile f(onServer);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("[previous]\r\n"));
    EXPECT_EQ(uploaded(), QStringList({"1234.log", "1234_1.ini"}));
    dm->Rollback(); // only what was committed remains
    EXPECT_EQ(status(1), 1);

    // The next order's send replaces it with the whole history.
    server.clearFaults();
    archivedOrder(2, 0);
    dialogs.setNextAnswer(mrYes);
    sender->SendOrders(1, 0, QString());
    EXPECT_EQ(dir.readBytes("history.log"), [&] {
        QFile g(onServer);
        return g.open(QIODevice::ReadOnly) ? g.readAll() : QByteArray();
    }());
    EXPECT_TRUE(uploaded().filter(".tmp").isEmpty()) << uploaded().join('|').toStdString();
}

// The orders went and the documents fetched after them could not be: the
// notices say exactly that, never that the orders will go next time.
TEST_F(SendFixture, DocumentsThatCannotBeFetchedAfterTheSendAreToldAsSuch)
{
    archivedOrder(1, 0);
    archivedOrder(2, 0);
    archivedOrder(3, 0);
    sender->fetchDocuments = [this] {
        server.stop();
        throw AppError("Сервер не отвечает");
    };
    dialogs.setNextAnswer(mrYes); // "Будет отправлено 3 заявок из архива..."
    sender->SendOrders(1, 0, QString());
    EXPECT_EQ(dialogs.notices, QStringList({"Было отправлено 3 заявок  на сумму 30",
                                            "Заявки отправлены, но дефектуры и накладные получить не удалось. Подробности "
                                            "в окне сообщений"}));
    EXPECT_TRUE(log.contains("Сервер не отвечает (получение дефектур и накладных после отправки заявок)", Error));
    for (int id : {1, 2, 3})
        EXPECT_EQ(status(id), 1);
}

TEST_F(SendFixture, AddressMustBeChosenWhenThereAreSeveral)
{
    int dropped = 0;
    sender->dropDownAddresses = [&] { ++dropped; };
    archivedOrder(1, 0);
    sender->SendOrders(2, 0, QString());
    EXPECT_EQ(dialogs.notices, QStringList({"Выберите адрес доставки (поле 'Заявка от')!"}));
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(status(1), 0);
    EXPECT_TRUE(uploaded().isEmpty());
}

TEST_F(SendFixture, FailedUploadKeepsTheRestUnsentAndSaysSo)
{
    archivedOrder(1, 0);
    archivedOrder(2, 0);
    server.stop();
    dialogs.setNextAnswer(mrYes);
    sender->SendOrders(1, 0, QString());
    EXPECT_TRUE(dialogs.notices.contains("Не удалось соединиться с сервером. Попробуйте позднее"));
    EXPECT_EQ(status(1), 0);
    EXPECT_EQ(status(2), 0);
}

// An order is marked sent only once its own file is on the server, and the
// mark is kept at once: the second upload fails, the first order stays sent,
// the second and third stay unsent.
TEST_F(SendFixture, EachOrderIsMarkedSentOnlyAfterItsOwnUpload)
{
    archivedOrder(1, 0);
    archivedOrder(2, 0);
    archivedOrder(3, 0);
    int uploads = 0;
    sender->showProgressPanel = [&](bool visible) {
        if (visible && ++uploads == 2)
            server.stop(); // the server goes away before the second file
    };
    dialogs.setNextAnswer(mrYes); // "Будет отправлено 3 заявок из архива..."
    try {
        sender->SendOrders(1, 0, QString());
    } catch (const std::exception &) {
        // the failed upload passes on to the application's handler
    }
    EXPECT_TRUE(dialogs.notices.contains("Было отправлено 1 заявок  на сумму 10\r\nПри отправке остальных заявок возникли "
                                         "ошибки: они остались в архиве и будут отправлены при повторном сеансе связи"))
        << dialogs.notices.join("|").toStdString();
    dm->Rollback(); // only what was committed remains
    EXPECT_EQ(status(1), 1);
    EXPECT_EQ(status(2), 0);
    EXPECT_EQ(status(3), 0);
}

// A full disk while the order files or the history are written: nothing goes
// to the server, no order is marked sent, the log says the disk is full, and
// no file is left half written. With room again the same orders go out.
TEST_F(SendFixture, AnOrderFileNotWrittenWholeIsNeitherSentNorMarked)
{
    archivedOrder(1, 0);
    archivedOrder(2, 0);
    dir.writeBytes("history.log", "[earlier]\r\nSumZakaz=1\r\n");
    const char *full[] = {"_2.ini", "history.log"}; // the second order's file, then the history
    for (const char *suffix : full) {
        pc::setFileFaultHook([suffix](FileStep step, const QString &target, qint64) {
            return step == FileStep::Write && target.endsWith(QLatin1String(suffix)) ? ENOSPC : 0;
        });
        dialogs.notices.clear();
        dialogs.setNextAnswer(mrYes); // "Будет отправлено 2 заявок из архива..."
        sender->SendOrders(1, 0, QString());
        pc::setFileFaultHook({});
        EXPECT_TRUE(dialogs.notices.contains("При отправке заявки возникли ошибки.\r\nЗаявка была перемещена в архив и "
                                             "будет отправлена при повторном сеансе связи"))
            << dialogs.notices.join("|").toStdString();
        EXPECT_TRUE(log.contains("на диске нет места", Error)) << suffix;
        EXPECT_TRUE(server.commands("STOR").isEmpty()) << suffix;
        dm->Rollback();
        EXPECT_EQ(status(1), 0);
        EXPECT_EQ(status(2), 0);
        EXPECT_FALSE(dir.exists("Orders/1234_2.ini"));
        EXPECT_EQ(QDir(dir.file("Orders")).entryList(QDir::Files | QDir::Hidden).filter(".~"), QStringList());
        EXPECT_TRUE(dir.readText("history.log").startsWith("[earlier]")) << suffix;
    }
    dialogs.setNextAnswer(mrYes);
    sender->SendOrders(1, 0, QString());
    EXPECT_EQ(status(1), 1);
    EXPECT_EQ(status(2), 1);
    EXPECT_EQ(uploaded().filter(".ini").size(), 2);
}
