#pragma once
// «Акт расхождений»: what a delivery brought that its invoice does not say
// (packs short, over, of another batch or expiry, goods not on the invoice),
// with the invoice's number and date, the supplier and the pharmacy, drawn
// in printer pixels like the other printed papers.

#include <QDate>
#include <QString>

class QPrinter;

namespace pc {

class InvoiceReceipt;

struct ActHeader {
    QString number;   // the invoice's number
    QDate date;       // the invoice's date
    QString supplier;
    QString pharmacy; // the pharmacy's name and address
};

QString DiscrepancyActTitle(const ActHeader &header);
// Draws the whole act on the printer (a 300 dpi page).
void DrawDiscrepancyAct(QPrinter &printer, const InvoiceReceipt &receipt, const ActHeader &header);

} // namespace pc
