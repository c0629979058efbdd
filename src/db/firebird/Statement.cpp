#include "db/firebird/Statement.h"

#include "db/firebird/Database.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Transaction.h"
#include "platform/CodePage.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ibase.h>

namespace pc::fb {

// ---------------------------------------------------------------------------
// Named parameters

namespace {

bool isNameStart(QChar c) { return c.isLetter() || c == QLatin1Char('_'); }
bool isNamePart(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$'); }

} // namespace

ParsedSql parseNamedParameters(const QString &sql, bool namedParameters)
{
    ParsedSql out;
    out.sql.reserve(sql.size());
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto addPosition = [&out](const QString &name) {
        const int pos = out.positionCount++;
        if (!name.isEmpty()) {
            for (size_t k = 0; k < out.names.size(); ++k) {
                if (out.names[k].compare(name, Qt::CaseInsensitive) == 0) {
                    out.positions[k].push_back(pos);
                    return;
                }
            }
        }
        out.names.push_back(name);
        out.positions.push_back({pos});
    };
    while (i < n) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // Quoted literal or identifier; a doubled quote stays inside.
            qsizetype j = i + 1;
            while (j < n) {
                if (sql.at(j) == c) {
                    if (j + 1 < n && sql.at(j + 1) == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            const qsizetype end = j < n ? j + 1 : n;
            out.sql += QStringView(sql).mid(i, end - i);
            i = end;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            qsizetype j = sql.indexOf(QLatin1Char('\n'), i);
            const qsizetype end = j < 0 ? n : j;
            out.sql += QStringView(sql).mid(i, end - i);
            i = end;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql.at(i + 1) == QLatin1Char('*')) {
            qsizetype j = sql.indexOf(QLatin1String("*/"), i + 2);
            const qsizetype end = j < 0 ? n : j + 2;
            out.sql += QStringView(sql).mid(i, end - i);
            i = end;
        } else if (namedParameters && c == QLatin1Char(':') && i + 1 < n && isNameStart(sql.at(i + 1))) {
            qsizetype j = i + 1;
            while (j < n && isNamePart(sql.at(j)))
                ++j;
            addPosition(sql.mid(i + 1, j - i - 1));
            out.sql += QLatin1Char('?');
            i = j;
        } else if (c == QLatin1Char('?')) {
            addPosition(QString());
            out.sql += c;
            ++i;
        } else {
            out.sql += c;
            ++i;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Statement

namespace {

constexpr int kJulianDayOfIscEpoch = 2400001; // 17 November 1858, day 0 of ISC_DATE

struct XsqldaDeleter {
    void operator()(XSQLDA *p) const { std::free(p); }
};
using XsqldaPtr = std::unique_ptr<XSQLDA, XsqldaDeleter>;

XsqldaPtr allocXsqlda(int count)
{
    const int n = count < 1 ? 1 : count;
    auto *p = static_cast<XSQLDA *>(std::calloc(1, XSQLDA_LENGTH(n)));
    if (!p)
        throw std::bad_alloc();
    p->version = SQLDA_VERSION1;
    p->sqln = short(n);
    return XsqldaPtr(p);
}

ColumnKind kindOf(int sqltype)
{
    switch (sqltype & ~1) {
    case SQL_TEXT: return ColumnKind::Char;
    case SQL_VARYING: return ColumnKind::VarChar;
    case SQL_SHORT: return ColumnKind::SmallInt;
    case SQL_LONG: return ColumnKind::Integer;
    case SQL_INT64: return ColumnKind::BigInt;
    case SQL_FLOAT: return ColumnKind::Float;
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return ColumnKind::Double;
    case SQL_TYPE_DATE: return ColumnKind::Date;
    case SQL_TYPE_TIME: return ColumnKind::Time;
    case SQL_TIMESTAMP: return ColumnKind::Timestamp;
    case SQL_BOOLEAN: return ColumnKind::Boolean;
    case SQL_BLOB: return ColumnKind::Blob;
    default: return ColumnKind::Other;
    }
}

qint64 pow10(int k)
{
    qint64 r = 1;
    while (k-- > 0)
        r *= 10;
    return r;
}

// Exact text of a scaled integer: 12345 with scale -2 gives "123.45".
QString scaledText(qint64 raw, int scale)
{
    if (scale >= 0)
        return QString::number(raw);
    const int digits = -scale;
    const bool negative = raw < 0;
    QString s = QString::number(negative ? -static_cast<unsigned long long>(raw) : static_cast<unsigned long long>(raw));
    if (s.size() <= digits)
        s = QString(digits - s.size() + 1, QLatin1Char('0')) + s;
    s.insert(s.size() - digits, QLatin1Char('.'));
    return negative ? QLatin1Char('-') + s : s;
}

QTime timeFromIsc(ISC_TIME t) { return QTime::fromMSecsSinceStartOfDay(int(t / 10)); }
ISC_TIME iscFromTime(const QTime &t) { return ISC_TIME(t.msecsSinceStartOfDay()) * 10; }

} // namespace

struct Statement::Impl {
    Transaction &tr;
    isc_stmt_handle handle = 0;
    QString sqlText;
    ParsedSql parsed;
    int stmtType = 0;
    bool cursorOpen = false;
    unsigned cursorGeneration = 0;
    bool pendingRow = false; // a singleton result waiting for fetch()
    bool haveRow = false;

    XsqldaPtr in;
    XsqldaPtr out;
    std::vector<char> outBuffer;
    std::vector<short> outNull;
    std::vector<Column> columns;

    // One buffer and indicator per "?" position; the described types are
    // kept so a null can be bound with the parameter's own type.
    struct InSlot {
        std::vector<char> data;
        short ind = -1;
        short describedType = SQL_VARYING;
        short describedSubType = 0;
        short describedLen = 0;
        short describedScale = 0;
    };
    std::vector<InSlot> inSlots;

    explicit Impl(Transaction &t) : tr(t) {}

    void ensureTransaction()
    {
        if (!tr.isActive())
            tr.start();
    }

    void requirePrepared() const
    {
        if (!handle)
            throw DbError(QStringLiteral("Запрос к базе данных не подготовлен."));
    }

    void drop() noexcept
    {
        if (cursorOpen)
            tr.cursorClosed(cursorGeneration);
        if (handle) {
            ISC_STATUS_ARRAY status{};
            isc_dsql_free_statement(status, &handle, DSQL_drop);
            handle = 0;
        }
        cursorOpen = pendingRow = haveRow = false;
    }

    void close() noexcept
    {
        if (cursorOpen)
            tr.cursorClosed(cursorGeneration);
        if (cursorOpen && handle) {
            ISC_STATUS_ARRAY status{};
            isc_dsql_free_statement(status, &handle, DSQL_close);
        }
        cursorOpen = false;
        pendingRow = false;
        haveRow = false;
    }

    void bindOutput()
    {
        // Lay out one buffer for all columns, each aligned to 8 bytes.
        size_t size = 0;
        std::vector<size_t> offsets(size_t(out->sqld));
        for (int i = 0; i < out->sqld; ++i) {
            XSQLVAR &v = out->sqlvar[i];
            size_t len = size_t(v.sqllen);
            if ((v.sqltype & ~1) == SQL_VARYING)
                len += 2;
            offsets[size_t(i)] = size;
            size += (len + 7) & ~size_t(7);
        }
        outBuffer.assign(size ? size : 8, 0);
        outNull.assign(size_t(out->sqld), 0);
        columns.clear();
        columns.reserve(size_t(out->sqld));
        for (int i = 0; i < out->sqld; ++i) {
            XSQLVAR &v = out->sqlvar[i];
            v.sqldata = outBuffer.data() + offsets[size_t(i)];
            v.sqlind = &outNull[size_t(i)];
            Column c;
            c.name = fromCp1251(std::string_view(v.aliasname, size_t(v.aliasname_length)));
            c.relation = fromCp1251(std::string_view(v.relname, size_t(v.relname_length)));
            c.kind = kindOf(v.sqltype);
            c.scale = v.sqlscale;
            c.length = v.sqllen;
            c.nullable = (v.sqltype & 1) != 0;
            columns.push_back(std::move(c));
        }
    }

    void bindInput()
    {
        inSlots.assign(size_t(in->sqld), InSlot{});
        for (int i = 0; i < in->sqld; ++i) {
            XSQLVAR &v = in->sqlvar[i];
            InSlot &s = inSlots[size_t(i)];
            s.describedType = short(v.sqltype & ~1);
            s.describedSubType = v.sqlsubtype;
            s.describedLen = v.sqllen;
            s.describedScale = v.sqlscale;
            setSlotNull(i);
        }
    }

    void setSlotNull(int pos)
    {
        InSlot &s = inSlots[size_t(pos)];
        XSQLVAR &v = in->sqlvar[pos];
        // A null keeps the described type; its buffer only has to exist.
        size_t len = size_t(s.describedLen) + 2;
        s.data.assign(len < 8 ? 8 : len, 0);
        s.ind = -1;
        v.sqltype = short(s.describedType | 1);
        v.sqlsubtype = s.describedSubType;
        v.sqllen = s.describedLen;
        v.sqlscale = s.describedScale;
        v.sqldata = s.data.data();
        v.sqlind = &s.ind;
    }

    void setSlot(int pos, short type, const void *bytes, size_t len, short subtype = 0)
    {
        InSlot &s = inSlots[size_t(pos)];
        XSQLVAR &v = in->sqlvar[pos];
        if (type == SQL_VARYING) {
            if (len > 32765)
                len = 32765;
            s.data.assign(len + 2, 0);
            const unsigned short l = static_cast<unsigned short>(len);
            std::memcpy(s.data.data(), &l, 2);
            if (len)
                std::memcpy(s.data.data() + 2, bytes, len);
            v.sqllen = short(len);
            // A text keeps the character set of a text parameter; for others
            // the engine converts plain bytes.
            const bool textParam = s.describedType == SQL_VARYING || s.describedType == SQL_TEXT;
            v.sqlsubtype = textParam ? s.describedSubType : subtype;
        } else {
            s.data.assign(len < 8 ? 8 : len, 0);
            std::memcpy(s.data.data(), bytes, len);
            v.sqllen = short(len);
            v.sqlsubtype = 0;
        }
        s.ind = 0;
        v.sqltype = short(type | 1);
        v.sqlscale = 0;
        v.sqldata = s.data.data();
        v.sqlind = &s.ind;
    }

    const std::vector<int> &positionsOf(int index) const
    {
        if (!handle)
            throw DbError(QStringLiteral("Запрос к базе данных не подготовлен."));
        if (index < 0 || size_t(index) >= parsed.names.size())
            throw DbError(QStringLiteral("У запроса к базе данных нет параметра с номером %1.").arg(index));
        return parsed.positions[size_t(index)];
    }

    template <typename F> void forEachPosition(int index, F f)
    {
        for (int pos : positionsOf(index))
            f(pos);
    }

    const XSQLVAR &var(int col) const
    {
        if (col < 0 || col >= int(columns.size()))
            throw DbError(QStringLiteral("У запроса к базе данных нет столбца с номером %1.").arg(col));
        return out->sqlvar[col];
    }

    bool null(const XSQLVAR &v) const { return !haveRow || ((v.sqltype & 1) && *v.sqlind == -1); }

    qint64 rawInt(const XSQLVAR &v) const
    {
        switch (v.sqltype & ~1) {
        case SQL_SHORT: { ISC_SHORT x; std::memcpy(&x, v.sqldata, sizeof x); return x; }
        case SQL_LONG: { ISC_LONG x; std::memcpy(&x, v.sqldata, sizeof x); return x; }
        case SQL_INT64: { ISC_INT64 x; std::memcpy(&x, v.sqldata, sizeof x); return x; }
        case SQL_BOOLEAN: return *reinterpret_cast<const unsigned char *>(v.sqldata) ? 1 : 0;
        default: return 0;
        }
    }

    double rawDouble(const XSQLVAR &v) const
    {
        if ((v.sqltype & ~1) == SQL_FLOAT) {
            float f;
            std::memcpy(&f, v.sqldata, sizeof f);
            return double(f);
        }
        double d;
        std::memcpy(&d, v.sqldata, sizeof d);
        return d;
    }

    std::string_view textOf(const XSQLVAR &v) const
    {
        switch (v.sqltype & ~1) {
        case SQL_TEXT: return std::string_view(v.sqldata, size_t(v.sqllen));
        case SQL_VARYING: {
            unsigned short len;
            std::memcpy(&len, v.sqldata, 2);
            return std::string_view(v.sqldata + 2, len);
        }
        default: return {};
        }
    }

    QByteArray blobOf(const XSQLVAR &v) const
    {
        ISC_QUAD id;
        std::memcpy(&id, v.sqldata, sizeof id);
        ISC_STATUS_ARRAY status{};
        isc_blob_handle blob = 0;
        if (isc_open_blob2(status, tr.database().handle(), tr.handle(), &blob, &id, 0, nullptr))
            throw DbError::fromStatus(status, tr.databaseOrNull(), QStringLiteral("Не удалось прочитать данные из базы данных."));
        QByteArray out;
        char segment[8192];
        for (;;) {
            unsigned short got = 0;
            const ISC_STATUS rc = isc_get_segment(status, &blob, &got, sizeof segment, segment);
            if (rc != 0 && rc != isc_segment) {
                if (rc == isc_segstr_eof)
                    break;
                DbError e = DbError::fromStatus(status, tr.databaseOrNull(), QStringLiteral("Не удалось прочитать данные из базы данных."));
                ISC_STATUS_ARRAY closeStatus{};
                isc_close_blob(closeStatus, &blob);
                throw e;
            }
            out.append(segment, got);
        }
        isc_close_blob(status, &blob);
        return out;
    }

    ISC_DATE rawDate(const XSQLVAR &v) const
    {
        ISC_DATE d;
        std::memcpy(&d, v.sqldata, sizeof d);
        return d;
    }

    ISC_TIMESTAMP rawTimestamp(const XSQLVAR &v) const
    {
        ISC_TIMESTAMP t;
        std::memcpy(&t, v.sqldata, sizeof t);
        return t;
    }
};

Statement::Statement(Transaction &transaction) : d(std::make_unique<Impl>(transaction)) {}

Statement::~Statement()
{
    d->drop();
}

void Statement::prepare(const QString &sql)
{
    prepareParsed(sql, true);
}

void Statement::preparePositional(const QString &sql)
{
    prepareParsed(sql, false);
}

void Statement::prepareParsed(const QString &sql, bool namedParameters)
{
    d->drop();
    d->in.reset();
    d->out.reset();
    d->columns.clear();
    d->inSlots.clear();
    d->sqlText = sql;
    d->parsed = parseNamedParameters(sql, namedParameters);
    Database &db = d->tr.database();
    if (!db.isAttached())
        throw DbError(QStringLiteral("База данных не открыта."));
    d->ensureTransaction();

    ISC_STATUS_ARRAY status{};
    isc_stmt_handle handle = 0;
    if (isc_dsql_allocate_statement(status, db.handle(), &handle))
        throw DbError::fromStatus(status, d->tr.databaseOrNull(), QStringLiteral("Не удалось подготовить запрос к базе данных."));
    d->handle = handle;

    const QByteArray text = toCp1251(d->parsed.sql);
    XsqldaPtr out = allocXsqlda(8);
    if (isc_dsql_prepare(status, d->tr.handle(), &d->handle, static_cast<unsigned short>(text.size() > 65535 ? 0 : text.size()),
                         text.constData(), SQL_DIALECT_V6, out.get())) {
        DbError e = DbError::fromStatus(status, d->tr.databaseOrNull(), QStringLiteral("Не удалось подготовить запрос к базе данных."));
        d->drop();
        throw e;
    }
    if (out->sqld > out->sqln) {
        out = allocXsqlda(out->sqld);
        if (isc_dsql_describe(status, &d->handle, SQL_DIALECT_V6, out.get())) {
            DbError e = DbError::fromStatus(status, d->tr.databaseOrNull(), QStringLiteral("Не удалось подготовить запрос к базе данных."));
            d->drop();
            throw e;
        }
    }
    XsqldaPtr in = allocXsqlda(8);
    if (isc_dsql_describe_bind(status, &d->handle, SQL_DIALECT_V6, in.get())) {
        DbError e = DbError::fromStatus(status, d->tr.databaseOrNull(), QStringLiteral("Не удалось подготовить запрос к базе данных."));
        d->drop();
        throw e;
    }
    if (in->sqld > in->sqln) {
        in = allocXsqlda(in->sqld);
        if (isc_dsql_describe_bind(status, &d->handle, SQL_DIALECT_V6, in.get())) {
            DbError e = DbError::fromStatus(status, d->tr.databaseOrNull(), QStringLiteral("Не удалось подготовить запрос к базе данных."));
            d->drop();
            throw e;
        }
    }
    if (in->sqld != d->parsed.positionCount) {
        const int got = in->sqld;
        d->drop();
        throw DbError(QStringLiteral("Не удалось подготовить запрос к базе данных: ядро видит параметров %1, в тексте их %2.")
                          .arg(got)
                          .arg(d->parsed.positionCount));
    }

    char item = isc_info_sql_stmt_type;
    char info[16]{};
    if (isc_dsql_sql_info(status, &d->handle, 1, &item, sizeof info, info)) {
        DbError e = DbError::fromStatus(status, d->tr.databaseOrNull(), QStringLiteral("Не удалось подготовить запрос к базе данных."));
        d->drop();
        throw e;
    }
    if (info[0] == isc_info_sql_stmt_type) {
        const short len = short(isc_vax_integer(info + 1, 2));
        d->stmtType = int(isc_vax_integer(info + 3, len));
    }

    d->out = std::move(out);
    d->in = std::move(in);
    d->bindOutput();
    d->bindInput();
}

bool Statement::isPrepared() const { return d->handle != 0; }
const QString &Statement::sql() const { return d->sqlText; }

bool Statement::isSelect() const
{
    return d->stmtType == isc_info_sql_stmt_select || d->stmtType == isc_info_sql_stmt_select_for_upd;
}

int Statement::paramCount() const { return int(d->parsed.names.size()); }

QString Statement::paramName(int index) const
{
    d->positionsOf(index);
    return d->parsed.names[size_t(index)];
}

int Statement::paramIndex(const QString &name) const
{
    for (size_t i = 0; i < d->parsed.names.size(); ++i)
        if (!d->parsed.names[i].isEmpty() && d->parsed.names[i].compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

ColumnKind Statement::paramKind(int index) const
{
    const std::vector<int> &pos = d->positionsOf(index);
    return kindOf(d->inSlots[size_t(pos.front())].describedType);
}

void Statement::setNull(int index)
{
    d->forEachPosition(index, [this](int pos) { d->setSlotNull(pos); });
}

void Statement::setInt(int index, qint64 value)
{
    const ISC_INT64 v = value;
    d->forEachPosition(index, [&](int pos) { d->setSlot(pos, SQL_INT64, &v, sizeof v); });
}

void Statement::setDouble(int index, double value)
{
    d->forEachPosition(index, [&](int pos) { d->setSlot(pos, SQL_DOUBLE, &value, sizeof value); });
}

void Statement::setText(int index, const QString &value)
{
    setBytes(index, toCp1251(value));
}

void Statement::setBytes(int index, const QByteArray &cp1251)
{
    d->forEachPosition(index, [&](int pos) { d->setSlot(pos, SQL_VARYING, cp1251.constData(), size_t(cp1251.size())); });
}

void Statement::setDate(int index, const QDate &value)
{
    if (!value.isValid()) {
        setNull(index);
        return;
    }
    const ISC_DATE v = ISC_DATE(value.toJulianDay() - kJulianDayOfIscEpoch);
    d->forEachPosition(index, [&](int pos) { d->setSlot(pos, SQL_TYPE_DATE, &v, sizeof v); });
}

void Statement::setDateTime(int index, const QDateTime &value)
{
    if (!value.isValid()) {
        setNull(index);
        return;
    }
    ISC_TIMESTAMP v;
    v.timestamp_date = ISC_DATE(value.date().toJulianDay() - kJulianDayOfIscEpoch);
    v.timestamp_time = iscFromTime(value.time());
    d->forEachPosition(index, [&](int pos) { d->setSlot(pos, SQL_TIMESTAMP, &v, sizeof v); });
}

void Statement::setValue(int index, const QVariant &value)
{
    if (!value.isValid() || value.isNull()) {
        setNull(index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        setInt(index, value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        setDouble(index, value.toDouble());
        break;
    case QMetaType::QByteArray:
        setBytes(index, value.toByteArray());
        break;
    case QMetaType::QDate:
        setDate(index, value.toDate());
        break;
    case QMetaType::QDateTime:
        setDateTime(index, value.toDateTime());
        break;
    default:
        setText(index, value.toString());
        break;
    }
}

void Statement::setValue(const QString &name, const QVariant &value)
{
    const int index = paramIndex(name);
    if (index < 0)
        throw DbError(QStringLiteral("У запроса к базе данных нет параметра %1.").arg(name));
    setValue(index, value);
}

void Statement::clearParams()
{
    for (size_t pos = 0; pos < d->inSlots.size(); ++pos)
        d->setSlotNull(int(pos));
}

void Statement::execute()
{
    d->requirePrepared();
    d->close();
    d->ensureTransaction();
    ISC_STATUS_ARRAY status{};
    XSQLDA *in = d->in->sqld > 0 ? d->in.get() : nullptr;
    if (isSelect()) {
        if (isc_dsql_execute(status, d->tr.handle(), &d->handle, SQL_DIALECT_V6, in))
            throw DbError::fromStatus(status, d->tr.databaseOrNull(), QStringLiteral("Не удалось выполнить запрос к базе данных."));
        d->cursorOpen = true;
        d->cursorGeneration = d->tr.cursorOpened();
    } else if (d->out->sqld > 0) {
        d->tr.noteWrite();
        if (isc_dsql_execute2(status, d->tr.handle(), &d->handle, SQL_DIALECT_V6, in, d->out.get()))
            throw DbError::fromStatus(status, d->tr.databaseOrNull(), QStringLiteral("Не удалось выполнить запрос к базе данных."));
        d->pendingRow = true;
    } else {
        d->tr.noteWrite();
        if (isc_dsql_execute(status, d->tr.handle(), &d->handle, SQL_DIALECT_V6, in))
            throw DbError::fromStatus(status, d->tr.databaseOrNull(), QStringLiteral("Не удалось выполнить запрос к базе данных."));
    }
}

bool Statement::fetch()
{
    d->requirePrepared();
    if (d->pendingRow) {
        d->pendingRow = false;
        d->haveRow = true;
        return true;
    }
    if (!d->cursorOpen) {
        d->haveRow = false;
        return false;
    }
    ISC_STATUS_ARRAY status{};
    const ISC_STATUS rc = isc_dsql_fetch(status, &d->handle, SQL_DIALECT_V6, d->out.get());
    if (rc == 0) {
        d->haveRow = true;
        return true;
    }
    if (rc == 100) {
        d->close();
        return false;
    }
    DbError e = DbError::fromStatus(status, d->tr.databaseOrNull(), QStringLiteral("Не удалось прочитать данные из базы данных."));
    d->close();
    throw e;
}

void Statement::closeCursor() { d->close(); }

qint64 Statement::rowsAffected() const
{
    if (!d->handle)
        return 0;
    char item = isc_info_sql_records;
    char info[64]{};
    ISC_STATUS_ARRAY status{};
    if (isc_dsql_sql_info(status, &d->handle, 1, &item, sizeof info, info) || info[0] != isc_info_sql_records)
        return 0;
    qint64 total = 0;
    const char *p = info + 3;
    const char *end = info + sizeof info;
    while (p < end && *p != isc_info_end) {
        const char code = *p++;
        const short len = short(isc_vax_integer(p, 2));
        p += 2;
        const qint64 value = isc_vax_integer(p, len);
        p += len;
        if (code == isc_info_req_insert_count || code == isc_info_req_update_count || code == isc_info_req_delete_count)
            total += value;
    }
    return total;
}

int Statement::columnCount() const { return int(d->columns.size()); }

const Column &Statement::column(int index) const
{
    if (index < 0 || index >= int(d->columns.size()))
        throw DbError(QStringLiteral("У запроса к базе данных нет столбца с номером %1.").arg(index));
    return d->columns[size_t(index)];
}

int Statement::columnIndex(const QString &name) const
{
    for (size_t i = 0; i < d->columns.size(); ++i)
        if (d->columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

bool Statement::isNull(int col) const { return d->null(d->var(col)); }

qint64 Statement::asInt64(int col) const
{
    const XSQLVAR &v = d->var(col);
    if (d->null(v))
        return 0;
    switch (v.sqltype & ~1) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
        const qint64 raw = d->rawInt(v);
        if (v.sqlscale >= 0)
            return raw * pow10(v.sqlscale);
        return std::llround(double(raw) / double(pow10(-v.sqlscale)));
    }
    case SQL_BOOLEAN: return d->rawInt(v);
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return std::llround(d->rawDouble(v));
    case SQL_TEXT:
    case SQL_VARYING: {
        const QString t = asText(col).trimmed();
        bool ok = false;
        const qint64 n = t.toLongLong(&ok);
        return ok ? n : std::llround(t.toDouble());
    }
    default: return 0;
    }
}

double Statement::asDouble(int col) const
{
    const XSQLVAR &v = d->var(col);
    if (d->null(v))
        return 0.0;
    switch (v.sqltype & ~1) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
        const qint64 raw = d->rawInt(v);
        if (v.sqlscale >= 0)
            return double(raw) * double(pow10(v.sqlscale));
        return double(raw) / double(pow10(-v.sqlscale));
    }
    case SQL_BOOLEAN: return double(d->rawInt(v));
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return d->rawDouble(v);
    case SQL_TEXT:
    case SQL_VARYING: return asText(col).trimmed().toDouble();
    default: return 0.0;
    }
}

QString Statement::asText(int col) const
{
    const XSQLVAR &v = d->var(col);
    if (d->null(v))
        return QString();
    switch (v.sqltype & ~1) {
    case SQL_TEXT:
    case SQL_VARYING: return fromCp1251(d->textOf(v));
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: return v.sqlscale < 0 ? scaledText(d->rawInt(v), v.sqlscale) : QString::number(asInt64(col));
    case SQL_BOOLEAN: return d->rawInt(v) ? QStringLiteral("1") : QStringLiteral("0");
    case SQL_FLOAT: return QString::number(d->rawDouble(v), 'g', 7);
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return QString::number(d->rawDouble(v), 'g', 15);
    case SQL_TYPE_DATE: return asDate(col).toString(Qt::ISODate);
    case SQL_TYPE_TIME: {
        ISC_TIME t;
        std::memcpy(&t, v.sqldata, sizeof t);
        return timeFromIsc(t).toString(QStringLiteral("HH:mm:ss"));
    }
    case SQL_TIMESTAMP: return asDateTime(col).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case SQL_BLOB: return fromCp1251(d->blobOf(v));
    default: return QString();
    }
}

QDate Statement::asDate(int col) const
{
    const XSQLVAR &v = d->var(col);
    if (d->null(v))
        return QDate();
    switch (v.sqltype & ~1) {
    case SQL_TYPE_DATE: return QDate::fromJulianDay(qint64(d->rawDate(v)) + kJulianDayOfIscEpoch);
    case SQL_TIMESTAMP: return QDate::fromJulianDay(qint64(d->rawTimestamp(v).timestamp_date) + kJulianDayOfIscEpoch);
    case SQL_TEXT:
    case SQL_VARYING: return QDate::fromString(asText(col).trimmed(), Qt::ISODate);
    default: return QDate();
    }
}

QDateTime Statement::asDateTime(int col) const
{
    const XSQLVAR &v = d->var(col);
    if (d->null(v))
        return QDateTime();
    switch (v.sqltype & ~1) {
    case SQL_TYPE_DATE: return QDateTime(asDate(col), QTime(0, 0));
    case SQL_TIMESTAMP: {
        const ISC_TIMESTAMP t = d->rawTimestamp(v);
        return QDateTime(QDate::fromJulianDay(qint64(t.timestamp_date) + kJulianDayOfIscEpoch), timeFromIsc(t.timestamp_time));
    }
    case SQL_TEXT:
    case SQL_VARYING: return QDateTime::fromString(asText(col).trimmed(), Qt::ISODate);
    default: return QDateTime();
    }
}

QVariant Statement::asVariant(int col) const
{
    const XSQLVAR &v = d->var(col);
    if (d->null(v))
        return QVariant();
    switch (v.sqltype & ~1) {
    case SQL_SHORT:
    case SQL_LONG:
        if (v.sqlscale < 0)
            return asDouble(col);
        return int(d->rawInt(v));
    case SQL_INT64:
        if (v.sqlscale < 0)
            return asDouble(col);
        return qlonglong(d->rawInt(v));
    case SQL_BOOLEAN: return d->rawInt(v) != 0;
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return d->rawDouble(v);
    case SQL_TYPE_DATE: return asDate(col);
    case SQL_TIMESTAMP: return asDateTime(col);
    case SQL_TYPE_TIME: {
        ISC_TIME t;
        std::memcpy(&t, v.sqldata, sizeof t);
        return timeFromIsc(t);
    }
    default: return asText(col);
    }
}

std::string_view Statement::rawText(int col) const
{
    const XSQLVAR &v = d->var(col);
    if (d->null(v))
        return {};
    return d->textOf(v);
}

} // namespace pc::fb
