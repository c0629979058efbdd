#include "core/ShortExpiry.h"

#include <algorithm>

namespace pc {

int MonthsLeft(QDate today, QDate expiry)
{
    if (!today.isValid() || !expiry.isValid() || expiry <= today)
        return 0;
    int months = (expiry.year() - today.year()) * 12 + (expiry.month() - today.month());
    if (today.addMonths(months) > expiry)
        --months;
    return std::max(0, months);
}

bool IsShortExpiry(QDate expiry, QDate today, int months)
{
    return months > 0 && expiry.isValid() && today.isValid() && expiry < today.addMonths(months);
}

bool IsExpired(QDate expiry, QDate today) { return expiry.isValid() && today.isValid() && expiry < today; }

QString ShortExpiryText(QDate expiry, QDate today)
{
    if (IsExpired(expiry, today))
        return QStringLiteral("Срок годности истёк %1").arg(expiry.toString(QStringLiteral("dd.MM.yyyy")));
    return QStringLiteral("Срок годности до %1 (осталось %2 мес.)")
        .arg(expiry.toString(QStringLiteral("dd.MM.yyyy")))
        .arg(MonthsLeft(today, expiry));
}

QString ShortExpiryLegend(int months)
{
    return QStringLiteral("Ср.годности: оранжевым — срок годности менее %1 мес., красным — срок годности истёк").arg(months);
}

} // namespace pc
