#pragma once
// The status of an archived order: 0 not sent, 1 sent, 2 cancelled. Its text
// in the archive grid, and the status button's caption, question and effect.

#include <QString>

namespace pc {

enum OrderStatusValue : int { OrderNotSent = 0, OrderSent = 1, OrderCancelled = 2 };

struct OrderStatusInfo {
    bool known = false;      // other values show nothing and the button does nothing
    QString text;            // the grid's "Статус" column
    QString buttonCaption;   // btnChangeStatus on that row
    QString question;        // asked before the change
    int newStatus = 0;       // after Yes
};

OrderStatusInfo OrderStatusOf(int status);

} // namespace pc
