// The main window's grids and boxes under the rules of the pages: no in-place
// editor bypasses order entry, archived order lines sum the prices the
// pharmacy saw (on screen and on paper), the markup box takes either decimal
// separator.
#include "WindowFixture.h"
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

struct GridRules : WindowFixture {
    void SetUp() override
    {
        WindowFixture::SetUp();
        form->LoadSettings();
        dialogs.notices.clear();
    }
    qint64 scalar(const QString &sql) { return form->DM->OpenQuery(sql)->Fields(0).AsLargeInt(); }
};

} // namespace

// F2, a double click or an edit asked for directly open no editor on «Заказ»:
// whatever is typed goes through order entry, capped at the stock, and a minus
// sign is no digit.
TEST_F(GridRules, NoEditorInThePriceGridBypassesOrderEntry)
{
    form->show();
    QApplication::setActiveWindow(form.get());
    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('1', 'Аспирин', '01.01.2027', 10, 0, 10)", true);
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    QTableView *grid = form->ui->dbgrdPrice;
    const QModelIndex cell = grid->model()->index(0, 5); // «Заказ»
    ASSERT_EQ(grid->model()->headerData(5, Qt::Horizontal).toString(), "Заказ");
    grid->setFocus();
    grid->setCurrentIndex(cell);
    EXPECT_FALSE(grid->model()->flags(cell) & Qt::ItemIsEditable);
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);

    // Keys go where the person's typing would go: an editor if one opened.
    auto typeIntoFocus = [grid](const QString &text) {
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : grid;
        QTest::keyClicks(target, text);
        QTest::keyClick(target, Qt::Key_Return);
    };
    auto zakaz = [this] { return scalar("SELECT ZAKAZ FROM PRICE"); };

    QTest::keyClick(grid, Qt::Key_F2);
    EXPECT_EQ(QApplication::focusWidget(), grid);
    typeIntoFocus("500");
    EXPECT_EQ(zakaz(), 10);
    EXPECT_TRUE(dialogs.notices.contains("Кол-во 50 превышает остаток заказываем 10")) << dialogs.notices.join('|').toStdString();

    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
    typeIntoFocus("-5");
    EXPECT_GE(zakaz(), 0);
    EXPECT_LE(zakaz(), 10);

    grid->edit(cell);
    typeIntoFocus("-5");
    EXPECT_GE(zakaz(), 0);
    EXPECT_LE(zakaz(), 10);
    EXPECT_FALSE(grid->model()->setData(cell, 500));
    EXPECT_LE(zakaz(), 10);
    EXPECT_EQ(QApplication::focusWidget(), grid);
}

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

    form->Printer->showDocument = [this](QPrinter &p, const std::function<void(QPrinter &)> &render) {
        p.setOutputFormat(QPrinter::PdfFormat); // in place of the preview
        p.setOutputFileName(dir.file("order.pdf"));
        render(p);
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

// The markup box takes up to three digits, a comma or a point, one digit.
TEST_F(GridRules, MarkupBoxTakesEitherDecimalSeparator)
{
    form->DM->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, ISREAD) VALUES (7, 'Н-7', 0)", false);
    form->DM->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA, STNDS, PRICE_PR, GV) "
                      "VALUES (7, 1, '1', 'Аспирин', 1, 10, 10, 10, 8, 0)",
                      true);
    form->DM->NakladSet()->Refresh();
    QLineEdit *box = form->ui->edAptekaPercent;
    auto type = [box](const QString &text) {
        box->clear();
        QTest::keyClicks(box, text);
        return box->text();
    };
    for (const QString &percent : {QStringLiteral("25.5"), QStringLiteral("25,5")}) {
        EXPECT_EQ(type(percent), percent);
        form->DM->ExecSQL("UPDATE NAKLADL SET PRICE_APT = 0", true);
        EXPECT_NO_THROW(form->btnSetPriceAptClick()) << percent.toStdString();
        EXPECT_EQ(form->DM->OpenQuery("SELECT PRICE_APT FROM NAKLADL")->Fields(0).AsFloat(), 12.55) << percent.toStdString();
    }
    EXPECT_EQ(type("1234"), "123");
    EXPECT_EQ(type("12,34"), "12,3");
    EXPECT_EQ(type("-5x"), "5");
    EXPECT_EQ(type("30,"), "30,");
    EXPECT_NO_THROW(form->btnSetPriceAptClick());
    EXPECT_EQ(form->DM->OpenQuery("SELECT PRICE_APT FROM NAKLADL")->Fields(0).AsFloat(), 13.0);
}
