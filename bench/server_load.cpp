// The price list over Firebird's own server on the loopback, against the
// same work on the embedded database, measured in interleaved pairs in the
// same run: the daily load of the supplier's file (yesterday's order kept
// aside, the list rewritten, the order carried over, the list reopened) and
// the opening of the price list (every row read, the name index built).
// Wall-clock time: over a server the engine works in another process, whose
// time the client's CPU time would not show. Goal: both within 1.5 x.
#include "BenchClient.h"
#include "FirebirdTestServer.h"

#include "exchange/ServerConnection.h"
#include "price/PriceUpdate.h"

#include <QDir>

namespace {

double wallOf(const std::function<void()> &f)
{
    const double start = bench::wallSeconds();
    f();
    return bench::wallSeconds() - start;
}

pc::test::FirebirdTestServer &server()
{
    static pc::test::FirebirdTestServer s;
    return s;
}

struct Workstation {
    bench::Client client;
    pc::ServerConnection connection;
    pc::PriceUpdate update;
    Workstation(int rows, const pc::DatabaseLocation &location)
        : client(rows, location), connection(client.settings, client.dialogs, client.log),
          update(*client.dm, connection, client.settings, client.dialogs, client.log, client.context)
    {
    }
    // Yesterday's order typed, today's file loaded; false when the list is not whole.
    double load(int day)
    {
        pc::Dataset &price = client.price();
        pc::Field &zakaz = price.FieldByName(QStringLiteral("ZAKAZ"));
        for (int r = 0; r < client.rows; r += std::max(1, client.rows / 1000)) {
            price.SetRecNo(r + 1);
            price.Edit();
            zakaz.SetAsInteger(1);
            price.Post();
        }
        client.dm->Commit();
        bench::writePriceFile(client.dir.file(client.settings.ClientCode + QStringLiteral(".dbf")), client.rows, day);
        bool loaded = false;
        const double t = wallOf([&] { loaded = update.LoadPriceFromFile(); });
        return loaded && price.RecordCount() == client.rows ? t : -1;
    }
    double open() { return wallOf([&] { client.reopen(); }); }
};

void overServer(benchmark::State &state, int rows, int pairs)
{
    pc::DatabaseLocation served;
    served.Server = server().address();
    served.Path = server().dataFolder() + QStringLiteral("/bench-%1.gdb").arg(rows);
    QFile::remove(served.Path);
    Workstation local(rows, {});
    Workstation remote(rows, served);
    for (auto _ : state) {
        std::vector<double> loadLocal, loadRemote, openLocal, openRemote;
        for (int day = 1; day <= pairs; ++day) {
            loadLocal.push_back(local.load(day));
            loadRemote.push_back(remote.load(day));
            openLocal.push_back(local.open());
            openRemote.push_back(remote.open());
            if (loadLocal.back() < 0 || loadRemote.back() < 0 || local.client.price().RecordCount() != rows
                || remote.client.price().RecordCount() != rows) {
                state.SkipWithError("a load or an opening did not give the whole list");
                return;
            }
        }
        bench::report(state, rows, "price_load_over_server", bench::median(loadRemote), "price_load_embedded",
                      bench::median(loadLocal));
        bench::reportValue(state, rows, "price_open_over_server", bench::median(openRemote) * 1000, "ms");
        bench::reportValue(state, rows, "price_open_embedded", bench::median(openLocal) * 1000, "ms");
        bench::reportRatio(state, rows, "price_open_over_server", bench::median(openRemote) / bench::median(openLocal),
                           "price_open_embedded");
    }
}

} // namespace

int main(int argc, char **argv)
{
    return bench::runForRowCounts(argc, argv, {{"price_load_over_server", overServer}}, 3);
}
