// Dataset over real tables: cursor, editing through the statements,
// calculated fields, search, filter, master-detail.
#include <gtest/gtest.h>

#include "support/TempDatabase.h"
#include "db/Dataset.h"
#include "db/TableDefs.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"

#include <QLocale>

using namespace pc;
using pc::test::TempDatabase;

namespace {

class DatasetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        defs = BuildTableDefs(DriverFirebird);
        fb::Statement st(t.tr());
        st.prepare(BuildInsertSQL(defs[TdOrders]));
        const char *names[] = {"Первый", "второй", "Третий", "четвёртый", "Пятый"};
        for (int id = 1; id <= 5; ++id) {
            st.setValue(QStringLiteral("ID"), id);
            st.setValue(QStringLiteral("DATET"), QDate(2026, 1, id));
            st.setValue(QStringLiteral("STATUS"), id % 3);
            st.setValue(QStringLiteral("SUMMA"), id * 100.5);
            st.setValue(QStringLiteral("COMMENT"), QString::fromUtf8(names[id - 1]));
            st.execute();
        }
        st.prepare(BuildInsertSQL(defs[TdOrdersL]));
        for (int id = 1; id <= 3; ++id) {
            for (int line = 0; line < id; ++line) {
                st.setValue(QStringLiteral("IDNAKL"), id);
                st.setValue(QStringLiteral("IDTOVAR"), QStringLiteral("T%1").arg(line));
                st.setValue(QStringLiteral("QNT"), line + 1);
                st.setValue(QStringLiteral("PRICE"), 10.0);
                st.execute();
            }
        }
        t.tr().commitRetaining();
    }

    void openOrders(Dataset &ds)
    {
        ds.SetSelectSQL(QStringLiteral("SELECT * FROM ORDERS ORDER BY ID"));
        ds.SetModifySQL(QStringLiteral("UPDATE ORDERS SET STATUS = :STATUS WHERE ID = :OLD_ID"));
        ds.SetInsertSQL(BuildInsertSQL(defs[TdOrders]));
        ds.Open();
    }

    TempDatabase t{TempDatabase::Content::Tables};
    std::vector<TTableDefs> defs;
};

} // namespace

TEST_F(DatasetTest, CursorMarkersAndScrollEvents)
{
    Dataset ds(t.tr());
    std::vector<int> before, after;
    ds.BeforeScroll = [&](Dataset &d) { before.push_back(d.FieldByName(QStringLiteral("ID")).AsInteger()); };
    ds.AfterScroll = [&](Dataset &d) { after.push_back(d.FieldByName(QStringLiteral("ID")).AsInteger()); };
    openOrders(ds);
    EXPECT_TRUE(ds.Active());
    EXPECT_EQ(ds.RecordCount(), 5);
    EXPECT_TRUE(ds.Bof());
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_EQ(after, std::vector<int>{1}); // opening shows the first row

    int seen = 0;
    for (ds.First(); !ds.Eof(); ds.Next())
        ++seen;
    EXPECT_EQ(seen, 5);
    EXPECT_EQ(ds.RecNo(), 5);
    EXPECT_EQ(before, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(after, (std::vector<int>{1, 2, 3, 4, 5}));

    ds.Prior();
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ds.MoveBy(-10), -3);
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_EQ(ds.MoveBy(2), 2);
    EXPECT_FALSE(ds.Bof());
    const Dataset::Bookmark mark = ds.GetBookmark();
    ds.Last();
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.FieldByName(QStringLiteral("id")).AsInteger(), 5);
    EXPECT_TRUE(ds.GotoBookmark(mark));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ID")).AsInteger(), 3);

    const size_t events = after.size();
    ds.SetRecNo(3); // already there: nothing fires
    EXPECT_EQ(after.size(), events);

    // Values and their kinds.
    EXPECT_EQ(ds.FieldByName(QStringLiteral("COMMENT")).AsString(), QStringLiteral("Третий"));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("DATET")).AsDate(), QDate(2026, 1, 3));
    EXPECT_DOUBLE_EQ(ds.FieldByName(QStringLiteral("SUMMA")).AsFloat(), 301.5);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("STATUS")).DataType(), FieldType::Smallint);
    EXPECT_TRUE(ds.FieldByName(QStringLiteral("PRICETIME")).IsNull());
    EXPECT_EQ(ds.FieldByName(QStringLiteral("PRICETIME")).AsString(), QString());
    EXPECT_EQ(ds.FieldByName(QStringLiteral("PRICETIME")).AsInteger(), 0);
    EXPECT_EQ(ds.FindField(QStringLiteral("NOPE")), nullptr);
    EXPECT_THROW(ds.FieldByName(QStringLiteral("NOPE")), fb::DbError);

    ds.Close();
    EXPECT_FALSE(ds.Active());
    EXPECT_THROW(ds.Next(), fb::DbError);
}

TEST_F(DatasetTest, EditAppendPostCancel)
{
    Dataset ds(t.tr());
    int posted = 0;
    ds.AfterPost = [&](Dataset &) { ++posted; };
    openOrders(ds);
    ds.SetRecNo(2);
    EXPECT_THROW(ds.FieldByName(QStringLiteral("STATUS")).SetAsInteger(9), fb::DbError); // browsing
    ds.Edit();
    EXPECT_EQ(ds.State(), DatasetState::Edit);
    ds.FieldByName(QStringLiteral("STATUS")).SetAsString(QStringLiteral("1"));
    ds.Post();
    EXPECT_EQ(ds.State(), DatasetState::Browse);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("STATUS")).AsInteger(), 1);
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT STATUS FROM ORDERS WHERE ID = 2")), 1);

    ds.Edit();
    ds.FieldByName(QStringLiteral("STATUS")).SetAsInteger(2);
    ds.Cancel();
    EXPECT_EQ(ds.FieldByName(QStringLiteral("STATUS")).AsInteger(), 1);

    // Moving posts a pending edit.
    ds.Edit();
    ds.FieldByName(QStringLiteral("STATUS")).SetAsInteger(2);
    ds.Next();
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT STATUS FROM ORDERS WHERE ID = 2")), 2);
    EXPECT_EQ(posted, 2);

    ds.Append();
    EXPECT_EQ(ds.State(), DatasetState::Insert);
    ds.FieldByName(QStringLiteral("ID")).SetAsInteger(6);
    ds.FieldByName(QStringLiteral("DATET")).SetAsString(QStringLiteral("2026-02-01"));
    ds.FieldByName(QStringLiteral("SUMMA")).SetAsString(QStringLiteral("12,5")); // the locale's comma is read too
    ds.FieldByName(QStringLiteral("COMMENT")).SetAsString(QStringLiteral("новый"));
    ds.Post();
    EXPECT_EQ(ds.RecordCount(), 6);
    EXPECT_EQ(ds.RecNo(), 6);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("COMMENT")).AsString(), QStringLiteral("новый"));
    fb::Statement st(t.tr());
    st.prepare(QStringLiteral("SELECT DATET, SUMMA, COMMENT, STATUS FROM ORDERS WHERE ID = 6"));
    st.execute();
    ASSERT_TRUE(st.fetch());
    EXPECT_EQ(st.asDate(0), QDate(2026, 2, 1));
    EXPECT_EQ(st.asDouble(1), 12.5);
    EXPECT_EQ(st.asText(2), QStringLiteral("новый"));
    EXPECT_TRUE(st.isNull(3));

    // A modify statement that finds no row: the post fails, the cache keeps
    // what the database holds.
    Dataset byDate(t.tr());
    byDate.SetSelectSQL(QStringLiteral("SELECT * FROM ORDERS WHERE ID = 6"));
    byDate.SetModifySQL(QStringLiteral("UPDATE ORDERS SET STATUS = :STATUS WHERE PRICETIME = :OLD_PRICETIME"));
    byDate.Open();
    byDate.Edit();
    byDate.FieldByName(QStringLiteral("STATUS")).SetAsInteger(1);
    try {
        byDate.Post();
        ADD_FAILURE() << "posted a row the database does not have"; // PRICETIME is null: "=" matches nothing
    } catch (const fb::DbError &e) {
        EXPECT_EQ(e.text(), QStringLiteral("Строка не найдена в базе данных, изменение не сохранено"));
    }
    byDate.Cancel();
    EXPECT_TRUE(byDate.FieldByName(QStringLiteral("STATUS")).IsNull());

    ds.Append();
    try {
        ds.FieldByName(QStringLiteral("ID")).SetAsString(QStringLiteral("abc"));
        ADD_FAILURE() << "a text went into a number field";
    } catch (const fb::DbError &e) {
        EXPECT_EQ(e.text(), QStringLiteral("«abc» — недопустимое значение поля ID"));
    }
    ds.Cancel();
    EXPECT_EQ(ds.RecordCount(), 6);

    // Without a modify statement posting is refused and the row stays.
    Dataset plain(t.tr());
    plain.SetTableName(QStringLiteral("ORDERS"));
    plain.Open();
    plain.Edit();
    plain.FieldByName(QStringLiteral("STATUS")).SetAsInteger(7);
    EXPECT_THROW(plain.Post(), fb::DbError);
    EXPECT_EQ(plain.State(), DatasetState::Edit);
    plain.Close(); // drops the edit
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT COUNT(*) FROM ORDERS WHERE STATUS = 7")), 0);
}

TEST_F(DatasetTest, CalculatedFieldsAndDisplayFormat)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    Dataset ds(t.tr());
    ds.AddField(QStringLiteral("SUMMA"), FieldType::Float, 0, false, QStringLiteral("#.##"));
    ds.AddField(QStringLiteral("Sstatus"), FieldType::String, 100, true);
    ds.AddField(QStringLiteral("HALF"), FieldType::Float, 0, true, QStringLiteral("#.##"));
    int calcs = 0;
    ds.OnCalcFields = [&](Dataset &d) {
        ++calcs;
        const int status = d.FieldByName(QStringLiteral("STATUS")).AsInteger();
        if (status == 0)
            d.FieldByName(QStringLiteral("Sstatus")).SetAsString(QStringLiteral("Не отправлена"));
        else if (status == 1)
            d.FieldByName(QStringLiteral("Sstatus")).SetAsString(QStringLiteral("Отправлена"));
        d.FieldByName(QStringLiteral("HALF")).SetAsFloat(d.FieldByName(QStringLiteral("ID")).AsInteger() == 1 ? 0.5 : 0.0);
    };
    openOrders(ds);
    EXPECT_EQ(calcs, 0); // nothing computed until read
    EXPECT_EQ(ds.FieldCount(), 12); // ten columns, two calculated
    EXPECT_EQ(ds.FieldByName(QStringLiteral("SSTATUS")).AsString(), QStringLiteral("Отправлена"));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("HALF")).DisplayText(), QStringLiteral(",5"));
    EXPECT_EQ(calcs, 1);
    ds.Next();
    EXPECT_EQ(ds.FieldByName(QStringLiteral("Sstatus")).AsString(), QString()); // status 2: left empty
    EXPECT_EQ(ds.FieldByName(QStringLiteral("HALF")).DisplayText(), QString());
    EXPECT_EQ(ds.FieldByName(QStringLiteral("SUMMA")).DisplayText(), QStringLiteral("201"));
    {
        Dataset::ActiveRow row(ds, 2); // reading another row moves nothing
        EXPECT_EQ(ds.FieldByName(QStringLiteral("Sstatus")).AsString(), QStringLiteral("Не отправлена"));
    }
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ID")).AsInteger(), 2);

    // An edit recomputes from the edited values; calculated values are never posted.
    ds.Edit();
    ds.FieldByName(QStringLiteral("STATUS")).SetAsInteger(0);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("Sstatus")).AsString(), QStringLiteral("Не отправлена"));
    ds.Post();

    EXPECT_EQ(FormatFloat(QStringLiteral("#.##"), 12.5), QStringLiteral("12,5"));
    EXPECT_EQ(FormatFloat(QStringLiteral("#.##"), 0.0), QString());
    EXPECT_EQ(FormatFloat(QStringLiteral("#.##"), 1.006), QStringLiteral("1,01"));
    EXPECT_EQ(FormatFloat(QStringLiteral("#.##"), -0.001), QString());
    EXPECT_EQ(FormatFloat(QStringLiteral("0.00"), 3.0), QStringLiteral("3,00"));
    EXPECT_EQ(FormatFloat(QStringLiteral("#,##0.00"), -1234567.891),
              QStringLiteral("-1") + QLocale().groupSeparator() + QStringLiteral("234") + QLocale().groupSeparator()
                  + QStringLiteral("567,89"));
    QLocale::setDefault(saved);

    // A data field the select does not deliver makes opening fail.
    Dataset bad(t.tr());
    bad.SetTableName(QStringLiteral("ORDERS"));
    bad.AddField(QStringLiteral("MISSING"), FieldType::Integer);
    EXPECT_THROW(bad.Open(), fb::DbError);
    EXPECT_FALSE(bad.Active());
    // The failed dataset holds nothing that keeps the table in use.
    bad.Close();
    ds.Close();
    t.exec(QStringLiteral("DROP TABLE ORDERS"));
    t.tr().commitRetaining();
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'ORDERS'")), 0);
}

TEST_F(DatasetTest, LocateLookupAndFilter)
{
    Dataset ds(t.tr());
    openOrders(ds);
    EXPECT_FALSE(ds.Locate(QStringLiteral("COMMENT"), QStringLiteral("ВТОРОЙ")));
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_TRUE(ds.Locate(QStringLiteral("COMMENT"), QStringLiteral("ВТОРОЙ"), {true, false}));
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_FALSE(ds.Locate(QStringLiteral("COMMENT"), QStringLiteral("четв"), {true, false}));
    EXPECT_TRUE(ds.Locate(QStringLiteral("COMMENT"), QStringLiteral("ЧЕТВ"), {true, true}));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ID")).AsInteger(), 4);
    EXPECT_TRUE(ds.Locate(QStringLiteral("SUMMA"), 502.5));
    EXPECT_EQ(ds.RecNo(), 5);
    EXPECT_TRUE(ds.Locate(QStringLiteral("ID"), QStringLiteral("3")));
    EXPECT_FALSE(ds.Locate(QStringLiteral("ID"), QStringLiteral("x")));
    EXPECT_EQ(ds.RecNo(), 3);

    EXPECT_EQ(ds.Lookup(QStringLiteral("ID"), 5, QStringLiteral("COMMENT")).toString(), QStringLiteral("Пятый"));
    EXPECT_FALSE(ds.Lookup(QStringLiteral("ID"), 42, QStringLiteral("COMMENT")).isValid());
    EXPECT_EQ(ds.RecNo(), 3);

    ds.SetFilter(QStringLiteral("STATUS > 0"));
    ds.OnFilterRecord = [](Dataset &d) { return d.FieldByName(QStringLiteral("STATUS")).AsInteger() > 0; };
    ds.SetFiltered(true);
    EXPECT_EQ(ds.RecordCount(), 4); // ID 3 has status 0
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_EQ(ds.Filter(), QStringLiteral("STATUS > 0"));
    EXPECT_FALSE(ds.Locate(QStringLiteral("ID"), 3));
    ds.SetFiltered(false);
    EXPECT_EQ(ds.RecordCount(), 5);
}

TEST_F(DatasetTest, MasterDetailFollowsTheMaster)
{
    Dataset orders(t.tr());
    Dataset lines(t.tr());
    lines.SetTableName(QStringLiteral("ORDERSL"));
    lines.SetMaster(&orders, QStringLiteral("ID"), QStringLiteral("IDNAKL"));
    openOrders(orders);
    lines.Open();
    EXPECT_EQ(lines.RecordCount(), 1);
    orders.Next();
    EXPECT_EQ(lines.RecordCount(), 2);
    orders.Next();
    EXPECT_EQ(lines.RecordCount(), 3);
    EXPECT_EQ(lines.FieldByName(QStringLiteral("IDNAKL")).AsInteger(), 3);
    orders.Last();
    EXPECT_TRUE(lines.IsEmpty());

    // While controls are disabled the detail stays; enabling catches up.
    orders.DisableControls();
    orders.First();
    EXPECT_TRUE(lines.IsEmpty());
    orders.EnableControls();
    EXPECT_EQ(lines.RecordCount(), 1);

    // A detail through the select's own parameter.
    Dataset byParam(t.tr());
    byParam.SetSelectSQL(QStringLiteral("SELECT * FROM ORDERSL WHERE IDNAKL = :ID ORDER BY IDTOVAR"));
    byParam.SetMaster(&orders, QStringLiteral("ID"));
    byParam.Open();
    EXPECT_EQ(byParam.RecordCount(), 1);
    orders.SetRecNo(3);
    EXPECT_EQ(byParam.RecordCount(), 3);
    EXPECT_EQ(byParam.FieldByName(QStringLiteral("IDTOVAR")).AsString(), QStringLiteral("T0"));

    // A text master field against a number column; a text that is no number
    // gives no rows rather than an error.
    t.exec(QStringLiteral("INSERT INTO DEFECT (ID, NUMBR) VALUES (1, '2')"));
    t.exec(QStringLiteral("INSERT INTO DEFECT (ID, NUMBR) VALUES (2, 'б/н')"));
    Dataset defect(t.tr());
    defect.SetSelectSQL(QStringLiteral("SELECT * FROM DEFECT ORDER BY ID"));
    Dataset defectOrder(t.tr());
    defectOrder.SetTableName(QStringLiteral("ORDERSL"));
    defectOrder.SetMaster(&defect, QStringLiteral("NUMBR"), QStringLiteral("IDNAKL"));
    defect.Open();
    defectOrder.Open();
    EXPECT_EQ(defectOrder.RecordCount(), 2);
    defect.Next();
    EXPECT_TRUE(defectOrder.IsEmpty());

    // Closing the master empties the detail.
    orders.Close();
    EXPECT_TRUE(lines.Active());
    EXPECT_TRUE(lines.IsEmpty());
}

TEST_F(DatasetTest, CommitRetainingKeepsTheOpenDataset)
{
    Dataset ds(t.tr());
    openOrders(ds);
    ds.SetRecNo(4);
    t.tr().commitRetaining();
    ds.Next();
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ID")).AsInteger(), 5);
    ds.Edit();
    ds.FieldByName(QStringLiteral("STATUS")).SetAsInteger(2);
    ds.Post();
    t.tr().rollbackRetaining(); // undoes the post in the database
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT STATUS FROM ORDERS WHERE ID = 5")), 5 % 3);
    ds.Refresh();
    EXPECT_EQ(ds.RecNo(), 5);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("STATUS")).AsInteger(), 5 % 3);
}

// Closing, disconnecting and connecting again, as the price update does
// around replacing files: the datasets open and post again.
TEST_F(DatasetTest, ReopensAfterReconnect)
{
    Dataset ds(t.tr());
    openOrders(ds);
    Field *status = &ds.FieldByName(QStringLiteral("STATUS"));
    ds.Close();
    t.db().detach();
    t.db().attach(t.path());
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 5);
    EXPECT_EQ(&ds.FieldByName(QStringLiteral("STATUS")), status); // field objects survive
    ds.Edit();
    status->SetAsInteger(2);
    ds.Post();
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT STATUS FROM ORDERS WHERE ID = 1")), 2);
}
