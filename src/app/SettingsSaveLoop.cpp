#include "app/SettingsSaveLoop.h"

#include "app/SettingsFiles.h"
#include "core/AppContext.h"
#include "core/JobDialogs.h"
#include "core/JobLog.h"
#include "platform/IniFile.h"

#include <QDir>

std::optional<int> settingsSaveLoopRequested()
{
    if (!qEnvironmentVariableIsSet("PC_TEST_SETTINGS_SAVE_LOOP"))
        return std::nullopt;
    return qEnvironmentVariableIntValue("PC_TEST_SETTINGS_SAVE_LOOP");
}

int runSettingsSaveLoop(const pc::AppContext &context, int saves)
{
    pc::JobLog log(context.appDir(), [] { return QString(); });
    pc::JobDialogs dialogs(log);
    const SettingsFiles files(context, dialogs, log);
    QDir().mkpath(context.path(QStringLiteral("Data/NakladOther")));
    for (int done = 0; saves < 0 || done < saves; ++done) {
        Settings s;
        files.readClient(s);
        files.readServer(s, false);
        files.readExchange(s);
        const int generation = pc::IniFile(files.clientIni()).readInteger(QStringLiteral("PriceTagsPrintSettings"),
                                                                         QStringLiteral("Count"), 0)
                             + 1;
        s.SupplierName = QStringLiteral("gen %1").arg(generation);
        s.PriceTagsCount = generation;
        s.FileNameOrder = QStringLiteral("gen%1.dbf").arg(generation);
        files.save(s, {});
    }
    return 0;
}
