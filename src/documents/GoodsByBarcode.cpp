#include "documents/GoodsByBarcode.h"

#include "db/DataModule.h"
#include "db/firebird/Statement.h"
#include "documents/Scan.h"

namespace pc {

QString SupplierCodeOfLine(const QString &lineCode)
{
    QString code = lineCode.trimmed();
    const int cut = code.lastIndexOf(QLatin1Char('_'));
    if (cut > 0) {
        bool number = false;
        code.mid(cut + 1).toInt(&number);
        if (number)
            code.truncate(cut);
    }
    return code;
}

// The invoice keeps the bar code as the supplier wrote it: an EAN-13, or an
// EAN-8 / UPC-A as printed.
static QStringList storedForms(const Scan &scan)
{
    QStringList forms;
    if (!scan.ean13.isEmpty())
        forms << scan.ean13;
    forms << scan.gtin;
    QString short8 = scan.gtin;
    while (short8.size() > 8 && short8.startsWith(QLatin1Char('0')))
        short8.remove(0, 1);
    if (short8.size() == 12 || short8.size() == 8)
        forms << short8;
    if (scan.gtin.startsWith(QLatin1String("00")))
        forms << scan.gtin.mid(2); // UPC-A
    forms.removeDuplicates();
    // The column holds 13 characters: a GTIN-14 of a carton is no pack's code.
    forms.removeIf([](const QString &f) { return f.size() > 13; });
    return forms;
}

QStringList GoodsCodesForBarcode(TDM &dm, const Scan &scan)
{
    QStringList codes;
    if (!dm.IsFirebird() || !dm.Connected() || scan.gtin.isEmpty())
        return codes;
    const QStringList forms = storedForms(scan);
    if (forms.isEmpty())
        return codes;
    QString in;
    for (int i = 0; i < forms.size(); ++i)
        in += (i ? QStringLiteral(", ?") : QStringLiteral("?"));
    std::unique_ptr<fb::Statement> q = dm.CreateQuery(
        QStringLiteral("SELECT IDTOVAR FROM NAKLADL WHERE TRIM(EAN) IN (%1) ORDER BY ID DESC, LINENO").arg(in));
    for (int i = 0; i < forms.size(); ++i)
        q->setValue(i, forms[i]);
    q->execute();
    while (q->fetch()) {
        const QString code = SupplierCodeOfLine(q->asText(0));
        if (!code.isEmpty() && !codes.contains(code))
            codes << code;
    }
    q->closeCursor();
    return codes;
}

} // namespace pc
