#pragma once
// The fetch of defectures and invoices as an operation of its own: the
// window's button, a job handed to the open window and a job without a window
// run it the same way, on its own thread with an attachment to the database
// and a connection to the supplier's server of its own. When it has finished,
// the owner re-reads the document tables and takes the result below.

#include "core/AppContext.h"
#include "core/Operation.h"
#include "core/Settings.h"
#include "documents/FetchDocuments.h"

#include <functional>

namespace pc {

class ServerConnection;
class TDM;

class DocumentFetchOperation : public Operation {
    Q_OBJECT
public:
    DocumentFetchOperation(const TDM &like, const AppContext &context, const Settings &settings, Dialogs &dialogs,
                           MessageLog &log);
    ~DocumentFetchOperation() override;

    // ---- set before start()
    bool alwaysReport = false; // the count report also when nothing arrived (the button)
    int addressCount = 0;      // the delivery address box
    int addressIndex = -1;
    int serverIndex = 0;       // the server tried first
    std::function<void(ServerConnection &)> configureConnection;

    // ---- valid after finished()
    DocumentFetch::Result result;
    int serverIndexAfter = 0;

protected:
    void run() override;

private:
    const TDM &m_like;
    AppContext m_context;
    Settings m_settings;
};

} // namespace pc
