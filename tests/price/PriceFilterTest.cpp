// The row filters and the quick search on the price rows held in memory:
// the same rows, order and current row as the database's query would give,
// the typed text taken as typed, and nothing read again.
#include "PriceFixture.h"

#include "db/DatasetNameIndex.h"
#include "platform/CodePage.h"

#include <QRandomGenerator>

using namespace pc;
using pricetest::PriceFixture;
using pricetest::Row;

namespace {

struct PriceFilterTest : PriceFixture {
    int scrolls = 0;
    void watchScrolls()
    {
        price().AfterScroll = [this](Dataset &) { ++scrolls; };
    }
    // What the database answers for a condition, in the grid's order.
    QStringList queried(const QString &condition)
    {
        std::unique_ptr<Dataset> q(dm->OpenQuery("SELECT TOVAR FROM PRICE WHERE " + condition + " ORDER BY TOVAR", true));
        QStringList out;
        for (; !q->Eof(); q->Next())
            out << q->Fields(0).AsString();
        return out;
    }
    void exec(const QString &sql)
    {
        dm->ExecSQL(sql, false);
        dm->Commit();
    }
};

} // namespace

TEST_F(PriceFilterTest, NameFilterTakesTheTextAsTypedInAnyCase)
{
    load({{"1", "100% Vit_C", 1.0},
          {"2", "Сироп 100мл", 1.0},
          {"3", "VitXC", 1.0},
          {"4", "бинт стерильный", 1.0},
          {"5", "БИНТ эластичный", 1.0},
          {"6", "Ёлочка", 1.0}});
    auto filtered = [this](const QString &text) {
        grid.edPriceFilterChange(text);
        return names();
    };
    EXPECT_EQ(filtered("100%"), QStringList({"100% Vit_C"}));
    EXPECT_EQ(filtered("%"), QStringList({"100% Vit_C"}));
    EXPECT_EQ(filtered("t_c"), QStringList({"100% Vit_C"}));
    EXPECT_EQ(filtered("_"), QStringList({"100% Vit_C"}));
    EXPECT_EQ(filtered("100"), QStringList({"100% Vit_C", "Сироп 100мл"}));
    EXPECT_EQ(filtered("бИнТ"), QStringList({"БИНТ эластичный", "бинт стерильный"}));
    EXPECT_EQ(filtered("ёл"), QStringList({"Ёлочка"}));
    EXPECT_EQ(filtered("бинт  "), QStringList());
    EXPECT_EQ(price().RecNo(), 0);
    // A character that no name can hold finds nothing.
    EXPECT_EQ(filtered("Ω"), QStringList());

    // The filter in force can be read back and applied again as it is.
    filtered("сироп");
    const QString saved = price().Filter();
    grid.SetPriceFilter(true, kOnlyOrderCondition);
    grid.SetPriceFilter(true, saved);
    EXPECT_EQ(names(), QStringList({"Сироп 100мл"}));
    EXPECT_EQ(filtered(""), QStringList({"100% Vit_C", "VitXC", "Ёлочка", "БИНТ эластичный", "Сироп 100мл", "бинт стерильный"}));
}

// "µ" has an upper case ("Μ") that code page 1251 lacks: the name filter and
// the quick search take it as the list keeps it, as the database's query does.
TEST_F(PriceFilterTest, MicroSignIsFoundAsTheQueryFindsIt)
{
    load({{"1", "Цианокобаламин 100µg", 1.0}, {"2", "µ-Тест", 1.0}, {"3", "Бинт", 1.0}});
    grid.edPriceFilterChange("100µ");
    EXPECT_EQ(names(), QStringList({"Цианокобаламин 100µg"}));
    grid.edPriceFilterChange("µ");
    EXPECT_EQ(names(), queried("UPPER(TOVAR) LIKE '%µ%'"));
    EXPECT_EQ(names().size(), 2);
    grid.edPriceFilterChange("100µG");
    EXPECT_EQ(names(), QStringList({"Цианокобаламин 100µg"}));
    grid.edPriceFilterChange("");
    EXPECT_TRUE(grid.QuickSearch("µ-т"));
    EXPECT_EQ(price().FieldByName("TOVAR").AsString(), "µ-Тест");
}

TEST_F(PriceFilterTest, RegistrationAndOrderFiltersGiveWhatTheQueryGives)
{
    load({{"1", "А", 1.0, 2, 0, 0, 0, 0, "РУ-1"},
          {"2", "Б", 1.0, 0, 0, 0, 0, 0, "   "},
          {"3", "В", 1.0, -1, 0, 0, 0, 0, ""},
          {"4", "Г", 1.0, 1, 0, 0, 0, 0, " x"},
          {"5", "Д", 1.0, 0, 0, 0, 0, 0, "null"},
          {"6", "Е", 1.0, 0, 0, 0, 0, 0, "РУ-6"}});
    exec("UPDATE PRICE SET REGUDEXIST = NULL, ZAKAZ = NULL WHERE IDTOVAR = '5'");
    dm->OpenPrice(false);
    dm->OpenPrice(true);

    grid.SetPriceFilter(true, kOnlyRegudCondition);
    EXPECT_EQ(names(), queried(kOnlyRegudCondition));
    EXPECT_EQ(names(), QStringList({"А", "Г", "Е"}));
    grid.SetPriceFilter(true, kOnlyOrderCondition);
    EXPECT_EQ(names(), queried(kOnlyOrderCondition));
    EXPECT_EQ(names(), QStringList({"А", "Г"}));
}

TEST_F(PriceFilterTest, FiltersComeAndGoWithoutReadingThePriceListAgain)
{
    load({{"1", "Аспирин", 1.0, 2}, {"2", "Бинт", 1.0, 0, 0, 0, 0, 0, "РУ"}, {"3", "Вата", 1.0, 1}});
    // A row the dataset has not read: it shows only if the rows are read again.
    insert("PRICE", {"4", "Анальгин", 1.0, 5, 0, 0, 0, 0, "РУ"});
    dm->Commit();
    price().SetRecNo(3);
    watchScrolls();

    grid.SetPriceFilter(true, kOnlyOrderCondition);
    EXPECT_EQ(names(), QStringList({"Аспирин", "Вата"}));
    EXPECT_EQ(price().RecNo(), 1);
    EXPECT_EQ(scrolls, 1);
    grid.edPriceFilterChange("А");
    EXPECT_EQ(names(), QStringList({"Аспирин", "Вата"}));
    grid.SetPriceFilter(true, kOnlyRegudCondition);
    EXPECT_EQ(names(), QStringList({"Бинт"}));
    price().SetRecNo(1);
    scrolls = 0;
    grid.SetPriceFilter(false, kOnlyRegudCondition);
    EXPECT_EQ(names(), QStringList({"Аспирин", "Бинт", "Вата"}));
    // Removing the filter keeps the goods row the cursor stood on.
    EXPECT_EQ(currentName(), "Бинт");
    EXPECT_EQ(price().RecNo(), 2);
    EXPECT_EQ(scrolls, 1);
    EXPECT_FALSE(price().Filtered());

    // A quantity typed under the order filter is posted and counts at once.
    grid.SetPriceFilter(true, kOnlyOrderCondition);
    price().Last();
    ASSERT_EQ(currentName(), "Вата");
    price().Edit();
    price().FieldByName("ZAKAZ").SetAsInteger(0);
    grid.SetPriceFilter(true, kOnlyOrderCondition);
    EXPECT_EQ(names(), QStringList({"Аспирин"}));
    EXPECT_EQ(queried(kOnlyOrderCondition), QStringList({"Анальгин", "Аспирин"}));

    // Reopening the price list reads it again, still filtered.
    dm->OpenPrice(false);
    dm->OpenPrice(true);
    EXPECT_EQ(names(), QStringList({"Анальгин", "Аспирин"}));
    grid.SetPriceFilter(false, QString());
    EXPECT_EQ(price().RecordCount(), 4);
}

TEST_F(PriceFilterTest, AConditionOnlyTheDatabaseKnowsIsRunThereAndTheListComesBackWhole)
{
    load({{"1", "Аспирин", 1.0, 2}, {"2", "Бинт", 1.0}, {"3", "Вата", 1.0, 1}});
    grid.SetPriceFilter(true, "IDTOVAR <> '1'");
    EXPECT_EQ(names(), QStringList({"Бинт", "Вата"}));
    grid.SetPriceFilter(true, kOnlyOrderCondition);
    EXPECT_EQ(names(), QStringList({"Аспирин", "Вата"}));
    EXPECT_TRUE(grid.QuickSearch("в"));
    EXPECT_EQ(currentName(), "Вата");
    grid.SetPriceFilter(true, kOnlyOrderCondition);
    EXPECT_THROW(grid.SetPriceFilter(true, "NOSUCHCOLUMN > 0"), std::exception);
    EXPECT_EQ(names(), QStringList({"Аспирин", "Вата"}));
}

// The quick search finds, for any typed text, the row the Part's walk finds:
// the first matching name at or after the estimated start, else from the top.
// Names of mixed case are read in an order other than their upper-case one;
// upper-case names in the same.
TEST_F(PriceFilterTest, QuickSearchAgreesWithTheWalkFromTheEstimatedStart)
{
    for (const bool upperOnly : {false, true}) {
        SCOPED_TRACE(upperOnly ? "upper case" : "mixed case");
        QRandomGenerator random(12);
        const QString letters = QStringLiteral("АБВГДКМПСЯабвкмпя");
        std::vector<Row> rows;
        for (int i = 0; i < 600; ++i) {
            QString name;
            const int length = 1 + random.bounded(4);
            for (int k = 0; k < length; ++k)
                name += letters.at(random.bounded(int(letters.size())));
            if (i % 50 == 0)
                name = QStringLiteral("Vitamin %1").arg(i);
            rows.push_back({QString::number(i), upperOnly ? name.toUpper() : name, 1.0, i % 3});
        }
        grid.SetPriceFilter(false, QString());
        exec("DELETE FROM PRICE");
        load(rows);
        const NameIndex &index = dm->NameIndex();
        ASSERT_EQ(index.size(), 600);

        auto walk = [&index](const QString &text, const std::vector<int> &visible) {
            const QString wanted = text.toUpper();
            const int n = int(visible.size());
            if (n == 0)
                return -1;
            int i = 0;
            if (visible.size() == size_t(index.size())) {
                const int code = static_cast<unsigned char>(toCp1251(wanted.left(1)).at(0));
                i = int(std::nearbyint(double(code - 192) / 33.0 * n - 100.0));
            }
            for (int k = 0; k < n; ++k, ++i) {
                if (i >= n || i < 0)
                    i = 0;
                if (index.at(visible[size_t(i)]).startsWith(wanted))
                    return i;
            }
            return -1;
        };
        auto check = [&](const std::vector<int> &visible) {
            for (int t = 0; t < 150; ++t) {
                QString text;
                const int length = 1 + random.bounded(3);
                for (int k = 0; k < length; ++k)
                    text += letters.at(random.bounded(int(letters.size())));
                if (t % 30 == 0)
                    text = QStringLiteral("vitamin 3");
                price().First();
                const int expected = walk(text, visible);
                EXPECT_EQ(grid.QuickSearch(text), expected >= 0) << text.toStdString();
                EXPECT_EQ(price().RecNo(), expected >= 0 ? expected + 1 : 1) << text.toStdString();
            }
        };
        std::vector<int> all(600);
        for (int i = 0; i < 600; ++i)
            all[size_t(i)] = i;
        check(all);

        // Over a narrowed list: the first visible match from the top.
        grid.SetPriceFilter(true, kOnlyOrderCondition);
        std::vector<int> ordered;
        for (int i = 0; i < price().RecordCount(); ++i)
            ordered.push_back(price().PhysicalRow(i));
        ASSERT_LT(ordered.size(), all.size());
        check(ordered);
    }
}
