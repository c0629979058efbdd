#include "platform/FixedFormats.h"

#include <QLocale>

#include <cmath>

namespace pc {

namespace {
QLocale russian()
{
    QLocale loc(QLocale::Russian, QLocale::Russia);
    loc.setNumberOptions(QLocale::OmitGroupSeparator);
    return loc;
}
} // namespace

QString fixedFloatText(double value)
{
    // Fifteen significant digits: a sum such as 206.39999999999998 reads 206,4.
    return russian().toString(value, 'g', 15);
}

bool parseFloatText(const QString &text, double &value)
{
    QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    double v = QLocale(QLocale::Russian, QLocale::Russia).toDouble(t, &ok);
    if (!ok) {
        // A point, as a file written under another locale or by hand has it.
        t.replace(QLatin1Char(','), QLatin1Char('.')).replace(QChar(0x2212), QLatin1Char('-'));
        v = t.toDouble(&ok);
    }
    if (!ok || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

QString fixedDateText(const QDate &date)
{
    return date.toString(QStringLiteral("dd.MM.yyyy"));
}

QString fixedDateTimeText(const QDateTime &when)
{
    return fixedDateText(when.date()) + QLatin1Char(' ') + when.time().toString(QStringLiteral("HH:mm:ss"));
}

void useInterfaceLocale()
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

} // namespace pc
