// A day at the counter without a mouse: the real window at 1024 × 768, only
// key presses sent where the keyboard is (the focused control), the event
// loop running. An order is typed, commented, saved and sent to the test
// FTP server, the archive opened and printed to PDF, and a setting changed
// and saved.
#include "FtpTestServer.h"
#include "GuiTest.h"
#include "OtherConnection.h"
#include "WindowFixture.h"

#include "app/MainForm.h"
#include "core/PriceMask.h"
#include "db/DataModule.h"
#include "platform/IniFile.h"
#include "platform/Process.h"
#include "ui/BrowserWindow.h"
#include "ui/PopupWindow.h"
#include "ui/PriceGridBinder.h"
#include "ui_MainForm.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QTabBar>
#include <QTextBrowser>
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Where a key press of the window system goes: the focused control, else the active window.
QWidget *keyboard()
{
    QWidget *active = QApplication::activeWindow();
    if (QWidget *w = QApplication::focusWidget(); w && (!active || w->window() == active))
        return w;
    return active;
}

void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *w = keyboard();
    ASSERT_NE(w, nullptr);
    QTest::keyClick(w, key, modifiers);
}

// Alt and a letter of the Russian layout: an underlined letter.
void alt(const QString &letter)
{
    QWidget *w = keyboard();
    ASSERT_NE(w, nullptr);
    QTest::sendKeyEvent(QTest::Click, w, Qt::Key(letter.toUpper().at(0).unicode()), QString(), Qt::AltModifier);
}

void type(const QString &text)
{
    for (const QChar c : text) {
        QWidget *w = keyboard();
        ASSERT_NE(w, nullptr);
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
    }
}

std::string focusName()
{
    QWidget *w = QApplication::focusWidget();
    return w ? w->objectName().toStdString() : "none";
}

struct Keyboard : WindowFixture {
    // Started as the pharmacist starts it: shown at the counter's size and activated.
    void start()
    {
        form->resize(1024, 768);
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->Initialised; }, 5000));
    }
    void addGoods(const QStringList &rows, const QString &clientCode = "55")
    {
        int id = 0;
        for (const QString &name : rows)
            form->DM->ExecSQL(QString("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT, MINZAKAZ) VALUES "
                                      "('%1', '%2', '01.01.2027', %3, 0, 100, 0)")
                                  .arg(++id)
                                  .arg(name)
                                  .arg(MaskPriceValue(10.0 * id, clientCode), 0, 'f', 2),
                              true);
        form->DM->OpenPrice(false);
        form->DM->OpenPrice(true);
    }
    int scalar(const QString &sql) { return pc::test::committedScalar(dir.file("Data/client.gdb"), sql); }
};

} // namespace

TEST_F(Keyboard, ADayAtTheCounterWithoutAMouse)
{
    pc::test::FtpTestServer server({{{"55", "pw"}, {"Order", "nulpet"}}});
    dir.writeText("server.ini", QString("[Header]\nServerAdress=127.0.0.1\nServerPort=%1\n").arg(server.port()));
    dir.writeText("client.ini", "[Header]\nClientCode=55\nClientPass=pw\n");
    start();
    addGoods({"Аспирин", "Бинт", "Вата"});
    auto *ui = form->ui;
    pc::Dataset *price = form->DM->PriceSet();

    // The order page; the keyboard goes to the price list.
    press(Qt::Key_2, Qt::AltModifier);
    ASSERT_EQ(ui->pgcMain->currentWidget(), ui->tsOrder);
    ASSERT_EQ(QApplication::focusWidget(), ui->dbgrdPrice) << focusName();
    press(Qt::Key_Home, Qt::ControlModifier);
    type("3");
    press(Qt::Key_Down);
    type("2");
    EXPECT_EQ(scalar("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '1'"), 3);
    EXPECT_EQ(scalar("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '2'"), 2);

    // The comment by its label's letter; Tab goes on from the grid as well.
    alt("к");
    ASSERT_EQ(QApplication::focusWidget(), ui->edOrderComment) << focusName();
    type("к обеду");
    EXPECT_EQ(ui->edOrderComment->text(), "к обеду");

    // Ctrl+S saves the order to the archive.
    dialogs.setNextAnswer(mrYes);
    press(Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(dialogs.questions.last(), "Сохранить данную заявку в архив без отправки (чтобы отправить позднее)?");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERS"), 1);
    pc::Dataset *saved = form->DM->OpenQuery("SELECT COMMENT FROM ORDERS");
    EXPECT_TRUE(saved->Fields(0).AsString().contains("к обеду")) << saved->Fields(0).AsString().toStdString();
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM PRICE WHERE ZAKAZ > 0"), 0);

    // A second order from the grid, sent with Ctrl+Enter together with the saved one.
    press(Qt::Key_1, Qt::AltModifier);
    press(Qt::Key_2, Qt::AltModifier);
    ASSERT_EQ(QApplication::focusWidget(), ui->dbgrdPrice) << focusName();
    press(Qt::Key_End, Qt::ControlModifier);
    type("5");
    EXPECT_EQ(price->FieldByName("TOVAR").AsString(), "Вата");
    dialogs.setNextAnswer(mrYes); // the price list is not today's: send anyway
    dialogs.setNextAnswer(mrYes); // the saved order goes too
    press(Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return !form->busy(); }, 30000)); // the uploads run on their own thread
    EXPECT_TRUE(dialogs.notices.contains("Было отправлено 2 заявок  на сумму 220")) << dialogs.notices.join("|").toStdString();
    EXPECT_EQ(QDir(server.home("Order")).entryList({"55_*.ini"}, QDir::Files).size(), 2);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERS WHERE STATUS = 1"), 2);
    EXPECT_FALSE(dialogs.answersLeft());

    // The archive, its current order printed to PDF from the preview by Ctrl+S.
    press(Qt::Key_3, Qt::AltModifier);
    ASSERT_EQ(ui->pgcMain->currentWidget(), ui->tsArchDocuments);
    const QString pdf = dir.file("order.pdf");
    dialogs.setNextFile(pdf);
    bool previewActive = false;
    std::string keyboardInPreview;
    whenModalOpens([&](QWidget *preview) {
        previewActive = QTest::qWaitFor([&] { return QApplication::activeWindow() == preview; }, 3000);
        keyboardInPreview = keyboard() ? keyboard()->window()->metaObject()->className() : "none";
        press(Qt::Key_S, Qt::ControlModifier);
        // A preview the key did not close fails the test instead of holding it.
        QTimer::singleShot(3000, preview, [preview] { preview->close(); });
    });
    press(Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(previewActive);
    EXPECT_EQ(keyboardInPreview, "QPrintPreviewDialog");
    ASSERT_TRUE(QFileInfo::exists(pdf));
    const QString tool = pc::findProgram("pdftotext", QString());
    ASSERT_EQ(pc::runAndWait(tool, {"-layout", pdf, dir.file("order.txt")}, dir.path()).exitCode, 0);
    EXPECT_TRUE(dir.readBytes("order.txt").contains("Вата")) << dir.readBytes("order.txt").toStdString();

    // The window system gives the keyboard back to the main window (the
    // offscreen one leaves no window active after a modal one closes).
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == form.get(); }, 3000));

    // A setting: the supplier's name on the first settings page, saved by Ctrl+S.
    press(Qt::Key_5, Qt::AltModifier);
    ASSERT_EQ(ui->pgcMain->currentWidget(), ui->tsSettings);
    ASSERT_EQ(ui->pgcSettings->currentWidget(), ui->tsNakladSettings);
    EXPECT_TRUE(ui->edPriceFilter->isHidden()); // the filter row stays with the price list
    alt("п");
    ASSERT_EQ(QApplication::focusWidget(), ui->edSupplierName) << focusName();
    press(Qt::Key_A, Qt::ControlModifier);
    type("Фармопт");
    ASSERT_TRUE(ui->btnSaveSettings->isEnabled());
    press(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(pc::IniFile(dir.file("server.ini")).readString("Header", "SupplierName"), "Фармопт");
    EXPECT_FALSE(ui->btnSaveSettings->isEnabled());
}

// Tab leaves the grids for the next control and the pages go round with
// Ctrl+Tab; every button, box and field label of every page has its own
// underlined letter, read without the "&".
TEST_F(Keyboard, TabLeavesTheGridsAndEveryPageHasItsOwnLetters)
{
    start();
    addGoods({"Аспирин", "Бинт"});
    auto *ui = form->ui;
    press(Qt::Key_2, Qt::AltModifier);
    ASSERT_EQ(QApplication::focusWidget(), ui->dbgrdPrice);
    press(Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), ui->dbgrdPrice) << focusName();
    EXPECT_EQ(ui->dbgrdPrice->horizontalScrollBar()->value(), 0);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), ui->dbgrdPrice) << focusName();
    press(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(ui->pgcMain->currentWidget(), ui->tsArchDocuments);
    ui->OrdersGrid->setFocus();
    press(Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), ui->OrdersGrid) << focusName();
    press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(ui->pgcMain->currentWidget(), ui->tsOrder);

    // Each page and inner page as the person sees it.
    struct Place {
        QWidget *page, *inner;
    };
    const Place places[] = {{ui->tsHome, nullptr},          {ui->tsOrder, nullptr},
                            {ui->tsArchDocuments, nullptr}, {ui->tsDefectAndNakl, ui->tsDefectures},
                            {ui->tsDefectAndNakl, ui->tsNaklad}, {ui->tsSettings, ui->tsNakladSettings},
                            {ui->tsSettings, ui->tsPriceTags}, {ui->tsSettings, ui->tbLifeImportant},
                            {ui->tsSettings, ui->tbExportImportSettings}, {ui->tsSettings, ui->tsConnectionSettings},
                            {ui->tsSettings, ui->TabSheet2}};
    for (const Place &p : places) {
        ui->pgcMain->setCurrentWidget(p.page);
        if (p.inner)
            qobject_cast<QTabWidget *>(p.inner->parentWidget()->parentWidget())->setCurrentWidget(p.inner);
        QCoreApplication::processEvents();
        const std::string where = (p.inner ? p.inner : p.page)->objectName().toStdString();
        QMap<QChar, QString> letters;
        auto take = [&](QWidget *w, const QString &text) {
            const QKeySequence mnemonic = QKeySequence::mnemonic(text);
            const QString name = w->objectName();
            if (mnemonic.isEmpty()) {
                ADD_FAILURE() << where << ": " << name.toStdString() << " «" << text.toStdString() << "» has no letter";
                return;
            }
            const QChar c = QChar(mnemonic[0].key()).toUpper();
            EXPECT_FALSE(letters.contains(c)) << where << ": " << name.toStdString() << " and "
                                              << letters.value(c).toStdString() << " share " << QString(c).toStdString();
            letters.insert(c, name);
        };
        for (QWidget *w : form->findChildren<QWidget *>()) {
            if (!w->isVisible())
                continue;
            if (auto *b = qobject_cast<QAbstractButton *>(w)) {
                // The days of the week are a row reached by Tab; the list's own
                // up and down buttons go by Tab too.
                // «Выход» is Alt+F4, as everywhere on the desktop.
                if (b->text().isEmpty() || b->inherits("QRadioButton") || b->text().size() == 2
                    || b->objectName() == "btnUpServAddr" || b->objectName() == "btnDownServAddr"
                    || b->objectName() == "btnExit")
                    continue;
                take(b, b->text());
                EXPECT_FALSE(QAccessible::queryAccessibleInterface(b)->text(QAccessible::Name).contains('&'))
                    << where << ": " << b->objectName().toStdString();
            } else if (auto *l = qobject_cast<QLabel *>(w); l && l->buddy() && l->text().size() > 2) {
                take(l, l->text());
                EXPECT_EQ(QAccessible::queryAccessibleInterface(l)->text(QAccessible::Name), QString(l->text()).remove('&'))
                    << where << ": " << l->objectName().toStdString();
            } else if (auto *tabs = qobject_cast<QTabBar *>(w); tabs && tabs->parentWidget() != ui->pgcMain) {
                for (int i = 0; i < tabs->count(); ++i)
                    take(tabs, tabs->tabText(i));
            }
        }
    }
}

// Shortcuts are shown where the person looks for them: the buttons' tool
// tips, the pages' tabs and the list under F1.
TEST_F(Keyboard, ShortcutsAreShownInToolTipsAndTheListUnderF1)
{
    start();
    auto *ui = form->ui;
    EXPECT_EQ(ui->btnSaveOrderToArch->toolTip(), "Сохранить заявку (Ctrl+S)");
    EXPECT_EQ(ui->btnSendOrder->toolTip(), "Отправить заявку (Ctrl+Return)");
    EXPECT_EQ(ui->btnUpdatePrice->toolTip(), "Обновить данные (F5)");
    EXPECT_EQ(ui->btnPrintOrder->toolTip(), "Печать заявки (Ctrl+P)");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(ui->btnSaveOrderToArch)->text(QAccessible::Name), "Сохранить заявку");
    EXPECT_EQ(ui->pgcMain->tabToolTip(2), "Alt+3");
    press(Qt::Key_F1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->frmBrowser->isVisible(); }, 2000));
    const QString list = form->frmBrowser->wbBrowser->toPlainText();
    for (const char *key : {"Клавиши", "Alt+1", "Ctrl+S", "Ctrl+Enter", "Ctrl+P", "Ctrl+F", "F5", "Ctrl+Tab"})
        EXPECT_TRUE(list.contains(key)) << key;
}

// The goods note points something out and never takes the keyboard: typing
// a name into the filter that lands on a row with a note keeps every letter
// in the filter. The note sits in the grid's bottom-right corner, and waits
// for the window to be laid out.
TEST_F(Keyboard, GoodsNoteTakesNoLetterFromTheFilterAndSitsInTheGridsCorner)
{
    start();
    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, HASPOPUP, GODEN, PRICE, ZAKAZ, QNT) "
                      "VALUES ('1', 'Амоксициллин', 1, '01.01.2027', 10, 0, 100)", false);
    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, HASPOPUP, GODEN, PRICE, ZAKAZ, QNT) "
                      "VALUES ('2', 'Аспирин', 0, '01.01.2027', 10, 0, 100)", false);
    form->DM->ExecSQL("INSERT INTO PRICE_DET (IDTOVAR, POPUP, INFO, ISREF) VALUES ('1', 'Скидка 10%', 'Акция', 0)", true);
    form->DM->PriceDetTable()->Close();
    form->DM->PriceDetTable()->Open();
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    // The price list is not on screen (the start page is): no note anywhere
    // until the grid has its place.
    form->priceBinder->ShowGoodInfo();
    QTest::qWait(100);
    EXPECT_FALSE(form->frmPopup->isVisible());

    QTableView *grid = form->ui->dbgrdPrice;
    auto noteUp = [&] { return form->frmPopup->isVisible() && form->frmPopup->lbCaption->text() == "Скидка 10%"; };
    press(Qt::Key_2, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor(noteUp, 2000)); // the row with the note is the first
    const QRect area(grid->mapToGlobal(QPoint(0, 0)), grid->size());
    const QRect note = form->frmPopup->geometry();
    EXPECT_EQ(note.left() + note.width(), grid->mapToGlobal(grid->contentsRect().bottomRight()).x() - 5);
    EXPECT_GE(note.left(), area.left());
    EXPECT_LT(note.top(), area.bottom());
    EXPECT_GT(note.top(), area.top());

    press(Qt::Key_Down);
    press(Qt::Key_F, Qt::ControlModifier);
    ASSERT_EQ(QApplication::focusWidget(), form->ui->edPriceFilter) << focusName();
    for (const QString &letter : {"а", "м", "о", "к", "с"}) {
        type(letter);
        QTest::qWait(150); // the note of the row the filter moved to has come up
    }
    EXPECT_TRUE(noteUp());
    EXPECT_EQ(form->ui->edPriceFilter->text(), "амокс");
    EXPECT_EQ(QApplication::focusWidget(), form->ui->edPriceFilter) << focusName();
    press(Qt::Key_Backspace);
    EXPECT_EQ(form->ui->edPriceFilter->text(), "амок");
    // Esc empties the filter and the keyboard stays there.
    press(Qt::Key_Escape);
    EXPECT_EQ(form->ui->edPriceFilter->text(), "");
    EXPECT_EQ(QApplication::focusWidget(), form->ui->edPriceFilter) << focusName();
}
