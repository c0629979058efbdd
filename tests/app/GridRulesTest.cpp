// The main window's grids and boxes under the rules of the pages: no in-place
// editor bypasses order entry, archived order lines sum the prices the
// pharmacy saw (on screen and on paper), the markup box takes either decimal
// separator.
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "app/MainForm.h"
#include "core/PriceMask.h"
#include "db/DataModule.h"
#include "documents/Printing.h"
#include "platform/Process.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPrinter>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct GridRules : ::testing::Test {
    TempAppDir dir;
    std::unique_ptr<TMainForm> form;
    ScriptedDialogs dialogs;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        form = std::make_unique<TMainForm>(dir.path());
        form->setDialogs(&dialogs);
        form->LoadSettings();
        dialogs.notices.clear();
    }
    void TearDown() override
    {
        form->closeWithoutAsking = true;
        form.reset();
        QLocale::setDefault(QLocale::c());
    }
    qint64 scalar(const QString &sql) { return form->DM->OpenQuery(sql)->Fields(0).AsLargeInt(); }
};

} // namespace

// 12 × 16 928,08 is 203 136,96 on the archive page, in the order a defecture
// answers, and on the printed order (the stored sum is masked and not shown).
TEST_F(GridRules, ArchivedLinesSumTheShownPriceOnScreenAndOnPaper)
{
    form->settings.ClientCode = "1234"; // the stored prices and sums are masked with it
    const double stored = MaskPriceValue(16928.08, form->settings.ClientCode);
    form->DM->ExecSQL("INSERT INTO ORDERS (ID, DATET, ORDERTIME, STATUS, SUMMA) VALUES (3, '04.12.2026', '09:15', 1, 0)", false);
    form->DM->ExecSQL(QStringLiteral("INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, PRODUCT, QNT, PRICE, SUMMA) "
                                     "VALUES (3, '1', 'Йод', 'Фарм', 12, %1, %2)")
                          .arg(stored, 0, 'f', 6)
                          .arg(12 * stored, 0, 'f', 6),
                      false);
    form->DM->ExecSQL("INSERT INTO DEFECT (ID, NUMBR) VALUES (1, '3')", true);
    form->DM->OrdersSet()->Refresh();
    form->DM->OrdersSet()->Last();
    form->DM->DefectTable()->Refresh();
    form->DM->DefectTable()->First();
    for (QTableView *view : {form->ui->OrdersLinesGrid, form->ui->dbgDefectOrder}) {
        QAbstractItemModel *lines = view->model();
        ASSERT_EQ(lines->rowCount(), 1) << view->objectName().toStdString();
        EXPECT_EQ(lines->index(0, 3).data().toString(), "16928,08");
        EXPECT_EQ(lines->index(0, 4).data().toString(), "203136,96") << view->objectName().toStdString();
    }

    form->Printer->askPrinter = [this](QPrinter &p) {
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(dir.file("order.pdf"));
        p.setResolution(300);
        return true;
    };
    form->btnPrintOrderClick();
    const QString tool = pc::findProgram("pdftotext", QString());
    ASSERT_FALSE(tool.isEmpty());
    const pc::RunResult r = pc::runAndWait(tool, {"-layout", dir.file("order.pdf"), dir.file("order.txt")}, dir.path());
    ASSERT_EQ(r.exitCode, 0);
    QFile text(dir.file("order.txt"));
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QString printed = QString::fromUtf8(text.readAll()).simplified();
    EXPECT_TRUE(printed.contains("Йод Фарм 12 16928,08 203136,96")) << printed.toStdString();
}

