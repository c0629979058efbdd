#include "DbfWriter.h"
#include "OtherConnection.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "core/PriceMask.h"
#include "db/DataModule.h"
#include "db/firebird/Statement.h"
#include "price/OrderEntry.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace pc;

namespace {

struct OrderEntryFixture : ::testing::Test {
    TempAppDir dir;
    AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<OrderEntry> entry;
    int totalsShown = 0;
    const QString code = QStringLiteral("1234");

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        dm = std::make_unique<TDM>(context, dialogs, log);
        dm->CreateFirebirdObjects();
        dm->OpenDatabase();
        dialogs.notices.clear();
        entry = std::make_unique<OrderEntry>(*dm, dialogs, log, [this] { return code; });
        entry->onTotalsChanged = [this] { ++totalsShown; };
    }
    void TearDown() override
    {
        entry.reset();
        dm.reset();
        QLocale::setDefault(QLocale::c());
        EXPECT_FALSE(dialogs.answersLeft());
    }
    // A price row; price is the unmasked price the pharmacy sees.
    void addRow(const QString &id, const QString &name, int qnt, int minProd = 0, int minZakaz = 0, double price = 10,
                int zakaz = 0)
    {
        fb::Statement *q = dm->PrepareQuery("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, QNT, MINPROD, MINZAKAZ, PRICE, ZAKAZ) "
                                            "VALUES (:ID, :NAME, '01.01.2027', :QNT, :MINPROD, :MINZAKAZ, :PRICE, :ZAKAZ)");
        dm->SetParamByName(q, "ID", id);
        dm->SetParamByName(q, "NAME", name);
        dm->SetParamByName(q, "QNT", qnt);
        dm->SetParamByName(q, "MINPROD", minProd);
        dm->SetParamByName(q, "MINZAKAZ", minZakaz);
        dm->SetParamByName(q, "PRICE", MaskPriceValue(price, code));
        dm->SetParamByName(q, "ZAKAZ", zakaz);
        dm->ExecQuery(q, true);
    }
    Dataset &openPrice()
    {
        dm->OpenPrice(false);
        dm->OpenPrice(true);
        dm->PriceSet()->BeforeScroll = [this](Dataset &ds) { entry->CorrectBeforeLeaving(ds); };
        dm->PriceSet()->AfterScroll = [this](Dataset &) { entry->ResetTyping(); };
        return *dm->PriceSet();
    }
    int zakaz() { return dm->PriceSet()->FieldByName("ZAKAZ").AsInteger(); }
    // The quantity as another connection sees it: only what is committed.
    qint64 stored(const QString &id)
    {
        return test::committedScalar(dir.file("Data/client.gdb"),
                                     QString("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '%1'").arg(id));
    }
    // The quantity as the program's own transaction sees it.
    qint64 visible(const QString &id)
    {
        std::unique_ptr<Dataset> q(dm->CreateDataSet("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = :ID", {}, {}));
        q->SetParam("ID", id);
        q->Open();
        return q->Fields(0).AsLargeInt();
    }
};

} // namespace

TEST_F(OrderEntryFixture, DigitsBuildANumberOnOneRowAndAreCappedAtTheStock)
{
    addRow("1", "Аспирин", 20);
    addRow("2", "Бинт", 50);
    addRow("3", "Вата", 2000000000);
    Dataset &price = openPrice();
    entry->TypeDigit('2');
    entry->TypeDigit('5');
    ASSERT_EQ(dialogs.notices.size(), 1);
    EXPECT_EQ(dialogs.notices[0], "Кол-во 25 превышает остаток заказываем 20");
    EXPECT_EQ(zakaz(), 20);
    EXPECT_EQ(stored("1"), 20); // committed at once
    EXPECT_GE(totalsShown, 2);

    // Another row and back: a new number starts.
    price.Next();
    price.Prior();
    entry->TypeDigit('3');
    EXPECT_EQ(zakaz(), 3);
    entry->TypeDigit('0');
    EXPECT_EQ(zakaz(), 20); // 30 is above the stock of 20
    // Exactly the stock is taken without a word.
    price.Next();
    price.Prior();
    const qsizetype noticesBefore = dialogs.notices.size();
    entry->TypeDigit('2');
    entry->TypeDigit('0');
    EXPECT_EQ(zakaz(), 20);
    EXPECT_EQ(dialogs.notices.size(), noticesBefore) << dialogs.notices.join('|').toStdString();
    // The digit 0 on a fresh row sets 0.
    price.Next();
    price.Prior();
    entry->TypeDigit('0');
    EXPECT_EQ(zakaz(), 0);
    // A number too long for a quantity changes nothing.
    price.Next();
    price.Next();
    for (QChar d : QString("3000000000"))
        entry->TypeDigit(d);
    EXPECT_EQ(zakaz(), 300000000);
}

TEST_F(OrderEntryFixture, LeavingARowCorrectsMinimumOrderThenMultiplicity)
{
    addRow("1", "А-1", 100, 10, 4, 10, 3);
    addRow("2", "Б-2", 8, 0, 5, 10, 7);
    addRow("3", "В-3", 4, 6, 0, 10, 2);
    addRow("4", "Г-4", 100, 0, 0, 10, 0);
    Dataset &price = openPrice();
    price.Next();
    EXPECT_EQ(dialogs.notices, QStringList({"По причине min заказа 10 вместо 3 заказываем 10",
                                            "По причине кратности 4 вместо 10 заказываем 12"}));
    EXPECT_EQ(stored("1"), 12);
    dialogs.notices.clear();
    price.Next();
    EXPECT_EQ(dialogs.notices, QStringList({"По причине кратности 5 вместо 7 заказываем 8"}));
    EXPECT_EQ(stored("2"), 8);
    dialogs.notices.clear();
    price.Next();
    EXPECT_EQ(dialogs.notices, QStringList({"По причине min заказа 6 вместо 2 заказываем 4"}));
    EXPECT_EQ(stored("3"), 4);
    dialogs.notices.clear();
    price.Prior(); // a row without rules: nothing to say
    EXPECT_TRUE(dialogs.notices.isEmpty());
}

TEST_F(OrderEntryFixture, TotalsDeleteAndClear)
{
    addRow("1", "А", 100, 0, 0, 10.15, 3);
    addRow("2", "Б", 100, 0, 0, 2.5, 2);
    addRow("3", "В", 100, 0, 0, 7, 0);
    openPrice();
    const OrderTotals t = entry->CountTotals();
    EXPECT_EQ(t.count, 2);
    EXPECT_NEAR(t.sum, 35.45, 1e-9);
    EXPECT_EQ(OrderEntry::TotalsText(t), "Заказ: 2 поз. На сумму 35,45");
    EXPECT_FALSE(entry->OrderIsEmpty());

    entry->DeleteQuantity();
    EXPECT_EQ(stored("1"), 0);
    EXPECT_EQ(entry->CountTotals().count, 1);

    dialogs.setNextAnswer(mrNo);
    EXPECT_FALSE(entry->ClearOrder());
    EXPECT_FALSE(dialogs.lastFocusYes);
    EXPECT_EQ(stored("2"), 2);
    dialogs.setNextAnswer(mrYes);
    EXPECT_TRUE(entry->ClearOrder());
    EXPECT_EQ(OrderEntry::TotalsText(entry->CountTotals()), "Заказ: 0 поз. На сумму 0");
    EXPECT_TRUE(entry->OrderIsEmpty());
    EXPECT_EQ(stored("2"), 0);
    // A later failure that rolls the transaction back (a price load) does not
    // bring the order back.
    dm->ExecSQL("UPDATE PRICE SET QNT = 0", false);
    dm->Rollback();
    EXPECT_EQ(visible("2"), 0);
    EXPECT_EQ(visible("1"), 0);
    EXPECT_TRUE(entry->OrderIsEmpty());
}

TEST_F(OrderEntryFixture, QuantitiesFromThePharmacysOrderFileAreBound)
{
    addRow("A1", "Аспирин", 100);
    addRow("O'B", "Бинт", 100);
    openPrice();
    test::DbfWriter w;
    w.addField("KOD", 'C', 10).addField("KOL", 'N', 5);
    w.addRecord({QStringLiteral("A1"), 4});
    w.addRecord({QStringLiteral("O'B"), 6});
    w.addRecord({QStringLiteral("x' OR '1'='1"), 9});
    w.save(dir.file("order.dbf"));
    EXPECT_EQ(entry->ImportOrderQuantities(dir.file("order.dbf"), "KOD", "KOL"), 3);
    // The caller (the archive's order import) commits.
    EXPECT_EQ(visible("A1"), 4);
    EXPECT_EQ(visible("O'B"), 6);
    EXPECT_EQ(dm->OpenQuery("SELECT COUNT(1) FROM PRICE WHERE ZAKAZ = 9")->Fields(0).AsLargeInt(), 0);
    EXPECT_TRUE(dm->PriceSet()->Active());
}

TEST_F(OrderEntryFixture, RowWithoutExpiryDateTakesAQuantityToo)
{
    dm->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, QNT, PRICE, ZAKAZ) VALUES ('N', 'Без срока', 10, 5, 0)", true);
    openPrice();
    entry->TypeDigit('4');
    EXPECT_EQ(zakaz(), 4);
    EXPECT_EQ(stored("N"), 4);
}

TEST(OrderTotalsText, SumsReadAsThePharmacistExpects)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(OrderEntry::TotalsText({3, 25 + 68.8 + 112.6}), "Заказ: 3 поз. На сумму 206,4");
    EXPECT_EQ(OrderEntry::TotalsText({1, 1234567.89}), "Заказ: 1 поз. На сумму 1234567,89");
    QLocale::setDefault(QLocale::c());
}

// A quantity that cannot be stored is never lost without a word: the row
// gone from under the grid (another workstation's new list) gives a notice
// and a log line, and the grid shows what the database holds. On one of two
// identical rows (same goods code and expiry date) the quantity is stored
// once, not on both.
TEST_F(OrderEntryFixture, AQuantityNotStoredIsSaidAndOneOfTwoIdenticalRowsTakesItOnce)
{
    addRow("1", "Аспирин", 20);
    addRow("2", "Бинт", 50);
    addRow("2", "Бинт", 50);
    Dataset &price = openPrice();
    ASSERT_TRUE(price.Locate("IDTOVAR", "1"));
    dm->ExecSQL("DELETE FROM PRICE WHERE IDTOVAR = '1'", true);
    entry->TypeDigit('5');
    ASSERT_EQ(dialogs.notices.size(), 1);
    EXPECT_TRUE(dialogs.notices[0].contains("Количество не сохранено")) << dialogs.notices[0].toStdString();
    ASSERT_FALSE(log.entries.empty());
    EXPECT_TRUE(log.entries.back().text.contains("Количество не сохранено"));
    EXPECT_EQ(zakaz(), 0) << "the grid does not show a quantity the database lacks";

    price.Last();
    entry->ResetTyping();
    entry->TypeDigit('7');
    EXPECT_EQ(zakaz(), 7);
    EXPECT_EQ(test::committedScalar(dir.file("Data/client.gdb"), "SELECT SUM(ZAKAZ) FROM PRICE WHERE IDTOVAR = '2'"), 7)
        << "a save would send 7, not 14";
}
