#pragma once
// The price update as an operation of its own: the window's button, the
// start page, a job handed to the open window and a job without a window all
// run it the same way. It works on an attachment of its own to the database
// and a connection of its own to the supplier's server, on its own thread;
// the person is asked through the home thread's Dialogs. When it has
// finished, the owner re-reads what changed (the list, the title, the start
// page) and takes the results below.

#include "core/AppContext.h"
#include "core/Operation.h"
#include "core/Settings.h"
#include "documents/FetchDocuments.h"

#include <functional>

namespace pc {

class PriceUpdate;
class ServerConnection;
class TDM;

class PriceUpdateOperation : public Operation {
    Q_OBJECT
public:
    // `like`: the owner's open data module (its database is attached anew);
    // `settings` is copied, the results are taken back by the owner.
    PriceUpdateOperation(const TDM &like, const AppContext &context, const Settings &settings, Dialogs &dialogs,
                         MessageLog &log);
    ~PriceUpdateOperation() override;

    // ---- set before start()
    // The delivery address box for the document fetch (count, selected index).
    int addressCount = 0;
    int addressIndex = -1;
    // Whether the documents may be fetched with the update (the question is
    // asked only then).
    bool offerDocuments = true;
    // The server tried first (the one that answered last).
    int serverIndex = 0;
    // Sets up the connection as the owner's own (time-outs, channel options).
    std::function<void(ServerConnection &)> configureConnection;
    // How the update is pressed; unset: UpdatePrice once. A job presses a
    // second time when the first press only dealt with a left price file.
    std::function<bool(PriceUpdate &)> press;

    // ---- results, valid after finished()
    Settings settings;           // PriceDate, PriceDateTime, PreviousServerAddress, DBBugFixType may have changed
    bool loaded = false;         // a new list went in
    bool showOnlyOrder = false;  // the changes are to be shown (the grid's changes mode)
    bool titleSuffixSet = false; // titleSuffix holds the title's new suffix
    QString titleSuffix;
    bool documentsFetched = false;
    DocumentFetch::Result fetched;
    int serverIndexAfter = 0;

signals:
    // The receive panel (shown with the maximum in KB, or hidden) and its bar.
    void receivePanel(bool visible, int maxKb);
    void receiveProgress(int doneKb);

protected:
    void run() override;

private:
    const TDM &m_like;
    AppContext m_context;
};

} // namespace pc
