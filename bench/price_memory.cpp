// Resident memory of the program's data side with the price list open: the
// peak of a fresh process that starts the Qt application, attaches the
// database and opens the price list as the program does, and the bytes the
// rows themselves take (the dataset's storage and the name index) against
// their raw value bytes. The list is made by this program first; the
// measuring process is a second start of it, which writes what it measured
// into a file the first one reports from.
#include "BenchClient.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <unistd.h>

namespace {

constexpr double kGoalMB = 70.0;

// The measuring process. Writes lines "value <what> <number> <unit>" and
// "ratio <what> <number> <anchor>" to out; the open's CPU seconds first.
int measure(const QString &folder, int rows, qint64 raw, const QString &out)
{
    const double start = bench::statusMB("VmRSS:");
    pc::AppContext context{folder};
    ScriptedDialogs dialogs;
    RecordingLog log;
    pc::TDM dm(context, dialogs, log);
    pc::PriceGrid grid;
    grid.clientCode = [] { return QStringLiteral("1234"); };
    grid.markupPercent = [] { return 0.0; };
    dm.CreateFirebirdObjects();
    grid.install(dm);
    dm.SetConnected(true);
    const double attached = bench::statusMB("VmRSS:");
    const double openSeconds = bench::cpuOf([&] { dm.OpenDatabase(); });
    if (!dm.PriceSet() || dm.PriceSet()->RecordCount() != rows) {
        std::fprintf(stderr, "the price list holds %d rows, not %d\n",
                     dm.PriceSet() ? dm.PriceSet()->RecordCount() : -1, rows);
        return 1;
    }
    // Scroll through it as a person would, and filter once.
    grid.edPriceFilterChange(QStringLiteral("аспирин"));
    grid.edPriceFilterChange(QString());
    const double open = bench::statusMB("VmRSS:");
    const double peak = bench::statusMB("VmHWM:");
    const double storage = double(dm.PriceSet()->StorageBytes()) / 1048576.0;
    const double index = double(dm.NameIndex().MemoryBytes()) / 1048576.0;
    const double rawMB = double(raw) / 1048576.0;

    QFile file(out);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    QTextStream s(&file);
    s << "seconds open " << openSeconds << '\n';
    s << "value peak_rss " << peak << " MB\n";
    s << "ratio peak_rss " << peak / kGoalMB << " goal_70MB\n";
    s << "value rss_before_attach " << start << " MB\n";
    s << "value rss_growth_attach " << attached - start << " MB\n";
    s << "value rss_growth_open " << open - attached << " MB\n";
    s << "value raw_values " << rawMB << " MB\n";
    s << "value dataset_storage " << storage << " MB\n";
    s << "ratio dataset_storage " << storage / rawMB << " raw\n";
    s << "value name_index " << index << " MB\n";
    s << "ratio name_index " << index / rawMB << " raw\n";
    s << "value rows_part " << storage + index << " MB\n";
    s << "ratio rows_part " << (storage + index) / rawMB << " raw\n";
    s.flush();
    return file.error() == QFileDevice::NoError ? 0 : 1;
}

int spawnMeasure(const QString &folder, int rows, qint64 raw, const QString &out)
{
    return bench::runSelf({"--measure=" + QFile::encodeName(folder), "--n=" + QByteArray::number(rows),
                           "--raw=" + QByteArray::number(raw), "--out=" + QFile::encodeName(out)});
}

void priceMemory(benchmark::State &state, int rows, int /*pairs*/)
{
    for (auto _ : state) {
        QTemporaryDir results;
        const QString out = results.filePath(QStringLiteral("measured.txt"));
        {
            bench::Client c(rows);
            c.dm->SetConnected(false);
            if (spawnMeasure(c.dir.path(), rows, c.raw, out) != 0) {
                state.SkipWithError("the measuring process failed");
                return;
            }
        }
        QFile file(out);
        if (!file.open(QIODevice::ReadOnly)) {
            state.SkipWithError("the measuring process wrote nothing");
            return;
        }
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() == 3 && f[0] == "seconds")
                state.SetIterationTime(f[2].toDouble());
            else if (f.size() == 4 && f[0] == "value")
                bench::reportValue(state, rows, f[1].constData(), f[2].toDouble(), f[3].constData());
            else if (f.size() == 4 && f[0] == "ratio")
                bench::reportRatio(state, rows, f[1].constData(), f[2].toDouble(), f[3].constData());
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray folder = bench::option(argc, argv, "--measure=");
    if (!folder.isEmpty()) {
        bench::BenchProcess process(argc, argv);
        return measure(QFile::decodeName(folder), bench::option(argc, argv, "--n=").toInt(),
                       bench::option(argc, argv, "--raw=").toLongLong(), QFile::decodeName(bench::option(argc, argv, "--out=")));
    }
    return bench::runForRowCounts(argc, argv, {{"open_in_fresh_process", priceMemory}});
}
