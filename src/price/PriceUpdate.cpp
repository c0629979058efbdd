#include "price/PriceUpdate.h"

#include "price/RowWriter.h"

#include "core/AppContext.h"
#include "core/Dialogs.h"
#include "core/LogText.h"
#include "core/MessageLog.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/DbfReader.h"
#include "db/JobLock.h"
#include "db/SharedJobState.h"
#include "db/TableDefs.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"
#include "exchange/ServerConnection.h"
#include "platform/AppError.h"
#include "platform/CodePage.h"
#include "platform/FileNames.h"
#include "platform/FixedFormats.h"
#include "platform/IniFile.h"
#include "platform/Process.h"
#include "platform/ZipEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QStorageInfo>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <csignal>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pc {

namespace {

const QString kPriceDateKey = QStringLiteral("PRICEDATE");
const QString kPriceError = QStringLiteral("Ошибка при получении прайса. Подробности в окне сообщений");
const QString kWorkFolderPrefix = QStringLiteral("unpack-");
const QString kEmptyPrice = QStringLiteral(
    "Файл прайса от поставщика пуст: в нём нет ни одной строки. Прайс-лист и заказ оставлены прежними. "
    "Обратитесь к поставщику");
const QString kDamagedPrice = QStringLiteral(
    "Файл прайса от поставщика повреждён (обрезан). Прайс-лист и заказ оставлены прежними. "
    "Подробности в окне сообщений");

const QString kUnusablePrice = QStringLiteral(
    "Файл прайса от поставщика повреждён: в нём не читаются наименования, цены, остатки или коды товаров. "
    "Прайс-лист и заказ оставлены прежними. Подробности в окне сообщений");

// A price file without a single record: loading it would empty the list.
class EmptyPriceFile : public AppError {
public:
    EmptyPriceFile() : AppError(kEmptyPrice) {}
};

// A price file whose goods codes, names, prices or stocks cannot be read in
// most of its rows: loading it would put a list nobody can order from in
// place of a good one (nothing is ordered beyond the stock).
class UnusablePriceFile : public AppError {
public:
    using AppError::AppError;
};

// The columns without which a row of the price list is of no use, and what
// the person calls them.
struct KeyColumn {
    const char *name;
    const char *meaning;
};
constexpr KeyColumn kKeyColumns[] = {
    {"IDTOVAR", "код товара"}, {"TOVAR", "наименование"}, {"PRICE", "цена"}, {"QNT", "остаток"}};

// Whether a cell read for a number column holds a number: a logical (a
// column of the wrong type) or letters do not.
bool readsAsNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    case QMetaType::QString: {
        bool ok = false;
        v.toString().trimmed().toDouble(&ok);
        return ok;
    }
    default:
        return false;
    }
}

// Whether the import expects a DBF column of this type for a column of this
// kind: texts from character or memo columns (and numbers used as codes),
// numbers from number columns, dates from date columns.
bool expectedType(FieldKind kind, const DbfField &f, DbfTableKind table)
{
    const char type = f.DataType();
    const bool number = std::strchr("NFI+OY", type) || (type == 'B' && table == DbfTableKind::VisualFoxPro);
    switch (kind) {
    case FieldKind::String: return type == 'C' || type == 'M' || type == 'V' || number;
    case FieldKind::Date: return type == 'D' || type == 'T' || type == '@';
    default: return number;
    }
}

template <class F>
void call(const std::function<F> &hook, auto &&...args)
{
    if (hook)
        hook(std::forward<decltype(args)>(args)...);
}

// Replaces target by source (a rename within one file system).
bool moveOver(const QString &source, const QString &target)
{
    QFile::remove(target);
    if (QFile::rename(source, target))
        return true;
    if (!QFile::copy(source, target))
        return false;
    QFile::remove(source);
    return true;
}

// Disconnects however the download step ends.
class DisconnectGuard {
public:
    explicit DisconnectGuard(ServerConnection &c) : m_c(c) {}
    ~DisconnectGuard() { m_c.DisconnectFromServer(); }
    DisconnectGuard(const DisconnectGuard &) = delete;
    DisconnectGuard &operator=(const DisconnectGuard &) = delete;

private:
    ServerConnection &m_c;
};


} // namespace

PriceUpdate::PriceUpdate(TDM &dm, ServerConnection &connection, Settings &settings, Dialogs &dialogs, MessageLog &log,
                         const AppContext &context)
    : m_dm(dm), m_connection(connection), m_settings(settings), m_dialogs(dialogs), m_log(log), m_context(context)
{
}

QString PriceUpdate::PriceFileName() const
{
    return m_settings.ClientCode + QStringLiteral(".dbf");
}

// The price date as the title shows it: the short date and the time with
// seconds; a time of midnight is left out.
QString PriceUpdate::dateTimeText(const QDateTime &when)
{
    if (when.time() == QTime(0, 0))
        return fixedDateText(when.date());
    return pc::dateTimeText(when);
}

QDateTime PriceUpdate::parseDateTime(const QString &text)
{
    const QString trimmed = text.trimmed();
    const qsizetype blank = trimmed.indexOf(QLatin1Char(' '));
    const QString datePart = blank < 0 ? trimmed : trimmed.left(blank);
    const QString timePart = blank < 0 ? QString() : trimmed.mid(blank + 1).trimmed();
    // Our own form first; then the forms an older copy wrote under the
    // desktop's locale.
    QDate date = QDate::fromString(datePart, QStringLiteral("dd.MM.yyyy"));
    for (const QLocale &loc : {QLocale(), QLocale::system(), QLocale::c()}) {
        if (date.isValid())
            break;
        const QString format = loc.dateFormat(QLocale::ShortFormat);
        date = loc.toDate(datePart, format);
        if (date.isValid()) {
            // A two-digit year means this century, not the last one.
            if (!format.contains(QStringLiteral("yyyy")) && date.year() < 1950)
                date = date.addYears(100);
            break;
        }
    }
    if (!date.isValid())
        date = QDate::fromString(datePart, Qt::ISODate);
    if (!date.isValid())
        throw AppError(QStringLiteral("\"%1\" не является правильной датой и временем").arg(text));
    QTime time(0, 0);
    if (!timePart.isEmpty()) {
        time = QTime::fromString(timePart, QStringLiteral("H:mm:ss"));
        if (!time.isValid())
            time = QTime::fromString(timePart, QStringLiteral("H:mm"));
        if (!time.isValid())
            throw AppError(QStringLiteral("\"%1\" не является правильной датой и временем").arg(text));
    }
    return QDateTime(date, time);
}

void PriceUpdate::checkCancelled() const
{
    if (m_cancel && m_cancel->load(std::memory_order_relaxed))
        throw ExchangeCancelled();
}

bool PriceUpdate::orderIsEmpty()
{
    if (OrderIsEmpty)
        return OrderIsEmpty();
    if (!m_dm.PriceHasData())
        return true;
    std::unique_ptr<Dataset> q(m_dm.OpenQuery(QStringLiteral("SELECT FIRST 1 1 FROM PRICE WHERE ZAKAZ > 0"), true));
    return !q || q->IsEmpty();
}

// A failed update is an expected outcome (no connection, no archive, a
// damaged file), not a fault of the program: it is logged as what it is.
void PriceUpdate::reportError(const QString &message)
{
    m_log.logMessage(message + QStringLiteral(" (получение прайса)"), Error, true);
    if (AppException)
        AppException(message);
}

QString PriceUpdate::findPriceFile(const QString &folder) const
{
    const QString exact = folder + PriceFileName();
    const QFileInfo fi(exact);
    if (fi.isFile() && !fi.isSymLink())
        return exact;
    // The supplier's tools may write the name in another letter case.
    for (const QFileInfo &f : QDir(folder).entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden))
        if (f.fileName().compare(PriceFileName(), Qt::CaseInsensitive) == 0)
            return f.filePath();
    return QString();
}

// ---- actuality ------------------------------------------------------------------

bool ReadStoredPriceDate(TDM &dm, Settings &settings, MessageLog &log)
{
    try {
        const QDateTime stored = QDateTime::fromString(dm.SharedValue(kPriceDateKey), Qt::ISODate);
        if (!stored.isValid())
            return false;
        settings.PriceDateTime = stored;
        settings.PriceDate = dateTimeText(stored);
        return true;
    } catch (const std::exception &e) {
        log.logDetail(errorText(e) + QStringLiteral(" (дата прайса)"));
        return false;
    }
}

bool PriceUpdate::ReadStoredPriceDate()
{
    return pc::ReadStoredPriceDate(m_dm, m_settings, m_log);
}

bool PriceUpdate::CheckPriceActuality(bool ask)
{
    try {
        if (!m_dm.PriceHasData())
            return false;
        const QDateTime d = parseDateTime(m_settings.PriceDate);
        call(SetTitleSuffix, QString());
        bool result = d.date() >= QDate::currentDate();
        if (!result && ask) {
            QString question = QStringLiteral("Прайс не актуален, обновить сейчас ?");
            if (!orderIsEmpty())
                question += QStringLiteral("(сумма текущего заказа может измениться)");
            if (m_dialogs.askQuestion(question, true, false) == mrYes)
                result = StartUpdate ? StartUpdate() : UpdatePrice();
            else
                call(SetTitleSuffix, QStringLiteral("(ТРЕБУЕТСЯ ОБНОВЛЕНИЕ!!!)"));
        }
        call(RefreshTitle);
        return result;
    } catch (const std::exception &e) {
        m_log.logMessage(errorText(e) + QStringLiteral(" (CheckPriceActuality) "), Error, true);
        return false;
    }
}

// ---- a price file left behind -----------------------------------------------

bool PriceUpdate::CheckUnloadedPriceFile()
{
    const QString file = findPriceFile(m_context.appDir());
    if (file.isEmpty())
        return false;
    m_lastLoadOk = false;
    if (m_dialogs.askQuestion(QStringLiteral("Обнаружен незагруженный файл прайса. Загрузить из него или получить новый с сервера?"),
                              true, false)
        == mrYes)
        loadPriceFile(file);
    else
        QFile::remove(file);
    if (ReopenDatasets && (!m_dm.PriceSet() || !m_dm.PriceSet()->Active()))
        if (m_dm.PriceHasData())
            m_dm.OpenPrice(true);
    return true;
}

bool PriceUpdate::LoadPriceFromFile()
{
    QString file = findPriceFile(m_context.appDir());
    if (file.isEmpty())
        file = m_context.appDir() + PriceFileName();
    return loadPriceFile(file);
}

// ---- the steps of the load -----------------------------------------------------

namespace {
QString storedColumns(const TTableDefs &def)
{
    QStringList names;
    for (const FieldDefEntry &e : def.Entries())
        if (!e.Calculated)
            names << e.Name;
    return names.join(QStringLiteral(", "));
}
} // namespace

void PriceUpdate::SavePriceToOld()
{
    // Columns named, so a PRICEOLD made with another column order still fits.
    const QString columns = storedColumns(m_dm.TableDef(TdPrice));
    m_dm.ExecSQL(QStringLiteral("DELETE FROM PRICEOLD"), false);
    m_dm.ExecSQL(QStringLiteral("INSERT INTO PRICEOLD (") + columns + QStringLiteral(") SELECT ") + columns
                     + QStringLiteral(" FROM PRICE WHERE ZAKAZ > 0"),
                 false);
}

namespace {

// A column of PRICE or PRICE_DET and where its values come from; a column the
// file lacks (source nullptr) stays empty.
struct CopiedColumn {
    DbfField *source;
    QString name;
    bool text;
    // A text column the file keeps as plain text: copied as bytes, without
    // a detour through QString (the load's hottest path).
    bool plainText = false;
};

// A record of the file as copied: each column's value, or for a plain text
// column its bytes as the database stores them (code page 1251, unpadded).
struct CopiedRow {
    std::vector<QVariant> values;
    std::vector<std::string> texts;
};

// The parameter of each column in a statement that names them all.
std::vector<int> paramsOf(const std::vector<CopiedColumn> &columns, const fb::Statement &st)
{
    std::vector<int> params;
    params.reserve(columns.size());
    for (const CopiedColumn &c : columns)
        params.push_back(st.paramIndex(c.name));
    return params;
}

void bindAll(fb::Statement &st, const std::vector<int> &params, const std::vector<CopiedColumn> &columns,
             const CopiedRow &row)
{
    for (size_t i = 0; i < params.size(); ++i) {
        if (columns[i].plainText) {
            const std::string &t = row.texts[i];
            st.setBytes(params[i], QByteArray::fromRawData(t.data(), qsizetype(t.size())));
        } else {
            st.setValue(params[i], row.values[i]);
        }
    }
}

// Every record of the file, one row each, given to write as the values of the
// columns. DBF texts are blank-padded; goods codes are compared unpadded.
// Cells that could not be read load empty and are counted.
int copyRecords(DbfReader &reader, std::vector<CopiedColumn> &columns, DbfUnreadableCells &unreadable,
                const std::function<void(const CopiedRow &)> &write)
{
    int rows = 0;
    CopiedRow row;
    row.values.resize(columns.size());
    row.texts.resize(columns.size());
    for (CopiedColumn &c : columns)
        c.plainText = c.text && c.source && c.source->IsPlainText();
    for (reader.First(); !reader.Eof(); reader.Next()) {
        for (size_t i = 0; i < columns.size(); ++i) {
            const CopiedColumn &c = columns[i];
            if (c.plainText) {
                row.texts[i].clear();
                c.source->AppendCp1251Text(row.texts[i]);
                continue;
            }
            QVariant value = c.source ? c.source->AsVariant() : QVariant();
            if (c.source && value.isNull())
                unreadable.check(*c.source);
            if (c.text && value.typeId() == QMetaType::QString) {
                QString s = value.toString();
                qsizetype n = s.size();
                while (n > 0 && s.at(n - 1) == QLatin1Char(' '))
                    --n;
                if (n != s.size())
                    s.truncate(n);
                value = s;
            }
            row.values[i] = std::move(value);
        }
        write(row);
        ++rows;
    }
    return rows;
}

// Rows of the price list per round trip over a server.
constexpr int kRowsPerBlock = 32;

// A row of PRICE as the load matches it: the goods code as the database
// stores it (code page 1251) and the expiry date's day number (0 when empty).
struct RowKey {
    std::string id;
    qint64 day = 0;
    bool operator==(const RowKey &o) const { return day == o.day && id == o.id; }
};
struct RowKeyHash {
    size_t operator()(const RowKey &k) const
    {
        return std::hash<std::string>()(k.id) ^ size_t(quint64(k.day) * 0x9E3779B97F4A7C15ull);
    }
};
qint64 dayOf(const QVariant &date) { return date.isNull() ? 0 : date.toDate().toJulianDay(); }

// The record number in a row's DB_KEY (taken as 8 bytes in machine order):
// the engine keeps its low 32 bits, little-endian, in the last four bytes and
// the bits above in the third byte. Rows of equal index keys stand in the
// order of their record numbers.
quint64 recordNumber(quint64 dbKey)
{
    unsigned char bytes[sizeof dbKey];
    std::memcpy(bytes, &dbKey, sizeof dbKey);
    return (quint64(bytes[2]) << 32) | qFromLittleEndian<quint32>(bytes + 4);
}

} // namespace

int PriceUpdate::ImportPriceFile(const QString &fileName)
{
    const TTableDefs &def = m_dm.TableDef(TdPrice);
    DbfReader reader;
    reader.setDBFFileName(fileName);
    reader.setBufferSize(1 << 16);
    reader.Open();
    reader.setOEM(true);
    // Records marked deleted are rows like any other: suppliers rely on it.
    if (reader.RecordCount() == 0)
        throw EmptyPriceFile();

    std::unique_ptr<fb::Statement> insert(m_dm.PrepareQuery(BuildInsertSQL(def), true));
    if (!insert)
        throw AppError(QStringLiteral("База данных не открыта"));
    // Row by row, the place of each new row comes back with it: rows of one
    // name are kept in the file's order by their places (see below).
    std::unique_ptr<fb::Statement> insertPlaced(m_dm.PrepareQuery(BuildInsertSQL(def) + QStringLiteral(" RETURNING RDB$DB_KEY"), true));

    std::vector<CopiedColumn> columns;
    QStringList missing, unexpected;
    for (const FieldDefEntry &e : def.Entries()) {
        if (e.Calculated)
            continue;
        DbfField *source = reader.FindField(e.Name);
        if (!source) {
            missing << e.Name;
            continue;
        }
        if (!expectedType(e.FieldClass, *source, reader.TableKind()))
            unexpected << QStringLiteral("%1 (тип %2)").arg(e.Name, QChar::fromLatin1(source->DataType()));
        columns.push_back({source, e.Name, e.FieldClass == FieldKind::String});
    }
    if (!missing.isEmpty())
        throw AppError(QStringLiteral("В файле прайса %1 нет полей: %2")
                           .arg(QDir::toNativeSeparators(fileName), missing.join(QStringLiteral(", "))));
    if (!unexpected.isEmpty())
        m_log.logMessage(QStringLiteral("В файле прайса %1 поля неожиданного типа, их значения могут быть загружены пустыми: %2")
                             .arg(QFileInfo(fileName).fileName(), unexpected.join(QStringLiteral(", "))),
                         Warning, true);

    // The new list replaces the old one row for row: a row of the same goods
    // code and expiry date is rewritten in place, a new one is added, one the
    // file no longer has is deleted. Deleting the whole list and adding it
    // again would leave every row and its index entries for the engine to
    // collect, which costs more than the load itself.
    QString assignments;
    for (const CopiedColumn &c : columns)
        assignments += (assignments.isEmpty() ? QString() : QStringLiteral(", ")) + c.name + QStringLiteral(" = :") + c.name;
    std::unique_ptr<fb::Statement> rewrite(
        m_dm.PrepareQuery(QStringLiteral("UPDATE PRICE SET ") + assignments + QStringLiteral(" WHERE RDB$DB_KEY = :DBKEY"), true));
    std::unique_ptr<fb::Statement> remove(m_dm.PrepareQuery(QStringLiteral("DELETE FROM PRICE WHERE RDB$DB_KEY = :DBKEY"), true));
    const std::vector<int> insertParams = paramsOf(columns, *insert), rewriteParams = paramsOf(columns, *rewrite);
    const int rewriteKey = rewrite->paramIndex(QStringLiteral("DBKEY"));
    // The rows there are now, by key; a row's place is its 8-byte DB_KEY.
    std::unordered_multimap<RowKey, quint64, RowKeyHash> kept;
    {
        std::unique_ptr<fb::Statement> rows(m_dm.PrepareQuery(QStringLiteral("SELECT IDTOVAR, GODEN, RDB$DB_KEY FROM PRICE"), true));
        rows->execute();
        while (rows->fetch()) {
            const std::string_view place = rows->rawText(2);
            quint64 dbKey = 0;
            std::memcpy(&dbKey, place.data(), std::min(place.size(), sizeof dbKey));
            kept.emplace(RowKey{std::string(rows->rawText(0)), rows->isNull(1) ? 0 : rows->asDate(1).toJulianDay()}, dbKey);
        }
    }
    auto placeBytes = [](quint64 dbKey) { return QByteArray(reinterpret_cast<const char *>(&dbKey), sizeof dbKey); };
    size_t idColumn = 0, godenColumn = 0, nameColumn = 0;
    for (size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].name == QLatin1String("IDTOVAR"))
            idColumn = i;
        else if (columns[i].name == QLatin1String("GODEN"))
            godenColumn = i;
        else if (columns[i].name == QLatin1String("TOVAR"))
            nameColumn = i;
    }
    auto bytesOf = [&columns](const CopiedRow &row, size_t i) {
        return columns[i].plainText ? row.texts[i] : toCp1251(row.values[i].toString()).toStdString();
    };

    // Rows of one name stand in the list in the order of their places; a
    // load into an empty list puts them in the file's order. A row rewritten
    // in place keeps yesterday's place, so the places each name got are
    // checked against the file's order, and the rows of a name that came out
    // of order are put back in it (see below). A new row written in a block
    // has its place looked up afterwards by its goods code and expiry date.
    std::unordered_map<std::string, int> nameIds;
    struct Placed {
        int name;
        quint64 dbKey; // 0: not known yet
    };
    std::vector<Placed> placed; // per record, in the file's order
    std::vector<std::pair<size_t, RowKey>> unplaced;
    auto place = [&](const CopiedRow &row, quint64 dbKey, RowKey *key) {
        const auto [it, added] = nameIds.try_emplace(bytesOf(row, nameColumn), int(nameIds.size()));
        if (dbKey == 0 && key)
            unplaced.emplace_back(placed.size(), std::move(*key));
        placed.push_back({it->second, dbKey});
    };

    // Over a server the rows go a block at a time (one round trip a block).
    std::unique_ptr<RowWriter> insertBlock, rewriteBlock, removeBlock;
    if (m_dm.IsServer()) {
        std::vector<RowWriter::Param> params;
        for (const CopiedColumn &c : columns)
            params.push_back({c.name, SqlTypeOf(def.Entries()[size_t(def.IndexOf(c.name))], DriverFirebird)});
        insertBlock = std::make_unique<RowWriter>(m_dm, insert->sql(), params, kRowsPerBlock);
        const RowWriter::Param place{QStringLiteral("DBKEY"), QStringLiteral("CHAR(8) CHARACTER SET OCTETS")};
        removeBlock = std::make_unique<RowWriter>(m_dm, remove->sql(), std::vector<RowWriter::Param>{place}, kRowsPerBlock);
        params.push_back(place);
        rewriteBlock = std::make_unique<RowWriter>(m_dm, rewrite->sql(), params, kRowsPerBlock);
    }
    // Rows whose goods code, name or price reads empty, per key column.
    struct KeyCount {
        size_t column;
        const KeyColumn *key;
        int empty = 0;
    };
    std::vector<KeyCount> keyCounts;
    for (const KeyColumn &key : kKeyColumns)
        for (size_t i = 0; i < columns.size(); ++i)
            if (columns[i].name == QLatin1String(key.name))
                keyCounts.push_back({i, &key});

    DbfUnreadableCells unreadable;
    const int rows = copyRecords(reader, columns, unreadable, [&](const CopiedRow &row) {
        checkCancelled();
        for (KeyCount &k : keyCounts) {
            const CopiedColumn &c = columns[k.column];
            const QVariant &v = row.values[k.column];
            const bool empty = c.plainText ? row.texts[k.column].find_first_not_of(' ') == std::string::npos
                             : c.text     ? v.isNull() || v.toString().trimmed().isEmpty()
                                          : !readsAsNumber(v);
            k.empty += empty ? 1 : 0;
        }
        RowKey key{bytesOf(row, idColumn), dayOf(row.values[godenColumn])};
        const auto same = kept.find(key);
        if (same == kept.end()) {
            if (insertBlock) {
                insertBlock->add([&columns, row](fb::Statement &st, const std::vector<int> &at) { bindAll(st, at, columns, row); });
                place(row, 0, &key);
                return;
            }
            bindAll(*insertPlaced, insertParams, columns, row);
            insertPlaced->execute();
            quint64 dbKey = 0;
            if (insertPlaced->fetch()) {
                const std::string_view newPlace = insertPlaced->rawText(0);
                std::memcpy(&dbKey, newPlace.data(), std::min(newPlace.size(), sizeof dbKey));
            }
            place(row, dbKey, nullptr);
            return;
        }
        place(row, same->second, nullptr);
        if (rewriteBlock) {
            rewriteBlock->add([&columns, row, key = placeBytes(same->second)](fb::Statement &st, const std::vector<int> &at) {
                bindAll(st, std::vector<int>(at.begin(), at.end() - 1), columns, row);
                st.setBytes(at.back(), key);
            });
            kept.erase(same);
            return;
        }
        bindAll(*rewrite, rewriteParams, columns, row);
        rewrite->setBytes(rewriteKey, placeBytes(same->second));
        kept.erase(same);
        rewrite->execute();
    });
    reader.Close();
    QStringList unusable;
    for (const KeyCount &k : keyCounts)
        if (qint64(k.empty) * 2 > rows)
            unusable << QStringLiteral("%1 (%2) не прочитано в %3 строках из %4")
                            .arg(QLatin1String(k.key->name), QString::fromUtf8(k.key->meaning))
                            .arg(k.empty)
                            .arg(rows);
    if (!unusable.isEmpty())
        throw UnusablePriceFile(QStringLiteral("Файл прайса %1 не загружен: поле %2")
                                    .arg(QFileInfo(fileName).fileName(), unusable.join(QStringLiteral(", поле "))));
    if (rewriteBlock) {
        insertBlock->flush();
        rewriteBlock->flush();
    }
    for (const auto &[key, dbKey] : kept) {
        if (removeBlock) {
            removeBlock->add([place = placeBytes(dbKey)](fb::Statement &st, const std::vector<int> &at) { st.setBytes(at[0], place); });
            continue;
        }
        remove->setBytes(0, placeBytes(dbKey));
        remove->execute();
    }
    if (removeBlock)
        removeBlock->flush();

    // The places of the new rows written in blocks: among the rows of their
    // goods code and expiry date, those no other record of the file took.
    if (!unplaced.empty()) {
        std::unordered_set<quint64> taken;
        for (const Placed &p : placed)
            if (p.dbKey)
                taken.insert(p.dbKey);
        std::unordered_multimap<RowKey, quint64, RowKeyHash> now;
        std::unique_ptr<fb::Statement> rows(m_dm.PrepareQuery(QStringLiteral("SELECT IDTOVAR, GODEN, RDB$DB_KEY FROM PRICE"), true));
        rows->execute();
        while (rows->fetch()) {
            const std::string_view where = rows->rawText(2);
            quint64 dbKey = 0;
            std::memcpy(&dbKey, where.data(), std::min(where.size(), sizeof dbKey));
            if (!taken.count(dbKey))
                now.emplace(RowKey{std::string(rows->rawText(0)), rows->isNull(1) ? 0 : rows->asDate(1).toJulianDay()}, dbKey);
        }
        for (auto &[record, key] : unplaced) {
            auto [from, to] = now.equal_range(key);
            auto first = from;
            for (auto it = from; it != to; ++it)
                if (recordNumber(it->second) < recordNumber(first->second))
                    first = it;
            if (first == to)
                continue;
            placed[record].dbKey = first->second;
            now.erase(first);
        }
    }

    // The rows of a name out of the file's order: the name's places, in
    // their own order, get the rows in the file's order. Each row moves whole.
    std::vector<quint64> lastRecord(nameIds.size(), 0);
    std::vector<char> unordered(nameIds.size(), 0), seen(nameIds.size(), 0);
    bool anyUnordered = false;
    for (const Placed &p : placed) {
        if (!p.dbKey)
            continue;
        const quint64 record = recordNumber(p.dbKey);
        if (seen[size_t(p.name)] && record < lastRecord[size_t(p.name)])
            unordered[size_t(p.name)] = anyUnordered = true;
        seen[size_t(p.name)] = 1;
        lastRecord[size_t(p.name)] = record;
    }
    std::vector<std::vector<quint64>> unorderedPlaces(nameIds.size());
    if (anyUnordered)
        for (const Placed &p : placed)
            if (p.dbKey && unordered[size_t(p.name)])
                unorderedPlaces[size_t(p.name)].push_back(p.dbKey);
    if (anyUnordered) {
        QStringList names;
        for (const CopiedColumn &c : columns)
            names << c.name;
        std::unique_ptr<fb::Statement> read(m_dm.PrepareQuery(
            QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) + QStringLiteral(" FROM PRICE WHERE RDB$DB_KEY = :DBKEY"),
            true));
        for (const std::vector<quint64> &inFileOrder : unorderedPlaces) {
            if (inFileOrder.empty())
                continue;
            std::vector<std::vector<QVariant>> contents;
            for (quint64 dbKey : inFileOrder) {
                read->setBytes(0, placeBytes(dbKey));
                read->execute();
                std::vector<QVariant> values;
                if (read->fetch())
                    for (size_t i = 0; i < columns.size(); ++i)
                        values.push_back(read->asVariant(int(i)));
                read->closeCursor();
                contents.push_back(std::move(values));
            }
            std::vector<quint64> inPlaceOrder = inFileOrder;
            std::sort(inPlaceOrder.begin(), inPlaceOrder.end(),
                      [](quint64 a, quint64 b) { return recordNumber(a) < recordNumber(b); });
            for (size_t k = 0; k < inFileOrder.size(); ++k) {
                if (inPlaceOrder[k] == inFileOrder[k] || contents[k].size() != columns.size())
                    continue;
                for (size_t i = 0; i < columns.size(); ++i)
                    rewrite->setValue(rewriteParams[i], contents[k][i]);
                rewrite->setBytes(rewriteKey, placeBytes(inPlaceOrder[k]));
                rewrite->execute();
            }
        }
    }
    if (!unreadable.isEmpty())
        m_log.logMessage(QStringLiteral("В файле прайса %1 не прочитаны значения (загружены пустыми): %2")
                             .arg(QFileInfo(fileName).fileName(), unreadable.text()),
                         Warning, true);
    return rows;
}

QString PriceUpdate::FindDetailsFile(const QString &priceFile)
{
    const QDir folder = QFileInfo(priceFile).dir();
    for (const QFileInfo &f : folder.entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden))
        if (f.fileName().compare(QStringLiteral("price_det.dbf"), Qt::CaseInsensitive) == 0)
            return f.filePath();
    return QString();
}

int PriceUpdate::ImportPriceDetails(const QString &fileName)
{
    m_dm.ExecSQL(QStringLiteral("DELETE FROM PRICE_DET"), false);
    if (fileName.isEmpty())
        return 0;
    const TTableDefs &def = m_dm.TableDef(TdPriceDet);
    DbfReader reader;
    reader.setDBFFileName(fileName);
    reader.setBufferSize(1 << 16);
    reader.Open();
    reader.setOEM(true);
    if (!reader.FindField(QStringLiteral("IDTOVAR")))
        throw AppError(QStringLiteral("В файле подробностей %1 нет поля IDTOVAR").arg(QDir::toNativeSeparators(fileName)));

    std::unique_ptr<fb::Statement> insert(m_dm.PrepareQuery(BuildInsertSQL(def), true));
    if (!insert)
        throw AppError(QStringLiteral("База данных не открыта"));
    std::vector<CopiedColumn> columns;
    std::vector<int> widths; // characters a text column holds, 0 for the others
    for (const FieldDefEntry &e : def.Entries())
        if (!e.Calculated) {
            columns.push_back({reader.FindField(e.Name), e.Name, e.FieldClass == FieldKind::String});
            widths.push_back(e.FieldClass == FieldKind::String ? e.Size : 0);
        }
    const std::vector<int> params = paramsOf(columns, *insert);

    // A record with a text longer than its column (a goods code longer than
    // any the details table keeps) cannot describe a row of the list: it is
    // left out and counted, and the list itself loads.
    auto tooLong = [&](const CopiedRow &row) {
        for (size_t i = 0; i < columns.size(); ++i) {
            if (widths[i] <= 0)
                continue;
            const qsizetype length = columns[i].plainText ? qsizetype(row.texts[i].size()) : row.values[i].toString().size();
            if (length > widths[i])
                return true;
        }
        return false;
    };
    DbfUnreadableCells unreadable;
    int loaded = 0;
    QStringList skipped;
    copyRecords(reader, columns, unreadable, [&](const CopiedRow &row) {
        checkCancelled();
        if (tooLong(row)) {
            skipped << (columns[0].plainText ? fromCp1251(row.texts[0]) : row.values[0].toString());
            return;
        }
        bindAll(*insert, params, columns, row);
        insert->execute();
        ++loaded;
    });
    reader.Close();
    if (!skipped.isEmpty()) {
        m_log.logMessage(QStringLiteral("В файле подробностей %1 пропущено строк: %2 (код товара или текст длиннее, "
                                        "чем вмещает таблица подробностей)")
                             .arg(QFileInfo(fileName).fileName())
                             .arg(skipped.size()),
                         Warning, true);
        m_log.logDetail(QStringLiteral("Пропущены подробности товаров: ") + skipped.join(QStringLiteral(", ")));
    }
    if (!unreadable.isEmpty())
        m_log.logMessage(QStringLiteral("В файле подробностей %1 не прочитаны значения (загружены пустыми): %2")
                             .arg(QFileInfo(fileName).fileName(), unreadable.text()),
                         Warning, true);
    return loaded;
}

void PriceUpdate::RestoreOrderFromOld()
{
    // Every quantity the file brought becomes 0. Three conditions the ZAKAZ
    // index can answer: a file that brings none costs no pass over the list.
    for (const char *which : {"ZAKAZ > 0", "ZAKAZ < 0", "ZAKAZ IS NULL"})
        m_dm.ExecSQL(QStringLiteral("UPDATE PRICE SET ZAKAZ = 0 WHERE ") + QLatin1String(which), false);

    std::unique_ptr<Dataset> old(
        m_dm.OpenQuery(QStringLiteral("SELECT IDTOVAR, GODEN, ZAKAZ FROM PRICEOLD WHERE ZAKAZ > 0"), true));
    if (!old)
        return;
    // A batch the new list holds twice gets the quantity once, on one of its
    // rows: one still without an order first, so that two ordered rows of
    // yesterday's list keep their quantities apart.
    std::unique_ptr<fb::Statement> sameBatch(m_dm.PrepareQuery(
        QStringLiteral("UPDATE PRICE SET ZAKAZ = ZAKAZ + :ZAKAZ WHERE RDB$DB_KEY = "
                       "(SELECT FIRST 1 P.RDB$DB_KEY FROM PRICE P WHERE P.IDTOVAR = :IDTOVAR "
                       "AND P.GODEN IS NOT DISTINCT FROM :GODEN ORDER BY P.ZAKAZ, P.RDB$DB_KEY)"),
        true));
    std::unique_ptr<fb::Statement> latestBatch(m_dm.PrepareQuery(
        QStringLiteral("UPDATE PRICE SET ZAKAZ = ZAKAZ + :ZAKAZ WHERE RDB$DB_KEY = "
                       "(SELECT FIRST 1 P.RDB$DB_KEY FROM PRICE P WHERE P.IDTOVAR = :IDTOVAR ORDER BY P.GODEN DESC NULLS LAST)"),
        true));
    Field &id = old->FieldByName(QStringLiteral("IDTOVAR"));
    Field &goden = old->FieldByName(QStringLiteral("GODEN"));
    Field &zakaz = old->FieldByName(QStringLiteral("ZAKAZ"));
    for (int i = 0; i < old->RecordCount(); ++i) {
        checkCancelled();
        Dataset::ActiveRow row(*old, i);
        sameBatch->setValue(QStringLiteral("ZAKAZ"), zakaz.AsLargeInt());
        sameBatch->setValue(QStringLiteral("IDTOVAR"), id.AsString());
        sameBatch->setValue(QStringLiteral("GODEN"), goden.IsNull() ? QVariant() : QVariant(goden.AsDate()));
        sameBatch->execute();
        if (sameBatch->rowsAffected() > 0)
            continue;
        latestBatch->setValue(QStringLiteral("ZAKAZ"), zakaz.AsLargeInt());
        latestBatch->setValue(QStringLiteral("IDTOVAR"), id.AsString());
        latestBatch->execute();
    }
}

void PriceUpdate::toggleBugFixType()
{
    // Checked and greyed both become unchecked; only unchecked becomes checked.
    m_settings.DBBugFixType = m_settings.DBBugFixType == 0 ? 1 : 0;
    try {
        IniFile(m_context.path(QStringLiteral("client.ini")))
            .writeInteger(QStringLiteral("Header"), QStringLiteral("DBBugFixType"), m_settings.DBBugFixType);
    } catch (const std::exception &e) {
        m_log.logMessage(errorText(e), Error, true);
    }
    call(BugFixTypeChanged);
}

// Loads a price DBF file into PRICE in one transaction: the ordered rows are
// kept in PRICEOLD, the rows replaced, the quantities carried over and cut to
// the new stock, and only then is anything committed. Any failure rolls all of
// it back. The file is deleted afterwards either way.
bool PriceUpdate::loadPriceFile(const QString &fileName)
{
    m_lastLoadOk = false;
    m_log.logDetail(QStringLiteral("Загрузка прайс-листа из файла"));
    const QFileInfo source(fileName);
    if (!source.isFile()) {
        m_dialogs.showNotice(QStringLiteral("Файл для загрузки прайса ") + QDir::toNativeSeparators(fileName)
                                 + QStringLiteral(" не найден"),
                             true);
        return false;
    }
    const QDateTime fileTime = source.lastModified();

    bool keepOld = false;
    bool carrying = false;
    bool priceChanged = false;
    bool shortage = false;
    auto rollback = [this] {
        try {
            m_dm.Rollback();
        } catch (const std::exception &e) {
            m_log.logMessage(errorText(e) + QStringLiteral(" (отмена загрузки прайса)"), Error, true);
        }
    };
    try {
        // The grid shows the rows again once the new list is in place (or the
        // old one is back).
        if (ReopenDatasets)
            m_dm.OpenPrice(false);
        // The load holds the list for itself from the copy of the order to
        // the last row: a quantity typed on another workstation meanwhile is
        // refused (and kept on its screen to type again), never lost between
        // the copy and the rewrite. Reading goes on.
        m_dm.BeginReserved({QStringLiteral("PRICE"), QStringLiteral("PRICEOLD"), QStringLiteral("PRICE_DET")});
        keepOld = m_dm.TableExists(QStringLiteral("PRICEOLD"));
        if (keepOld)
            SavePriceToOld();
        call(AfterOrderKept);
        const int rows = ImportPriceFile(fileName);
        m_log.logDetail(QStringLiteral("Загружено строк прайса: %1").arg(rows));
        // The details come with the list they describe: all or nothing with it.
        const int details = ImportPriceDetails(FindDetailsFile(fileName));
        if (details > 0)
            m_log.logDetail(QStringLiteral("Загружено подробностей о товарах: %1").arg(details));
        if (keepOld) {
            carrying = true;
            RestoreOrderFromOld();
            // The checks start from the ordered rows (the ZAKAZ index), never
            // from the whole list: a join planned the other way round looked
            // up every one of its rows in PRICEOLD.
            std::unique_ptr<Dataset> q(m_dm.OpenQuery(
                QStringLiteral("select count(1) from price p where p.zakaz > 0 and exists (select 1 from priceold pold "
                               "where pold.idtovar = p.idtovar and pold.price <> p.price)"),
                true));
            priceChanged = q && !q->IsEmpty() && q->Fields(0).AsLargeInt() > 0;
            // Only an ordered row is cut to the stock, and never below 0: a
            // negative stock must not give a negative quantity.
            q.reset(m_dm.OpenQuery(QStringLiteral("select count(1) from price WHERE Zakaz > 0 and Zakaz > Qnt"), true));
            shortage = q && !q->IsEmpty() && q->Fields(0).AsLargeInt() > 0;
            q.reset();
            m_dm.ExecSQL(QStringLiteral("update price SET Zakaz = MAXVALUE(Qnt, 0) WHERE Zakaz > 0 and Zakaz > Qnt"), false);
        }
        // Every workstation takes the price date from the database, with the list.
        m_dm.SetSharedValue(kPriceDateKey, fileTime.toString(Qt::ISODate));
        m_dm.AdvancePriceListVersion();
        NotePriceLoad(m_dm, QDateTime::currentDateTime(), CounterIdentity(m_context.appDir()));
        m_dm.PostEvent(QStringLiteral("PRICE_CHANGED"));
        m_dm.Commit();
        m_lastLoadOk = true;
    } catch (const fb::DbError &e) {
        rollback();
        if (carrying) {
            m_log.logMessage(QStringLiteral("Ошибка БД.") + e.text(), Error, true);
            toggleBugFixType();
        } else {
            m_log.logMessage(e.text() + QStringLiteral(" (получение прайса)"), Error, true);
        }
        m_dialogs.showNotice(kPriceError, true);
    } catch (const EmptyPriceFile &e) {
        rollback();
        m_dialogs.showNotice(e.message(), true);
    } catch (const UnusablePriceFile &e) {
        rollback();
        m_log.logMessage(e.message() + QStringLiteral(" (получение прайса)"), Error, true);
        m_dialogs.showNotice(kUnusablePrice, true);
    } catch (const DbfError &e) {
        rollback();
        m_log.logMessage(e.text() + QStringLiteral(" (получение прайса)"), Error, true);
        m_dialogs.showNotice(e.Damaged() ? kDamagedPrice : kPriceError, true);
    } catch (const ExchangeCancelled &) {
        rollback();
        m_log.logMessage(QStringLiteral("Загрузка прайса прервана, прежний прайс-лист сохранён"), Warning, true);
    } catch (const std::exception &e) {
        rollback();
        m_log.logMessage(errorText(e) + QStringLiteral(" (получение прайса)"), Error, true);
        m_dialogs.showNotice(kPriceError, true);
    }

    if (m_lastLoadOk) {
        // The file's time stamp is the price date; Data/pricein.dbf keeps it
        // for the next start.
        m_settings.PriceDate = dateTimeText(fileTime);
        const QString pricein = m_context.path(QStringLiteral("Data/pricein.dbf"));
        const QString copy = pricein + QStringLiteral(".new");
        QFile::remove(copy);
        // The loaded file is deleted below anyway: moving it keeps its time
        // stamp and costs no copy. Another file system gets a copy.
        bool copied = QFile::rename(fileName, copy);
        if (!copied && (copied = QFile::copy(fileName, copy))) {
            QFile f(copy);
            copied = f.open(QIODevice::ReadWrite) && f.setFileTime(fileTime, QFileDevice::FileModificationTime);
            f.close();
        }
        copied = copied && moveOver(copy, pricein);
        if (!copied) {
            QFile::remove(copy);
            m_log.logMessage(QStringLiteral("Не удалось сохранить копию прайса в %1").arg(QDir::toNativeSeparators(pricein)),
                             Warning, true);
        }
    }

    try {
        if (m_lastLoadOk) {
            if (ReopenDatasets) {
                m_dm.SetAllActive(true);
                // The grid reads the details from memory: read the new ones.
                if (Dataset *det = m_dm.PriceDetTable()) {
                    det->Close();
                    det->Open();
                }
            }
            call(ShowOrderTotals);
            if (keepOld) {
                if (CheckPriceActuality(false))
                    m_dialogs.showNotice(QStringLiteral("Прайс удачно обновлен!"), true);
                else
                    m_dialogs.showNotice(QStringLiteral("После обновления получен устаревший прайс! Обратитесь к поставщику"),
                                         true);
                QString report = QStringLiteral("После получения актуальных остатков есть : ");
                if (shortage)
                    report += QStringLiteral("\n\r") + QStringLiteral(" * отказы по количествам ");
                if (priceChanged)
                    report += QStringLiteral("\n\r") + QStringLiteral(" * изменения в ценах ");
                if (shortage || priceChanged) {
                    m_dialogs.showNotice(report + QStringLiteral("\n\r") + QStringLiteral("   Пожалуйста, ознакомьтесь с изменениями  "),
                                         true);
                    call(SetShowOnlyOrder, true);
                }
                call(RefreshTitle);
                call(BuildStartPage);
            }
            IniFile(m_context.path(QStringLiteral("client.ini")))
                .writeString(QStringLiteral("Header"), QStringLiteral("PriceTime"), m_settings.PriceDate);
        } else if (ReopenDatasets && m_dm.PriceHasData()) {
            m_dm.OpenPrice(true);
        }
    } catch (const std::exception &e) {
        m_log.logMessage(errorText(e) + QStringLiteral(" (получение прайса)"), Error, true);
    }
    QFile::remove(fileName);
    return m_lastLoadOk;
}

// ---- the update ------------------------------------------------------------------

void PriceUpdate::writeLogIni()
{
    // One write: the report never goes up half new, half from the last time.
    IniFile ini(m_context.path(QStringLiteral("log.ini")));
    ini.beginBatch();
    ini.writeString(QStringLiteral("Header"), QStringLiteral("VersionProgram"), m_context.version());
    ini.writeString(QStringLiteral("Header"), QStringLiteral("DatePrice"), pc::dateTimeText(QDateTime::currentDateTime()));
    ini.writeString(QStringLiteral("Header"), QStringLiteral("ClientName"), m_settings.ClientName);
    ini.commit();
}

void PriceUpdate::downloadArchive(const QString &workFolder, bool sendInfo, bool checkDocuments, QString &archive)
{
    DisconnectGuard disconnect(m_connection);
    FtpClient &ftp = m_connection.ftp();
    m_dialogs.showWait(QStringLiteral("Подождите некоторое время, загрузка прайса..."), 1);
    m_log.logDetail(QStringLiteral("Загрузка прайс-листа"));

    const QString arcName = m_settings.PriceArchiveName;
    if (!isPlainFileName(arcName))
        throw AppError(QStringLiteral("Неверное имя архива прайса \"%1\"").arg(arcName));
    const qint64 size = ftp.size(arcName);
    call(ShowReceivePanel, true, size > 0 ? int((size + 512) / 1024) : 0);
    FtpProgressScope progress(ftp, ReceiveProgress ? std::function<void(qint64, qint64)>([this](qint64 done, qint64) {
        ReceiveProgress(int(done / 1024));
    })
                                                   : std::function<void(qint64, qint64)>());
    try {
        archive = QStringLiteral("price.arc");
        ftp.get(arcName, workFolder + archive);
    } catch (const FtpError &e) {
        if (e.kind() != FtpError::NotFound && !e.message().contains(QStringLiteral("not found")))
            throw;
        QFile::remove(workFolder + archive);
        m_log.logDetail(QStringLiteral("Загрузка прайс-листа zip"));
        QString zipName = arcName;
        if (zipName.endsWith(QStringLiteral(".arc"), Qt::CaseInsensitive))
            zipName = zipName.left(zipName.size() - 4) + QStringLiteral(".zip");
        archive = QStringLiteral("price.zip");
        const qint64 zipSize = ftp.size(zipName);
        if (zipSize > 0)
            call(ShowReceivePanel, true, int((zipSize + 512) / 1024));
        try {
            ftp.get(zipName, workFolder + archive);
        } catch (const FtpError &zipError) {
            if (zipError.kind() != FtpError::NotFound)
                throw;
            m_log.logDetail(e.message());
            m_log.logDetail(zipError.message());
            throw AppError(QStringLiteral("Нет файла прайса на сервере ") + arcName + QStringLiteral(" / ") + zipName);
        }
    }
    m_log.logDetail(QStringLiteral("Прайс-лист загружен"));
    writeLogIni();
    if (sendInfo) {
        m_log.logDetail(QStringLiteral("Отправка инфо-файла"));
        ftp.put(m_context.path(QStringLiteral("log.ini")), QStringLiteral("log.ini"));
        // The documents are fetched only together with the information file.
        if (checkDocuments)
            call(FetchDocuments);
    }
}

namespace {

// The archive's files the program has a use for: price lists and other tables
// (into Data/), the program update and its signature, the banner and the
// news strip with the pages and pictures they show.
const QStringList kPageFiles{QStringLiteral(".htm"), QStringLiteral(".html"), QStringLiteral(".css"),
                             QStringLiteral(".gif"), QStringLiteral(".jpg"),  QStringLiteral(".jpeg"),
                             QStringLiteral(".png"), QStringLiteral(".bmp"),  QStringLiteral(".svg")};
const QStringList kUpdateFiles{QStringLiteral("update"), QStringLiteral("update.exe"), QStringLiteral("update.sig")};
// A banner may also be a plain text.
const QStringList kBannerFiles = kPageFiles + QStringList{QStringLiteral(".txt")};
const QStringList kPlacedFiles = kPageFiles + kUpdateFiles + QStringList{QStringLiteral(".dbf"), QStringLiteral("banner.ini")};
// What is unpacked at all: anything that may be placed, the banner's page among it.
const QStringList kUnpackedFiles = kPlacedFiles + QStringList{QStringLiteral(".txt")};

// The folder of the work folder that holds the archive's files once checked:
// plain files, under their decoded names.
const QString kCheckedFolder = QStringLiteral("checked/");

// unzip's exit code for a write that failed for want of room (also when a
// file reached the size limit it runs under).
constexpr int kUnzipDiskFull = 50;

// The room left on the disk beside the unpacked files, for the database and the program's own files.
constexpr qint64 kSpareBytes = qint64(16) << 20;

QString megabytes(qint64 bytes) { return QLocale().toString(double(bytes) / (1 << 20), 'f', 1); }

// A name from an archive in a subfolder that does not climb out: of no use
// to the program, and no harm.
bool inSubfolder(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')))
        return false;
    const QStringList parts = QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    return parts.size() > 1 && !parts.contains(QStringLiteral("..")) && !parts.contains(QStringLiteral("."))
           && !(parts.first().size() == 2 && parts.first().at(1) == QLatin1Char(':'));
}

bool isRegularFile(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

const QStringList &PriceUpdate::BannerFileKinds() { return kBannerFiles; }

void PriceUpdate::refuseArchiveName(const QString &name, const QString &reason)
{
    if (m_refusedNames.contains(name))
        return;
    m_refusedNames << name;
    m_log.logMessage(QStringLiteral("Файл \"%1\" из архива прайса не принят: %2").arg(printableName(name), reason),
                     Warning, true);
}

// Sorts one name of the archive: true when it is unpacked; otherwise it is
// either of no use (counted for the summary) or refused (said in the pane).
bool PriceUpdate::acceptArchiveName(const QString &name)
{
    if (inSubfolder(name)) {
        m_unwantedNames << name;
        return false;
    }
    bool unwanted = false;
    const QString refusal = foreignNameRefusal(name, kUnpackedFiles, &unwanted);
    if (refusal.isEmpty())
        return true;
    if (unwanted)
        m_unwantedNames << name;
    else
        refuseArchiveName(name, refusal);
    return false;
}

// The zip archive is read before it is unpacked: only plain files with
// accepted names are given to unzip, in a copy of the archive that holds
// nothing else and names them itself, and only when they fit on the disk.
QStringList PriceUpdate::prepareZip(const QString &workFolder, const QString &archive)
{
    const ZipDirectory directory = readZipDirectory(workFolder + archive);
    if (!directory.error.isEmpty())
        throw AppError(QStringLiteral("Архив прайса не распакован: %1").arg(directory.error));
    QList<ZipSubsetEntry> chosen;
    QHash<QString, qsizetype> byName; // one file per name, letter case aside: the last one, as unzip does
    for (const ZipEntry &e : directory.entries) {
        if (e.kind == ZipEntry::Folder)
            continue;
        if (e.kind == ZipEntry::Link) {
            refuseArchiveName(e.name, QStringLiteral("это ссылка на другой файл, а не файл"));
            continue;
        }
        if (e.kind == ZipEntry::Special) {
            refuseArchiveName(e.name, QStringLiteral("это не обычный файл (канал или устройство)"));
            continue;
        }
        if (!acceptArchiveName(e.name))
            continue;
        if (e.encrypted) {
            refuseArchiveName(e.name, QStringLiteral("файл зашифрован"));
            continue;
        }
        const QString key = e.name.toLower();
        if (byName.contains(key)) {
            chosen[byName.value(key)].entry = e;
            continue;
        }
        byName.insert(key, chosen.size());
        chosen << ZipSubsetEntry{e, QByteArray()};
    }
    QStringList names;
    qint64 declared = 0;
    m_largestDeclared = 0;
    for (qsizetype i = 0; i < chosen.size(); ++i) {
        chosen[i].name = "entry-" + QByteArray::number(i);
        names << chosen[i].entry.name;
        const qint64 size = qint64(qMin<quint64>(chosen[i].entry.size, quint64(1) << 50));
        declared += size;
        m_largestDeclared = qMax(m_largestDeclared, size);
    }
    // A few bytes that unpack to more than the disk holds (a "zip bomb", or a
    // damaged archive) are refused before anything is written.
    const qint64 free = FreeBytes ? FreeBytes(workFolder) : QStorageInfo(workFolder).bytesAvailable();
    if (free >= 0 && declared > free - kSpareBytes)
        throw AppError(QStringLiteral("Архив прайса не распакован: его файлы займут %1 МБ, а на диске свободно %2 МБ. "
                                      "Освободите место на диске или обратитесь к поставщику")
                           .arg(megabytes(declared), megabytes(free)));
    QString error;
    const QString checked = workFolder + QStringLiteral("price.checked");
    if (!writeZipSubset(workFolder + archive, chosen, checked, &error))
        throw AppError(QStringLiteral("Архив прайса не распакован: %1").arg(error));
    QFile::remove(workFolder + archive);
    if (!QFile::rename(checked, workFolder + archive))
        throw AppError(QStringLiteral("Архив прайса не распакован: не удалось переименовать %1").arg(checked));
    return names;
}

// What the unpacking program left, in the checked folder under the names
// decoded: for a zip, the files it was given, by their numbers; for an arc,
// every plain file it wrote at the top of the work folder, named in UTF-8
// when valid, otherwise in code page 866.
void PriceUpdate::collectUnpacked(const QString &workFolder, const QStringList &zipNames)
{
    const QString checked = workFolder + kCheckedFolder;
    if (!QDir().mkpath(checked))
        throw AppError(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(checked)));
    const QByteArray from = QFile::encodeName(workFolder);
    const auto take = [&](const QByteArray &rawName, const QString &name) {
        if (!isRegularFile(from + rawName)) {
            refuseArchiveName(name, QStringLiteral("это не обычный файл"));
            return;
        }
        const QByteArray to = QFile::encodeName(checked + name);
        if (::rename(QByteArray(from + rawName).constData(), to.constData()) != 0)
            m_log.logMessage(QStringLiteral("Не удалось перенести распакованный файл %1").arg(printableName(name)), Error, true);
    };
    if (m_zip) {
        for (qsizetype i = 0; i < zipNames.size(); ++i) {
            const QByteArray unpacked = "entry-" + QByteArray::number(i);
            if (::access(QByteArray(from + unpacked).constData(), F_OK) != 0)
                m_log.logMessage(QStringLiteral("Файл \"%1\" архива прайса не распакован").arg(printableName(zipNames[i])),
                                 Warning, true);
            else
                take(unpacked, zipNames[i]);
        }
        return;
    }
    DIR *dir = ::opendir(from.constData());
    if (!dir)
        return;
    QList<QByteArray> rawNames;
    while (const dirent *d = ::readdir(dir)) {
        const QByteArray raw(d->d_name);
        if (raw != "." && raw != ".." && raw != "price.arc" && raw + '/' != kCheckedFolder.toLatin1())
            rawNames << raw;
    }
    ::closedir(dir);
    for (const QByteArray &raw : rawNames) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString name = utf8.decode(raw);
        if (utf8.hasError())
            name = fromCp866(raw);
        struct stat st {};
        if (::lstat(QByteArray(from + raw).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            m_unwantedNames << name + QLatin1Char('/');
            continue;
        }
        if (acceptArchiveName(name))
            take(raw, name);
    }
}

QString PriceUpdate::unpackArchive(const QString &workFolder, const QString &archive)
{
    const bool arc = archive == QLatin1String("price.arc");
    m_zip = !arc;
    const QString tool = arc ? QStringLiteral("unarc") : QStringLiteral("unzip");
    if (!QFileInfo::exists(workFolder + archive))
        throw AppError(QStringLiteral("Нет файла прайса на сервере "));
    m_log.logDetail(arc ? QStringLiteral("Распаковка прайса arc") : QStringLiteral("Распаковка прайса zip"));
    const QString program = findProgram(tool, m_context.appDir());
    if (program.isEmpty()) {
        QString text = QStringLiteral("Не найдена утилита распаковки %1 в папке программы").arg(tool);
        if (arc)
            text += QStringLiteral(". Её нет и в системе: положите программу unarc в папку программы "
                                   "или попросите поставщика выкладывать прайс архивом .zip");
        m_dialogs.showNotice(text, true);
        throw AppError(text);
    }
    QStringList zipNames;
    if (!arc) {
        try {
            zipNames = prepareZip(workFolder, archive);
        } catch (const AppError &e) {
            m_dialogs.showNotice(e.message(), true);
            throw;
        }
    }
    const QStringList args = arc ? QStringList{QStringLiteral("x"), QStringLiteral("-o+"), archive}
                                 : QStringList{QStringLiteral("-q"), QStringLiteral("-u"), QStringLiteral("-o"), archive};
    // No file unzip writes may grow past the largest size the archive
    // declared: an archive that lies about its sizes is stopped at once.
    QString runner = program;
    QStringList runnerArgs = args;
    const QString prlimit = arc ? QString() : findProgram(QStringLiteral("prlimit"), QString());
    if (!prlimit.isEmpty()) {
        runner = prlimit;
        runnerArgs.prepend(program);
        runnerArgs.prepend(QStringLiteral("--fsize=%1").arg(qMax<qint64>(m_largestDeclared, 1)));
    }
    const RunResult r = runAndWait(runner, runnerArgs, workFolder, UnpackTimeoutMs, ProcessEvents);
    QFile::remove(workFolder + archive);
    QString failure;
    if (r.status == RunResult::NotStarted)
        failure = QStringLiteral("Не удалось запустить программу распаковки %1: %2").arg(program, r.error);
    else if (r.status == RunResult::TimedOut)
        failure = QStringLiteral("Программа распаковки %1 не закончила работу за %2 с и остановлена. Прайс не распакован")
                      .arg(tool, QLocale().toString(UnpackTimeoutMs / 1000.0));
    else if (!prlimit.isEmpty() && (r.exitCode == 128 + SIGXFSZ || r.exitCode == kUnzipDiskFull))
        failure = QStringLiteral("Архив прайса не распакован: в нём файл больше, чем архив заявляет "
                                 "(архив повреждён или подделан), или на диске кончилось место");
    else if (r.exitCode != 0)
        failure = QStringLiteral("Программа распаковки %1 завершилась с ошибкой (код %2). Прайс не распакован")
                      .arg(tool)
                      .arg(r.exitCode);
    if (failure.isEmpty()) {
        collectUnpacked(workFolder, zipNames);
        return workFolder + kCheckedFolder;
    }
    // Whatever the program left is not a price list: nothing of it is used.
    QDir dir(workFolder);
    for (const QFileInfo &f : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (f.isDir() && !f.isSymLink())
            QDir(f.filePath()).removeRecursively();
        else
            QFile::remove(f.filePath());
    }
    m_dialogs.showNotice(failure, true);
    throw AppError(failure);
}

// The other files of the archive that the program uses: *.dbf into Data/;
// the program update and its signature, the supplier's banner and news strip
// (banner.ini, top.htm, the page banner.ini names, and the pages and pictures
// they show) into the program folder. Every name passes the check of names
// from outside; a banner.ini that names a file the program would not place
// is not placed either. Whatever else the archive held stays in the work
// folder and goes with it; one line says how many and which.
void PriceUpdate::placeArchiveFiles(const QString &folder, const QString &priceFile)
{
    // More than this many files beside the price list is not a supplier's
    // archive but a mistake: the rest is not spread over the program folder.
    constexpr int kMaxPlaced = 500;
    const QString priceName = QFileInfo(priceFile).fileName();
    QString bannerPage;
    bool bannerIniRefused = false;
    for (const QFileInfo &f : QDir(folder).entryInfoList({QStringLiteral("banner.ini")}, QDir::Files | QDir::NoSymLinks)) {
        bannerPage = IniFile(f.filePath()).readString(QStringLiteral("Header"), QStringLiteral("HomeBanner")).trimmed();
        if (bannerPage.isEmpty() || bannerPage.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
            || bannerPage.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
            break;
        const QString refusal = foreignNameRefusal(bannerPage, kBannerFiles);
        if (!refusal.isEmpty()) {
            bannerIniRefused = true;
            m_log.logMessage(QStringLiteral("Файл banner.ini из архива прайса не принят: баннер \"%1\" не принят: %2")
                                 .arg(printableName(bannerPage), refusal),
                             Warning, true);
            bannerPage.clear();
        }
    }
    QStringList skipped = m_unwantedNames;
    int placed = 0;
    QDir dir(folder);
    for (const QFileInfo &f : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                                QDir::Name)) {
        const QString name = f.fileName();
        if (name == priceName)
            continue;
        if (!f.isFile() || f.isSymLink())
            continue; // nothing but plain files reaches this folder
        if (name.compare(QLatin1String("banner.ini"), Qt::CaseInsensitive) == 0 && bannerIniRefused)
            continue;
        const bool banner = !bannerPage.isEmpty() && name.compare(bannerPage, Qt::CaseInsensitive) == 0;
        bool unwanted = false;
        const QString refusal = foreignNameRefusal(name, banner ? kBannerFiles : kPlacedFiles, &unwanted);
        if (!refusal.isEmpty() && !unwanted) {
            refuseArchiveName(name, refusal);
            continue;
        }
        if (!refusal.isEmpty() || placed >= kMaxPlaced) {
            skipped << name;
            continue;
        }
        ++placed;
        const bool dbf = name.endsWith(QStringLiteral(".dbf"), Qt::CaseInsensitive);
        const QString target = dbf ? m_context.path(QStringLiteral("Data/") + name) : m_context.appDir() + name;
        if (!moveOver(f.filePath(), target))
            m_log.logMessage(QStringLiteral("Не удалось перенести файл %1 в %2")
                                 .arg(name, QDir::toNativeSeparators(target)),
                             Error, true);
    }
    if (skipped.isEmpty())
        return;
    std::sort(skipped.begin(), skipped.end());
    constexpr int kNamesShown = 5;
    QStringList shown;
    for (const QString &name : skipped.mid(0, kNamesShown))
        shown << QLatin1Char('"') + printableName(name) + QLatin1Char('"');
    m_log.logMessage(QStringLiteral("Файлы архива прайса, которые программе не нужны, не распакованы: %1 (%2%3)")
                         .arg(skipped.size())
                         .arg(shown.join(QStringLiteral(", ")),
                              skipped.size() > kNamesShown ? QStringLiteral(", ...") : QString()),
                     Warning, false);
}

void PriceUpdate::finishUpdateUi()
{
    call(ShowReceivePanel, false, 0);
    call(SetBusyCursor, false);
    m_dialogs.hideWait();
}

bool PriceUpdate::UpdatePrice()
{
    if (m_running)
        return false;
    struct Running {
        bool &flag;
        explicit Running(bool &f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(m_running);

    call(SwitchToOrderPage);
    JobLock job(m_dm, JobLock::Job::PriceUpdate);
    if (!job.AcquireOrTell(m_dialogs))
        return false;
    if (CheckUnloadedPriceFile())
        return m_lastLoadOk;

    call(SetBusyCursor, true);
    call(ShowReceivePanel, true, 0);
    m_connection.setLogin(m_settings.ClientAccount);
    // The question is put only when this program can fetch the documents.
    const bool checkDocuments =
        FetchDocuments && m_dialogs.askQuestion(QStringLiteral("Проверить дефектуры и накладные?"), true, false) == mrYes;
    bool sendInfo = true;
    if (m_settings.AskSendLog
        && m_dialogs.askQuestion(QStringLiteral("Отправлять журнал событий (рекомендуется отправлять)?"), true, false)
               != mrYes)
        sendInfo = false;

    bool loaded = false;
    try {
        if (!m_connection.ConnectToServer(true)) {
            m_connection.DisconnectFromServer();
            finishUpdateUi();
            return false;
        }
        // The archive is fetched and unpacked in a folder of its own, so a
        // broken download or unpacking leaves nothing behind.
        const QString data = m_context.path(QStringLiteral("Data/"));
        QDir().mkpath(data);
        for (const QFileInfo &stale : QDir(data).entryInfoList({kWorkFolderPrefix + QLatin1Char('*')},
                                                                QDir::Dirs | QDir::NoSymLinks | QDir::Hidden))
            QDir(stale.filePath()).removeRecursively();
        QTemporaryDir work(data + kWorkFolderPrefix + QStringLiteral("XXXXXX"));
        if (!work.isValid())
            throw AppError(QStringLiteral("Не удалось создать временную папку в %1: %2")
                               .arg(QDir::toNativeSeparators(data), work.errorString()));
        const QString workFolder = work.path() + QLatin1Char('/');

        QString archive;
        downloadArchive(workFolder, sendInfo, checkDocuments, archive);

        m_dialogs.hideWait();
        call(SetBusyCursor, true);
        m_dialogs.showWait(QStringLiteral("Подождите некоторое время, распаковка прайса..."), 1);
        m_refusedNames.clear();
        m_unwantedNames.clear();
        const QString unpacked = unpackArchive(workFolder, archive);

        const QString mainAddress = m_settings.ServerAddresses.value(0);
        IniFile(m_context.path(QStringLiteral("client.ini")))
            .writeString(QStringLiteral("Settings"), QStringLiteral("ServerAddress"), mainAddress);
        m_settings.PreviousServerAddress = mainAddress;

        const QString priceFile = findPriceFile(unpacked);
        if (priceFile.isEmpty())
            throw AppError(QStringLiteral("Нет файла прайса в архиве"));

        loaded = loadPriceFile(priceFile);
        if (loaded) {
            placeArchiveFiles(unpacked, priceFile);
            m_dialogs.hideWait();
            call(CheckProgramUpdate);
        }
    } catch (const std::exception &e) {
        finishUpdateUi();
        try {
            if (ReopenDatasets && (!m_dm.PriceSet() || !m_dm.PriceSet()->Active()) && m_dm.PriceHasData())
                m_dm.OpenPrice(true);
        } catch (const std::exception &reopen) {
            m_log.logMessage(errorText(reopen), Error, true);
        }
        // Cancelled because the program is closing: the old list stays, and
        // nothing is asked of a person who has already left.
        if (dynamic_cast<const ExchangeCancelled *>(&e)) {
            m_log.logMessage(QStringLiteral("Получение прайса прервано, прежний прайс-лист сохранён"), Warning, true);
            return false;
        }
        m_dialogs.showNotice(kPriceError, true);
        reportError(errorText(e));
        return false;
    }

    finishUpdateUi();
    call(ReloadTopPanel);
    try {
        if (ReopenDatasets && (!m_dm.PriceSet() || !m_dm.PriceSet()->Active()) && m_dm.PriceHasData())
            m_dm.OpenPrice(true);
    } catch (const std::exception &e) {
        m_log.logMessage(errorText(e), Error, true);
    }
    return loaded;
}

} // namespace pc
