// What the pharmacist reads on the main window, also through a screen
// reader: labels whose text changes are read as that text, the captions and
// invoice list titles, the busy cursor while sending and pricing.
#include "WindowFixture.h"
#include "FtpTestServer.h"
#include "GuiTest.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "app/MainForm.h"
#include "core/PriceMask.h"
#include "db/DataModule.h"
#include "ui/AskMessageDialog.h"
#include "ui/PriceGridBinder.h"
#include "ui_MainForm.h"

#include <QAccessible>
#include <QDir>
#include <QHeaderView>
#include <QLocale>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include "ui/PriceGridBinder.h"

namespace {

QString accessibleText(QWidget *widget, QAccessible::Text what = QAccessible::Name)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(what) : QStringLiteral("<no interface>");
}

int overrideShape()
{
    const QCursor *c = QApplication::overrideCursor();
    return c ? int(c->shape()) : -1;
}

// Dialogs that also note the cursor shown while the wait window goes up.
struct CursorDialogs : ScriptedDialogs {
    QList<int> cursorAtWait;
    void showWait(const QString &text, int picture = 0) override
    {
        cursorAtWait << overrideShape();
        ScriptedDialogs::showWait(text, picture);
    }
};

struct TextsFixture : WindowFixtureOf<CursorDialogs> {
    void TearDown() override
    {
        WindowFixtureOf<CursorDialogs>::TearDown();
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "a busy cursor was left on";
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }
};

} // namespace

// The totals after typing a quantity, the price date and the other labels
// whose text changes are read as their text; what they are is their description.
TEST_F(TextsFixture, ChangingLabelsAreReadAsTheirText)
{
    form->show();
    form->LoadSettings();
    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('1', 'Аспирин', '01.01.2027', 12.5, 0, 10)", true);
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    QTest::sendKeyEvent(QTest::Click, form->ui->dbgrdPrice, Qt::Key_3, QStringLiteral("3"), Qt::NoModifier);
    // The digit is typed once the keys pause (it might have begun a scan).
    form->priceBinder->flushHeldDigits();
    EXPECT_EQ(accessibleText(form->ui->lblTotals), "Заказ: 1 поз. На сумму 37,5");
    EXPECT_EQ(accessibleText(form->ui->lblTotals, QAccessible::Description), "Итоги заказа");

    form->settings.PriceDate = "07.12.2026 08:15:30";
    form->RefreshTitle();
    EXPECT_EQ(accessibleText(form->ui->lbPriceDate), "Прайс от :     07.12.2026 08:15:30");
    EXPECT_EQ(accessibleText(form->ui->lbPriceDate, QAccessible::Description), "Дата прайса");

    const std::pair<QLabel *, QString> others[] = {{form->ui->lblGoodInfo, "Сведения о товаре"},
                                                   {form->ui->lblOrder, "Заявка дефектуры"},
                                                   {form->ui->lblProgress, "Ход загрузки"}};
    for (const auto &[label, role] : others) {
        label->setText("Заявка от 01.12.2026");
        EXPECT_EQ(accessibleText(label), "Заявка от 01.12.2026") << label->objectName().toStdString();
        EXPECT_EQ(accessibleText(label, QAccessible::Description), role);
    }

    // The start page is read as the page itself.
    form->BuildStartPage();
    EXPECT_TRUE(form->ui->wbStartPage->toPlainText().contains("Текущая заявка не завершена"));
    EXPECT_EQ(accessibleText(form->ui->wbStartPage, QAccessible::Value), form->ui->wbStartPage->toPlainText());
    EXPECT_NE(accessibleText(form->ui->wbStartPage), "Начальная страница");
    EXPECT_EQ(accessibleText(form->ui->wbStartPage, QAccessible::Description), "Начальная страница");
    // An icon-only button is named by what it does.
    EXPECT_EQ(accessibleText(form->ui->btnPriceFilterClear), "Очистить фильтр");
    EXPECT_EQ(accessibleText(form->ui->wbTopPanel), "Верхняя панель");
}

// The question window's message is read as it stands, for a question and a
// notice; the window shows the ordinary pointer even while the program is busy.
TEST(QuestionWindowTexts, MessageIsReadAndThePointerIsOrdinaryWhileAsking)
{
    TdlgAskMessage dialog;
    QString name, description;
    int shapeWhileAsking = -2;
    whenModalOpens([&](QWidget *w) {
        name = accessibleText(dialog.lblText);
        description = accessibleText(dialog.lblText, QAccessible::Description);
        shapeWhileAsking = overrideShape();
        static_cast<TdlgAskMessage *>(w)->btnYes->click();
    });
    QApplication::setOverrideCursor(Qt::WaitCursor);
    EXPECT_EQ(dialog.AskQuestion("Закрыть программу?", false, false), mrYes);
    EXPECT_EQ(name, "Закрыть программу?");
    EXPECT_EQ(description, "Текст сообщения");
    EXPECT_EQ(shapeWhileAsking, int(Qt::ArrowCursor));
    EXPECT_EQ(overrideShape(), int(Qt::WaitCursor)); // busy again afterwards
    QApplication::restoreOverrideCursor();

    whenModalOpens([&](QWidget *w) {
        name = accessibleText(dialog.lblText);
        shapeWhileAsking = overrideShape();
        static_cast<TdlgAskMessage *>(w)->btnOk->click();
    });
    EXPECT_EQ(dialog.ShowNotice("Прайс удачно обновлен!"), mrOk);
    EXPECT_EQ(name, "Прайс удачно обновлен!");
    EXPECT_EQ(shapeWhileAsking, -1); // no cursor forced when nothing is busy
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Captions as the pharmacist knows them, and an import that keeps the
// pharmacy's own file unless asked otherwise.
TEST_F(TextsFixture, CaptionsAndTheImportDefault)
{
    auto *ui = form->ui;
    EXPECT_EQ(ui->lblOrderComment->text(), "Комментарий к заявке:");
    EXPECT_EQ(ui->chkDeleteOrderImport->text(), "Удалять заказ после загрузки в программу");
    EXPECT_TRUE(ui->lblTotals->font().bold());
    form->LoadSettings(); // no exchange.ini
    EXPECT_FALSE(ui->chkDeleteOrderImport->isChecked());
    EXPECT_FALSE(form->settings.DeleteOrderImport);
}

// The invoice list shows its titles and the read mark, not the key or the stored flag.
TEST_F(TextsFixture, InvoiceListShowsItsTitledColumns)
{
    form->LoadSettings();
    form->DM->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, NAKLDATE, ISREAD) VALUES (17, 'Н-7', '05.12.2026', 1)", false);
    form->DM->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA, PRICE_APT) "
                      "VALUES (17, 1, '1', 'Аспирин', 2, 50, 100, 60)",
                      true);
    form->DM->NakladSet()->Refresh();
    QAbstractItemModel *list = form->ui->dbgNaklad->model();
    ASSERT_NE(list, nullptr);
    QStringList titles, values;
    for (int c = 0; c < list->columnCount(); ++c) {
        if (form->ui->dbgNaklad->isColumnHidden(c))
            continue;
        titles << list->headerData(c, Qt::Horizontal).toString();
        values << list->index(0, c).data().toString();
    }
    EXPECT_EQ(titles, QStringList({"Дата", "№ накл.", "Сумма", "Сумма апт.", "Просмотрена"}));
    EXPECT_EQ(values, QStringList({"05.12.2026", "Н-7", "100", "120", "V"}));
}

// A screen reader reads each column title as the caption itself: no hidden
// character marks where a title may wrap, in any grid.
TEST_F(TextsFixture, ColumnTitlesAreReadAsTheirCaptions)
{
    form->LoadSettings();
    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('1', 'Аспирин', '01.01.2027', 12.5, 0, 10)", true);
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    form->resize(1024, 768);
    form->show();
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    QCoreApplication::processEvents();

    QTableView *grid = form->ui->dbgrdPrice;
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(grid);
    ASSERT_TRUE(table && table->tableInterface());
    QStringList read;
    for (int c = 0; c < grid->model()->columnCount(); ++c) {
        QAccessibleInterface *cell = table->tableInterface()->cellAt(0, c);
        ASSERT_TRUE(cell && cell->tableCellInterface()) << c;
        const QList<QAccessibleInterface *> headers = cell->tableCellInterface()->columnHeaderCells();
        ASSERT_EQ(headers.size(), 1) << c;
        read << headers.first()->text(QAccessible::Name);
    }
    EXPECT_EQ(read, QStringList({"ЖВНЛС", "Наименование", "Производитель", "Цена", "Ц.стар.", "Заказ", "Заказ стар.", "Сумма",
                                 "Зарег.цена", "Остаток", "Ср.годности", "Кратность партии", "Мин.заказ", "Кол.в уп.",
                                 "Рег.уд.", "НДС", "Ц. аптеки"}));
    // "Кратность партии" is wider than its column: it shows on two lines.
    EXPECT_GE(grid->horizontalHeader()->height(), 2 * grid->horizontalHeader()->fontMetrics().lineSpacing());

    for (QTableView *view : form->findChildren<QTableView *>())
        for (int c = 0; view->model() && c < view->model()->columnCount(); ++c)
            EXPECT_FALSE(view->model()->headerData(c, Qt::Horizontal).toString().contains(QChar(0x200B)))
                << view->objectName().toStdString() << " " << c;
}

// The hourglass while the invoice is priced; the orders go up on their own
// thread with the receive panel shown, the window keeping its ordinary cursor.
TEST_F(TextsFixture, BusyCursorWhilePricingAndSending)
{
    pc::test::FtpTestServer server({{{"55", "pw"}, {"Order", "nulpet"}}});
    dir.writeText("server.ini", QString("[Header]\nServerAdress=127.0.0.1\nServerPort=%1\n").arg(server.port()));
    dir.writeText("client.ini", "[Header]\nClientCode=55\nClientPass=pw\nAskSendLog=1\n");
    form->LoadSettings();
    form->DM->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, ISREAD) VALUES (7, 'Н-7', 0)", false);
    form->DM->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA) VALUES (7, 1, '1', 'Бинт', 1, 10, 10)", true);
    form->DM->NakladSet()->Refresh();
    form->ui->edAptekaPercent->setText("25");
    form->ui->btnSetPriceApt->click();
    EXPECT_EQ(dialogs.waits, QStringList({"Подождите несколько секунд..."}));
    EXPECT_EQ(dialogs.cursorAtWait, QList<int>({int(Qt::WaitCursor)}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    form->DM->ExecSQL("INSERT INTO ORDERS (ID, STATUS, DATET, SUMMA) VALUES (1, 0, '01.12.2026', 10)", false);
    form->DM->ExecSQL(QString("INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, QNT, PRICE, SUMMA) VALUES (1, 'A', 'Аспирин', 1, %1, %1)")
                          .arg(MaskPriceValue(10, "55"), 0, 'f', 2),
                      true);
    QList<int> cursorWhileUploading;
    struct PanelWatch : QObject {
        QList<int> &seen;
        explicit PanelWatch(QList<int> &s) : seen(s) {}
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::ShowToParent)
                seen << overrideShape();
            return false;
        }
    } watch(cursorWhileUploading);
    form->ui->RecivePanel->installEventFilter(&watch);
    dialogs.setNextAnswer(mrYes); // the price list here is not today's: send anyway
    dialogs.setNextAnswer(mrYes); // one order from the archive
    form->ui->btnSendOrder->click();
    ASSERT_TRUE(waitFor([&] { return !form->busy(); }, 30000));
    form->ui->RecivePanel->removeEventFilter(&watch);
    EXPECT_TRUE(dialogs.notices.contains("Было отправлено 1 заявок  на сумму 10")) << dialogs.notices.join("|").toStdString();
    EXPECT_EQ(cursorWhileUploading, QList<int>({-1}));
    EXPECT_TRUE(form->ui->RecivePanel->isHidden());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
