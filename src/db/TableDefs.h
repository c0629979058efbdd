#pragma once
// In-memory layouts of the nine local tables and the SQL texts rendered from
// them: CREATE TABLE and CREATE INDEX for a missing table, INSERT for the
// editable datasets. The layouts exist only here; nothing is read from a file.
//
// Three column names depend on the storage driver kind (DBF kinds keep the
// old DBF names): QntFieldName, ReadFieldName, SumFieldName. The definitions
// ask for them when they are built, so the driver kind must be known first.

#include <QString>
#include <QStringList>
#include <vector>

namespace pc {

// Storage driver kinds of client.ini [Header] DBDriver.
enum DriverKind : unsigned char { DriverOdbc = 0, DriverVfpOleDb = 1, DriverFirebird = 2 };

bool IsDBF(int driverKind);      // kinds 0 and 1
bool IsFirebird(int driverKind); // kind 2
QString QntFieldName(int driverKind);  // "COUNT" with a DBF kind, else "QNT"
QString ReadFieldName(int driverKind); // "READ" / "ISREAD"
QString SumFieldName(int driverKind);  // "SUM" / "SUMMA"

// Column kinds. Currency, Numeric and BCD are known to the type renderer only;
// no table uses them.
enum class FieldKind : unsigned char { Integer, Smallint, Float, String, Date, Currency, Numeric, BCD };

struct FieldDefEntry {
    QString Name;          // as written in SQL and in field lookups
    FieldKind FieldClass = FieldKind::Integer;
    bool Calculated = false; // exists only as a calculated dataset field
    int Size = 0;          // String: length in characters; Float: digits (not rendered)
    int Precision = 0;     // Float: decimals (not rendered)
    bool Indexed = false;  // single-column index on the embedded database
};

class TTableDefs {
public:
    explicit TTableDefs(QString name) : m_name(std::move(name)) {}
    const QString &Name() const { return m_name; }
    void Add(const FieldDefEntry &entry) { m_entries.push_back(entry); }
    int Count() const { return int(m_entries.size()); }
    FieldDefEntry GetDef(int i) const { return m_entries.at(size_t(i)); } // throws std::out_of_range
    const std::vector<FieldDefEntry> &Entries() const { return m_entries; }
    int IndexOf(const QString &name) const; // case-insensitive, -1 when absent

private:
    QString m_name;
    std::vector<FieldDefEntry> m_entries;
};

void AddFieldDef(TTableDefs &def, const QString &name, FieldKind kind, bool calculated, int size, int precision,
                 bool indexed);

// Positions of the definitions in the list BuildTableDefs returns.
enum TableDefId : int { TdPrice, TdPriceDet, TdOrders, TdOrdersL, TdDefect, TdDefectL, TdNaklad, TdNakladL, TdCount };

// The eight definitions, in the order of TableDefId. PRICEOLD shares PRICE's.
std::vector<TTableDefs> BuildTableDefs(int driverKind);

// The nine stored tables under the names the data module opens them by (these
// names also name their indexes), with the definition each is made from.
struct StoredTable {
    QString name;
    TableDefId def;
};
const std::vector<StoredTable> &StoredTables();

// Column type text: "INTEGER", "SMALLINT", "VARCHAR ( 20 ) " ... On the
// embedded database Float is "DOUBLE PRECISION" (its FLOAT is only 32 bits);
// the DBF kinds keep "FLOAT" and write strings as "STRING".
QString SqlTypeOf(const FieldDefEntry &entry, int driverKind);

// "CREATE TABLE <tableName> (<col> <type>, ...)" over the stored columns.
QString CreateTableSQL(const TTableDefs &def, const QString &tableName, int driverKind);
// One "CREATE INDEX <tableName>_IDX<pos> ON <tableName> (<col>)" per indexed
// column; empty unless driverKind is the embedded database.
QStringList CreateIndexSQL(const TTableDefs &def, const QString &tableName, int driverKind);
// "INSERT INTO <Name> (<cols>) VALUES (:<cols>)" over the stored columns;
// tableName replaces the definition's name (PRICEOLD shares PRICE's).
QString BuildInsertSQL(const TTableDefs &def, const QString &tableName = QString());

} // namespace pc
