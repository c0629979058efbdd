// Table definitions and the SQL texts rendered from them; the last test runs
// every rendered text on a real database.
#include <gtest/gtest.h>

#include "support/TempDatabase.h"
#include "db/EmptyDatabase.h"
#include "db/TableDefs.h"
#include "db/firebird/Statement.h"

#include <QSet>

using namespace pc;

TEST(TableDefs, PerDriverNames)
{
    for (int kind : {0, 1}) {
        EXPECT_TRUE(IsDBF(kind));
        EXPECT_FALSE(IsFirebird(kind));
        EXPECT_EQ(QntFieldName(kind), QStringLiteral("COUNT"));
        EXPECT_EQ(ReadFieldName(kind), QStringLiteral("READ"));
        EXPECT_EQ(SumFieldName(kind), QStringLiteral("SUM"));
    }
    EXPECT_TRUE(IsFirebird(2));
    EXPECT_FALSE(IsDBF(2));
    EXPECT_EQ(QntFieldName(2), QStringLiteral("QNT"));
    EXPECT_EQ(ReadFieldName(2), QStringLiteral("ISREAD"));
    EXPECT_EQ(SumFieldName(2), QStringLiteral("SUMMA"));
    for (int kind : {3, 255, -1}) {
        EXPECT_FALSE(IsDBF(kind));
        EXPECT_FALSE(IsFirebird(kind));
        EXPECT_EQ(QntFieldName(kind), QStringLiteral("QNT"));
    }
    // The definitions pick the names up when built.
    for (int kind : {0, 2}) {
        const auto defs = BuildTableDefs(kind);
        EXPECT_EQ(defs[TdOrdersL].GetDef(4).Name, QntFieldName(kind));
        EXPECT_EQ(defs[TdDefectL].GetDef(4).Name, QntFieldName(kind));
        EXPECT_EQ(defs[TdNakladL].GetDef(7).Name, QntFieldName(kind));
        EXPECT_EQ(defs[TdDefect].GetDef(3).Name, ReadFieldName(kind));
        EXPECT_EQ(defs[TdNaklad].GetDef(5).Name, ReadFieldName(kind));
        EXPECT_EQ(defs[TdPrice].GetDef(11).Name, SumFieldName(kind));
        EXPECT_EQ(defs[TdNakladL].GetDef(9).Name, SumFieldName(kind));
    }
}

TEST(TableDefs, ShapeOfTheEightDefinitions)
{
    const auto defs = BuildTableDefs(DriverFirebird);
    ASSERT_EQ(defs.size(), size_t(TdCount));
    const QStringList names{"PRICE", "PRICE_DET", "ORDERS", "ORDERSL", "DEFECT", "DEFECTL", "NAKLAD", "NAKLADL"};
    const std::vector<int> counts{25, 4, 11, 10, 4, 5, 7, 21};
    const std::vector<int> calculated{7, 0, 1, 2, 0, 0, 3, 3};
    for (int i = 0; i < TdCount; ++i) {
        EXPECT_EQ(defs[size_t(i)].Name(), names[i]);
        EXPECT_EQ(defs[size_t(i)].Count(), counts[size_t(i)]) << names[i].toStdString();
        int calc = 0;
        for (const auto &e : defs[size_t(i)].Entries())
            calc += e.Calculated;
        EXPECT_EQ(calc, calculated[size_t(i)]) << names[i].toStdString();
    }
    const FieldDefEntry zakaz = defs[TdPrice].GetDef(23);
    EXPECT_EQ(zakaz.Name, QStringLiteral("ZAKAZ"));
    EXPECT_EQ(zakaz.FieldClass, FieldKind::Integer);
    EXPECT_EQ(zakaz.Size, 10);
    EXPECT_TRUE(zakaz.Indexed);
    const FieldDefEntry price = defs[TdNakladL].GetDef(8);
    EXPECT_EQ(price.Size, 19);
    EXPECT_EQ(price.Precision, 3);
    EXPECT_THROW(defs[TdDefect].GetDef(4), std::out_of_range);

    TTableDefs own(QStringLiteral("X"));
    AddFieldDef(own, QStringLiteral("A"), FieldKind::BCD, false, 10, 4, true);
    const FieldDefEntry copy = own.GetDef(0);
    EXPECT_EQ(copy.Precision, 4);
    EXPECT_EQ(own.IndexOf(QStringLiteral("a")), 0);
    EXPECT_EQ(own.IndexOf(QStringLiteral("B")), -1);
}

TEST(TableDefs, TypeTexts)
{
    FieldDefEntry s{QStringLiteral("S"), FieldKind::String, false, 20, 0, false};
    EXPECT_EQ(SqlTypeOf(s, DriverFirebird), QStringLiteral("VARCHAR ( 20 ) "));
    EXPECT_EQ(SqlTypeOf(s, DriverOdbc), QStringLiteral("STRING ( 20 ) "));
    s.Size = 0;
    EXPECT_EQ(SqlTypeOf(s, DriverFirebird), QStringLiteral("VARCHAR"));
    FieldDefEntry n{QStringLiteral("N"), FieldKind::Numeric, false, 15, 2, false};
    EXPECT_EQ(SqlTypeOf(n, DriverFirebird), QStringLiteral("NUMERIC ( 15 , 2 ) "));
    FieldDefEntry f{QStringLiteral("F"), FieldKind::Float, false, 12, 2, false};
    EXPECT_EQ(SqlTypeOf(f, DriverFirebird), QStringLiteral("DOUBLE PRECISION"));
    EXPECT_EQ(SqlTypeOf(f, DriverVfpOleDb), QStringLiteral("FLOAT"));
    FieldDefEntry i{QStringLiteral("I"), FieldKind::Integer, false, 10, 0, false};
    EXPECT_EQ(SqlTypeOf(i, DriverFirebird), QStringLiteral("INTEGER"));
}

TEST(TableDefs, CreateAndIndexTexts)
{
    const auto fb = BuildTableDefs(DriverFirebird);
    EXPECT_EQ(CreateTableSQL(fb[TdPriceDet], QStringLiteral("Price_det"), DriverFirebird),
              QStringLiteral("CREATE TABLE Price_det (IDTOVAR VARCHAR ( 14 ) , POPUP VARCHAR ( 70 ) , "
                             "INFO VARCHAR ( 250 ) , ISREF SMALLINT)"));

    const QString price = CreateTableSQL(fb[TdPrice], QStringLiteral("Price"), DriverFirebird);
    EXPECT_EQ(price.count(QStringLiteral(", ")), 17); // 18 columns
    EXPECT_EQ(price.count(QStringLiteral("DOUBLE PRECISION")), 2);
    EXPECT_FALSE(price.contains(QStringLiteral("PRICER_DISP")));
    EXPECT_FALSE(price.contains(QStringLiteral("SUMMA")));
    EXPECT_TRUE(price.endsWith(QStringLiteral("REGUDEXIST VARCHAR ( 20 ) )")));

    const auto dbf = BuildTableDefs(DriverOdbc);
    const QString priceDbf = CreateTableSQL(dbf[TdPrice], QStringLiteral("Price"), DriverOdbc);
    EXPECT_EQ(priceDbf.count(QStringLiteral(", ")), 17);
    EXPECT_TRUE(priceDbf.contains(QStringLiteral("PRICE FLOAT, PRODUCT STRING ( 50 ) , ")));
    EXPECT_FALSE(priceDbf.contains(QStringLiteral("DOUBLE")));

    EXPECT_EQ(CreateIndexSQL(fb[TdPrice], QStringLiteral("PriceOld"), DriverFirebird),
              QStringList({QStringLiteral("CREATE INDEX PriceOld_IDX0 ON PriceOld (IDTOVAR)"),
                           QStringLiteral("CREATE INDEX PriceOld_IDX1 ON PriceOld (TOVAR)"),
                           QStringLiteral("CREATE INDEX PriceOld_IDX23 ON PriceOld (ZAKAZ)")}));
    EXPECT_EQ(CreateIndexSQL(fb[TdNakladL], QStringLiteral("NakladL"), DriverFirebird),
              QStringList({QStringLiteral("CREATE INDEX NakladL_IDX1 ON NakladL (ID)"),
                           QStringLiteral("CREATE INDEX NakladL_IDX2 ON NakladL (IDTOVAR)")}));
    EXPECT_TRUE(CreateIndexSQL(fb[TdDefect], QStringLiteral("Defect"), DriverFirebird).isEmpty());
    EXPECT_TRUE(CreateIndexSQL(dbf[TdPrice], QStringLiteral("Price"), DriverOdbc).isEmpty());
}

TEST(TableDefs, InsertTexts)
{
    const auto fb = BuildTableDefs(DriverFirebird);
    EXPECT_EQ(BuildInsertSQL(fb[TdOrders]),
              QStringLiteral("INSERT INTO ORDERS (ID,DATET,PRICETIME,STATUS,SUMMA,COMMENT,ORDERTIME,SENDFILE,SENDSIZE,SENDHASH) VALUES "
                             "(:ID,:DATET,:PRICETIME,:STATUS,:SUMMA,:COMMENT,:ORDERTIME,:SENDFILE,:SENDSIZE,:SENDHASH)"));
    const QString naklL = BuildInsertSQL(fb[TdNakladL]);
    EXPECT_TRUE(naklL.contains(QStringLiteral(",PRICE_APT) VALUES (:LINENO,"))) << naklL.toStdString();
    EXPECT_TRUE(naklL.endsWith(QStringLiteral(",:PRICE_APT)"))) << naklL.toStdString();
    EXPECT_TRUE(naklL.contains(QStringLiteral(",QNT,PRICE,SUMMA,STNDS,")));
    EXPECT_FALSE(naklL.contains(QStringLiteral("GV_DISP")));
    EXPECT_FALSE(naklL.contains(QStringLiteral(",,")));
    EXPECT_TRUE(BuildInsertSQL(fb[TdPrice], QStringLiteral("PriceOld")).startsWith(QStringLiteral("INSERT INTO PriceOld (IDTOVAR,")));
    const auto dbf = BuildTableDefs(DriverVfpOleDb);
    EXPECT_TRUE(BuildInsertSQL(dbf[TdNakladL]).contains(QStringLiteral(",COUNT,PRICE,SUM,STNDS,")));
    // Parameters equal the stored column names, in column order.
    const pc::fb::ParsedSql p = pc::fb::parseNamedParameters(BuildInsertSQL(fb[TdPrice]));
    QStringList stored;
    for (const auto &e : fb[TdPrice].Entries())
        if (!e.Calculated)
            stored << e.Name;
    EXPECT_EQ(QStringList(p.names.begin(), p.names.end()), stored);
}

// All nine tables and their eleven indexes exist in a made database, and the
// money columns keep kopecks above a million.
TEST(EmptyDatabase, HoldsEveryTableAndIndex)
{
    pc::test::TempDatabase t(pc::test::TempDatabase::Content::Tables);
    pc::fb::Statement st(t.tr());
    st.prepare(QStringLiteral("SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS WHERE RDB$SYSTEM_FLAG = 0"));
    st.execute();
    QSet<QString> tables;
    while (st.fetch())
        tables.insert(st.asText(0));
    EXPECT_EQ(tables, (QSet<QString>{"PRICE", "PRICEOLD", "PRICE_DET", "ORDERS", "ORDERSL", "DEFECT", "DEFECTL",
                                     "NAKLAD", "NAKLADL"}));
    st.prepare(QStringLiteral("SELECT TRIM(RDB$INDEX_NAME) FROM RDB$INDICES WHERE RDB$SYSTEM_FLAG = 0"));
    st.execute();
    QSet<QString> indexes;
    while (st.fetch())
        indexes.insert(st.asText(0));
    EXPECT_EQ(indexes, (QSet<QString>{"PRICE_IDX0", "PRICE_IDX1", "PRICE_IDX23", "PRICEOLD_IDX0", "PRICEOLD_IDX1",
                                      "PRICEOLD_IDX23", "PRICE_DET_IDX0", "ORDERS_IDX0", "ORDERSL_IDX0",
                                      "DEFECTL_IDX0", "NAKLADL_IDX1", "NAKLADL_IDX2"}));
    const auto defs = BuildTableDefs(DriverFirebird);
    st.prepare(BuildInsertSQL(defs[TdOrders]));
    st.setValue(QStringLiteral("ID"), 1);
    st.setValue(QStringLiteral("SUMMA"), 1234567.89);
    st.setValue(QStringLiteral("COMMENT"), QStringLiteral("Срочно"));
    st.execute();
    st.prepare(QStringLiteral("SELECT SUMMA, COMMENT FROM ORDERS"));
    st.execute();
    ASSERT_TRUE(st.fetch());
    EXPECT_EQ(st.asDouble(0), 1234567.89);
    EXPECT_EQ(st.asText(1), QStringLiteral("Срочно"));
}
