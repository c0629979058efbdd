#include "orders/OrderStatus.h"

namespace pc {

OrderStatusInfo OrderStatusOf(int status)
{
    switch (status) {
    case OrderNotSent:
        return {true, QStringLiteral("Не отправлена"), QStringLiteral("Отменить отправку"), QStringLiteral("Отменить отправку?"), OrderCancelled};
    case OrderSent:
        return {true, QStringLiteral("Отправлена"), QStringLiteral("Пометить неотправленной"), QStringLiteral("Пометить неотправленной?"), OrderNotSent};
    case OrderCancelled:
        return {true, QStringLiteral("Отменена"), QStringLiteral("Повторить отправку"), QStringLiteral("Вернуть в неотправленные?"), OrderNotSent};
    default:
        return {};
    }
}

} // namespace pc
