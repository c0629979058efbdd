#include "documents/DocumentFields.h"

#include "db/DbfReader.h"
#include "db/TableDefs.h"
#include "platform/AppError.h"

#include <QLocale>

namespace pc {

QDate parseDocumentDate(const QString &text)
{
    const QString t = text.trimmed();
    QDate date;
    const QLocale loc;
    const QString format = loc.dateFormat(QLocale::ShortFormat);
    date = loc.toDate(t, format);
    if (date.isValid() && !format.contains(QStringLiteral("yyyy")) && date.year() < 1950)
        date = date.addYears(100);
    for (const char *f : {"dd.MM.yyyy", "d.M.yyyy", "dd/MM/yyyy", "yyyy-MM-dd", "yyyyMMdd"}) {
        if (date.isValid())
            break;
        date = QDate::fromString(t, QString::fromLatin1(f));
    }
    if (!date.isValid()) {
        date = QDate::fromString(t, QStringLiteral("dd.MM.yy"));
        if (date.isValid() && date.year() < 1950)
            date = date.addYears(100);
    }
    if (!date.isValid())
        throw AppError(QStringLiteral("\"%1\" не является правильной датой").arg(text));
    return date;
}

QDate documentDate(const DbfField &f)
{
    if (f.DataType() == 'D' || f.DataType() == 'T' || f.DataType() == '@') {
        const QDate d = f.AsDate();
        if (!d.isValid() || f.IsNull())
            throw AppError(QStringLiteral("В накладной не указана дата"));
        return d;
    }
    return parseDocumentDate(f.AsString());
}

QString fitted(const TTableDefs &def, const QString &column, const QString &value)
{
    const int i = def.IndexOf(column);
    const int size = i < 0 ? 0 : def.GetDef(i).Size;
    const QString v = value.trimmed();
    // Cut where a blank was, the value would end in it.
    return size > 0 && v.size() > size ? v.left(size).trimmed() : v;
}

} // namespace pc
