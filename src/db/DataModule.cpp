#include "db/DataModule.h"

#include "core/AppContext.h"
#include "core/Dialogs.h"
#include "core/MessageLog.h"
#include "db/DbfReader.h"
#include "db/EmptyDatabase.h"
#include "db/Reattacher.h"
#include "db/firebird/Database.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Transaction.h"
#include "platform/AppError.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <map>

namespace pc {

namespace {

FieldType fieldTypeOf(FieldKind kind)
{
    switch (kind) {
    case FieldKind::Integer: return FieldType::Integer;
    case FieldKind::Smallint: return FieldType::Smallint;
    case FieldKind::String: return FieldType::String;
    case FieldKind::Date: return FieldType::Date;
    case FieldKind::Float:
    case FieldKind::Currency:
    case FieldKind::Numeric:
    case FieldKind::BCD: return FieldType::Float;
    }
    return FieldType::String;
}

// A file of the Data folder whatever the letter case of its name.
QString findDataFile(const QString &folder, const QString &name)
{
    const QString exact = folder + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList found = QDir(folder).entryList({name}, QDir::Files);
    return found.isEmpty() ? exact : folder + found.front();
}

// The integer values of one column of a DBF file (none when the file or the
// column is missing: the copy itself reports that).
QSet<qint64> dbfKeys(const QString &fileName, const char *column)
{
    QSet<qint64> keys;
    if (!QFileInfo::exists(fileName))
        return keys;
    DbfReader reader;
    reader.setDBFFileName(fileName);
    reader.Open();
    if (DbfField *field = reader.FindField(column)) {
        for (reader.First(); !reader.Eof(); reader.Next())
            if (!field->IsNull())
                keys.insert(field->AsInteger());
    }
    reader.Close();
    return keys;
}

bool replaceFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        return false;
    QFile::setPermissions(to, QFile::permissions(to) | QFile::WriteOwner | QFile::ReadOwner);
    return true;
}

} // namespace

TDM::TDM(const AppContext &context, Dialogs &dialogs, MessageLog &log)
    : m_context(context), m_dialogs(dialogs), m_log(log)
{
    // Whenever this thread's event loop has nothing left to do, a
    // transaction that holds nothing is ended, and a connection that broke
    // is left behind to be sought again.
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance()) {
        m_idleHook = std::make_unique<QObject>();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, m_idleHook.get(), [this] {
            EndIdleTransaction();
            if (m_db && m_db->isLost() && m_wantConnected && !m_serverAway && !m_pinned)
                leaveLostAttachment();
        });
    }
}

TDM::~TDM()
{
    m_idleHook.reset();
    m_reattacher.reset();
    // Datasets and statements go before the transaction and the database.
    m_sharedStatement.reset();
    for (auto *ds : {&m_sharedQuery, &m_orders, &m_price, &m_priceOld, &m_ordersLines, &m_naklad, &m_nakladLines,
                     &m_defect, &m_defectLines, &m_defectOrderLines, &m_priceDet, &m_plainQuery, &m_archivePrices})
        ds->reset();
    if (m_db) {
        try {
            m_db->detach();
        } catch (...) {
        }
    }
    m_tr.reset();
    m_db.reset();
}

QString TDM::DatabaseFile() const
{
    return IsServer() ? Location.ConnectionName() : m_context.path(QStringLiteral("Data/client.gdb"));
}
QString TDM::TemplateFile() const { return m_context.path(QStringLiteral("Data/client_empty.gdb")); }
QString TDM::PreviousFile() const { return m_context.path(QStringLiteral("Data/client_prev.gdb")); }

QString TDM::DbfConnectionString(int kind) const
{
    const QString data = m_context.path(QStringLiteral("Data"));
    if (kind == DriverOdbc)
        return QStringLiteral("Driver={Microsoft dBASE Driver (*.dbf)};DriverID=277;Collate=Machine;Dbq=") + data + QStringLiteral(";");
    if (kind == DriverVfpOleDb)
        return QStringLiteral("Provider=VFPOLEDB.1;Data Source=") + data
             + QStringLiteral(";Mode=ReadWrite;Mask Password=False;Collating Sequence=MACHINE;");
    return QString();
}

void TDM::CreateFirebirdObjects()
{
    // The DBF storage kinds have no driver on this system: say so once and
    // keep working on the embedded database (the setting itself stays).
    if (IsDBF()) {
        const QString connection = DbfConnectionString(DriverKind);
        m_dialogs.showNotice(QStringLiteral("Формат базы данных \"%1\" на этой системе не поддерживается. "
                                            "Программа работает со встроенной базой данных FireBird Embedded.")
                                 .arg(DriverKind == DriverOdbc ? QStringLiteral("ODBC") : QStringLiteral("VFP OLE DB")),
                             false);
        m_log.logDetail(QStringLiteral("Строка подключения не используется: ") + connection);
        DriverKind = DriverFirebird;
    }
    m_defs = BuildTableDefs(DriverKind);

    if (!IsServer() && !QFileInfo::exists(DatabaseFile()) && QFileInfo::exists(TemplateFile()))
        replaceFile(TemplateFile(), DatabaseFile());

    m_db = std::make_unique<fb::Database>();
    m_db->setCredentials(Location.User.trimmed(), Location.Password);
    m_db->setConnectTimeout(5);
    // The engine's page cache, sized for a desktop program with one user
    // (the engine's own default is a server's).
    m_db->setPageBuffers(kPageBuffers);
    m_tr = std::make_unique<fb::Transaction>(*m_db, LockTimeoutSeconds);
    m_tr->setCloseAction(fb::Transaction::CloseAction::Commit);
    m_sharedQuery = std::make_unique<Dataset>(*m_tr);
    m_sharedStatement = std::make_unique<fb::Statement>(*m_tr);

    m_orders = CreateDataSet(QStringLiteral("SELECT * FROM ORDERS ORDER BY ID"),
                             QStringLiteral("UPDATE ORDERS SET STATUS = :STATUS WHERE ID = :OLD_ID"),
                             BuildInsertSQL(TableDef(TdOrders)));
    m_price = CreateDataSet(QStringLiteral("SELECT * FROM PRICE ORDER BY TOVAR"),
                            // A row without an expiry date must take a quantity too: "=" never matches null.
                            // The quantity is written only over the one the grid showed: when another
                            // workstation changed it meanwhile, no row matches and nothing is overwritten.
                            // One row only: two rows of the same goods and date must not both take it.
                            QStringLiteral("UPDATE PRICE SET ZAKAZ = :ZAKAZ WHERE IDTOVAR = :OLD_IDTOVAR AND GODEN IS NOT DISTINCT FROM :OLD_GODEN"
                                           " AND COALESCE(ZAKAZ, 0) = COALESCE(CAST(:OLD_ZAKAZ AS INTEGER), 0) ROWS 1"),
                            BuildInsertSQL(TableDef(TdPrice)));
    m_priceOld = CreateTable(QStringLiteral("PRICEOLD"));
    m_ordersLines = CreateTable(QStringLiteral("ORDERSL"));
    m_ordersLines->SetInsertSQL(BuildInsertSQL(TableDef(TdOrdersL)));
    m_naklad = CreateDataSet(QStringLiteral("SELECT * FROM NAKLAD ORDER BY ID"),
                             QStringLiteral("UPDATE NAKLAD SET ISREAD = :ISREAD WHERE ID = :OLD_ID"),
                             BuildInsertSQL(TableDef(TdNaklad)));
    m_nakladLines = CreateDataSet(QStringLiteral("SELECT * FROM NAKLADL WHERE ID = :ID ORDER BY LINENO"),
                                  QStringLiteral("UPDATE NAKLADL SET PRICE_APT = :PRICE_APT WHERE IDTOVAR = :OLD_IDTOVAR AND LINENO = :OLD_LINENO"),
                                  BuildInsertSQL(TableDef(TdNakladL)));
    m_defect = CreateTable(QStringLiteral("DEFECT"));
    m_defect->SetInsertSQL(BuildInsertSQL(TableDef(TdDefect)));
    m_defectLines = CreateTable(QStringLiteral("DEFECTL"));
    m_defectLines->SetInsertSQL(BuildInsertSQL(TableDef(TdDefectL)));
    m_defectOrderLines = CreateTable(QStringLiteral("ORDERSL"));
    m_priceDet = CreateTable(QStringLiteral("PRICE_DET"));
    m_priceDet->SetInsertSQL(BuildInsertSQL(TableDef(TdPriceDet)));
    m_plainQuery = std::make_unique<Dataset>(*m_tr);
    m_archivePrices = std::make_unique<Dataset>(*m_tr);
    bindDetails();
}

void TDM::bindDetails()
{
    m_ordersLines->SetMaster(m_orders.get(), QStringLiteral("ID"), QStringLiteral("IDNAKL"));
    m_nakladLines->SetMaster(m_naklad.get(), QStringLiteral("ID"));
    m_defectLines->SetMaster(m_defect.get(), QStringLiteral("ID"), QStringLiteral("IDDEFECT"));
    m_defectOrderLines->SetMaster(m_defect.get(), QStringLiteral("NUMBR"), QStringLiteral("IDNAKL"));
}

// ---- connection and transaction -------------------------------------------

bool TDM::Connected() const
{
    return m_db && m_db->isAttached();
}

void TDM::SetConnected(bool on)
{
    if (!m_db)
        return;
    if (on) {
        if (m_db->isAttached())
            return;
        try {
            if (IsServer()) {
                try {
                    m_db->attach(DatabaseFile());
                } catch (const fb::DbError &e) {
                    // A new pharmacy database is made on the server, as the
                    // embedded one is made in Data/ on a first start.
                    if (!e.isFileMissing())
                        throw;
                    m_log.logMessage(QStringLiteral("На сервере нет файла базы данных %1: создаётся новая база")
                                         .arg(Location.Path.trimmed()),
                                     Warning, true);
                    CreateEmptyDatabase(DatabaseFile(), Location.User.trimmed(), Location.Password);
                    m_db->attach(DatabaseFile());
                }
                m_wantConnected = true;
                return;
            }
            if (!QFileInfo::exists(DatabaseFile()))
                CreateEmptyDatabase(DatabaseFile());
            m_db->attach(DatabaseFile());
            m_wantConnected = true;
        } catch (const fb::DbError &e) {
            if (e.isOpenedByOtherProcess())
                throw AppError(QStringLiteral("База данных %1 уже открыта другой копией программы. "
                                              "Закройте её и запустите программу снова.")
                                   .arg(QDir::toNativeSeparators(DatabaseFile())));
            throw;
        }
        return;
    }
    m_wantConnected = false;
    m_pinned = false;
    if (m_reattacher)
        m_reattacher->stop();
    for (auto *ds : {&m_sharedQuery, &m_orders, &m_price, &m_priceOld, &m_ordersLines, &m_naklad, &m_nakladLines,
                     &m_defect, &m_defectLines, &m_defectOrderLines, &m_priceDet, &m_plainQuery, &m_archivePrices})
        if (*ds)
            (*ds)->Close();
    if (m_sharedStatement)
        m_sharedStatement = std::make_unique<fb::Statement>(*m_tr);
    if (m_serverAway || !m_db->isAttached()) {
        m_serverAway = false;
        m_db->abandon();
        return;
    }
    m_db->detach();
}

// The transaction is ended, not kept open by a retaining commit, and the
// next one starts only when a statement needs it: a transaction that never
// ends keeps every row version a price reload deletes from being collected,
// on this workstation and on every other one of a shared server. Nothing
// needs the old transaction afterwards: the datasets hold their rows (and a
// pending edit) in memory, and prepared statements outlive it.
void TDM::Commit()
{
    if (!IsFirebird() || !m_tr || !m_tr->isActive()) {
        m_pinned = false;
        return;
    }
    m_pinned = false;
    m_tr->commit();
}

void TDM::Rollback()
{
    m_pinned = false;
    if (!IsFirebird() || !m_tr || !m_tr->isActive())
        return;
    m_tr->rollback();
}

void TDM::StartTransaction(bool restart)
{
    if (!IsFirebird() || !m_tr)
        return;
    if (restart && m_tr->isActive())
        m_tr->rollback();
    // A transaction only read in so far is ended and started afresh:
    // what follows must be kept or lost as a whole, and writes need a
    // read-write transaction.
    if (m_tr->isActive() && !m_pinned && !m_tr->hasWrites() && m_tr->openCursors() == 0)
        m_tr->commit();
    if (!m_tr->isActive())
        m_tr->start();
    m_pinned = true;
}

bool TDM::EndIdleTransaction()
{
    if (!m_tr || !m_tr->isActive() || m_pinned || m_tr->hasWrites() || m_tr->openCursors() > 0)
        return false;
    try {
        m_tr->commit();
    } catch (const std::exception &) {
        // Nothing was changed in it: whatever the engine says, it is over.
        try {
            m_tr->rollback();
        } catch (const std::exception &) {
        }
    }
    return true;
}

// ---- statements -------------------------------------------------------------

bool TDM::ExecSQL(const QString &sql, bool commit)
{
    if (!IsFirebird() || !m_tr)
        return false;
    fb::Statement st(*m_tr);
    st.prepare(sql);
    st.execute();
    if (commit)
        Commit();
    return true;
}

Dataset *TDM::OpenQuery(const QString &sql, bool ownQuery)
{
    if (!IsFirebird() || !m_tr)
        return nullptr;
    Dataset *q = nullptr;
    std::unique_ptr<Dataset> own;
    if (ownQuery) {
        own = std::make_unique<Dataset>(*m_tr);
        q = own.get();
    } else {
        q = m_sharedQuery.get();
        q->Close();
    }
    q->SetSelectSQL(sql);
    q->Open();
    q->First();
    return ownQuery ? own.release() : q;
}

fb::Statement *TDM::PrepareQuery(const QString &sql, bool ownQuery)
{
    if (!IsFirebird() || !m_tr)
        return nullptr;
    if (ownQuery) {
        auto st = std::make_unique<fb::Statement>(*m_tr);
        st->prepare(sql);
        return st.release();
    }
    m_sharedStatement->prepare(sql);
    return m_sharedStatement.get();
}

void TDM::SetParamByIndex(fb::Statement *query, int index, const QVariant &value)
{
    if (query)
        query->setValue(index, value);
}

void TDM::SetParamByName(fb::Statement *query, const QString &name, const QVariant &value)
{
    if (query)
        query->setValue(name, value);
}

bool TDM::ExecQuery(fb::Statement *query, bool commit)
{
    if (!IsFirebird() || !query)
        return false;
    query->execute();
    if (commit)
        Commit();
    return true;
}

std::unique_ptr<Dataset> TDM::CreateDataSet(const QString &select, const QString &modify, const QString &insert,
                                            const QString &, const QString &)
{
    if (!m_tr)
        return nullptr;
    auto ds = std::make_unique<Dataset>(*m_tr);
    ds->SetSelectSQL(select);
    ds->SetModifySQL(modify);
    ds->SetInsertSQL(insert);
    return ds;
}

std::unique_ptr<fb::Statement> TDM::CreateQuery(const QString &sql)
{
    if (!m_tr)
        return nullptr;
    auto st = std::make_unique<fb::Statement>(*m_tr);
    if (!sql.isEmpty())
        st->prepare(sql);
    return st;
}

std::unique_ptr<Dataset> TDM::CreateTable(const QString &tableName)
{
    if (!m_tr)
        return nullptr;
    auto ds = std::make_unique<Dataset>(*m_tr);
    ds->SetTableName(tableName.toUpper());
    return ds;
}

// ---- opening ---------------------------------------------------------------

void TDM::OpenDatabase()
{
    try {
        SetConnected(true);
    } catch (const std::exception &e) {
        LogError(errorText(e));
        m_dialogs.showNotice(QStringLiteral("Ошибка при подключении к БД. См. сообщения в нижнем окне"), true);
        throw;
    }

    WidenTextColumns();

    try {
        if (!PriceHasData())
            m_dialogs.showNotice(QStringLiteral("Не удалось открыть прайс. Попробуйте скачать новый"), true);
        else
            OpenPrice(true);
    } catch (const std::exception &e) {
        LogError(errorText(e) + QStringLiteral(" (открытие прайса при инициализации)"));
    }

    OpenOrCreateTable(*m_price, QStringLiteral("Price"), TableDef(TdPrice), true, true);
    OpenOrCreateTable(*m_priceOld, QStringLiteral("PriceOld"), TableDef(TdPrice), true, false);
    OpenOrCreateTable(*m_priceDet, QStringLiteral("Price_det"), TableDef(TdPriceDet), true, true);
    OpenOrCreateTable(*m_orders, QStringLiteral("Orders"), TableDef(TdOrders), true, true);
    m_orders->Last();
    OpenOrCreateTable(*m_ordersLines, QStringLiteral("OrdersL"), TableDef(TdOrdersL), true, true);
    OpenOrCreateTable(*m_defectOrderLines, QStringLiteral("OrdersL"), TableDef(TdOrdersL), true, true);
    OpenOrCreateTable(*m_defect, QStringLiteral("Defect"), TableDef(TdDefect), true, true);
    m_defect->Last();
    OpenOrCreateTable(*m_defectLines, QStringLiteral("DefectL"), TableDef(TdDefectL), true, true);
    OpenOrCreateTable(*m_naklad, QStringLiteral("Naklad"), TableDef(TdNaklad), true, true);
    m_naklad->Last();
    OpenOrCreateTable(*m_nakladLines, QStringLiteral("NakladL"), TableDef(TdNakladL), true, true);
    OpenOrCreateTable(*m_naklad, QStringLiteral("Naklad"), TableDef(TdNaklad), true, true);
    EnsureSharedObjects();
}

namespace {

// Columns added to a table after databases with that table were in use.
struct LaterColumn {
    const char *table;
    const char *column;
};
constexpr LaterColumn kLaterColumns[] = {{"ORDERS", "SENDFILE"}, {"ORDERS", "SENDSIZE"}, {"ORDERS", "SENDHASH"}};

// The columns the table has now, in upper case, as committed.
QStringList presentColumns(TDM &dm, const QString &name)
{
    QStringList present;
    std::unique_ptr<fb::Statement> q = dm.CreateQuery(
        QStringLiteral("SELECT TRIM(RDB$FIELD_NAME) FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = :NAME"));
    q->setValue(QStringLiteral("NAME"), name.toUpper());
    q->execute();
    while (q->fetch())
        present << q->asText(0).trimmed().toUpper();
    return present;
}

// A database made by an earlier version lacks the columns added since: they
// are added empty, so that the table opens with every column the program
// reads. Two workstations opening such a database at once both try: the one
// that comes second finds the columns there (committed by the other) and is
// done; a failure is looked at again after a pause, and only a column still
// missing then is logged, leaving the table as it was (its opening then says
// what is wrong).
void addLaterColumns(TDM &dm, MessageLog &log, const QString &name, const TTableDefs &def)
{
    QStringList wanted;
    for (const LaterColumn &c : kLaterColumns)
        if (name.compare(QLatin1String(c.table), Qt::CaseInsensitive) == 0)
            wanted << QLatin1String(c.column);
    if (wanted.isEmpty())
        return;
    constexpr int kAttempts = 4;
    for (int attempt = 1;; ++attempt) {
        try {
            const QStringList present = presentColumns(dm, name);
            bool added = false;
            for (const FieldDefEntry &e : def.Entries()) {
                if (e.Calculated || !wanted.contains(e.Name, Qt::CaseInsensitive) || present.contains(e.Name.toUpper()))
                    continue;
                dm.ExecSQL(QStringLiteral("ALTER TABLE ") + name + QStringLiteral(" ADD ") + e.Name + QLatin1Char(' ')
                               + SqlTypeOf(e, dm.DriverKind),
                           false);
                added = true;
            }
            if (added)
                dm.Commit();
            return;
        } catch (const std::exception &e) {
            try {
                dm.Rollback();
            } catch (const std::exception &) {
            }
            if (attempt < kAttempts) {
                // Most likely another workstation adding the same columns:
                // its commit is awaited, then they are looked for again.
                QThread::msleep(100 * attempt);
                continue;
            }
            log.logMessage(QStringLiteral("Не удалось добавить новые столбцы в таблицу ") + name + QStringLiteral(": ")
                               + errorText(e),
                           Error, true);
            return;
        }
    }
}

} // namespace

void TDM::OpenOrCreateTable(Dataset &dataset, const QString &name, const TTableDefs &def, bool createOnFailure,
                            bool addFields)
{
    const bool existed = TableExists(name);
    if (existed && IsFirebird())
        addLaterColumns(*this, m_log, name, def);
    if (addFields && !IsDBF() && existed && !dataset.Active())
        for (const FieldDefEntry &e : def.Entries())
            AddFieldFromDef(dataset, e);
    try {
        dataset.Open();
        return;
    } catch (const std::exception &) {
        if (!createOnFailure)
            throw;
        dataset.Close();
    }
    if (TableExists(name)) {
        const QString question = QStringLiteral("Ошибка при открытии таблицы ") + name
                               + QStringLiteral(". Попробуйте перезапустить программу или компьютер") + QStringLiteral("\n\r")
                               + QStringLiteral("Если перезапуск не помогает , то нужно удалить таблицы. Удалить?");
        if (m_dialogs.askQuestion(question, true, false) == mrYes)
            DropTable(name);
    }
    ExecSQL(CreateTableSQL(def, name, DriverKind), false);
    if (IsFirebird())
        for (const QString &index : CreateIndexSQL(def, name, DriverKind))
            ExecSQL(index, false);
    Commit();
    if (addFields && !IsDBF() && !existed)
        for (const FieldDefEntry &e : def.Entries())
            AddFieldFromDef(dataset, e);
    dataset.Open();
}

void TDM::AddFieldTyped(Dataset &dataset, const QString &name, int size, bool calculated, FieldKind kind)
{
    if (dataset.FindField(name))
        return;
    try {
        dataset.AddField(name, fieldTypeOf(kind), size, calculated,
                         kind == FieldKind::Float ? QStringLiteral("#.##") : QString());
    } catch (const fb::DbError &e) {
        if (dataset.FindField(name) && !dataset.Active())
            dataset.RemoveField(name);
        LogError(e.text() + QStringLiteral(" (AddFieldTyped 1) "));
        throw;
    } catch (const std::exception &e) {
        LogError(errorText(e) + QStringLiteral(" (AddFieldTyped 2)"));
    }
}

void TDM::AddFieldFromDef(Dataset &dataset, const FieldDefEntry &entry)
{
    int size = 0;
    if (entry.FieldClass == FieldKind::String)
        size = entry.Size;
    else if (entry.FieldClass == FieldKind::BCD)
        size = entry.Precision;
    AddFieldTyped(dataset, entry.Name, size, entry.Calculated, entry.FieldClass);
}

void TDM::AddNumberField(Dataset &dataset, const QString &name)
{
    AddFieldTyped(dataset, name, 0, false, FieldKind::Integer);
}

bool TDM::TableExists(const QString &name)
{
    if (IsDBF())
        return QFileInfo::exists(m_context.path(QStringLiteral("Data/") + name + QStringLiteral(".dbf")));
    if (!IsFirebird() || !Connected())
        return false;
    // Table names come from the program itself, never from outside data.
    Dataset *q = OpenQuery(QStringLiteral("SELECT FIRST 1 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = '")
                           + name.toUpper() + QStringLiteral("'"));
    const bool exists = q && !q->IsEmpty();
    if (q)
        q->Close();
    return exists;
}

void TDM::DropTable(const QString &name)
{
    if (IsDBF()) {
        QFile::remove(m_context.path(QStringLiteral("Data/") + name + QStringLiteral(".dbf")));
        return;
    }
    ExecSQL(QStringLiteral("DROP TABLE ") + name.toUpper(), false);
}

bool TDM::PriceHasData()
{
    if (!TableExists(QStringLiteral("price")))
        return false;
    if (IsDBF() && FileSizeText(m_context.path(QStringLiteral("Data/price.dbf"))) == QStringLiteral("0"))
        return false;
    // Whether there is a row at all: the first one answers, however long the list.
    Dataset *q = OpenQuery(QStringLiteral("SELECT FIRST 1 1 FROM Price"));
    const bool has = q && !q->IsEmpty();
    if (q)
        q->Close();
    return has;
}

void TDM::OpenPrice(bool on)
{
    if (!m_price)
        return;
    if (on && CreatePriceFields)
        CreatePriceFields(*m_price);
    m_nameIndex.Clear();
    if (!on || !IsFirebird()) {
        m_price->SetActive(on);
        return;
    }
    if (!m_price->Active()) {
        // Read before the rows: a load committed in between makes the
        // version look older than the rows, and the list is read once more.
        try {
            m_shownPriceVersion = PriceListVersion();
        } catch (const std::exception &) {
            m_shownPriceVersion = -1;
        }
    }
    // Outside a running transaction the list is read in a snapshot of its own
    // and is whole by construction.
    const bool inTransaction = m_tr && m_tr->isActive();
    m_price->SetActive(true);
    if (inTransaction)
        readWholePrice([this] {
            m_price->Close();
            m_price->Open();
        });
    if (!m_price->Active())
        return;
    m_nameIndex.Build(*m_price, m_price->FieldByName(QStringLiteral("TOVAR")));
    m_price->DisableControls();
    m_price->First();
    m_price->EnableControls();
}

void TDM::SetAllActive(bool on)
{
    OpenPrice(on);
    for (Dataset *ds : {m_orders.get(), m_ordersLines.get(), m_defect.get(), m_defectLines.get(), m_naklad.get(),
                        m_nakladLines.get()})
        if (ds)
            ds->SetActive(on);
}

namespace {
const QString kPriceVersionKey = QStringLiteral("PRICEVERSION");
}

qint64 TDM::PriceListVersion()
{
    return SharedValue(kPriceVersionKey, QStringLiteral("0")).toLongLong();
}

void TDM::AdvancePriceListVersion()
{
    if (!IsFirebird() || !Connected())
        return;
    SetSharedValue(kPriceVersionKey, QString::number(PriceListVersion() + 1));
}

void TDM::ReloadPrice()
{
    if (!m_price)
        return;
    if (m_price->Active())
        m_price->Close();
    OpenPrice(true);
}

void TDM::RefreshPrice()
{
    if (!m_price || !m_price->Active())
        return;
    const bool inTransaction = m_tr && m_tr->isActive();
    m_price->Refresh();
    if (inTransaction)
        readWholePrice([this] { m_price->Refresh(); });
}

// The whole list is read along the TOVAR index. Read inside a running
// read-committed transaction, right after a change of many rows (a new list,
// a cleared order) the engine collects the old row versions during that walk,
// and on a long list the walk has been seen to come back a few rows short. The stored rows are counted and the list read again, so the
// grid never silently lacks goods. A list read with a filter is not checked;
// again reads the list once more.
void TDM::readWholePrice(const std::function<void()> &again)
{
    constexpr int kAttempts = 3;
    for (int attempt = 1; attempt < kAttempts && m_price->Active(); ++attempt) {
        if (m_price->SelectSQL().simplified().compare(QStringLiteral("SELECT * FROM PRICE ORDER BY TOVAR"),
                                                      Qt::CaseInsensitive)
            != 0)
            return;
        std::unique_ptr<Dataset> q(OpenQuery(QStringLiteral("SELECT COUNT(*) FROM PRICE"), true));
        const qint64 stored = q && !q->IsEmpty() ? q->Fields(0).AsLargeInt() : -1;
        if (stored < 0 || stored == m_price->PhysicalRowCount())
            return;
        m_log.logDetail(QStringLiteral("Прайс прочитан не полностью (%1 из %2 строк), читается ещё раз")
                            .arg(m_price->PhysicalRowCount())
                            .arg(stored));
        again();
    }
}

// ---- upkeep -------------------------------------------------------------------

void TDM::ResetDatabase()
{
    if (m_dialogs.askQuestion(QStringLiteral("В результате этого действия все данные будут потеряны. Продолжить?"), true,
                              false)
        != mrYes)
        return;
    if (IsServer()) {
        clearServedDatabase();
        m_dialogs.showNotice(QStringLiteral("Программа будет перезапущена"), true);
        if (RestartProgram)
            RestartProgram();
        return;
    }
    SetConnected(false);
    if (!replaceFile(DatabaseFile(), PreviousFile()))
        m_log.logMessage(QStringLiteral("Не удалось сохранить копию базы данных в %1").arg(QDir::toNativeSeparators(PreviousFile())),
                         Warning, true);
    // Without the template the database is made empty in place, so the
    // pharmacist never restarts into the old data believing it cleared.
    if (!replaceFile(TemplateFile(), DatabaseFile())) {
        QFile::remove(DatabaseFile());
        CreateEmptyDatabase(DatabaseFile());
    }
    SetConnected(true);
    m_dialogs.showNotice(QStringLiteral("Программа будет перезапущена"), true);
    if (RestartProgram)
        RestartProgram();
}

void TDM::GetNewDatabaseFile()
{
    if (IsServer()) {
        // The file on the server is shared by every workstation and is not
        // this program's to set aside.
        m_dialogs.showNotice(QStringLiteral("База данных находится на сервере аптеки и общая для всех рабочих мест: "
                                            "новый файл базы здесь не получить. Очистить её можно кнопкой «Очистка БД»."),
                             true);
        return;
    }
    SetConnected(false);
    QFile::remove(PreviousFile());
    if (!QFile::rename(DatabaseFile(), PreviousFile())) {
        replaceFile(DatabaseFile(), PreviousFile());
        QFile::remove(DatabaseFile());
    }
    if (RestartProgram)
        RestartProgram();
}

// New numbers for the imported keys (of the header file and of its lines)
// that the database already uses in the header or line table: each gets the
// next number above everything in use or imported, in ascending order.
QHash<qint64, qint64> TDM::renumberedKeys(const QString &header, const QString &headerKey, const QString &lines,
                                          const QString &linesKey)
{
    const QString folder = m_context.path(QStringLiteral("Data/"));
    QSet<qint64> imported = dbfKeys(findDataFile(folder, header + QStringLiteral(".dbf")), headerKey.toLatin1().constData());
    imported.unite(dbfKeys(findDataFile(folder, lines + QStringLiteral(".dbf")), linesKey.toLatin1().constData()));
    QSet<qint64> used;
    for (const auto &[table, column] : {std::pair{header, headerKey}, std::pair{lines, linesKey}}) {
        std::unique_ptr<fb::Statement> q =
            CreateQuery(QStringLiteral("SELECT DISTINCT %1 FROM %2 WHERE %1 IS NOT NULL").arg(column, table));
        if (!q)
            continue;
        q->execute();
        while (q->fetch())
            used.insert(q->asInt64(0));
    }
    qint64 next = 0;
    for (qint64 key : used)
        next = std::max(next, key);
    for (qint64 key : imported)
        next = std::max(next, key);
    QList<qint64> taken;
    for (qint64 key : imported)
        if (used.contains(key))
            taken.append(key);
    std::sort(taken.begin(), taken.end());
    QHash<qint64, qint64> renumbered;
    for (qint64 key : taken)
        renumbered.insert(key, ++next);
    return renumbered;
}

bool TDM::ImportOldDbfData()
{
    // A second run would add the same orders once more: the person decides.
    std::unique_ptr<Dataset> archived(OpenQuery(QStringLiteral("SELECT FIRST 1 1 FROM ORDERS"), true));
    if (archived && !archived->IsEmpty()) {
        archived.reset();
        if (m_dialogs.askQuestion(QStringLiteral("В архиве уже есть заявки. Заявки из базы данных DBF будут добавлены к ним, "
                                                 "заявки с занятыми номерами получат новые номера. Продолжить импорт?"),
                                  false, false)
            != mrYes)
            return true;
    }
    m_dialogs.showWait(QStringLiteral("Импорт данных из старого формата..."), 1);
    bool committed = false;
    try {
        StartTransaction(false);
        const KeyRenumbering orders{QStringLiteral("ID"), renumberedKeys(QStringLiteral("ORDERS"), QStringLiteral("ID"),
                                                                         QStringLiteral("ORDERSL"), QStringLiteral("IDNAKL"))};
        const KeyRenumbering orderLines{QStringLiteral("IDNAKL"), orders.newKeys};
        const KeyRenumbering invoices{QStringLiteral("ID"), renumberedKeys(QStringLiteral("NAKLAD"), QStringLiteral("ID"),
                                                                           QStringLiteral("NAKLADL"), QStringLiteral("ID"))};
        CopyDbfTable(*m_orders, TableDef(TdOrders), &orders);
        CopyDbfTable(*m_ordersLines, TableDef(TdOrdersL), &orderLines);
        CopyDbfTable(*m_naklad, TableDef(TdNaklad), &invoices);
        CopyDbfTable(*m_nakladLines, TableDef(TdNakladL), &invoices);
        Commit();
        committed = true;
        SyncKeyGenerator(QStringLiteral("ORDERS"));
        SyncKeyGenerator(QStringLiteral("NAKLAD"));
        for (auto it = orders.newKeys.cbegin(); it != orders.newKeys.cend(); ++it)
            m_log.logMessage(QStringLiteral("Заявка № %1 из базы DBF импортирована под № %2: номер %1 уже занят")
                                 .arg(it.key())
                                 .arg(it.value()),
                             Warning, true);
        m_dialogs.hideWait();
        m_dialogs.showNotice(QStringLiteral("Импорт завершен"), true);
    } catch (const std::exception &e) {
        m_dialogs.hideWait();
        Rollback();
        LogError(errorText(e));
        m_dialogs.showNotice(QStringLiteral("Ошибка при импорте (см. в нижнем окне)"), true);
    }
    // The grids show what the database holds: the imported rows in their
    // order, or none of them after a rollback.
    for (Dataset *ds : {m_orders.get(), m_ordersLines.get(), m_naklad.get(), m_nakladLines.get()}) {
        if (ds && ds->Active()) {
            try {
                ds->Close();
                ds->Open();
            } catch (const std::exception &e) {
                LogError(errorText(e));
            }
        }
    }
    if (m_orders && m_orders->Active())
        m_orders->Last();
    return committed;
}

void TDM::CopyDbfTable(Dataset &dataset, const TTableDefs &def, const KeyRenumbering *renumbering)
{
    auto renumbered = [renumbering](qint64 key) { return renumbering ? renumbering->newKeys.value(key, key) : key; };
    DbfReader reader;
    reader.setDBFFileName(findDataFile(m_context.path(QStringLiteral("Data/")), def.Name() + QStringLiteral(".dbf")));
    reader.Open();
    reader.setOEM(true);
    if (!dataset.Active())
        dataset.Open();
    // The line number of the old file is not taken over; the lines are
    // numbered anew within their invoice, because an invoice line is found by
    // its number when the pharmacy's price is set on it.
    const bool numberLines = def.IndexOf(QStringLiteral("LINENO")) >= 0 && def.IndexOf(QStringLiteral("ID")) >= 0
                           && reader.FindField("ID");
    QHash<qint64, int> lastLine;
    for (reader.First(); !reader.Eof(); reader.Next()) {
        dataset.Append();
        if (numberLines) {
            const qint64 id = renumbered(reader.FieldByName("ID").AsInteger());
            auto it = lastLine.find(id);
            if (it == lastLine.end()) {
                std::unique_ptr<fb::Statement> q = CreateQuery(QStringLiteral("SELECT MAX(LINENO) FROM NAKLADL WHERE ID = :ID"));
                q->setValue(QStringLiteral("ID"), id);
                q->execute();
                it = lastLine.insert(id, q->fetch() ? int(q->asInt64(0)) : 0);
            }
            dataset.FieldByName(QStringLiteral("LINENO")).SetAsInteger(++*it);
        }
        for (const FieldDefEntry &e : def.Entries()) {
            if (e.Calculated || e.Name.compare(QStringLiteral("LINENO"), Qt::CaseInsensitive) == 0)
                continue;
            DbfField *source = reader.FindField(e.Name);
            if (!source) {
                if (e.Name == SumFieldName())
                    source = reader.FindField("SUM");
                else if (e.Name == QntFieldName())
                    source = reader.FindField("COUNT");
                else if (e.Name == ReadFieldName())
                    source = reader.FindField("READ");
            }
            if (!source)
                continue;
            Field *target = dataset.FindField(e.Name);
            if (!target)
                continue;
            // DBF text columns are blank-padded; the padding would make goods
            // codes differ from the same codes in the price list.
            if (renumbering && !source->IsNull() && e.Name.compare(renumbering->column, Qt::CaseInsensitive) == 0) {
                target->SetValue(renumbered(source->AsInteger()));
            } else if (e.FieldClass == FieldKind::String) {
                QString text = source->AsString();
                while (text.endsWith(QLatin1Char(' ')))
                    text.chop(1);
                target->SetAsString(text);
            } else {
                target->SetValue(source->AsVariant());
            }
        }
        dataset.Post();
    }
}

QString TDM::FileSizeText(const QString &fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("0");
    return QString::number(f.size());
}

// ---- several workstations -----------------------------------------------------

namespace {
// The tables whose rows carry a number from a generator, and the tables where
// that number is in use too.
struct KeyedTable {
    const char *table;
    const char *generator;
    const char *index;
    std::initializer_list<std::pair<const char *, const char *>> uses; // table, column
};
const KeyedTable kKeyedTables[] = {
    {"ORDERS", "GEN_ORDERS_ID", "ORDERS_ID_UNQ", {{"ORDERS", "ID"}, {"ORDERSL", "IDNAKL"}}},
    {"NAKLAD", "GEN_NAKLAD_ID", "NAKLAD_ID_UNQ", {{"NAKLAD", "ID"}, {"NAKLADL", "ID"}}},
    {"DEFECT", "GEN_DEFECT_ID", "DEFECT_ID_UNQ", {{"DEFECT", "ID"}, {"DEFECTL", "IDDEFECT"}}},
};
const KeyedTable *keyedTable(const QString &table)
{
    for (const KeyedTable &k : kKeyedTables)
        if (table.compare(QLatin1String(k.table), Qt::CaseInsensitive) == 0)
            return &k;
    return nullptr;
}
} // namespace

void TDM::EnsureSharedObjects()
{
    if (!IsFirebird() || !Connected())
        return;
    auto exists = [this](const QString &sql, const QString &name) {
        std::unique_ptr<fb::Statement> q = CreateQuery(sql);
        q->setValue(0, name);
        q->execute();
        const bool found = q->fetch();
        q->closeCursor();
        return found;
    };
    // Another workstation may be making the same object at the same moment,
    // and an old archive may hold a number twice: the database works on
    // without it, so the refusal goes to the details.
    auto ddl = [this](const QString &sql) {
        try {
            ExecSQL(sql, true);
        } catch (const std::exception &e) {
            Rollback();
            m_log.logDetail(errorText(e) + QStringLiteral(" (") + sql + QStringLiteral(")"));
        }
    };
    if (!TableExists(QStringLiteral("WORKSTATE")))
        ddl(QStringLiteral("CREATE TABLE WORKSTATE (NAME VARCHAR(31) NOT NULL PRIMARY KEY, VAL VARCHAR(250))"));
    // Packs received against each invoice line (the invoices page's «Приёмка»).
    if (!TableExists(QStringLiteral("RECEIVED")))
        ddl(QStringLiteral("CREATE TABLE RECEIVED (ID INTEGER NOT NULL, LINENO INTEGER NOT NULL, "
                           "CODE VARCHAR(14) DEFAULT '' NOT NULL, QNT INTEGER DEFAULT 0 NOT NULL, "
                           "QNT_OTHER INTEGER DEFAULT 0 NOT NULL, PRIMARY KEY (ID, LINENO, CODE))"));
    for (const KeyedTable &k : kKeyedTables) {
        if (!exists(QStringLiteral("SELECT FIRST 1 1 FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = ?"), QLatin1String(k.generator))) {
            ddl(QStringLiteral("CREATE SEQUENCE ") + QLatin1String(k.generator));
            SyncKeyGenerator(QLatin1String(k.table));
        }
        if (!exists(QStringLiteral("SELECT FIRST 1 1 FROM RDB$INDICES WHERE RDB$INDEX_NAME = ?"), QLatin1String(k.index)))
            ddl(QStringLiteral("CREATE UNIQUE INDEX %1 ON %2 (ID)").arg(QLatin1String(k.index), QLatin1String(k.table)));
    }
}

// A database made by an earlier version may keep a text column narrower than
// its definition now says (the goods code of the order lines had 14
// characters): it is widened in place, which keeps every value. A column is
// never narrowed. When the engine refuses (another workstation holds the
// table), the database works on as it is and the refusal goes to the details.
void TDM::WidenTextColumns()
{
    if (!IsFirebird() || !Connected())
        return;
    std::vector<std::pair<QString, const TTableDefs *>> tables;
    for (int id = 0; id < TdCount; ++id)
        tables.emplace_back(TableDef(TableDefId(id)).Name(), &TableDef(TableDefId(id)));
    tables.emplace_back(QStringLiteral("PRICEOLD"), &TableDef(TdPrice));
    for (const auto &[table, def] : tables) {
        std::map<QString, int> lengths; // VARCHAR columns and their lengths in characters
        {
            std::unique_ptr<fb::Statement> q = CreateQuery(QStringLiteral(
                "SELECT TRIM(RF.RDB$FIELD_NAME), F.RDB$CHARACTER_LENGTH FROM RDB$RELATION_FIELDS RF "
                "JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                "WHERE RF.RDB$RELATION_NAME = ? AND F.RDB$FIELD_TYPE = 37"));
            q->setValue(0, table.toUpper());
            q->execute();
            while (q->fetch())
                if (!q->isNull(1))
                    lengths[q->asText(0).trimmed().toUpper()] = int(q->asInt64(1));
            q->closeCursor();
        }
        for (const FieldDefEntry &e : def->Entries()) {
            const auto it = lengths.find(e.Name.toUpper());
            if (e.Calculated || e.FieldClass != FieldKind::String || it == lengths.end() || it->second >= e.Size)
                continue;
            const QString sql = QStringLiteral("ALTER TABLE %1 ALTER COLUMN %2 TYPE VARCHAR(%3)").arg(table.toUpper(), e.Name).arg(e.Size);
            try {
                ExecSQL(sql, true);
                m_log.logDetail(QStringLiteral("Столбец %1.%2 расширен с %3 до %4 символов")
                                    .arg(table.toUpper(), e.Name).arg(it->second).arg(e.Size));
            } catch (const std::exception &ex) {
                Rollback();
                m_log.logDetail(errorText(ex) + QStringLiteral(" (") + sql + QStringLiteral(")"));
            }
        }
    }
}

void TDM::SyncKeyGenerator(const QString &table)
{
    const KeyedTable *k = keyedTable(table);
    if (!k || !IsFirebird() || !Connected())
        return;
    qint64 top = 0;
    for (const auto &[t, column] : k->uses) {
        std::unique_ptr<fb::Statement> q =
            CreateQuery(QStringLiteral("SELECT MAX(%1) FROM %2").arg(QLatin1String(column), QLatin1String(t)));
        q->execute();
        if (q->fetch() && !q->isNull(0))
            top = std::max(top, q->asInt64(0));
        q->closeCursor();
    }
    AdvanceKeyGenerator(table, top);
}

qint64 TDM::KeyGeneratorValue(const QString &table)
{
    const KeyedTable *k = keyedTable(table);
    if (!k || !IsFirebird() || !Connected())
        return 0;
    try {
        std::unique_ptr<fb::Statement> q =
            CreateQuery(QStringLiteral("SELECT GEN_ID(%1, 0) FROM RDB$DATABASE").arg(QLatin1String(k->generator)));
        q->execute();
        const qint64 value = q->fetch() ? q->asInt64(0) : 0;
        q->closeCursor();
        return value;
    } catch (const fb::DbError &e) {
        // A database not yet given its generators: the numbers in use decide.
        m_log.logDetail(e.text());
        return 0;
    }
}

void TDM::AdvanceKeyGenerator(const QString &table, qint64 value)
{
    const KeyedTable *k = keyedTable(table);
    const qint64 current = KeyGeneratorValue(table);
    if (!k || current >= value)
        return;
    // GEN_ID is evaluated when the row is fetched: without the fetch the
    // generator stays where it was and the number could be given again.
    std::unique_ptr<fb::Statement> step = CreateQuery(
        QStringLiteral("SELECT GEN_ID(%1, %2) FROM RDB$DATABASE").arg(QLatin1String(k->generator)).arg(value - current));
    step->execute();
    const bool moved = step->fetch();
    step->closeCursor();
    if (!moved)
        throw AppError(QStringLiteral("Не удалось сдвинуть генератор номеров таблицы %1").arg(table));
}

qint64 TDM::NextKey(const QString &table)
{
    const KeyedTable *k = keyedTable(table);
    if (!k)
        throw AppError(QStringLiteral("Нет генератора номеров для таблицы %1").arg(table));
    std::unique_ptr<fb::Statement> q =
        CreateQuery(QStringLiteral("SELECT GEN_ID(%1, 1) FROM RDB$DATABASE").arg(QLatin1String(k->generator)));
    q->execute();
    const qint64 next = q->fetch() ? q->asInt64(0) : 0;
    q->closeCursor();
    return next;
}

QString TDM::SharedValue(const QString &name, const QString &def)
{
    if (!IsFirebird() || !Connected() || !TableExists(QStringLiteral("WORKSTATE")))
        return def;
    std::unique_ptr<fb::Statement> q = CreateQuery(QStringLiteral("SELECT VAL FROM WORKSTATE WHERE NAME = ?"));
    q->setValue(0, name);
    q->execute();
    const QString value = q->fetch() && !q->isNull(0) ? q->asText(0) : def;
    q->closeCursor();
    return value;
}

void TDM::SetSharedValue(const QString &name, const QString &value)
{
    std::unique_ptr<fb::Statement> q =
        CreateQuery(QStringLiteral("UPDATE OR INSERT INTO WORKSTATE (NAME, VAL) VALUES (?, ?) MATCHING (NAME)"));
    q->setValue(0, name);
    q->setValue(1, value);
    q->execute();
}

void TDM::BeginReserved(const QStringList &tables)
{
    if (!IsFirebird() || !m_tr || !Connected())
        return;
    if (m_tr->isActive())
        m_tr->commit();
    m_tr->startReserving(tables);
    m_pinned = true;
}

void TDM::PostEvent(const QString &name)
{
    // Only other workstations listen, and only a served database has any.
    if (!IsFirebird() || !Connected() || !IsServer())
        return;
    // Event names come from the program itself.
    ExecSQL(QStringLiteral("EXECUTE BLOCK AS BEGIN POST_EVENT '%1'; END").arg(name), false);
}

void TDM::closeAllQuietly()
{
    for (auto *ds : {&m_sharedQuery, &m_orders, &m_price, &m_priceOld, &m_ordersLines, &m_naklad, &m_nakladLines,
                     &m_defect, &m_defectLines, &m_defectOrderLines, &m_priceDet, &m_plainQuery, &m_archivePrices}) {
        try {
            if (*ds)
                (*ds)->Close();
        } catch (const std::exception &) {
        }
    }
    m_sharedStatement = std::make_unique<fb::Statement>(*m_tr);
}

// The attachment whose connection broke is not detached here (a server
// that stopped answering would hold this thread): it is left behind and a
// new one is sought in the background.
void TDM::leaveLostAttachment()
{
    if (!m_db || m_serverAway)
        return;
    m_serverAway = true;
    m_pinned = false;
    m_priceRowBeforeLoss = m_price && m_price->Active() && !m_price->IsEmpty() ? m_price->RecNo() : 0;
    closeAllQuietly();
    m_db->abandon();
    m_log.logMessage(QStringLiteral("Сервер базы данных не отвечает… Программа подключится к нему снова, "
                                    "как только он ответит."),
                     Warning, true);
    if (!m_reattacher)
        m_reattacher = std::make_unique<Reattacher>([this] {
            // Not in the middle of an operation: that one takes it itself.
            if (!m_pinned)
                adoptReattached();
        });
    Reattacher::Target target;
    target.name = DatabaseFile();
    target.user = Location.User.trimmed();
    target.password = Location.Password;
    target.pageBuffers = kPageBuffers;
    m_reattacher->start(target);
}

bool TDM::adoptReattached()
{
    if (!m_serverAway || !m_reattacher)
        return false;
    std::unique_ptr<fb::Database> fresh = m_reattacher->takeReady();
    if (!fresh)
        return false;
    const int row = m_priceRowBeforeLoss;
    m_db->adopt(*fresh);
    m_serverAway = false;
    m_log.logMessage(QStringLiteral("Соединение с сервером базы данных восстановлено"), Warning, true);
    try {
        SetAllActive(true);
        if (m_price && m_price->Active() && row > 0 && !m_price->IsEmpty())
            m_price->SetRecNo(std::min(row, m_price->RecordCount()));
    } catch (const std::exception &e) {
        LogError(errorText(e));
    }
    if (AfterReconnect)
        AfterReconnect();
    return true;
}

bool TDM::ReconnectIfLost()
{
    if (!m_db || !IsFirebird() || !m_wantConnected)
        return false;
    if (m_db->isLost() && !m_serverAway)
        leaveLostAttachment();
    return adoptReattached();
}

// Every row of every table of a served database goes in one transaction: the
// file belongs to the pharmacy's server and is neither copied nor replaced.
void TDM::clearServedDatabase()
{
    StartTransaction(false);
    try {
        for (const StoredTable &t : StoredTables())
            if (TableExists(t.name))
                ExecSQL(QStringLiteral("DELETE FROM ") + t.name.toUpper(), false);
        if (TableExists(QStringLiteral("WORKSTATE")))
            ExecSQL(QStringLiteral("DELETE FROM WORKSTATE"), false);
        PostEvent(QStringLiteral("PRICE_CHANGED"));
        PostEvent(QStringLiteral("ORDERS_CHANGED"));
        PostEvent(QStringLiteral("DOCUMENTS_CHANGED"));
        Commit();
    } catch (...) {
        Rollback();
        throw;
    }
}

void TDM::LogError(const QString &text)
{
    m_log.logMessage(text, Error, true);
}

} // namespace pc
