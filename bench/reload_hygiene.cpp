// A full read of the price list after ten daily reloads, against the same read
// on a database that has had one load only. Both clients run the data module
// the way the program does: each reload deletes the rows, inserts the new list
// with one prepared insert, carries the order over, commits through
// TDM::Commit and reopens the price dataset. The reads are taken in
// interleaved pairs in one run and quoted as the ratio of their median CPU
// times (process CPU: the engine's own threads count too), so a transaction
// that keeps the deleted row versions alive shows as a ratio above 1.
#include "BenchCommon.h"
#include "EngineBenchMain.h"
#include <benchmark/benchmark.h>

#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "db/DataModule.h"
#include "db/TableDefs.h"
#include "db/firebird/Statement.h"
#include "platform/Signals.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr int kReloads = 10;
constexpr int kPairs = 7;

double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

class Client {
public:
    Client() : m_context(m_dir.path()), m_dm(m_context, m_dialogs, m_log)
    {
        m_dm.CreateFirebirdObjects();
        m_dm.OpenDatabase();
    }

    // One daily price load: day shifts stock, prices and expiry dates, so
    // every row is a new version, and the order quantities are carried over.
    void reload(int rows, int day)
    {
        static const QString names[] = {QStringLiteral("Парацетамол табл. 500мг №"),
                                        QStringLiteral("Аспирин кардио табл. п/о 100мг №"),
                                        QStringLiteral("Но-шпа форте табл. 80мг №"),
                                        QStringLiteral("Витамин С драже 50мг №")};
        m_dm.OpenPrice(false);
        m_dm.StartTransaction(false);
        m_dm.ExecSQL(QStringLiteral("DELETE FROM PRICEOLD"), false);
        m_dm.ExecSQL(QStringLiteral("INSERT INTO PRICEOLD SELECT * FROM PRICE WHERE ZAKAZ > 0"), false);
        m_dm.ExecSQL(QStringLiteral("DELETE FROM PRICE"), false);
        std::unique_ptr<pc::fb::Statement> insert(
            m_dm.PrepareQuery(pc::BuildInsertSQL(m_dm.TableDef(pc::TdPrice)), true));
        std::vector<int> col;
        for (const char *name : {"IDTOVAR", "TOVAR", "PRICE", "PRODUCT", "COUNTRY", "PRICER", "GODEN", "QNT", "QNTPACK",
                                 "NDS", "MINZAKAZ", "MINPROD", "COLOR", "HASDET", "HASPOPUP", "GV", "ZAKAZ", "REGUDEXIST"})
            col.push_back(insert->paramIndex(QLatin1String(name)));
        for (int i = 0; i < rows; ++i) {
            insert->setText(col[0], QStringLiteral("T%1").arg(i, 8, 10, QLatin1Char('0')));
            insert->setText(col[1], names[i % 4] + QString::number(i));
            insert->setDouble(col[2], 10.0 + ((i + day) % 9973) * 0.37);
            insert->setText(col[3], QStringLiteral("Фармстандарт-Лексредства ОАО"));
            insert->setText(col[4], QStringLiteral("Россия"));
            insert->setDouble(col[5], 12.5 + (i % 101));
            insert->setDate(col[6], QDate(2027, 1, 1).addDays((i + day) % 900));
            insert->setInt(col[7], (i + day) % 500);
            insert->setInt(col[8], 10);
            insert->setInt(col[9], 10);
            insert->setInt(col[10], 1);
            insert->setInt(col[11], 1);
            insert->setInt(col[12], i % 5);
            insert->setInt(col[13], i % 2);
            insert->setInt(col[14], i % 3 == 0);
            insert->setInt(col[15], i % 7 == 0);
            insert->setInt(col[16], i % 97 == 0 ? 2 : 0);
            insert->setText(col[17], QStringLiteral("ЛС-001234/10"));
            insert->execute();
        }
        insert.reset();
        m_dm.ExecSQL(QStringLiteral("UPDATE PRICE P SET ZAKAZ = (SELECT FIRST 1 O.ZAKAZ FROM PRICEOLD O WHERE "
                                    "O.IDTOVAR = P.IDTOVAR) WHERE EXISTS (SELECT 1 FROM PRICEOLD O WHERE O.IDTOVAR = P.IDTOVAR)"),
                     false);
        m_dm.ExecSQL(QStringLiteral("UPDATE PRICE SET ZAKAZ = QNT WHERE ZAKAZ > QNT"), false);
        m_dm.Commit();
        m_dm.SetAllActive(true);
    }

    // Every row of PRICE fetched and every value touched; CPU milliseconds.
    double fullRead(int expectedRows)
    {
        std::unique_ptr<pc::fb::Statement> st = m_dm.CreateQuery(bench::bareFetchSql());
        const double start = cpuMs();
        st->execute();
        const qint64 rows = bench::touchAllRows(*st);
        const double spent = cpuMs() - start;
        if (rows != expectedRows)
            return -1;
        return spent;
    }

private:
    TempAppDir m_dir;
    pc::AppContext m_context;
    ScriptedDialogs m_dialogs;
    RecordingLog m_log;
    pc::TDM m_dm;
};

void BM_FullReadAfterTenReloads(benchmark::State &state)
{
    const int rows = int(state.range(0));
    Client fresh;
    Client reloaded;
    fresh.reload(rows, 0);
    for (int day = 0; day <= kReloads; ++day) // the first load and ten reloads
        reloaded.reload(rows, day);

    std::vector<double> freshMs, reloadedMs;
    for (auto _ : state) {
        for (int pair = 0; pair < kPairs; ++pair) {
            // Alternate which one goes first, so neither always runs on a warm cache.
            const bool freshFirst = pair % 2 == 0;
            const double a = freshFirst ? fresh.fullRead(rows) : reloaded.fullRead(rows);
            const double b = freshFirst ? reloaded.fullRead(rows) : fresh.fullRead(rows);
            const double f = freshFirst ? a : b;
            const double r = freshFirst ? b : a;
            if (f < 0 || r < 0) {
                state.SkipWithError("wrong row count");
                return;
            }
            freshMs.push_back(f);
            reloadedMs.push_back(r);
        }
        state.SetIterationTime(median(reloadedMs) / 1e3);
    }
    const double ratio = median(reloadedMs) / median(freshMs);
    state.SetLabel("fresh_read");
    state.counters["ratio"] = ratio;
    state.counters["fresh_read_ms"] = median(freshMs);
    std::printf("full read of %d price rows after %d reloads: ratio to anchor %.2f x the read on a fresh database (%.1f ms against %.1f ms CPU)\n",
                rows, kReloads, ratio, median(reloadedMs), median(freshMs));
    std::fflush(stdout);
}

} // namespace

BENCHMARK(BM_FullReadAfterTenReloads)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(300000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseManualTime();

int main(int argc, char **argv) { return bench::runEngineBenchmarks(argc, argv); }
