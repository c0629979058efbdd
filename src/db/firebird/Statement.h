#pragma once
// A DSQL statement on one Transaction: prepare, bind parameters, execute,
// fetch. All XSQLDA handling of the program lives in this class.
//
// Parameters. The engine takes positional "?" only, so prepare() turns every
// ":NAME" outside quoted literals, quoted identifiers and comments into "?"
// and keeps a map from each distinct name to its positions; a name used twice
// is one parameter bound at both places. Parameter indexes count distinct
// parameters in order of first appearance (a bare "?" is a parameter of its
// own with an empty name). Names match case-insensitively. Values keep their
// own type (integer, double, text, date, timestamp) and the engine converts
// them to the parameter's type; an unset parameter is null. Values stay bound
// across executions until set again or clearParams().
//
// Columns. After execute() of a select, fetch() moves to the next row and
// returns false after the last one. Values are read by column index; a null
// reads as 0, empty text or an invalid date. Texts cross in cp1251 (the
// connection character set); CHAR columns come back blank-padded as the engine
// stores them. NUMERIC/DECIMAL come as scaled integers (Column::scale < 0) and
// read exactly through asText() and as the nearest double through asDouble().
//
// Statements that are not selects but return values (EXECUTE PROCEDURE,
// INSERT ... RETURNING) deliver them as one row to the first fetch().
//
// The transaction is started when a statement needs it and it is not active.
// Every engine failure throws DbError with the engine's message.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <memory>
#include <string_view>
#include <vector>

namespace pc::fb {

class Transaction;

enum class ColumnKind : unsigned char {
    Char,      // CHAR(n), blank-padded
    VarChar,   // VARCHAR(n)
    SmallInt,  // 16 bit (scale < 0: NUMERIC)
    Integer,   // 32 bit (scale < 0: NUMERIC)
    BigInt,    // 64 bit (scale < 0: NUMERIC); COUNT(...) comes back as this
    Float,     // 32-bit floating point
    Double,    // DOUBLE PRECISION
    Date,
    Time,
    Timestamp,
    Boolean,
    Blob,      // read as text (sub-type text) or raw bytes
    Other,
};

struct Column {
    QString name;     // alias as reported by the engine (upper case unless quoted)
    QString relation; // table the column comes from, empty for expressions
    ColumnKind kind = ColumnKind::Other;
    int scale = 0;    // < 0 for NUMERIC/DECIMAL
    int length = 0;   // bytes for texts
    bool nullable = true;
    bool isScaled() const { return scale < 0; }
};

// The result of turning ":NAME" into "?"; public for testing and for callers
// that want to know the parameters of a text without preparing it.
struct ParsedSql {
    QString sql;                            // the text with "?" in place of each ":NAME"
    std::vector<QString> names;             // distinct parameters, first appearance order
    std::vector<std::vector<int>> positions; // positions (0-based "?" order) of each parameter
    int positionCount = 0;                  // number of "?" in sql
};
// namedParameters false: ":NAME" stays as written (the variables of an
// EXECUTE BLOCK), only "?" are parameters.
ParsedSql parseNamedParameters(const QString &sql, bool namedParameters = true);

class Statement {
public:
    explicit Statement(Transaction &transaction);
    ~Statement(); // frees the engine statement; never throws
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // Prepares sql (after turning named parameters into positional ones).
    // A previous statement, its cursor and its parameter values are dropped.
    void prepare(const QString &sql);
    // Prepares sql as written: only "?" are parameters, ":NAME" is left to
    // the engine (the variables inside an EXECUTE BLOCK).
    void preparePositional(const QString &sql);
    bool isPrepared() const;
    const QString &sql() const;   // the text as given to prepare()
    bool isSelect() const;        // a cursor-returning statement

    // Parameters.
    int paramCount() const;
    QString paramName(int index) const;
    int paramIndex(const QString &name) const; // -1 when there is no such parameter
    // The type the engine expects at the parameter's first place.
    ColumnKind paramKind(int index) const;
    void setNull(int index);
    void setInt(int index, qint64 value);
    void setDouble(int index, double value);
    void setText(int index, const QString &value);   // encoded in cp1251; unknown characters become "?"
    void setBytes(int index, const QByteArray &cp1251);
    void setDate(int index, const QDate &value);      // invalid date = null
    void setDateTime(int index, const QDateTime &value); // invalid = null
    // Null/invalid, bool and integer types, double/float, QString, QByteArray
    // (cp1251 bytes), QDate, QDateTime; any other type is bound as its text.
    void setValue(int index, const QVariant &value);
    void setValue(const QString &name, const QVariant &value); // throws DbError for an unknown name
    void clearParams(); // every parameter null

    // Runs the statement; for a select opens the cursor (closing one still
    // open). Throws DbError.
    void execute();
    // Next row of the cursor; false after the last row (the cursor is then
    // closed). Throws DbError.
    bool fetch();
    void closeCursor(); // never throws
    // Rows inserted, updated or deleted by the last execute().
    qint64 rowsAffected() const;

    // Columns of the result (valid after prepare()).
    int columnCount() const;
    const Column &column(int index) const;
    int columnIndex(const QString &name) const; // case-insensitive, -1 when absent

    // Values of the current row.
    bool isNull(int col) const;
    qint64 asInt64(int col) const;   // doubles rounded to nearest, scaled values rounded
    int asInt(int col) const { return int(asInt64(col)); }
    double asDouble(int col) const;
    QString asText(int col) const;   // numbers in C-locale form, dates ISO
    QDate asDate(int col) const;
    QDateTime asDateTime(int col) const;
    QVariant asVariant(int col) const; // null gives an invalid QVariant
    // The cp1251 bytes of a text column as stored (no copy; valid until the
    // next fetch). Empty for other kinds.
    std::string_view rawText(int col) const;

private:
    void prepareParsed(const QString &sql, bool namedParameters);
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace pc::fb
