#pragma once
// Saving the current order (the PRICE rows with ZAKAZ > 0) into the order
// archive: one ORDERS row with status 0 and one ORDERSL row per item, after
// which every ZAKAZ goes back to 0. The minimum-order and multiplicity rules
// are put to the person once more for every line; Cancel in either question
// gives up the whole save.
//
// The ordered rows are taken from the price dataset's memory when it agrees
// with the database, and their quantities are cleared there in place, so a
// save does not read the whole price list again.
//
// A save is all or nothing: it runs in the data module's transaction and is
// committed once at its end. A cancelled or failed save is rolled back, so the
// archive holds nothing of it and the current order stays as it was.

#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

class Dialogs;
class MessageLog;
struct Settings;

namespace pc {

class TDM;
struct OrderedRow;

class OrderSaver {
public:
    // settings: read at each save (client code for the prices, the selected
    // delivery address for the comment).
    OrderSaver(TDM &dm, Dialogs &dialogs, MessageLog &log, const Settings &settings);

    // The window shows the order totals again (after the archive button).
    std::function<void()> ShowOrderTotals;
    // The clock; tests set a fixed moment.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

    // Saves the current order. commentText: the free text of the comment box,
    // as typed. True when the save ran to its end (also with nothing to
    // store); false when the person chose Cancel in a question. Database
    // errors are thrown after the rollback.
    bool SaveCurrentOrder(const QString &commentText);

    // The archive button: asks, saves, then reloads the archive datasets (on
    // the newest order) and the totals, also after a Cancel. True when saved.
    bool SaveOrderToArchive(const QString &commentText);

    // "от <address>" when a delivery address other than the first is
    // selected, then " (<text>)" when the text is not blank.
    static QString OrderComment(const Settings &settings, const QString &commentText);
    // One more than the largest order number in the lines table (1 when empty).
    int NextOrderNumber();
    // Closes and reopens the archive and its lines, on the newest order.
    void ReloadArchive();

private:
    enum class Answer { Keep, Changed, Cancel };
    Answer confirmMinimum(const QString &name, int &quantity, int minProd, int stock);
    Answer confirmMultiplicity(const QString &name, int &quantity, int multiple, int stock);
    void writeHeader(int number, const QString &comment, double total);
    bool orderedRowsInMemory(std::vector<OrderedRow> &rows);
    void clearQuantities(const std::vector<OrderedRow> &rows);

    TDM &m_dm;
    Dialogs &m_dialogs;
    MessageLog &m_log;
    const Settings &m_settings;
};

} // namespace pc
