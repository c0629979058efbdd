#pragma once
// Price update: the client's price archive is fetched from the supplier's
// server, unpacked by an outside program, and its price file replaces the
// PRICE table while the current order quantities are carried over and cut to
// the new stock. Also the question about a price file left unloaded in the
// program folder and the test whether the loaded price list is current.
//
// A price update is all or nothing. The archive is downloaded and unpacked in
// a private work folder under Data/; the rows are replaced, the quantities
// carried over and cut in one transaction that is committed only when every
// step succeeded. When the download, the unpacking or the import fails, the
// previous PRICE rows, PRICEOLD and the order quantities stay as they were,
// and nothing of the archive reaches the program folder. A price file without
// a single record, or one cut short in transfer, is refused the same way: an
// empty list never replaces the pharmacist's. The goods details delivered
// beside the list (price_det.dbf) replace PRICE_DET in the same transaction.
//
// The window's part (page switch, cursor, receive panel, title, start page,
// banner, the program-update check, the document fetch) comes in through the
// hooks; an unset hook does nothing.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

class Dialogs;
class MessageLog;
struct Settings;

namespace pc {

class AppContext;
class ServerConnection;
class TDM;

// The price date kept in the database with the list it dates (every
// workstation of a shared database sees the same one), taken into
// settings.PriceDate and PriceDateTime. False when the database keeps none
// (a list loaded before: the date of Data/pricein.dbf stays) or cannot say.
bool ReadStoredPriceDate(TDM &dm, Settings &settings, MessageLog &log);

class PriceUpdate {
public:
    PriceUpdate(TDM &dm, ServerConnection &connection, Settings &settings, Dialogs &dialogs, MessageLog &log,
                const AppContext &context);
    PriceUpdate(const PriceUpdate &) = delete;
    PriceUpdate &operator=(const PriceUpdate &) = delete;

    // ---- hooks the window sets
    std::function<void()> SwitchToOrderPage;             // the order page (tab index 1)
    std::function<void(bool busy)> SetBusyCursor;        // hourglass on / default cursor
    std::function<void(bool visible, int maxKb)> ShowReceivePanel; // RecivePanel and its bar's maximum
    std::function<void(int doneKb)> ReceiveProgress;      // the bar's position during the download
    std::function<void()> ProcessEvents;                  // keeps the window painted while unpacking
    std::function<void()> FetchDocuments;                 // defectures and invoices (own connection)
    std::function<void()> CheckProgramUpdate;             // the program update found in the archive
    std::function<void()> ReloadTopPanel;                 // the top strip and the home banner
    std::function<void()> ShowOrderTotals;
    std::function<void()> RefreshTitle;
    std::function<void(bool on)> SetShowOnlyOrder;        // the changes mode of the price grid
    std::function<void()> BuildStartPage;
    std::function<bool()> OrderIsEmpty;                   // unset: asks the database
    std::function<void(const QString &suffix)> SetTitleSuffix;
    std::function<void()> BugFixTypeChanged;              // settings.DBBugFixType was toggled
    // Told of the error that ended the update, after it was logged with
    // " (получение прайса)".
    std::function<void(const QString &message)> AppException;

    // Called during a load once the ordered rows are put aside, while the
    // load holds the list (the place where another workstation's typing
    // used to be lost).
    std::function<void()> AfterOrderKept;

    // Unset: CheckPriceActuality runs UpdatePrice itself when the person
    // agrees. Set: it calls this instead (the window starts the update as an
    // operation of its own); the result is the actuality's.
    std::function<bool()> StartUpdate;
    // Whether the module's datasets (the grid's) are closed and reopened
    // around a load. Off for a module of its own on another thread, whose
    // owner re-reads its own datasets afterwards.
    bool ReopenDatasets = true;
    // The cancel flag of the operation this update runs in: once set, the
    // transfer, the reading of the price file and the row loops end, and the
    // old list stays as it was. nullptr: none.
    void setCancelFlag(const std::atomic<bool> *flag) { m_cancel = flag; }

    // How long an unpacking program may run before it is stopped.
    int UnpackTimeoutMs = 15000;
    // The bytes free on the disk of a folder (unset: asks the system; -1:
    // unknown). A zip archive whose files would not fit is not unpacked.
    std::function<qint64(const QString &folder)> FreeBytes;

    // "Обновить данные". True when a new price list was loaded.
    bool UpdatePrice();
    // True when the price list is dated today or later. With ask, a stale
    // list is offered for update; then the result is that of the update.
    bool CheckPriceActuality(bool ask);
    // Offers to load a price file left in the program folder (Yes) or deletes
    // it. True when such a file was there.
    bool CheckUnloadedPriceFile();
    // Loads the client price file of the program folder. True when loaded.
    bool LoadPriceFromFile();

    // The kinds of file a supplier's banner may be (extensions, as the check
    // of names from outside takes them).
    static const QStringList &BannerFileKinds();
    // The client price file's name: the client code and ".dbf".
    QString PriceFileName() const;
    // Whether a new price list was loaded by the last load.
    bool LastLoadSucceeded() const { return m_lastLoadOk; }
    // The price date is kept in the database with the list it dates, so
    // that every workstation of a shared database sees the same one. Takes
    // it into the settings (PriceDate) when the database has one; false when
    // not (a list loaded before, the date of Data/pricein.dbf stays).
    bool ReadStoredPriceDate();

    // Steps of the load, inside the caller's transaction (embedded database).
    // Keeps the ordered rows of PRICE in PRICEOLD.
    void SavePriceToOld();
    // Replaces the rows of PRICE by the records of a price DBF file: one
    // prepared insert, executed per record, no commit. Returns the row count.
    int ImportPriceFile(const QString &fileName);
    // Replaces the rows of PRICE_DET (the detail line and pop-up note of the
    // goods) by the records of the details table; no file name: PRICE_DET is
    // only emptied. No commit. Returns the row count.
    int ImportPriceDetails(const QString &fileName);
    // The details table delivered beside a price file: "price_det.dbf" in
    // any letter case, in the same folder; empty when there is none.
    static QString FindDetailsFile(const QString &priceFile);
    // Puts the quantities of PRICEOLD on the new rows: on the row of the same
    // goods code and expiry date, else on the row of that code with the latest
    // expiry date; goods no longer listed lose their quantity.
    void RestoreOrderFromOld();

private:
    bool loadPriceFile(const QString &fileName);
    void downloadArchive(const QString &workFolder, bool sendInfo, bool checkDocuments, QString &archive);
    // Unpacks into the work folder; returns the folder that holds the
    // archive's plain files under their decoded, accepted names.
    QString unpackArchive(const QString &workFolder, const QString &archive);
    QStringList prepareZip(const QString &workFolder, const QString &archive);
    void collectUnpacked(const QString &workFolder, const QStringList &zipNames);
    bool acceptArchiveName(const QString &name);
    void refuseArchiveName(const QString &name, const QString &reason);
    void placeArchiveFiles(const QString &folder, const QString &priceFile);
    void writeLogIni();
    void finishUpdateUi();
    void reportError(const QString &message);
    void toggleBugFixType();
    bool orderIsEmpty();
    void checkCancelled() const;
    QString findPriceFile(const QString &folder) const;
    static QString dateTimeText(const QDateTime &when);
    static QDateTime parseDateTime(const QString &text);

    TDM &m_dm;
    ServerConnection &m_connection;
    Settings &m_settings;
    Dialogs &m_dialogs;
    MessageLog &m_log;
    const AppContext &m_context;
    bool m_running = false;
    bool m_lastLoadOk = false;
    const std::atomic<bool> *m_cancel = nullptr;
    bool m_zip = false;
    qint64 m_largestDeclared = 0; // of the files given to unzip
    // The names of the archive being unpacked that were refused (each said
    // once), and those the program has no use for (said together).
    QStringList m_refusedNames;
    QStringList m_unwantedNames;
};

} // namespace pc
