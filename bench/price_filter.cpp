// The price grid's row filters (set and cleared) and the quick search per
// typed key, on an open price list; each quoted against the bare fetch of the
// same list, measured in interleaved pairs in the same run.
#include "BenchClient.h"

#include <QRandomGenerator>

namespace {

// The list every benchmark of a row count works on, with some quantities so
// that the order filter has rows.
bench::Client &client(int rows)
{
    return bench::sharedClient(rows, [](bench::Client &c) {
        pc::Dataset &price = c.price();
        pc::Field &zakaz = price.FieldByName(QStringLiteral("ZAKAZ"));
        for (int r = 0; r < c.rows; r += std::max(1, c.rows / 1000)) {
            price.SetRecNo(r + 1);
            price.Edit();
            zakaz.SetAsInteger(2);
            price.Post();
        }
        c.dm->Commit();
    });
}

// The anchor: a bare fetch of the whole list through the engine layer; CPU
// seconds, or -1 when it did not return every row.
double bareFetch(bench::Client &c)
{
    qint64 fetched = 0;
    const double t = bench::cpuOf([&] {
        std::unique_ptr<pc::fb::Statement> st = c.dm->CreateQuery(bench::bareFetchSql());
        st->execute();
        fetched = bench::touchAllRows(*st);
    });
    return fetched == c.rows ? t : -1;
}

// Pairs of the bare fetch and of measured (after prepare, not timed); the
// measured time is divided by calls. The list is left unfiltered.
void againstFetch(benchmark::State &state, int rows, int pairs, const char *what, const std::function<void()> &prepare,
                  const std::function<void()> &measured, int calls = 1)
{
    bench::Client &c = client(rows);
    for (auto _ : state) {
        std::vector<double> anchor, times;
        for (int i = 0; i < pairs; ++i) {
            anchor.push_back(bareFetch(c));
            prepare();
            times.push_back(bench::cpuOf(measured) / calls);
        }
        c.grid.edPriceFilterChange(QString());
        c.grid.SetPriceFilter(false, pc::kOnlyOrderCondition);
        if (*std::min_element(anchor.begin(), anchor.end()) < 0 || c.price().RecordCount() != rows) {
            state.SkipWithError("the list lost rows");
            return;
        }
        bench::report(state, rows, what, bench::median(times), "bare_fetch", bench::median(anchor));
    }
}

void nameFilter(benchmark::State &state, int rows, int pairs, bool set)
{
    pc::PriceGrid &grid = client(rows).grid;
    auto on = [&] { grid.edPriceFilterChange(QStringLiteral("аспирин")); };
    auto off = [&] { grid.edPriceFilterChange(QString()); };
    if (set)
        againstFetch(state, rows, pairs, "name_filter_set", off, on);
    else
        againstFetch(state, rows, pairs, "name_filter_clear", on, off);
}

void orderFilter(benchmark::State &state, int rows, int pairs, bool set)
{
    pc::PriceGrid &grid = client(rows).grid;
    auto on = [&] { grid.SetPriceFilter(true, pc::kOnlyOrderCondition); };
    auto off = [&] { grid.SetPriceFilter(false, pc::kOnlyOrderCondition); };
    if (set)
        againstFetch(state, rows, pairs, "order_filter_set", off, on);
    else
        againstFetch(state, rows, pairs, "order_filter_clear", on, off);
}

// Typing a name into the filter edit one letter at a time, then clearing it.
void typedFilter(benchmark::State &state, int rows, int pairs)
{
    pc::PriceGrid &grid = client(rows).grid;
    const QString word = QStringLiteral("100% vit");
    againstFetch(
        state, rows, pairs, "name_filter_per_typed_key", [] {},
        [&] {
            for (int k = 1; k <= word.size(); ++k)
                grid.edPriceFilterChange(word.left(k));
            grid.edPriceFilterChange(QString());
        },
        int(word.size()) + 1);
}

// The quick search: letters typed as a person types a name's beginning, from
// 1 to 8 letters of names found anywhere in the list, 400 names spread over
// the pairs; the 99th percentile per key against the bare fetch.
void quickSearch(benchmark::State &state, int rows, int pairs)
{
    bench::Client &c = client(rows);
    constexpr int kWords = 400;
    QRandomGenerator random(7);
    for (auto _ : state) {
        std::vector<double> anchor, perKey;
        c.price().First();
        for (int i = 0; i < pairs; ++i) {
            anchor.push_back(bareFetch(c));
            for (int w = i * kWords / pairs; w < (i + 1) * kWords / pairs; ++w) {
                const QString name = bench::priceName(int(random.bounded(rows)));
                for (int k = 1; k <= 8 && k <= name.size(); ++k) {
                    const QString text = name.left(k);
                    const double t = bench::wallSeconds();
                    c.grid.QuickSearch(text);
                    perKey.push_back(bench::wallSeconds() - t);
                }
            }
        }
        if (*std::min_element(anchor.begin(), anchor.end()) < 0) {
            state.SkipWithError("the bare fetch lost rows");
            return;
        }
        bench::report(state, rows, "quick_search_p99_per_key", bench::percentile(perKey, 0.99), "bare_fetch",
                      bench::median(anchor));
        bench::reportValue(state, rows, "quick_search_median_per_key", bench::median(perKey) * 1000, "ms");
        bench::reportValue(state, rows, "quick_search_worst_per_key", bench::percentile(perKey, 1.0) * 1000, "ms");
    }
}

} // namespace

int main(int argc, char **argv)
{
    using namespace std::placeholders;
    return bench::runForRowCounts(argc, argv,
                                  {{"name_filter_set", std::bind(nameFilter, _1, _2, _3, true)},
                                   {"name_filter_clear", std::bind(nameFilter, _1, _2, _3, false)},
                                   {"order_filter_set", std::bind(orderFilter, _1, _2, _3, true)},
                                   {"order_filter_clear", std::bind(orderFilter, _1, _2, _3, false)},
                                   {"name_filter_per_typed_key", typedFilter},
                                   {"quick_search_p99_per_key", quickSearch}});
}
