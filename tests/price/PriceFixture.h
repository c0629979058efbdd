#pragma once
// A data module in a temporary program folder with the price grid logic
// installed, and helpers to fill PRICE, PRICEOLD and PRICE_DET.

#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "core/PriceMask.h"
#include "db/DataModule.h"
#include "db/firebird/Statement.h"
#include "price/PriceGrid.h"

#include <QDate>
#include <QLocale>

#include <gtest/gtest.h>

#include <memory>

namespace pricetest {

struct Row {
    QString id;
    QString name;
    double price = 10.0; // as the pharmacy sees it (stored masked)
    int zakaz = 0;
    int color = 0;
    int gv = 0;
    int hasDet = 0;
    int hasPopup = 0;
    QString regud;
    double pricer = 0.0;
};

struct PriceFixture : ::testing::Test {
    TempAppDir dir;
    pc::AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    std::unique_ptr<pc::TDM> dm;
    pc::PriceGrid grid;
    QString code = QStringLiteral("1234");
    double markup = 0.0;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        dm = std::make_unique<pc::TDM>(context, dialogs, log);
        dm->CreateFirebirdObjects();
        grid.clientCode = [this] { return code; };
        grid.markupPercent = [this] { return markup; };
        grid.install(*dm);
        dm->OpenDatabase(); // an empty price list the first time
        dialogs.notices.clear();
    }
    void TearDown() override
    {
        dm.reset();
        QLocale::setDefault(QLocale::c());
    }

    pc::Dataset &price() { return *dm->PriceSet(); }

    void insert(const QString &table, const Row &r)
    {
        std::unique_ptr<pc::fb::Statement> q = dm->CreateQuery(
            QStringLiteral("INSERT INTO %1 (IDTOVAR, TOVAR, PRICE, PRICER, GODEN, ZAKAZ, COLOR, GV, HASDET, HASPOPUP, REGUDEXIST) "
                           "VALUES (:IDTOVAR, :TOVAR, :PRICE, :PRICER, :GODEN, :ZAKAZ, :COLOR, :GV, :HASDET, :HASPOPUP, :REGUDEXIST)")
                .arg(table));
        q->setValue(QStringLiteral("IDTOVAR"), r.id);
        q->setValue(QStringLiteral("TOVAR"), r.name);
        q->setValue(QStringLiteral("PRICE"), MaskPriceValue(r.price, code));
        q->setValue(QStringLiteral("PRICER"), r.pricer);
        q->setValue(QStringLiteral("GODEN"), QDate(2027, 1, 1));
        q->setValue(QStringLiteral("ZAKAZ"), r.zakaz);
        q->setValue(QStringLiteral("COLOR"), r.color);
        q->setValue(QStringLiteral("GV"), r.gv);
        q->setValue(QStringLiteral("HASDET"), r.hasDet);
        q->setValue(QStringLiteral("HASPOPUP"), r.hasPopup);
        q->setValue(QStringLiteral("REGUDEXIST"), r.regud);
        q->execute();
    }

    // Loads the rows as a new price list and opens it (with the name index).
    void load(const std::vector<Row> &rows)
    {
        for (const Row &r : rows)
            insert(QStringLiteral("PRICE"), r);
        dm->Commit();
        dm->OpenPrice(false);
        dm->OpenPrice(true);
    }

    void addDetail(const QString &id, const QString &popup, const QString &info, int isRef = 0)
    {
        std::unique_ptr<pc::fb::Statement> q = dm->CreateQuery(
            QStringLiteral("INSERT INTO PRICE_DET (IDTOVAR, POPUP, INFO, ISREF) VALUES (:IDTOVAR, :POPUP, :INFO, :ISREF)"));
        q->setValue(QStringLiteral("IDTOVAR"), id);
        q->setValue(QStringLiteral("POPUP"), popup);
        q->setValue(QStringLiteral("INFO"), info);
        q->setValue(QStringLiteral("ISREF"), isRef);
        q->execute();
        dm->Commit();
        dm->PriceDetTable()->Close();
        dm->PriceDetTable()->Open();
    }

    bool moveTo(const QString &name)
    {
        return price().Locate(QStringLiteral("TOVAR"), name);
    }
    QString currentName() { return price().FieldByName(QStringLiteral("TOVAR")).AsString(); }
    QString text(const char *field) { return price().FieldByName(QLatin1String(field)).DisplayText(); }
    QStringList names()
    {
        QStringList all;
        for (int i = 0; i < price().RecordCount(); ++i) {
            pc::Dataset::ActiveRow at(price(), i);
            all << currentName();
        }
        return all;
    }
};

} // namespace pricetest
