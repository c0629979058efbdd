#pragma once
// The program's data side for a benchmark: a data module on a temporary
// program folder with the price grid logic installed and PRICE filled with a
// synthetic price list of a given size, opened as the program opens it.

#include "BenchCommon.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "app/ClientApplication.h"
#include "core/AppContext.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "platform/Signals.h"
#include "price/PriceGrid.h"

#include <memory>

namespace bench {

struct Client {
    TempAppDir dir;
    pc::AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    Settings settings;
    std::unique_ptr<pc::TDM> dm;
    pc::PriceGrid grid;
    qint64 raw = 0;

    explicit Client(int rows)
    {
        settings.ClientCode = QStringLiteral("1234");
        dm = std::make_unique<pc::TDM>(context, dialogs, log);
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

// The main() of a benchmark over the program's data side: the process set up
// as the program's own (signals blocked before the engine, its lock folder,
// the application object), then run(rows, pairs) for every row count asked.
inline int runForRowCounts(int argc, char **argv, const std::function<void(int rows, int pairs)> &run)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();
    ClientApplication app(argc, argv);
    const int pairs = repeats(argc, argv, 5);
    for (int rows : rowCounts(argc, argv))
        run(rows, pairs);
    return 0;
}

} // namespace bench
