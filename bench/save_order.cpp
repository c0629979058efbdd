// Saving a 1 000-line order with the price list open, against two anchors
// measured in interleaved runs of the same process: a bare prepared insert of
// the same 1 000 lines into the order lines (and its commit), and that insert
// plus the bare clear of the 1 000 ordered rows by key (a prepared update per
// row, then the commit): the engine's floor for a save that has to clear
// 1 000 rows scattered over the list.
#include "BenchClient.h"

#include "orders/SaveOrder.h"

namespace {

constexpr int kLines = 1000;

struct RowKey {
    QString id;
    QDate goden;
};

void saveOrder(benchmark::State &state, int rows, int pairs)
{
    bench::Client c(rows);
    pc::OrderSaver saver(*c.dm, c.dialogs, c.log, c.settings);
    const int step = std::max(1, rows / kLines);
    pc::Dataset &price = c.price();
    pc::Field &zakaz = price.FieldByName(QStringLiteral("ZAKAZ"));
    pc::Field &idtovar = price.FieldByName(QStringLiteral("IDTOVAR"));
    pc::Field &goden = price.FieldByName(QStringLiteral("GODEN"));

    // The order typed into the grid: every step-th row gets 1.
    std::vector<RowKey> ordered;
    auto typeOrder = [&] {
        ordered.clear();
        for (int r = 0; r < rows; r += step) {
            price.SetRecNo(r + 1);
            price.Edit();
            zakaz.SetAsInteger(1);
            price.Post();
            ordered.push_back({idtovar.AsString(), goden.AsDate()});
        }
        c.dm->Commit();
    };
    std::unique_ptr<pc::fb::Statement> lines = c.dm->CreateQuery(QStringLiteral(
        "INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, PRODUCT, QNT, PRICE, SUMMA, CHANGE) VALUES (?, ?, ?, ?, ?, ?, ?, 0)"));
    int bareOrder = 1000000;
    auto bareInsert = [&] {
        ++bareOrder;
        for (int r = 0, n = 0; r < rows && n < kLines; r += step, ++n) {
            lines->setInt(0, bareOrder);
            lines->setText(1, bench::priceId(r));
            lines->setText(2, bench::priceName(r));
            lines->setText(3, QStringLiteral("Фармстандарт-Лексредства ОАО"));
            lines->setInt(4, 1);
            lines->setDouble(5, 10.5);
            lines->setDouble(6, 10.5);
            lines->execute();
        }
        c.dm->Commit();
    };
    std::unique_ptr<pc::fb::Statement> clear = c.dm->CreateQuery(
        QStringLiteral("UPDATE PRICE SET ZAKAZ = 0 WHERE IDTOVAR = ? AND GODEN IS NOT DISTINCT FROM ?"));
    auto bareClear = [&] {
        for (const RowKey &key : ordered) {
            clear->setText(0, key.id);
            clear->setDate(1, key.goden);
            clear->execute();
        }
        c.dm->Commit();
    };
    auto orderedInDatabase = [&] {
        std::unique_ptr<pc::fb::Statement> count =
            c.dm->CreateQuery(QStringLiteral("SELECT COUNT(*) FROM PRICE WHERE ZAKAZ > 0"));
        count->execute();
        return count->fetch() ? count->asInt64(0) : -1;
    };

    for (auto _ : state) {
        std::vector<double> save, insert, clearing, floor;
        for (int i = 0; i < pairs; ++i) {
            typeOrder();
            if (orderedInDatabase() != qint64(ordered.size())) {
                state.SkipWithError("the typed order is not in the database");
                return;
            }
            save.push_back(bench::cpuOf([&] { saver.SaveCurrentOrder(QString()); }));
            if (i == 0 && orderedInDatabase() != 0) {
                state.SkipWithError("the save left ordered rows");
                return;
            }
            insert.push_back(bench::cpuOf(bareInsert));
            typeOrder();
            clearing.push_back(bench::cpuOf(bareClear));
            // The bare clear went behind the dataset's back: it reads the
            // rows again, so the next pair types over what the database holds.
            c.dm->RefreshPrice();
            floor.push_back(insert.back() + clearing.back());
        }
        if (price.RecordCount() != rows || c.dm->NameIndex().size() != rows) {
            state.SkipWithError("the price list changed");
            return;
        }
        const double s = bench::median(save);
        bench::report(state, rows, "save_1000_lines", s, "bare_insert_1000_lines", bench::median(insert));
        bench::reportValue(state, rows, "bare_clear_1000_rows", bench::median(clearing) * 1000, "ms");
        bench::reportRatio(state, rows, "save_1000_lines", s / bench::median(floor), "bare_insert_and_clear");
    }
}

} // namespace

int main(int argc, char **argv) { return bench::runForRowCounts(argc, argv, {{"save_1000_lines", saveOrder}}); }
