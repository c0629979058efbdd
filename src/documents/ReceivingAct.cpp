#include "documents/ReceivingAct.h"

#include "documents/Receiving.h"

#include <QPainter>
#include <QPrinter>

namespace pc {

namespace {

constexpr int kMargin = 30;     // table margin, printer pixels
constexpr int kTextMargin = 40; // header text margin
constexpr int kPadding = 4;

QFont actFont(int points, bool bold)
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSize(points);
    f.setBold(bold);
    return f;
}

QString dateText(QDate d) { return d.isValid() ? d.toString(QStringLiteral("dd.MM.yyyy")) : QString(); }

} // namespace

QString DiscrepancyActTitle(const ActHeader &h)
{
    return QStringLiteral("Акт расхождений по накладной № %1 от %2").arg(h.number.trimmed(), dateText(h.date));
}

void DrawDiscrepancyAct(QPrinter &printer, const InvoiceReceipt &receipt, const ActHeader &h)
{
    QPainter p;
    if (!p.begin(&printer))
        return;
    const int width = printer.width();
    p.setFont(actFont(10, true));
    const QString title = DiscrepancyActTitle(h);
    int y = p.fontMetrics().height();
    p.drawText(QRect(kTextMargin, y, width - 2 * kTextMargin, 3 * p.fontMetrics().height()),
               Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, title);
    y += 3 * p.fontMetrics().height();

    p.setFont(actFont(7, false));
    const int line = p.fontMetrics().height();
    const QStringList header = {QString(QStringLiteral("Поставщик: ") + h.supplier.trimmed()),
                                QString(QStringLiteral("Получатель: ") + h.pharmacy.trimmed()), receipt.SummaryText()};
    for (const QString &text : header) {
        const QRect r = p.boundingRect(QRect(kTextMargin, y, width - 2 * kTextMargin, 10000), Qt::TextWordWrap, text);
        p.drawText(QRect(kTextMargin, y, width - 2 * kTextMargin, r.height()), Qt::TextWordWrap, text);
        y += r.height() + line / 2;
    }
    p.drawLine(kMargin, y, width - kMargin, y);
    p.drawLine(kMargin, y + 1, width - kMargin, y + 1);
    y += 2;

    // № | Наименование | Серия | Ср.годн. | ШК | По накл. | Принято | Расхождение
    const QStringList titles = {QStringLiteral("№"), QStringLiteral("Наименование"), QStringLiteral("Серия"),
                                QStringLiteral("Ср.годн."), QStringLiteral("ШК"), QStringLiteral("По накл."),
                                QStringLiteral("Принято"), QStringLiteral("Расхождение")};
    const double shares[] = {0.05, 0.27, 0.1, 0.1, 0.14, 0.08, 0.08, 0.18};
    std::vector<int> widths;
    int used = 0;
    for (int i = 0; i < titles.size(); ++i) {
        const int w = i + 1 < titles.size() ? int((width - 2 * kMargin) * shares[i]) : width - 2 * kMargin - used;
        widths.push_back(w);
        used += w;
    }
    const int rowHeight = line + 2 * kPadding;
    auto row = [&](const QStringList &cells, bool bold) {
        if (y + rowHeight > printer.height() - line) {
            printer.newPage();
            y = 10;
        }
        p.setFont(actFont(7, bold));
        int x = kMargin;
        for (int i = 0; i < cells.size() && i < int(widths.size()); ++i) {
            const QRect cell(x, y, widths[size_t(i)], rowHeight);
            p.drawRect(cell);
            const Qt::Alignment align = (i >= 5 ? Qt::AlignRight : i == 0 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter;
            p.drawText(cell.adjusted(kPadding, kPadding, -kPadding, -kPadding), int(align) | Qt::TextSingleLine,
                       p.fontMetrics().elidedText(cells[i], Qt::ElideRight, cell.width() - 2 * kPadding));
            x += widths[size_t(i)];
        }
        y += rowHeight;
    };

    const auto discrepancies = receipt.Discrepancies();
    if (discrepancies.empty()) {
        p.setFont(actFont(7, false));
        p.drawText(QRect(kTextMargin, y + line, width - 2 * kTextMargin, line), Qt::AlignLeft,
                   QStringLiteral("Расхождений нет"));
        y += 2 * line;
    }
    bool first = true;
    InvoiceReceipt::Discrepancy kind{};
    for (const auto &d : discrepancies) {
        if (first || d.kind != kind) {
            first = false;
            kind = d.kind;
            y += line / 2;
            p.setFont(actFont(7, true));
            p.drawText(QRect(kMargin, y, width - 2 * kMargin, line), Qt::AlignLeft, InvoiceReceipt::DiscrepancyTitle(kind));
            y += line + 2;
            row(titles, true);
        }
        const ReceiptLine &l = *d.line;
        QString difference;
        if (d.kind == InvoiceReceipt::Discrepancy::OtherBatch)
            difference = QStringLiteral("%1 уп. др. серии/срока").arg(l.otherBatch);
        else
            difference = QStringLiteral("%1%2").arg(l.received > l.invoiced ? QStringLiteral("+") : QString()).arg(l.received - l.invoiced);
        row({l.lineNo ? QString::number(l.lineNo) : QString(), l.name, l.series, dateText(l.expiry), l.code,
             l.lineNo ? QString::number(l.invoiced) : QStringLiteral("0"), QString::number(l.received), difference},
            false);
    }

    y += 3 * line;
    if (y + line > printer.height()) {
        printer.newPage();
        y = 10;
    }
    p.setFont(actFont(7, false));
    p.drawText(QRect(kTextMargin, y, width - 2 * kTextMargin, line), Qt::AlignHCenter | Qt::TextSingleLine,
               QStringLiteral("Принял _______________________(                            )              "
                              "Представитель поставщика ______________________ (                              )"));
    p.end();
}

} // namespace pc
