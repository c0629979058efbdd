#pragma once
// The order archive's own commands: an archived order copied back into the
// current order, one order or the whole archive deleted, the pharmacy's own
// order file taken in as the current order, and the archive and invoices of
// the older DBF-file database moved in.
//
// Every command is one unit of work: what an earlier action left pending is
// committed first, the command's changes are committed once at its end, and
// a failure rolls the command back, reloads what the grids show and is
// written to the message log. Values from outside (goods codes, quantities,
// order numbers) reach the statements only as bound parameters.
//
// The current order is never replaced without the person's consent: when it
// holds anything, restoring and importing ask whether to clear it first; No
// keeps it (a restore adds to it, an import replaces the quantities of the
// goods the file names), and closing that question gives the command up.

#include <QString>
#include <functional>

class Dialogs;
class MessageLog;
struct Settings;

namespace pc {

class AppContext;
class Dataset;
class OrderEntry;
class OrderSaver;
class TDM;

// The calculated columns of archived order lines (the archive page, the
// order a defecture answers, the printed order): PRICEDEC is the price as the
// pharmacy saw it, SUMMADEC the quantity times that price. The stored SUMMA is
// the masked sum and is never shown.
void OrdersLinesADOTableCalcFields(Dataset &lines, const QString &quantityField, const QString &clientCode);

class OrderArchive {
public:
    // settings: read at each command (the order import folder, file name,
    // column names and whether the imported file is deleted).
    OrderArchive(TDM &dm, Dialogs &dialogs, MessageLog &log, const AppContext &context, const Settings &settings,
                 OrderEntry &entry, OrderSaver &saver);

    // The window shows the order totals again.
    std::function<void()> ShowOrderTotals;
    // The window repaints itself and shows (true) or ends (false) the
    // hourglass cursor around a long command.
    std::function<void(bool)> SetBusy;

    // "Сделать дубликат": the selected archived order is added to the current
    // order (after the questions). True when restored.
    bool RestoreSelectedOrder();
    // Adds the lines of archived order `number` to the current order: each
    // line's quantity goes to the first price row of its goods; goods no longer in
    // the price list are skipped. Commits, tells how many lines were
    // restored, reopens the price list and returns that number. A failure is
    // rolled back (with whatever else is uncommitted) and thrown.
    int RestoreOrder(int number);

    // "Удалить": the selected archived order and its lines, after a question.
    // Nothing happens with an empty archive. True when deleted.
    bool DeleteSelectedOrder();
    // "Все": every archived order, after two questions. True when deleted.
    bool DeleteAllOrders();

    // "Импорт": the pharmacy's order file (import folder + file name) becomes
    // the current order's quantities. True when imported.
    bool ImportOrderFile();
    // The working copy an imported file is read from.
    QString ImportWorkFile() const;

    // "Импортировать данные из DBF": invoices and archived orders of the
    // older database; the current order can be archived first. commentText:
    // the order comment box, for that save.
    // True when the older data was imported and committed.
    bool ImportDbfData(const QString &commentText);

private:
    enum class Clearing { Cleared, Kept, GivenUp };
    // Asks whether to clear a non-empty current order before `what`; on Yes
    // clears it (uncommitted).
    Clearing clearCurrentOrder(const QString &question);
    bool selectedOrder(int &number) const; // false with an empty archive
    void reopenPrice();
    void reloadArchive();
    void failed(const std::exception &e, const QString &step);
    void totals();

    TDM &m_dm;
    Dialogs &m_dialogs;
    MessageLog &m_log;
    const AppContext &m_context;
    const Settings &m_settings;
    OrderEntry &m_entry;
    OrderSaver &m_saver;
};

} // namespace pc
