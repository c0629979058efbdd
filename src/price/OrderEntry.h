#pragma once
// The current order is the ZAKAZ column of the price list: quantities typed
// digit by digit into the price grid, capped at the stock at once and
// corrected to the minimum order and the batch multiplicity when the row is
// left. Also the order totals, clearing, and quantities taken from the
// pharmacy's own order file.

#include "price/QuantityWriter.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

class Dialogs;
class MessageLog;

namespace pc {

class Dataset;
class TDM;

struct OrderTotals {
    int count = 0;     // ordered rows
    double sum = 0;    // quantities times the unmasked prices
};

class OrderEntry {
public:
    // clientCode: the code the prices are masked with (read at each use).
    OrderEntry(TDM &dm, Dialogs &dialogs, MessageLog &log, std::function<QString()> clientCode);
    ~OrderEntry();

    // From now on the quantities are written by a writer of their own, on
    // its own thread and attachment (the window's way): the grid shows a
    // typed quantity at once, marked until it is stored, and nothing here
    // waits on the database. Without it they are written here, at once.
    void UseOwnWriter();
    QuantityWriter *Writer() const { return m_writer.get(); }
    // The row the dataset is reading holds a quantity not yet stored.
    bool IsPending(Dataset &price) const;

    // Called after every change of ZAKAZ (the window shows the totals).
    std::function<void()> onTotalsChanged;

    // The row whose quantity is being typed (its row number), -1 after a move.
    int LastTypedRow = -1;
    void ResetTyping() { LastTypedRow = -1; }

    // A digit typed on the current price row: several digits on one row build
    // one number; a number above the stock is capped with a notice.
    void TypeDigit(QChar digit);
    // The Delete key: the current row's quantity becomes 0.
    void DeleteQuantity();
    // Before the price cursor leaves a row: minimum order, then multiplicity.
    void CorrectBeforeLeaving(Dataset &price);

    OrderTotals CountTotals();
    // "Заказ: N поз. На сумму S"
    static QString TotalsText(const OrderTotals &totals);
    // True without a price list or when no row carries a quantity.
    bool OrderIsEmpty();
    // Asks, then sets every quantity to 0. True when cleared.
    bool ClearOrder();
    // Sets quantities from a DBF order file: codeField names the goods code,
    // qntField the quantity. Returns the number of records read.
    int ImportOrderQuantities(const QString &fileName, const QString &codeField, const QString &qntField);

private:
    // Writes the current row's quantity over the one the grid shows. False
    // when it was not stored: the row then shows what the database holds and
    // the pharmacist has been told why.
    bool storeQuantity(Dataset &price, int quantity);
    // storeQuantity, made permanent at once, and the totals shown.
    void storeAndCommit(Dataset &price, int quantity);
    void setQuantity(Dataset &price, int quantity);
    void showStoredQuantity(Dataset &price, const std::exception &why);
    void totalsChanged();
    void submit(Dataset &price, int quantity);
    void onWritten(const QuantityWrite &write);
    void onRefused(const QuantityWrite &write, int stored, const QString &why);
    void onDelayed(const QuantityWrite &write, const QString &why);
    static QString keyOf(const QVariant &goods, const QVariant &expiry);
    int physicalRowOf(Dataset &price, const QuantityWrite &write) const;
    std::unique_ptr<QuantityWriter> m_writer;
    QHash<QString, int> m_pending; // rows with writes not yet stored, and how many
    QSet<QString> m_delayed;       // rows whose writes the pane said were waiting
    QString m_delayedWhy;          // the last reason the pane gave
    TDM &m_dm;
    Dialogs &m_dialogs;
    MessageLog &m_log;
    std::function<QString()> m_clientCode;
};

} // namespace pc
