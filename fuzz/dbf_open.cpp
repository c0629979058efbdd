// libFuzzer target: open a DBF table (with a memo file beside it), walk every
// record and read every column in every form. Opening may fail with a
// DbfError and text columns may refuse a conversion; anything else (a crash,
// a sanitizer report, a hang) is a fault.
//
// Input: a 4-byte little-endian length n, then n bytes of table, then the
// memo file (written both as .dbt and .fpt).
//
// Seeds and runs: fuzz/seeds.sh and fuzz/run.sh.
#include "DbfWriter.h"
#include "FuzzSupport.h"
#include "db/DbfReader.h"

#include <QDate>
#include <QDateTime>
#include <QtEndian>

#include <bit>

namespace {

using pc::test::DbfWriter;

QByteArray pack(const DbfWriter &w)
{
    const QByteArray table = w.tableBytes();
    QByteArray out(4, '\0');
    qToLittleEndian<quint32>(quint32(table.size()), out.data());
    return out + table + w.memoBytes();
}

pc::fuzz::Seeds seeds()
{
    pc::fuzz::Seeds out;
    const QDate day(2009, 2, 28);
    const QDateTime when(day, QTime(13, 5, 7, 250));
    const QString text = QStringLiteral("Аспирин таб. №10");
    const QString memo = QStringLiteral("Хранить в сухом месте. ").repeated(6);

    {
        DbfWriter w(0x03);
        w.addField("KOD", 'N', 10).addField("TOVAR", 'C', 40).addField("CENA", 'N', 12, 2);
        w.addField("SROK", 'D', 8).addField("GV", 'L', 1).addField("BIG", 'N', 19);
        w.addRecord({1, text, 12.5, day, true, 1234567890123LL});
        w.addRecord({2, QStringLiteral("x"), QByteArray("12,50"), QByteArray("20090230"), QByteArray("t")}, true);
        w.addRecord({3});
        w.setHeaderRecordCount(7);
        out.emplace_back(QStringLiteral("dbase3"), pack(w));
    }
    {
        DbfWriter w(0x83);
        w.addField("KOD", 'N', 4).addField("NOTE", 'M', 10);
        w.addRecord({1, memo}).addRecord({2}).addRecord({3, QStringLiteral("")});
        out.emplace_back(QStringLiteral("dbase3-memo"), pack(w));
    }
    {
        DbfWriter w(0x8B);
        w.setMemoBlockSize(64);
        w.addField("NOTE", 'M', 10).addField("PIC", 'B', 10).addField("OLE", 'G', 10).addField("F", 'F', 10, 3);
        w.addRecord({memo, QByteArray("\x00\x01\x1A\xFF", 4), QByteArray("ole"), -1.25});
        out.emplace_back(QStringLiteral("dbase4-memo"), pack(w));
    }
    {
        DbfWriter w(0x04);
        w.addField("A_LONG_COLUMN_NAME_OF_32_CHARS__", 'C', 12).addField("I", 'I', 4).addField("AUTO", '+', 4);
        w.addField("O", 'O', 8).addField("TS", '@', 8).addField("N", 'N', 8, 2);
        w.addRecord({text, -5, 1, -2.5, when, 3.5}).addRecord({QVariant(), 0, 2, 1e10});
        out.emplace_back(QStringLiteral("dbase7"), pack(w));
    }
    {
        DbfWriter w(0x8C);
        w.setMemoBlockSize(512);
        w.addField("NAME", 'C', 10).addField("NOTE", 'M', 10);
        w.addRecord({text, memo});
        out.emplace_back(QStringLiteral("dbase7-memo"), pack(w));
    }
    {
        DbfWriter w(0x30);
        w.addField("NAME", 'C', 10).addField("RAW", 'C', 4, 0, 0x04).addField("I", 'I', 4).addField("B", 'B', 8, 2);
        w.addField("T", 'T', 8).addField("Y", 'Y', 8).addField("CENA", 'N', 8, 2, 0x02).addField("KOL", 'I', 4, 0, 0x02);
        w.addField("NOTE", 'M', 4).addField("BIN", 'M', 4, 0, 0x04).addField("_NullFlags", '0', 1, 0, 0x05);
        w.addRecord({text, QByteArray("abcd"), -7, 3.25, when, 12.3456, 1.5, 4, memo, QByteArray("\x01\x02", 2),
                     DbfWriter::raw(QByteArray("\x00", 1))});
        w.addRecord({QVariant(), QVariant(), 1, 0.5, DbfWriter::raw(QByteArray(8, ' ')), 1.0, 2.5, 5, QVariant(),
                     QVariant(), DbfWriter::raw(QByteArray("\x03", 1))});
        out.emplace_back(QStringLiteral("vfp"), pack(w));
    }
    {
        DbfWriter w(0xF5);
        w.addField("NOTE", 'M', 10).addField("PIC", 'P', 10).addField("OLE", 'G', 10);
        w.addRecord({memo, QByteArray("picture"), QByteArray("object")});
        out.emplace_back(QStringLiteral("foxpro-memo"), pack(w));
    }
    {
        DbfWriter w(0x07);
        w.addField("LONG", 'C', 300).addField("E", 'E', 4).addField("X", 'X', 3);
        w.addRecord({QString(300, QLatin1Char('z')), QByteArray("\x01\x02", 2), QByteArray("abc")});
        out.emplace_back(QStringLiteral("clipper-long"), pack(w));
    }
    {
        DbfWriter w(0x7B);
        w.setOem(false);
        w.addField("KOD", 'N', 5).addField("NAME", 'C', 8);
        for (int i = 0; i < 20; ++i)
            w.addRecord({i, QStringLiteral("товар%1").arg(i)}, i % 3 == 0);
        out.emplace_back(QStringLiteral("dbase4-many"), pack(w));
    }
    return out;
}

// Reads every form of the value into a checksum the optimiser cannot drop.
// Unsigned on purpose: the sum wraps instead of overflowing, and a float
// goes in by its bits (a value beyond the integer range, or NaN, cannot be
// converted to an integer).
void readEverything(const pc::DbfField &f)
{
    quint64 sum = quint64(f.IsNull()) + quint64(f.AsString().size()) + quint64(f.AsBytes().size())
        + quint64(f.RawBytes().size()) + quint64(f.AsVariant().isValid());
    try {
        sum += quint64(f.AsDate().isValid());
    } catch (const pc::DbfError &) {
    }
    try {
        sum += quint64(f.AsInteger());
    } catch (const pc::DbfError &) {
    }
    try {
        sum += std::bit_cast<quint64>(f.AsFloat());
    } catch (const pc::DbfError &) {
    }
    try {
        sum += quint64(f.AsBoolean());
    } catch (const pc::DbfError &) {
    }
    try {
        sum += quint64(f.AsDateTime().isValid());
    } catch (const pc::DbfError &) {
    }
    static volatile quint64 sink;
    sink = sum;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    pc::fuzz::initialize(seeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    const qsizetype tableSize = qsizetype(std::min<size_t>(qFromLittleEndian<quint32>(bytes), size - 4));
    using pc::fuzz::workFile;
    using pc::fuzz::writeFile;
    const QString table = workFile(QStringLiteral("t.dbf"));
    writeFile(table, bytes + 4, tableSize);
    writeFile(workFile(QStringLiteral("t.dbt")), bytes + 4 + tableSize, qsizetype(size - 4) - tableSize);
    writeFile(workFile(QStringLiteral("t.fpt")), bytes + 4 + tableSize, qsizetype(size - 4) - tableSize);

    pc::DbfReader r;
    r.setDBFFileName(table);
    r.setSetDeleted(size % 2 == 1);
    try {
        r.setActive(true);
    } catch (const pc::DbfError &) {
        return 0;
    }
    r.setOEM(true);
    for (r.First(); !r.Eof(); r.Next()) {
        for (int i = 0; i < r.FieldCount(); ++i)
            readEverything(r.Fields(i));
        r.setOEM(!r.OEM());
    }
    if (r.FieldCount() > 0)
        (void)r.FindField(r.Fields(r.FieldCount() - 1).FieldName().toLower());
    r.setActive(false);
    return 0;
}
