#include "db/Dataset.h"

#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Database.h"
#include "db/firebird/Transaction.h"
#include "platform/CodePage.h"

#include <QLocale>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <utility>

namespace pc {

namespace {

constexpr int kBufferRow = -2; // the edit buffer as the active row
constexpr qint64 kMsPerDay = 86400000;

[[noreturn]] void fail(const QString &text) { throw fb::DbError(text); }

// Versions are unique across datasets: a dataset made where another was
// never shows a version of the old one.
quint64 nextVersion()
{
    static std::atomic<quint64> last{0};
    return ++last;
}

FieldType typeOfColumn(const fb::Column &c)
{
    using K = fb::ColumnKind;
    if (c.isScaled())
        return FieldType::Float;
    switch (c.kind) {
    case K::SmallInt:
    case K::Boolean: return FieldType::Smallint;
    case K::Integer: return FieldType::Integer;
    case K::BigInt: return FieldType::LargeInt;
    case K::Float:
    case K::Double: return FieldType::Float;
    case K::Date: return FieldType::Date;
    case K::Time: return FieldType::Time;
    case K::Timestamp: return FieldType::DateTime;
    default: return FieldType::String;
    }
}

bool isNumericParam(fb::ColumnKind k)
{
    using K = fb::ColumnKind;
    return k == K::SmallInt || k == K::Integer || k == K::BigInt || k == K::Float || k == K::Double;
}

// Plain C form, the locale's form, or a decimal comma (the Russian system
// form) whatever the locale.
double parseDouble(const QString &text, bool *ok)
{
    double v = text.toDouble(ok);
    if (!*ok)
        v = QLocale().toDouble(text, ok);
    if (!*ok && !text.contains(QLatin1Char('.')))
        v = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(ok);
    return v;
}

QDate parseDate(const QString &text)
{
    for (const QString &format : {QStringLiteral("yyyy-MM-dd"), QStringLiteral("yyyyMMdd"), QStringLiteral("dd.MM.yyyy")}) {
        const QDate d = QDate::fromString(text.left(format.size()), format);
        if (d.isValid())
            return d;
    }
    return QLocale().toDate(text, QLocale::ShortFormat);
}

// The value converted to the field's own type; invalid for null.
QVariant coerce(FieldType type, const QVariant &v, const QString &fieldName)
{
    if (!v.isValid() || v.isNull())
        return QVariant();
    const bool isText = v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray;
    const QString text = isText ? v.toString().trimmed() : QString();
    if (isText && text.isEmpty() && type != FieldType::String)
        return QVariant();
    auto bad = [&]() -> QVariant {
        fail(QStringLiteral("«%1» — недопустимое значение поля %2").arg(v.toString(), fieldName));
    };
    switch (type) {
    case FieldType::String: return v.toString();
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::LargeInt: {
        qint64 n = 0;
        if (isText) {
            bool ok = false;
            n = text.toLongLong(&ok);
            if (!ok) {
                const double d = parseDouble(text, &ok);
                if (!ok)
                    return bad();
                n = std::llround(d);
            }
        } else if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
            n = std::llround(v.toDouble());
        } else {
            bool ok = false;
            n = v.toLongLong(&ok);
            if (!ok)
                return bad();
        }
        return type == FieldType::LargeInt ? QVariant(qlonglong(n)) : QVariant(int(n));
    }
    case FieldType::Float: {
        bool ok = false;
        const double d = isText ? parseDouble(text, &ok) : v.toDouble(&ok);
        return ok ? QVariant(d) : bad();
    }
    case FieldType::Date: {
        QDate d;
        if (v.typeId() == QMetaType::QDate)
            d = v.toDate();
        else if (v.typeId() == QMetaType::QDateTime)
            d = v.toDateTime().date();
        else if (isText)
            d = parseDate(text);
        return d.isValid() ? QVariant(d) : bad();
    }
    case FieldType::DateTime: {
        QDateTime t;
        if (v.typeId() == QMetaType::QDateTime)
            t = v.toDateTime();
        else if (v.typeId() == QMetaType::QDate)
            t = QDateTime(v.toDate(), QTime(0, 0));
        else if (isText) {
            t = QDateTime::fromString(text, Qt::ISODate);
            if (!t.isValid()) {
                const QDate d = parseDate(text);
                if (d.isValid())
                    t = QDateTime(d, QTime(0, 0));
            }
        }
        return t.isValid() ? QVariant(t) : bad();
    }
    case FieldType::Time: {
        QTime t = v.typeId() == QMetaType::QTime ? v.toTime() : QTime::fromString(text, Qt::ISODate);
        return t.isValid() ? QVariant(t) : bad();
    }
    }
    return QVariant();
}

} // namespace

// ---------------------------------------------------------------------------
// Storage

struct Dataset::Column {
    enum Store : unsigned char { I32, I64, F64, Text };
    FieldType type = FieldType::String;
    Store store = Text;
    std::vector<qint32> i32;
    std::vector<qint64> i64;
    std::vector<double> f64;
    std::vector<quint32> off, len;
    std::string bytes;
    std::vector<quint64> nulls;

    explicit Column(FieldType t) : type(t)
    {
        switch (t) {
        case FieldType::Smallint:
        case FieldType::Integer:
        case FieldType::Date:
        case FieldType::Time: store = I32; break;
        case FieldType::LargeInt:
        case FieldType::DateTime: store = I64; break;
        case FieldType::Float: store = F64; break;
        case FieldType::String: store = Text; break;
        }
    }
    bool isNull(int r) const { return (nulls[size_t(r) >> 6] >> (r & 63)) & 1u; }
    void setNull(int r, bool null)
    {
        const quint64 bit = quint64(1) << (r & 63);
        if (null)
            nulls[size_t(r) >> 6] |= bit;
        else
            nulls[size_t(r) >> 6] &= ~bit;
    }
    // Appends one null cell.
    void grow(int newRowCount)
    {
        switch (store) {
        case I32: i32.push_back(0); break;
        case I64: i64.push_back(0); break;
        case F64: f64.push_back(0); break;
        case Text:
            off.push_back(0);
            len.push_back(0);
            break;
        }
        if (size_t(newRowCount + 63) / 64 > nulls.size())
            nulls.push_back(0);
        setNull(newRowCount - 1, true);
    }
    std::string_view text(int r) const { return std::string_view(bytes.data() + off[size_t(r)], len[size_t(r)]); }
    // Gives back what the doubling growth of a load left unused.
    void trim()
    {
        i32.shrink_to_fit();
        i64.shrink_to_fit();
        f64.shrink_to_fit();
        off.shrink_to_fit();
        len.shrink_to_fit();
        bytes.shrink_to_fit();
        nulls.shrink_to_fit();
    }
    void setText(int r, std::string_view t)
    {
        off[size_t(r)] = quint32(bytes.size());
        len[size_t(r)] = quint32(t.size());
        bytes.append(t);
    }
};

struct Dataset::CalcCache {
    std::map<int, std::vector<QVariant>> rows;
};

Dataset::Dataset(fb::Transaction &transaction, QObject *parent)
    : QObject(parent), m_tr(transaction), m_calc(std::make_unique<CalcCache>())
{
}

Dataset::~Dataset()
{
    if (m_master)
        SetMaster(nullptr, QString());
    for (Dataset *child : m_children)
        child->m_master = nullptr;
}

void Dataset::SetSelectSQL(const QString &sql)
{
    m_selectSql = sql;
    m_select.reset();
}

void Dataset::SetModifySQL(const QString &sql)
{
    m_modifySql = sql;
    m_modify.reset();
}

void Dataset::SetInsertSQL(const QString &sql)
{
    m_insertSql = sql;
    m_insert.reset();
}

void Dataset::SetTableName(const QString &name)
{
    m_tableName = name;
    SetSelectSQL(QStringLiteral("SELECT * FROM ") + name);
}

void Dataset::SetParam(const QString &name, const QVariant &value)
{
    for (auto &p : m_params) {
        if (p.first.compare(name, Qt::CaseInsensitive) == 0) {
            p.second = value;
            return;
        }
    }
    m_params.emplace_back(name, value);
}

QVariant Dataset::Param(const QString &name) const
{
    for (const auto &p : m_params)
        if (p.first.compare(name, Qt::CaseInsensitive) == 0)
            return p.second;
    return QVariant();
}

// ---------------------------------------------------------------------------
// Fields

Field &Dataset::AddField(const QString &name, FieldType type, int size, bool calculated, const QString &displayFormat)
{
    if (Field *f = FindField(name))
        return *f;
    if (Active() && !calculated)
        fail(QStringLiteral("Cannot add data field %1 to an open dataset").arg(name));
    // A field object of that name from an earlier opening is reused, so that
    // pointers to it stay valid.
    Field *f = nullptr;
    for (auto &p : m_fieldPool)
        if (p->m_name.compare(name, Qt::CaseInsensitive) == 0)
            f = p.get();
    if (!f) {
        m_fieldPool.push_back(std::unique_ptr<Field>(new Field(this, name, type, size, calculated)));
        f = m_fieldPool.back().get();
    }
    f->m_type = type;
    f->m_size = size;
    f->m_calculated = calculated;
    f->m_added = true;
    f->m_displayFormat = displayFormat;
    if (Active()) { // a calculated field joins the open dataset at once
        f->m_slot = m_calcSlots++;
        m_fields.push_back(f);
        InvalidateCalcFields();
        emitReset();
    }
    return *f;
}

void Dataset::RemoveField(const QString &name)
{
    if (Active())
        fail(QStringLiteral("Cannot remove field %1 from an open dataset").arg(name));
    for (auto &p : m_fieldPool) {
        if (p->m_added && p->m_name.compare(name, Qt::CaseInsensitive) == 0) {
            p->m_added = false;
            return;
        }
    }
}

Field *Dataset::FindField(const QString &name) const
{
    // Names are compared letter by letter, so only names of the same length
    // can match (the lookups of every row's calculation ask this often).
    for (Field *f : m_fields)
        if (f->m_name.size() == name.size() && f->m_name.compare(name, Qt::CaseInsensitive) == 0)
            return f;
    if (!Active()) { // fields added while closed can be found before opening
        for (const auto &p : m_fieldPool)
            if (p->m_added && p->m_name.compare(name, Qt::CaseInsensitive) == 0)
                return p.get();
    }
    return nullptr;
}

Field &Dataset::FieldByName(const QString &name) const
{
    Field *f = FindField(name);
    if (!f)
        fail(QStringLiteral("Field '%1' not found").arg(name));
    return *f;
}

int Field::Index() const
{
    for (int i = 0; i < m_ds->FieldCount(); ++i)
        if (&m_ds->Fields(i) == this)
            return i;
    return -1;
}

bool Field::IsNull() const { return !m_ds->fieldValue(*this).isValid(); }
QString Field::AsString() const
{
    const QVariant v = m_ds->fieldValue(*this);
    if (!v.isValid())
        return QString();
    switch (m_type) {
    case FieldType::Float: return QString::number(v.toDouble(), 'g', 15);
    case FieldType::Date: return v.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    case FieldType::DateTime: return v.toDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    case FieldType::Time: return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    default: return v.toString();
    }
}
int Field::AsInteger() const { return int(AsLargeInt()); }
qint64 Field::AsLargeInt() const
{
    const QVariant v = m_ds->fieldValue(*this);
    if (!v.isValid())
        return 0;
    if (m_type == FieldType::Float)
        return std::llround(v.toDouble());
    if (m_type == FieldType::String)
        return coerce(FieldType::LargeInt, v, m_name).toLongLong();
    if (m_type == FieldType::Date)
        return v.toDate().toJulianDay();
    return v.toLongLong();
}
double Field::AsFloat() const
{
    const QVariant v = m_ds->fieldValue(*this);
    if (!v.isValid())
        return 0.0;
    if (m_type == FieldType::String)
        return coerce(FieldType::Float, v, m_name).toDouble();
    return v.toDouble();
}
QDateTime Field::AsDateTime() const
{
    const QVariant v = m_ds->fieldValue(*this);
    return v.isValid() ? coerce(FieldType::DateTime, v, m_name).toDateTime() : QDateTime();
}
QDate Field::AsDate() const { return AsDateTime().date(); }
QVariant Field::Value() const { return m_ds->fieldValue(*this); }

QString Field::DisplayText() const
{
    const QVariant v = m_ds->fieldValue(*this);
    if (!v.isValid())
        return QString();
    switch (m_type) {
    case FieldType::Float:
        if (!m_displayFormat.isEmpty())
            return FormatFloat(m_displayFormat, v.toDouble());
        {
            QLocale locale;
            locale.setNumberOptions(QLocale::OmitGroupSeparator);
            return locale.toString(v.toDouble(), 'g', 15);
        }
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::LargeInt:
        return m_displayFormat.isEmpty() ? v.toString() : FormatFloat(m_displayFormat, v.toDouble());
    case FieldType::Date: return QLocale().toString(v.toDate(), QLocale::ShortFormat);
    case FieldType::DateTime:
        return QLocale().toString(v.toDateTime().date(), QLocale::ShortFormat) + QLatin1Char(' ')
            + v.toDateTime().time().toString(QStringLiteral("HH:mm:ss"));
    case FieldType::Time: return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    case FieldType::String: return v.toString();
    }
    return v.toString();
}

void Field::SetAsString(const QString &value) { SetValue(value); }
void Field::SetAsInteger(qint64 value) { SetValue(qlonglong(value)); }
void Field::SetAsFloat(double value) { SetValue(value); }
void Field::SetAsDateTime(const QDateTime &value) { SetValue(value); }
void Field::SetAsDate(const QDate &value) { SetValue(value); }
void Field::SetValue(const QVariant &value) { m_ds->setFieldValue(*this, value); }
void Field::Clear() { SetValue(QVariant()); }

QString FormatFloat(const QString &pattern, double value)
{
    const qsizetype dot = pattern.indexOf(QLatin1Char('.'));
    const QString intPattern = dot < 0 ? pattern : pattern.left(dot);
    const QString fracPattern = dot < 0 ? QString() : pattern.mid(dot + 1);
    const bool grouping = intPattern.contains(QLatin1Char(','));
    const int minInt = int(intPattern.count(QLatin1Char('0')));
    const int minDec = int(fracPattern.count(QLatin1Char('0')));
    const int maxDec = minDec + int(fracPattern.count(QLatin1Char('#')));

    const QString digits = QString::number(std::fabs(value), 'f', maxDec);
    const qsizetype point = digits.indexOf(QLatin1Char('.'));
    QString whole = point < 0 ? digits : digits.left(point);
    QString frac = point < 0 ? QString() : digits.mid(point + 1);
    while (frac.size() > minDec && frac.endsWith(QLatin1Char('0')))
        frac.chop(1);
    if (whole == QLatin1String("0") && minInt == 0)
        whole.clear();
    while (whole.size() < minInt)
        whole.prepend(QLatin1Char('0'));
    const QLocale locale;
    if (grouping) {
        for (qsizetype i = whole.size() - 3; i > 0; i -= 3)
            whole.insert(i, locale.groupSeparator());
    }
    QString out = frac.isEmpty() ? whole : whole + locale.decimalPoint() + frac;
    const bool nonZero = std::any_of(out.begin(), out.end(), [](QChar c) { return c.isDigit() && c != QLatin1Char('0'); });
    if (value < 0 && nonZero)
        out.prepend(QLatin1Char('-'));
    return out;
}

// ---------------------------------------------------------------------------
// Values

void Dataset::clearStorage()
{
    m_version = nextVersion();
    m_columns.clear();
    m_rowCount = 0;
    m_view.clear();
    m_current = 0;
    m_calc->rows.clear();
}

void Dataset::loadRows(fb::Statement &st)
{
    const int n = st.columnCount();
    while (st.fetch()) {
        const int r = m_rowCount++;
        for (int c = 0; c < n; ++c) {
            Column &col = m_columns[size_t(c)];
            col.grow(m_rowCount);
            if (st.isNull(c))
                continue;
            col.setNull(r, false);
            switch (col.type) {
            case FieldType::Smallint:
            case FieldType::Integer: col.i32[size_t(r)] = qint32(st.asInt64(c)); break;
            case FieldType::Date: col.i32[size_t(r)] = qint32(st.asDate(c).toJulianDay()); break;
            case FieldType::Time: col.i32[size_t(r)] = st.asVariant(c).toTime().msecsSinceStartOfDay(); break;
            case FieldType::LargeInt: col.i64[size_t(r)] = st.asInt64(c); break;
            case FieldType::DateTime: {
                const QDateTime t = st.asDateTime(c);
                col.i64[size_t(r)] = t.date().toJulianDay() * kMsPerDay + t.time().msecsSinceStartOfDay();
                break;
            }
            case FieldType::Float: col.f64[size_t(r)] = st.asDouble(c); break;
            case FieldType::String: {
                const std::string_view raw = st.rawText(c);
                if (raw.data())
                    col.setText(r, raw);
                else
                    col.setText(r, toCp1251(st.asText(c)).toStdString()); // a blob
                break;
            }
            }
        }
    }
    for (Column &c : m_columns)
        c.trim();
}

bool Dataset::storedNull(int column, int row) const { return m_columns[size_t(column)].isNull(row); }

QVariant Dataset::storedValue(int column, int row) const
{
    const Column &c = m_columns[size_t(column)];
    if (c.isNull(row))
        return QVariant();
    const size_t r = size_t(row);
    switch (c.type) {
    case FieldType::Smallint:
    case FieldType::Integer: return c.i32[r];
    case FieldType::Date: return QDate::fromJulianDay(c.i32[r]);
    case FieldType::Time: return QTime::fromMSecsSinceStartOfDay(c.i32[r]);
    case FieldType::LargeInt: return qlonglong(c.i64[r]);
    case FieldType::DateTime:
        return QDateTime(QDate::fromJulianDay(c.i64[r] / kMsPerDay), QTime::fromMSecsSinceStartOfDay(int(c.i64[r] % kMsPerDay)));
    case FieldType::Float: return c.f64[r];
    case FieldType::String: return fromCp1251(std::string_view(c.bytes.data() + c.off[r], c.len[r]));
    }
    return QVariant();
}

void Dataset::storeValue(int column, int row, const QVariant &value)
{
    Column &c = m_columns[size_t(column)];
    const size_t r = size_t(row);
    c.setNull(row, !value.isValid());
    if (!value.isValid())
        return;
    switch (c.type) {
    case FieldType::Smallint:
    case FieldType::Integer: c.i32[r] = value.toInt(); break;
    case FieldType::Date: c.i32[r] = qint32(value.toDate().toJulianDay()); break;
    case FieldType::Time: c.i32[r] = value.toTime().msecsSinceStartOfDay(); break;
    case FieldType::LargeInt: c.i64[r] = value.toLongLong(); break;
    case FieldType::DateTime: {
        const QDateTime t = value.toDateTime();
        c.i64[r] = t.date().toJulianDay() * kMsPerDay + t.time().msecsSinceStartOfDay();
        break;
    }
    case FieldType::Float: c.f64[r] = value.toDouble(); break;
    case FieldType::String: c.setText(row, toCp1251(value.toString()).toStdString()); break;
    }
}

int Dataset::appendStorageRow()
{
    const int r = m_rowCount++;
    for (Column &c : m_columns)
        c.grow(m_rowCount);
    return r;
}

int Dataset::activePhysicalRow() const
{
    if (m_activeOverride >= 0)
        return m_activeOverride;
    if (m_view.empty())
        return -1;
    return m_view[size_t(m_current)];
}

bool Dataset::usingBuffer() const
{
    if (m_activeOverride == kBufferRow)
        return true;
    return m_activeOverride == -1 && (m_state == DatasetState::Edit || m_state == DatasetState::Insert);
}

const std::vector<QVariant> &Dataset::calcValues(int key) const
{
    auto it = m_calc->rows.find(key);
    if (it != m_calc->rows.end())
        return it->second;
    if (!m_inCalc && m_calc->rows.size() > 512)
        m_calc->rows.clear();
    it = m_calc->rows.emplace(key, std::vector<QVariant>(size_t(m_calcSlots))).first;
    if (OnCalcFields && !m_inCalc) {
        auto *self = const_cast<Dataset *>(this);
        const int saved = self->m_activeOverride;
        self->m_activeOverride = key;
        self->m_inCalc = true;
        try {
            self->OnCalcFields(*self);
        } catch (...) {
            self->m_inCalc = false;
            self->m_activeOverride = saved;
            throw;
        }
        self->m_inCalc = false;
        self->m_activeOverride = saved;
    }
    return it->second;
}

QVariant Dataset::fieldValue(const Field &f) const
{
    if (!Active())
        return QVariant();
    if (f.m_calculated) {
        const int key = usingBuffer() ? kBufferRow : activePhysicalRow();
        if (key < 0 && key != kBufferRow)
            return QVariant();
        if (f.m_slot < 0)
            return QVariant();
        return calcValues(key)[size_t(f.m_slot)];
    }
    if (f.m_slot < 0)
        return QVariant();
    if (usingBuffer())
        return m_buffer[size_t(f.m_slot)];
    const int row = activePhysicalRow();
    return row < 0 ? QVariant() : storedValue(f.m_slot, row);
}

void Dataset::setFieldValue(Field &f, const QVariant &value)
{
    requireActive("set a field");
    const QVariant v = coerce(f.m_type, value, f.m_name);
    if (f.m_calculated) {
        if (f.m_slot < 0)
            return;
        const int key = usingBuffer() ? kBufferRow : activePhysicalRow();
        if (key < 0 && key != kBufferRow)
            return;
        const_cast<std::vector<QVariant> &>(calcValues(key))[size_t(f.m_slot)] = v;
        return;
    }
    if (m_state != DatasetState::Edit && m_state != DatasetState::Insert)
        fail(QStringLiteral("Dataset not in edit or insert mode (field %1)").arg(f.m_name));
    m_buffer[size_t(f.m_slot)] = v;
    if (!m_inCalc)
        m_calc->rows.erase(kBufferRow);
}

int Dataset::VisibleRow(int physicalRow) const
{
    // The view keeps the physical order.
    const auto it = std::lower_bound(m_view.begin(), m_view.end(), physicalRow);
    return it != m_view.end() && *it == physicalRow ? int(it - m_view.begin()) : -1;
}

namespace {
void checkStored(const Field &f, int row, int rowCount)
{
    if (f.Calculated() || row < 0 || row >= rowCount)
        fail(QStringLiteral("No stored value of field %1 in row %2").arg(f.FieldName()).arg(row));
}
} // namespace

bool Dataset::StoredIsNull(const Field &field, int physicalRow) const
{
    checkStored(field, physicalRow, m_rowCount);
    return storedNull(field.m_slot, physicalRow);
}

std::string_view Dataset::StoredText(const Field &field, int physicalRow) const
{
    checkStored(field, physicalRow, m_rowCount);
    const Column &c = m_columns[size_t(field.m_slot)];
    if (c.store != Column::Text || c.isNull(physicalRow))
        return {};
    return c.text(physicalRow);
}

qint64 Dataset::StoredInteger(const Field &field, int physicalRow) const
{
    checkStored(field, physicalRow, m_rowCount);
    const Column &c = m_columns[size_t(field.m_slot)];
    if (c.isNull(physicalRow))
        return 0;
    switch (c.store) {
    case Column::I32: return c.i32[size_t(physicalRow)];
    case Column::I64: return c.i64[size_t(physicalRow)];
    case Column::F64: return std::llround(c.f64[size_t(physicalRow)]);
    case Column::Text: break;
    }
    return storedValue(field.m_slot, physicalRow).toLongLong();
}

QVariant Dataset::StoredValue(const Field &field, int physicalRow) const
{
    checkStored(field, physicalRow, m_rowCount);
    return storedValue(field.m_slot, physicalRow);
}

void Dataset::SetStoredValue(const Field &field, int physicalRow, const QVariant &value)
{
    checkStored(field, physicalRow, m_rowCount);
    const QVariant stored = coerce(field.m_type, value, field.m_name);
    storeValue(field.m_slot, physicalRow, stored);
    m_version = nextVersion();
    m_calc->rows.erase(physicalRow);
    if (ControlsDisabled())
        m_pendingReset = true;
    else if (const int visible = VisibleRow(physicalRow); visible >= 0)
        Q_EMIT rowChanged(visible);
    // An edit pending on that row compares against what is stored now.
    if (m_state == DatasetState::Edit && !m_view.empty() && m_view[size_t(m_current)] == physicalRow
        && size_t(field.m_slot) < m_oldBuffer.size())
        m_oldBuffer[size_t(field.m_slot)] = stored;
}

size_t Dataset::StorageBytes() const
{
    size_t total = m_view.capacity() * sizeof(int);
    for (const Column &c : m_columns)
        total += c.i32.capacity() * 4 + c.i64.capacity() * 8 + c.f64.capacity() * 8 + c.off.capacity() * 4
            + c.len.capacity() * 4 + c.bytes.capacity() + c.nulls.capacity() * 8;
    return total;
}

void Dataset::InvalidateCalcFields()
{
    m_calc->rows.clear();
    if (ControlsDisabled())
        m_pendingReset = true;
    else if (Active() && !m_view.empty())
        Q_EMIT layoutReset();
}

Dataset::ActiveRow::ActiveRow(Dataset &ds, int visibleRow) : m_ds(ds), m_saved(ds.m_activeOverride)
{
    if (visibleRow < 0 || visibleRow >= int(ds.m_view.size()))
        ds.m_activeOverride = -3; // no row: reads give null
    else if (visibleRow == ds.m_current && (ds.m_state == DatasetState::Edit || ds.m_state == DatasetState::Insert))
        ds.m_activeOverride = kBufferRow;
    else
        ds.m_activeOverride = ds.m_view[size_t(visibleRow)];
}

Dataset::ActiveRow::ActiveRow(Dataset &ds, Physical physical) : m_ds(ds), m_saved(ds.m_activeOverride)
{
    ds.m_activeOverride = physical.row >= 0 && physical.row < ds.m_rowCount ? physical.row : -3;
}

Dataset::ActiveRow::~ActiveRow() { m_ds.m_activeOverride = m_saved; }

// ---------------------------------------------------------------------------
// Open, close

fb::Statement &Dataset::statement(std::unique_ptr<fb::Statement> &slot, const QString &sql)
{
    if (!slot) {
        auto st = std::make_unique<fb::Statement>(m_tr);
        st->prepare(sql);
        slot = std::move(st);
    }
    return *slot;
}

QString Dataset::effectiveSelect() const
{
    if (!m_master || m_detailField.isEmpty())
        return m_selectSql;
    const QString link = m_detailField + QStringLiteral(" = :MASTER$LINK");
    if (!m_tableName.isEmpty() && m_selectSql == QStringLiteral("SELECT * FROM ") + m_tableName)
        return m_selectSql + QStringLiteral(" WHERE ") + link;
    return QStringLiteral("SELECT * FROM (") + m_selectSql + QStringLiteral(") WHERE ") + link;
}

void Dataset::bindParams(fb::Statement &st, bool post) const
{
    for (int i = 0; i < st.paramCount(); ++i) {
        const QString name = st.paramName(i);
        QVariant value;
        if (post) {
            const bool old = name.startsWith(QLatin1String("OLD_"), Qt::CaseInsensitive);
            const QString fieldName = old ? name.mid(4) : name;
            const Field *f = FindField(fieldName);
            if (!f)
                fail(QStringLiteral("No field for parameter %1").arg(name));
            if (f->m_calculated)
                value = fieldValue(*f);
            else
                value = old ? m_oldBuffer[size_t(f->m_slot)] : m_buffer[size_t(f->m_slot)];
        } else {
            bool fromMaster = false;
            if (m_master && (name.compare(QLatin1String("MASTER$LINK"), Qt::CaseInsensitive) == 0
                             || (m_detailField.isEmpty() && name.compare(m_masterField, Qt::CaseInsensitive) == 0))) {
                fromMaster = true;
                if (m_master->Active() && !m_master->IsEmpty()) {
                    const int saved = m_master->m_activeOverride;
                    m_master->m_activeOverride = -1;
                    value = m_master->FieldByName(m_masterField).Value();
                    m_master->m_activeOverride = saved;
                }
            }
            if (!fromMaster) {
                for (const auto &p : m_params)
                    if (p.first.compare(name, Qt::CaseInsensitive) == 0)
                        value = p.second;
            }
            // A text key against a number column: a text that is no number
            // matches nothing instead of failing the conversion.
            if (value.typeId() == QMetaType::QString && isNumericParam(st.paramKind(i))) {
                bool ok = false;
                const qlonglong n = value.toString().trimmed().toLongLong(&ok);
                value = ok ? QVariant(n) : QVariant();
            }
        }
        st.setValue(i, value);
    }
}

namespace {

// A read that finds no transaction running takes a short read-only snapshot
// of its own, ended as soon as the rows are in memory: the list is read as
// one consistent state of the database, whatever another workstation commits
// meanwhile, and no transaction is left open behind a list on the screen.
// A read inside a running transaction (a load, a save) is part of it and
// sees its changes.
class ReadScope {
public:
    explicit ReadScope(fb::Transaction &tr) : m_tr(tr)
    {
        fb::Database *db = tr.databaseOrNull();
        if (!tr.isActive() && db && db->isAttached()) {
            tr.startReadSnapshot();
            m_own = true;
        }
    }
    ~ReadScope()
    {
        if (!m_own)
            return;
        try {
            m_tr.rollback();
        } catch (const std::exception &) {
        }
    }
    ReadScope(const ReadScope &) = delete;
    ReadScope &operator=(const ReadScope &) = delete;
    void done()
    {
        if (!m_own)
            return;
        m_own = false;
        m_tr.commit();
    }

private:
    fb::Transaction &m_tr;
    bool m_own = false;
};

} // namespace

void Dataset::Open()
{
    if (Active())
        return;
    try {
        openRows();
    } catch (...) {
        // A dataset that did not open holds no statement, so its table can
        // be dropped and made again.
        m_select.reset();
        clearStorage();
        m_fields.clear();
        throw;
    }
}

void Dataset::openRows()
{
    const QString sql = effectiveSelect();
    if (sql.isEmpty())
        fail(QStringLiteral("Dataset has no select statement"));
    ReadScope read(m_tr);
    if (!m_select || m_select->sql() != sql) {
        m_select.reset();
        statement(m_select, sql);
    }
    fb::Statement &st = *m_select;
    bindParams(st, false);
    st.execute();

    // Fields: the columns of the select, then the added calculated ones.
    clearStorage();
    m_fields.clear();
    for (int c = 0; c < st.columnCount(); ++c) {
        const fb::Column &col = st.column(c);
        QString name = col.name;
        for (int k = 1; std::any_of(m_fields.begin(), m_fields.end(),
                                    [&](Field *f) { return f->m_name.compare(name, Qt::CaseInsensitive) == 0; });
             ++k)
            name = col.name + QLatin1Char('_') + QString::number(k);
        Field *field = nullptr;
        for (auto &p : m_fieldPool)
            if (!p->m_calculated && p->m_name.compare(name, Qt::CaseInsensitive) == 0)
                field = p.get();
        if (!field) {
            m_fieldPool.push_back(std::unique_ptr<Field>(new Field(this, name, typeOfColumn(col), 0, false)));
            field = m_fieldPool.back().get();
        }
        field->m_type = typeOfColumn(col);
        if (field->m_size == 0 && field->m_type == FieldType::String)
            field->m_size = col.length;
        field->m_slot = c;
        m_fields.push_back(field);
        m_columns.emplace_back(field->m_type);
    }
    m_calcSlots = 0;
    for (auto &p : m_fieldPool) {
        if (!p->m_added || std::find(m_fields.begin(), m_fields.end(), p.get()) != m_fields.end())
            continue;
        if (!p->m_calculated)
            fail(QStringLiteral("Field '%1' not found").arg(p->m_name));
        p->m_slot = m_calcSlots++;
        m_fields.push_back(p.get());
    }
    loadRows(st);
    read.done();
    m_state = DatasetState::Browse;
    showFirstRow();
}

void Dataset::Close()
{
    if (!Active()) {
        m_select.reset();
        m_modify.reset();
        m_insert.reset();
        return;
    }
    if (m_state == DatasetState::Edit || m_state == DatasetState::Insert)
        Cancel();
    // Statements are prepared again at the next opening: the database may
    // have been disconnected and connected again in between.
    m_select.reset();
    m_modify.reset();
    m_insert.reset();
    m_state = DatasetState::Inactive;
    clearStorage();
    m_fields.clear();
    m_bof = m_eof = true;
    notifyChildren();
    emitReset();
}

void Dataset::Refresh()
{
    requireActive("refresh");
    checkBrowse();
    const int recNo = RecNo();
    const auto after = std::move(AfterScroll);
    AfterScroll = nullptr;
    try {
        Close();
        Open();
    } catch (...) {
        AfterScroll = after;
        throw;
    }
    AfterScroll = after;
    afterReread(recNo);
}

// Back on the row number recNo (or the last row) after the rows were read or
// filtered again; the grids were already told.
void Dataset::afterReread(int recNo)
{
    if (recNo > 1 && !m_view.empty())
        moveTo(std::min(recNo, RecordCount()) - 1, false);
    if (!m_view.empty() && AfterScroll)
        AfterScroll(*this);
}

void Dataset::Resync()
{
    requireActive("resync");
    checkBrowse();
    const int recNo = RecNo();
    m_calc->rows.clear();
    resetView();
    afterReread(recNo);
}

void Dataset::Refilter() { Refilter(kNoBookmark); }

void Dataset::Refilter(Bookmark stayOn)
{
    requireActive("filter");
    checkBrowse();
    showRow(stayOn);
}

void Dataset::reopenAsDetail()
{
    checkBrowse();
    if (m_select)
        m_select->closeCursor();
    clearStorage();
    for (Field *f : m_fields)
        if (!f->m_calculated)
            m_columns.emplace_back(f->m_type);
    ReadScope read(m_tr);
    if (!m_select)
        statement(m_select, effectiveSelect());
    bindParams(*m_select, false);
    m_select->execute();
    loadRows(*m_select);
    read.done();
    showFirstRow();
}

// The view built again and put on its row current (its first row by
// default); the details and the bound grids follow.
void Dataset::resetView(int current)
{
    rebuildView();
    m_current = m_view.empty() ? 0 : std::clamp(current, 0, int(m_view.size()) - 1);
    m_bof = m_current == 0;
    m_eof = m_view.empty();
    notifyChildren();
    emitReset();
}

// After the rows were (re)read: the view from the first row, AfterScroll when
// there is a row.
void Dataset::showFirstRow() { showRow(kNoBookmark); }

void Dataset::showRow(Bookmark stayOn)
{
    int current = 0;
    if (stayOn >= 0) {
        rebuildView();
        current = std::max(0, VisibleRow(stayOn));
    }
    resetView(current);
    if (!m_view.empty() && AfterScroll)
        AfterScroll(*this);
}

void Dataset::rebuildView()
{
    m_version = nextVersion();
    m_view.clear();
    m_view.reserve(size_t(m_rowCount));
    const bool filter = m_filtered && OnFilterRecord;
    const bool rowFilter = m_filtered && RowFilter;
    for (int r = 0; r < m_rowCount; ++r) {
        if (rowFilter && !RowFilter(r))
            continue;
        if (filter) {
            const int saved = m_activeOverride;
            m_activeOverride = r;
            bool keep = false;
            try {
                keep = OnFilterRecord(*this);
            } catch (...) {
                m_activeOverride = saved;
                throw;
            }
            m_activeOverride = saved;
            if (!keep)
                continue;
        }
        m_view.push_back(r);
    }
    if (m_current >= int(m_view.size()))
        m_current = m_view.empty() ? 0 : int(m_view.size()) - 1;
}

void Dataset::SetFiltered(bool on) { SetFiltered(on, kNoBookmark); }

void Dataset::SetFiltered(bool on, Bookmark stayOn)
{
    if (m_filtered == on)
        return;
    m_filtered = on;
    if (!Active())
        return;
    checkBrowse();
    showRow(stayOn);
}

// ---------------------------------------------------------------------------
// Cursor

void Dataset::requireActive(const char *what) const
{
    if (!Active())
        fail(QStringLiteral("Cannot %1: dataset is closed").arg(QLatin1String(what)));
}

void Dataset::checkBrowse()
{
    if (m_state == DatasetState::Edit || m_state == DatasetState::Insert)
        Post();
}

void Dataset::moveTo(int row, bool fireEvents)
{
    if (m_view.empty())
        return;
    row = std::clamp(row, 0, int(m_view.size()) - 1);
    checkBrowse();
    if (row == m_current)
        return;
    if (fireEvents && BeforeScroll)
        BeforeScroll(*this);
    m_current = row;
    notifyChildren();
    if (!ControlsDisabled())
        Q_EMIT currentChanged(m_current);
    else
        m_pendingMove = true;
    if (fireEvents && AfterScroll)
        AfterScroll(*this);
}

void Dataset::First()
{
    requireActive("move");
    moveTo(0);
    m_bof = true;
    m_eof = m_view.empty();
}

void Dataset::Last()
{
    requireActive("move");
    moveTo(int(m_view.size()) - 1);
    m_eof = true;
    m_bof = m_view.empty();
}

void Dataset::Next() { MoveBy(1); }
void Dataset::Prior() { MoveBy(-1); }

int Dataset::MoveBy(int distance)
{
    requireActive("move");
    if (m_view.empty()) {
        m_bof = m_eof = true;
        return 0;
    }
    const int from = m_current;
    const int target = std::clamp(from + distance, 0, int(m_view.size()) - 1);
    moveTo(target);
    const int moved = m_current - from;
    m_eof = distance > 0 && moved < distance;
    m_bof = distance < 0 && moved > distance;
    return moved;
}

void Dataset::SetRecNo(int recNo)
{
    requireActive("move");
    moveTo(recNo - 1);
    m_bof = m_eof = false;
}

Dataset::Bookmark Dataset::GetBookmark() const
{
    if (!Active() || m_view.empty())
        return kNoBookmark;
    return m_view[size_t(m_current)];
}

bool Dataset::BookmarkValid(Bookmark b) const
{
    return Active() && b >= 0 && std::find(m_view.begin(), m_view.end(), b) != m_view.end();
}

bool Dataset::GotoBookmark(Bookmark b)
{
    requireActive("move");
    const auto it = std::find(m_view.begin(), m_view.end(), b);
    if (b < 0 || it == m_view.end())
        return false;
    moveTo(int(it - m_view.begin()));
    m_bof = m_eof = false;
    return true;
}

// ---------------------------------------------------------------------------
// Editing

void Dataset::Edit()
{
    requireActive("edit");
    if (m_state == DatasetState::Edit || m_state == DatasetState::Insert)
        return;
    if (m_view.empty()) {
        Append();
        return;
    }
    const int row = m_view[size_t(m_current)];
    m_buffer.assign(m_columns.size(), QVariant());
    for (size_t c = 0; c < m_columns.size(); ++c)
        m_buffer[c] = storedValue(int(c), row);
    m_oldBuffer = m_buffer;
    m_calc->rows.erase(kBufferRow);
    m_state = DatasetState::Edit;
}

void Dataset::Append()
{
    requireActive("append");
    checkBrowse();
    m_buffer.assign(m_columns.size(), QVariant());
    m_oldBuffer = m_buffer;
    m_calc->rows.erase(kBufferRow);
    m_state = DatasetState::Insert;
}

void Dataset::Post()
{
    if (m_state != DatasetState::Edit && m_state != DatasetState::Insert)
        return;
    const bool inserting = m_state == DatasetState::Insert;
    const QString &sql = inserting ? m_insertSql : m_modifySql;
    if (sql.isEmpty())
        fail(inserting ? QStringLiteral("Dataset has no insert statement") : QStringLiteral("Dataset has no modify statement"));
    fb::Statement &st = statement(inserting ? m_insert : m_modify, sql);
    bindParams(st, true);
    st.execute();
    // An update that finds no row (its key changed meanwhile, or a key
    // column is null and "=" cannot match it) must not leave the cached row
    // showing a value the database does not hold.
    if (!inserting && st.rowsAffected() == 0)
        fail(QStringLiteral("Строка не найдена в базе данных, изменение не сохранено"));

    int row;
    if (inserting) {
        row = appendStorageRow();
        m_view.push_back(row);
    } else {
        row = m_view[size_t(m_current)];
    }
    for (size_t c = 0; c < m_columns.size(); ++c)
        storeValue(int(c), row, m_buffer[c]);
    m_state = DatasetState::Browse;
    m_version = nextVersion();
    m_calc->rows.erase(kBufferRow);
    m_calc->rows.erase(row);
    m_buffer.clear();
    m_oldBuffer.clear();
    if (inserting) {
        m_current = int(m_view.size()) - 1;
        m_bof = false;
        m_eof = false;
        if (!ControlsDisabled()) {
            Q_EMIT rowAppended(m_current);
            Q_EMIT currentChanged(m_current);
        }
        notifyChildren();
    } else if (!ControlsDisabled()) {
        Q_EMIT rowChanged(m_current);
    }
    if (ControlsDisabled())
        m_pendingReset = true;
    if (!inserting) {
        // A changed key moves the details.
        for (Dataset *child : m_children)
            if (child->Active())
                child->reopenAsDetail();
    }
    if (AfterPost)
        AfterPost(*this);
}

void Dataset::Cancel()
{
    if (m_state != DatasetState::Edit && m_state != DatasetState::Insert)
        return;
    m_state = DatasetState::Browse;
    m_buffer.clear();
    m_oldBuffer.clear();
    m_calc->rows.erase(kBufferRow);
    if (!m_view.empty() && !ControlsDisabled())
        Q_EMIT rowChanged(m_current);
    else if (ControlsDisabled())
        m_pendingReset = true;
}

// ---------------------------------------------------------------------------
// Search

namespace {
int findRow(Dataset &ds, Field &field, const QVariant &value, Dataset::LocateOptions options)
{
    const bool text = field.DataType() == FieldType::String;
    const Qt::CaseSensitivity cs = options.caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
    const QString wanted = text ? value.toString() : QString();
    QVariant key;
    if (!text) {
        try {
            key = coerce(field.DataType(), value, field.FieldName());
        } catch (const fb::DbError &) {
            return -1; // a value of the wrong kind matches nothing
        }
    }
    for (int r = 0; r < ds.RecordCount(); ++r) {
        Dataset::ActiveRow at(ds, r);
        if (text) {
            const QString have = field.AsString();
            if (options.partialKey ? have.startsWith(wanted, cs) : have.compare(wanted, cs) == 0)
                return r;
        } else {
            const QVariant have = field.Value();
            if (!key.isValid() || !have.isValid()) {
                if (!key.isValid() && !have.isValid())
                    return r;
                continue;
            }
            if (field.DataType() == FieldType::Float ? have.toDouble() == key.toDouble() : have == key)
                return r;
        }
    }
    return -1;
}
} // namespace

bool Dataset::Locate(const QString &fieldName, const QVariant &value, LocateOptions options)
{
    requireActive("locate");
    checkBrowse();
    const int r = findRow(*this, FieldByName(fieldName), value, options);
    if (r < 0)
        return false;
    moveTo(r);
    m_bof = m_eof = false;
    return true;
}

QVariant Dataset::Lookup(const QString &keyField, const QVariant &keyValue, const QString &resultField)
{
    requireActive("look up");
    Field &result = FieldByName(resultField);
    const int r = findRow(*this, FieldByName(keyField), keyValue, {});
    if (r < 0)
        return QVariant();
    ActiveRow at(*this, r);
    return result.Value();
}

// ---------------------------------------------------------------------------
// Master-detail and controls

void Dataset::SetMaster(Dataset *master, const QString &masterField, const QString &detailField)
{
    if (m_master) {
        auto &siblings = m_master->m_children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    m_master = master;
    m_masterField = masterField;
    m_detailField = detailField;
    m_select.reset();
    if (m_master)
        m_master->m_children.push_back(this);
}

void Dataset::notifyChildren()
{
    if (ControlsDisabled()) {
        m_pendingMove = m_pendingMove || !m_children.empty();
        return;
    }
    for (Dataset *child : m_children)
        if (child->Active())
            child->reopenAsDetail();
}

void Dataset::DisableControls() { ++m_disabled; }

void Dataset::EnableControls()
{
    if (m_disabled == 0 || --m_disabled > 0)
        return;
    const bool reset = std::exchange(m_pendingReset, false), moved = std::exchange(m_pendingMove, false);
    if (reset || moved)
        notifyChildren();
    if (reset)
        emitReset();
    else if (moved && Active() && !m_view.empty())
        Q_EMIT currentChanged(m_current);
}

void Dataset::emitReset()
{
    if (ControlsDisabled()) {
        m_pendingReset = true;
        return;
    }
    Q_EMIT layoutReset();
    if (Active() && !m_view.empty())
        Q_EMIT currentChanged(m_current);
}

} // namespace pc
