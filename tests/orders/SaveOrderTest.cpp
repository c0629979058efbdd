#include "OrdersFixture.h"
#include "OtherConnection.h"

#include "db/firebird/DbError.h"
#include "orders/SaveOrder.h"
#include "price/PriceGrid.h"

using namespace pc;

namespace {
struct SaveOrderTest : OrdersFixture {
    std::unique_ptr<OrderSaver> saver;
    int totalsShown = 0;
    void SetUp() override
    {
        OrdersFixture::SetUp();
        saver = std::make_unique<OrderSaver>(*dm, dialogs, log, settings);
        saver->Now = [this] { return now; };
        saver->ShowOrderTotals = [this] { ++totalsShown; };
    }
    // "IDTOVAR=QNT ..." of an order's lines, or of PRICE's ZAKAZ with order 0.
    QString quantities(int order)
    {
        auto q = order ? query("SELECT IDTOVAR, QNT FROM ORDERSL WHERE IDNAKL = " + QString::number(order) + " ORDER BY 1")
                       : query("SELECT IDTOVAR, ZAKAZ FROM PRICE ORDER BY 1");
        QStringList out;
        for (; !q->Eof(); q->Next())
            out << q->Fields(0).AsString() + "=" + q->Fields(1).AsString();
        return out.join(' ');
    }
};
const QString kBack = "\r\nОтмена - вернуться к редактированию заявки";
} // namespace

TEST_F(SaveOrderTest, StoresOneOrderWithItsLinesAndClearsTheQuantities)
{
    EXPECT_TRUE(saver->SaveCurrentOrder("x")); // nothing ordered: nothing stored, no number used
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERS"), 0);
    addLine(41, "9", "Старое", "", 1, 1, 1); // numbers follow the lines table, not ORDERS
    addPrice("3", "Цитрамон", 3, 40, 7.25);
    addPrice("2", "Бинт", 0, 10, 1);
    addPrice("1", "Аспирин", 2, 20, 10.5);
    settings.AddressIndex = 2;
    Dataset &price = reopenPrice();
    price.SetRecNo(3);

    EXPECT_TRUE(saver->SaveCurrentOrder("  срочно "));

    const double masked = MaskPriceValue(10.5, "1234"); // prices stay masked, the total is not
    EXPECT_EQ(row("SELECT IDNAKL, TOVAR, PRODUCT, QNT, CHANGE FROM ORDERSL WHERE IDNAKL > 41 ORDER BY TOVAR"),
              "42|Аспирин|Завод 1|2|0");
    auto line = query("SELECT PRICE, SUMMA FROM ORDERSL WHERE IDTOVAR = '1'");
    EXPECT_DOUBLE_EQ(line->Fields(0).AsFloat(), masked);
    EXPECT_DOUBLE_EQ(line->Fields(1).AsFloat(), masked * 2);
    EXPECT_EQ(row("SELECT ID, PRICETIME, DATET, COMMENT, STATUS, ORDERTIME, COUNT(*) OVER () FROM ORDERS"),
              "42||06.12.2026|от ул. Садовая, 9 (  срочно )|0|14:37|1");
    EXPECT_DOUBLE_EQ(query("SELECT SUMMA FROM ORDERS")->Fields(0).AsFloat(), 2 * 10.5 + 3 * 7.25);
    EXPECT_EQ(quantities(0), "1=0 2=0 3=0");
    EXPECT_EQ(price.RecNo(), 3);
    EXPECT_EQ(price.FieldByName("ZAKAZ").AsInteger(), 0);
    EXPECT_EQ(dialogs.waitShown, 0);
    dm->Rollback(); // committed: nothing to undo
    EXPECT_EQ(quantities(42), "1=2 3=3");

    // Comments: free text alone starts with a blank; one longer than its column is cut.
    settings.AddressIndex = 0;
    addPrice("4", "Вата", 1, 5, 1);
    EXPECT_TRUE(saver->SaveCurrentOrder(QString(300, u'ж')));
    EXPECT_EQ(query("SELECT COMMENT FROM ORDERS WHERE ID = 43")->Fields(0).AsString(), " (" + QString(198, u'ж'));
}

TEST_F(SaveOrderTest, MinimumAndMultiplicityAreConfirmedPerLine)
{
    addPrice("1", "А", 3, 50, 10, 10);   // 10? Yes
    addPrice("2", "Б", 3, 3, 10, 10);    // the whole stock: no question
    addPrice("3", "В", 7, 100, 10, 0, 5); // 10 or 5? No
    addPrice("4", "Г", 7, 8, 10, 0, 5);  // 8 (the stock) or 3? Yes
    addPrice("5", "Д", 8, 8, 10, 0, 5);  // the whole stock: no question
    addPrice("6", "Е", 2, 100, 10, 4, 3); // 4? No: dropped, no multiplicity question
    for (int a : {mrYes, mrNo, mrYes, mrNo})
        dialogs.setNextAnswer(a);

    EXPECT_TRUE(saver->SaveCurrentOrder(""));

    EXPECT_EQ(dialogs.questions,
              (QStringList{"А.\r\nПо причине min заказа 10 заказываем 10(Да) или  отказываемся (нет)." + kBack,
                           "В.\r\nПо причине кратности 5 заказываем 10(Да) или 5 (нет)." + kBack,
                           "Г.\r\nПо причине кратности 5 заказываем 8(Да) или 3 (нет)." + kBack,
                           "Е.\r\nПо причине min заказа 4 заказываем 4(Да) или  отказываемся (нет)." + kBack}));
    EXPECT_TRUE(dialogs.lastFocusYes && dialogs.lastWithCancel);
    EXPECT_EQ(quantities(1), "1=10 2=3 3=5 4=8 5=8");
    EXPECT_DOUBLE_EQ(query("SELECT SUMMA FROM ORDERS")->Fields(0).AsFloat(), 10.0 * 34);
    EXPECT_EQ(quantities(0), "1=0 2=0 3=0 4=0 5=0 6=0");
}

TEST_F(SaveOrderTest, CancelOrAFailureLeavesArchiveAndOrderUntouched)
{
    addPrice("1", "А", 2, 20, 10);
    addPrice("2", "Б", 3, 50, 10, 10);
    addPrice("3", "В", 7, 100, 10, 0, 5);
    const QString order = quantities(0);
    dialogs.setNextAnswer(mrCancel); // at the minimum
    EXPECT_FALSE(saver->SaveCurrentOrder(""));
    dialogs.setNextAnswer(mrYes);
    dialogs.setNextAnswer(mrCancel); // at the multiplicity, after two lines were stored
    EXPECT_FALSE(saver->SaveCurrentOrder(""));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERSL") + scalar("SELECT COUNT(*) FROM ORDERS"), 0);
    EXPECT_EQ(quantities(0), order);

    // The lines table refuses the fourth line.
    dm->ExecSQL("CREATE TRIGGER ORDERSL_REFUSE FOR ORDERSL BEFORE INSERT AS BEGIN "
                "IF (NEW.IDTOVAR = '4') THEN NEW.QNT = 1 / 0; END",
                true);
    addPrice("4", "Г", 1, 20, 10);
    dialogs.setNextAnswer(mrYes);
    dialogs.setNextAnswer(mrYes);
    EXPECT_THROW(saver->SaveCurrentOrder(""), fb::DbError);
    EXPECT_EQ(dialogs.waitShown, 0);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERSL") + scalar("SELECT COUNT(*) FROM ORDERS"), 0);
    EXPECT_EQ(quantities(0), "1=2 2=3 3=7 4=1");
    EXPECT_EQ(saver->NextOrderNumber(), 1);
}

TEST_F(SaveOrderTest, ArchiveButtonAsksThenShowsTheNewestOrderAndTheTotals)
{
    exec("INSERT INTO ORDERS (ID, STATUS) VALUES (:P1, 1)", {5});
    addLine(5, "9", "Старое", "", 1, 1, 1);
    addPrice("1", "А", 2, 20, 10);
    addPrice("2", "Б", 3, 50, 10, 10);
    dialogs.setNextAnswer(mrNo);
    EXPECT_FALSE(saver->SaveOrderToArchive(""));
    EXPECT_EQ(dialogs.questions, QStringList{"Сохранить данную заявку в архив без отправки (чтобы отправить позднее)?"});
    EXPECT_FALSE(dialogs.lastWithCancel);
    EXPECT_EQ(totalsShown, 0);
    for (int a : {mrYes, mrCancel, mrYes, mrYes})
        dialogs.setNextAnswer(a);
    EXPECT_FALSE(saver->SaveOrderToArchive("")); // cancelled: shown again all the same
    EXPECT_EQ(totalsShown, 1);
    EXPECT_EQ(dm->OrdersSet()->RecordCount(), 1);
    EXPECT_TRUE(saver->SaveOrderToArchive(""));
    EXPECT_EQ(totalsShown, 2);
    EXPECT_EQ(dm->OrdersSet()->RecordCount(), 2);
    EXPECT_EQ(dm->OrdersSet()->FieldByName("ID").AsInteger(), 6);
    EXPECT_EQ(dm->OrdersLinesTable()->RecordCount(), 2);
}

TEST_F(SaveOrderTest, TheOpenPriceListIsUpdatedInPlaceNotReadAgain)
{
    addPrice("1", "А", 2, 20, 10);
    addPrice("2", "Б", 0, 20, 10);
    addPrice("3", "В", 5, 20, 10);
    addPrice("4", "Г", 1, 20, 10);
    Dataset &price = reopenPrice();
    PriceGrid grid;
    grid.install(*dm);
    // A row the dataset has not read (no quantity): a re-read would show it.
    addPrice("5", "Д", 0, 20, 10);
    grid.SetPriceFilter(true, kOnlyOrderCondition);
    ASSERT_EQ(price.RecordCount(), 3);
    price.SetRecNo(2);
    int scrolls = 0;
    price.AfterScroll = [&scrolls](Dataset &) { ++scrolls; };
    // A quantity being typed when the save starts is not part of it; it
    // is posted afterwards and stays.
    price.Last();
    scrolls = 0;
    price.Edit();
    price.FieldByName("ZAKAZ").SetAsInteger(9);

    EXPECT_TRUE(saver->SaveCurrentOrder(""));

    EXPECT_EQ(quantities(1), "1=2 3=5 4=1");
    EXPECT_EQ(quantities(0), "1=0 2=0 3=0 4=9 5=0");
    EXPECT_EQ(price.State(), DatasetState::Browse);
    EXPECT_EQ(scrolls, 1);
    // The order filter holds only the row just typed; the list was not read again.
    ASSERT_EQ(price.RecordCount(), 1);
    EXPECT_EQ(price.FieldByName("TOVAR").AsString(), "Г");
    grid.SetPriceFilter(false, QString());
    EXPECT_EQ(price.RecordCount(), 4);
    QStringList shown;
    for (price.First(); !price.Eof(); price.Next())
        shown << price.FieldByName("IDTOVAR").AsString() + "=" + price.FieldByName("ZAKAZ").AsString()
                + (price.FieldByName("SUMMA").IsNull() ? "" : "+");
    EXPECT_EQ(shown.join(' '), "1=0 2=0 3=0 4=9+");
    // The save was committed: a rollback afterwards keeps it.
    dm->Rollback();
    EXPECT_EQ(quantities(1), "1=2 3=5 4=1");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM PRICE WHERE IDTOVAR <> '4' AND ZAKAZ > 0"), 0);
}

TEST_F(SaveOrderTest, AQuantityChangedBehindThePriceListIsSavedAsTheDatabaseHoldsIt)
{
    addPrice("1", "А", 2, 20, 10);
    addPrice("2", "Б", 0, 20, 10);
    Dataset &price = reopenPrice();
    exec("UPDATE PRICE SET ZAKAZ = 4 WHERE IDTOVAR = '2'", {});
    EXPECT_TRUE(saver->SaveCurrentOrder(""));
    EXPECT_EQ(quantities(1), "1=2 2=4");
    EXPECT_EQ(quantities(0), "1=0 2=0");
    price.Last();
    EXPECT_EQ(price.FieldByName("ZAKAZ").AsInteger(), 0);

    // The same rows ordered, one quantity changed behind the list: the
    // database's quantity is the one saved.
    exec("UPDATE PRICE SET ZAKAZ = 2 WHERE IDTOVAR = '1'", {});
    exec("UPDATE PRICE SET ZAKAZ = 3 WHERE IDTOVAR = '2'", {});
    reopenPrice();
    exec("UPDATE PRICE SET ZAKAZ = 7 WHERE IDTOVAR = '1'", {});
    EXPECT_TRUE(saver->SaveCurrentOrder(""));
    EXPECT_EQ(quantities(2), "1=7 2=3");
    EXPECT_EQ(scalar("SELECT SUMMA FROM ORDERS WHERE ID = 2"), 100);
}

// The next order number is above every number in use, in the headers and in
// the lines: a header left without lines (older data) does not get a second
// order of its number, and lines without a header are not joined by new ones.
TEST_F(SaveOrderTest, NextNumberIsAboveEveryHeaderAndLine)
{
    EXPECT_EQ(saver->NextOrderNumber(), 1);
    exec("INSERT INTO ORDERS (ID, STATUS) VALUES (:P1, 1)", {5});
    addLine(5, "9", "Старое", "", 1, 1, 1);
    EXPECT_EQ(saver->NextOrderNumber(), 6);
    exec("INSERT INTO ORDERS (ID, STATUS) VALUES (:P1, 1)", {9});
    EXPECT_EQ(saver->NextOrderNumber(), 10);
    addLine(12, "9", "Без заголовка", "", 1, 1, 1);
    EXPECT_EQ(saver->NextOrderNumber(), 13);
}

// A number once given is never given again: the save moves the database's
// generator with its commit, as another connection sees, so deleting the
// newest order from the archive does not free its number (the supplier may
// already hold an order under it).
TEST_F(SaveOrderTest, AGivenNumberIsNeverGivenAgainEvenAfterTheNewestOrderIsDeleted)
{
    const QString db = dir.file("Data/client.gdb");
    const auto generator = [&] { return test::committedScalar(db, "SELECT GEN_ID(GEN_ORDERS_ID, 0) FROM RDB$DATABASE"); };
    addPrice("1", "Аспирин", 2, 20, 10.5);
    reopenPrice();
    ASSERT_TRUE(saver->SaveCurrentOrder(""));
    EXPECT_EQ(scalar("SELECT MAX(ID) FROM ORDERS"), 1);
    EXPECT_EQ(generator(), 1);

    exec("DELETE FROM ORDERSL WHERE IDNAKL = :P1", {1});
    exec("DELETE FROM ORDERS WHERE ID = :P1", {1});
    addPrice("2", "Бинт", 3, 10, 1);
    reopenPrice();
    ASSERT_TRUE(saver->SaveCurrentOrder(""));
    EXPECT_EQ(scalar("SELECT MAX(ID) FROM ORDERS"), 2);
    EXPECT_EQ(generator(), 2);

    // An explicit move forward is kept too, and a move back does nothing.
    dm->AdvanceKeyGenerator("ORDERS", 7);
    dm->Commit();
    EXPECT_EQ(generator(), 7);
    dm->AdvanceKeyGenerator("ORDERS", 3);
    EXPECT_EQ(generator(), 7);
    EXPECT_EQ(saver->NextOrderNumber(), 8);
}

// Every row of the price list can be ordered: an order line keeps a goods code
// as long as the list's (20 characters). An archive made when the lines kept
// 14 is widened as the database opens, with its lines as they were.
TEST_F(SaveOrderTest, GoodsCodeAsLongAsTheListsIsSavedAndAnOlderArchiveIsWidened)
{
    dm.reset();
    {
        pc::TDM older(context, dialogs, log);
        older.CreateFirebirdObjects();
        older.SetConnected(true);
        older.ExecSQL("DROP TABLE ORDERSL", true);
        older.ExecSQL("CREATE TABLE OrdersL (IDNAKL INTEGER, IDTOVAR VARCHAR ( 14 ) , TOVAR VARCHAR ( 100 ) , "
                      "PRODUCT VARCHAR ( 50 ) , QNT INTEGER, PRICE DOUBLE PRECISION, SUMMA DOUBLE PRECISION, CHANGE SMALLINT)",
                      true);
        older.ExecSQL("INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, QNT, PRICE, SUMMA) "
                      "VALUES (7, '12345678901234', 'Старое', 1, 1, 1)",
                      true);
        older.SetConnected(false);
    }
    dm = std::make_unique<pc::TDM>(context, dialogs, log);
    dm->CreateFirebirdObjects();
    dm->OpenDatabase();
    saver = std::make_unique<OrderSaver>(*dm, dialogs, log, settings);
    saver->Now = [this] { return now; };

    const QString code = "ABCDEFGHIJ12345678"; // 18 characters
    addPrice(code, "Аспирин", 2, 20, 10.5);
    reopenPrice();
    EXPECT_TRUE(saver->SaveCurrentOrder(QString()));
    EXPECT_EQ(quantities(8), code + "=2");
    EXPECT_EQ(quantities(7), "12345678901234=1");
    EXPECT_EQ(scalar("SELECT F.RDB$CHARACTER_LENGTH FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F "
                     "ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                     "WHERE RF.RDB$RELATION_NAME = 'ORDERSL' AND RF.RDB$FIELD_NAME = 'IDTOVAR'"),
              20);
    EXPECT_TRUE(log.details.contains("Столбец ORDERSL.IDTOVAR расширен с 14 до 20 символов")) << log.details.join('\n').toStdString();
}
