// Fetching defectures and invoices from the real test FTP server into a real
// database: import, the archive and other-documents folders, documents
// already in the database, files left on the server, a broken file rolled
// back, names that would leave their folder.
#include "DbfWriter.h"
#include "FtpTestServer.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/firebird/Statement.h"
#include "documents/FetchDocuments.h"
#include "exchange/ServerConnection.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cerrno>

using namespace pc;
using pc::test::DbfWriter;
using pc::test::FtpTestServer;

namespace {

const QString kCode = QStringLiteral("1234");

QString report(int defectures, int documents)
{
    return QStringLiteral("Получено : \n\r%1 дефектур\n\r%2 накладных").arg(defectures).arg(documents);
}

struct Line {
    QString code;
    QString name;
    QVariant qnt;
    bool deleted = false;
    QVariant price = 110.0; // a QByteArray is stored as written
};

void writeDefecture(const QString &path, const std::vector<Line> &lines, bool withCount = true)
{
    DbfWriter w(0x03);
    w.addField("TOVAR", 'C', 60);
    if (withCount)
        w.addField("COUNT", 'N', 10);
    for (const Line &l : lines)
        w.addRecord({l.name, l.qnt}, l.deleted);
    w.save(path);
}

void writeInvoice(const QString &path, const QString &number, const QString &date, const std::vector<Line> &lines,
                  bool withKol = true)
{
    DbfWriter w(0x03);
    w.addField("NOMDOC", 'C', 20).addField("DATDOC", 'C', 10).addField("CODETOV", 'C', 12).addField("TOVNAME", 'C', 80);
    w.addField("PRNAME", 'C', 40).addField("PRSTRANA", 'C', 30).addField("SERIYA", 'C', 20);
    if (withKol)
        w.addField("KOL", 'N', 8);
    w.addField("CWNDS", 'N', 12, 2).addField("VSEGO", 'N', 12, 2).addField("STNDS", 'N', 3).addField("SUMNDS", 'N', 12, 2);
    w.addField("SROKGODN", 'D', 8).addField("GN2", 'N', 1).addField("CPWNDS", 'N', 12, 2).addField("CPWONDS", 'N', 12, 2);
    w.addField("CREESTR", 'N', 12, 2).addField("EAN", 'C', 13);
    for (const Line &l : lines) {
        QVariantList v{number, date, l.code, l.name, QStringLiteral("Завод"), QStringLiteral("Россия"), QStringLiteral("S1")};
        if (withKol)
            v << l.qnt;
        v << l.price << 110.0 * l.qnt.toInt() << 10 << 10.0 * l.qnt.toInt() << QDate(2028, 3, 1) << 1 << 55.0 << 50.0
          << 52.5 << QStringLiteral("4600000000001");
        w.addRecord(v, l.deleted);
    }
    w.save(path);
}

struct FetchFixture : ::testing::Test {
    FtpTestServer server;
    TempAppDir dir;
    AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    Settings settings;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<ServerConnection> connection;
    std::unique_ptr<DocumentFetch> fetch;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        settings.ClientCode = kCode;
        settings.ClientAccount = {kCode, QStringLiteral("secret")};
        settings.DeliveryAddresses = {{QStringLiteral("ул. Ленина, 1"), kCode, 1}, {QStringLiteral("ул. Мира, 2"), "77", 2}};
        settings.ServerAddresses = {QStringLiteral("127.0.0.1")};
        settings.ServerPort = server.port();
        settings.NakladFolder = dir.file("no/such/folder");
        dm = std::make_unique<TDM>(context, dialogs, log);
        dm->CreateFirebirdObjects();
        dm->OpenDatabase();
        dialogs.notices.clear();
        connection = std::make_unique<ServerConnection>(settings, dialogs, log);
        connection->ftp().setConnectTimeout(3000);
        connection->ftp().setResponseTimeout(10000);
        fetch = std::make_unique<DocumentFetch>(*dm, *connection, settings, dialogs, log, context);
        QDir().mkpath(defectDir());
        QDir().mkpath(invoiceDir());
    }
    void TearDown() override
    {
        fetch.reset();
        connection.reset();
        dm.reset();
        QLocale::setDefault(QLocale::c());
        EXPECT_FALSE(dialogs.answersLeft());
        EXPECT_EQ(dialogs.waitShown, 0);
    }
    QString defectDir() const { return server.home(kCode) + "/Defect/" + kCode + "/"; }
    QString invoiceDir() const { return server.home(kCode) + "/Naklad/" + kCode + "/"; }
    // The rows of a select, fields joined by "|".
    QStringList rows(const QString &sql)
    {
        QStringList out;
        std::unique_ptr<Dataset> q(dm->OpenQuery(sql, true));
        for (int i = 0; i < q->RecordCount(); ++i) {
            Dataset::ActiveRow row(*q, i);
            QStringList fields;
            for (int f = 0; f < q->FieldCount(); ++f)
                fields << q->Fields(f).AsString().trimmed();
            out << fields.join('|');
        }
        return out;
    }
    bool errorLogged(const QString &part) const { return log.contains(part, Error); }
    // The folders asked for (libcurl's own "CWD /" between them left out).
    QStringList foldersVisited() const
    {
        return server.commands("CWD").filter(QRegularExpression("^CWD \\\\"));
    }
};

} // namespace

// A defecture and an invoice arrive and are imported; the invoice file goes to
// the archive, other files of the invoice folder (an upper-case "N…DBF" among
// them) to the other-documents folder; every server copy is deleted.
TEST_F(FetchFixture, DefectureAndInvoiceAreImportedAndTakenOffTheServer)
{
    writeDefecture(defectDir() + "d12345.dbf", {{{}, "Аспирин", 3}, {{}, "Бинт \"Д'Артаньян\"", 2}});
    writeInvoice(invoiceDir() + "n0107_4711.dbf", "4711", "05.12.2026",
                 {{"777", "Анальгин", 2}, {"777", "Анальгин", 1}, {"778", "Йод", 4}});
    writeInvoice(invoiceDir() + "N1_5.DBF", "5", "05.12.2026", {{"1", "Вата", 1}});
    QFile::copy(invoiceDir() + "N1_5.DBF", invoiceDir() + "price.txt");
    settings.CalcPriceProducerWithNDS = true;
    dm->ExecSQL("INSERT INTO ORDERS (ID, DATET, STATUS) VALUES (12345, '2026-12-01', 1)", true);

    std::vector<QString> events;
    fetch->ShowReceivePanel = [&](bool on) { events.push_back(on ? "panel on" : "panel off"); };
    fetch->DocumentsReloaded = [&] { events.push_back("reloaded"); };
    const auto result = fetch->FetchDocuments(false, 2, 0);
    EXPECT_EQ(result.defectures, 1);
    EXPECT_EQ(result.documents, 3);
    EXPECT_EQ(dialogs.notices, QStringList{report(1, 3)});
    EXPECT_EQ(events, (std::vector<QString>{"panel on", "panel off", "reloaded"}));
    EXPECT_FALSE(log.contains("", Error));

    EXPECT_EQ(rows("SELECT ID, NUMBR FROM DEFECT"), QStringList{"1|12345"});
    EXPECT_EQ(rows("SELECT IDDEFECT, TOVAR, QNT FROM DEFECTL ORDER BY QNT"),
              (QStringList{"1|Бинт \"Д'Артаньян\"|2", "1|Аспирин|3"}));
    EXPECT_EQ(rows("SELECT ID, NUMBR, NAKLDATE FROM NAKLAD"), QStringList{"1|4711|05.12.2026"});
    EXPECT_EQ(rows("SELECT LINENO, IDTOVAR, QNT, PRICE, SUMMA, STNDS, SROKGODN, GV, PRICE_PR, PRREESTR, EAN FROM NAKLADL "
                   "ORDER BY LINENO"),
              (QStringList{"1|777_1|2|110|220|10|01.03.2028|1|55|52.5|4600000000001",
                           "2|777_2|1|110|110|10|01.03.2028|1|55|52.5|4600000000001",
                           "3|778_3|4|110|440|10|01.03.2028|1|55|52.5|4600000000001"}));

    EXPECT_TRUE(dir.exists("Data/NakladArch/n0107_4711.dbf"));
    EXPECT_TRUE(dir.exists("Data/NakladOther/N1_5.DBF"));
    EXPECT_TRUE(dir.exists("Data/NakladOther/price.txt"));
    EXPECT_FALSE(dir.exists("Data/d12345.dbf"));
    EXPECT_FALSE(dir.exists("Data/n0107_4711.dbf"));
    EXPECT_TRUE(QDir(defectDir()).isEmpty());
    EXPECT_TRUE(QDir(invoiceDir()).isEmpty());
    // Only the selected address's folders were visited.
    EXPECT_EQ(foldersVisited(), (QStringList{"CWD \\Defect\\1234", "CWD \\Naklad\\1234"}));

    // The pages see the new rows; the defecture names the order it answers.
    EXPECT_EQ(dm->DefectTable()->RecordCount(), 1);
    EXPECT_EQ(dm->DefectLinesTable()->RecordCount(), 2);
    EXPECT_EQ(DefectOrderCaption(*dm), std::optional<QString>("Заявка от 01.12.2026"));
    dm->ExecSQL("DELETE FROM ORDERS", true);
    EXPECT_EQ(DefectOrderCaption(*dm), std::optional<QString>("Заявка от "));

    // Deleting the invoice: "No" keeps it, "Yes" removes it with its lines.
    ASSERT_EQ(dm->NakladSet()->RecordCount(), 1);
    dialogs.setNextAnswer(mrNo);
    EXPECT_FALSE(DeleteCurrentInvoice(*dm, dialogs));
    EXPECT_EQ(dialogs.questions.last(), "Удалить накладную № 4711?");
    dialogs.setNextAnswer(mrYes);
    EXPECT_TRUE(DeleteCurrentInvoice(*dm, dialogs));
    EXPECT_TRUE(rows("SELECT ID FROM NAKLAD UNION ALL SELECT ID FROM NAKLADL").isEmpty());
    EXPECT_EQ(dm->NakladSet()->RecordCount(), 0);
    EXPECT_FALSE(DeleteCurrentInvoice(*dm, dialogs)); // nothing left: no question
    EXPECT_TRUE(dir.exists("Data/NakladArch/n0107_4711.dbf"));
}

// Left on the server, documents are fetched once: the next fetch skips the
// defecture by its number and an invoice whose file name carries another
// number than its content by the number and date inside; the button still
// reports two zeros. A locally deleted invoice is fetched again, its archived
// file kept.
TEST_F(FetchFixture, DocumentsLeftOnTheServerAreFetchedOnce)
{
    settings.LeaveDocsOnServer = true;
    writeDefecture(defectDir() + "d501.dbf", {{{}, "Аспирин", 3}});
    writeInvoice(invoiceDir() + "n1_99.dbf", "4711", "05.12.2026", {{"777", "Анальгин", 2}});
    writeInvoice(invoiceDir() + "n1_4712.dbf", "4712", "06.12.2026", {{"5", "Йод", 1}});

    EXPECT_EQ(fetch->FetchDocuments(false, 2, 0).documents, 2);
    EXPECT_TRUE(server.commands("DELE").isEmpty());
    // Without the option the producer price is the one without VAT.
    EXPECT_EQ(rows("SELECT DISTINCT PRICE_PR FROM NAKLADL"), QStringList{"50"});
    EXPECT_EQ(QDir(invoiceDir()).count(), 4u); // ".", "..", two files

    server.clearCommands();
    dialogs.notices.clear();
    fetch->FetchDocuments(false, 2, 0);
    EXPECT_TRUE(dialogs.notices.isEmpty());
    fetch->FetchDocuments(true, 2, 0);
    EXPECT_EQ(dialogs.notices, QStringList{report(0, 0)});
    EXPECT_TRUE(log.details.contains("Дефектура d501.dbf уже есть в базе"));
    EXPECT_TRUE(log.details.contains("Накладная n1_99.dbf уже есть в базе"));
    EXPECT_TRUE(log.details.contains("Накладная n1_4712.dbf уже есть в базе"));
    EXPECT_EQ(server.commands("RETR"), (QStringList{"RETR n1_99.dbf", "RETR n1_99.dbf"}));
    EXPECT_EQ(rows("SELECT NUMBR FROM NAKLAD ORDER BY NUMBR"), (QStringList{"4711", "4712"}));
    EXPECT_EQ(rows("SELECT NUMBR FROM DEFECT"), QStringList{"501"});

    // Deleted here, still on the server: it comes again; the archive keeps
    // the first file and the new download stays in Data.
    dir.writeBytes("Data/NakladArch/n1_4712.dbf", "first copy");
    dm->ExecSQL("DELETE FROM NAKLADL WHERE ID = (SELECT ID FROM NAKLAD WHERE NUMBR = '4712')", false);
    dm->ExecSQL("DELETE FROM NAKLAD WHERE NUMBR = '4712'", true);
    dialogs.notices.clear();
    fetch->FetchDocuments(false, 2, 0);
    EXPECT_EQ(dialogs.notices, QStringList{report(0, 1)});
    EXPECT_EQ(dir.readBytes("Data/NakladArch/n1_4712.dbf"), QByteArray("first copy"));
    EXPECT_TRUE(dir.exists("Data/n1_4712.dbf"));
}

// A broken file leaves nothing in the database, is reported with its step and
// stays on the server for the next fetch; the good files around it arrive.
// Names that would leave their folder are never fetched. Without a selected
// address, every address's folders are visited.
TEST_F(FetchFixture, BrokenFilesAreRolledBackAndHostileNamesSkipped)
{
    writeDefecture(defectDir() + "d1.dbf", {{{}, "Аспирин", 3}, {{}, "Бинт", 1}}, /*withCount*/ false);
    writeDefecture(defectDir() + "d2.dbf", {{{}, "Вата", 5}});
    writeDefecture(defectDir() + "x\\d3.dbf", {{{}, "Йод", 1}});
    writeInvoice(invoiceDir() + "n1_5.dbf", "5", "05.12.2026", {{"1", "Вата", 1}, {"2", "Йод", 1}}, /*withKol*/ false);
    writeInvoice(invoiceDir() + "n1_6.dbf", "6", "31.02.2026", {{"1", "Вата", 1}});
    writeInvoice(invoiceDir() + "..\\n1_7.dbf", "7", "05.12.2026", {{"1", "Вата", 1}});
    writeInvoice(invoiceDir() + "n1..8.dbf", "8", "05.12.2026", {{"1", "Вата", 1}});
    QDir().mkpath(server.home(kCode) + "/Defect/77");

    const auto result = fetch->FetchDocuments(true, 2, -1);
    EXPECT_EQ(result.defectures, 1);
    EXPECT_EQ(result.documents, 0);
    ASSERT_EQ(dialogs.notices.size(), 1);
    EXPECT_TRUE(dialogs.notices[0].startsWith(report(1, 0) + "\n\rНе загружены и оставлены на сервере: "))
        << dialogs.notices[0].toStdString();
    for (const QString &name : QStringList{"d1.dbf", "n1_5.dbf", "n1_6.dbf"})
        EXPECT_TRUE(dialogs.notices[0].contains(name)) << name.toStdString();
    EXPECT_FALSE(dialogs.notices[0].contains("d2.dbf"));

    EXPECT_EQ(rows("SELECT ID, NUMBR FROM DEFECT"), QStringList{"1|2"});
    EXPECT_EQ(rows("SELECT TOVAR FROM DEFECTL"), QStringList{"Вата"});
    EXPECT_TRUE(rows("SELECT ID FROM NAKLAD UNION ALL SELECT ID FROM NAKLADL").isEmpty());
    EXPECT_TRUE(errorLogged("(получение дефектур)"));
    EXPECT_TRUE(errorLogged("(получение накладных)"));
    EXPECT_TRUE(errorLogged("31.02.2026"));

    // Only the imported file left the server; the broken ones wait there.
    EXPECT_EQ(server.commands("DELE"), QStringList{"DELE d2.dbf"});
    for (const QString &f : QStringList{defectDir() + "d1.dbf", invoiceDir() + "n1_5.dbf", invoiceDir() + "n1_6.dbf"})
        EXPECT_TRUE(QFile::exists(f)) << f.toStdString();

    // The hostile names: logged, never asked for, nothing written outside Data.
    for (const QString &name : QStringList{"x\\d3.dbf", "..\\n1_7.dbf", "n1..8.dbf"})
        EXPECT_TRUE(log.contains(name, Warning)) << name.toStdString();
    QStringList retr = server.commands("RETR");
    retr.sort();
    EXPECT_EQ(retr, (QStringList{"RETR d1.dbf", "RETR d2.dbf", "RETR n1_5.dbf", "RETR n1_6.dbf"}));
    EXPECT_FALSE(dir.exists("n1_7.dbf"));
    EXPECT_FALSE(dir.exists("d3.dbf"));

    // Both addresses were visited (the client code only stands in for a single one).
    EXPECT_EQ(foldersVisited(), (QStringList{"CWD \\Defect\\1234", "CWD \\Naklad\\1234", "CWD \\Defect\\77",
                                                   "CWD \\Naklad\\77"}));

    // Mended on the server, the invoice arrives at the next fetch.
    writeInvoice(invoiceDir() + "n1_5.dbf", "5", "05.12.2026", {{"1", "Вата", 1}, {"2", "Йод", 1}});
    EXPECT_EQ(fetch->FetchDocuments(false, 2, 0).documents, 1);
    EXPECT_EQ(rows("SELECT LINENO, IDTOVAR FROM NAKLADL ORDER BY LINENO"), (QStringList{"1|1_1", "2|2_2"}));
}

// A listed name with a control character or a wildcard names no one file:
// it is skipped with a warning, the names after it are fetched as usual, and
// no mask is ever sent to be deleted.
TEST_F(FetchFixture, NamesWithControlCharactersOrWildcardsAreSkipped)
{
    writeDefecture(defectDir() + "d\x1b" "1.dbf", {{{}, "Йод", 1}});
    writeDefecture(defectDir() + "d2.dbf", {{{}, "Вата", 5}});
    {
        QFile star(invoiceDir() + "*.*");
        ASSERT_TRUE(star.open(QIODevice::WriteOnly));
        star.write("every file");
    }
    writeInvoice(invoiceDir() + "n1_\x1b" "4.dbf", "4", "05.12.2026", {{"1", "Вата", 1}});
    writeInvoice(invoiceDir() + "n1_5.dbf", "5", "05.12.2026", {{"1", "Вата", 1}});

    const auto result = fetch->FetchDocuments(true, 2, 0);
    EXPECT_EQ(result.defectures, 1);
    EXPECT_EQ(result.documents, 1);
    EXPECT_EQ(dialogs.notices, QStringList{report(1, 1)});
    QStringList deleted = server.commands("DELE");
    deleted.sort();
    EXPECT_EQ(deleted, (QStringList{"DELE d2.dbf", "DELE n1_5.dbf"}));
    for (const QString &name : QStringList{"d\x1b" "1.dbf", "*.*", "n1_\x1b" "4.dbf"})
        EXPECT_TRUE(log.contains(name, Warning)) << name.toStdString();
    EXPECT_TRUE(QFile::exists(invoiceDir() + "*.*"));
    EXPECT_FALSE(QFile::exists(invoiceDir() + "n1_5.dbf"));
}

// A long listing says how far it has come, keeps the window painted between
// the names, and ends at the next name once the exchange is cancelled (the
// program is closing), without a summary to answer.
TEST_F(FetchFixture, LongListingShowsProgressAndCanBeCancelled)
{
    constexpr int kNames = 400;
    for (int i = 1; i <= kNames; ++i) {
        QFile f(defectDir() + QStringLiteral("d%1.dbf").arg(i));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        dm->ExecSQL(QStringLiteral("INSERT INTO DEFECT (ID, NUMBR) VALUES (%1, '%1')").arg(i), false);
    }
    dm->Commit();
    int idle = 0;
    connection->setIdleHook([&] {
        if (++idle == 250)
            connection->cancelExchange();
    });
    const auto result = fetch->FetchDocuments(true, 2, 0);
    EXPECT_EQ(result.defectures, 0);
    EXPECT_TRUE(dialogs.notices.isEmpty()) << dialogs.notices.join("|").toStdString();
    EXPECT_TRUE(log.contains("Получение дефектур и накладных прервано", Warning));
    const int looked = int(log.details.filter("Загрузка дефектуры ").size());
    EXPECT_GT(looked, 0);
    EXPECT_LT(looked, kNames);
    EXPECT_FALSE(foldersVisited().contains("CWD \\Naklad\\1234"));
    EXPECT_FALSE(connection->isConnected());

    // Not cancelled, the whole list goes through with "N из M" in the wait window.
    connection->allowExchange();
    connection->setIdleHook({});
    dialogs.waits.clear();
    fetch->FetchDocuments(false, 2, 0);
    EXPECT_FALSE(dialogs.waits.filter(QStringLiteral(" из %1").arg(kNames)).isEmpty()) << dialogs.waits.join("|").toStdString();
}

// A document cut short in transfer is not imported in part: it stays on the
// server and the summary names it; when every document failed the summary
// says so rather than "0 received". Records marked deleted are imported like
// any other, and cells that cannot be read are counted in the message pane.
TEST_F(FetchFixture, DamagedDocumentsStayOnTheServerAndAreNamed)
{
    auto cut = [](const QString &path, int keepRecords) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const QByteArray head = f.read(12);
        const int headerLength = qFromLittleEndian<quint16>(head.constData() + 8);
        const int recordLength = qFromLittleEndian<quint16>(head.constData() + 10);
        ASSERT_TRUE(f.resize(headerLength + qint64(keepRecords) * recordLength + recordLength / 3));
    };
    std::vector<Line> lines;
    for (int i = 0; i < 300; ++i)
        lines.push_back({QString::number(i), QStringLiteral("Товар %1").arg(i), 1});
    writeInvoice(invoiceDir() + "n1_9.dbf", "9", "05.12.2026", lines);
    cut(invoiceDir() + "n1_9.dbf", 60);
    writeDefecture(defectDir() + "d7.dbf", {{{}, "Аспирин", 3}, {{}, "Бинт", 1}, {{}, "Вата", 2}});
    cut(defectDir() + "d7.dbf", 2);
    writeDefecture(defectDir() + "d8.dbf", {{{}, "Йод", 4}, {{}, "Зелёнка", 2, true}, {{}, "Пластырь", QByteArray("x")}});
    writeInvoice(invoiceDir() + "n1_10.dbf", "10", "05.12.2026",
                 {{"1", "Анальгин", 2}, {"2", "Цитрамон", 1, true, QByteArray("1O,5")}});

    const auto result = fetch->FetchDocuments(false, 2, 0);
    EXPECT_EQ(result.defectures, 1);
    EXPECT_EQ(result.documents, 1);
    QStringList failed = result.failed;
    failed.sort();
    EXPECT_EQ(failed, (QStringList{"d7.dbf", "n1_9.dbf"}));
    ASSERT_EQ(dialogs.notices.size(), 1);
    EXPECT_TRUE(dialogs.notices[0].startsWith(report(1, 1) + "\n\rНе загружены и оставлены на сервере: "));
    EXPECT_TRUE(dialogs.notices[0].contains("d7.dbf") && dialogs.notices[0].contains("n1_9.dbf"))
        << dialogs.notices[0].toStdString();
    EXPECT_TRUE(errorLogged("повреждён: файл обрезан"));

    // Nothing of the cut files; every record of the whole ones, the deleted
    // ones included, an unreadable cell empty and counted.
    EXPECT_EQ(rows("SELECT NUMBR FROM DEFECT"), QStringList{"8"});
    EXPECT_EQ(rows("SELECT TOVAR, QNT FROM DEFECTL ORDER BY TOVAR"),
              (QStringList{"Зелёнка|2", "Йод|4", "Пластырь|0"}));
    EXPECT_EQ(rows("SELECT NUMBR FROM NAKLAD"), QStringList{"10"});
    EXPECT_EQ(rows("SELECT IDTOVAR, PRICE FROM NAKLADL ORDER BY LINENO"), (QStringList{"1_1|110", "2_2|0"}));
    EXPECT_TRUE(log.contains("Дефектура d8.dbf: не прочитаны значения (загружены пустыми): COUNT: 1", Warning));
    EXPECT_TRUE(log.contains("Накладная n1_10.dbf: не прочитаны значения (загружены пустыми): CWNDS: 1", Warning));
    QStringList deleted = server.commands("DELE");
    deleted.sort();
    EXPECT_EQ(deleted, (QStringList{"DELE d8.dbf", "DELE n1_10.dbf"}));
    EXPECT_TRUE(QFile::exists(defectDir() + "d7.dbf"));
    EXPECT_TRUE(QFile::exists(invoiceDir() + "n1_9.dbf"));

    // Only the damaged ones left: the summary says nothing arrived and why.
    dialogs.notices.clear();
    const auto again = fetch->FetchDocuments(false, 2, 0);
    EXPECT_EQ(again.defectures + again.documents, 0);
    ASSERT_EQ(dialogs.notices.size(), 1);
    EXPECT_TRUE(dialogs.notices[0].startsWith("Документы не получены: не удалось загрузить ни один из них ("))
        << dialogs.notices[0].toStdString();
    EXPECT_TRUE(dialogs.notices[0].contains("d7.dbf") && dialogs.notices[0].contains("n1_9.dbf"));
    EXPECT_FALSE(dialogs.notices[0].contains("Получено"));
}

// A full disk while documents are downloaded: no document counts as received,
// none is deleted on the server, no part of one is left on the disk, and the
// log says the disk is full. With room again they arrive.
TEST_F(FetchFixture, DocumentsNotStoredWholeStayOnTheServer)
{
    std::vector<Line> lines;
    for (int i = 0; i < 40; ++i)
        lines.push_back({QString::number(i), QStringLiteral("Товар %1").arg(i), 1});
    writeInvoice(invoiceDir() + "n1_5.dbf", "5", "05.12.2026", lines);
    writeDefecture(defectDir() + "d6.dbf", {{{}, "Аспирин", 3}});
    {
        QFile other(invoiceDir() + "letter.txt");
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write(QByteArray(6000, 'x'));
    }
    // Room for the first 4 KB of any file.
    pc::setFileFaultHook([](FileStep step, const QString &, qint64 written) {
        return step == FileStep::Write && written > 4096 ? ENOSPC : 0;
    });
    auto result = fetch->FetchDocuments(true, 2, 0);
    pc::setFileFaultHook({});
    EXPECT_EQ(result.documents, 0);
    QStringList failed = result.failed;
    failed.sort();
    EXPECT_EQ(failed, (QStringList{"letter.txt", "n1_5.dbf"}));
    EXPECT_EQ(result.defectures, 1); // a small one still fits
    EXPECT_TRUE(errorLogged("на диске нет места"));
    EXPECT_EQ(server.commands("DELE"), QStringList{"DELE d6.dbf"});
    EXPECT_TRUE(QFile::exists(invoiceDir() + "n1_5.dbf"));
    EXPECT_TRUE(QFile::exists(invoiceDir() + "letter.txt"));
    EXPECT_TRUE(rows("SELECT NUMBR FROM NAKLAD").isEmpty());
    EXPECT_FALSE(dir.exists("Data/n1_5.dbf"));
    EXPECT_EQ(QDir(dir.file("Data")).entryList(QDir::Files | QDir::Hidden).filter(".~"), QStringList());
    EXPECT_EQ(QDir(dir.file("Data/NakladOther")).entryList(QDir::Files | QDir::Hidden), QStringList());

    result = fetch->FetchDocuments(true, 2, 0);
    EXPECT_EQ(result.documents, 2);
    EXPECT_EQ(rows("SELECT NUMBR FROM NAKLAD"), QStringList{"5"});
    EXPECT_EQ(QFile(dir.file("Data/NakladOther/letter.txt")).size(), 6000);
}
