#pragma once
// The program's data side for a benchmark: a data module on a temporary
// program folder with the price grid logic installed and PRICE filled with a
// synthetic price list of a given size, opened as the program opens it; and
// the main() of the Google Benchmark programs that run it at several row
// counts ("--rows=10000,100000", "--repeat=5" interleaved pairs).

#include "BenchCommon.h"
#include "DbfWriter.h"
#include "EngineBenchMain.h"
#include "CleanSpawn.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "app/ClientApplication.h"
#include "core/AppContext.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "platform/Signals.h"
#include "price/PriceGrid.h"

#include <QCoreApplication>
#include <QFile>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// A supplier's price file of `rows` rows for day `day` (the prices move from
// day to day, the goods stay).
inline void writePriceFile(const QString &path, int rows, int day)
{
    pc::test::DbfWriter w(0x03);
    w.addPriceFields();
    for (int i = 0; i < rows; ++i)
        w.addRecord({priceId(i), priceName(i), 10.0 + ((i + day) % 9973) * 0.37,
                     QStringLiteral("Фармстандарт-Лексредства ОАО"), QStringLiteral("Россия"), 12.5 + (i % 101),
                     QDate(2027, 1, 1).addDays(i % 900), 100 + i % 500, 10, 10, 1, 1, i % 5, i % 2, i % 3 == 0 ? 1 : 0,
                     i % 7 == 0 ? 1 : 0, 0, i % 4 ? QStringLiteral("ЛС-001234/10") : QString()});
    w.save(path);
}

struct Client {
    TempAppDir dir;
    pc::AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    Settings settings;
    std::unique_ptr<pc::TDM> dm;
    pc::PriceGrid grid;
    int rows = 0;
    qint64 raw = 0;

    // location: where the database is (default: the embedded one).
    explicit Client(int rowCount, const pc::DatabaseLocation &location = {}) : rows(rowCount)
    {
        settings.ClientCode = QStringLiteral("1234");
        dm = std::make_unique<pc::TDM>(context, dialogs, log);
        dm->Location = location;
        dm->CreateFirebirdObjects();
        grid.clientCode = [this] { return settings.ClientCode; };
        grid.markupPercent = [] { return 0.0; };
        grid.install(*dm);
        dm->OpenDatabase();
        {
            PriceInsert ins(dm->CreateQuery(priceInsertSql()));
            raw = fillPrice(ins, rows);
        }
        dm->Commit();
        reopen();
    }
    void reopen()
    {
        dm->OpenPrice(false);
        dm->OpenPrice(true);
    }
    pc::Dataset &price() { return *dm->PriceSet(); }
};

// One client per row count, shared by the benchmarks of that count: they run
// in the order registered, one row count after another, so a new count
// replaces the client of the previous one. prepare runs once on a new client.
inline std::unique_ptr<Client> &sharedClientSlot()
{
    static std::unique_ptr<Client> client;
    return client;
}

inline Client &sharedClient(int rows, const std::function<void(Client &)> &prepare = {})
{
    std::unique_ptr<Client> &client = sharedClientSlot();
    if (!client || client->rows != rows) {
        client.reset();
        client = std::make_unique<Client>(rows);
        if (prepare)
            prepare(*client);
    }
    return *client;
}

// The process set up as the program's own: signals blocked before the
// engine, its lock folder, the application object (offscreen by default).
struct ProcessSetup {
    ProcessSetup()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        pc::blockProcessSignals();
        pc::setFirebirdLockFolder();
    }
};

struct BenchProcess : ProcessSetup {
    ClientApplication app;
    BenchProcess(int &argc, char **argv) : app(argc, argv) {}
};

// "--rows=a,b,c" (default 10000, 100000, 300000) and "--repeat=n" (pairs to
// interleave), taken out of the arguments; the rest go to Google Benchmark.
struct RowCountOptions {
    std::vector<int> rows;
    int pairs = 5;
    std::vector<char *> rest; // argv[0] and the other arguments, null-terminated
};

inline RowCountOptions rowCountOptions(int argc, char **argv, int defaultPairs)
{
    RowCountOptions o;
    o.pairs = defaultPairs;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strncmp(argv[i], "--rows=", 7) == 0) {
            for (const QString &part : QString::fromLatin1(argv[i] + 7).split(QLatin1Char(','), Qt::SkipEmptyParts))
                if (part.toInt() > 0)
                    o.rows.push_back(part.toInt());
        } else if (i > 0 && std::strncmp(argv[i], "--repeat=", 9) == 0) {
            o.pairs = std::max(1, std::atoi(argv[i] + 9));
        } else {
            o.rest.push_back(argv[i]);
        }
    }
    if (o.rows.empty())
        o.rows = {10000, 100000, 300000};
    o.rest.push_back(nullptr);
    return o;
}

// A benchmark run at one row count with the pairs asked for. Its body takes
// the measurement and its anchor in interleaved pairs inside one iteration
// and reports them with report().
using RowBenchmark = std::function<void(benchmark::State &state, int rows, int pairs)>;

// A field of /proc/self/status in MB.
inline double statusMB(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// Runs this benchmark program again with `args` (a measuring process of its
// own) and waits for it; its exit code, 1 when it could not run.
inline int runSelf(QList<QByteArray> args)
{
    args.prepend(QFile::encodeName(QCoreApplication::applicationFilePath()));
    std::vector<char *> argv = pc::test::argvOf(args);
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0)
        return 1;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0)
        usleep(20000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// The value of a "--name=value" argument ("" when absent).
inline QByteArray option(int argc, char **argv, const char *name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, std::strlen(name)) == 0)
            return QByteArray(argv[i] + std::strlen(name));
    return {};
}

// Registers "<name>/<rows>" for every benchmark and row count (one count
// after another), runs them with Google Benchmark and drops the shared client.
// `beforeExit` drops what the benchmarks keep that must go before the
// application object does (a window).
inline int runForRowCounts(int argc, char **argv, const std::vector<std::pair<std::string, RowBenchmark>> &benchmarks,
                           int defaultPairs = 5, std::function<void()> beforeExit = {})
{
    BenchProcess process(argc, argv);
    struct AtExit {
        std::function<void()> &run;
        ~AtExit()
        {
            if (run)
                run();
        }
    } atExit{beforeExit};
    RowCountOptions options = rowCountOptions(argc, argv, defaultPairs);
    for (int rows : options.rows)
        for (const auto &[name, body] : benchmarks)
            benchmark::RegisterBenchmark((name + "/" + std::to_string(rows)).c_str(),
                                         [rows, pairs = options.pairs, body = body](benchmark::State &state) {
                                             body(state, rows, pairs);
                                         })
                ->Iterations(1)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
    const int code = runRegisteredBenchmarks(int(options.rest.size()) - 1, options.rest.data());
    sharedClientSlot().reset();
    return code;
}

// Reporting. Google Benchmark's table gets the measurement's median as the
// iteration time, the anchor's name as the label, "ratio" and "<anchor>_ms"
// as counters; further values are counters named "<what>_<unit>" and further
// ratios "<what>_ratio_to_<anchor>". Each also prints a line for the person.
inline void report(benchmark::State &state, int rows, const char *what, double seconds, const char *anchor,
                   double anchorSeconds)
{
    const double ratio = seconds / anchorSeconds;
    state.SetIterationTime(seconds);
    state.SetLabel(anchor);
    state.counters["ratio"] = ratio;
    state.counters[std::string(anchor) + "_ms"] = anchorSeconds * 1000;
    std::printf("%s at %d rows: %.4g ms, ratio to anchor %.3g x %s (%.4g ms)\n", what, rows, seconds * 1000, ratio,
                anchor, anchorSeconds * 1000);
    std::fflush(stdout);
}

inline void reportValue(benchmark::State &state, int rows, const char *what, double value, const char *unit)
{
    state.counters[std::string(what) + "_" + unit] = value;
    std::printf("%s at %d rows: %.4g %s\n", what, rows, value, unit);
    std::fflush(stdout);
}

inline void reportRatio(benchmark::State &state, int rows, const char *what, double ratio, const char *anchor)
{
    state.counters[std::string(what) + "_ratio_to_" + anchor] = ratio;
    std::printf("%s at %d rows: ratio to anchor %.3g x %s\n", what, rows, ratio, anchor);
    std::fflush(stdout);
}

} // namespace bench
