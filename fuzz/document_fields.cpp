// libFuzzer target: the supplier's defecture and invoice files as the
// document import reads them: the header values of the first record (number,
// date), then every line's columns in the form each is stored in, texts cut
// to their column's size; and any text as a document date.
//
// Input: one byte choosing the date format of the locale (Russian or
// English, which writes short dates with a two-digit year), then a DBF table.
// A missing column or a value that cannot be read may be refused with
// DbfError or AppError, as the import refuses the file; anything else (a
// crash, a sanitizer report, a date the database cannot hold, a text longer
// than its column) is a fault.
#include "DbfWriter.h"
#include "FuzzSupport.h"
#include "db/DbfReader.h"
#include "db/TableDefs.h"
#include "documents/DocumentFields.h"
#include "platform/AppError.h"
#include "platform/CodePage.h"

#include <QLocale>

#include <cstdio>

namespace {

using pc::test::DbfWriter;

const std::vector<pc::TTableDefs> &defs()
{
    static const std::vector<pc::TTableDefs> d = pc::BuildTableDefs(pc::DriverFirebird);
    return d;
}

// A date the embedded database stores (years 1 to 9999).
void checkDate(const QDate &d)
{
    if (!d.isValid() || d.year() < 1 || d.year() > 9999)
        std::abort();
}

void checkText(pc::TableDefId table, const QString &column, const QString &value)
{
    const pc::TTableDefs &def = defs()[size_t(table)];
    const QString v = pc::fitted(def, column, value);
    const int i = def.IndexOf(column);
    if (i < 0 || v.size() > def.GetDef(i).Size || v != v.trimmed()) {
        std::fprintf(stderr, "%s.%s: \"%s\" stored as \"%s\"\n", qPrintable(def.Name()), qPrintable(column),
                     qPrintable(value), qPrintable(v));
        std::abort();
    }
}

template <class F>
void guarded(F f)
{
    try {
        f();
    } catch (const pc::DbfError &) {
    } catch (const pc::AppError &) {
    }
}

void readInvoice(pc::DbfReader &r)
{
    guarded([&] { checkText(pc::TdNaklad, QStringLiteral("NUMBR"), r.FieldByName(u"NOMDOC").AsString()); });
    guarded([&] { checkDate(pc::documentDate(r.FieldByName(u"DATDOC"))); });
    int lineNo = 0;
    for (; !r.Eof(); r.Next()) {
        ++lineNo;
        guarded([&] {
            checkText(pc::TdNakladL, QStringLiteral("IDTOVAR"),
                      r.FieldByName(u"CODETOV").AsString().trimmed() + QLatin1Char('_') + QString::number(lineNo));
        });
        for (const char16_t *c : {u"TOVNAME", u"PRNAME", u"PRSTRANA", u"SERIYA", u"EAN"}) {
            static const QHash<QString, QString> column{
                {QStringLiteral("TOVNAME"), QStringLiteral("TOVAR")},   {QStringLiteral("PRNAME"), QStringLiteral("PRODUCT")},
                {QStringLiteral("PRSTRANA"), QStringLiteral("COUNTRY")}, {QStringLiteral("SERIYA"), QStringLiteral("SERIES")},
                {QStringLiteral("EAN"), QStringLiteral("EAN")}};
            guarded([&] { checkText(pc::TdNakladL, column.value(QString::fromUtf16(c)), r.FieldByName(c).AsString()); });
        }
        for (const char16_t *c : {u"KOL", u"STNDS", u"GN2"})
            guarded([&] { (void)r.FieldByName(c).AsInteger(); });
        for (const char16_t *c : {u"CWNDS", u"VSEGO", u"SUMNDS", u"CPWNDS", u"CPWONDS", u"CREESTR"})
            guarded([&] { (void)r.FieldByName(c).AsFloat(); });
        guarded([&] {
            const pc::DbfField &expiry = r.FieldByName(u"SROKGODN");
            if (!expiry.IsNull()) {
                const QDate d = expiry.AsDate();
                if (d.isValid())
                    checkDate(d);
            }
        });
    }
}

void readDefecture(pc::DbfReader &r)
{
    for (; !r.Eof(); r.Next()) {
        guarded([&] { checkText(pc::TdDefectL, QStringLiteral("TOVAR"), r.FieldByName(u"tovar").AsString()); });
        guarded([&] { (void)r.FieldByName(u"Count").AsInteger(); });
    }
}

QByteArray invoiceSeed(const QByteArray &dateType, const QVariant &date)
{
    DbfWriter w(0x03);
    w.addField("NOMDOC", 'C', 20).addField("DATDOC", dateType.at(0), dateType.at(0) == 'D' ? 8 : 10);
    w.addField("CODETOV", 'C', 12).addField("TOVNAME", 'C', 80).addField("PRNAME", 'C', 40);
    w.addField("PRSTRANA", 'C', 20).addField("SERIYA", 'C', 20).addField("KOL", 'N', 6);
    w.addField("CWNDS", 'N', 12, 2).addField("VSEGO", 'N', 14, 2).addField("STNDS", 'N', 3);
    w.addField("SUMNDS", 'N', 12, 2).addField("SROKGODN", 'D', 8).addField("GN2", 'N', 1);
    w.addField("CPWNDS", 'N', 12, 2).addField("CPWONDS", 'N', 12, 2).addField("CREESTR", 'N', 12, 2);
    w.addField("EAN", 'C', 13);
    for (int i = 0; i < 3; ++i)
        w.addRecord({QStringLiteral("Н-4711"), date, QStringLiteral("777"), QStringLiteral("Аспирин таб. 0,5 №10"),
                     QStringLiteral("Фармстандарт"), QStringLiteral("Россия"), QStringLiteral("A123"), 10 + i,
                     12.5, 125.0, 10, 11.36, QDate(2028, 3, 31), i % 2, 10.1, 9.18, 11.0,
                     QStringLiteral("4601234567890")});
    return w.tableBytes();
}

pc::fuzz::Seeds seeds()
{
    pc::fuzz::Seeds out;
    out.emplace_back(QStringLiteral("invoice-date"), QByteArray(1, 0) + invoiceSeed("D", QDate(2026, 12, 7)));
    out.emplace_back(QStringLiteral("invoice-text-date"), QByteArray(1, 0) + invoiceSeed("C", QStringLiteral("07.12.2026")));
    out.emplace_back(QStringLiteral("invoice-short-date"), QByteArray(1, 1) + invoiceSeed("C", QStringLiteral("07.12.26")));
    out.emplace_back(QStringLiteral("invoice-iso-date"), QByteArray(1, 0) + invoiceSeed("C", QStringLiteral("2026-12-07")));
    {
        DbfWriter w(0x03);
        w.addField("TOVAR", 'C', 60).addField("COUNT", 'N', 6);
        w.addRecord({QStringLiteral("Но-шпа таб. 40мг №20"), 5}).addRecord({QStringLiteral("Анальгин"), 0});
        out.emplace_back(QStringLiteral("defecture"), QByteArray(1, 0) + w.tableBytes());
    }
    return out;
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
    QLocale::setDefault(data[0] % 2 == 0 ? QLocale(QLocale::Russian, QLocale::Russia)
                                         : QLocale(QLocale::English, QLocale::UnitedStates));
    const char *bytes = reinterpret_cast<const char *>(data) + 1;
    const qsizetype n = qsizetype(size - 1);

    // Any short text as a date written in a document.
    if (n <= 40)
        guarded([&] { checkDate(pc::parseDocumentDate(pc::fromCp1251(std::string_view(bytes, size_t(n))))); });

    const QString path = pc::fuzz::workFile(QStringLiteral("d.dbf"));
    pc::fuzz::writeFile(path, bytes, n);
    pc::DbfReader r;
    r.setDBFFileName(path);
    r.setSetDeleted(true);
    try {
        r.Open();
    } catch (const pc::DbfError &) {
        return 0;
    }
    r.setOEM(true);
    r.First();
    if (r.FindField(u"NOMDOC") || r.FindField(u"DATDOC"))
        readInvoice(r);
    else
        readDefecture(r);
    r.Close();
    return 0;
}
