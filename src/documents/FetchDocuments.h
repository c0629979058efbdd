#pragma once
// The supplier's answers to orders: defectures (goods it cannot deliver, one
// file per answered order) and invoices, published in per-client folders on
// the FTP server ("\Defect\<code>" and "\Naklad\<code>"). A fetch logs in
// with the client account, downloads every document not yet in the local
// database, takes defectures into DEFECT/DEFECTL and invoices into
// NAKLAD/NAKLADL, keeps the invoice files in Data/NakladArch, saves the other
// files of the invoice folder to the folder the pharmacist chose, and reports
// how many documents arrived.
//
// Each document is imported in a transaction of its own: it is in the
// database whole or not at all. The server copy is deleted (unless the
// settings keep documents on the server) only once the document is safely
// stored, so a file that fails to import is fetched again next time. Names
// from the server listing never leave their folder: a name with a path
// separator, a parent reference or nothing in it is logged and skipped.
// Document numbers and codes reach SQL only as bound parameters.
//
// The window's part (the receive panel, refreshing what it shows) comes in
// through the hooks; an unset hook does nothing.

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class Dialogs;
class MessageLog;
struct Settings;

namespace pc {

class AppContext;
class ServerConnection;
class TDM;

class DocumentFetch {
public:
    // Reads ClientAccount, ClientCode, DeliveryAddresses, LeaveDocsOnServer,
    // NakladFolder and CalcPriceProducerWithNDS from settings at each fetch.
    DocumentFetch(TDM &dm, ServerConnection &connection, const Settings &settings, Dialogs &dialogs, MessageLog &log,
                  const AppContext &context);
    DocumentFetch(const DocumentFetch &) = delete;
    DocumentFetch &operator=(const DocumentFetch &) = delete;

    // ---- hooks the window sets
    std::function<void(bool visible)> ShowReceivePanel;
    // Bytes of the current download so far and its size when known (else 0).
    std::function<void(qint64 done, qint64 total)> ReceiveProgress;
    // Called after the fetch has refreshed the document tables, to redraw what
    // depends on them (the order label, the start page ...).
    std::function<void()> DocumentsReloaded;

    struct Result {
        int defectures = 0; // imported
        int documents = 0;  // invoices imported and other documents saved
        QStringList failed; // server names of the documents that could not be fetched or imported
        bool busy = false;  // another workstation was fetching: nothing was done
    };

    // Fetches the documents of the delivery addresses chosen in the address
    // box: addressCount items, addressIndex the selected one (−1 for none).
    // With an item selected only its code is fetched; with none, every item's
    // code, or the client code while the box holds at most one item.
    // alwaysReport: the count report also when nothing arrived (the button).
    Result FetchDocuments(bool alwaysReport, int addressCount, int addressIndex);

    // Imports one defecture file under the given number, in a transaction of
    // its own; throws (after rolling back) when anything fails, a damaged
    // (cut short) file included. Records marked deleted are imported like
    // any other. Cells that cannot be read as numbers or dates are taken as
    // empty and counted in the message pane.
    void ImportDefecture(const QString &fileName, const QString &number);
    // Imports one invoice file, in a transaction of its own; throws (after
    // rolling back) when anything fails. producerPriceWithVat chooses CPWNDS
    // over CPWONDS for the producer price. Returns the new NAKLAD.ID.
    int ImportInvoice(const QString &fileName, bool producerPriceWithVat);

    // The number of a document from its server file name ("" when the name
    // holds none): d12345.dbf → 12345; n0107_4711.dbf → 4711, n4711.dbf → 4711.
    static QString DefectureNumber(const QString &fileName);
    static QString InvoiceNumber(const QString &fileName);
    // An invoice file: ends in ".dbf" and starts with "n", letter case as written.
    static bool IsInvoiceFileName(const QString &fileName);

private:
    // Goes through a listing name by name: the window stays painted, a
    // cancelled exchange ends it, and a long one shows "N из M".
    class ListProgress {
    public:
        ListProgress(DocumentFetch &fetch, const QString &text, int count);
        void next();

    private:
        static constexpr int kShownFrom = 200;
        DocumentFetch &m_fetch;
        QString m_text;
        int m_count;
        int m_done = 0;
        QElapsedTimer m_sinceShown;
    };
    void fetchCode(const QString &code, Result &result);
    void fetchDefectures(const QString &code, Result &result);
    void fetchInvoices(const QString &code, Result &result);
    void download(const QString &remoteName, const QString &localPath);
    void deleteOnServer(const QString &remoteName);
    bool documentExists(const QString &table, const QString &number);
    bool invoiceContentExists(const QString &fileName);
    QString otherDocumentsFolder() const;
    void reloadTables(bool invoicesArrived);

    TDM &m_dm;
    ServerConnection &m_connection;
    const Settings &m_settings;
    Dialogs &m_dialogs;
    MessageLog &m_log;
    const AppContext &m_context;
    bool m_running = false;
};

// "Удалить" on the invoice list: asks, then deletes the current invoice of
// NakladSet with its lines in one commit and reopens the list. The archived
// file stays in Data/NakladArch. True when an invoice was deleted.
bool DeleteCurrentInvoice(TDM &dm, Dialogs &dialogs);

// The caption of the label over the order a defecture answers, for the
// current DEFECT row: "Заявка от " + the order's date ("" after it when the
// archive no longer holds the order). Nothing when the row has no number
// (the label keeps its caption).
std::optional<QString> DefectOrderCaption(TDM &dm);

} // namespace pc
