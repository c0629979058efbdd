// Opening the price dataset: 100 000 price-shaped rows fetched into the
// dataset's typed storage, then a walk over all rows reading the name, as the
// goods-name list is built. Quoted as a ratio to the bare fetch of
// firebird_floor; the storage size is reported against the raw value bytes.
#include "EngineBenchMain.h"
#include <benchmark/benchmark.h>

#include "db/Dataset.h"
#include "db/TableDefs.h"
#include "db/firebird/Statement.h"
#include "platform/Signals.h"
#include "support/TempDatabase.h"

namespace {

constexpr int kRows = 100000;

// Raw bytes of the stored values: numbers at their width, texts at their length.
qint64 fillPrice(pc::test::TempDatabase &t)
{
    const auto defs = pc::BuildTableDefs(pc::DriverFirebird);
    pc::fb::Statement st(t.tr());
    st.prepare(pc::BuildInsertSQL(defs[pc::TdPrice]));
    qint64 raw = 0;
    for (int i = 0; i < kRows; ++i) {
        const QString id = QStringLiteral("T%1").arg(i, 8, 10, QLatin1Char('0'));
        const QString name = QStringLiteral("Парацетамол табл. 500мг №%1").arg(i);
        st.setValue(QStringLiteral("IDTOVAR"), id);
        st.setValue(QStringLiteral("TOVAR"), name);
        st.setValue(QStringLiteral("PRICE"), 10.0 + (i % 9973) * 0.37);
        st.setValue(QStringLiteral("PRODUCT"), QStringLiteral("Фармстандарт-Лексредства ОАО"));
        st.setValue(QStringLiteral("COUNTRY"), QStringLiteral("Россия"));
        st.setValue(QStringLiteral("PRICER"), 12.5);
        st.setValue(QStringLiteral("GODEN"), QDate(2027, 1, 1).addDays(i % 900));
        for (const char *n : {"QNT", "QNTPACK", "NDS", "MINZAKAZ", "MINPROD", "COLOR", "ZAKAZ"})
            st.setValue(QLatin1String(n), i % 11);
        for (const char *n : {"HASDET", "HASPOPUP", "GV"})
            st.setValue(QLatin1String(n), i % 2);
        st.setValue(QStringLiteral("REGUDEXIST"), QStringLiteral("ЛС-001234/10"));
        st.execute();
        raw += id.size() + name.size() + 28 + 6 + 12 // texts, one byte per character
            + 2 * 8 + 4 + 7 * 4 + 3 * 2;             // doubles, date, integers, smallints
    }
    t.tr().commitRetaining();
    return raw;
}

void BM_DatasetOpen(benchmark::State &state)
{
    pc::test::TempDatabase t(pc::test::TempDatabase::Content::Tables);
    const qint64 raw = fillPrice(t);
    pc::Dataset ds(t.tr());
    ds.SetSelectSQL(QStringLiteral("SELECT * FROM PRICE ORDER BY TOVAR"));
    size_t bytes = 0;
    for (auto _ : state) {
        ds.Close();
        ds.Open();
        bytes = ds.StorageBytes();
        if (ds.RecordCount() != kRows)
            state.SkipWithError("wrong row count");
    }
    state.counters["storage_MB"] = double(bytes) / 1e6;
    state.counters["storage_ratio_to_raw"] = double(bytes) / double(raw);
    state.SetItemsProcessed(state.iterations() * kRows);
    state.counters["rows"] = kRows;
}

void BM_DatasetWalkNames(benchmark::State &state)
{
    pc::test::TempDatabase t(pc::test::TempDatabase::Content::Tables);
    fillPrice(t);
    pc::Dataset ds(t.tr());
    ds.SetSelectSQL(QStringLiteral("SELECT * FROM PRICE ORDER BY TOVAR"));
    ds.Open();
    pc::Field &tovar = ds.FieldByName(QStringLiteral("TOVAR"));
    for (auto _ : state) {
        QStringList names;
        names.reserve(kRows);
        ds.DisableControls();
        for (ds.First(); !ds.Eof(); ds.Next())
            names.append(tovar.AsString().toUpper());
        ds.First();
        ds.EnableControls();
        benchmark::DoNotOptimize(names);
    }
    state.SetItemsProcessed(state.iterations() * kRows);
    state.counters["rows"] = kRows;
}

} // namespace

BENCHMARK(BM_DatasetOpen)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_DatasetWalkNames)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

int main(int argc, char **argv) { return bench::runEngineBenchmarks(argc, argv); }
