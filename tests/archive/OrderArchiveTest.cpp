#include "DbfWriter.h"
#include "orders/OrdersFixture.h"

#include "orders/OrderArchive.h"
#include "orders/SaveOrder.h"
#include "price/OrderEntry.h"

using namespace pc;

namespace {

struct ArchiveTest : OrdersFixture {
    std::unique_ptr<OrderEntry> entry;
    std::unique_ptr<OrderSaver> saver;
    std::unique_ptr<OrderArchive> archive;
    QStringList busy;

    void SetUp() override
    {
        OrdersFixture::SetUp();
        entry = std::make_unique<OrderEntry>(*dm, dialogs, log, [this] { return settings.ClientCode; });
        saver = std::make_unique<OrderSaver>(*dm, dialogs, log, settings);
        archive = std::make_unique<OrderArchive>(*dm, dialogs, log, context, settings, *entry, *saver);
        archive->SetBusy = [this](bool on) { busy << (on ? "on" : "off"); };
    }
    void answers(std::initializer_list<int> list)
    {
        for (int a : list)
            dialogs.setNextAnswer(a);
    }
    // An archived order with lines "code=quantity", selected in the archive.
    void addOrder(int id, const QStringList &lines)
    {
        exec("INSERT INTO ORDERS (ID, STATUS, SUMMA) VALUES (:P1, 0, 0)", {id});
        for (const QString &l : lines)
            addLine(id, l.section('=', 0, 0), "Товар", "", l.section('=', 1).toInt(), 1, 1);
        saver->ReloadArchive();
        dm->OrdersSet()->Locate("ID", id);
    }
    // "a=b" of the first two columns of every row.
    QString rows(const QString &sql)
    {
        QStringList out;
        for (auto q = query(sql); !q->Eof(); q->Next())
            out << q->Fields(0).AsString() + "=" + q->Fields(1).AsString();
        return out.join(' ');
    }
    QString ordered() { return rows("SELECT IDTOVAR, ZAKAZ FROM PRICE ORDER BY 1"); }
};

} // namespace

TEST_F(ArchiveTest, RestoreAddsOrReplacesAndNeverLosesTheCurrentOrder)
{
    for (QString id : {"1", "2", "AB", "O'B"})
        addPrice(id, "Товар " + id, id == "2" ? 6 : 0, 10, 5);
    // "ab" differs in case from "AB", "9" has left the price list.
    addOrder(7, {"1=3", "2=50", "O'B=4", "ab=1", "9=2"});
    Dataset &price = reopenPrice();
    // A grid showing only the ordered rows hides nothing from the restore.
    price.OnFilterRecord = [](Dataset &ds) { return ds.FieldByName("ZAKAZ").AsInteger() > 0; };
    price.SetFiltered(true);

    answers({mrNo, mrYes, mrCancel, mrYes, mrNo, mrYes, mrYes});
    EXPECT_FALSE(archive->RestoreSelectedOrder());
    EXPECT_FALSE(archive->RestoreSelectedOrder()); // the clearing question closed: nothing changes
    EXPECT_EQ(ordered(), "1=0 2=6 AB=0 O'B=0");
    EXPECT_TRUE(archive->RestoreSelectedOrder()); // No: added, the stock caps nothing
    EXPECT_EQ(ordered(), "1=3 2=56 AB=0 O'B=4");
    EXPECT_TRUE(archive->RestoreSelectedOrder()); // Yes: replaced
    dm->Rollback();                               // committed
    EXPECT_EQ(ordered(), "1=3 2=50 AB=0 O'B=4");
    EXPECT_EQ(dialogs.notices, QStringList({"Заявка восстановлена (3 поз.)!", "Заявка восстановлена (3 поз.)!"}));
    EXPECT_EQ(dialogs.questions.mid(0, 3),
              QStringList({"Вы хотите восстановить выбранную заявку в качестве текущей?",
                           "Вы хотите восстановить выбранную заявку в качестве текущей?",
                           "Текущая заявка не пустая. Очистить ее перед восстановлением заявки?"}));
    EXPECT_EQ(price.RecordCount(), 3);

    // A failure after the clearing brings the cleared order back.
    addOrder(8, {"1=2147483647", "1=2147483647"});
    answers({mrYes, mrYes});
    EXPECT_FALSE(archive->RestoreSelectedOrder());
    EXPECT_EQ(ordered(), "1=3 2=50 AB=0 O'B=4");
    EXPECT_TRUE(log.contains(" (восстановление заявки)", Error));
}

TEST_F(ArchiveTest, DeletionsAskAndAreAllOrNothing)
{
    EXPECT_FALSE(archive->DeleteSelectedOrder()); // empty archive: no question
    addOrder(1, {"1=1"});
    addOrder(3, {"3=3"});
    addOrder(2, {"1=2", "2=2"});
    answers({mrNo, mrYes, mrNo, mrYes, mrNo});
    EXPECT_FALSE(archive->DeleteSelectedOrder());
    EXPECT_TRUE(archive->DeleteSelectedOrder());
    EXPECT_FALSE(archive->DeleteAllOrders());
    EXPECT_FALSE(archive->DeleteAllOrders());
    dm->Rollback();
    EXPECT_EQ(rows("SELECT IDNAKL, IDTOVAR FROM ORDERSL ORDER BY 1"), "1=1 3=3");
    EXPECT_EQ(dm->OrdersSet()->RecordCount(), 2);
    EXPECT_EQ(dm->OrdersSet()->FieldByName("ID").AsInteger(), 3);
    EXPECT_EQ(dialogs.questions, QStringList({"Удалить заявку № 2?", "Удалить заявку № 2?", "Удалить все заявки из архива?",
                                              "Удалить все заявки из архива?", "Вы уверены (все заявки будут удалены)?"}));

    // The lines go first; a failing header deletion must bring them back.
    dm->OrdersLinesTable()->Close();
    dm->OrdersSet()->Close();
    dm->ExecSQL("CREATE EXCEPTION E_BLOCKED 'blocked'", true);
    dm->ExecSQL("CREATE TRIGGER T_BLOCK FOR ORDERS BEFORE DELETE AS BEGIN EXCEPTION E_BLOCKED; END", true);
    saver->ReloadArchive();
    answers({mrYes, mrYes, mrYes});
    EXPECT_FALSE(archive->DeleteSelectedOrder());
    EXPECT_FALSE(archive->DeleteAllOrders());
    dm->Commit();
    EXPECT_EQ(rows("SELECT IDNAKL, IDTOVAR FROM ORDERSL ORDER BY 1"), "1=1 3=3");
    EXPECT_TRUE(log.contains(" (удаление заявок)", Error));

    dm->OrdersLinesTable()->Close();
    dm->OrdersSet()->Close();
    dm->ExecSQL("DROP TRIGGER T_BLOCK", true);
    answers({mrYes, mrYes});
    EXPECT_TRUE(archive->DeleteAllOrders());
    dm->Rollback();
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERS") + scalar("SELECT COUNT(*) FROM ORDERSL"), 0);
}

TEST_F(ArchiveTest, OrderFileImportSetsTheQuantitiesItNames)
{
    for (QString id : {"1", "2", "O'B"})
        addPrice(id, "Товар " + id, id == "O'B" ? 0 : 2, 10, 5);
    EXPECT_FALSE(archive->ImportOrderFile()); // no folder
    settings.FolderOrderImport = " " + dir.file("Data/") + " ";
    settings.FileNameOrder = " ";
    EXPECT_FALSE(archive->ImportOrderFile());
    settings.FileNameOrder = " zakaz.dbf ";
    EXPECT_FALSE(archive->ImportOrderFile());
    EXPECT_EQ(dialogs.notices, QStringList({"Не задана папка импорта в настройках",
                                            "Не задано имя файла импорта в настройках", "Нет файла для импорта"}));
    test::DbfWriter w;
    w.addField("KOD", 'C', 10).addField("KOLVO", 'N', 5);
    w.addRecord({QStringLiteral("1"), 4}).addRecord({QStringLiteral("O'B"), 6}).addRecord({QStringLiteral("x' OR '1'='1"), 1});
    w.save(dir.file("Data/zakaz.dbf"));
    settings.ColumnCode = "KOD";
    settings.ColumnQnt = "QNT"; // not in the file
    reopenPrice();

    answers({mrNo, mrYes, mrYes, mrYes, mrNo, mrYes, mrNo});
    EXPECT_FALSE(archive->ImportOrderFile());
    EXPECT_FALSE(archive->ImportOrderFile()); // fails after clearing: the order and the file stay
    EXPECT_EQ(ordered(), "1=2 2=2 O'B=0");
    EXPECT_TRUE(log.contains(" (импорт заказа)", Error));
    settings.ColumnQnt = "KOLVO";
    settings.DeleteOrderImport = false;
    for (int round = 0; round < 2; ++round) { // set, not added
        EXPECT_TRUE(archive->ImportOrderFile());
        EXPECT_EQ(ordered(), "1=4 2=2 O'B=6");
    }
    EXPECT_EQ(dialogs.notices.last(), "Заказ в количестве 3 позиций импортирован");
    EXPECT_EQ(dir.readBytes("Data/order_i.dbf"), dir.readBytes("Data/zakaz.dbf"));
    EXPECT_EQ(busy, QStringList({"on", "off", "on", "off", "on", "off"}));
    EXPECT_FALSE(dm->PriceSet()->ControlsDisabled());

    settings.DeleteOrderImport = true;
    answers({mrYes, mrYes});
    EXPECT_TRUE(archive->ImportOrderFile());
    dm->Rollback();
    EXPECT_EQ(ordered(), "1=4 2=0 O'B=6");
    EXPECT_FALSE(dir.exists("Data/zakaz.dbf"));
}

TEST_F(ArchiveTest, OldDataImportCanArchiveTheCurrentOrderFirst)
{
    test::DbfWriter orders, lines, empty;
    orders.addField("ID", 'N', 10).addRecord({5});
    orders.save(dir.file("Data/ORDERS.dbf"));
    lines.addField("IDNAKL", 'N', 10).addField("IDTOVAR", 'C', 14).addField("COUNT", 'N', 8).addRecord({5, QStringLiteral("100"), 3});
    lines.save(dir.file("Data/ORDERSL.dbf"));
    empty.addField("ID", 'N', 10);
    empty.save(dir.file("Data/NAKLAD.dbf"));
    empty.save(dir.file("Data/NAKLADL.dbf"));
    addPrice("1", "Аспирин", 3, 10, 5, 5); // the minimum (5) is asked when saving
    reopenPrice();

    answers({mrYes, mrYes, mrCancel, mrYes, mrYes, mrYes, mrYes});
    archive->ImportDbfData(""); // Cancel: back to the order, nothing imported
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERS"), 0);
    archive->ImportDbfData("к");
    EXPECT_EQ(rows("SELECT ID, COMMENT FROM ORDERS ORDER BY 1"), "1= (к) 5=");
    EXPECT_EQ(rows("SELECT IDNAKL, QNT FROM ORDERSL ORDER BY 1"), "1=5 5=3");
    EXPECT_EQ(ordered(), "1=0");
    EXPECT_EQ(dialogs.notices.last(), "Импорт завершен");
    EXPECT_EQ(dialogs.questions[4], "Сохранить текущую заявку в архив без отправки ?");
    EXPECT_TRUE(dialogs.questions.last().startsWith("В архиве уже есть заявки.")); // the saved order
    EXPECT_EQ(dm->OrdersSet()->RecordCount(), 2);
}

TEST_F(ArchiveTest, RestoreGivesALineToOneBatchOfItsGoodsOnly)
{
    addPrice("5", "Йод", 0, 10, 5);
    exec("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, QNT, PRICE, ZAKAZ) VALUES (:P1, :P2, '01.06.2028', 10, 1, 0)",
         {QString("5"), QString("Йод")});
    addOrder(7, {"5=3"});
    reopenPrice();
    answers({mrYes});
    EXPECT_TRUE(archive->RestoreSelectedOrder());
    dm->Rollback(); // committed
    EXPECT_EQ(rows("SELECT EXTRACT(YEAR FROM GODEN), ZAKAZ FROM PRICE ORDER BY 1"), "2027=3 2028=0");
    EXPECT_EQ(dialogs.notices, QStringList({"Заявка восстановлена (1 поз.)!"}));
}

namespace {

// Older DBF files: orders 5 and 9 with one line each, invoice 1 with one line.
void writeOldData(TempAppDir &dir, bool withInvoiceLines = true)
{
    test::DbfWriter orders, lines, invoices, invoiceLines;
    orders.addField("ID", 'N', 10).addRecord({5}).addRecord({9});
    orders.save(dir.file("Data/ORDERS.dbf"));
    lines.addField("IDNAKL", 'N', 10).addField("IDTOVAR", 'C', 14).addField("COUNT", 'N', 8);
    lines.addRecord({5, QStringLiteral("100"), 3}).addRecord({9, QStringLiteral("200"), 1});
    lines.save(dir.file("Data/ORDERSL.dbf"));
    invoices.addField("ID", 'N', 10).addField("NUMBR", 'C', 20).addRecord({1, QStringLiteral("Н-старая")});
    invoices.save(dir.file("Data/NAKLAD.dbf"));
    invoiceLines.addField("ID", 'N', 10).addField("IDTOVAR", 'C', 14).addRecord({1, QStringLiteral("300_1")});
    if (withInvoiceLines)
        invoiceLines.save(dir.file("Data/NAKLADL.dbf"));
}

} // namespace

// Older data into an archive that already holds orders: the person is asked,
// and an order whose number is taken gets a new one with its lines; nothing
// merges with the orders and invoices already there.
TEST_F(ArchiveTest, OldDataIntoAFilledArchiveAsksAndNeverDuplicatesANumber)
{
    writeOldData(dir);
    addOrder(5, {"1=2"});
    addOrder(6, {"2=1"});
    exec("INSERT INTO NAKLAD (ID, NUMBR) VALUES (1, :P1)", {QString("Н-1")});
    exec("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR) VALUES (1, 1, :P1)", {QString("400_1")});

    answers({mrYes, mrNo});
    archive->ImportDbfData("");
    EXPECT_EQ(dialogs.questions.last(), "В архиве уже есть заявки. Заявки из базы данных DBF будут добавлены к ним, "
                                        "заявки с занятыми номерами получат новые номера. Продолжить импорт?");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERS"), 2); // No: nothing imported

    answers({mrYes, mrYes});
    archive->ImportDbfData("");
    dm->Rollback(); // committed
    EXPECT_EQ(rows("SELECT ID, COUNT(*) FROM ORDERS GROUP BY ID"), "5=1 6=1 9=1 10=1");
    EXPECT_EQ(rows("SELECT IDNAKL, IDTOVAR FROM ORDERSL ORDER BY 1"), "5=1 6=2 9=200 10=100");
    EXPECT_EQ(rows("SELECT ID, NUMBR FROM NAKLAD ORDER BY 1"), "1=Н-1 2=Н-старая");
    EXPECT_EQ(rows("SELECT ID, IDTOVAR || ' ' || LINENO FROM NAKLADL ORDER BY 1"), "1=400_1 1 2=300_1 1");
    EXPECT_TRUE(log.contains("Заявка № 5 из базы DBF импортирована под № 10", Warning));
    EXPECT_EQ(dm->OrdersSet()->RecordCount(), 4);
    EXPECT_EQ(dm->OrdersSet()->FieldByName("ID").AsInteger(), 10);
}

// A failed import leaves the database as it was, and the grids show only what
// it holds: the orders and the invoice appended before the failure are gone.
TEST_F(ArchiveTest, FailedOldDataImportLeavesNoImportedRowInTheGrids)
{
    writeOldData(dir, false); // the invoice lines are missing
    answers({mrYes});
    archive->ImportDbfData("");
    EXPECT_EQ(dialogs.notices.last(), "Ошибка при импорте (см. в нижнем окне)");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERS") + scalar("SELECT COUNT(*) FROM NAKLAD"), 0);
    EXPECT_EQ(dm->OrdersSet()->RecordCount(), 0);
    EXPECT_EQ(dm->OrdersLinesTable()->RecordCount(), 0);
    EXPECT_EQ(dm->NakladSet()->RecordCount(), 0);

    // The same at start-up, where the data module runs the import by itself.
    QFile::remove(dir.file("Data/ORDERSL.dbf"));
    dm->ImportOldDbfData();
    EXPECT_EQ(dm->OrdersSet()->RecordCount(), 0);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERS"), 0);
}

// The archive page, the order a defecture answers and the printed order show
// a line's sum as its quantity times the price the pharmacy saw.
TEST_F(ArchiveTest, ArchivedLineSumIsTheQuantityTimesTheShownPrice)
{
    const double stored = MaskPriceValue(16928.08, "1234");
    addOrder(3, {});
    addLine(3, "1", "Товар", "", 12, stored, 12 * stored);
    Dataset &lines = *dm->OrdersLinesTable();
    lines.OnCalcFields = [](Dataset &l) { OrdersLinesADOTableCalcFields(l, "QNT", "1234"); };
    saver->ReloadArchive();
    ASSERT_EQ(lines.RecordCount(), 1);
    EXPECT_EQ(lines.FieldByName("PRICEDEC").DisplayText(), "16928,08");
    EXPECT_EQ(lines.FieldByName("SUMMADEC").DisplayText(), "203136,96");
}
