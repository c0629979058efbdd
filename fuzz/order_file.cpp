// libFuzzer target: the order file the pharmacy's own system exports, read
// as the order import reads it.
//
// Input: one byte choosing the names of the code and quantity columns (those
// of the table, a different letter case, or names the table lacks), then a
// DBF table. A file that cannot be read or lacks a column may be refused
// with DbfError; otherwise every record must come back as one line with
// trimmed texts. Anything else (a crash, a sanitizer report) is a fault.
#include "DbfWriter.h"
#include "FuzzSupport.h"
#include "db/DbfReader.h"
#include "price/OrderFileImport.h"

namespace {

using pc::test::DbfWriter;

pc::fuzz::Seeds seeds()
{
    pc::fuzz::Seeds out;
    {
        DbfWriter w(0x03);
        w.setOem(false);
        w.addField("KOD", 'C', 10).addField("NAME", 'C', 40).addField("KOLVO", 'N', 6);
        w.addRecord({QStringLiteral("1001"), QStringLiteral("Аспирин"), 2});
        w.addRecord({QStringLiteral("O'1002"), QStringLiteral("Кавычка"), 5}, true);
        w.addRecord({QStringLiteral(" 1003 "), QVariant(), QVariant()});
        out.emplace_back(QStringLiteral("order"), QByteArray(1, 0) + w.tableBytes());
    }
    {
        DbfWriter w(0x30);
        w.setOem(false);
        w.addField("CODE", 'N', 8).addField("QNT", 'N', 8, 2).addField("NOTE", 'C', 10);
        w.addRecord({1001, 2.5, QStringLiteral("x")}).addRecord({1002, QByteArray("1,5"), QVariant()});
        out.emplace_back(QStringLiteral("order-vfp"), QByteArray(1, 2) + w.tableBytes());
    }
    return out;
}

QString columnName(const pc::DbfReader &r, uint8_t choice, int which)
{
    const int count = r.FieldCount();
    switch (choice % 4) {
    case 0:
        return count > 0 ? r.Fields((which + choice / 4) % count).FieldName() : QString();
    case 1:
        return count > 0 ? r.Fields((which + choice / 4) % count).FieldName().toLower() : QString();
    case 2:
        return which == 0 ? QStringLiteral("KOD") : QStringLiteral("KOLVO");
    default:
        return QString();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    pc::fuzz::initialize(seeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QString path = pc::fuzz::workFile(QStringLiteral("order.dbf"));
    pc::fuzz::writeFile(path, reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    // The records the reader walks and the column names to ask for.
    qint64 records = 0;
    QString code, qnt;
    try {
        pc::DbfReader r;
        r.setDBFFileName(path);
        r.Open();
        code = columnName(r, data[0], 0);
        qnt = columnName(r, data[0], 1);
        for (r.First(); !r.Eof(); r.Next())
            ++records;
    } catch (const pc::DbfError &) {
        return 0;
    }

    std::vector<pc::OrderFileLine> lines;
    try {
        lines = pc::ReadOrderFile(path, code, qnt);
    } catch (const pc::DbfError &) {
        return 0;
    }
    if (qint64(lines.size()) != records)
        std::abort();
    for (const pc::OrderFileLine &l : lines)
        if (l.code != l.code.trimmed() || l.quantity != l.quantity.trimmed())
            std::abort();
    return 0;
}
