#include "app/DocumentFetchOperation.h"

#include "db/DataModule.h"
#include "db/WorkerDatabase.h"
#include "exchange/ServerConnection.h"

namespace pc {

DocumentFetchOperation::DocumentFetchOperation(const TDM &like, const AppContext &context, const Settings &settings,
                                               Dialogs &dialogs, MessageLog &log)
    : Operation(dialogs, log), m_like(like), m_context(context), m_settings(settings)
{
}

DocumentFetchOperation::~DocumentFetchOperation()
{
    stopAndWait();
}

void DocumentFetchOperation::run()
{
    serverIndexAfter = serverIndex;
    std::unique_ptr<TDM> dm = OpenAttachmentLike(m_like, m_context, workerDialogs(), workerLog());
    ServerConnection connection(m_settings, workerDialogs(), workerLog());
    if (configureConnection)
        configureConnection(connection);
    connection.setCurrentServerIndex(serverIndex);
    connection.setCancelFlag(&cancelFlag());
    DocumentFetch fetch(*dm, connection, m_settings, workerDialogs(), workerLog(), m_context);
    fetch.ReceiveProgress = [this](qint64 done, qint64 total) { emit progress(done, total); };
    try {
        result = fetch.FetchDocuments(alwaysReport, addressCount, addressIndex);
    } catch (const ExchangeCancelled &) {
        workerLog().logMessage(QStringLiteral("Получение дефектур и накладных прервано"), Warning, true);
    }
    serverIndexAfter = connection.CurrentServerIndex();
}

} // namespace pc
