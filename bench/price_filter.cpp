// The price grid's row filters (set and cleared) and the quick search per
// typed key, on an open price list; quoted against the bare fetch of the
// same list measured in the same run.
#include "BenchClient.h"

#include "app/ClientApplication.h"
#include "platform/Signals.h"

#include <QRandomGenerator>

namespace {

void run(int rows, int pairs)
{
    bench::Client c(rows);
    pc::Dataset &price = c.price();

    // The anchor: a bare fetch of the whole list through the engine layer.
    auto fetch = [&] {
        std::unique_ptr<pc::fb::Statement> st = c.dm->CreateQuery(QStringLiteral("SELECT * FROM PRICE ORDER BY TOVAR"));
        st->execute();
        size_t bytes = 0;
        double sum = 0;
        const int columns = st->columnCount();
        while (st->fetch()) {
            for (int k = 0; k < columns; ++k) {
                switch (st->column(k).kind) {
                case pc::fb::ColumnKind::VarChar:
                case pc::fb::ColumnKind::Char: bytes += st->rawText(k).size(); break;
                case pc::fb::ColumnKind::Double: sum += st->asDouble(k); break;
                case pc::fb::ColumnKind::Date: sum += double(st->asDate(k).toJulianDay()); break;
                default: sum += double(st->asInt64(k)); break;
                }
            }
        }
        if (bytes == 1 && sum < 0)
            std::puts("");
    };

    // Some quantities, so that the order filter has rows.
    pc::Field &zakaz = price.FieldByName(QStringLiteral("ZAKAZ"));
    for (int r = 0; r < rows; r += std::max(1, rows / 1000)) {
        price.SetRecNo(r + 1);
        price.Edit();
        zakaz.SetAsInteger(2);
        price.Post();
    }
    c.dm->Commit();

    std::vector<double> anchor, nameSet, nameClear, orderSet, orderClear, typed;
    for (int i = 0; i < pairs; ++i) {
        anchor.push_back(bench::cpuOf(fetch));
        nameSet.push_back(bench::cpuOf([&] { c.grid.edPriceFilterChange(QStringLiteral("аспирин")); }));
        nameClear.push_back(bench::cpuOf([&] { c.grid.edPriceFilterChange(QString()); }));
        orderSet.push_back(bench::cpuOf([&] { c.grid.SetPriceFilter(true, pc::kOnlyOrderCondition); }));
        orderClear.push_back(bench::cpuOf([&] { c.grid.SetPriceFilter(false, pc::kOnlyOrderCondition); }));
        // Typing a name into the filter edit, one letter at a time.
        const QString word = QStringLiteral("100% vit");
        typed.push_back(bench::cpuOf([&] {
            for (int k = 1; k <= word.size(); ++k)
                c.grid.edPriceFilterChange(word.left(k));
            c.grid.edPriceFilterChange(QString());
        }) / double(word.size() + 1));
    }
    if (price.RecordCount() != rows)
        std::printf("WARNING: filter left %d rows\n", price.RecordCount());
    const double a = bench::median(anchor);
    auto report = [&](const char *what, const std::vector<double> &v) {
        bench::result("price_filter", rows, what, bench::median(v) * 1000, "ms", bench::median(v) / a, "bare_fetch");
    };
    bench::result("price_filter", rows, "bare_fetch", a * 1000, "ms");
    report("name_filter_set", nameSet);
    report("name_filter_clear", nameClear);
    report("order_filter_set", orderSet);
    report("order_filter_clear", orderClear);
    report("name_filter_per_typed_key", typed);

    // The quick search: letters typed as a person types a name's beginning,
    // from 1 to 8 letters of names found anywhere in the list.
    QRandomGenerator random(7);
    std::vector<double> perKey;
    price.First();
    const int words = 400;
    for (int w = 0; w < words; ++w) {
        const QString name = bench::priceName(random.bounded(rows));
        for (int k = 1; k <= 8 && k <= name.size(); ++k) {
            const QString text = name.left(k);
            const double t = bench::wallSeconds();
            c.grid.QuickSearch(text);
            perKey.push_back(bench::wallSeconds() - t);
        }
    }
    const double p99 = bench::percentile(perKey, 0.99);
    bench::result("quick_search", rows, "per_key_median", bench::median(perKey) * 1000, "ms");
    bench::result("quick_search", rows, "per_key_p99", p99 * 1000, "ms", p99 / a, "bare_fetch");
    bench::result("quick_search", rows, "per_key_worst", bench::percentile(perKey, 1.0) * 1000, "ms");
}

} // namespace

int main(int argc, char **argv) { return bench::runForRowCounts(argc, argv, run); }
