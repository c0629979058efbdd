#pragma once
// The settings values in memory. Loaded and saved by the settings page; read by
// every part of the program's logic, which receives what it needs from here.

#include <QString>

struct Settings {
    // client.ini [Header]
    QString ClientCode;
    QString ClientName;
    // Date of the local price list, as shown in the title ("" when none).
    QString PriceDate;
};
