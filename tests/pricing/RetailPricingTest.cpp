#include "OtherConnection.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "db/DataModule.h"
#include "documents/RetailPricing.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace pc;

TEST(RetailPrice, GeneralMarkupRoundingAndTheVitalCeiling)
{
    const std::vector<double> table{25, 15, 10};
    EXPECT_DOUBLE_EQ(PharmacyPriceFor({10.00, 0, 10, false}, 25, false, table, 0), 12.50);
    // The general markup gives the nearest kopeck: 11.011 is 11.01, 11.066 is 11.07.
    EXPECT_DOUBLE_EQ(PharmacyPriceFor({10.01, 0, 10, false}, 10, false, table, 0), 11.01);
    EXPECT_DOUBLE_EQ(PharmacyPriceFor({10.06, 0, 10, false}, 10, false, table, 0), 11.07);
    EXPECT_DOUBLE_EQ(RoundPrice(12.53, 1), 12.55);
    EXPECT_DOUBLE_EQ(RoundPrice(12.50, 4), 12);
    EXPECT_DOUBLE_EQ(RoundPrice(13.50, 4), 14);
    EXPECT_DOUBLE_EQ(RoundPrice(12.20, 3), 12.0); // to the nearest half rouble, not up
    EXPECT_DOUBLE_EQ(RoundPrice(12.30, 3), 12.5);
    // Vital: producer 40 with VAT 10 is 36.36 without, so the first bracket (25 %).
    EXPECT_DOUBLE_EQ(MaxMarkupFor(40, 10, table), 25);
    EXPECT_DOUBLE_EQ(MarkupPercent(60.00, 50, 40), 25.00);
    EXPECT_DOUBLE_EQ(PharmacyPriceFor({50, 40, 10, true}, 30, true, table, 0), 59.99);
    EXPECT_DOUBLE_EQ(PharmacyPriceFor({50, 40, 10, true}, 30, true, table, 2), 59.90);
    // Starting below the limit (0.83 of 3.33 is 24.92 %): raised to 10.84
    // (25.23 %), then one kopeck back.
    EXPECT_DOUBLE_EQ(PharmacyPriceFor({10, 3.33, 10, true}, 30, true, table, 0), 10.83);
    // The ceiling applies only with the rule on and to vital lines.
    EXPECT_DOUBLE_EQ(PharmacyPriceFor({50, 40, 10, true}, 30, false, table, 0), 65.00);
    EXPECT_DOUBLE_EQ(PharmacyPriceFor({50, 40, 10, false}, 30, true, table, 0), 65.00);
    // A maximum of 0: just under the supplier price, no rounding correction.
    EXPECT_DOUBLE_EQ(PharmacyPriceFor({50, 40, 10, true}, 30, true, {0, 0, 0}, 0), 49.99);
    // Brackets by the price without VAT.
    EXPECT_DOUBLE_EQ(MaxMarkupFor(55, 10, table), 25); // 50.00
    EXPECT_DOUBLE_EQ(MaxMarkupFor(56, 10, table), 15);
    EXPECT_DOUBLE_EQ(MaxMarkupFor(550, 10, table), 15); // 500.00: still the middle bracket
    EXPECT_DOUBLE_EQ(MaxMarkupFor(551, 10, table), 10);
    // No producer price under the rule: the general markup, reported, no crash.
    bool skipped = false;
    EXPECT_DOUBLE_EQ(PharmacyPriceFor({50, 0, 10, true}, 20, true, table, 0, &skipped), 60.00);
    EXPECT_TRUE(skipped);
}

namespace {
struct PricingFixture : ::testing::Test {
    TempAppDir dir;
    AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<RetailPricing> pricing;
    const std::vector<QString> keys{"До 50 р.", "От 50 р. до 500 р.", "Выше 500 р."};

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        dm = std::make_unique<TDM>(context, dialogs, log);
        dm->CreateFirebirdObjects();
        dm->OpenDatabase();
        dialogs.notices.clear();
        pricing = std::make_unique<RetailPricing>(*dm, dialogs, log);
        dm->NakladLinesSet()->OnCalcFields = [this](Dataset &l) { pricing->tblNakladLinesCalcFields(l); };
        dm->NakladSet()->OnCalcFields = [this](Dataset &n) { pricing->tblNakladCalcFields(n); };
        dm->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, NAKLDATE, ISREAD) VALUES (7, 'Н-7', '01.12.2026', 0)", false);
        dm->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, NAKLDATE, ISREAD) VALUES (3, 'Н-3', '01.11.2026', 1)", false);
        dm->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA, STNDS, PRICE_PR, GV, PRREESTR) "
                    "VALUES (7, 1, '12345_2', 'Аспирин', 2, 50, 100, 10, 40, 1, 30)", false);
        dm->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA, STNDS, PRICE_PR, GV) "
                    "VALUES (7, 2, '777', 'Бинт', 1, 10, 10, 10, 8, 0)", false);
        dm->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA, PRICE_APT) "
                    "VALUES (3, 1, '12345_9', 'Аспирин', 1, 45, 45, 55.5)", true);
        dm->NakladSet()->Refresh();
        dm->NakladSet()->Locate("ID", 7);
    }
    void TearDown() override
    {
        pricing.reset();
        dm.reset();
        QLocale::setDefault(QLocale::c());
    }
};
} // namespace

TEST_F(PricingFixture, InvoiceLinesArePricedStoredAndTotalled)
{
    ASSERT_EQ(dm->NakladLinesSet()->RecordCount(), 2);
    dm->NakladLinesSet()->First();
    EXPECT_EQ(dm->NakladLinesSet()->FieldByName("NACENKA_APT").AsString(), ""); // no pharmacy price yet
    ASSERT_TRUE(pricing->SetPharmacyPrices("30", true, keys, {"25", "15", "10"}, 2));
    Dataset *q = dm->OpenQuery("SELECT PRICE_APT FROM NAKLADL WHERE ID = 7 ORDER BY LINENO");
    EXPECT_DOUBLE_EQ(q->Fields(0).AsFloat(), 59.9);
    q->Next();
    EXPECT_DOUBLE_EQ(q->Fields(0).AsFloat(), 13.0);
    // Made permanent at once: another connection sees the new prices.
    EXPECT_EQ(test::committedScalar(dir.file("Data/client.gdb"), "SELECT SUM(PRICE_APT * 10) FROM NAKLADL WHERE ID = 7"), 729);
    EXPECT_DOUBLE_EQ(pricing->NakladSum, 110);
    EXPECT_DOUBLE_EQ(pricing->NakladSumApt, 59.9 * 2 + 13);
    Dataset &lines = *dm->NakladLinesSet();
    lines.First();
    EXPECT_EQ(lines.FieldByName("NACENKA_APT").AsString(), "24,75%");
    EXPECT_DOUBLE_EQ(lines.FieldByName("SUMMAPT").AsFloat(), 119.8);
    EXPECT_EQ(lines.FieldByName("GV_DISP").AsString(), "*");
    EXPECT_FALSE(pricing->MarkupOverLimit(lines, {25, 15, 10}));
    EXPECT_TRUE(pricing->ProducerPriceOverRegistry(lines, false)); // 40 > 30
}

TEST_F(PricingFixture, EmptyMarkupCellStopsBeforeAnyLineChanges)
{
    EXPECT_FALSE(pricing->SetPharmacyPrices("30", true, keys, {"25", "", "10"}, 0));
    EXPECT_EQ(dialogs.notices, QStringList({"Не заданы или заданы не верно проценты макс. наценки по ЖВНЛС (см. настройки)"}));
    EXPECT_EQ(dm->OpenQuery("SELECT COUNT(1) FROM NAKLADL WHERE ID = 7 AND PRICE_APT IS NOT NULL")->Fields(0).AsInteger(), 0);
    EXPECT_EQ(dialogs.waitShown, 0);
}

TEST_F(PricingFixture, ArchiveShowsEarlierPricesOfTheCodeAndAClickMarksTheInvoiceViewed)
{
    dm->NakladLinesSet()->First(); // 12345_2
    pricing->RefreshArchivePrices();
    Dataset *archive = dm->ArchivePricesQuery();
    ASSERT_EQ(archive->RecordCount(), 1);
    EXPECT_DOUBLE_EQ(archive->FieldByName("PRICE").AsFloat(), 55.5);
    EXPECT_EQ(archive->FieldByName("NUMBR").AsString(), "Н-3");
    EXPECT_EQ(dm->NakladSet()->FieldByName("READ_OUT").AsString(), "");
    pricing->MarkViewed();
    EXPECT_EQ(dm->OpenQuery("SELECT ISREAD FROM NAKLAD WHERE ID = 7")->Fields(0).AsInteger(), 1);
    EXPECT_EQ(dm->NakladSet()->FieldByName("READ_OUT").AsString(), "V");
}

// A producer price stored with VAT is compared with the registry price
// after taking the VAT off; one stored without VAT as it is.
TEST_F(PricingFixture, ProducerPriceOverTheRegistryPriceWithOrWithoutVat)
{
    dm->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, ISREAD) VALUES (9, 'Н-9', 0)", false);
    dm->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA, STNDS, PRICE_PR, GV, PRREESTR) "
                "VALUES (9, 1, '5', 'Йод', 1, 60, 60, 10, 55, 1, 52)", true);
    dm->NakladSet()->Refresh();
    ASSERT_TRUE(dm->NakladSet()->Locate("ID", 9));
    Dataset &lines = *dm->NakladLinesSet();
    ASSERT_EQ(lines.RecordCount(), 1);
    EXPECT_FALSE(pricing->ProducerPriceOverRegistry(lines, true)); // 55 with VAT is 50 without
    EXPECT_TRUE(pricing->ProducerPriceOverRegistry(lines, false));
}
