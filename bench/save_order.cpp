// Saving a 1 000-line order with the price list open, against a bare
// prepared insert of the same 1 000 lines into the order lines (and its
// commit), measured in interleaved pairs in the same run.
#include "BenchClient.h"

#include "app/ClientApplication.h"
#include "orders/SaveOrder.h"
#include "platform/Signals.h"

namespace {

constexpr int kLines = 1000;

void run(int rows, int pairs)
{
    bench::Client c(rows);
    pc::OrderSaver saver(*c.dm, c.dialogs, c.log, c.settings);
    const int step = std::max(1, rows / kLines);
    pc::Dataset &price = c.price();
    pc::Field &zakaz = price.FieldByName(QStringLiteral("ZAKAZ"));

    // The order typed into the grid: every step-th row gets 1.
    auto typeOrder = [&] {
        for (int r = 0; r < rows; r += step) {
            price.SetRecNo(r + 1);
            price.Edit();
            zakaz.SetAsInteger(1);
            price.Post();
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

    std::vector<double> save, bare;
    for (int i = 0; i < pairs; ++i) {
        typeOrder();
        save.push_back(bench::cpuOf([&] { saver.SaveCurrentOrder(QString()); }));
        bare.push_back(bench::cpuOf(bareInsert));
    }
    if (price.RecordCount() != rows || c.dm->NameIndex().size() != rows)
        std::printf("WARNING: price list changed\n");
    const double s = bench::median(save), b = bench::median(bare);
    bench::result("save_order", rows, "save_1000_lines", s * 1000, "ms", s / b, "bare_insert_1000_lines");
    bench::result("save_order", rows, "bare_insert_1000_lines", b * 1000, "ms");
}

} // namespace

int main(int argc, char **argv) { return bench::runForRowCounts(argc, argv, run); }
