#include "db/TableDefs.h"

namespace pc {

bool IsDBF(int driverKind) { return driverKind == DriverOdbc || driverKind == DriverVfpOleDb; }
bool IsFirebird(int driverKind) { return driverKind == DriverFirebird; }

QString QntFieldName(int driverKind) { return IsDBF(driverKind) ? QStringLiteral("COUNT") : QStringLiteral("QNT"); }
QString ReadFieldName(int driverKind) { return IsDBF(driverKind) ? QStringLiteral("READ") : QStringLiteral("ISREAD"); }
QString SumFieldName(int driverKind) { return IsDBF(driverKind) ? QStringLiteral("SUM") : QStringLiteral("SUMMA"); }

int TTableDefs::IndexOf(const QString &name) const
{
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].Name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

void AddFieldDef(TTableDefs &def, const QString &name, FieldKind kind, bool calculated, int size, int precision,
                 bool indexed)
{
    FieldDefEntry e;
    e.Name = name;
    e.FieldClass = kind;
    e.Calculated = calculated;
    e.Size = size;
    e.Precision = precision;
    e.Indexed = indexed;
    def.Add(e);
}

std::vector<TTableDefs> BuildTableDefs(int driverKind)
{
    using K = FieldKind;
    const bool calc = true, idx = true, no = false;
    const QString qnt = QntFieldName(driverKind);
    const QString read = ReadFieldName(driverKind);
    const QString sum = SumFieldName(driverKind);
    std::vector<TTableDefs> defs;
    defs.reserve(TdCount);

    TTableDefs &price = defs.emplace_back(QStringLiteral("PRICE"));
    AddFieldDef(price, QStringLiteral("IDTOVAR"), K::String, no, 20, 0, idx);
    AddFieldDef(price, QStringLiteral("TOVAR"), K::String, no, 100, 0, idx);
    AddFieldDef(price, QStringLiteral("PRICE"), K::Float, no, 12, 2, no);
    AddFieldDef(price, QStringLiteral("PRODUCT"), K::String, no, 50, 0, no);
    AddFieldDef(price, QStringLiteral("COUNTRY"), K::String, no, 40, 0, no);
    AddFieldDef(price, QStringLiteral("PRICER"), K::Float, no, 12, 2, no);
    AddFieldDef(price, QStringLiteral("PRICER_DISP"), K::Float, calc, 12, 2, no);
    AddFieldDef(price, QStringLiteral("GODEN"), K::Date, no, 0, 0, no);
    AddFieldDef(price, QStringLiteral("QNT"), K::Integer, no, 0, 0, no);
    AddFieldDef(price, QStringLiteral("QNTPACK"), K::Integer, no, 0, 0, no);
    AddFieldDef(price, QStringLiteral("NDS"), K::Integer, no, 0, 0, no);
    AddFieldDef(price, sum, K::Float, calc, 12, 2, no);
    AddFieldDef(price, QStringLiteral("PriceApteka"), K::Float, calc, 12, 2, no);
    AddFieldDef(price, QStringLiteral("PriceDec"), K::Float, calc, 12, 2, no);
    AddFieldDef(price, QStringLiteral("PriceOld"), K::Float, calc, 12, 2, no);
    AddFieldDef(price, QStringLiteral("QntOld"), K::Integer, calc, 0, 0, no);
    AddFieldDef(price, QStringLiteral("MINZAKAZ"), K::Integer, no, 0, 0, no);
    AddFieldDef(price, QStringLiteral("MINPROD"), K::Integer, no, 0, 0, no);
    AddFieldDef(price, QStringLiteral("COLOR"), K::Integer, no, 0, 0, no);
    AddFieldDef(price, QStringLiteral("HASDET"), K::Smallint, no, 0, 0, no);
    AddFieldDef(price, QStringLiteral("HASPOPUP"), K::Smallint, no, 0, 0, no);
    AddFieldDef(price, QStringLiteral("GV"), K::Smallint, no, 0, 0, no);
    AddFieldDef(price, QStringLiteral("GV_DISP"), K::String, calc, 3, 0, no);
    AddFieldDef(price, QStringLiteral("ZAKAZ"), K::Integer, no, 10, 0, idx);
    AddFieldDef(price, QStringLiteral("REGUDEXIST"), K::String, no, 20, 0, no);

    TTableDefs &det = defs.emplace_back(QStringLiteral("PRICE_DET"));
    AddFieldDef(det, QStringLiteral("IDTOVAR"), K::String, no, 14, 0, idx);
    AddFieldDef(det, QStringLiteral("POPUP"), K::String, no, 70, 0, no);
    AddFieldDef(det, QStringLiteral("INFO"), K::String, no, 250, 0, no);
    AddFieldDef(det, QStringLiteral("ISREF"), K::Smallint, no, 0, 0, no);

    TTableDefs &orders = defs.emplace_back(QStringLiteral("ORDERS"));
    AddFieldDef(orders, QStringLiteral("ID"), K::Integer, no, 10, 0, idx);
    AddFieldDef(orders, QStringLiteral("DATET"), K::Date, no, 0, 0, no);
    AddFieldDef(orders, QStringLiteral("PRICETIME"), K::String, no, 5, 0, no);
    AddFieldDef(orders, QStringLiteral("STATUS"), K::Smallint, no, 0, 0, no);
    AddFieldDef(orders, QStringLiteral("Sstatus"), K::String, calc, 100, 0, no);
    AddFieldDef(orders, QStringLiteral("SUMMA"), K::Float, no, 19, 2, no);
    AddFieldDef(orders, QStringLiteral("COMMENT"), K::String, no, 200, 0, no);
    AddFieldDef(orders, QStringLiteral("ORDERTIME"), K::String, no, 5, 0, no);
    // While an order file is being put under its own name on the server: that
    // name and the size sent. Set before the rename and cleared once the order
    // is marked sent, so that an interrupted send is checked before the order
    // goes out again. SENDHASH: the SHA-256 of the bytes sent (hex), so the
    // file found on the server is known for ours by its content.
    AddFieldDef(orders, QStringLiteral("SENDFILE"), K::String, no, 60, 0, no);
    AddFieldDef(orders, QStringLiteral("SENDSIZE"), K::Integer, no, 0, 0, no);
    AddFieldDef(orders, QStringLiteral("SENDHASH"), K::String, no, 64, 0, no);

    TTableDefs &lines = defs.emplace_back(QStringLiteral("ORDERSL"));
    AddFieldDef(lines, QStringLiteral("IDNAKL"), K::Integer, no, 10, 0, idx);
    // As wide as the price list's goods code: every row of the list can be ordered.
    AddFieldDef(lines, QStringLiteral("IDTOVAR"), K::String, no, 20, 0, no);
    AddFieldDef(lines, QStringLiteral("TOVAR"), K::String, no, 100, 0, no);
    AddFieldDef(lines, QStringLiteral("PRODUCT"), K::String, no, 50, 0, no);
    AddFieldDef(lines, qnt, K::Integer, no, 0, 0, no);
    AddFieldDef(lines, QStringLiteral("PRICE"), K::Float, no, 19, 2, no);
    AddFieldDef(lines, QStringLiteral("SUMMA"), K::Float, no, 19, 2, no);
    AddFieldDef(lines, QStringLiteral("PRICEDEC"), K::Float, calc, 19, 2, no);
    AddFieldDef(lines, QStringLiteral("SUMMADEC"), K::Float, calc, 19, 2, no);
    AddFieldDef(lines, QStringLiteral("CHANGE"), K::Smallint, no, 0, 0, no);

    TTableDefs &defect = defs.emplace_back(QStringLiteral("DEFECT"));
    AddFieldDef(defect, QStringLiteral("ID"), K::Integer, no, 0, 0, no);
    AddFieldDef(defect, QStringLiteral("NAKLDATE"), K::Date, no, 0, 0, no);
    AddFieldDef(defect, QStringLiteral("NUMBR"), K::String, no, 20, 0, no);
    AddFieldDef(defect, read, K::Smallint, no, 0, 0, no);

    TTableDefs &defectL = defs.emplace_back(QStringLiteral("DEFECTL"));
    AddFieldDef(defectL, QStringLiteral("IDDEFECT"), K::Integer, no, 10, 0, idx);
    AddFieldDef(defectL, QStringLiteral("IDTOVAR"), K::String, no, 14, 0, no);
    AddFieldDef(defectL, QStringLiteral("TOVAR"), K::String, no, 50, 0, no);
    AddFieldDef(defectL, QStringLiteral("PRODUCT"), K::String, no, 25, 0, no);
    AddFieldDef(defectL, qnt, K::Integer, no, 0, 0, no);

    TTableDefs &naklad = defs.emplace_back(QStringLiteral("NAKLAD"));
    AddFieldDef(naklad, QStringLiteral("ID"), K::Integer, no, 0, 0, no);
    AddFieldDef(naklad, QStringLiteral("NAKLDATE"), K::Date, no, 0, 0, no);
    AddFieldDef(naklad, QStringLiteral("NUMBR"), K::String, no, 20, 0, no);
    AddFieldDef(naklad, QStringLiteral("SUMM"), K::Float, calc, 19, 2, no);
    AddFieldDef(naklad, QStringLiteral("SUMMAPT"), K::Float, calc, 19, 2, no);
    AddFieldDef(naklad, read, K::Smallint, no, 0, 0, no);
    AddFieldDef(naklad, QStringLiteral("READ_OUT"), K::String, calc, 20, 0, no);

    TTableDefs &nakladL = defs.emplace_back(QStringLiteral("NAKLADL"));
    AddFieldDef(nakladL, QStringLiteral("LINENO"), K::Integer, no, 0, 0, no);
    AddFieldDef(nakladL, QStringLiteral("ID"), K::Integer, no, 10, 0, idx);
    AddFieldDef(nakladL, QStringLiteral("IDTOVAR"), K::String, no, 14, 0, idx);
    AddFieldDef(nakladL, QStringLiteral("TOVAR"), K::String, no, 100, 0, no);
    AddFieldDef(nakladL, QStringLiteral("PRODUCT"), K::String, no, 25, 0, no);
    AddFieldDef(nakladL, QStringLiteral("COUNTRY"), K::String, no, 25, 0, no);
    AddFieldDef(nakladL, QStringLiteral("SERIES"), K::String, no, 25, 0, no);
    AddFieldDef(nakladL, qnt, K::Integer, no, 0, 0, no);
    AddFieldDef(nakladL, QStringLiteral("PRICE"), K::Float, no, 19, 3, no);
    AddFieldDef(nakladL, sum, K::Float, no, 19, 3, no);
    AddFieldDef(nakladL, QStringLiteral("STNDS"), K::Smallint, no, 0, 0, no);
    AddFieldDef(nakladL, QStringLiteral("SUMNDS"), K::Float, no, 19, 3, no);
    AddFieldDef(nakladL, QStringLiteral("SROKGODN"), K::Date, no, 0, 0, no);
    AddFieldDef(nakladL, QStringLiteral("GV"), K::Smallint, no, 0, 0, no);
    AddFieldDef(nakladL, QStringLiteral("PRICE_PR"), K::Float, no, 19, 3, no);
    AddFieldDef(nakladL, QStringLiteral("PRREESTR"), K::Float, no, 19, 3, no);
    AddFieldDef(nakladL, QStringLiteral("EAN"), K::String, no, 13, 0, no);
    AddFieldDef(nakladL, QStringLiteral("GV_DISP"), K::String, calc, 1, 0, no);
    AddFieldDef(nakladL, QStringLiteral("PRICE_APT"), K::Float, no, 19, 3, no);
    AddFieldDef(nakladL, QStringLiteral("SUMMAPT"), K::Float, calc, 19, 2, no);
    AddFieldDef(nakladL, QStringLiteral("NACENKA_APT"), K::String, calc, 13, 0, no);

    return defs;
}

const std::vector<StoredTable> &StoredTables()
{
    static const std::vector<StoredTable> tables = {
        {QStringLiteral("Price"), TdPrice},     {QStringLiteral("PriceOld"), TdPrice},
        {QStringLiteral("Price_det"), TdPriceDet}, {QStringLiteral("Orders"), TdOrders},
        {QStringLiteral("OrdersL"), TdOrdersL}, {QStringLiteral("Defect"), TdDefect},
        {QStringLiteral("DefectL"), TdDefectL}, {QStringLiteral("Naklad"), TdNaklad},
        {QStringLiteral("NakladL"), TdNakladL},
    };
    return tables;
}

QString SqlTypeOf(const FieldDefEntry &entry, int driverKind)
{
    QString text;
    bool sized = false;
    switch (entry.FieldClass) {
    case FieldKind::Integer: text = QStringLiteral("INTEGER"); break;
    case FieldKind::Smallint: text = QStringLiteral("SMALLINT"); break;
    case FieldKind::Float:
        // The embedded engine's FLOAT is 32-bit and loses kopecks on large sums.
        text = IsFirebird(driverKind) ? QStringLiteral("DOUBLE PRECISION") : QStringLiteral("FLOAT");
        break;
    case FieldKind::String:
        text = IsDBF(driverKind) ? QStringLiteral("STRING") : QStringLiteral("VARCHAR");
        sized = true;
        break;
    case FieldKind::Currency:
    case FieldKind::Numeric:
    case FieldKind::BCD:
        text = QStringLiteral("NUMERIC");
        sized = true;
        break;
    case FieldKind::Date: text = QStringLiteral("DATE"); break;
    }
    if (sized && entry.Size > 0) {
        text += QStringLiteral(" ( ") + QString::number(entry.Size);
        if (entry.Precision > 0)
            text += QStringLiteral(" , ") + QString::number(entry.Precision);
        text += QStringLiteral(" ) ");
    }
    return text;
}

QString CreateTableSQL(const TTableDefs &def, const QString &tableName, int driverKind)
{
    QString sql = QStringLiteral("CREATE TABLE ") + tableName + QStringLiteral(" (");
    for (const FieldDefEntry &e : def.Entries()) {
        if (e.Calculated)
            continue;
        sql += e.Name + QLatin1Char(' ') + SqlTypeOf(e, driverKind) + QStringLiteral(", ");
    }
    sql.chop(2);
    sql += QLatin1Char(')');
    return sql;
}

QStringList CreateIndexSQL(const TTableDefs &def, const QString &tableName, int driverKind)
{
    QStringList out;
    if (!IsFirebird(driverKind))
        return out;
    for (int i = 0; i < def.Count(); ++i) {
        const FieldDefEntry &e = def.Entries()[size_t(i)];
        if (e.Indexed)
            out << QStringLiteral("CREATE INDEX ") + tableName + QStringLiteral("_IDX") + QString::number(i)
                       + QStringLiteral(" ON ") + tableName + QStringLiteral(" (") + e.Name + QLatin1Char(')');
    }
    return out;
}

QString BuildInsertSQL(const TTableDefs &def, const QString &tableName)
{
    const int last = def.Count() - 1;
    QString sql = QStringLiteral("INSERT INTO ") + (tableName.isEmpty() ? def.Name() : tableName) + QStringLiteral(" (");
    for (int i = 0; i <= last; ++i) {
        const FieldDefEntry &e = def.Entries()[size_t(i)];
        if (e.Calculated)
            continue;
        sql += e.Name;
        if (i != last)
            sql += QLatin1Char(',');
    }
    if (sql.endsWith(QLatin1Char(',')))
        sql.chop(1);
    sql += QStringLiteral(") VALUES (");
    for (int i = 0; i <= last; ++i) {
        const FieldDefEntry &e = def.Entries()[size_t(i)];
        if (e.Calculated)
            continue;
        sql += QLatin1Char(':') + e.Name;
        if (i != last)
            sql += QLatin1Char(',');
    }
    if (sql.endsWith(QLatin1Char(',')))
        sql.chop(1);
    sql += QLatin1Char(')');
    return sql;
}

} // namespace pc
