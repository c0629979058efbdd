// The floor of the embedded engine on this machine: a bare prepared INSERT
// loop and a bare fetch loop over 100 000 price-shaped rows, through the
// Firebird layer without any dataset on top. Later benchmarks are quoted as
// ratios to these two.
#include "BenchCommon.h"
#include "EngineBenchMain.h"
#include <benchmark/benchmark.h>

#include "db/TableDefs.h"
#include "db/firebird/Statement.h"
#include "platform/Signals.h"
#include "support/TempDatabase.h"

#include <memory>

namespace {

constexpr int kRows = 100000;

// Binds row i of a synthetic price list to the PRICE insert statement.
void bindPriceRow(pc::fb::Statement &st, const std::vector<int> &col, int i)
{
    static const QString names[] = {QStringLiteral("Парацетамол табл. 500мг №"), QStringLiteral("Аспирин кардио табл. п/о 100мг №"),
                                    QStringLiteral("Но-шпа форте табл. 80мг №"), QStringLiteral("Витамин С драже 50мг №")};
    st.setText(col[0], QStringLiteral("T%1").arg(i, 8, 10, QLatin1Char('0')));
    st.setText(col[1], names[i % 4] + QString::number(i));
    st.setDouble(col[2], 10.0 + (i % 9973) * 0.37);
    st.setText(col[3], QStringLiteral("Фармстандарт-Лексредства ОАО"));
    st.setText(col[4], QStringLiteral("Россия"));
    st.setDouble(col[5], 12.5 + (i % 101));
    st.setDate(col[6], QDate(2027, 1, 1).addDays(i % 900));
    st.setInt(col[7], i % 500);
    st.setInt(col[8], 10);
    st.setInt(col[9], 10);
    st.setInt(col[10], 1);
    st.setInt(col[11], 1);
    st.setInt(col[12], i % 5);
    st.setInt(col[13], i % 2);
    st.setInt(col[14], i % 3 == 0);
    st.setInt(col[15], i % 7 == 0);
    st.setInt(col[16], 0);
    st.setText(col[17], QStringLiteral("ЛС-001234/10"));
}

std::vector<int> priceColumns(pc::fb::Statement &st)
{
    std::vector<int> col;
    for (const char *name : {"IDTOVAR", "TOVAR", "PRICE", "PRODUCT", "COUNTRY", "PRICER", "GODEN", "QNT", "QNTPACK",
                             "NDS", "MINZAKAZ", "MINPROD", "COLOR", "HASDET", "HASPOPUP", "GV", "ZAKAZ", "REGUDEXIST"})
        col.push_back(st.paramIndex(QLatin1String(name)));
    return col;
}

void fillPrice(pc::test::TempDatabase &t, int rows)
{
    const auto defs = pc::BuildTableDefs(pc::DriverFirebird);
    pc::fb::Statement st(t.tr());
    st.prepare(pc::BuildInsertSQL(defs[pc::TdPrice]));
    const std::vector<int> col = priceColumns(st);
    for (int i = 0; i < rows; ++i) {
        bindPriceRow(st, col, i);
        st.execute();
    }
    t.tr().commitRetaining();
}

void BM_PreparedInsert(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto t = std::make_unique<pc::test::TempDatabase>(pc::test::TempDatabase::Content::Tables);
        state.ResumeTiming();
        fillPrice(*t, kRows);
        state.PauseTiming();
        t.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRows);
    state.counters["rows"] = kRows;
}

void BM_Fetch(benchmark::State &state)
{
    pc::test::TempDatabase t(pc::test::TempDatabase::Content::Tables);
    fillPrice(t, kRows);
    pc::fb::Statement st(t.tr());
    st.prepare(bench::bareFetchSql());
    for (auto _ : state) {
        st.execute();
        const qint64 rows = bench::touchAllRows(st);
        if (rows != kRows)
            state.SkipWithError("wrong row count");
    }
    state.SetItemsProcessed(state.iterations() * kRows);
    state.counters["rows"] = kRows;
}

} // namespace

BENCHMARK(BM_PreparedInsert)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Fetch)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

int main(int argc, char **argv) { return bench::runEngineBenchmarks(argc, argv); }
