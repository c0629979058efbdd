#pragma once
// Receiving a supplier's delivery against its invoice: every pack scanned
// finds its invoice line by bar code (and by batch and expiry when the code
// carries them) and adds one to the line's received count. The counts live
// in the table RECEIVED, one row per invoice line (and one per code that is
// not on the invoice), so several workstations receiving one invoice
// together add up: each scan is one increment in SQL, committed at once,
// tried again when another workstation held the row.

#include "core/Clock.h"
#include "documents/Scan.h"

#include <QDate>
#include <QString>
#include <vector>

namespace pc {

class TDM;

struct ReceiptLine {
    int lineNo = 0;     // NAKLADL.LINENO; 0: a code not on the invoice
    QString code;       // the bar code (EAN)
    QString name;
    QString series;
    QDate expiry;
    int invoiced = 0;
    int received = 0;
    int otherBatch = 0; // packs of this line scanned with another batch or expiry
};

enum class ScanVerdict {
    Expected,     // green
    Differs,      // yellow: another batch or expiry, or an expiry inside the short-expiry limit
    Rejected,     // red: not on the invoice, more than invoiced, or expired
    Unreadable,   // red: the code cannot be read
};

struct ScanOutcome {
    ScanVerdict verdict = ScanVerdict::Unreadable;
    int line = -1;      // index into Lines(), -1 for none
    QString text;       // what the page says about the scan
};

class InvoiceReceipt {
public:
    InvoiceReceipt(TDM &dm, int invoiceId, const Clock &clock = Clock::system());

    // Reads the invoice's lines and the counts stored for them.
    void Load();
    const std::vector<ReceiptLine> &Lines() const { return m_lines; }
    int InvoiceId() const { return m_id; }

    // Goods expiring within this many months are flagged on receipt (0: off).
    int shortExpiryMonths = 6;
    ScanOptions scanOptions;

    // One pack scanned: its line found, its count raised by one and stored.
    ScanOutcome Receive(const QByteArray &raw);
    // A count typed for a line (packs without a code).
    void SetCount(int line, int count);

    // Positions received in full / all positions of the invoice.
    int CompleteLines() const;
    int InvoiceLines() const;
    // "принято N из M позиций"
    QString SummaryText() const;

    enum class Discrepancy { Short, Over, OtherBatch, NotOnInvoice };
    struct DiscrepancyLine {
        Discrepancy kind;
        const ReceiptLine *line;
    };
    std::vector<DiscrepancyLine> Discrepancies() const;
    static QString DiscrepancyTitle(Discrepancy kind);

private:
    // Adds `by` to the row's counts (inserting it when missing), committed;
    // returns the counts stored now.
    std::pair<int, int> add(int lineNo, const QString &code, int by, int otherBy);
    int findLine(const pc::Scan &scan, bool &batchDiffers) const;
    TDM &m_dm;
    int m_id;
    const Clock *m_clock;
    std::vector<ReceiptLine> m_lines;
};

} // namespace pc
