#pragma once
// The maximum markups on vital drugs by producer-price bracket, as the
// pharmacist enters them on the settings page.

#include <QList>
#include <QString>
#include <vector>

class Dialogs;
class MessageLog;

struct MarkupRow {
    QString key;   // "До 50 р.", ...
    QString value; // the cell text
};

// The bracket captions in table order.
QStringList maxMarkupRowKeys();

// Fills table from the cells: an empty cell makes the table invalid at once
// (no message); a cell that is not a number becomes −1 and is reported, one
// notice per bad row. True when every row holds a number.
bool ValidateMaxMarkupTable(const QList<MarkupRow> &rows, std::vector<double> &table, Dialogs &dialogs);

// A number in the system's decimal format only (as the pharmacist is told).
bool parseLocaleNumber(const QString &text, double &value);
// The cell text for a stored markup: empty for −1.
QString markupCellText(double stored);
