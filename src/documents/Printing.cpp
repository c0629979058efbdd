#include "documents/Printing.h"

#include "core/Dialogs.h"
#include "db/DataModule.h"
#include "documents/RetailPricing.h"
#include "platform/AppError.h"
#include "price/PriceGrid.h"

#include <QLocale>
#include <QPainter>
#include <QPrinter>
#include <algorithm>
#include <cmath>
#include <exception>

namespace pc {

const QString kSignatureLine = QStringLiteral(
    "Отпустил _______________________(                            )                                 "
    "Получил ______________________ (                              )");
const QString kUnpricedInvoiceNotice = QStringLiteral("Эта накладная еще не расценена!");

namespace {

constexpr int kTableMargin = 30; // left and right margin of the tables
constexpr int kTextMargin = 40;  // left and right margin of the header texts

int roundHalfEven(double x) { return int(std::nearbyint(x)); }

QFont printFont(int pointSize, bool bold)
{
    QFont f;
    f.setPointSize(std::max(1, pointSize));
    f.setBold(bold);
    return f;
}

// Height of a line of text in the painter's font.
int textHeight(const QPainter &p) { return p.fontMetrics().height(); }

// Text with its top-left corner at (x, y).
void textOut(QPainter &p, int x, int y, const QString &text) { p.drawText(x, y + p.fontMetrics().ascent(), text); }

// The box between the edges left/right and top/bottom (right and bottom outside it).
QRect box(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

void frame(QPainter &p, int left, int top, int right, int bottom)
{
    p.drawRect(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
}

// A number as the person's regional settings write it, without grouping.
QString numberText(double v)
{
    QLocale loc;
    loc.setNumberOptions(QLocale::OmitGroupSeparator);
    return loc.toString(v, 'g', 15);
}

QString cellText(const Field &f, bool formatFloats)
{
    if (f.DataType() == FieldType::Float) {
        if (formatFloats)
            return FormatFloat(QStringLiteral("0.00"), f.AsFloat());
        return f.IsNull() ? QString() : numberText(f.AsFloat());
    }
    return f.AsString();
}

Qt::Alignment horizontal(Qt::Alignment a)
{
    if (a & Qt::AlignRight)
        return Qt::AlignRight;
    if (a & Qt::AlignHCenter)
        return Qt::AlignHCenter;
    return Qt::AlignLeft;
}

void postPending(Dataset &ds)
{
    if (ds.State() == DatasetState::Edit || ds.State() == DatasetState::Insert)
        ds.Post();
}

// Runs the drawing, then ends the document whatever happened; the first
// error (of the drawing or of the after step) reaches the caller.
template <class Draw, class After>
void printGuarded(QPainter &p, Draw draw, After after)
{
    std::exception_ptr error;
    try {
        draw();
    } catch (...) {
        error = std::current_exception();
    }
    if (p.isActive())
        p.end();
    try {
        after();
    } catch (...) {
        if (!error)
            error = std::current_exception();
    }
    if (error)
        std::rethrow_exception(error);
}

void beginDocument(QPainter &p, QPrinter &printer)
{
    if (!p.begin(&printer))
        throw AppError(QStringLiteral("Не удалось начать печать"));
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
}

} // namespace

TagSize PriceTagSize(int pageWidth, int pageHeight, int perRow, int margin)
{
    perRow = std::max(1, perRow);
    return {(pageWidth - 2 * margin) / perRow, (pageHeight - 2 * margin) / perRow};
}

TagPlacer::TagPlacer(int pageHeight, int perRow, int margin, TagSize size)
    : m_pageHeight(pageHeight), m_perRow(std::max(1, perRow)), m_margin(margin), m_size(size)
{
}

TagPlacer::Place TagPlacer::next()
{
    Place place;
    if (m_column > m_perRow - 1) {
        m_column = 0;
        ++m_row;
    }
    if ((m_row + 1) * m_size.height + m_margin + 30 >= m_pageHeight) {
        // A page that holds no tag yet is not left blank: the tag goes there.
        place.newPage = m_pageUsed;
        m_column = 0;
        m_row = 0;
    }
    place.x = m_margin + m_size.width * m_column;
    place.y = m_margin + m_size.height * m_row;
    ++m_column;
    m_pageUsed = true;
    return place;
}

std::vector<int> PrintedColumnWidths(int usableWidth, const std::vector<PrintTableColumn> &columns)
{
    double total = 0;
    for (const PrintTableColumn &c : columns)
        total += c.width;
    std::vector<int> widths;
    for (const PrintTableColumn &c : columns)
        widths.push_back(total > 0 ? roundHalfEven(double(usableWidth) * c.width / total) : 0);
    return widths;
}

std::vector<PrintTableColumn> CheckedInvoiceColumns(const std::vector<PrintTableColumn> &grid,
                                                    const QList<PrintColumn> &checked)
{
    std::vector<PrintTableColumn> out;
    for (const PrintTableColumn &c : grid) {
        if (!c.visible)
            continue;
        const auto it = std::find_if(checked.begin(), checked.end(),
                                     [&c](const PrintColumn &p) { return p.caption == c.title; });
        if (it != checked.end() && it->visible)
            out.push_back(c);
    }
    return out;
}

DocumentPrinter::DocumentPrinter(TDM &dm, RetailPricing &pricing, PriceGrid &priceGrid, Dialogs &dialogs)
    : m_dm(dm), m_pricing(pricing), m_priceGrid(priceGrid), m_dialogs(dialogs)
{
}

bool DocumentPrinter::preparePrinter(QPrinter &printer, bool landscape)
{
    printer.setResolution(300);
    if (!askPrinter || !askPrinter(printer))
        return false;
    // The sizes of the documents are printer pixels of a 300 dpi page.
    printer.setResolution(300);
    printer.setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    return true;
}

// The header row at y and one row per dataset row below it, with page breaks;
// endY receives the top of the last row drawn.
void DocumentPrinter::drawTable(QPainter &p, QPrinter &printer, Dataset &rows,
                                const std::vector<PrintTableColumn> &columns, const QStringList &fields, int k, int y,
                                bool formatFloats, int *endY)
{
    const int pageWidth = printer.width();
    const int pageHeight = printer.height();
    const int pad = 3 * k + 4;
    const std::vector<int> widths = PrintedColumnWidths(pageWidth - 2 * kTableMargin, columns);
    const QFont bold = printFont(2 * k + 7, true);
    const QFont normal = printFont(2 * k + 7, false);

    int rowText = 0;
    auto header = [&](int top) {
        p.setFont(bold);
        int x = kTableMargin;
        for (size_t i = 0; i < columns.size(); ++i) {
            frame(p, x, top, x + widths[i], top + rowText + 2 * pad);
            p.drawText(box(x + pad, top + pad, x + widths[i] - pad, top + rowText + pad),
                       Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, columns[i].title);
            x += widths[i];
        }
        p.setFont(normal);
    };

    p.setFont(bold);
    rowText = textHeight(p);
    y += 2;
    header(y);
    p.setFont(normal);
    rowText = textHeight(p);

    std::vector<Field *> cellFields;
    for (const QString &name : fields)
        cellFields.push_back(&rows.FieldByName(name));

    // Without printed columns the rows would only be blank space.
    const int count = columns.empty() ? 0 : rows.RecordCount();
    const int rowHeight = rowText + 2 * pad;
    for (int r = 0; r < count; ++r) {
        Dataset::ActiveRow at(rows, r);
        y += rowHeight;
        if (pageHeight < y + rowHeight) {
            printer.newPage();
            y = 10;
            header(y);
            y += rowHeight;
        }
        int x = kTableMargin;
        for (size_t i = 0; i < columns.size(); ++i) {
            frame(p, x, y, x + widths[i], y + rowHeight);
            p.drawText(box(x + pad, y + pad, x + widths[i] - pad, y + rowText + pad),
                       horizontal(columns[i].alignment) | Qt::AlignVCenter | Qt::TextSingleLine,
                       cellText(*cellFields[i], formatFloats));
            x += widths[i];
        }
    }
    *endY = y;
}

bool DocumentPrinter::PrintInvoice(const PrintValues &values)
{
    Dataset *naklad = m_dm.NakladSet();
    Dataset *lines = m_dm.NakladLinesSet();
    if (!naklad || !lines || !naklad->Active() || naklad->IsEmpty() || !lines->Active())
        return false;
    postPending(*lines);
    QPrinter printer;
    if (!preparePrinter(printer, values.orientation == 0))
        return false;

    const int k = std::clamp(values.fontSize, 0, 2);
    const std::vector<PrintTableColumn> columns = CheckedInvoiceColumns(values.invoiceColumns, values.invoicePrintColumns);
    QStringList fields;
    for (const PrintTableColumn &c : columns)
        fields << c.fieldName;

    QPainter p;
    beginDocument(p, printer);
    printGuarded(
        p,
        [&] {
            const int pageWidth = printer.width();
            m_pricing.CalcNakladSums(true);
            const QString title = QStringLiteral("Накладная № ") + naklad->FieldByName(QStringLiteral("NUMBR")).AsString().trimmed()
                + QStringLiteral(" от ") + naklad->FieldByName(QStringLiteral("NAKLDATE")).AsString().trimmed()
                + QStringLiteral(". Cумма апт.") + numberText(m_pricing.NakladSumApt);

            p.setFont(printFont(2 * k + 8, true));
            const int titleHeight = textHeight(p);
            textOut(p, pageWidth / 2 - p.fontMetrics().horizontalAdvance(title) / 2, titleHeight, title);
            int y = roundHalfEven(titleHeight * 2.5);

            p.setFont(printFont(2 * k + 7, false));
            const int lineHeight = textHeight(p);
            auto wrapped = [&](const QString &text) {
                const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
                const QRect measured = p.boundingRect(QRect(kTextMargin, y, pageWidth - 2 * kTextMargin, 0), flags, text);
                const QRect r(kTextMargin, y, pageWidth - 2 * kTextMargin, measured.height());
                p.drawText(r, flags, text);
                return r.y() + r.height();
            };
            y = wrapped(QStringLiteral("Поставщик: ") + values.supplierName.trimmed()) + roundHalfEven(0.5 * lineHeight);
            QString recipient = QStringLiteral("Получатель: ") + values.clientName.trimmed();
            if (values.addressIndex > 0)
                recipient += QLatin1Char(' ') + values.addressText;
            y = wrapped(recipient) + lineHeight;

            p.drawLine(kTableMargin, y, pageWidth - kTableMargin, y);
            p.drawLine(kTableMargin, y + 1, pageWidth - kTableMargin, y + 1);

            drawTable(p, printer, *lines, columns, fields, k, y, true, &y);

            const int rowText = textHeight(p);
            y += 3 * rowText + 2 * (3 * k + 4);
            p.drawText(QRect(kTextMargin, y, pageWidth - 2 * kTextMargin, rowText),
                       Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, kSignatureLine);
        },
        [] {});
    return true;
}

bool DocumentPrinter::PrintOrder(bool fromPrice, const PrintValues &values)
{
    Dataset *price = m_dm.PriceSet();
    Dataset *orders = m_dm.OrdersSet();
    Dataset *rows = fromPrice ? price : m_dm.OrdersLinesTable();
    if (!rows || !rows->Active())
        return false;
    if (!fromPrice && (!orders || !orders->Active() || orders->IsEmpty()))
        return false;
    QPrinter printer;
    if (!preparePrinter(printer, false))
        return false;

    const int k = std::clamp(values.fontSize, 0, 2);
    std::vector<PrintTableColumn> columns;
    QStringList fields;
    for (const PrintTableColumn &c : values.orderColumns) {
        if (!c.visible)
            continue;
        columns.push_back(c);
        QString field = c.fieldName;
        if (fromPrice) {
            // The order lines' columns read from the price rows.
            const QString upper = field.toUpper();
            if (upper == m_dm.QntFieldName().toUpper())
                field = QStringLiteral("ZAKAZ");
            else if (upper == QLatin1String("SUMMADEC"))
                field = m_dm.SumFieldName();
        }
        fields << field;
    }

    QPainter p;
    beginDocument(p, printer);
    const bool wasFiltered = price && price->Filtered();
    const QString oldFilter = price ? price->Filter() : QString();
    QString currentGoods;
    if (fromPrice && !price->IsEmpty())
        currentGoods = price->FieldByName(QStringLiteral("IDTOVAR")).AsString();
    bool filterChanged = false;

    printGuarded(
        p,
        [&] {
            QString title;
            if (fromPrice) {
                const QDateTime at = now();
                title = QStringLiteral("Заявка № _____ от ") + QLocale().toString(at.date(), QLocale::ShortFormat)
                    + QLatin1Char(' ') + at.time().toString(QStringLiteral("HH:mm:ss"));
            } else {
                title = QStringLiteral("Заявка № ") + orders->FieldByName(QStringLiteral("ID")).AsString()
                    + QStringLiteral(" от ") + orders->FieldByName(QStringLiteral("DATET")).AsString()
                    + QStringLiteral(" время ") + orders->FieldByName(QStringLiteral("ORDERTIME")).AsString();
            }
            const int pageWidth = printer.width();
            p.setFont(printFont(2 * k + 12, true));
            const int h = textHeight(p);
            textOut(p, pageWidth / 2 - p.fontMetrics().horizontalAdvance(title) / 2, 2 * h, title);
            int y = 4 * h;
            p.drawLine(kTableMargin, y, pageWidth - kTableMargin, y);
            p.drawLine(kTableMargin, y + 1, pageWidth - kTableMargin, y + 1);

            if (fromPrice) {
                filterChanged = true;
                m_priceGrid.SetPriceFilter(true, kOnlyOrderCondition);
            }
            drawTable(p, printer, *rows, columns, fields, k, y, false, &y);
        },
        [&] {
            if (!filterChanged)
                return;
            // The price grid shows again what it showed, on the same goods.
            m_priceGrid.SetPriceFilter(wasFiltered, wasFiltered ? oldFilter : QString());
            if (!currentGoods.isEmpty())
                price->Locate(QStringLiteral("IDTOVAR"), currentGoods);
        });
    return true;
}

void DocumentPrinter::drawPriceTag(QPainter &p, Dataset &lines, int x, int y, TagSize size, const PrintValues &values,
                                   const QString &number, const QString &date)
{
    const int n = std::max(1, values.tagsPerRow);
    const int t = std::clamp(values.tagFontSize, 0, 2);
    const bool large = n <= 5 && t < 2;
    frame(p, x, y, x + size.width, y + size.height);
    frame(p, x + 1, y + 1, x + size.width - 1, y + size.height - 1);

    const int left = x + 10;
    const int right = x + size.width - 7;
    const int wrap = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

    // The pharmacy.
    p.setFont(printFont(2 * t + 7, false));
    int h = textHeight(p);
    int top = y + 7;
    int bottom = y + 2 + h;
    p.drawText(box(left, top, right, bottom), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, values.clientName);

    // The goods.
    p.setFont(printFont(n < 9 ? 2 * t + 9 : 2 * t + 7, true));
    h = textHeight(p);
    top = bottom + 7;
    bottom = bottom + 2 * h + 8;
    p.drawText(box(left, top, right, bottom), wrap, lines.FieldByName(QStringLiteral("TOVAR")).AsString().trimmed());

    // The producer and its country.
    p.setFont(printFont(2 * t + 6, false));
    h = textHeight(p);
    top = bottom + 2;
    bottom = large ? bottom + 2 * h + 8 : bottom + h + 8;
    p.drawText(box(left, top, right, bottom), wrap,
               lines.FieldByName(QStringLiteral("PRODUCT")).AsString().trimmed() + QLatin1Char('(')
                   + lines.FieldByName(QStringLiteral("COUNTRY")).AsString().trimmed() + QLatin1Char(')'));

    // The price.
    p.setFont(printFont(large ? 3 * t + 18 : n < 8 ? 3 * t + 12 : 2 * t + 11, true));
    h = textHeight(p);
    top = bottom + 2;
    bottom = bottom + h + 4;
    if (n <= 5) {
        top += 10;
        bottom += 10;
    }
    p.drawText(box(left, top, right, bottom), Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine,
               QStringLiteral("Цена ") + FormatFloat(QStringLiteral("0.00"), lines.FieldByName(QStringLiteral("PRICE_APT")).AsFloat())
                   + QStringLiteral(" pуб"));

    // The invoice.
    p.setFont(printFont(n < 9 ? 2 * t + 7 : 2 * t + 5, false));
    h = textHeight(p);
    top = std::min(y + size.height - h - 7, bottom + 80);
    bottom = std::min(y + size.height - 7, bottom + h + 80);
    const QRect footer = box(left, top, right, bottom);
    p.drawText(footer, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, QStringLiteral("№") + number);
    p.drawText(footer, Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine, date);
}

bool DocumentPrinter::PrintPriceTags(const PrintValues &values)
{
    Dataset *naklad = m_dm.NakladSet();
    Dataset *lines = m_dm.NakladLinesSet();
    if (!naklad || !lines || !naklad->Active() || naklad->IsEmpty() || !lines->Active() || lines->IsEmpty())
        return false;
    postPending(*lines);
    Field &priceApt = lines->FieldByName(QStringLiteral("PRICE_APT"));
    for (int r = 0; r < lines->RecordCount(); ++r) {
        bool unpriced = false;
        {
            Dataset::ActiveRow at(*lines, r);
            unpriced = priceApt.AsFloat() == 0;
        }
        if (unpriced) {
            // The unpriced line becomes the current one.
            lines->SetRecNo(r + 1);
            m_dialogs.showNotice(kUnpricedInvoiceNotice, true);
            return false;
        }
    }

    QPrinter printer;
    if (!preparePrinter(printer, true))
        return false;
    const QString number = naklad->FieldByName(QStringLiteral("NUMBR")).AsString().trimmed();
    const QString date = naklad->FieldByName(QStringLiteral("NAKLDATE")).AsString().trimmed();

    QPainter p;
    beginDocument(p, printer);
    printGuarded(
        p,
        [&] {
            const int margin = values.tagMargin;
            const TagSize size = PriceTagSize(printer.width(), printer.height(), values.tagsPerRow, margin);
            TagPlacer placer(printer.height(), values.tagsPerRow, margin, size);
            for (int r = 0; r < lines->RecordCount(); ++r) {
                Dataset::ActiveRow at(*lines, r);
                const TagPlacer::Place place = placer.next();
                if (place.newPage)
                    printer.newPage();
                drawPriceTag(p, *lines, place.x, place.y, size, values, number, date);
            }
        },
        [] {});
    return true;
}

} // namespace pc
