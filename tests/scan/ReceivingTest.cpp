// Receiving an invoice by scanning its packs: lines found by bar code, batch
// and expiry; counts stored at once, kept over a restart, added up by two
// workstations; the discrepancies.
#include "OtherConnection.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "db/DataModule.h"
#include "db/firebird/Statement.h"
#include "documents/Receiving.h"

#include <QLocale>
#include <QThread>
#include <gtest/gtest.h>

using namespace pc;

namespace {

#define GS "\x1d"

struct ReceivingFixture : ::testing::Test {
    TempAppDir dir;
    AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    std::unique_ptr<TDM> dm;
    ManualClock clock;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        dm = open();
        // Invoice 7: three lines; 4601234567893 comes in two batches.
        addLine(1, "4607001771234", "Аспирин", "A1", QDate(2028, 5, 31), 2);
        addLine(2, "4601234567893", "Бинт", "B1", QDate(2028, 1, 31), 1);
        addLine(3, "4601234567893", "Бинт", "B2", QDate(2029, 1, 31), 1);
        addLine(4, "96385074", "Вата", "", QDate(2027, 3, 1), 3);
        dm->Commit();
    }
    void TearDown() override
    {
        dm.reset();
        QLocale::setDefault(QLocale::c());
    }
    std::unique_ptr<TDM> open()
    {
        auto m = std::make_unique<TDM>(context, dialogs, log);
        m->CreateFirebirdObjects();
        m->OpenDatabase();
        return m;
    }
    void addLine(int lineNo, const QString &ean, const QString &name, const QString &series, QDate expiry, int qnt)
    {
        std::unique_ptr<fb::Statement> q = dm->CreateQuery(
            "INSERT INTO NAKLADL (LINENO, ID, IDTOVAR, TOVAR, SERIES, QNT, SROKGODN, EAN) VALUES (?, 7, ?, ?, ?, ?, ?, ?)");
        q->setValue(0, lineNo);
        q->setValue(1, QStringLiteral("10%1_%2").arg(lineNo).arg(lineNo));
        q->setValue(2, name);
        q->setValue(3, series);
        q->setValue(4, qnt);
        q->setValue(5, expiry);
        q->setValue(6, ean);
        q->execute();
    }
    std::unique_ptr<InvoiceReceipt> receipt(TDM &m)
    {
        auto r = std::make_unique<InvoiceReceipt>(m, 7, clock);
        r->scanOptions.referenceYear = 2026;
        r->Load();
        return r;
    }
    qint64 committed(const QString &sql) { return test::committedScalar(dm->DatabaseFile(), sql); }
};

} // namespace

TEST_F(ReceivingFixture, EachScanFindsItsLineAndSaysHowItWent)
{
    clock.day = QDate(2026, 12, 8);
    auto r = receipt(*dm);
    ASSERT_EQ(r->InvoiceLines(), 4);
    EXPECT_EQ(r->SummaryText(), "принято 0 из 4 позиций");

    ScanOutcome o = r->Receive("4607001771234");
    EXPECT_EQ(o.verdict, ScanVerdict::Expected) << o.text.toStdString();
    EXPECT_EQ(o.line, 0);
    EXPECT_EQ(o.text, "Аспирин: принято 1 из 2");
    EXPECT_EQ(committed("SELECT QNT FROM RECEIVED WHERE ID = 7 AND LINENO = 1"), 1); // stored at once

    // The DataMatrix's batch and expiry pick the line of that batch.
    o = r->Receive("]d20104601234567893" "17290131" "10B2" GS "21SN1");
    EXPECT_EQ(o.verdict, ScanVerdict::Expected) << o.text.toStdString();
    EXPECT_EQ(o.line, 2);
    // A batch the invoice does not name: yellow, counted on a line still open.
    o = r->Receive("]d20104601234567893" "17290131" "10B9" GS "21SN2");
    EXPECT_EQ(o.verdict, ScanVerdict::Differs);
    EXPECT_EQ(o.line, 1);
    EXPECT_EQ(o.text, "Бинт: серия B9, годен до 31.01.2029, по накладной серия B1, годен до 31.01.2028");
    // More packs than invoiced: red.
    EXPECT_EQ(r->Receive("4607001771234").verdict, ScanVerdict::Expected);
    o = r->Receive("4607001771234");
    EXPECT_EQ(o.verdict, ScanVerdict::Rejected);
    EXPECT_EQ(o.text, "Аспирин: принято 3, по накладной 2 — больше, чем в накладной");
    // Not on this invoice: red, and kept for the act.
    o = r->Receive("4006381333931");
    EXPECT_EQ(o.verdict, ScanVerdict::Rejected);
    EXPECT_EQ(o.text, "Товара с кодом 4006381333931 нет в накладной");
    // Unreadable: red, nothing counted.
    o = r->Receive("4006381333932");
    EXPECT_EQ(o.verdict, ScanVerdict::Unreadable);
    EXPECT_EQ(committed("SELECT COALESCE(SUM(QNT), 0) FROM RECEIVED"), 6);
    // An EAN-8 line, expiring within the limit: yellow with the months left.
    o = r->Receive("96385074");
    EXPECT_EQ(o.verdict, ScanVerdict::Differs);
    EXPECT_EQ(o.text, "Вата: Срок годности до 01.03.2027 (осталось 2 мес.)");
    // Expired by now: red.
    clock.day = QDate(2027, 3, 2);
    EXPECT_EQ(r->Receive("96385074").verdict, ScanVerdict::Rejected);

    // The count typed for a line.
    r->SetCount(3, 3);
    EXPECT_EQ(r->Lines()[3].received, 3);
    EXPECT_EQ(r->SummaryText(), "принято 4 из 4 позиций");

    // Short, over, other batch, not on the invoice.
    r->SetCount(2, 0);
    std::vector<std::pair<InvoiceReceipt::Discrepancy, int>> got;
    for (const auto &d : r->Discrepancies())
        got.emplace_back(d.kind, d.line->lineNo);
    using D = InvoiceReceipt::Discrepancy;
    const std::vector<std::pair<D, int>> want = {{D::Short, 3}, {D::Over, 1}, {D::OtherBatch, 2}, {D::NotOnInvoice, 0}};
    EXPECT_EQ(got, want);
    EXPECT_EQ(r->SummaryText(), "принято 3 из 4 позиций");
}

TEST_F(ReceivingFixture, CountsSurviveARestartAndAddUpAcrossWorkstations)
{
    clock.day = QDate(2026, 12, 8);
    {
        auto r = receipt(*dm);
        r->Receive("4607001771234");
        r->Receive("4006381333931");
    }
    dm.reset(); // the program ends
    dm = open();
    auto first = receipt(*dm);
    EXPECT_EQ(first->Lines()[0].received, 1);
    ASSERT_EQ(first->Lines().size(), 5u);
    EXPECT_EQ(first->Lines()[4].code, "4006381333931");
    EXPECT_EQ(first->Lines()[4].received, 1);

    // A second workstation scans the same line: each adds to the other's count.
    std::unique_ptr<TDM> other = open();
    auto second = receipt(*other);
    EXPECT_EQ(second->Receive("4607001771234").text, "Аспирин: принято 2 из 2");
    EXPECT_EQ(first->Receive("4607001771234").text, "Аспирин: принято 3, по накладной 2 — больше, чем в накладной");
    // A typed count keeps what the other workstation scanned meanwhile.
    second->Receive("96385074");
    first->SetCount(3, 2); // this one saw 0, the other had scanned 1: 0 -> 2 adds 2
    EXPECT_EQ(first->Lines()[3].received, 3);
    EXPECT_EQ(committed("SELECT QNT FROM RECEIVED WHERE ID = 7 AND LINENO = 4"), 3);

    // Both at once, as fast as they can: no pack lost, none counted twice.
    constexpr int kEach = 40;
    std::unique_ptr<TDM> a, b;
    a = open();
    b = open();
    auto ra = receipt(*a), rb = receipt(*b);
    auto run = [](InvoiceReceipt *r) {
        for (int i = 0; i < kEach; ++i)
            r->Receive("4601234567893");
    };
    std::unique_ptr<QThread> ta(QThread::create(run, ra.get())), tb(QThread::create(run, rb.get()));
    // The attachments go with their threads.
    ta->start();
    tb->start();
    ta->wait();
    tb->wait();
    EXPECT_EQ(committed("SELECT SUM(QNT) FROM RECEIVED WHERE ID = 7 AND LINENO IN (2, 3)"), 2 * kEach);
}

#include "documents/ReceivingAct.h"

#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>

TEST_F(ReceivingFixture, TheActOfDiscrepanciesAsPdf)
{
    clock.day = QDate(2026, 12, 8);
    auto r = receipt(*dm);
    r->Receive("4607001771234");                                   // line 1 short by one
    r->Receive("]d20104601234567893" "17290131" "10B2" GS "21S1"); // line 3 as invoiced
    r->Receive("]d20104601234567893" "17280131" "10B7" GS "21S2"); // line 2: another batch
    for (int i = 0; i < 4; ++i)
        r->Receive("96385074"); // line 4 one over
    r->Receive("4006381333931"); // not on the invoice

    QTemporaryDir out;
    const QString pdf = out.filePath("act.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setResolution(300);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    DrawDiscrepancyAct(printer, *r, {"A-17", QDate(2026, 12, 7), "ООО «Фарм-Опт»", "Аптека №5, ул. Ленина, 1"});
    QProcess text;
    text.start("pdftotext", {"-layout", pdf, "-"});
    ASSERT_TRUE(text.waitForFinished(20000));
    const QString t = QString::fromUtf8(text.readAllStandardOutput()).simplified();
    for (const char *want : {"Акт расхождений по накладной № A-17 от 07.12.2026", "Поставщик: ООО «Фарм-Опт»",
                             "Получатель: Аптека №5, ул. Ленина, 1", "принято 3 из 4 позиций", "Недостача",
                             "1 Аспирин A1 31.05.2028 4607001771234 2 1 -1", "Излишек",
                             "4 Вата 01.03.2027 96385074 3 4 +1", "Другая серия или срок годности",
                             "2 Бинт B1 31.01.2028 4601234567893 1 1 1 уп. др. серии/срока", "Нет в накладной",
                             "4006381333931 0 1 +1", "Принял"})
        EXPECT_TRUE(t.contains(QString::fromUtf8(want))) << want << "\n" << t.toStdString();
    EXPECT_FALSE(t.contains("B2")); // the line received as invoiced is no discrepancy
}
