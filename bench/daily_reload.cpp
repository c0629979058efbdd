// The daily reload over yesterday's list: a supplier's price file of the same
// size loaded as the program loads it (yesterday's ordered rows kept aside,
// the list replaced, the order carried over, the price list reopened with its
// name index), against the bare prepared insert of the same number of rows
// into an empty table, measured in interleaved pairs in the same run. A second
// anchor is the plain way of replacing a list: the rows of yesterday deleted,
// the new ones inserted, committed, and read once (the read collects the
// deleted rows and their index entries). The load rewrites rows in place and
// should stay well under it. A third is the engine's own floor for that way:
// every row's place read, every row rewritten there with the next day's
// values, committed, and the list read once in name order (the read collects
// the rows' old versions). What the load costs above it is ours: the file,
// matching rows by goods code and expiry date, carrying the order over.
#include "BenchClient.h"
#include "TempDatabase.h"

#include "db/firebird/Statement.h"
#include "exchange/ServerConnection.h"
#include "price/PriceUpdate.h"

namespace {

constexpr int kOrdered = 1000;

void dailyReload(benchmark::State &state, int rows, int pairs)
{
    bench::Client c(rows);
    c.settings.PriceArchiveName = c.settings.ClientCode + QStringLiteral(".arc");
    pc::ServerConnection connection(c.settings, c.dialogs, c.log);
    pc::PriceUpdate update(*c.dm, connection, c.settings, c.dialogs, c.log, c.context);
    pc::Dataset &price = c.price();
    pc::Field &zakaz = price.FieldByName(QStringLiteral("ZAKAZ"));
    const int step = std::max(1, rows / kOrdered);

    for (auto _ : state) {
        std::vector<double> reload, bare, replace, rewrite;
        for (int day = 1; day <= pairs; ++day) {
            // Yesterday's order, typed into the grid.
            for (int r = 0; r < rows; r += step) {
                price.SetRecNo(r + 1);
                price.Edit();
                zakaz.SetAsInteger(1);
                price.Post();
            }
            c.dm->Commit();
            bench::writePriceFile(c.dir.file(c.settings.ClientCode + QStringLiteral(".dbf")), rows, day);
            bool loaded = false;
            reload.push_back(bench::cpuOf([&] { loaded = update.LoadPriceFromFile(); }));
            if (!loaded || price.RecordCount() != rows) {
                state.SkipWithError("the reload did not leave the whole list");
                return;
            }

            pc::test::TempDatabase floor(pc::test::TempDatabase::Content::Tables);
            bench::PriceInsert ins(floor.tr());
            bare.push_back(bench::cpuOf([&] {
                bench::fillPrice(ins, rows);
                floor.tr().commitRetaining();
            }));

            // Yesterday's list, then the bare replacement of it.
            floor.tr().commit();
            floor.tr().start();
            replace.push_back(bench::cpuOf([&] {
                pc::fb::Statement wipe(floor.tr());
                wipe.prepare(QStringLiteral("DELETE FROM PRICE"));
                wipe.execute();
                bench::fillPrice(ins, rows);
                floor.tr().commit();
                floor.tr().start();
                pc::fb::Statement read(floor.tr());
                read.prepare(bench::bareFetchSql());
                read.execute();
                bench::touchAllRows(read);
            }));

            // The list just loaded, rewritten in place with the next day's.
            auto update = std::make_unique<pc::fb::Statement>(floor.tr());
            update->prepare(bench::priceRewriteSql());
            bench::PriceInsert rewriter(std::move(update));
            const int place = rewriter.st.paramIndex(QStringLiteral("DBKEY"));
            qint64 rewritten = 0;
            rewrite.push_back(bench::cpuOf([&] {
                std::vector<QByteArray> places;
                places.reserve(size_t(rows));
                pc::fb::Statement keys(floor.tr());
                keys.prepare(QStringLiteral("SELECT RDB$DB_KEY FROM PRICE"));
                keys.execute();
                while (keys.fetch())
                    places.emplace_back(keys.rawText(0).data(), qsizetype(keys.rawText(0).size()));
                for (int i = 0; i < int(places.size()); ++i) {
                    rewriter.bind(i, 0, day);
                    rewriter.st.setBytes(place, places[size_t(i)]);
                    rewriter.st.execute();
                }
                floor.tr().commit();
                floor.tr().start();
                pc::fb::Statement read(floor.tr());
                read.prepare(bench::bareFetchSql());
                read.execute();
                rewritten = bench::touchAllRows(read);
            }));
            if (rewritten != rows) {
                state.SkipWithError("the rewrite in place did not leave the whole list");
                return;
            }
        }
        bench::report(state, rows, "reload_over_yesterday", bench::median(reload), "bare_insert", bench::median(bare));
        bench::reportValue(state, rows, "bare_replace_and_read", bench::median(replace) * 1000, "ms");
        bench::reportRatio(state, rows, "reload_over_yesterday", bench::median(reload) / bench::median(replace),
                           "bare_replace_and_read");
        bench::reportValue(state, rows, "bare_rewrite_and_read", bench::median(rewrite) * 1000, "ms");
        bench::reportRatio(state, rows, "bare_rewrite_and_read", bench::median(rewrite) / bench::median(bare),
                           "bare_insert");
        bench::reportRatio(state, rows, "reload_over_yesterday", bench::median(reload) / bench::median(rewrite),
                           "bare_rewrite_and_read");
    }
}

} // namespace

int main(int argc, char **argv)
{
    return bench::runForRowCounts(argc, argv, {{"reload_over_yesterday", dailyReload}});
}
