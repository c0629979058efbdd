// Throughput of DbfReader on a 100 000-row table shaped like the supplier's
// price list: open, walk every record, read every column the way the import
// does (by name, each row).
#include "DbfWriter.h"
#include "EngineBenchMain.h"
#include "db/DbfReader.h"

#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kRows = 100000;

struct PriceFile {
    QTemporaryDir dir;
    QString path;
    qint64 bytes = 0;

    PriceFile()
    {
        pc::test::DbfWriter w(0x03);
        w.addField("KOD", 'N', 10).addField("TOVAR", 'C', 80).addField("PROIZV", 'C', 40);
        w.addField("STRANA", 'C', 20).addField("CENA", 'N', 12, 2).addField("CENAPR", 'N', 12, 2);
        w.addField("OSTATOK", 'N', 10).addField("SROK", 'D', 8).addField("NDS", 'N', 5, 2);
        w.addField("KRATN", 'N', 5).addField("MINZAK", 'N', 5).addField("SHTRIH", 'C', 13);
        w.addField("GV", 'L', 1);
        const QDate base(2027, 1, 1);
        for (int i = 0; i < kRows; ++i) {
            w.addRecord({i + 100000, QStringLiteral("Парацетамол таб. 500мг №%1").arg(i % 50),
                         QStringLiteral("Фармстандарт-Лексредства ОАО"), QStringLiteral("Россия"),
                         12.5 + i % 1000, 10.25 + i % 900, i % 5000, base.addDays(i % 900), 10.0, 1 + i % 3,
                         1, QStringLiteral("46%1").arg(i, 11, 10, QLatin1Char('0')), i % 4 == 0});
        }
        path = dir.filePath(QStringLiteral("price.dbf"));
        w.save(path);
        bytes = QFileInfo(path).size();
    }
};

const PriceFile &priceFile()
{
    static const PriceFile file;
    return file;
}

void BM_ReadPriceList(benchmark::State &state)
{
    const PriceFile &file = priceFile();
    for (auto _ : state) {
        pc::DbfReader r;
        r.setDBFFileName(file.path);
        r.setActive(true);
        r.setOEM(true);
        double sum = 0;
        qint64 chars = 0;
        for (r.First(); !r.Eof(); r.Next()) {
            sum += double(r.FieldByName("KOD").AsInteger());
            chars += r.FieldByName("TOVAR").AsString().size();
            chars += r.FieldByName("PROIZV").AsString().size();
            chars += r.FieldByName("STRANA").AsString().size();
            sum += r.FieldByName("CENA").AsFloat() + r.FieldByName("CENAPR").AsFloat();
            sum += double(r.FieldByName("OSTATOK").AsInteger());
            sum += double(r.FieldByName("SROK").AsDate().toJulianDay());
            sum += r.FieldByName("NDS").AsFloat();
            sum += double(r.FieldByName("KRATN").AsInteger() + r.FieldByName("MINZAK").AsInteger());
            chars += r.FieldByName("SHTRIH").AsString().size();
            sum += r.FieldByName("GV").AsBoolean() ? 1 : 0;
        }
        r.setActive(false);
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(chars);
    }
    state.SetBytesProcessed(state.iterations() * file.bytes);
    state.counters["rows"] = kRows;
}
BENCHMARK(BM_ReadPriceList)->Unit(benchmark::kMillisecond);

// The same walk with AsDateTime for the date column, as callers that keep
// date-times read it.
void BM_ReadPriceListDateTimes(benchmark::State &state)
{
    const PriceFile &file = priceFile();
    for (auto _ : state) {
        pc::DbfReader r;
        r.setDBFFileName(file.path);
        r.setActive(true);
        r.setOEM(true);
        qint64 sum = 0;
        for (r.First(); !r.Eof(); r.Next())
            sum += r.FieldByName("SROK").AsDateTime().date().day();
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * file.bytes);
    state.counters["rows"] = kRows;
}
BENCHMARK(BM_ReadPriceListDateTimes)->Unit(benchmark::kMillisecond);

// Only the record walk: the cost of reading the file itself.
void BM_WalkRecords(benchmark::State &state)
{
    const PriceFile &file = priceFile();
    for (auto _ : state) {
        pc::DbfReader r;
        r.setDBFFileName(file.path);
        r.setActive(true);
        qint64 deleted = 0;
        for (r.First(); !r.Eof(); r.Next())
            deleted += r.IsDeleted();
        benchmark::DoNotOptimize(deleted);
    }
    state.SetBytesProcessed(state.iterations() * file.bytes);
    state.counters["rows"] = kRows;
}
BENCHMARK(BM_WalkRecords)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return bench::runRegisteredBenchmarks(argc, argv);
}
