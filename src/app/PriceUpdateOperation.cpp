#include "app/PriceUpdateOperation.h"

#include "db/DataModule.h"
#include "db/WorkerDatabase.h"
#include "exchange/ServerConnection.h"
#include "platform/AppError.h"
#include "price/PriceUpdate.h"

namespace pc {

PriceUpdateOperation::PriceUpdateOperation(const TDM &like, const AppContext &context, const Settings &settings,
                                           Dialogs &dialogs, MessageLog &log)
    : Operation(dialogs, log), settings(settings), m_like(like), m_context(context)
{
}

PriceUpdateOperation::~PriceUpdateOperation()
{
    stopAndWait();
}

void PriceUpdateOperation::run()
{
    Dialogs &dialogs = workerDialogs();
    MessageLog &log = workerLog();
    std::unique_ptr<TDM> dm;
    try {
        dm = OpenAttachmentLike(m_like, m_context, dialogs, log);
    } catch (const std::exception &e) {
        log.logMessage(errorText(e) + QStringLiteral(" (получение прайса)"), Error, true);
        dialogs.showNotice(QStringLiteral("Ошибка при получении прайса. Подробности в окне сообщений"), true);
        return;
    }
    ServerConnection connection(settings, dialogs, log);
    if (configureConnection)
        configureConnection(connection);
    connection.setCurrentServerIndex(serverIndex);
    connection.setCancelFlag(&cancelFlag());

    DocumentFetch documents(*dm, connection, settings, dialogs, log, m_context);
    documents.ReceiveProgress = [this](qint64 done, qint64 total) {
        if (total > 0)
            emit receivePanel(true, int((total + 1023) / 1024));
        emit receiveProgress(int(done / 1024));
        emit progress(done, total);
    };

    PriceUpdate update(*dm, connection, settings, dialogs, log, m_context);
    update.ReopenDatasets = false;
    update.setCancelFlag(&cancelFlag());
    update.ShowReceivePanel = [this](bool visible, int maxKb) {
        emit receivePanel(visible, maxKb);
        emit progress(0, visible ? qint64(maxKb) * 1024 : -1);
    };
    update.ReceiveProgress = [this](int doneKb) {
        emit receiveProgress(doneKb);
        emit progress(qint64(doneKb) * 1024, 0);
    };
    update.SetShowOnlyOrder = [this](bool on) { showOnlyOrder = on; };
    update.SetTitleSuffix = [this](const QString &suffix) {
        titleSuffixSet = true;
        titleSuffix = suffix;
    };
    if (offerDocuments)
        update.FetchDocuments = [&] {
            fetched = documents.FetchDocuments(false, addressCount, addressIndex);
            documentsFetched = true;
        };
    // The date of the list the database holds, as every workstation sees it.
    update.ReadStoredPriceDate();
    try {
        loaded = press ? press(update) : update.UpdatePrice();
    } catch (const std::exception &e) {
        log.logMessage(errorText(e) + QStringLiteral(" (получение прайса)"), Error, true);
    }
    serverIndexAfter = connection.CurrentServerIndex();
}

} // namespace pc
