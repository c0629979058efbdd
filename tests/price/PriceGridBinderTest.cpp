// The price grid's controls bound to the logic: keys, mouse, timer, filter
// controls, the changes mode, the detail line and the pop-up note.
#include "PriceFixture.h"

#include "GuiTest.h"
#include "price/OrderEntry.h"
#include "ui/DatasetModel.h"
#include "ui/PriceGridBinder.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QVBoxLayout>

using namespace pc;
using pricetest::Row;

namespace {

struct PopupCall {
    QString text, detail;
    bool isRef = false;
    int left = 0, top = 0;
    int opacity = 0;
};

struct InfoCall {
    QWidget *parent = nullptr;
    QString content;
    bool isRef = false;
    int left = 0, top = 0, width = 0, height = 0;
    bool modal = true;
};

class PriceGridBinderTest : public pricetest::PriceFixture {
protected:
    QWidget form;
    QTableView *view = new QTableView(&form);
    QLineEdit *edSearch = new QLineEdit(&form);
    QLabel *lblGoodInfo = new QLabel(&form);
    QTimer *tmClear = new QTimer(&form);
    QLineEdit *edPriceFilter = new QLineEdit(&form);
    QPushButton *btnPriceFilterClear = new QPushButton(&form);
    QCheckBox *chkOnlyRegud = new QCheckBox(&form);
    QCheckBox *chkShowOnlyOrder = new QCheckBox(&form);
    std::unique_ptr<DatasetModel> model;
    std::unique_ptr<PriceGridBinder> binder;
    std::unique_ptr<OrderEntry> order;
    std::vector<PopupCall> popups;
    std::vector<InfoCall> infos;
    int hides = 0, scrolls = 0, totals = 0;
    QString digits;

    void SetUp() override
    {
        PriceFixture::SetUp();
        auto *layout = new QVBoxLayout(&form);
        for (QWidget *w : std::initializer_list<QWidget *>{view, lblGoodInfo, edSearch, edPriceFilter, btnPriceFilterClear,
                                                           chkOnlyRegud, chkShowOnlyOrder})
            layout->addWidget(w);
        form.resize(900, 600);
        binder = std::make_unique<PriceGridBinder>(
            grid, PriceGridWidgets{view, edSearch, lblGoodInfo, tmClear, edPriceFilter, btnPriceFilterClear, chkOnlyRegud,
                                   chkShowOnlyOrder});
        binder->showPopup = [this](const QString &t, const QString &d, bool r, int l, int top, unsigned char o) {
            popups.push_back({t, d, r, l, top, o});
        };
        binder->popupWidth = [] { return 250; };
        binder->hidePopup = [this] { ++hides; };
        binder->onPriceScrolled = [this] { ++scrolls; };
        order = std::make_unique<OrderEntry>(*dm, dialogs, log, [this] { return code; });
        order->onTotalsChanged = [this] { ++totals; };
        binder->onDeleteKey = [this] { order->DeleteQuantity(); };
        binder->onDigit = [this](QChar c) {
            digits += c;
            return true;
        };
        binder->showInfoWindow = [this](QWidget *p, const QString &c, bool r, int l, int t, int w, int h, bool m) {
            infos.push_back({p, c, r, l, t, w, h, m});
        };
    }
    void TearDown() override
    {
        binder.reset();
        model.reset();
        order.reset();
        PriceFixture::TearDown();
    }

    // Loads the rows and binds the grid as the main window does.
    void bind(const std::vector<Row> &rows)
    {
        load(rows);
        model = std::make_unique<DatasetModel>(&price());
        std::vector<GridColumn> columns;
        for (const char *f : {"GV_DISP", "TOVAR", "PRICEDEC", "PRICEOLD", "ZAKAZ", "QNTOLD"}) {
            GridColumn c;
            c.fieldName = QLatin1String(f);
            c.visible = QLatin1String(f) != QLatin1String("PRICEOLD") && QLatin1String(f) != QLatin1String("QNTOLD");
            columns.push_back(c);
        }
        model->setColumns(columns);
        model->attachView(view);
        binder->attachModel(model.get());
        form.show();
    }

    void type(QChar c)
    {
        QTest::sendKeyEvent(QTest::Press, view, Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, view, Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
    }
    void keyUp(Qt::Key key) { QTest::sendKeyEvent(QTest::Release, view, key, QString(), Qt::NoModifier); }
    bool searchShown() const { return !edSearch->isHidden(); }
};

const std::vector<Row> kNames = {{"1", "Аспирин", 1.0, 0, 0, 0, 0, 0, "РУ"},
                                 {"2", "Бактериофаг", 1.0, 4},
                                 {"3", "Бинт", 1.0, 0, 0, 0, 0, 0, "РУ"},
                                 {"4", "Вата", 1.0, 2},
                                 {"5", "Йод", 1.0}};

} // namespace

TEST_F(PriceGridBinderTest, LettersTypedWithinFourSecondsSearchTogether)
{
    bind(kNames);
    type(QChar(u'Б'));
    EXPECT_EQ(currentName(), "Бактериофаг");
    type(QChar(u'и'));
    EXPECT_EQ(binder->QuickSearchText(), "Би");
    EXPECT_EQ(edSearch->text(), "Би");
    EXPECT_EQ(currentName(), "Бинт");
    EXPECT_EQ(view->currentIndex().row(), price().CurrentRow());
    EXPECT_TRUE(searchShown());
    EXPECT_TRUE(lblGoodInfo->isHidden()); // the search line covers the detail line
    EXPECT_TRUE(tmClear->isActive());
    EXPECT_EQ(tmClear->interval(), 4000);

    // The pause: the timer forgets the text; the next letter starts anew.
    tmClear->setInterval(20);
    ASSERT_TRUE(waitFor([this] { return !searchShown(); }));
    EXPECT_EQ(binder->QuickSearchText(), "");
    EXPECT_FALSE(tmClear->isActive());
    EXPECT_FALSE(lblGoodInfo->isHidden());
    type(QChar(u'в'));
    EXPECT_EQ(currentName(), "Вата");

    // Ё is no search letter, and a digit goes to order entry.
    binder->ClearQuickSearch();
    type(QChar(u'Ё'));
    EXPECT_EQ(binder->QuickSearchText(), "");
    type(QChar(u'5'));
    // once the keys pause: it might have begun a scan
    ASSERT_TRUE(waitFor([this] { return digits == "5"; }));
    EXPECT_EQ(currentName(), "Вата");
}

TEST_F(PriceGridBinderTest, BackspaceNavigationKeysAndMouse)
{
    bind(kNames);
    type(QChar(u'Б'));
    ASSERT_EQ(currentName(), "Бактериофаг");
    keyUp(Qt::Key_Backspace);
    EXPECT_EQ(binder->QuickSearchText(), "");
    EXPECT_EQ(price().RecNo(), 1);
    EXPECT_FALSE(searchShown());

    // Backspace with nothing typed also goes to the first row.
    price().Last();
    keyUp(Qt::Key_Backspace);
    EXPECT_EQ(price().RecNo(), 1);

    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Home, Qt::Key_End, Qt::Key_Tab, Qt::Key_Control, Qt::Key_Alt}) {
        type(QChar(u'Й'));
        ASSERT_EQ(binder->QuickSearchText(), "Й");
        keyUp(key);
        EXPECT_EQ(binder->QuickSearchText(), "") << key;
        EXPECT_FALSE(tmClear->isActive());
    }
    type(QChar(u'Й'));
    keyUp(Qt::Key_Right); // other keys keep the search
    EXPECT_EQ(binder->QuickSearchText(), "Й");
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, view->visualRect(model->index(0, 1)).center());
    EXPECT_EQ(binder->QuickSearchText(), "");
    EXPECT_FALSE(searchShown());
}

TEST_F(PriceGridBinderTest, DeleteClearsTheQuantityThroughOrderEntry)
{
    bind(kNames);
    ASSERT_TRUE(moveTo("Бактериофаг"));
    keyUp(Qt::Key_Delete);
    EXPECT_EQ(price().FieldByName("ZAKAZ").AsInteger(), 0);
    EXPECT_EQ(totals, 1);
    EXPECT_EQ(dm->OpenQuery("SELECT SUM(ZAKAZ) FROM PRICE")->Fields(0).AsInteger(), 2);
}

TEST_F(PriceGridBinderTest, FilterControlsAndTheChangesMode)
{
    bind(kNames);
    edPriceFilter->setText("бин");
    EXPECT_EQ(names(), QStringList({"Бинт"}));

    // "Только заказ" replaces the name filter.
    chkShowOnlyOrder->setChecked(true);
    EXPECT_EQ(names(), QStringList({"Бактериофаг", "Вата"}));
    chkOnlyRegud->setChecked(true);
    EXPECT_EQ(names(), QStringList({"Аспирин", "Бинт"}));
    // Clearing a box shows every row, though the other is still ticked.
    chkShowOnlyOrder->setChecked(false);
    EXPECT_EQ(price().RecordCount(), 5);
    EXPECT_FALSE(price().Filtered());

    QTest::mouseClick(btnPriceFilterClear, Qt::LeftButton);
    EXPECT_EQ(edPriceFilter->text(), "");

    // The changes mode after a price update: ordered rows with the old columns.
    EXPECT_TRUE(view->isColumnHidden(3));
    EXPECT_TRUE(view->isColumnHidden(5));
    binder->SetShowOnlyOrder(true);
    EXPECT_TRUE(grid.ShowOnlyOrder);
    EXPECT_TRUE(chkShowOnlyOrder->isChecked());
    EXPECT_EQ(names(), QStringList({"Бактериофаг", "Вата"}));
    EXPECT_FALSE(view->isColumnHidden(3));
    EXPECT_FALSE(view->isColumnHidden(5));
    // The order quantity column is red where the old quantity differs (none kept here).
    EXPECT_EQ(model->data(model->index(0, 4), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    // The user clears the box: the mode ends.
    chkShowOnlyOrder->setChecked(false);
    EXPECT_FALSE(grid.ShowOnlyOrder);
    EXPECT_TRUE(view->isColumnHidden(3));
    EXPECT_TRUE(view->isColumnHidden(5));
    EXPECT_EQ(price().RecordCount(), 5);
    EXPECT_NE(model->data(model->index(1, 4), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
}

TEST_F(PriceGridBinderTest, DetailLinePopupAndDetailWindow)
{
    const int purple = 200 | (100 << 8) | (255 << 16);
    bind({{"1", "Аспирин", 1.0, 0, purple},
          {"2", "Бинт", 1.0, 0, 0, 0, 0, 1},
          {"3", "Вата", 1.0, 0, 0, 0, 1, 0}});
    addDetail("2", "Скидка", "http://example.org/bint", 1);
    addDetail("3", "-", "Вата хирургическая");
    hides = scrolls = 0;

    // Rows passed on the way (a held arrow key) get no pop-up and no detail
    // line: those follow the row the cursor rests on.
    ASSERT_TRUE(moveTo("Бинт"));
    ASSERT_TRUE(moveTo("Вата"));
    EXPECT_EQ(hides, 2);
    EXPECT_EQ(scrolls, 2);
    ASSERT_TRUE(waitFor([this] { return lblGoodInfo->text() == "Вата хирургическая"; }));
    EXPECT_TRUE(popups.empty());
    hides = scrolls = 0;

    ASSERT_TRUE(moveTo("Бинт"));
    EXPECT_EQ(hides, 1);
    EXPECT_EQ(scrolls, 1);
    ASSERT_TRUE(waitFor([this] { return !popups.empty(); }));
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].text, "Скидка");
    EXPECT_EQ(popups[0].detail, "http://example.org/bint");
    EXPECT_TRUE(popups[0].isRef);
    EXPECT_EQ(popups[0].opacity, 200);
    const QPoint corner = view->mapToGlobal(view->contentsRect().bottomRight());
    EXPECT_EQ(popups[0].left, corner.x() - 250 - 5);
    EXPECT_EQ(popups[0].top, corner.y() - 15);
    EXPECT_EQ(lblGoodInfo->text(), "Скидка");

    ASSERT_TRUE(moveTo("Вата"));
    EXPECT_EQ(hides, 2);
    ASSERT_TRUE(waitFor([this] { return lblGoodInfo->text() == "Вата хирургическая"; }));
    EXPECT_EQ(popups.size(), 1u);

    QTest::mouseClick(lblGoodInfo, Qt::LeftButton);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].parent, &form);
    EXPECT_EQ(infos[0].content, "Вата хирургическая");
    EXPECT_FALSE(infos[0].isRef);
    EXPECT_EQ(infos[0].width, std::max(form.width() / 2, 300));
    EXPECT_EQ(infos[0].top, form.height() - 185);
    EXPECT_FALSE(infos[0].modal);

    ASSERT_TRUE(moveTo("Аспирин"));
    ASSERT_TRUE(waitFor([this] { return lblGoodInfo->text().isEmpty(); }));
    QTest::mouseClick(lblGoodInfo, Qt::LeftButton);
    EXPECT_EQ(infos.size(), 1u);

    // The row colour through the grid: plain, and darker on the selected row.
    EXPECT_EQ(model->data(model->index(0, 1), Qt::BackgroundRole).value<QColor>(), QColor(200, 100, 255));
    EXPECT_TRUE(model->data(model->index(0, 2), Qt::FontRole).value<QFont>().italic());
    view->setCurrentIndex(model->index(0, 1));
    QApplication::processEvents();
    const QRect cell = view->visualRect(model->index(0, 1));
    const QImage shot = view->viewport()->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(cell.right() - 3, cell.center().y())), QColor(50, 0, 105));
    const QRect plainRow = view->visualRect(model->index(1, 1));
    EXPECT_NE(QColor(shot.pixel(plainRow.right() - 3, plainRow.center().y())), QColor(50, 0, 105));
}

// ---- the scanner in the grid -------------------------------------------------

namespace {

class PriceScanTest : public PriceGridBinderTest {
protected:
    ManualClock clock;
    QStringList said;

    void SetUp() override
    {
        PriceGridBinderTest::SetUp();
        binder->setClock(clock);
        binder->onScanMessage = [this](const QString &t) { said << t; };
        // Quantities go through order entry, as in the window.
        binder->onDigit = [this](QChar c) {
            digits += c;
            order->TypeDigit(c);
            return true;
        };
        bind(kNames); // 6 packs already ordered
        dm->ExecSQL("UPDATE PRICE SET QNT = 100000", true);
        dm->OpenPrice(false);
        dm->OpenPrice(true);
        // An invoice that delivered Вата (code 4) with the bar code 4607001771234.
        dm->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR) VALUES (1, 'A-1')", false);
        dm->ExecSQL("INSERT INTO NAKLADL (LINENO, ID, IDTOVAR, TOVAR, QNT, EAN) VALUES (1, 1, '3_1', 'Бинт', 1, '4601234567893')", false);
        dm->ExecSQL("INSERT INTO NAKLADL (LINENO, ID, IDTOVAR, TOVAR, QNT, EAN) VALUES (2, 1, '4_2', 'Вата', 1, '4607001771234')", true);
        ASSERT_TRUE(moveTo("Аспирин"));
    }

    // Keys the way a scanner or a person sends them: `gap` ms apart.
    void keys(const QString &text, int gap)
    {
        for (const QChar c : text) {
            clock.advance(gap);
            QTest::sendKeyEvent(QTest::Press, view, Qt::Key(c.unicode()), QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, view, Qt::Key(c.unicode()), QString(c), Qt::NoModifier);
        }
    }
    void enter(int gap)
    {
        clock.advance(gap);
        QTest::sendKeyEvent(QTest::Press, view, Qt::Key_Return, QStringLiteral("\r"), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, view, Qt::Key_Return, QStringLiteral("\r"), Qt::NoModifier);
    }
    int ordered() { return dm->OpenQuery("SELECT COALESCE(SUM(ZAKAZ), 0) FROM PRICE")->Fields(0).AsInteger() - 6; }
};

} // namespace

TEST_F(PriceScanTest, ThirteenDigitsAtScannerSpeedAreABarCodeNeverAQuantity)
{
    keys("4607001771234", 8);
    enter(8);
    QTest::qWait(2 * KeyBurst::kGapMs); // a held digit would be typed by now
    EXPECT_EQ(digits, "");
    EXPECT_EQ(ordered(), 0);
    EXPECT_EQ(currentName(), "Вата");
    EXPECT_TRUE(said.isEmpty()) << said.join('|').toStdString();
    EXPECT_TRUE(dialogs.notices.isEmpty()) << dialogs.notices.join('|').toStdString();

    // An EAN-8 / a code no invoice carries: said in the pane, the row stays.
    keys("96385074", 5);
    enter(5);
    EXPECT_EQ(currentName(), "Вата");
    ASSERT_EQ(said.size(), 1);
    EXPECT_EQ(said[0], "Товар с кодом 0000096385074 не найден в прайсе");
    // A misread (wrong check digit) is said as such.
    keys("4607001771235", 5);
    enter(5);
    ASSERT_EQ(said.size(), 2);
    EXPECT_EQ(said[1], "Неверная контрольная цифра штрихкода 4607001771235");
    EXPECT_EQ(ordered(), 0);
}

TEST_F(PriceScanTest, QuantitiesTypedByHandAreUnchanged)
{
    // Two digits at a person's pace: the first is typed as the second comes,
    // the second once the keys pause.
    keys("12", 150);
    EXPECT_EQ(digits, "1");
    QTest::qWaitFor([this] { return digits == "12"; }, 1000);
    EXPECT_EQ(digits, "12");
    EXPECT_EQ(price().FieldByName("ZAKAZ").AsInteger(), 12);

    // Digits then Enter quickly, fewer than a code has: a quantity.
    ASSERT_TRUE(moveTo("Бинт"));
    keys("37", 10);
    enter(10);
    EXPECT_EQ(price().FieldByName("ZAKAZ").AsInteger(), 37);

    // Thirteen digits at a person's pace stay the quantity rules' business.
    ASSERT_TRUE(moveTo("Йод"));
    keys("4601234567893", 120);
    enter(120);
    EXPECT_EQ(currentName(), "Йод");
    EXPECT_TRUE(said.isEmpty());
    EXPECT_EQ(digits.right(13), "4601234567893");

    // The mouse on the grid types what is held on the row it was typed on.
    ASSERT_TRUE(moveTo("Аспирин"));
    keys("5", 200);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 1)).center());
    EXPECT_EQ(dm->OpenQuery("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '1'")->Fields(0).AsInteger(), 5);
}

// ---- short expiry --------------------------------------------------------------

TEST_F(PriceScanTest, ShortExpiryMarkedInTheGridAndNamedOncePerRowWhileTyping)
{
    int months = 6;
    order->shortExpiryMonths = [&months] { return months; };
    order->clock = &clock;
    binder->shortExpiryMonths = [&months] { return months; };
    clock.day = QDate(2026, 9, 15); // every row keeps until 01.01.2027
    std::vector<GridColumn> columns = model->columns();
    columns.push_back(GridColumn{"GODEN", "Ср.годности"});
    model->setColumns(columns);
    binder->attachModel(model.get());
    auto messages = [this] {
        QStringList all;
        for (const auto &e : log.entries)
            if (e.text.startsWith("Срок годности"))
                all << e.text;
        return all;
    };

    keys("2", 200);
    keys("3", 200);
    binder->flushHeldDigits();
    EXPECT_EQ(price().FieldByName("ZAKAZ").AsInteger(), 23); // the typing is not held up
    EXPECT_EQ(messages(), QStringList{"Срок годности до 01.01.2027 (осталось 3 мес.)"});
    ASSERT_TRUE(moveTo("Бинт"));
    keys("1", 200);
    binder->flushHeldDigits();
    ASSERT_TRUE(moveTo("Аспирин"));
    keys("4", 200);
    binder->flushHeldDigits();
    EXPECT_EQ(messages().size(), 2); // once per row

    // The expiry column on orange, with the legend in the header's tool tip.
    const int goden = model->columnOfField("GODEN");
    ASSERT_GE(goden, 0);
    EXPECT_EQ(model->cellStyle(0, goden).background, QColor(255, 204, 153));
    EXPECT_TRUE(model->cellStyle(0, goden).font.bold());
    EXPECT_FALSE(model->cellStyle(0, model->columnOfField("TOVAR")).background.isValid());
    EXPECT_EQ(view->horizontalHeader()->toolTip(),
              "Ср.годности: оранжевым — срок годности менее 6 мес., красным — срок годности истёк");

    // Three months is not less than three months; the warning off says nothing.
    months = 3;
    ASSERT_TRUE(moveTo("Йод"));
    keys("1", 200);
    binder->flushHeldDigits();
    months = 0;
    ASSERT_TRUE(moveTo("Вата"));
    keys("1", 200);
    binder->flushHeldDigits();
    EXPECT_EQ(messages().size(), 2);
}
