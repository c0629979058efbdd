#pragma once
// Read-only, sequential reader of the supplier's DBF tables (dBase III/IV/VII,
// Clipper, FoxPro, Visual FoxPro) with their .dbt/.fpt memo files.
//
// Usage is always the same: set DBFFileName, setActive(true), setOEM(true),
// First(), then while !Eof() read columns through FieldByName/FindField and
// call Next(); finally setActive(false). Records are read in large blocks;
// a column's value is decoded from the current record's bytes only when it
// is asked for.

#include <QAnyStringView>
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QIODevice>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pc {

// Every failure of the reader: opening errors and unknown column names.
// Damaged() tells a file that is not whole (cut short in transfer, a header
// that does not fit the file) from the other failures.
class DbfError : public std::runtime_error {
public:
    explicit DbfError(const QString &text, bool damaged = false);
    const QString &text() const { return m_text; }
    bool Damaged() const { return m_damaged; }

private:
    QString m_text;
    bool m_damaged = false;
};

// The table kinds told apart by the version byte.
enum class DbfTableKind : uint8_t { DBase3, Clipper, DBase4, DBase7, FoxPro, VisualFoxPro };

class DbfReader;

// One column of the open table, owned by the reader and gone when the table
// is closed. Values are read from the reader's current record; without one
// (before First, after the end) every value is null. Columns of other types
// than a conversion expects (text read as a number, a number read as a date)
// are converted where that makes sense and throw DbfError where it does not.
class DbfField {
public:
    const QString &FieldName() const { return m_name; }
    char DataType() const { return m_type; } // the type letter, upper case
    int Size() const { return m_size; }       // bytes in the record
    int Decimals() const { return m_decimals; }
    int Offset() const { return m_offset; }   // from the record start (byte 0 is the deletion flag)
    uint8_t Flags() const { return m_flags; } // Visual FoxPro column flags

    bool IsNull() const;
    // True when a number or date column holds something that is neither
    // blank nor a value of its type ("12a", "*****", the 30th of February):
    // it reads as null, and an import says how many such cells it met.
    bool IsUnreadable() const;
    // Null reads as "", 0, false and the zero date (30.12.1899 00:00).
    QString AsString() const;
    qint64 AsInteger() const;
    double AsFloat() const;
    bool AsBoolean() const;
    QDate AsDate() const; // null: an invalid QDate
    QDateTime AsDateTime() const;
    QVariant AsVariant() const; // null: a null QVariant
    // The stored bytes, untranslated; for memo columns the memo's content.
    QByteArray AsBytes() const;
    // The column's bytes inside the current record, without a copy; empty
    // without a current record. Valid until the cursor moves.
    std::string_view RawBytes() const;
    // A plain text column: character data that is neither binary, nor a memo,
    // nor able to hold a null. Its value never reads as null.
    bool IsPlainText() const { return m_kind == Kind::Text && m_nullBit < 0; }
    // For a plain text column with a current record: appends the text in code
    // page 1251 with its trailing blanks cut (what AsString gives, trimmed and
    // encoded in 1251) and returns true. Otherwise appends nothing, false.
    bool AppendCp1251Text(std::string &out) const;

    static QDateTime ZeroDateTime();

private:
    friend class DbfReader;

    // How the bytes of the column are turned into a value.
    enum class Kind : uint8_t {
        Text,           // C and letters without a rule of their own
        BinaryText,     // C with the Visual FoxPro binary flag
        Number,         // N, F with decimals: double
        Integer,        // N, F without decimals: 32- or 64-bit integer
        Date,           // D: YYYYMMDD
        Logical,        // L
        Memo,           // M: text in the memo file
        BinaryMemo,     // M with the binary flag, B outside Visual FoxPro, G, P
        IntLE,          // I in Visual FoxPro
        IntSortable,    // I and + in dBase VII
        DoubleLE,       // B, O in Visual FoxPro
        DoubleSortable, // O in dBase VII
        Currency,       // Y: 64-bit integer of ten-thousandths
        DateTimeVfp,    // T: Julian day and milliseconds
        Timestamp7,     // @ in dBase VII: milliseconds since Julian day 0
        Raw,            // 0 (null flags), E
    };

    // A decoded scalar; texts and byte strings are produced separately.
    struct Value {
        enum Tag : uint8_t { Null, Int, Float, Bool, Date, Stamp, Text, Bytes } tag = Null;
        qint64 i = 0; // Int; Bool; Date and Stamp: Julian day
        double f = 0; // Float
        int ms = 0;   // Stamp: milliseconds since midnight
    };

    DbfField(const DbfReader *reader, QString name, char type, Kind kind, int offset, int size, int decimals,
             uint8_t flags);

    Value value() const;
    QByteArray memoBytes(const char *rec) const;
    std::string_view textToConvert(QByteArray &holder) const;
    QString decodeText(std::string_view bytes) const;

    const DbfReader *m_reader;
    QString m_name;
    QByteArray m_asciiName; // the name when it is plain ASCII (upper case), for fast lookups
    char m_type;
    Kind m_kind;
    uint8_t m_flags;
    int m_offset;
    int m_size;
    int m_decimals;
    int m_nullBit = -1; // bit in the Visual FoxPro _NullFlags column, -1: none
};

class DbfReader {
public:
    DbfReader();
    ~DbfReader();
    DbfReader(const DbfReader &) = delete;
    DbfReader &operator=(const DbfReader &) = delete;

    const QString &DBFFileName() const { return m_fileName; }
    void setDBFFileName(const QString &path) { m_fileName = path; } // applies at the next opening

    bool Active() const { return m_active; }
    void setActive(bool active);
    void Open() { setActive(true); }
    void Close() { setActive(false); }

    // true: character data is in code page 866; false: in code page 1251.
    bool OEM() const { return m_oem; }
    void setOEM(bool oem) { m_oem = oem; }

    // true: records marked deleted are skipped.
    bool SetDeleted() const { return m_setDeleted; }
    void setSetDeleted(bool skip) { m_setDeleted = skip; }

    // Must hold at least one record (checked when opening). Reading itself
    // uses larger blocks.
    int BufferSize() const { return m_bufferSize; }
    void setBufferSize(int bytes) { m_bufferSize = bytes; }

    QIODevice::OpenMode AccessMode() const { return m_accessMode; }
    void setAccessMode(QIODevice::OpenMode mode) { m_accessMode = mode; }

    void First();
    void Next();
    bool Eof() const { return m_eof; }

    // Case-insensitive; FieldByName throws DbfError for an unknown name,
    // FindField returns nullptr.
    DbfField &FieldByName(QAnyStringView name) const;
    DbfField *FindField(QAnyStringView name) const;
    int FieldCount() const { return int(m_fields.size()); }
    DbfField &Fields(int index) const { return *m_fields.at(size_t(index)); }

    // Of the open table.
    uint8_t Version() const { return m_version; }
    DbfTableKind TableKind() const { return m_kind; }
    // Whole records in the file, deleted ones included. A header count of 0
    // or below that is ignored; a header count above it means the file was
    // cut short, and opening fails (DbfError::Damaged).
    qint64 RecordCount() const { return m_recordCount; }
    int RecordLength() const { return m_recordLength; }
    int HeaderLength() const { return m_headerLength; }
    qint64 RecNo() const { return m_current ? m_recNo + 1 : 0; } // 1-based; 0 without a current record
    bool IsDeleted() const { return m_current && m_current[0] == '*'; }
    bool HasMemoFile() const { return m_memo != nullptr; }

private:
    friend class DbfField;
    struct MemoFile;

    void open();
    void close();
    [[noreturn]] void fail(const QString &text);
    [[noreturn]] void failDamaged(const QString &what);
    void readFields(const QByteArray &descriptors, int descriptorSize);
    void openMemo();
    void moveTo(qint64 index);
    bool loadBlock(qint64 index);
    QByteArray readMemo(quint32 block) const;

    QString m_fileName;
    bool m_active = false;
    bool m_oem = false;
    bool m_setDeleted = false;
    int m_bufferSize = 4096;
    QIODevice::OpenMode m_accessMode = QIODevice::ReadOnly;

    QFile m_file;
    uint8_t m_version = 0;
    DbfTableKind m_kind = DbfTableKind::DBase3;
    uint8_t m_tableFlags = 0;
    int m_headerLength = 0;
    int m_recordLength = 0;
    qint64 m_recordCount = 0;
    std::vector<std::unique_ptr<DbfField>> m_fields;
    const DbfField *m_nullFlags = nullptr;
    std::unique_ptr<MemoFile> m_memo;

    // Records [m_blockFirst, m_blockFirst + m_blockCount) are in m_block.
    std::vector<char> m_block;
    qint64 m_blockCapacity = 0; // records per block
    qint64 m_blockFirst = 0;
    qint64 m_blockCount = 0;
    qint64 m_recNo = -1;
    const char *m_current = nullptr;
    bool m_eof = true;
    mutable size_t m_lookupHint = 0; // where FindField starts looking
};

// Counts, per column, the cells an import could not read as numbers or dates
// and took as empty, for the one line the message pane gets afterwards.
class DbfUnreadableCells {
public:
    // Counts the field's current cell when it is unreadable; returns whether it was.
    bool check(const DbfField &field);
    void add(const QString &column, int count = 1);
    bool isEmpty() const { return m_counts.empty(); }
    int total() const;
    // "PRICE: 2, GODEN: 1", columns in the order first met.
    QString text() const;

private:
    std::vector<std::pair<QString, int>> m_counts;
};

} // namespace pc
