// Price update against the real test FTP server and the real unzip: download
// with the .zip fall-back, unpacking, the load in one transaction with the
// order carried over and cut to the stock, and what is left as it was when a
// step fails.
#include "DbfWriter.h"
#include "FtpTestServer.h"
#include "OtherConnection.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "core/LogText.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/firebird/Statement.h"
#include "exchange/ServerConnection.h"
#include "platform/CodePage.h"
#include "platform/IniFile.h"
#include "platform/Process.h"
#include "price/PriceUpdate.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>
#include <atomic>
#include <iostream>
#include <map>
#include <limits>

using namespace pc;
using pc::test::DbfWriter;
using pc::test::FtpTestServer;
using Fault = FtpTestServer::Fault;

namespace {

const QString kCode = QStringLiteral("1234");
const QString kPriceError = QStringLiteral("Ошибка при получении прайса. Подробности в окне сообщений");
const QString kUpdated = QStringLiteral("Прайс удачно обновлен!");
const QString kStale = QStringLiteral("После обновления получен устаревший прайс! Обратитесь к поставщику");

constexpr int kBlank = std::numeric_limits<int>::min();

struct Row {
    QString id;
    QString name;
    double price = 10;
    int qnt = 100;
    QDate goden = QDate(2027, 1, 1);
    int zakaz = 0; // in a supplier's file: kBlank leaves the field blank
};

// A price DBF as the supplier sends it (texts in code page 866).
void writePriceDbf(const QString &path, const std::vector<Row> &rows, int nameLength = 100)
{
    DbfWriter w(0x03);
    w.addField("IDTOVAR", 'C', 20).addField("TOVAR", 'C', nameLength).addField("PRICE", 'N', 12, 2);
    w.addField("PRODUCT", 'C', 50).addField("COUNTRY", 'C', 40).addField("PRICER", 'N', 12, 2);
    w.addField("GODEN", 'D', 8).addField("QNT", 'N', 10).addField("QNTPACK", 'N', 10).addField("NDS", 'N', 3);
    w.addField("MINZAKAZ", 'N', 10).addField("MINPROD", 'N', 10).addField("COLOR", 'N', 10);
    w.addField("HASDET", 'N', 1).addField("HASPOPUP", 'N', 1).addField("GV", 'N', 1).addField("ZAKAZ", 'N', 10);
    w.addField("REGUDEXIST", 'C', 20);
    for (const Row &r : rows)
        w.addRecord({r.id, r.name, r.price, QStringLiteral("Завод"), QStringLiteral("Россия"), 0.0, r.goden, r.qnt, 1, 10,
                     0, 0, 0, 0, 0, 0, r.zakaz == kBlank ? QVariant() : QVariant(r.zakaz), QString()});
    w.save(path);
}

void setModified(const QString &path, const QDateTime &when)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
}

void writeScript(const QString &path, const QString &body)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(("#!/bin/sh\n" + body + "\n").toUtf8());
    f.close();
    f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser);
}

struct PriceUpdateFixture : ::testing::Test {
    FtpTestServer server;
    TempAppDir dir;
    AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    Settings settings;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<ServerConnection> connection;
    std::unique_ptr<PriceUpdate> update;
    QTemporaryDir staging;
    QStringList calls;
    QStringList errors;
    QString titleSuffix = QStringLiteral("<unset>");

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        settings.ClientCode = kCode;
        settings.ClientName = QStringLiteral("Аптека №1");
        settings.PriceArchiveName = kCode + QStringLiteral(".arc");
        settings.ClientAccount = {kCode, QStringLiteral("secret")};
        settings.OrderAccount = {QStringLiteral("Order"), QStringLiteral("orderpass")};
        settings.ServerAddresses = {QStringLiteral("127.0.0.1"), QString(), QString(), QString(), QString(),
                                    QString(),                  QString(), QString(), QString(), QString()};
        settings.ServerPort = server.port();
        settings.PriceDate = QStringLiteral("01.01.1999");

        dm = std::make_unique<TDM>(context, dialogs, log);
        dm->CreateFirebirdObjects();
        dm->OpenDatabase();
        dialogs.notices.clear();
        connection = std::make_unique<ServerConnection>(settings, dialogs, log);
        connection->ftp().setConnectTimeout(3000);
        connection->ftp().setResponseTimeout(10000);
        update = std::make_unique<PriceUpdate>(*dm, *connection, settings, dialogs, log, context);
        update->FetchDocuments = [this] { calls << "FetchDocuments"; };
        update->CheckProgramUpdate = [this] { calls << "CheckProgramUpdate"; };
        update->SetShowOnlyOrder = [this](bool on) { calls << QStringLiteral("SetShowOnlyOrder(%1)").arg(on); };
        update->SetTitleSuffix = [this](const QString &s) { titleSuffix = s; };
        update->AppException = [this](const QString &m) { errors << m; };
        update->ReceiveProgress = [this](int) { calls << "progress"; };
    }
    void TearDown() override
    {
        update.reset();
        connection.reset();
        dm.reset();
        QLocale::setDefault(QLocale::c());
        EXPECT_FALSE(dialogs.answersLeft());
    }

    void addRows(const std::vector<Row> &rows)
    {
        std::unique_ptr<fb::Statement> q(dm->PrepareQuery(
            "INSERT INTO PRICE (IDTOVAR, TOVAR, PRICE, GODEN, QNT, ZAKAZ) VALUES (:ID, :NAME, :PRICE, :GODEN, :QNT, :ZAKAZ)",
            true));
        for (const Row &r : rows) {
            q->setValue("ID", r.id);
            q->setValue("NAME", r.name);
            q->setValue("PRICE", r.price);
            q->setValue("GODEN", r.goden);
            q->setValue("QNT", r.qnt);
            q->setValue("ZAKAZ", r.zakaz);
            q->execute();
        }
        dm->Commit();
        dm->OpenPrice(false);
        dm->OpenPrice(true);
    }
    // "code|expiry" -> (quantity, ordered) of every row of a table.
    std::map<QString, std::pair<int, int>> rows(const QString &table = QStringLiteral("PRICE"))
    {
        std::map<QString, std::pair<int, int>> result;
        std::unique_ptr<Dataset> q(dm->OpenQuery("SELECT IDTOVAR, GODEN, QNT, ZAKAZ FROM " + table, true));
        for (int i = 0; i < q->RecordCount(); ++i) {
            Dataset::ActiveRow row(*q, i);
            result[q->Fields(0).AsString() + "|" + q->Fields(1).AsDate().toString(Qt::ISODate)] = {
                q->Fields(2).AsInteger(), q->Fields(3).AsInteger()};
        }
        return result;
    }
    // A zip archive on the server holding the files of `files` (relative to staging).
    void putZip(const QString &remoteName, const QStringList &files)
    {
        const QString zip = staging.filePath("archive.zip");
        QFile::remove(zip);
        const RunResult r = runAndWait("/usr/bin/zip", QStringList{"-q", zip} + files, staging.path(), 15000);
        ASSERT_EQ(r.status, RunResult::Finished);
        ASSERT_EQ(r.exitCode, 0);
        ASSERT_TRUE(QFile::copy(zip, server.home(kCode) + "/" + remoteName));
    }
    bool noticeShown(const QString &text) const { return dialogs.notices.contains(text); }
    bool leftoversInData() const
    {
        return !QDir(dir.file("Data")).entryList({"unpack-*"}, QDir::Dirs | QDir::Hidden).isEmpty();
    }
    // The current price list and order, which a failed update must not touch.
    void addCurrentPrice()
    {
        addRows({{"1", "Аспирин", 10, 50, QDate(2027, 1, 1), 7}, {"2", "Бинт", 20, 5, QDate(2027, 1, 1), 0},
                 {"3", "Вата", 30, 9, QDate(2027, 1, 1), 2}});
    }
    void expectCurrentPriceKept()
    {
        const auto now = rows();
        ASSERT_EQ(now.size(), 3u);
        EXPECT_EQ(now.at("1|2027-01-01"), std::make_pair(50, 7));
        EXPECT_EQ(now.at("2|2027-01-01"), std::make_pair(5, 0));
        EXPECT_EQ(now.at("3|2027-01-01"), std::make_pair(9, 2));
        EXPECT_EQ(settings.PriceDate, QStringLiteral("01.01.1999"));
        EXPECT_FALSE(dir.exists("Data/pricein.dbf"));
        EXPECT_TRUE(dm->PriceSet()->Active());
        EXPECT_EQ(dm->PriceSet()->RecordCount(), 3);
        EXPECT_FALSE(leftoversInData());
        EXPECT_FALSE(dir.exists(kCode + ".dbf"));
    }
};

} // namespace

// The .arc is missing, the .zip is there: the order is carried over batch by
// batch, cut to the new stock, reported; the archive's other files are placed
// and a file in a subfolder of the archive is left out.
TEST_F(PriceUpdateFixture, FullUpdateFromTheZipCarriesTheOrderOverAndCutsItToTheStock)
{
    addRows({{"A", "Аспирин", 10, 50, QDate(2027, 1, 1), 30},
             {"B", "Бинт", 20, 100, QDate(2027, 1, 1), 2},
             {"B", "Бинт", 20, 100, QDate(2027, 6, 1), 3},
             {"C'1", "Вата", 5, 10, QDate(2027, 1, 1), 4},
             {"GONE", "Гель", 5, 10, QDate(2027, 1, 1), 6},
             {"D", "Йод", 5, 10, QDate(2027, 1, 1), 0}});
    const QDateTime fileTime(QDate::currentDate(), QTime(8, 15, 30));
    writePriceDbf(staging.filePath(kCode + ".dbf"),
                  {{"A", "Аспирин", 10, 12, QDate(2027, 1, 1)},
                   {"B", "Бинт", 20, 100, QDate(2027, 6, 1)},
                   {"B", "Бинт", 20, 100, QDate(2028, 1, 1)},
                   {"C'1", "Вата", 7, 10, QDate(2027, 1, 1)},
                   {"D", "Йод", 5, 10, QDate(2027, 1, 1)},
                   {"E", "Новинка", 5, 10, QDate(2027, 1, 1)}});
    setModified(staging.filePath(kCode + ".dbf"), fileTime);
    writePriceDbf(staging.filePath("defect.dbf"), {});
    QDir(staging.path()).mkpath("sub");
    writePriceDbf(staging.filePath("sub/evil.dbf"), {});
    const auto stage = [&](const QString &name, const QByteArray &bytes) {
        QFile f(staging.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    stage("update", "new program");
    // The banner and news strip the supplier sends, and what nobody uses.
    stage("banner.ini", "[Header]\r\nHomeBanner=promo.txt\r\n");
    stage("promo.txt", "banner");
    stage("top.htm", "<b>news</b>");
    stage("logo.png", "png");
    stage("readme.txt", "junk");
    QStringList archived{kCode + ".dbf", "defect.dbf", "update", "sub/evil.dbf", "banner.ini", "promo.txt",
                         "top.htm", "logo.png", "readme.txt"};
    for (int i = 0; i < 30; ++i) {
        const QString junk = QString::asprintf("junk%02d.bin", i);
        stage(junk, "x");
        archived << junk;
    }
    putZip(kCode + ".zip", archived);

    settings.AskSendLog = true;
    dialogs.setNextAnswer(mrYes); // check documents
    dialogs.setNextAnswer(mrYes); // send the information file
    EXPECT_TRUE(update->UpdatePrice());

    // The .arc is asked for first (libcurl learns it is missing from SIZE).
    const QString sent = server.commands().join(" / ");
    EXPECT_TRUE(sent.indexOf("SIZE 1234.arc") >= 0 && sent.indexOf("SIZE 1234.arc") < sent.indexOf("RETR 1234.zip"))
        << sent.toStdString();
    EXPECT_EQ(server.commands("RETR"), QStringList({"RETR 1234.zip"}));
    EXPECT_TRUE(log.details.contains("Загрузка прайс-листа zip"));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    const auto now = rows();
    ASSERT_EQ(now.size(), 6u);
    EXPECT_EQ(now.at("A|2027-01-01").second, 12);   // 30 cut to the stock of 12
    EXPECT_EQ(now.at("B|2027-06-01").second, 3);    // the same batch
    EXPECT_EQ(now.at("B|2028-01-01").second, 2);    // its batch is gone: the latest one takes it
    EXPECT_EQ(now.at("C'1|2027-01-01").second, 4);  // a code with an apostrophe
    EXPECT_EQ(now.at("D|2027-01-01").second, 0);
    EXPECT_EQ(now.at("E|2027-01-01").second, 0);
    EXPECT_EQ(rows("PRICEOLD").size(), 5u);         // the ordered rows of the old list, GONE among them
    EXPECT_EQ(rows("PRICEOLD").at("GONE|2027-01-01").second, 6);
    EXPECT_EQ(dm->PriceSet()->RecordCount(), 6);
    EXPECT_EQ(dm->NameIndex().size(), 6);

    ASSERT_EQ(dialogs.notices.size(), 2) << dialogs.notices.join('\n').toStdString();
    EXPECT_EQ(dialogs.notices[0], kUpdated);
    EXPECT_EQ(dialogs.notices[1], "После получения актуальных остатков есть : \n\r * отказы по количествам \n\r"
                                  " * изменения в ценах \n\r   Пожалуйста, ознакомьтесь с изменениями  ");
    EXPECT_TRUE(calls.contains("SetShowOnlyOrder(1)"));
    EXPECT_TRUE(calls.contains("FetchDocuments"));
    EXPECT_TRUE(calls.contains("CheckProgramUpdate"));
    EXPECT_TRUE(calls.contains("progress"));
    EXPECT_EQ(titleSuffix, QString());

    // The price date is the file's time stamp, kept by Data/pricein.dbf and client.ini.
    EXPECT_EQ(settings.PriceDate, fileTime.date().toString("dd.MM.yyyy") + " 08:15:30");
    EXPECT_EQ(QFileInfo(dir.file("Data/pricein.dbf")).lastModified(), fileTime);
    EXPECT_EQ(IniFile(dir.file("client.ini")).readString("Header", "PriceTime"), settings.PriceDate);
    EXPECT_EQ(IniFile(dir.file("client.ini")).readString("Settings", "ServerAddress"), "127.0.0.1");

    // log.ini, here and on the server.
    for (const QString &ini : QStringList{dir.file("log.ini"), server.home(kCode) + "/log.ini"}) {
        IniFile f(ini);
        EXPECT_EQ(f.readString("Header", "VersionProgram"), "2.4.024") << ini.toStdString();
        EXPECT_EQ(f.readString("Header", "ClientName"), "Аптека №1");
        EXPECT_TRUE(f.readString("Header", "DatePrice").startsWith(QDate::currentDate().toString("dd.MM.yyyy ")));
    }

    // The archive's other files: *.dbf into Data, the rest beside the program;
    // nothing from a subfolder, nothing of the work left behind.
    EXPECT_TRUE(dir.exists("Data/defect.dbf"));
    EXPECT_EQ(dir.readBytes("update"), QByteArray("new program"));
    EXPECT_FALSE(dir.exists("Data/evil.dbf"));
    EXPECT_FALSE(dir.exists("sub"));
    for (const char *placed : {"banner.ini", "promo.txt", "top.htm", "logo.png"})
        EXPECT_TRUE(dir.exists(placed)) << placed;
    EXPECT_FALSE(dir.exists("readme.txt"));
    EXPECT_FALSE(dir.exists("junk00.bin"));
    // One line for all that was left out, not one per file.
    EXPECT_TRUE(log.contains("Файлы архива прайса, которые программе не нужны, не распакованы: 32 (\"junk00.bin\"", Warning));
    EXPECT_FALSE(dir.exists(kCode + ".dbf"));
    EXPECT_FALSE(dir.exists("price.zip"));
    EXPECT_FALSE(leftoversInData());
}

// The .arc archive goes to unarc from the program folder with its command
// line; the information file is not sent when declined, and then the
// documents are not fetched either; a list dated yesterday is reported stale.
TEST_F(PriceUpdateFixture, ArcArchiveThroughUnarcWithoutInformationFileAndStaleList)
{
    addRows({{"A", "Аспирин", 10, 50, QDate(2027, 1, 1), 5}});
    const QString prepared = staging.filePath("prepared.dbf");
    writePriceDbf(prepared, {{"A", "Аспирин", 10, 50, QDate(2027, 1, 1)}});
    const QDateTime yesterday(QDate::currentDate().addDays(-1), QTime(23, 59, 0));
    setModified(prepared, yesterday);
    writeScript(dir.file("unarc"), QStringLiteral("[ \"$*\" = \"x -o+ price.arc\" ] || exit 9\n"
                                                  "[ -f price.arc ] || exit 8\n"
                                                  "cp -p '%1' ./1234.dbf")
                                       .arg(prepared));
    {
        QFile f(server.home(kCode) + "/1234.arc");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("arc archive bytes");
    }
    settings.AskSendLog = true;
    dialogs.setNextAnswer(mrYes); // check documents
    dialogs.setNextAnswer(mrNo);  // do not send the information file
    EXPECT_TRUE(update->UpdatePrice());

    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(server.commands("RETR"), QStringList({"RETR 1234.arc"}));
    EXPECT_TRUE(server.commands("STOR").isEmpty());
    EXPECT_FALSE(calls.contains("FetchDocuments"));
    EXPECT_TRUE(dir.exists("log.ini"));
    EXPECT_EQ(rows().at("A|2027-01-01").second, 5);
    EXPECT_EQ(dialogs.notices, QStringList({kStale})); // nothing cut, no price changed
    EXPECT_FALSE(calls.contains("SetShowOnlyOrder(1)"));
    EXPECT_EQ(settings.PriceDate, yesterday.date().toString("dd.MM.yyyy") + " 23:59:00");

    // Yesterday 23:59 is stale today; declining the offer marks the title.
    dialogs.setNextAnswer(mrNo);
    EXPECT_FALSE(update->CheckPriceActuality(true));
    EXPECT_EQ(dialogs.questions.last(), "Прайс не актуален, обновить сейчас ?(сумма текущего заказа может измениться)");
    EXPECT_EQ(titleSuffix, "(ТРЕБУЕТСЯ ОБНОВЛЕНИЕ!!!)");
    settings.PriceDate = QDate::currentDate().toString("dd.MM.yyyy");
    EXPECT_TRUE(update->CheckPriceActuality(true));
    EXPECT_EQ(titleSuffix, QString());
    settings.PriceDate = "не дата";
    EXPECT_FALSE(update->CheckPriceActuality(false));
    EXPECT_TRUE(log.contains(" (CheckPriceActuality) ", Error));
}

// Neither archive on the server, or an .arc without unarc: the notice, the
// error, and the old list with its order untouched.
TEST_F(PriceUpdateFixture, MissingArchiveOrUnpackerLeavesTheOldListAsItWas)
{
    addCurrentPrice();
    dialogs.setNextAnswer(mrNo); // no documents
    EXPECT_FALSE(update->UpdatePrice());
    EXPECT_TRUE(server.commands("SIZE").contains("SIZE 1234.zip"));
    EXPECT_TRUE(server.commands("RETR").isEmpty());
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Нет файла прайса на сервере ")) << errors[0].toStdString();
    // An expected failure, logged as such: not as a fault of the program.
    EXPECT_TRUE(log.contains(errors[0] + " (получение прайса)", Error));
    for (const auto &entry : log.entries)
        EXPECT_FALSE(entry.text.contains("unhandled exception")) << entry.text.toStdString();
    EXPECT_EQ(dialogs.notices, QStringList({kPriceError}));
    EXPECT_FALSE(dir.exists("log.ini"));
    EXPECT_EQ(dialogs.waitShown, 0);
    expectCurrentPriceKept();

    if (!findProgram("unarc", dir.path()).isEmpty())
        GTEST_SKIP() << "unarc is installed on this machine";
    {
        QFile f(server.home(kCode) + "/1234.arc");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("arc archive bytes");
    }
    errors.clear();
    dialogs.notices.clear();
    dialogs.setNextAnswer(mrNo);
    EXPECT_FALSE(update->UpdatePrice());
    ASSERT_EQ(dialogs.notices.size(), 2);
    EXPECT_TRUE(dialogs.notices[0].startsWith("Не найдена утилита распаковки unarc в папке программы"));
    EXPECT_TRUE(dialogs.notices[0].contains("архивом .zip")); // what the pharmacist can do about it
    EXPECT_EQ(dialogs.notices[1], kPriceError);
    expectCurrentPriceKept();
}

// A download cancelled half-way (the program is closing) ends within a moment
// instead of running to its end: the old list and order stay, nothing of the
// archive is left, and nobody is asked anything.
// «Прервать» in the wait window, and a close of the program, each end a slow
// download within a few seconds; the old list stays, and the person's cancel
// holds only for that exchange.
TEST_F(PriceUpdateFixture, CancelledDownloadEndsAtOnceAndKeepsTheOldList)
{
    addCurrentPrice();
    {
        QFile f(server.home(kCode) + "/1234.arc");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(2 << 20, 'x'));
    }
    server.setFaults({{.verb = "RETR", .action = Fault::Slow, .rate = 128 * 1024}}); // 16 s in all
    for (const bool byPerson : {true, false}) {
        SCOPED_TRACE(byPerson ? "«Прервать»" : "closing");
        QElapsedTimer timer;
        timer.start();
        bool buttonSeen = false;
        connection->setIdleHook([&] {
            if (timer.elapsed() <= 1000)
                return;
            if (!byPerson) {
                connection->cancelExchange();
            } else if (dialogs.waitCancel) {
                buttonSeen = true;
                dialogs.waitCancel();
            }
        });
        dialogs.setNextAnswer(mrNo); // no documents
        EXPECT_FALSE(update->UpdatePrice());
        EXPECT_LT(timer.elapsed(), 4000);
        EXPECT_EQ(buttonSeen, byPerson);
        EXPECT_FALSE(dialogs.waitCancel); // the button went with the connection
        EXPECT_TRUE(dialogs.notices.isEmpty()) << dialogs.notices.join("|").toStdString();
        EXPECT_TRUE(errors.isEmpty());
        EXPECT_TRUE(log.contains("Получение прайса прервано", Warning));
        EXPECT_FALSE(connection->isConnected());
        EXPECT_EQ(dialogs.waitShown, 0);
        expectCurrentPriceKept();
        log.entries.clear();
        if (byPerson) {
            // The next exchange is not cancelled by the last press.
            connection->setIdleHook({});
            ASSERT_TRUE(connection->ConnectToServer(true));
            EXPECT_NO_THROW(connection->checkpoint());
            EXPECT_GT(connection->ftp().size("1234.arc"), 0);
            connection->DisconnectFromServer();
        }
    }
}

// The operation's cancel flag set while the rows go in: the load stops in the
// row loop, everything is rolled back, and nothing is asked.
TEST_F(PriceUpdateFixture, CancelDuringTheLoadRollsBackAndKeepsTheOldList)
{
    addCurrentPrice();
    std::vector<Row> many;
    for (int i = 0; i < 5000; ++i)
        many.push_back({QString::number(i + 10), QStringLiteral("Товар %1").arg(i)});
    writePriceDbf(dir.file(kCode + ".dbf"), many);
    std::atomic<bool> cancel{false};
    update->setCancelFlag(&cancel);
    update->AfterOrderKept = [&] { cancel = true; };
    EXPECT_FALSE(update->LoadPriceFromFile());
    EXPECT_TRUE(log.contains("Загрузка прайса прервана, прежний прайс-лист сохранён", Warning));
    EXPECT_TRUE(dialogs.notices.isEmpty()) << dialogs.notices.join("|").toStdString();
    expectCurrentPriceKept();
    EXPECT_TRUE(rows("PRICEOLD").empty());
}

// An unpacker that fails, or runs past its time, has unpacked nothing: even a
// complete price file it left is not loaded.
TEST_F(PriceUpdateFixture, FailingOrHangingUnpackerLoadsNothing)
{
    addCurrentPrice();
    const QString prepared = staging.filePath("prepared.dbf");
    writePriceDbf(prepared, {{"9", "Чужой", 1, 1}});
    writePriceDbf(staging.filePath(kCode + ".dbf"), {{"9", "Чужой", 1, 1}});
    putZip(kCode + ".zip", {kCode + ".dbf"});

    struct Case {
        QString script;
        QString notice;
    };
    const Case cases[] = {
        {QStringLiteral("cp '%1' ./1234.dbf; exit 3").arg(prepared),
         QStringLiteral("Программа распаковки unzip завершилась с ошибкой (код 3). Прайс не распакован")},
        {QStringLiteral("cp '%1' ./1234.dbf; exec sleep 30").arg(prepared),
         QStringLiteral("Программа распаковки unzip не закончила работу за 1,5 с и остановлена. Прайс не распакован")},
    };
    update->UnpackTimeoutMs = 1500;
    for (const Case &c : cases) {
        writeScript(dir.file("unzip"), c.script);
        dialogs.notices.clear();
        errors.clear();
        dialogs.setNextAnswer(mrNo);
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(update->UpdatePrice());
        EXPECT_LT(t.elapsed(), 10000);
        EXPECT_EQ(dialogs.notices, QStringList({c.notice, kPriceError}));
        EXPECT_EQ(errors, QStringList({c.notice}));
        expectCurrentPriceKept();
    }
}

// A record the database refuses half-way through the file: everything is
// rolled back, PRICEOLD included; then a good file loads, and the
// whole list goes in with one statement prepared once.
TEST_F(PriceUpdateFixture, ImportErrorMidwayIsRolledBackThenAGoodFileLoads)
{
    addCurrentPrice();
    // PRICEOLD of an earlier update, which a failed one must keep.
    dm->ExecSQL("INSERT INTO PRICEOLD (IDTOVAR, TOVAR, PRICE, ZAKAZ) VALUES ('OLD', 'Прежний', 1, 1)", true);

    std::vector<Row> bad;
    for (int i = 0; i < 1000; ++i)
        bad.push_back({QString::number(i), QStringLiteral("Товар %1").arg(i)});
    bad[600].name = QString(120, QChar(u'Ж')); // longer than TOVAR holds
    writePriceDbf(dir.file(kCode + ".dbf"), bad, 120);
    const int bugFix = settings.DBBugFixType;

    EXPECT_FALSE(update->LoadPriceFromFile());
    EXPECT_FALSE(update->LastLoadSucceeded());
    EXPECT_EQ(dialogs.notices, QStringList({kPriceError}));
    EXPECT_TRUE(log.contains(" (получение прайса)", Error));
    EXPECT_EQ(settings.DBBugFixType, bugFix);
    expectCurrentPriceKept();
    EXPECT_EQ(rows("PRICEOLD").size(), 1u);
    EXPECT_EQ(rows("PRICEOLD").count("OLD|"), 1u);

    // A file left in the program folder: declining deletes it and nothing is downloaded.
    writePriceDbf(dir.file(kCode + ".dbf"), {{"1", "Аспирин", 10, 3}});
    dialogs.setNextAnswer(mrNo);
    EXPECT_FALSE(update->UpdatePrice());
    EXPECT_FALSE(dir.exists(kCode + ".dbf"));
    EXPECT_TRUE(server.commands("RETR").isEmpty());
    EXPECT_EQ(rows().size(), 3u);

    // A hundred thousand rows in one go; the order of 7 is cut to the stock of 3.
    std::vector<Row> big;
    big.reserve(100000);
    big.push_back({"1", "Аспирин", 10, 3});
    for (int i = 1; i < 100000; ++i)
        big.push_back({QStringLiteral("N%1").arg(i), QStringLiteral("Товар номер %1").arg(i), 1.5 + i % 100, i % 50});
    writePriceDbf(dir.file(kCode + ".dbf"), big);
    dialogs.notices.clear();
    dialogs.setNextAnswer(mrYes); // load the file left behind
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(update->UpdatePrice());
    const qint64 ms = t.elapsed();
    EXPECT_LT(ms, 60000);
    std::cout << "100000 price rows loaded in " << ms << " ms\n";
    EXPECT_EQ(dm->PriceSet()->RecordCount(), 100000);
    std::unique_ptr<Dataset> q(dm->OpenQuery("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '1'", true));
    EXPECT_EQ(q->Fields(0).AsInteger(), 3);
    EXPECT_EQ(rows("PRICEOLD").size(), 2u); // the ordered rows 1 and 3 of the list before
    EXPECT_TRUE(dialogs.notices.contains(QStringLiteral("После получения актуальных остатков есть : \n\r * отказы по количествам \n\r"
                                                        "   Пожалуйста, ознакомьтесь с изменениями  ")))
        << dialogs.notices.join('\n').toStdString();
    EXPECT_FALSE(dir.exists(kCode + ".dbf"));
    EXPECT_TRUE(server.commands("RETR").isEmpty());
}

// A price file cut short in transfer, one whose header points past its end,
// and one without a single record: none of them replaces the list. The old
// rows and the order stay, and the notice says what was wrong with the file.
TEST_F(PriceUpdateFixture, CutShortOrEmptyPriceFileNeverReplacesTheList)
{
    const QString damaged = QStringLiteral("Файл прайса от поставщика повреждён (обрезан). Прайс-лист и заказ оставлены "
                                           "прежними. Подробности в окне сообщений");
    const QString empty = QStringLiteral("Файл прайса от поставщика пуст: в нём нет ни одной строки. Прайс-лист и заказ "
                                         "оставлены прежними. Обратитесь к поставщику");
    addCurrentPrice();
    // PRICEOLD of an earlier update: a refused file is not a half update.
    dm->ExecSQL("INSERT INTO PRICEOLD (IDTOVAR, TOVAR, PRICE, ZAKAZ) VALUES ('OLD', 'Прежний', 1, 1)", true);
    const auto priceOldKept = [this] {
        dm->Commit(); // whatever the failed load left in the transaction would be kept now
        const QString db = dir.file("Data/client.gdb");
        EXPECT_EQ(test::committedScalar(db, "SELECT COUNT(1) FROM PRICEOLD"), 1);
        EXPECT_EQ(test::committedScalar(db, "SELECT COUNT(1) FROM PRICEOLD WHERE IDTOVAR = 'OLD'"), 1);
        EXPECT_EQ(test::committedScalar(db, "SELECT SUM(ZAKAZ) FROM PRICE"), 9);
    };
    std::vector<Row> full;
    for (int i = 0; i < 2000; ++i)
        full.push_back({QString::number(i % 3 + 1) + (i < 3 ? QString() : QStringLiteral("-%1").arg(i)),
                        QStringLiteral("Товар %1").arg(i), 10, 1000, QDate(2027, 1, 1)});
    writePriceDbf(staging.filePath("full.dbf"), full);
    QFile source(staging.filePath("full.dbf"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray whole = source.readAll();
    QByteArray pastEnd = whole;
    qToLittleEndian<quint16>(60000, pastEnd.data() + 8);

    const std::pair<QByteArray, QString> cases[] = {{whole.left(whole.size() * 6 / 10), damaged}, {pastEnd, damaged}};
    for (const auto &[bytes, notice] : cases) {
        {
            QFile f(dir.file(kCode + ".dbf"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        dialogs.notices.clear();
        EXPECT_FALSE(update->LoadPriceFromFile());
        EXPECT_EQ(dialogs.notices, QStringList({notice}));
        EXPECT_TRUE(log.contains(QStringLiteral("повреждён: файл обрезан"), Error));
        expectCurrentPriceKept();
        priceOldKept();
    }

    // A file of its header alone (no end-of-file byte either) is empty, not damaged.
    writePriceDbf(staging.filePath("header.dbf"), {});
    {
        QFile header(staging.filePath("header.dbf"));
        ASSERT_TRUE(header.open(QIODevice::ReadOnly));
        const QByteArray bytes = header.readAll();
        QFile f(dir.file(kCode + ".dbf"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.left(qFromLittleEndian<quint16>(bytes.constData() + 8)));
    }
    dialogs.notices.clear();
    EXPECT_FALSE(update->LoadPriceFromFile());
    EXPECT_EQ(dialogs.notices, QStringList({empty}));
    expectCurrentPriceKept();

    // The empty file the whole way: downloaded, unpacked, refused; the
    // archive's other files are not taken either.
    writePriceDbf(staging.filePath(kCode + ".dbf"), {});
    writePriceDbf(staging.filePath("other.dbf"), {{"X", "Другое"}});
    putZip(kCode + ".zip", {kCode + ".dbf", "other.dbf"});
    dialogs.notices.clear();
    dialogs.setNextAnswer(mrNo); // no documents
    EXPECT_FALSE(update->UpdatePrice());
    EXPECT_EQ(dialogs.notices, QStringList({empty}));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_FALSE(dir.exists("Data/other.dbf"));
    expectCurrentPriceKept();
    priceOldKept();
}

// Records marked deleted are price rows like any other; cells that cannot be
// read load empty and the message pane counts them per column.
TEST_F(PriceUpdateFixture, DeletedRecordsLoadAndUnreadableCellsAreCounted)
{
    DbfWriter w(0x03);
    w.addPriceFields();
    w.addRecord({"A", "Аспирин", 10.5, {}, {}, {}, QDate(2027, 1, 1), 5});
    w.addRecord({"B", "Бинт", QByteArray("12a"), {}, {}, {}, QByteArray("20090230"), 5}, /*deleted*/ true);
    w.addRecord({"C", "Вата", QByteArray("*****"), {}, {}, {}, QDate(2027, 1, 1), QByteArray("x")}, true);
    // Prices readable in most rows: the file is usable.
    w.addRecord({"D", "Йод", 7.0, {}, {}, {}, QDate(2027, 1, 1), 5});
    w.addRecord({"E", "Пластырь", 3.0, {}, {}, {}, QDate(2027, 1, 1), 5});
    w.save(dir.file(kCode + ".dbf"));

    EXPECT_TRUE(update->LoadPriceFromFile());
    const auto now = rows();
    ASSERT_EQ(now.size(), 5u);
    EXPECT_EQ(now.count("B|"), 1u); // the date that cannot be read is empty
    std::unique_ptr<Dataset> q(dm->OpenQuery("SELECT IDTOVAR, PRICE FROM PRICE ORDER BY IDTOVAR", true));
    Dataset::ActiveRow row(*q, 1);
    EXPECT_TRUE(q->Fields(1).IsNull());
    EXPECT_TRUE(log.contains(QStringLiteral("В файле прайса %1.dbf не прочитаны значения (загружены пустыми): "
                                            "PRICE: 2, GODEN: 1, QNT: 1")
                                 .arg(kCode),
                             Warning));
}

namespace {
struct Detail {
    QString id;
    QString popup;
    QString info;
    int isRef = 0;
};
void writeDetailsDbf(const QString &path, const std::vector<Detail> &details, int idWidth = 14)
{
    DbfWriter w(0x03);
    w.addField("IDTOVAR", 'C', idWidth).addField("POPUP", 'C', 70).addField("INFO", 'C', 250).addField("ISREF", 'N', 1);
    for (const Detail &d : details)
        w.addRecord({d.id, d.popup, d.info, d.isRef});
    w.save(path);
}
} // namespace

// The goods details come in the price archive as price_det.dbf (any letter
// case) and replace PRICE_DET together with the list: a damaged details file
// fails the update and keeps both as they were; a list without one empties
// PRICE_DET, since the details described the list before.
TEST_F(PriceUpdateFixture, PriceDetailsComeWithTheListAllOrNothing)
{
    addCurrentPrice();
    dm->ExecSQL("INSERT INTO PRICE_DET (IDTOVAR, POPUP, INFO, ISREF) VALUES ('OLD', 'Старое', 'старое', 0)", true);
    auto details = [this] {
        QStringList out;
        std::unique_ptr<Dataset> q(dm->OpenQuery("SELECT IDTOVAR, POPUP, INFO, ISREF FROM PRICE_DET ORDER BY 1", true));
        for (int i = 0; i < q->RecordCount(); ++i) {
            Dataset::ActiveRow row(*q, i);
            out << QStringList{q->Fields(0).AsString(), q->Fields(1).AsString(), q->Fields(2).AsString(),
                               q->Fields(3).AsString()}
                       .join('|');
        }
        return out;
    };

    writePriceDbf(staging.filePath(kCode + ".dbf"), {{"1", "Аспирин", 10, 50}, {"2", "Бинт", 20, 5}});
    writeDetailsDbf(staging.filePath("PRICE_DET.DBF"),
                    {{"1", "Акция: 2 по цене 1", "http://example.org/akcia", 1}, {"2", QString(), "Бинт стерильный 7x14"}});
    putZip(kCode + ".zip", {kCode + ".dbf", "PRICE_DET.DBF"});
    dialogs.setNextAnswer(mrNo); // no documents
    EXPECT_TRUE(update->UpdatePrice());
    const QStringList loaded{"1|Акция: 2 по цене 1|http://example.org/akcia|1", "2||Бинт стерильный 7x14|0"};
    EXPECT_EQ(details(), loaded);
    // The grid's dataset holds the new details at once.
    Dataset *det = dm->PriceDetTable();
    ASSERT_TRUE(det->Active());
    EXPECT_EQ(det->RecordCount(), 2);
    ASSERT_TRUE(det->Locate("IDTOVAR", "2", {true, false}));
    EXPECT_EQ(det->FieldByName("INFO").AsString(), "Бинт стерильный 7x14");

    // A cut details file beside a whole price file: nothing changes.
    writePriceDbf(dir.file(kCode + ".dbf"), {{"9", "Йод", 5, 5}});
    writeDetailsDbf(dir.file("price_det.dbf"), {{"9", "a", "b"}, {"10", "c", "d"}});
    QFile cut(dir.file("price_det.dbf"));
    ASSERT_TRUE(cut.open(QIODevice::ReadWrite));
    ASSERT_TRUE(cut.resize(cut.size() - 200));
    cut.close();
    dialogs.notices.clear();
    EXPECT_FALSE(update->LoadPriceFromFile());
    EXPECT_TRUE(dialogs.notices.contains(QStringLiteral("Файл прайса от поставщика повреждён (обрезан). Прайс-лист и "
                                                        "заказ оставлены прежними. Подробности в окне сообщений")))
        << dialogs.notices.join('\n').toStdString();
    EXPECT_TRUE(log.contains("price_det.dbf\" повреждён", Error));
    EXPECT_EQ(details(), loaded);
    EXPECT_EQ(rows().size(), 2u);

    // A list without details: PRICE_DET is emptied with it.
    QFile::remove(dir.file("price_det.dbf"));
    writePriceDbf(dir.file(kCode + ".dbf"), {{"9", "Йод", 5, 5}});
    EXPECT_TRUE(update->LoadPriceFromFile());
    EXPECT_EQ(details(), QStringList());
    EXPECT_EQ(dm->PriceDetTable()->RecordCount(), 0);
    EXPECT_EQ(rows().size(), 1u);
}

// The demonstration supplier's archive loads with details for its marked goods.
TEST_F(PriceUpdateFixture, DemoSupplierArchiveCarriesDetailsForItsMarkedGoods)
{
    const RunResult r = runAndWait("/usr/bin/python3",
                                   {QStringLiteral(PC_SOURCE_DIR "/tools/demo-supplier/make_price.py"), server.home(kCode),
                                    kCode, "400"},
                                   staging.path(), 30000);
    ASSERT_EQ(r.status, RunResult::Finished);
    ASSERT_EQ(r.exitCode, 0);
    dialogs.setNextAnswer(mrNo); // no documents
    EXPECT_TRUE(update->UpdatePrice());
    EXPECT_EQ(rows().size(), 400u);
    auto count = [this](const char *sql) {
        std::unique_ptr<Dataset> q(dm->OpenQuery(sql, true));
        return q->Fields(0).AsLargeInt();
    };
    const qint64 marked = count("SELECT COUNT(*) FROM PRICE WHERE HASDET = 1 OR HASPOPUP = 1");
    EXPECT_GT(count("SELECT COUNT(*) FROM PRICE WHERE HASDET = 1"), 0);
    EXPECT_GT(count("SELECT COUNT(*) FROM PRICE WHERE HASPOPUP = 1"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM PRICE_DET"), marked);
    EXPECT_EQ(count("SELECT COUNT(*) FROM PRICE P JOIN PRICE_DET D ON D.IDTOVAR = P.IDTOVAR "
                    "WHERE (P.HASPOPUP = 1 AND D.POPUP <> '') OR (P.HASDET = 1 AND D.INFO <> '')"),
              marked);
}

// Both ordered batches of a product are gone: their quantities add up on the
// batch that is left. The supplier's own ZAKAZ column, blank or filled, never
// becomes an order. An order equal to the new stock is no shortage.
TEST_F(PriceUpdateFixture, VanishedBatchesAddUpAndTheSuppliersZakazIsNoOrder)
{
    addRows({{"B", "Бинт", 20, 100, QDate(2027, 1, 1), 2},
             {"B", "Бинт", 20, 100, QDate(2027, 3, 1), 3},
             {"C", "Вата", 5, 10, QDate(2027, 1, 1), 10}});
    writePriceDbf(dir.file(kCode + ".dbf"), {{"B", "Бинт", 20, 100, QDate(2028, 1, 1), kBlank},
                                             {"C", "Вата", 5, 10, QDate(2027, 1, 1), kBlank},
                                             {"D", "Йод", 5, 10, QDate(2027, 1, 1), 9},
                                             {"E", "Зеленка", 5, 10, QDate(2027, 1, 1), -7}});
    EXPECT_TRUE(update->LoadPriceFromFile());
    const auto now = rows();
    ASSERT_EQ(now.size(), 4u);
    EXPECT_EQ(now.at("B|2028-01-01").second, 5);
    EXPECT_EQ(now.at("C|2027-01-01").second, 10);
    EXPECT_EQ(now.at("D|2027-01-01").second, 0);
    EXPECT_EQ(now.at("E|2027-01-01").second, 0);
    EXPECT_EQ(dialogs.notices, QStringList({kUpdated})); // nothing cut, no price changed
    EXPECT_FALSE(calls.contains("SetShowOnlyOrder(1)"));
}

// The new list replaces the old one row for row (a row of the same goods
// code and expiry date is rewritten in place): afterwards PRICE holds exactly
// the file's rows, whatever repeats, vanishes or is new, with every value
// from the file, empty ones too.
TEST_F(PriceUpdateFixture, NewListReplacesTheOldOneRowForRow)
{
    addRows({{"A", "Анальгин", 5, 10, QDate(2027, 1, 1)},
             {"A", "Анальгин", 5, 10, QDate(2027, 1, 1)},
             {"B", "Бинт", 7, 20, QDate(2027, 1, 1)},
             {"C", "Вата", 3, 30, QDate()},
             {"D", "Йод", 4, 40, QDate(2027, 1, 1)},
             {"Ж1", "Жгут", 9, 1, QDate(2027, 1, 1)}});
    dm->Commit();
    // Where a row is stored: the same place after the load means rewritten in place.
    auto place = [this](const QString &id) {
        std::unique_ptr<Dataset> q(dm->OpenQuery("SELECT RDB$DB_KEY FROM PRICE WHERE IDTOVAR = '" + id + "'", true));
        return q->IsEmpty() ? QByteArray() : q->Fields(0).AsString().toUtf8();
    };
    const QByteArray placeOfC = place("C"), placeOfZh = place("Ж1");
    ASSERT_FALSE(placeOfC.isEmpty());
    writePriceDbf(dir.file(kCode + ".dbf"), {{"Ж1", "Жгут н", 9, 2, QDate(2027, 1, 1)},
                                             {"A", "Анальгин н", 6, 11, QDate(2027, 1, 1)},
                                             {"B", "Бинт", 8, 21, QDate(2027, 1, 1)},
                                             {"B", "Бинт", 9, 22, QDate(2027, 1, 1)},
                                             {"C", "Вата н", 3.5, 31, QDate()},
                                             {"E", "Зеленка", 2, 5, QDate(2028, 1, 1)},
                                             {"", "", 0, 0, QDate()}});
    EXPECT_TRUE(update->LoadPriceFromFile());
    std::unique_ptr<Dataset> q(dm->OpenQuery("SELECT IDTOVAR, TOVAR, PRICE, QNT, GODEN, PRODUCT FROM PRICE "
                                             "ORDER BY IDTOVAR, PRICE",
                                             true));
    QStringList now;
    for (int i = 0; i < q->RecordCount(); ++i) {
        Dataset::ActiveRow row(*q, i);
        now << QStringList{q->Fields(0).AsString(), q->Fields(1).AsString(), QString::number(q->Fields(2).AsFloat()),
                           QString::number(q->Fields(3).AsInteger()), q->Fields(4).AsDate().toString(Qt::ISODate),
                           q->Fields(5).AsString()}
                   .join('|');
    }
    EXPECT_EQ(now, QStringList({"||0|0||Завод", "A|Анальгин н|6|11|2027-01-01|Завод", "B|Бинт|8|21|2027-01-01|Завод",
                                "B|Бинт|9|22|2027-01-01|Завод", "C|Вата н|3.5|31||Завод",
                                "E|Зеленка|2|5|2028-01-01|Завод", "Ж1|Жгут н|9|2|2027-01-01|Завод"}))
        << now.join('\n').toStdString();
    EXPECT_EQ(dm->PriceSet()->RecordCount(), 7);
    EXPECT_EQ(test::committedScalar(dir.file("Data/client.gdb"), "SELECT COUNT(*) FROM PRICE"), 7);
    EXPECT_EQ(place("C"), placeOfC);
    EXPECT_EQ(place("Ж1"), placeOfZh);
}

// Texts go into the database as the file has them, less the padding: leading
// and inner blanks kept, a character code page 1251 lacks as "?", a blank
// cell as an empty text (never null); a Cyrillic goods code still finds its
// row of yesterday.
TEST_F(PriceUpdateFixture, TextsLoadAsTheFileHasThemLessThePadding)
{
    addRows({{"Ж1", "Жгут", 9, 1, QDate(2027, 1, 1)}});
    dm->Commit();
    auto place = [this] {
        std::unique_ptr<Dataset> q(dm->OpenQuery("SELECT RDB$DB_KEY FROM PRICE WHERE IDTOVAR = 'Ж1'", true));
        return q->IsEmpty() ? QByteArray() : q->Fields(0).AsString().toUtf8();
    };
    const QByteArray before = place();
    writePriceDbf(dir.file(kCode + ".dbf"), {{"Ж1", "  Бинт  №5 ░ стерильный   ", 9, 2, QDate(2027, 1, 1)},
                                             {"", "", 0, 0, QDate()}});
    EXPECT_TRUE(update->LoadPriceFromFile());
    EXPECT_EQ(place(), before);
    const QString gdb = dir.file("Data/client.gdb");
    EXPECT_EQ(test::committedScalar(gdb, "SELECT COUNT(*) FROM PRICE WHERE IDTOVAR = 'Ж1' AND TOVAR = '  Бинт  №5 ? стерильный'"), 1);
    EXPECT_EQ(test::committedScalar(gdb, "SELECT COUNT(*) FROM PRICE WHERE IDTOVAR = '' AND TOVAR = ''"), 1);
    EXPECT_EQ(test::committedScalar(gdb, "SELECT COUNT(*) FROM PRICE WHERE IDTOVAR IS NULL OR TOVAR IS NULL"), 0);
}

// A stock below zero leaves nothing to order: an ordered row is cut to 0, and
// a row nobody ordered keeps 0 instead of taking the negative stock.
TEST_F(PriceUpdateFixture, StockBelowZeroNeverGivesANegativeOrder)
{
    addRows({{"A", "Анальгин", 5, 10, QDate(2027, 1, 1), 3}, {"F", "Фурацилин", 5, 10, QDate(2027, 1, 1), 0}});
    writePriceDbf(dir.file(kCode + ".dbf"),
                  {{"A", "Анальгин", 5, -2, QDate(2027, 1, 1)}, {"F", "Фурацилин", 5, -4, QDate(2027, 1, 1)}});
    EXPECT_TRUE(update->LoadPriceFromFile());
    const auto now = rows();
    ASSERT_EQ(now.size(), 2u);
    EXPECT_EQ(now.at("A|2027-01-01").second, 0);
    EXPECT_EQ(now.at("F|2027-01-01").second, 0);
    EXPECT_TRUE(dialogs.notices.contains(QStringLiteral("После получения актуальных остатков есть : \n\r * отказы по количествам \n\r"
                                                        "   Пожалуйста, ознакомьтесь с изменениями  ")))
        << dialogs.notices.join('\n').toStdString();
}

// A client code that would lead the archive name out of the account's folder
// is refused before anything is asked of the server.
TEST_F(PriceUpdateFixture, ArchiveNameOutsideTheFolderIsRefused)
{
    addCurrentPrice();
    settings.PriceArchiveName = QStringLiteral("../9999.arc");
    dialogs.setNextAnswer(mrNo); // no documents
    EXPECT_FALSE(update->UpdatePrice());
    EXPECT_EQ(errors, QStringList({"Неверное имя архива прайса \"../9999.arc\""}));
    EXPECT_TRUE(server.commands("SIZE").isEmpty());
    EXPECT_TRUE(server.commands("RETR").isEmpty());
    expectCurrentPriceKept();
}

// A file whose names, prices or goods codes cannot be read in most rows, or
// whose records do not match the columns of its header, is refused like a
// damaged one: the list and the order stay. A column of a type the load does
// not expect is named; the rest of such a file loads.
TEST_F(PriceUpdateFixture, UnusablePriceFilesAreRefusedAndOddColumnTypesNamed)
{
    const QString unusable = QStringLiteral("Файл прайса от поставщика повреждён: в нём не читаются наименования, цены, "
                                            "остатки или коды товаров. Прайс-лист и заказ оставлены прежними. Подробности в "
                                            "окне сообщений");
    const QString damaged = QStringLiteral("Файл прайса от поставщика повреждён (обрезан). Прайс-лист и заказ оставлены "
                                           "прежними. Подробности в окне сообщений");
    addCurrentPrice();
    const QString file = dir.file(kCode + ".dbf");
    // A price file of 40 rows whose column `odd` is of type `type`, holding `value`.
    auto write = [&](const QByteArray &odd, char type, int length, const QVariant &value, uint8_t version = 0x03) {
        DbfWriter w(version);
        const QList<QByteArray> names = {"IDTOVAR", "TOVAR", "PRICE", "GODEN", "QNT"};
        const QList<char> types = {'C', 'C', 'N', 'D', 'N'};
        const QList<int> lengths = {20, 100, 12, 8, 10};
        for (int c = 0; c < names.size(); ++c)
            names[c] == odd ? w.addField(odd, type, length) : w.addField(names[c], types[c], lengths[c], c == 2 ? 2 : 0);
        for (const char *rest : {"PRODUCT", "COUNTRY"})
            w.addField(rest, 'C', 20);
        for (const char *rest : {"PRICER", "QNTPACK", "NDS", "MINZAKAZ", "MINPROD", "COLOR", "HASDET", "HASPOPUP", "GV", "ZAKAZ"})
            w.addField(rest, 'N', 5);
        w.addField("REGUDEXIST", 'C', 20);
        for (int i = 0; i < 40; ++i) {
            QVariantList v = {QStringLiteral("N%1").arg(i), QStringLiteral("Товар %1").arg(i), 12.5, QDate(2027, 1, 1), 7};
            v[names.indexOf(odd)] = value;
            w.addRecord(v);
        }
        w.save(file);
    };
    auto refused = [&](const QString &notice, const QString &logged) {
        dialogs.notices.clear();
        EXPECT_FALSE(update->LoadPriceFromFile());
        EXPECT_EQ(dialogs.notices, QStringList({notice}));
        EXPECT_TRUE(log.contains(logged, Error)) << logged.toStdString();
        expectCurrentPriceKept();
        EXPECT_EQ(test::committedScalar(dir.file("Data/client.gdb"), "SELECT SUM(ZAKAZ) FROM PRICE"), 9);
    };

    // Names kept in a memo file that did not come with the list.
    write("TOVAR", 'M', 10, QStringLiteral("Аспирин"), 0x83);
    QFile::remove(dir.file(kCode + ".dbt"));
    refused(unusable, "поле TOVAR (наименование) не прочитано в 40 строках из 40");
    // Letters where the prices should be; goods codes all blank.
    write("PRICE", 'N', 12, QByteArray("abc"));
    refused(unusable, "поле PRICE (цена) не прочитано в 40 строках из 40");
    write("IDTOVAR", 'C', 20, QByteArray("   "));
    refused(unusable, "поле IDTOVAR (код товара) не прочитано в 40 строках из 40");
    // A record 7 bytes longer than its columns, with no record count in the header.
    write("QNT", 'N', 10, 7);
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        qToLittleEndian<quint16>(qFromLittleEndian<quint16>(bytes.constData() + 10) + 7, bytes.data() + 10);
        qToLittleEndian<quint32>(0, bytes.data() + 4);
        f.seek(0);
        f.write(bytes);
    }
    refused(damaged, "не равна сумме длин полей");

    // The stock typed logical: no row could be ordered, so the list is
    // refused like one without prices; the column's type is named.
    write("QNT", 'L', 1, true);
    refused(unusable, "поле QNT (остаток) не прочитано в 40 строках из 40");
    EXPECT_TRUE(log.contains(QStringLiteral("В файле прайса %1.dbf поля неожиданного типа, их значения могут быть "
                                            "загружены пустыми: QNT (тип L)")
                                 .arg(kCode),
                             Warning));
    // The stock as text that reads as numbers: named, and the list loads.
    write("QNT", 'C', 10, QStringLiteral("7"));
    dialogs.notices.clear();
    EXPECT_TRUE(update->LoadPriceFromFile()) << dialogs.notices.join('|').toStdString();
    EXPECT_TRUE(log.contains("QNT (тип C)", Warning));
    EXPECT_EQ(rows().size(), 40u);
}

// A details file whose goods code is wider than the details table keeps: the
// list loads, the details of that row are left out and counted in the pane,
// the others load.
TEST_F(PriceUpdateFixture, DetailWithACodeTooLongIsSkippedAndTheListLoads)
{
    const QString longCode = "ABCDEFGHIJ12345678"; // 18 characters, PRICE holds 20
    writePriceDbf(dir.file(kCode + ".dbf"), {{longCode, "Аспирин", 10, 50}, {"2", "Бинт", 20, 5}});
    writeDetailsDbf(dir.file("price_det.dbf"), {{longCode, "Акция", "подробно"}, {"2", QString(), "Бинт стерильный"}}, 20);
    EXPECT_TRUE(update->LoadPriceFromFile()) << dialogs.notices.join('\n').toStdString();
    EXPECT_EQ(rows().size(), 2u);
    EXPECT_EQ(rows().count(longCode + "|2027-01-01"), 1u);
    std::unique_ptr<Dataset> q(dm->OpenQuery("SELECT IDTOVAR FROM PRICE_DET", true));
    ASSERT_EQ(q->RecordCount(), 1);
    EXPECT_EQ(q->Fields(0).AsString(), "2");
    EXPECT_TRUE(log.contains("В файле подробностей price_det.dbf пропущено строк: 1", Warning));
    EXPECT_TRUE(log.details.join('\n').contains(longCode));
}

// The new list holds one batch (goods code and expiry date) twice: the order
// of yesterday's list goes to one of its rows, not to each; two ordered rows
// of that batch keep their quantities apart.
TEST_F(PriceUpdateFixture, ABatchListedTwiceGetsTheCarriedOrderOnce)
{
    auto ordered = [this](const QString &id) {
        std::unique_ptr<Dataset> q(dm->OpenQuery("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '" + id + "' ORDER BY ZAKAZ", true));
        QStringList out;
        for (; !q->Eof(); q->Next())
            out << q->Fields(0).AsString();
        return out.join(',');
    };
    addRows({{"A", "Анальгин", 5, 100, QDate(2027, 1, 1), 5},
             {"B", "Бинт", 7, 100, QDate(2027, 1, 1), 3},
             {"B", "Бинт", 7, 100, QDate(2027, 1, 1), 4}});
    writePriceDbf(dir.file(kCode + ".dbf"), {{"A", "Анальгин", 5, 100, QDate(2027, 1, 1)},
                                             {"A", "Анальгин", 5, 100, QDate(2027, 1, 1)},
                                             {"B", "Бинт", 7, 100, QDate(2027, 1, 1)},
                                             {"B", "Бинт", 7, 100, QDate(2027, 1, 1)}});
    EXPECT_TRUE(update->LoadPriceFromFile());
    EXPECT_EQ(ordered("A"), "0,5");
    EXPECT_EQ(ordered("B"), "3,4");
    EXPECT_EQ(test::committedScalar(dir.file("Data/client.gdb"), "SELECT SUM(ZAKAZ) FROM PRICE"), 12);
}

// A database error while the order is carried over toggles the numeric-field
// switch of the settings: checked and greyed become unchecked, unchecked
// becomes checked; the state is in client.ini at once.
TEST_F(PriceUpdateFixture, DatabaseErrorWhileCarryingTheOrderTogglesTheTypeSwitch)
{
    addRows({{"A", "Анальгин", 5, 100, QDate(2027, 1, 1), 777}});
    // A quantity of 777 cannot be carried over.
    dm->ExecSQL("CREATE TRIGGER PRICE_NO777 FOR PRICE BEFORE UPDATE AS BEGIN "
                "IF (NEW.ZAKAZ = 777) THEN NEW.QNT = 1 / 0; END",
                true);
    int changed = 0;
    update->BugFixTypeChanged = [&changed] { ++changed; };
    const IniFile client(dir.file("client.ini"));
    for (const auto &[before, after] : {std::pair{2, 0}, std::pair{0, 1}, std::pair{1, 0}}) {
        settings.DBBugFixType = before;
        writePriceDbf(dir.file(kCode + ".dbf"), {{"A", "Анальгин", 5, 100, QDate(2027, 1, 1)}});
        dialogs.notices.clear();
        EXPECT_FALSE(update->LoadPriceFromFile());
        EXPECT_EQ(settings.DBBugFixType, after) << before;
        EXPECT_EQ(client.readInteger("Header", "DBBugFixType", -1), after) << before;
        EXPECT_EQ(dialogs.notices, QStringList({kPriceError}));
    }
    EXPECT_EQ(changed, 3);
    EXPECT_TRUE(log.contains("Ошибка БД.", Error));
    EXPECT_EQ(rows().at("A|2027-01-01").second, 777); // the list and its order as they were
}

// Rows of one name stand in the file's order, as a load into an empty list
// puts them, also when the list is rewritten row for row over yesterday's,
// which held them in another order: the quick search and the first row do not
// depend on what was loaded before.
TEST_F(PriceUpdateFixture, RowsOfOneNameStandInTheFilesOrderAfterARowForRowReload)
{
    auto shown = [this] {
        Dataset *p = dm->PriceSet();
        QStringList out;
        for (p->First(); !p->Eof(); p->Next())
            out << p->FieldByName("IDTOVAR").AsString();
        return out.join(' ');
    };
    auto load = [this](const QStringList &codes) {
        std::vector<Row> file;
        for (const QString &c : codes)
            file.push_back({c, c == "X" ? "Аспирин" : "Бинт", 10, 50, QDate(2027, 1, 1)});
        writePriceDbf(dir.file(kCode + ".dbf"), file);
        EXPECT_TRUE(update->LoadPriceFromFile());
    };
    load({"B1", "A2", "X", "C3"});
    EXPECT_EQ(shown(), "X B1 A2 C3");
    load({"C3", "N4", "A2", "X", "B1"});
    EXPECT_EQ(shown(), "X C3 N4 A2 B1");
    load({"N4", "B1", "C3", "A2", "X"});
    EXPECT_EQ(shown(), "X N4 B1 C3 A2");
    // The rows themselves are whole: each code with its own values.
    EXPECT_EQ(rows().size(), 5u);
}

// ---- what a supplier's archive may place ---------------------------------------

namespace {

struct ArchiveTrustFixture : PriceUpdateFixture {
    // One entry of an archive made by hand: its name as stored, its bytes,
    // its kind (the Unix mode in the upper half of the external attributes)
    // and the system that made it (3 Unix, 0 DOS).
    struct Item {
        QString name;
        QByteArray data;
        quint32 external = quint32(0100644) << 16;
        int host = 3;
        qint64 zeros = 0;     // instead of data: this many zero bytes
        qint64 declared = -1; // a size the headers declare instead of the true one
    };
    static Item file(const QString &name, const QByteArray &data) { return {name, data}; }
    static Item link(const QString &name, const QString &target)
    {
        return {name, target.toUtf8(), quint32(0120777) << 16};
    }
    static Item special(const QString &name, quint32 mode) { return {name, {}, mode << 16}; }

    QTemporaryDir outside;

    void SetUp() override
    {
        PriceUpdateFixture::SetUp();
        dir.writeBytes("client", "running program");
        dir.writeBytes("vorn", "launcher");
        dir.writeBytes("server.ini", "[Header]\r\nServerAdress=127.0.0.1\r\n");
        dir.writeBytes("exchange.ini", "[Header]\r\n");
        dir.writeBytes("top.htm", "<b>old news</b>");
    }
    // Today's price list, as the archive's first entry.
    Item priceFile()
    {
        writePriceDbf(staging.filePath("price.dbf"), {{"A", "Аспирин", 10, 50, QDate(2027, 1, 1)}});
        QFile f(staging.filePath("price.dbf"));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return file(kCode + ".dbf", f.readAll());
    }
    // Puts the archive on the server as 1234.zip. `renames` swap a name as
    // stored for other bytes of the same length (names in a DOS code page).
    void putCraftedZip(const std::vector<Item> &items, const QList<QPair<QByteArray, QByteArray>> &renames = {})
    {
        QString entries = "[";
        for (const Item &i : items)
            entries += QStringLiteral("(%1, %2, %3, %4, %5),")
                        .arg(QString::fromLatin1("bytes.fromhex('" + i.name.toUtf8().toHex() + "').decode()"),
                             i.zeros ? QStringLiteral("bytes(%1)").arg(i.zeros)
                                     : QString::fromLatin1("bytes.fromhex('" + i.data.toHex() + "')"))
                        .arg(i.external)
                        .arg(i.host)
                        .arg(i.declared);
        entries += "]";
        const QString script = QStringLiteral(
            "import struct, sys, time, zipfile\n"
            "items = eval(sys.argv[2])\n"
            "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
            "    for name, data, external, host, declared in items:\n"
            "        i = zipfile.ZipInfo(name, time.localtime()[:6])\n"
            "        i.create_system, i.external_attr, i.compress_type = host, external, zipfile.ZIP_DEFLATED\n"
            "        z.writestr(i, data)\n"
            "lies = {name: declared for name, _, _, _, declared in items if declared >= 0}\n"
            "data = bytearray(open(sys.argv[1], 'rb').read())\n"
            "for info in zipfile.ZipFile(sys.argv[1]).infolist():\n"
            "    if info.filename in lies:\n"
            "        struct.pack_into('<I', data, info.header_offset + 22, lies[info.filename])\n"
            "at = data.find(b'PK\\x01\\x02')\n"
            "while at >= 0:\n"
            "    n = struct.unpack_from('<H', data, at + 28)[0]\n"
            "    name = bytes(data[at + 46:at + 46 + n]).decode()\n"
            "    if name in lies:\n"
            "        struct.pack_into('<I', data, at + 24, lies[name])\n"
            "    at = data.find(b'PK\\x01\\x02', at + 4)\n"
            "open(sys.argv[1], 'wb').write(data)\n");
        const QString zip = staging.filePath("crafted.zip");
        QFile::remove(zip);
        const RunResult r = runAndWait("/usr/bin/python3", {"-c", script, zip, entries}, staging.path(), 60000);
        ASSERT_EQ(r.status, RunResult::Finished);
        ASSERT_EQ(r.exitCode, 0);
        QFile f(zip);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        for (const auto &[from, to] : renames) {
            ASSERT_EQ(from.size(), to.size());
            ASSERT_TRUE(bytes.contains(from));
            bytes.replace(from, to);
        }
        QFile served(server.home(kCode) + "/" + kCode + ".zip");
        ASSERT_TRUE(served.open(QIODevice::WriteOnly));
        served.write(bytes);
    }
    // The warnings that name `name` as refused.
    int refusals(const QString &name) const
    {
        int n = 0;
        for (const auto &e : log.entries)
            n += e.level == Warning && e.text.contains("Файл \"" + name + "\" из архива прайса не принят");
        return n;
    }
    bool runUpdate()
    {
        dialogs.setNextAnswer(mrNo); // no documents
        return update->UpdatePrice();
    }
    void expectProgramFilesKept()
    {
        EXPECT_EQ(dir.readBytes("client"), QByteArray("running program"));
        EXPECT_EQ(dir.readBytes("vorn"), QByteArray("launcher"));
        EXPECT_EQ(dir.readBytes("server.ini"), QByteArray("[Header]\r\nServerAdress=127.0.0.1\r\n"));
        EXPECT_EQ(dir.readBytes("exchange.ini"), QByteArray("[Header]\r\n"));
        EXPECT_FALSE(dir.readBytes("client.ini").contains("EVIL"));
        EXPECT_FALSE(dir.exists("supplier.pub"));
        EXPECT_FALSE(dir.exists(".client.lock"));
        EXPECT_TRUE(QFileInfo(dir.file("Update")).isDir());
        EXPECT_TRUE(QDir(outside.path()).isEmpty());
    }
};

} // namespace

// An archive whose banner.ini names the program or its settings, or a file
// outside the program folder, and carries that file: the list loads, nothing
// of the program is replaced, banner.ini stays out, and each refused name is
// said once in the pane.
TEST_F(ArchiveTrustFixture, ArchiveNamingTheProgramOrItsSettingsReplacesNothing)
{
    const QString absolute = outside.filePath("x.htm");
    const QStringList banners{"client", "client.ini", "server.ini", "../escaped.htm", absolute};
    for (const QString &name : banners) {
        SCOPED_TRACE(name.toStdString());
        log.entries.clear();
        dialogs.notices.clear();
        putCraftedZip({priceFile(), file("banner.ini", ("[Header]\r\nHomeBanner=" + name + "\r\n").toUtf8()),
                       file(name, "EVIL")});
        EXPECT_TRUE(runUpdate());
        EXPECT_TRUE(noticeShown(kUpdated)) << dialogs.notices.join('|').toStdString();
        expectProgramFilesKept();
        EXPECT_FALSE(dir.exists("banner.ini"));
        EXPECT_FALSE(dir.exists("escaped.htm"));
        EXPECT_FALSE(QFileInfo::exists(dir.path() + "../escaped.htm"));
        // The banner's name once, for banner.ini; the entry's name once more
        // when it names a file of the program.
        int said = 0;
        for (const auto &e : log.entries)
            said += e.level == Warning && e.text.contains("banner.ini") && e.text.contains(name);
        EXPECT_EQ(said, 1);
        EXPECT_LE(refusals(name), 1);
        EXPECT_FALSE(leftoversInData());
    }

    // Names of the program's own files, carried without any banner.ini.
    log.entries.clear();
    dialogs.notices.clear();
    const QStringList own{"vorn", "exchange.ini", ".client.lock", "supplier.pub", "Update", "client.gdb", "pricein.dbf"};
    std::vector<Item> items{priceFile()};
    for (const QString &name : own)
        items.push_back(file(name, "EVIL"));
    putCraftedZip(items);
    EXPECT_TRUE(runUpdate());
    EXPECT_TRUE(noticeShown(kUpdated));
    expectProgramFilesKept();
    EXPECT_FALSE(dir.readBytes("Data/pricein.dbf").contains("EVIL"));
    EXPECT_FALSE(dir.exists("Data/client.gdb") && dir.readBytes("Data/client.gdb") == "EVIL");
    for (const QString &name : own)
        EXPECT_EQ(refusals(name), 1) << name.toStdString();
}

// Links, fifos and devices are not files: a link is never placed nor written
// through, and a fifo named like the news strip does not empty it.
TEST_F(ArchiveTrustFixture, LinksFifosAndDevicesInTheArchiveAreNeverPlaced)
{
    putCraftedZip({priceFile(), special("top.htm", 010666), link("logo.png", dir.file("client.ini")),
                   special("news.htm", 020666), link("lnk", outside.path()), file("lnk/evil.dbf", "EVIL"),
                   file("promo.png", "picture")});
    EXPECT_TRUE(runUpdate());
    EXPECT_TRUE(noticeShown(kUpdated)) << dialogs.notices.join('|').toStdString();
    EXPECT_EQ(dir.readBytes("top.htm"), QByteArray("<b>old news</b>"));
    EXPECT_FALSE(QFileInfo(dir.file("logo.png")).exists() || QFileInfo(dir.file("logo.png")).isSymLink());
    EXPECT_FALSE(dir.exists("news.htm"));
    EXPECT_FALSE(QFileInfo(dir.file("lnk")).isSymLink());
    EXPECT_EQ(dir.readBytes("promo.png"), QByteArray("picture"));
    expectProgramFilesKept();
    for (const char *name : {"top.htm", "logo.png", "news.htm", "lnk"})
        EXPECT_EQ(refusals(name), 1) << name;
    EXPECT_FALSE(leftoversInData());
}

// Names stored in the DOS code page (Russian Windows' own zip folders) and
// names the archive marks as UTF-8 arrive as written.
TEST_F(ArchiveTrustFixture, CyrillicNamesAreDecodedAsTheArchiveSays)
{
    const QString dosName = QStringLiteral("Баннер.htm");
    const QByteArray dosBytes = toCp866(dosName);
    const QString placeholder = QString(dosBytes.size() - 4, QLatin1Char('Q')) + ".htm";
    Item dos = file(placeholder, "<p>banner</p>");
    dos.host = 0;
    dos.external = 0x20;
    putCraftedZip({priceFile(), dos, file(QStringLiteral("Новости.png"), "picture"),
                   file("banner.ini", "[Header]\r\nHomeBanner=" + toCp1251(dosName) + "\r\n")},
                  {{placeholder.toLatin1(), dosBytes}});
    EXPECT_TRUE(runUpdate());
    EXPECT_TRUE(noticeShown(kUpdated));
    EXPECT_EQ(dir.readBytes(dosName), QByteArray("<p>banner</p>"));
    EXPECT_EQ(dir.readBytes(QStringLiteral("Новости.png")), QByteArray("picture"));
    EXPECT_TRUE(dir.exists("banner.ini"));
    for (const auto &e : log.entries)
        EXPECT_NE(e.level, Warning) << e.text.toStdString();
}

// An archive whose files would not fit on the disk is refused before the
// unpacking program runs; with room it unpacks as usual.
TEST_F(ArchiveTrustFixture, ArchiveLargerThanTheFreeSpaceIsRefusedBeforeUnpacking)
{
    addCurrentPrice();
    Item big = file("big.dbf", {});
    big.zeros = qint64(40) << 20;
    putCraftedZip({priceFile(), big});
    const QString ran = staging.filePath("unzip-ran");
    writeScript(dir.file("unzip"), QStringLiteral("touch '%1'\nexec /usr/bin/unzip \"$@\"").arg(ran));
    update->FreeBytes = [](const QString &) { return qint64(48) << 20; };
    EXPECT_FALSE(runUpdate());
    EXPECT_FALSE(QFileInfo::exists(ran));
    ASSERT_EQ(dialogs.notices.size(), 2) << dialogs.notices.join('|').toStdString();
    EXPECT_TRUE(dialogs.notices[0].startsWith("Архив прайса не распакован: его файлы займут 40,0 МБ, а на диске свободно 48,0 МБ"))
        << dialogs.notices[0].toStdString();
    EXPECT_EQ(dialogs.notices[1], kPriceError);
    expectCurrentPriceKept();

    dialogs.notices.clear();
    update->FreeBytes = [](const QString &) { return qint64(1) << 30; };
    EXPECT_TRUE(runUpdate());
    EXPECT_TRUE(QFileInfo::exists(ran));
    EXPECT_EQ(QFileInfo(dir.file("Data/big.dbf")).size(), 40 << 20);
}

// An archive that declares a small size and unpacks to more is stopped at
// the size it declared, and nothing of it is used.
TEST_F(ArchiveTrustFixture, ArchiveThatUnpacksToMoreThanItDeclaresIsStopped)
{
    if (findProgram("prlimit", QString()).isEmpty())
        GTEST_SKIP() << "prlimit (util-linux) is not installed";
    addCurrentPrice();
    Item bomb = file("big.dbf", {});
    bomb.zeros = qint64(64) << 20;
    bomb.declared = 100000;
    putCraftedZip({priceFile(), bomb});
    EXPECT_FALSE(runUpdate());
    ASSERT_EQ(dialogs.notices.size(), 2) << dialogs.notices.join('|').toStdString();
    EXPECT_TRUE(dialogs.notices[0].startsWith("Архив прайса не распакован: в нём файл больше, чем архив заявляет"))
        << dialogs.notices[0].toStdString();
    expectCurrentPriceKept();
    EXPECT_FALSE(dir.exists("Data/big.dbf"));
}
