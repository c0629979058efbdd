#pragma once
// The number and date forms of every file the program writes (settings, the
// order file, the history, the message files) and of the screen: the Russian
// ones, whatever the desktop's LANG or LC_* say. A window under one locale
// and a timer job under another write the same bytes.

#include <QDate>
#include <QDateTime>
#include <QString>

namespace pc {

// Up to 15 significant digits, a decimal comma, no group separator: 1234567,89.
QString fixedFloatText(double value);
// A number written with a comma or a point (older files and other locales),
// blanks around it allowed. False, value untouched, for anything else.
bool parseFloatText(const QString &text, double &value);
// dd.MM.yyyy
QString fixedDateText(const QDate &date);
// dd.MM.yyyy HH:mm:ss
QString fixedDateTimeText(const QDateTime &when);
// Makes the Russian formats the program's default (QLocale()), so that what
// the screen shows follows the interface's language, not the desktop's.
void useInterfaceLocale();

} // namespace pc
