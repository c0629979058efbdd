#pragma once
// A data module in a temporary program folder, Russian locale, a fixed clock,
// and a pharmacy with client code 1234 (prices masked with 202) and three
// delivery addresses.

#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "core/PriceMask.h"
#include "core/Settings.h"
#include "db/DataModule.h"

#include <QLocale>
#include <gtest/gtest.h>
#include <memory>

struct OrdersFixture : ::testing::Test {
    TempAppDir dir;
    pc::AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    Settings settings;
    std::unique_ptr<pc::TDM> dm;
    const QDateTime now{QDate(2026, 12, 6), QTime(14, 37, 37)};

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        settings.ClientCode = "1234";
        settings.ClientName = "Аптека №1";
        settings.PriceDate = "06.12.2026 10:00:00";
        settings.DeliveryAddresses = {{"пр. Мира, 1", "1234", 0}, {"ул. Ленина, 5", "5678", 1}, {"ул. Садовая, 9", "", 2}};
        dm = std::make_unique<pc::TDM>(context, dialogs, log);
        dm->CreateFirebirdObjects();
        dm->OpenDatabase();
        dialogs.notices.clear();
    }
    void TearDown() override
    {
        dm.reset();
        QLocale::setDefault(QLocale::c());
        EXPECT_FALSE(dialogs.answersLeft());
    }
    // Binds values to the ":P1", ":P2" ... of sql and runs it, committed.
    void exec(const QString &sql, const QVariantList &values)
    {
        auto *q = dm->PrepareQuery(sql);
        for (int i = 0; i < values.size(); ++i)
            dm->SetParamByName(q, QString("P" + QString::number(i + 1)), values[i]);
        dm->ExecQuery(q, true);
    }
    // price: the price the pharmacy sees (stored masked).
    void addPrice(const QString &id, const QString &name, int zakaz, int qnt, double price, int minProd = 0, int minZakaz = 0)
    {
        exec("INSERT INTO PRICE (IDTOVAR, TOVAR, PRODUCT, GODEN, QNT, MINPROD, MINZAKAZ, PRICE, ZAKAZ) "
             "VALUES (:P1, :P2, :P3, '01.01.2027', :P4, :P5, :P6, :P7, :P8)",
             {id, name, QString("Завод " + id), qnt, minProd, minZakaz, MaskPriceValue(price, "1234"), zakaz});
    }
    // An archived line as stored (price and sum masked).
    void addLine(int order, const QString &id, const QString &name, const QString &product, int qnt, double price,
                 double summa, int change = 0)
    {
        exec("INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, PRODUCT, QNT, PRICE, SUMMA, CHANGE) "
             "VALUES (:P1, :P2, :P3, :P4, :P5, :P6, :P7, :P8)",
             {order, id, name, product, qnt, price, summa, change});
    }
    pc::Dataset &reopenPrice()
    {
        dm->OpenPrice(false);
        dm->OpenPrice(true);
        return *dm->PriceSet();
    }
    std::unique_ptr<pc::Dataset> query(const QString &sql) { return std::unique_ptr<pc::Dataset>(dm->OpenQuery(sql, true)); }
    qint64 scalar(const QString &sql) { return query(sql)->Fields(0).AsLargeInt(); }
    // The first row's values as texts joined by "|".
    QString row(const QString &sql)
    {
        auto q = query(sql);
        QStringList values;
        for (int i = 0; i < q->FieldCount(); ++i)
            values << q->Fields(i).DisplayText();
        return values.join('|');
    }
};
