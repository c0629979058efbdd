// The price grid logic against a real embedded database: calculated columns,
// cell colours, quick search, filters, and the detail line / pop-up note.
#include "PriceFixture.h"

#include "db/firebird/DbError.h"

using namespace pc;
using pricetest::PriceFixture;
using pricetest::Row;

namespace {

using PriceGridTest = PriceFixture;

QString rgb(const QColor &c) { return c.isValid() ? QStringLiteral("%1,%2,%3").arg(c.red()).arg(c.green()).arg(c.blue()) : QString(); }

} // namespace

TEST_F(PriceGridTest, CalculatedColumnsShowUnmaskedPricesSumsAndTheMarkup)
{
    load({{"1", "АНАЛЬГИН", 10.15, 3, 0, 1, 0, 0, "", 45.678},
          {"2", "БИНТ", 100.00, 0},
          {"3", "ВАТА", 10.15, 0}});
    ASSERT_TRUE(grid.HasGV);
    ASSERT_TRUE(grid.HasColor);

    ASSERT_TRUE(moveTo("АНАЛЬГИН"));
    // The stored price is masked with the client code; the grid shows it plain.
    EXPECT_NE(price().FieldByName("PRICE").AsFloat(), 10.15);
    EXPECT_EQ(text("PRICEDEC"), "10,15");
    EXPECT_EQ(text("SUMMA"), "30,45");
    EXPECT_EQ(price().FieldByName("PRICER_DISP").AsFloat(), 45.68);
    EXPECT_EQ(price().FieldByName("GV_DISP").AsString(), " * ");
    EXPECT_EQ(text("PRICEAPTEKA"), "10,15"); // no markup: the pharmacy price is the price

    ASSERT_TRUE(moveTo("БИНТ"));
    EXPECT_TRUE(price().FieldByName("SUMMA").IsNull());
    EXPECT_EQ(text("SUMMA"), "");
    EXPECT_EQ(price().FieldByName("GV_DISP").AsString(), "");

    // The markup is read for every calculation; 12.5 % on 100.00 is 112.50.
    markup = 12.5;
    dm->RefreshPrice();
    EXPECT_EQ(currentName(), "БИНТ");
    EXPECT_EQ(text("PRICEAPTEKA"), "112,5");
    ASSERT_TRUE(moveTo("ВАТА"));
    EXPECT_EQ(price().FieldByName("PriceApteka").AsFloat(), 11.42); // 1141.875 kopecks rounded

    // Another client code unmasks differently: the code is asked for per row.
    code = QStringLiteral("9");
    dm->RefreshPrice();
    EXPECT_NE(text("PRICEDEC"), "10,15");
}

TEST_F(PriceGridTest, CellColoursFollowColorGvAndTheChangesMode)
{
    const int purple = 200 | (100 << 8) | (255 << 16); // RGB(200, 100, 255) as 0x00BBGGRR
    load({{"1", "АНАЛЬГИН", 10.0, 2, purple, 1},
          {"2", "БИНТ", 20.0, 1, 0, 1},
          {"3", "ВАТА", 30.0, 0}});
    auto colours = [this](const char *name, const char *column, bool selected) {
        EXPECT_TRUE(moveTo(QString::fromUtf8(name)));
        return grid.dbgrdPriceDrawColumnCell(price(), QLatin1String(column), selected);
    };

    EXPECT_EQ(rgb(colours("АНАЛЬГИН", "TOVAR", false).background), "200,100,255");
    EXPECT_EQ(rgb(colours("АНАЛЬГИН", "TOVAR", true).background), "50,0,105");
    // A non-zero COLOR wins over the vital-drug marker's background.
    EXPECT_EQ(rgb(colours("АНАЛЬГИН", "GV_DISP", false).background), "200,100,255");
    EXPECT_EQ(rgb(colours("БИНТ", "GV_DISP", false).background), "255,238,170");
    EXPECT_EQ(rgb(colours("БИНТ", "gv_disp", true).background), "221,187,119");
    EXPECT_FALSE(colours("БИНТ", "TOVAR", false).background.isValid());
    EXPECT_FALSE(colours("ВАТА", "GV_DISP", false).background.isValid());
    EXPECT_FALSE(colours("ВАТА", "ZAKAZ", false).foreground.isValid()); // only in the changes mode

    // The changes mode compares with the previous list kept in PRICEOLD.
    insert("PRICEOLD", {"1", "АНАЛЬГИН", 12.0, 2});
    insert("PRICEOLD", {"2", "БИНТ", 20.0, 3});
    dm->Commit();
    grid.ShowOnlyOrder = true;
    dm->RefreshPrice();
    EXPECT_EQ(rgb(colours("АНАЛЬГИН", "PRICEOLD", false).foreground), "255,0,0");
    EXPECT_EQ(text("PRICEOLD"), "12");
    EXPECT_EQ(rgb(colours("АНАЛЬГИН", "PRICEDEC", false).foreground), "0,0,0");
    EXPECT_EQ(rgb(colours("АНАЛЬГИН", "QNTOLD", false).foreground), "0,0,0");
    EXPECT_EQ(rgb(colours("БИНТ", "PRICEOLD", false).foreground), "0,0,0");
    EXPECT_EQ(rgb(colours("БИНТ", "ZAKAZ", false).foreground), "255,0,0");
    EXPECT_EQ(rgb(colours("БИНТ", "QNTOLD", true).foreground), "255,0,0");
    EXPECT_EQ(price().FieldByName("QntOld").AsInteger(), 3);
}

TEST_F(PriceGridTest, QuickSearchFindsNamesByTheirBeginning)
{
    load({{"1", "Аспирин", 1.0},
          {"2", "Бинт", 1.0},
          {"3", "Бисопролол", 1.0},
          {"4", "Бромгексин", 1.0},
          {"5", "VITAMIN C", 1.0},
          {"6", "Вата", 1.0}});
    ASSERT_EQ(dm->NameIndex().size(), 6);

    EXPECT_TRUE(grid.QuickSearch("би"));
    EXPECT_EQ(currentName(), "Бинт");
    EXPECT_TRUE(grid.QuickSearch("Бр"));
    EXPECT_EQ(currentName(), "Бромгексин");
    EXPECT_TRUE(grid.QuickSearch("v"));
    EXPECT_EQ(currentName(), "VITAMIN C");
    // Nothing matches: the row stays.
    EXPECT_FALSE(grid.QuickSearch("БЯ"));
    EXPECT_EQ(currentName(), "VITAMIN C");
    EXPECT_TRUE(grid.QuickSearch(""));
    EXPECT_EQ(price().RecNo(), 1);

    // The grid is told once, after the move, that the cursor moved: its rows
    // stay as they are.
    int resets = 0, moves = 0;
    QObject::connect(&price(), &Dataset::layoutReset, [&resets] { ++resets; });
    QObject::connect(&price(), &Dataset::currentChanged, [&moves] { ++moves; });
    EXPECT_TRUE(grid.QuickSearch("В"));
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(moves, 1);
    EXPECT_FALSE(price().ControlsDisabled());

    // A narrowed list is searched by its own rows.
    grid.edPriceFilterChange("И");
    ASSERT_EQ(names(), QStringList({"Аспирин", "Бинт", "Бисопролол", "Бромгексин"}));
    EXPECT_TRUE(grid.QuickSearch("бр"));
    EXPECT_EQ(currentName(), "Бромгексин");
}

TEST_F(PriceGridTest, QuickSearchStartsWhereTheFirstLetterIsExpectedAndWrapsOnce)
{
    // 400 names: 100 beginning with Я, then 300 in lower case, which sort
    // after every upper-case name. The scan for Я starts at 31/33 of the list
    // less 100 rows (row 276), finds nothing there and wraps to the top.
    std::vector<Row> rows;
    for (int i = 0; i < 100; ++i)
        rows.push_back({QString::number(i), QStringLiteral("ЯД %1").arg(i, 3, 10, QLatin1Char('0'))});
    for (int i = 0; i < 300; ++i)
        rows.push_back({QString::number(1000 + i), QStringLiteral("аптечка %1").arg(i, 3, 10, QLatin1Char('0'))});
    load(rows);
    ASSERT_EQ(dm->NameIndex().size(), 400);
    ASSERT_TRUE(dm->NameIndex().at(0).startsWith("ЯД"));
    ASSERT_TRUE(dm->NameIndex().at(276).startsWith("АПТЕЧКА"));

    EXPECT_TRUE(grid.QuickSearch("я"));
    EXPECT_EQ(price().RecNo(), 1);
    // The lower-case names lie past the estimate for А (row 0) and are found.
    EXPECT_TRUE(grid.QuickSearch("АПТЕЧКА 2"));
    EXPECT_EQ(currentName(), "аптечка 200");
}

// The same in a list whose names are all upper case (rows and names in one
// order): the scan starts at the estimate, and the names above it are found
// by the wrap to the top.
TEST_F(PriceGridTest, QuickSearchWrapsToTheNamesAboveTheEstimateInAnUpperCaseList)
{
    std::vector<Row> rows;
    for (int i = 0; i < 400; ++i)
        rows.push_back({QString::number(i), QStringLiteral("ЯД %1").arg(i, 3, 10, QLatin1Char('0'))});
    load(rows);
    // Я starts the scan at 31/33 of 400 less 100: row 276.
    EXPECT_TRUE(grid.QuickSearch("я"));
    EXPECT_EQ(currentName(), "ЯД 276");
    EXPECT_TRUE(grid.QuickSearch("ЯД 0"));
    EXPECT_EQ(currentName(), "ЯД 000");
    EXPECT_TRUE(grid.QuickSearch("яд 3"));
    EXPECT_EQ(currentName(), "ЯД 300");
    EXPECT_FALSE(grid.QuickSearch("ЯД 5"));
    EXPECT_EQ(currentName(), "ЯД 300");
}

TEST_F(PriceGridTest, OneFilterAtATimeWithTheTypedTextBoundNotPasted)
{
    load({{"1", "Д'Артаньян капли", 1.0, 0, 0, 0, 0, 0, "РУ-1"},
          {"2", "бинт стерильный", 1.0, 2},
          {"3", "Вата", 1.0, 0, 0, 0, 0, 0, "РУ-2"},
          {"4", "Нет'; DELETE FROM PRICE; --", 1.0}});
    Dataset &p = price();

    // The name filter: any case, apostrophes are plain text.
    grid.edPriceFilterChange("д'АР");
    EXPECT_EQ(names(), QStringList({"Д'Артаньян капли"}));
    EXPECT_TRUE(p.Filtered());
    EXPECT_EQ(p.Filter(), kNameFilterCondition);
    EXPECT_FALSE(p.SelectSQL().contains("WHERE")); // narrowed in memory
    grid.edPriceFilterChange("'; DELETE FROM PRICE; --");
    EXPECT_EQ(names(), QStringList({"Нет'; DELETE FROM PRICE; --"}));
    grid.edPriceFilterChange("БИНТ");
    EXPECT_EQ(names(), QStringList({"бинт стерильный"}));

    // Another filter replaces the name filter; its state can be read back,
    // another applied and the first restored as it was.
    const QString saved = p.Filter();
    const bool savedOn = p.Filtered();
    grid.SetPriceFilter(true, kOnlyOrderCondition);
    EXPECT_FALSE(p.SelectSQL().contains("WHERE"));
    EXPECT_EQ(names(), QStringList({"бинт стерильный"}));
    grid.SetPriceFilter(true, kOnlyRegudCondition);
    EXPECT_EQ(names(), QStringList({"Вата", "Д'Артаньян капли"}));
    grid.SetPriceFilter(savedOn, saved);
    EXPECT_EQ(names(), QStringList({"бинт стерильный"}));

    // Switching any filter off shows every row.
    grid.SetPriceFilter(false, kOnlyRegudCondition);
    EXPECT_FALSE(p.Filtered());
    EXPECT_EQ(p.SelectSQL().simplified(), "SELECT * FROM PRICE ORDER BY TOVAR");
    EXPECT_EQ(p.RecordCount(), 4);
    grid.edPriceFilterChange("");
    EXPECT_EQ(p.RecordCount(), 4);

    // A condition the database rejects fails, and the grid keeps its rows.
    EXPECT_THROW(grid.SetPriceFilter(true, "NOSUCHCOLUMN > 0"), fb::DbError);
    EXPECT_TRUE(p.Active());
    EXPECT_EQ(p.RecordCount(), 4);
}

TEST_F(PriceGridTest, FilterChangeKeepsAQuantityBeingTyped)
{
    load({{"1", "Аспирин", 1.0}, {"2", "Бинт", 1.0}});
    price().Edit();
    price().FieldByName("ZAKAZ").SetAsInteger(7);
    grid.SetPriceFilter(true, kOnlyOrderCondition);
    EXPECT_EQ(names(), QStringList({"Аспирин"}));
}

TEST_F(PriceGridTest, DetailLineAndPopupNote)
{
    load({{"P1", "Аспирин", 1.0, 0, 0, 0, 0, 1},
          {"P2", "Бинт", 1.0, 0, 0, 0, 1, 1},
          {"P3", "Вата", 1.0, 0, 0, 0, 1, 0},
          {"P4", "Гематоген", 1.0, 0, 0, 0, 1, 0},
          {"P5", "Йод", 1.0}});
    addDetail("p2", "Акция!", "info/bint.htm", 1);
    addDetail("P3", "не показывается", "<b>Вата медицинская</b>");

    // HASPOPUP without a PRICE_DET row: no note, an empty line.
    ASSERT_TRUE(moveTo("Аспирин"));
    GoodInfo info = grid.PriceTableAfterScroll();
    EXPECT_FALSE(info.popup);
    EXPECT_TRUE(info.changeCaption);
    EXPECT_EQ(info.caption, "");

    // HASPOPUP with a row (the code matched in any case): the note, and its caption below.
    ASSERT_TRUE(moveTo("Бинт"));
    info = grid.PriceTableAfterScroll();
    EXPECT_TRUE(info.popup);
    EXPECT_EQ(info.popupCaption, "Акция!");
    EXPECT_EQ(info.popupDetail, "info/bint.htm");
    EXPECT_TRUE(info.popupIsRef);
    EXPECT_EQ(info.caption, "Акция!");

    // HASDET only: the detail line, no note.
    ASSERT_TRUE(moveTo("Вата"));
    info = grid.PriceTableAfterScroll();
    EXPECT_FALSE(info.popup);
    EXPECT_EQ(info.caption, "<b>Вата медицинская</b>");
    ASSERT_TRUE(moveTo("Гематоген"));
    EXPECT_EQ(grid.PriceTableAfterScroll().caption, "");

    // The detail window for the current goods item.
    ASSERT_TRUE(moveTo("Вата"));
    std::optional<GoodInfoWindow> w = grid.lblGoodInfoClick(1000, 700);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->text, "<b>Вата медицинская</b>");
    EXPECT_FALSE(w->isRef);
    EXPECT_EQ(w->width, 500);
    EXPECT_EQ(w->height, 150);
    EXPECT_EQ(w->top, 515);
    EXPECT_EQ(w->left, 5);
    EXPECT_FALSE(w->modal);
    EXPECT_EQ(grid.lblGoodInfoClick(500, 700)->width, 300);
    EXPECT_EQ(grid.lblGoodInfoClick(250, 700)->width, 250);
    ASSERT_TRUE(moveTo("Бинт"));
    EXPECT_TRUE(grid.lblGoodInfoClick(1000, 700)->isRef);
    ASSERT_TRUE(moveTo("Йод"));
    EXPECT_FALSE(grid.lblGoodInfoClick(1000, 700));
}

TEST(QuickSearchLetters, LatinAndCyrillicWithoutYo)
{
    for (QChar c : QStringLiteral("azAZАЯаяБи"))
        EXPECT_TRUE(IsQuickSearchLetter(c)) << QString(c).toStdString();
    for (QChar c : QStringLiteral("Ёё09 -'@[`{"))
        EXPECT_FALSE(IsQuickSearchLetter(c)) << QString(c).toStdString();
}

// A goods item with two expiry dates: each batch is compared with the same
// batch of the previous list, not with whichever row carries the code.
TEST_F(PriceGridTest, ChangesModeComparesEachBatchWithItsOwnExpiryDate)
{
    load({{"1", "АНАЛЬГИН", 10.0, 2}, {"1", "АНАЛЬГИН 2028", 10.0, 4}, {"3", "ВАТА", 5.0, 1}});
    insert("PRICEOLD", {"1", "АНАЛЬГИН", 10.0, 2});
    insert("PRICEOLD", {"1", "АНАЛЬГИН 2028", 10.0, 4});
    insert("PRICEOLD", {"3", "ВАТА", 5.0, 1});
    insert("PRICEOLD", {"3", "ВАТА", 5.0, 7});
    for (const char *table : {"PRICE", "PRICEOLD"}) {
        dm->ExecSQL(QStringLiteral("UPDATE %1 SET GODEN = '01.06.2028' WHERE TOVAR = 'АНАЛЬГИН 2028'").arg(table), false);
        dm->ExecSQL(QStringLiteral("UPDATE %1 SET GODEN = NULL WHERE TOVAR = 'ВАТА' AND ZAKAZ = 1").arg(table), false);
    }
    dm->Commit();
    grid.ShowOnlyOrder = true;
    dm->RefreshPrice();
    for (const auto &[name, old] : {std::pair{"АНАЛЬГИН", 2}, std::pair{"АНАЛЬГИН 2028", 4}, std::pair{"ВАТА", 1}}) {
        ASSERT_TRUE(moveTo(QString::fromUtf8(name)));
        EXPECT_EQ(price().FieldByName("QntOld").AsInteger(), old) << name;
        EXPECT_EQ(rgb(grid.dbgrdPriceDrawColumnCell(price(), "ZAKAZ", false).foreground), "0,0,0") << name;
    }
}
