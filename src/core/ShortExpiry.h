#pragma once
// Goods that expire soon: a pharmacy does not want packs that expire before
// they sell. The limit is a number of months (a setting); 0 switches the
// warning off.

#include <QDate>
#include <QString>

namespace pc {

// Whole months from today until the expiry date (0 when less than one, or past).
int MonthsLeft(QDate today, QDate expiry);
// The expiry date lies within `months` months of today (past dates included).
bool IsShortExpiry(QDate expiry, QDate today, int months);
bool IsExpired(QDate expiry, QDate today);
// "Срок годности до ДД.ММ.ГГГГ (осталось N мес.)"
QString ShortExpiryText(QDate expiry, QDate today);
// The legend of the marks in the price grid.
QString ShortExpiryLegend(int months);

} // namespace pc
