// The floor of the embedded engine on this machine: a bare prepared INSERT
// loop and a bare fetch loop over 100 000 price-shaped rows, through the
// Firebird layer without any dataset on top. Later benchmarks are quoted as
// ratios to these two.
#include "BenchCommon.h"
#include "EngineBenchMain.h"
#include <benchmark/benchmark.h>

#include "db/firebird/Statement.h"
#include "platform/Signals.h"
#include "support/TempDatabase.h"

#include <memory>

namespace {

constexpr int kRows = 100000;

void fillPrice(pc::test::TempDatabase &t, int rows)
{
    bench::PriceInsert ins(t.tr());
    bench::fillPrice(ins, rows);
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
