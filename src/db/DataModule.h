#pragma once
// The data module: the local database, its one transaction, the datasets the
// pages are bound to, the statement operations every part of the program
// uses, and the upkeep of the tables (opening, creating what is missing,
// clearing, taking in data of the older DBF-file format).
//
// Every operation acts on the embedded database. The two DBF storage kinds
// keep their names and connection texts but cannot run here: with them the
// statement operations do nothing and OpenDatabase keeps the embedded database.

#include "db/DatabaseLocation.h"
#include "db/Dataset.h"
#include "db/DatasetNameIndex.h"
#include "db/TableDefs.h"

#include <QHash>
#include <QStringList>
#include <functional>
#include <memory>

class Dialogs;
class MessageLog;
class QObject;

namespace pc {
class AppContext;
class Reattacher;
namespace fb {
class Database;
class Statement;
class Transaction;
} // namespace fb

class TDM {
public:
    TDM(const AppContext &context, Dialogs &dialogs, MessageLog &log);
    ~TDM();
    TDM(const TDM &) = delete;
    TDM &operator=(const TDM &) = delete;

    // ---- driver kind and its names
    int DriverKind = DriverFirebird;
    // Pages of the engine's cache (6 MB of 8 KB pages). The price list is
    // held in the program's own memory; loads and saves measured no faster
    // with the engine's default of 2048.
    static constexpr int kPageBuffers = 768;
    // How long a write waits for a row or table another workstation holds
    // before it is refused (taken when the objects are created).
    int LockTimeoutSeconds = 10;
    bool IsDBF() const { return pc::IsDBF(DriverKind); }
    bool IsFirebird() const { return pc::IsFirebird(DriverKind); }
    QString QntFieldName() const { return pc::QntFieldName(DriverKind); }
    QString ReadFieldName() const { return pc::ReadFieldName(DriverKind); }
    QString SumFieldName() const { return pc::SumFieldName(DriverKind); }
    const TTableDefs &TableDef(TableDefId id) const { return m_defs.at(size_t(id)); }

    // ---- statements (nothing happens, false or nullptr, unless IsFirebird)
    bool ExecSQL(const QString &sql, bool commit);
    // ownQuery: a new dataset the caller owns (wrap it in a unique_ptr); else the
    // shared query, whose previous result is replaced. Opened, on its first row.
    Dataset *OpenQuery(const QString &sql, bool ownQuery = false);
    // A prepared statement, not executed: ownQuery as above.
    fb::Statement *PrepareQuery(const QString &sql, bool ownQuery = false);
    void SetParamByIndex(fb::Statement *query, int index, const QVariant &value);
    void SetParamByName(fb::Statement *query, const QString &name, const QVariant &value);
    bool ExecQuery(fb::Statement *query, bool commit);
    // Commit and Rollback end the transaction; the next statement that needs
    // one starts it, so nothing stays open while the window waits for a person.
    void Commit();
    void Rollback();
    // Starts a transaction that is kept until Commit or Rollback (an
    // operation of several statements that must all be kept or none).
    void StartTransaction(bool restart);
    // Ends the module's transaction when it holds nothing: no change, no open
    // cursor, not started by StartTransaction or BeginReserved. Called
    // whenever the thread's event loop goes idle, so a window that only shows
    // its lists never holds back the server's oldest active transaction.
    // True when it ended one.
    bool EndIdleTransaction();
    void SetConnected(bool on);
    bool Connected() const;
    // New objects on the module's transaction; the caller owns them.
    std::unique_ptr<Dataset> CreateDataSet(const QString &select, const QString &modify, const QString &insert,
                                           const QString &del = {}, const QString &refresh = {});
    std::unique_ptr<fb::Statement> CreateQuery(const QString &sql);
    std::unique_ptr<Dataset> CreateTable(const QString &tableName);

    // ---- datasets (nullptr before CreateFirebirdObjects)
    Dataset *PriceSet() const { return m_price.get(); }
    Dataset *PriceOldTable() const { return m_priceOld.get(); }
    Dataset *PriceDetTable() const { return m_priceDet.get(); }
    Dataset *OrdersSet() const { return m_orders.get(); }
    Dataset *OrdersLinesTable() const { return m_ordersLines.get(); }
    Dataset *DefectTable() const { return m_defect.get(); }
    Dataset *DefectLinesTable() const { return m_defectLines.get(); }
    Dataset *DefectOrderLinesTable() const { return m_defectOrderLines.get(); }
    Dataset *NakladSet() const { return m_naklad.get(); }
    Dataset *NakladLinesSet() const { return m_nakladLines.get(); }
    Dataset *ArchivePricesQuery() const { return m_archivePrices.get(); }
    // Upper-cased goods names of the price rows, in dataset order (quick search).
    const pc::NameIndex &NameIndex() const { return m_nameIndex; }

    // ---- lifecycle and upkeep
    void CreateFirebirdObjects();
    void OpenDatabase();
    void OpenOrCreateTable(Dataset &dataset, const QString &name, const TTableDefs &def, bool createOnFailure,
                           bool addFields);
    void SetAllActive(bool on);
    void OpenPrice(bool on);
    void RefreshPrice();
    // Which list the database holds: every load commits the next version
    // with its rows. ShownPriceListVersion is the version the open price
    // dataset was read at; a window showing an older one reads the list
    // again (ReloadPrice), whatever the row count.
    qint64 PriceListVersion();
    qint64 ShownPriceListVersion() const { return m_shownPriceVersion; }
    // Moves the version on, inside the load's transaction.
    void AdvancePriceListVersion();
    // Reads the list again even when it is open, keeping the filter.
    void ReloadPrice();
    bool PriceHasData();
    bool TableExists(const QString &name);
    void DropTable(const QString &name);
    // "Очистка БД": asks, keeps a copy in client_prev.gdb, empties, restarts.
    void ResetDatabase();
    // "Получить новый файл БД": the database file is set aside; restarts.
    void GetNewDatabaseFile();
    // Orders and invoices of the older DBF files are added to the archive; an
    // imported order or invoice whose number is already taken gets the next
    // free one (its lines follow), so nothing merges with what is there.
    // True when the import committed or the person declined it; false when it failed.
    bool ImportOldDbfData();
    // Old key -> new key for one column of the copied rows.
    struct KeyRenumbering {
        QString column;
        QHash<qint64, qint64> newKeys;
    };
    void CopyDbfTable(Dataset &dataset, const TTableDefs &def, const KeyRenumbering *renumbering = nullptr);
    void AddFieldTyped(Dataset &dataset, const QString &name, int size, bool calculated, FieldKind kind);
    void AddFieldFromDef(Dataset &dataset, const FieldDefEntry &entry);
    void AddNumberField(Dataset &dataset, const QString &name);
    static QString FileSizeText(const QString &fileName);
    void LogError(const QString &text);
    // The connection text of a DBF storage kind ("" for the embedded database).
    QString DbfConnectionString(int kind) const;

    // ---- where the database is, and several workstations on one database
    DatabaseLocation Location;
    bool IsServer() const { return Location.IsServer(); }
    // Creates what older databases lack: the key generators, the unique keys
    // of the order and document numbers, the table of shared values. Safe to
    // run again; what cannot be made (old duplicates) is logged.
    void EnsureSharedObjects();
    // Widens a text column an older database keeps narrower than its definition.
    void WidenTextColumns();
    // The next number of an order, invoice or defecture, from the table's
    // generator: two workstations never get the same one.
    qint64 NextKey(const QString &table);
    // Moves the table's generator up to the highest number in use.
    void SyncKeyGenerator(const QString &table);
    // The generator's value as it is (0 without a generator); and moved up
    // to `value` when below it.
    qint64 KeyGeneratorValue(const QString &table);
    void AdvanceKeyGenerator(const QString &table, qint64 value);
    // A value all workstations share (e.g. the price date): the committed
    // value, or def when none was ever set.
    QString SharedValue(const QString &name, const QString &def = {});
    // Sets a shared value within the current transaction.
    void SetSharedValue(const QString &name, const QString &value);
    // Ends the current transaction (committing it) and starts one that holds
    // the tables for protected write until its end: other workstations
    // writing to them wait, at most the lock time-out, then are refused.
    void BeginReserved(const QStringList &tables);
    // Tells the other workstations, at the commit of the current transaction,
    // that something changed (an event of the engine).
    void PostEvent(const QString &name);
    // After the connection to the server broke: the lost attachment is left
    // behind (its lists closed, said once in the pane) and a new one is
    // sought in the background, with a growing pause between tries, for as
    // long as it takes. Once one is ready, it is taken (here, or by itself
    // when the thread runs an event loop), the lists are opened again and
    // the pane says so once. True when it attached again now; false when
    // nothing was lost or the server is still away.
    bool ReconnectIfLost();
    // The connection is lost and not yet back.
    bool IsServerAway() const { return m_serverAway; }
    fb::Database *Database() const { return m_db.get(); }

    QString DatabaseFile() const;
    QString TemplateFile() const;
    QString PreviousFile() const;

    // Hooks the windows set: the price grid's extra fields before the price
    // opens, and the program restart.
    std::function<void(Dataset &)> CreatePriceFields;
    std::function<void()> RestartProgram;
    // Called after ReconnectIfLost attached again (the window waits for the
    // others' events again).
    std::function<void()> AfterReconnect;

private:
    QHash<qint64, qint64> renumberedKeys(const QString &header, const QString &headerKey, const QString &lines,
                                         const QString &linesKey);
    void bindDetails();
    void closeAllQuietly();
    void leaveLostAttachment();
    bool adoptReattached();
    void clearServedDatabase();
    void readWholePrice(const std::function<void()> &again);
    AppContext const &m_context;
    Dialogs &m_dialogs;
    MessageLog &m_log;
    std::vector<TTableDefs> m_defs;
    std::unique_ptr<fb::Database> m_db;
    std::unique_ptr<fb::Transaction> m_tr;
    std::unique_ptr<Dataset> m_sharedQuery;
    std::unique_ptr<fb::Statement> m_sharedStatement;
    std::unique_ptr<Dataset> m_orders, m_price, m_priceOld, m_ordersLines, m_naklad, m_nakladLines, m_defect,
        m_defectLines, m_defectOrderLines, m_priceDet, m_plainQuery, m_archivePrices;
    pc::NameIndex m_nameIndex;
    bool m_pinned = false;        // a transaction started on purpose, kept until Commit/Rollback
    bool m_wantConnected = false; // attached by SetConnected(true), not detached on purpose since
    bool m_serverAway = false;    // the connection broke and is not back yet
    int m_priceRowBeforeLoss = 0;
    std::unique_ptr<Reattacher> m_reattacher;
    std::unique_ptr<QObject> m_idleHook;
    qint64 m_shownPriceVersion = -1;
};

} // namespace pc
