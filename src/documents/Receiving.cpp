#include "documents/Receiving.h"

#include "core/ShortExpiry.h"
#include "db/DataModule.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"
#include "platform/AppError.h"

#include <QThread>

namespace pc {

namespace {

QString dateText(QDate d) { return d.isValid() ? d.toString(QStringLiteral("dd.MM.yyyy")) : QStringLiteral("—"); }

// The forms a bar code may be written in on the invoice.
bool sameCode(const QString &stored, const pc::Scan &scan)
{
    const QString s = stored.trimmed();
    if (s.isEmpty())
        return false;
    if (s == scan.ean13 || s == scan.gtin)
        return true;
    // An EAN-8 or UPC-A as printed: the GTIN with its zeros in front.
    return s.size() < 14 && QString(s).rightJustified(14, QLatin1Char('0')) == scan.gtin;
}

} // namespace

InvoiceReceipt::InvoiceReceipt(TDM &dm, int invoiceId, const Clock &clock) : m_dm(dm), m_id(invoiceId), m_clock(&clock) {}

void InvoiceReceipt::Load()
{
    m_lines.clear();
    const QString qnt = m_dm.QntFieldName();
    std::unique_ptr<fb::Statement> q = m_dm.CreateQuery(
        QStringLiteral("SELECT L.LINENO, L.EAN, L.TOVAR, L.SERIES, L.SROKGODN, L.%1, R.QNT, R.QNT_OTHER FROM NAKLADL L "
                       "LEFT JOIN RECEIVED R ON R.ID = L.ID AND R.LINENO = L.LINENO AND R.CODE = '' "
                       "WHERE L.ID = ? ORDER BY L.LINENO")
            .arg(qnt));
    q->setValue(0, m_id);
    q->execute();
    while (q->fetch()) {
        ReceiptLine l;
        l.lineNo = q->asInt(0);
        l.code = q->asText(1).trimmed();
        l.name = q->asText(2).trimmed();
        l.series = q->asText(3).trimmed();
        l.expiry = q->asDate(4);
        l.invoiced = q->asInt(5);
        l.received = q->isNull(6) ? 0 : q->asInt(6);
        l.otherBatch = q->isNull(7) ? 0 : q->asInt(7);
        m_lines.push_back(l);
    }
    q->closeCursor();
    std::unique_ptr<fb::Statement> extra = m_dm.CreateQuery(
        QStringLiteral("SELECT CODE, QNT FROM RECEIVED WHERE ID = ? AND LINENO = 0 ORDER BY CODE"));
    extra->setValue(0, m_id);
    extra->execute();
    while (extra->fetch()) {
        ReceiptLine l;
        l.code = extra->asText(0).trimmed();
        l.name = QStringLiteral("Нет в накладной");
        l.received = extra->asInt(1);
        m_lines.push_back(l);
    }
    extra->closeCursor();
    m_dm.Commit();
}

std::pair<int, int> InvoiceReceipt::add(int lineNo, const QString &code, int by, int otherBy)
{
    // Another workstation may hold the row or insert it at the same moment:
    // the increment is tried again, never lost and never counted twice (a
    // refused try changed nothing).
    for (int attempt = 0;; ++attempt) {
        try {
            std::unique_ptr<fb::Statement> up = m_dm.CreateQuery(QStringLiteral(
                "UPDATE RECEIVED SET QNT = QNT + ?, QNT_OTHER = QNT_OTHER + ? WHERE ID = ? AND LINENO = ? AND CODE = ?"));
            up->setValue(0, by);
            up->setValue(1, otherBy);
            up->setValue(2, m_id);
            up->setValue(3, lineNo);
            up->setValue(4, code);
            up->execute();
            if (up->rowsAffected() == 0) {
                std::unique_ptr<fb::Statement> in = m_dm.CreateQuery(
                    QStringLiteral("INSERT INTO RECEIVED (ID, LINENO, CODE, QNT, QNT_OTHER) VALUES (?, ?, ?, ?, ?)"));
                in->setValue(0, m_id);
                in->setValue(1, lineNo);
                in->setValue(2, code);
                in->setValue(3, std::max(0, by));
                in->setValue(4, std::max(0, otherBy));
                in->execute();
            }
            std::unique_ptr<fb::Statement> read = m_dm.CreateQuery(
                QStringLiteral("SELECT QNT, QNT_OTHER FROM RECEIVED WHERE ID = ? AND LINENO = ? AND CODE = ?"));
            read->setValue(0, m_id);
            read->setValue(1, lineNo);
            read->setValue(2, code);
            read->execute();
            std::pair<int, int> now{0, 0};
            if (read->fetch())
                now = {read->asInt(0), read->asInt(1)};
            read->closeCursor();
            m_dm.Commit();
            return now;
        } catch (const fb::DbError &e) {
            m_dm.Rollback();
            const bool again = e.isConflict() || e.sqlCode() == -803;
            if (!again || attempt >= 20)
                throw;
            QThread::msleep(5 + 5 * attempt);
        }
    }
}

int InvoiceReceipt::findLine(const pc::Scan &scan, bool &batchDiffers) const
{
    batchDiffers = false;
    int best = -1, open = -1, any = -1;
    for (int i = 0; i < int(m_lines.size()); ++i) {
        const ReceiptLine &l = m_lines[size_t(i)];
        if (l.lineNo == 0 || !sameCode(l.code, scan))
            continue;
        const bool batchOk = scan.batch.isEmpty() || scan.batch.compare(l.series, Qt::CaseInsensitive) == 0;
        const bool expiryOk = !scan.expiry.isValid() || !l.expiry.isValid() || scan.expiry == l.expiry;
        if (batchOk && expiryOk) {
            if (l.received < l.invoiced)
                return i;
            if (best < 0)
                best = i;
        }
        if (open < 0 && l.received < l.invoiced)
            open = i;
        if (any < 0)
            any = i;
    }
    if (best >= 0)
        return best;
    batchDiffers = any >= 0;
    return open >= 0 ? open : any;
}

ScanOutcome InvoiceReceipt::Receive(const QByteArray &raw)
{
    ScanOutcome out;
    const pc::Scan scan = ParseScan(raw, scanOptions);
    if (!scan.ok) {
        out.text = scan.reason;
        return out;
    }
    bool differs = false;
    const int index = findLine(scan, differs);
    if (index < 0) {
        const QString code = ScanCode(scan).left(14);
        const auto [received, other] = add(0, code, 1, 0);
        auto it = std::find_if(m_lines.begin(), m_lines.end(), [&](const ReceiptLine &l) { return l.lineNo == 0 && l.code == code; });
        if (it == m_lines.end()) {
            ReceiptLine l;
            l.code = code;
            l.name = QStringLiteral("Нет в накладной");
            m_lines.push_back(l);
            it = m_lines.end() - 1;
        }
        it->received = received;
        out.line = int(it - m_lines.begin());
        out.verdict = ScanVerdict::Rejected;
        out.text = QStringLiteral("Товара с кодом %1 нет в накладной").arg(code);
        return out;
    }
    ReceiptLine &l = m_lines[size_t(index)];
    const auto [received, other] = add(l.lineNo, QString(), 1, differs ? 1 : 0);
    l.received = received;
    l.otherBatch = other;
    out.line = index;
    const QDate today = m_clock->today();
    const QDate expiry = scan.expiry.isValid() ? scan.expiry : l.expiry;
    QString name = l.name;
    if (l.received > l.invoiced) {
        out.verdict = ScanVerdict::Rejected;
        out.text = QStringLiteral("%1: принято %2, по накладной %3 — больше, чем в накладной").arg(name).arg(l.received).arg(l.invoiced);
    } else if (IsExpired(expiry, today)) {
        out.verdict = ScanVerdict::Rejected;
        out.text = QStringLiteral("%1: срок годности истёк %2").arg(name, dateText(expiry));
    } else if (differs) {
        out.verdict = ScanVerdict::Differs;
        out.text = QStringLiteral("%1: серия %2, годен до %3, по накладной серия %4, годен до %5")
                       .arg(name, scan.batch.isEmpty() ? QStringLiteral("—") : scan.batch, dateText(scan.expiry),
                            l.series.isEmpty() ? QStringLiteral("—") : l.series, dateText(l.expiry));
    } else if (IsShortExpiry(expiry, today, shortExpiryMonths)) {
        out.verdict = ScanVerdict::Differs;
        out.text = name + QStringLiteral(": ") + ShortExpiryText(expiry, today);
    } else {
        out.verdict = ScanVerdict::Expected;
        out.text = QStringLiteral("%1: принято %2 из %3").arg(name).arg(l.received).arg(l.invoiced);
    }
    return out;
}

void InvoiceReceipt::SetCount(int line, int count)
{
    if (line < 0 || line >= int(m_lines.size()) || count < 0)
        return;
    ReceiptLine &l = m_lines[size_t(line)];
    // Set as a difference to what this workstation last saw, so that packs
    // another workstation scanned meanwhile are kept.
    const auto [received, other] = add(l.lineNo, l.lineNo == 0 ? l.code : QString(), count - l.received, 0);
    l.received = received;
    l.otherBatch = other;
}

int InvoiceReceipt::CompleteLines() const
{
    int n = 0;
    for (const ReceiptLine &l : m_lines)
        if (l.lineNo != 0 && l.received >= l.invoiced)
            ++n;
    return n;
}

int InvoiceReceipt::InvoiceLines() const
{
    return int(std::count_if(m_lines.begin(), m_lines.end(), [](const ReceiptLine &l) { return l.lineNo != 0; }));
}

QString InvoiceReceipt::SummaryText() const
{
    return QStringLiteral("принято %1 из %2 позиций").arg(CompleteLines()).arg(InvoiceLines());
}

std::vector<InvoiceReceipt::DiscrepancyLine> InvoiceReceipt::Discrepancies() const
{
    std::vector<DiscrepancyLine> out;
    for (Discrepancy kind : {Discrepancy::Short, Discrepancy::Over, Discrepancy::OtherBatch, Discrepancy::NotOnInvoice})
        for (const ReceiptLine &l : m_lines) {
            const bool on = l.lineNo != 0;
            if ((kind == Discrepancy::Short && on && l.received < l.invoiced)
                || (kind == Discrepancy::Over && on && l.received > l.invoiced)
                || (kind == Discrepancy::OtherBatch && on && l.otherBatch > 0)
                || (kind == Discrepancy::NotOnInvoice && !on && l.received > 0))
                out.push_back({kind, &l});
        }
    return out;
}

QString InvoiceReceipt::DiscrepancyTitle(Discrepancy kind)
{
    switch (kind) {
    case Discrepancy::Short: return QStringLiteral("Недостача");
    case Discrepancy::Over: return QStringLiteral("Излишек");
    case Discrepancy::OtherBatch: return QStringLiteral("Другая серия или срок годности");
    case Discrepancy::NotOnInvoice: return QStringLiteral("Нет в накладной");
    }
    return {};
}

} // namespace pc
