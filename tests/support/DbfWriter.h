#pragma once
// Writes DBF tables (and their .dbt/.fpt memo files) for tests: dBase III,
// dBase IV, dBase VII, FoxPro and Visual FoxPro layouts, every column type the
// reader knows, code page 866 or 1251 text, deleted records and a header
// record count that can be made wrong on purpose.
//
//   pc::test::DbfWriter w(0x03);
//   w.addField("KOD", 'N', 10).addField("TOVAR", 'C', 60).addField("CENA", 'N', 12, 2);
//   w.addRecord({10, QStringLiteral("Аспирин"), 12.5});
//   w.addRecord({11, QByteArray("raw bytes"), QByteArray("12,50")}, /*deleted*/ true);
//   w.save(dir.filePath("price.dbf"));

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <vector>

namespace pc::test {

class DbfWriter {
public:
    // The version byte decides the layout: 0x04/0x8C dBase VII (68-byte
    // header, 48-byte descriptors), 0x30/0x31 Visual FoxPro (with the
    // 263-byte backlink area), anything else the 32-byte dBase III form.
    // Any byte may be given, known to the reader or not.
    explicit DbfWriter(uint8_t version = 0x03);

    // For type "C" the length may exceed 255 in the 32-byte descriptor form.
    DbfWriter &addField(const QByteArray &name, char type, int length, int decimals = 0, uint8_t flags = 0);
    // The columns of a supplier's price file, in its order: IDTOVAR, TOVAR,
    // PRICE, PRODUCT, COUNTRY, PRICER, GODEN, QNT, QNTPACK, NDS, MINZAKAZ,
    // MINPROD, COLOR, HASDET, HASPOPUP, GV, ZAKAZ, REGUDEXIST.
    DbfWriter &addPriceFields();

    // One value per column, encoded by the column's type:
    //  - an invalid QVariant writes the empty value (blanks, or zero bytes
    //    for binary columns);
    //  - a QByteArray is stored verbatim (padded with blanks, or zero bytes
    //    for binary columns) so tests can write "12,50", "20090230", "t";
    //  - otherwise: C QString; N/F number; D QDate; L bool; I/+ int;
    //    B (Visual FoxPro)/O double; Y double; T/@ QDateTime;
    //    M/G/P and B outside Visual FoxPro: memo content (QString or QByteArray).
    // Missing trailing values are empty.
    DbfWriter &addRecord(const QVariantList &values, bool deleted = false);

    // A value stored verbatim in any column, memo columns included (for
    // a memo column: the block number as stored in the record).
    static QVariant raw(const QByteArray &bytes);

    // Text in code page 866 (default) or 1251.
    DbfWriter &setOem(bool oem);
    // The record count written into the header; by default the true one.
    DbfWriter &setHeaderRecordCount(qint64 count);
    // An end-of-file byte 0x1A after the last record (default on).
    DbfWriter &setEndOfFileMarker(bool on);
    // Memo block size: dBase IV/VII and FoxPro only (defaults 512 and 64).
    DbfWriter &setMemoBlockSize(int bytes);
    // Visual FoxPro table flags; the memo bit is added when a memo column exists.
    DbfWriter &setTableFlags(uint8_t flags);

    QByteArray tableBytes() const;
    // Empty when the version keeps no memo file or no memo column exists.
    QByteArray memoBytes() const;
    // "dbt", "fpt" or empty.
    QString memoExtension() const;
    bool hasMemoFile() const { return !memoExtension().isEmpty() && m_hasMemoColumn; }

    // Writes the table and, when there is one, the memo file beside it
    // (same base name, extension in the given letter case). Throws
    // std::runtime_error when a file cannot be written.
    void save(const QString &dbfPath, bool upperCaseMemoExtension = false) const;

    static QByteArray sortableInt(qint32 v);    // dBase VII "I"
    static QByteArray sortableDouble(double v); // dBase VII "O"

    struct RawBytes {
        QByteArray bytes;
    };

private:
    struct Field {
        QByteArray name;
        char type;
        int length;
        int decimals;
        uint8_t flags;
    };

    bool isDBase7() const { return m_version == 0x04 || m_version == 0x8C; }
    bool isVfp() const { return m_version == 0x30 || m_version == 0x31; }
    bool isBinaryColumn(const Field &f) const;
    bool isMemoColumn(const Field &f) const;
    QByteArray encode(const Field &f, const QVariant &v);
    QByteArray encodeText(const QVariant &v) const;
    quint32 addMemo(const QByteArray &content, bool binary);
    int memoBlockSize() const;

    uint8_t m_version;
    std::vector<Field> m_fields;
    QByteArray m_records;
    qint64 m_recordCount = 0;
    qint64 m_headerCount = -1;
    bool m_oem = true;
    bool m_eofMarker = true;
    bool m_hasMemoColumn = false;
    int m_memoBlockSize = 0;
    uint8_t m_tableFlags = 0;
    QByteArray m_memoBlocks; // everything after the 512-byte memo header
};

} // namespace pc::test
