// A digit typed on one counter while another counter loads the supplier's
// list into the same served database: how long the key keeps the window's
// thread (the digit is shown at once and written by the counter's own writer
// off that thread). p50 and p99 of the key's time on the thread, with the
// ratio to the same digits typed while nothing else runs. Goal: p99 under
// 100 ms, whatever the other counter holds.
#include "BenchClient.h"
#include "FirebirdTestServer.h"

#include "exchange/ServerConnection.h"
#include "price/OrderEntry.h"
#include "price/PriceUpdate.h"
#include "price/QuantityWriter.h"

#include <QTest>

#include <atomic>
#include <thread>

namespace {

pc::test::FirebirdTestServer &server()
{
    static pc::test::FirebirdTestServer s;
    return s;
}

// The counter that types: its grid on the served list, its own writer.
struct Typist {
    bench::Client client;
    pc::OrderEntry entry;
    int next = 0;
    Typist(const pc::DatabaseLocation &location)
        : client(0, location), entry(*client.dm, client.dialogs, client.log, [this] { return client.settings.ClientCode; })
    {
        entry.UseOwnWriter();
        pc::Dataset &price = client.price();
        price.BeforeScroll = [this](pc::Dataset &ds) { entry.CorrectBeforeLeaving(ds); };
        price.AfterScroll = [this](pc::Dataset &) { entry.ResetTyping(); };
    }
    // One digit on the next row, at a person's pace; the key's time on this
    // thread in seconds.
    double typeOne()
    {
        pc::Dataset &price = client.price();
        const int count = std::max(1, price.RecordCount());
        price.SetRecNo(1 + (next++ * 7919) % count);
        const double start = bench::wallSeconds();
        entry.TypeDigit(QLatin1Char('1' + next % 9));
        const double took = bench::wallSeconds() - start;
        QTest::qWait(15); // the writer's answers come back meanwhile
        return took;
    }
};

void typingUnderLoad(benchmark::State &state, int rows, int pairs)
{
    pc::DatabaseLocation served;
    served.Server = server().address();
    served.Path = server().dataFolder() + QStringLiteral("/typing-%1.gdb").arg(rows);
    QFile::remove(served.Path);
    bench::Client loader(rows, served);
    pc::ServerConnection connection(loader.settings, loader.dialogs, loader.log);
    pc::PriceUpdate update(*loader.dm, connection, loader.settings, loader.dialogs, loader.log, loader.context);
    Typist typist(served);
    if (typist.client.price().RecordCount() != rows) {
        state.SkipWithError("the typing counter does not see the list");
        return;
    }
    for (auto _ : state) {
        std::vector<double> idle, loaded;
        for (int day = 1; day <= pairs; ++day) {
            for (int i = 0; i < 50; ++i)
                idle.push_back(typist.typeOne());
            bench::writePriceFile(loader.dir.file(loader.settings.ClientCode + QStringLiteral(".dbf")), rows, day);
            // The other counter's load on a thread of its own; this thread
            // types until it has finished.
            std::atomic<bool> done{false};
            bool ok = false;
            std::thread load([&] {
                ok = update.LoadPriceFromFile();
                done = true;
            });
            while (!done)
                loaded.push_back(typist.typeOne());
            load.join();
            if (!ok || loader.price().RecordCount() != rows) {
                state.SkipWithError("the load did not give the whole list");
                return;
            }
            if (!typist.entry.Writer()->waitIdle(60000)) {
                state.SkipWithError("typed digits were not written after the load");
                return;
            }
        }
        const double p50 = bench::percentile(loaded, 0.5), p99 = bench::percentile(loaded, 0.99);
        const double anchor = bench::percentile(idle, 0.5);
        bench::report(state, rows, "digit_while_another_loads_p50", p50, "digit_with_nothing_running_p50", anchor);
        bench::reportValue(state, rows, "digit_while_another_loads_p99", p99 * 1000, "ms");
        bench::reportRatio(state, rows, "digit_while_another_loads_p99", p99 / bench::percentile(idle, 0.99),
                           "digit_with_nothing_running_p99");
        bench::reportValue(state, rows, "digits_typed_during_loads", double(loaded.size()), "count");
        if (p99 >= 0.1)
            state.SkipWithError("a digit kept the window's thread for 100 ms or more");
    }
}

} // namespace

int main(int argc, char **argv)
{
    return bench::runForRowCounts(argc, argv, {{"digit_while_another_loads", typingUnderLoad}}, 2);
}
