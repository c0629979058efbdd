#include "documents/Printing.h"

#include "core/Dialogs.h"
#include "db/DataModule.h"
#include "documents/RetailPricing.h"
#include "platform/AppError.h"
#include "price/PriceGrid.h"

#include <QLocale>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
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

// Every amount on paper has two decimals: "0,00".
QString moneyText(double v) { return FormatFloat(QStringLiteral("0.00"), v); }

QString cellText(const Field &f)
{
    if (f.DataType() == FieldType::Float)
        return moneyText(f.AsFloat());
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

bool isNumber(FieldType type)
{
    return type == FieldType::Smallint || type == FieldType::Integer || type == FieldType::LargeInt
        || type == FieldType::Float;
}

// Width of the widest word (or code: a word is never broken) in the painter's font.
int widestWord(const QPainter &p, const QString &text)
{
    int widest = 0;
    for (const QString &word : text.split(QRegularExpression(QStringLiteral("[\\s\\x{200B}]+")), Qt::SkipEmptyParts))
        widest = std::max(widest, p.fontMetrics().horizontalAdvance(word));
    return widest;
}

// Width of the text on one line in the painter's font.
int lineWidth(const QPainter &p, const QString &text)
{
    return p.fontMetrics().horizontalAdvance(text.trimmed());
}

constexpr int kWrapTop = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

// Height of the text wrapped at the given width in the painter's font (at least one line).
int wrappedHeight(QPainter &p, int width, const QString &text)
{
    const QRect r = p.boundingRect(QRect(0, 0, std::max(1, width), 1000000), kWrapTop, text);
    return std::max(textHeight(p), r.height());
}

// The table font shrinks no further than this when its columns do not fit.
constexpr int kSmallestTableFont = 5;

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
    // A row goes on the page while it ends inside the bottom margin.
    if ((m_row + 1) * m_size.height + 2 * m_margin > m_pageHeight) {
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

std::vector<int> FitColumnWidths(int usableWidth, const std::vector<ColumnNeed> &needs)
{
    const size_t n = needs.size();
    std::vector<double> widths(n);
    long long minimums = 0, preferred = 0, weights = 0, lacking = 0;
    for (const ColumnNeed &c : needs) {
        minimums += c.minimum;
        preferred += std::max(c.minimum, c.preferred);
        weights += std::max(1, c.weight);
        lacking += std::max(0, c.preferred - c.minimum);
    }
    if (n == 0)
        return {};
    if (minimums > usableWidth)
        return {};
    if (preferred <= usableWidth) {
        const double spare = double(usableWidth - preferred);
        for (size_t i = 0; i < n; ++i)
            widths[i] = std::max(needs[i].minimum, needs[i].preferred) + spare * std::max(1, needs[i].weight) / double(weights);
    } else {
        const double spare = double(usableWidth - minimums);
        for (size_t i = 0; i < n; ++i)
            widths[i] = needs[i].minimum + (lacking > 0 ? spare * std::max(0, needs[i].preferred - needs[i].minimum) / double(lacking) : 0);
    }
    // Whole pixels that add up to the usable width: the rounding remainder goes
    // to the widest column.
    std::vector<int> out(n);
    int sum = 0;
    size_t widest = 0;
    for (size_t i = 0; i < n; ++i) {
        out[i] = int(std::floor(widths[i]));
        sum += out[i];
        if (out[i] > out[widest])
            widest = i;
    }
    out[widest] += usableWidth - sum;
    return out;
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

bool DocumentPrinter::show(bool landscape, const std::function<void(QPrinter &)> &render)
{
    if (!showDocument)
        return false;
    QPrinter printer(QPrinter::HighResolution);
    // The sizes of the documents are printer pixels of a 300 dpi page.
    printer.setResolution(300);
    printer.setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    // A preview draws inside its own event handling: the first error waits
    // there and reaches the caller once the preview is closed.
    std::exception_ptr error;
    const bool shown = showDocument(printer, [&](QPrinter &target) {
        try {
            render(target);
        } catch (...) {
            if (!error)
                error = std::current_exception();
        }
    });
    if (error)
        std::rethrow_exception(error);
    return shown;
}

// The header row at y and the rows below it, with page breaks; endY receives
// the bottom of the table.
void DocumentPrinter::drawTable(QPainter &p, QPrinter &printer, Dataset &rows,
                                const std::vector<PrintTableColumn> &columns, const QStringList &fields, int k, int y,
                                int *endY)
{
    const int pageHeight = printer.height();
    const int usable = printer.width() - 2 * kTableMargin;
    const size_t n = columns.size();

    // The cells' texts, read once.
    std::vector<Field *> cellFields;
    std::vector<bool> numeric;
    for (const QString &name : fields) {
        cellFields.push_back(&rows.FieldByName(name));
        numeric.push_back(isNumber(cellFields.back()->DataType()));
    }
    QStringList titles;
    for (const PrintTableColumn &c : columns)
        titles << c.title;
    // Without printed columns the rows would only be blank space.
    const int count = columns.empty() ? 0 : rows.RecordCount();
    std::vector<QStringList> cells(count);
    for (int r = 0; r < count; ++r) {
        Dataset::ActiveRow at(rows, r);
        for (Field *f : cellFields)
            cells[r] << cellText(*f);
    }

    // The chosen font size, or the largest below it at which every word and
    // code fits its column; the padding shrinks with the font.
    const int chosen = 2 * k + 7;
    int size = chosen;
    int pad = 3 * k + 4;
    std::vector<int> widths;
    std::vector<ColumnNeed> needs;
    for (; n > 0; --size) {
        pad = std::max(2, roundHalfEven((3.0 * k + 4) * size / chosen));
        needs.assign(n, ColumnNeed{});
        p.setFont(printFont(size, true));
        for (size_t i = 0; i < n; ++i) {
            needs[i].minimum = widestWord(p, titles[i]);
            needs[i].preferred = lineWidth(p, titles[i]);
            needs[i].weight = columns[i].width;
        }
        p.setFont(printFont(size, false));
        for (const QStringList &row : cells)
            for (size_t i = 0; i < n; ++i) {
                needs[i].minimum = std::max(needs[i].minimum, widestWord(p, row[int(i)]));
                needs[i].preferred = std::max(needs[i].preferred, lineWidth(p, row[int(i)]));
            }
        for (ColumnNeed &c : needs) {
            c.minimum += 2 * pad + 1;
            c.preferred += 2 * pad + 1;
        }
        widths = FitColumnWidths(usable, needs);
        if (!widths.empty() || size <= kSmallestTableFont)
            break;
    }
    if (n > 0 && widths.empty()) {
        // Too many columns for the page even at the smallest font: shared by
        // what each needs on one line.
        for (ColumnNeed &c : needs)
            c.minimum = 0;
        widths = FitColumnWidths(usable, needs);
    }
    const QFont bold = printFont(size, true);
    const QFont normal = printFont(size, false);

    auto rowHeight = [&](const QStringList &texts, const QFont &font) {
        p.setFont(font);
        int h = textHeight(p);
        for (size_t i = 0; i < n; ++i)
            h = std::max(h, wrappedHeight(p, widths[i] - 2 * pad, texts[int(i)]));
        return h + 2 * pad;
    };
    auto drawRow = [&](int top, int height, const QStringList &texts, bool header) {
        p.setFont(header ? bold : normal);
        int x = kTableMargin;
        for (size_t i = 0; i < n; ++i) {
            frame(p, x, top, x + widths[i], top + height);
            const Qt::Alignment align = header ? (Qt::AlignHCenter | Qt::AlignVCenter)
                : numeric[i]                   ? (Qt::AlignRight | Qt::AlignTop)
                                               : (horizontal(columns[i].alignment) | Qt::AlignTop);
            p.drawText(box(x + pad, top + pad, x + widths[i] - pad, top + height - pad), int(align) | Qt::TextWordWrap,
                       texts[int(i)]);
            x += widths[i];
        }
    };

    const int headerHeight = n > 0 ? rowHeight(titles, bold) : 0;
    y += 2;
    if (n > 0)
        drawRow(y, headerHeight, titles, true);
    y += headerHeight;
    for (int r = 0; r < count; ++r) {
        const int height = rowHeight(cells[r], normal);
        if (pageHeight < y + height) {
            printer.newPage();
            y = 10;
            drawRow(y, headerHeight, titles, true);
            y += headerHeight;
        }
        drawRow(y, height, cells[r], false);
        y += height;
    }
    p.setFont(printFont(chosen, false));
    *endY = y;
}

int DocumentPrinter::drawTotals(QPainter &p, QPrinter &printer, int k, int y, const QString &text)
{
    p.setFont(printFont(2 * k + 7, true));
    const int height = textHeight(p);
    y += height / 2;
    if (y + height > printer.height()) {
        printer.newPage();
        y = 10;
    }
    p.drawText(box(kTableMargin, y, printer.width() - kTableMargin, y + height),
               Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine, text);
    p.setFont(printFont(2 * k + 7, false));
    return y + height;
}

QString OrderDeliveryAddress(const PrintValues &values, bool fromPrice, const QString &orderComment)
{
    const QStringList &own = values.deliveryAddresses;
    if (own.isEmpty())
        return QString();
    if (fromPrice)
        return own.value(values.addressIndex).trimmed();
    // A saved order names its address in the comment unless it went to the first.
    QString best;
    const QString comment = orderComment.trimmed();
    for (const QString &a : own)
        if (!a.isEmpty() && a.size() > best.size() && comment.startsWith(QStringLiteral("от ") + a))
            best = a;
    return best.isEmpty() ? own.front().trimmed() : best.trimmed();
}

bool DocumentPrinter::PrintInvoice(const PrintValues &values)
{
    Dataset *naklad = m_dm.NakladSet();
    Dataset *lines = m_dm.NakladLinesSet();
    if (!naklad || !lines || !naklad->Active() || naklad->IsEmpty() || !lines->Active())
        return false;
    postPending(*lines);

    const int k = std::clamp(values.fontSize, 0, 2);
    const std::vector<PrintTableColumn> columns = CheckedInvoiceColumns(values.invoiceColumns, values.invoicePrintColumns);
    QStringList fields;
    for (const PrintTableColumn &c : columns)
        fields << c.fieldName;

    return show(values.orientation == 0, [&](QPrinter &printer) {
        QPainter p;
        beginDocument(p, printer);
        printGuarded(
            p,
            [&] {
                const int pageWidth = printer.width();
                m_pricing.CalcNakladSums(true);
                const QString title = QStringLiteral("Накладная № ")
                    + naklad->FieldByName(QStringLiteral("NUMBR")).AsString().trimmed() + QStringLiteral(" от ")
                    + naklad->FieldByName(QStringLiteral("NAKLDATE")).AsString().trimmed() + QStringLiteral(". Сумма апт. ")
                    + moneyText(m_pricing.NakladSumApt);

                p.setFont(printFont(2 * k + 8, true));
                const int titleHeight = textHeight(p);
                textOut(p, pageWidth / 2 - p.fontMetrics().horizontalAdvance(title) / 2, titleHeight, title);
                int y = roundHalfEven(titleHeight * 2.5);

                p.setFont(printFont(2 * k + 7, false));
                const int lineHeight = textHeight(p);
                auto wrapped = [&](const QString &text) {
                    const int height = wrappedHeight(p, pageWidth - 2 * kTextMargin, text);
                    p.drawText(QRect(kTextMargin, y, pageWidth - 2 * kTextMargin, height), kWrapTop, text);
                    return y + height;
                };
                y = wrapped(QStringLiteral("Поставщик: ") + values.supplierName.trimmed()) + roundHalfEven(0.5 * lineHeight);
                QString recipient = QStringLiteral("Получатель: ") + values.clientName.trimmed();
                if (values.addressIndex > 0)
                    recipient += QLatin1Char(' ') + values.addressText;
                y = wrapped(recipient) + lineHeight;

                p.drawLine(kTableMargin, y, pageWidth - kTableMargin, y);
                p.drawLine(kTableMargin, y + 1, pageWidth - kTableMargin, y + 1);

                drawTable(p, printer, *lines, columns, fields, k, y, &y);
                y = drawTotals(p, printer, k, y,
                               QStringLiteral("Итого: %1 поз. на сумму %2, сумма апт. %3")
                                   .arg(lines->RecordCount())
                                   .arg(moneyText(m_pricing.NakladSum), moneyText(m_pricing.NakladSumApt)));

                const int rowText = textHeight(p);
                y += 2 * rowText;
                if (y + rowText > printer.height()) {
                    printer.newPage();
                    y = 10;
                }
                p.drawText(QRect(kTextMargin, y, pageWidth - 2 * kTextMargin, rowText),
                           Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, kSignatureLine);
            },
            [] {});
    });
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

    // The column that holds the line sums, for the total.
    QString sumField;
    for (int i = 0; i < int(columns.size()); ++i)
        if (columns[size_t(i)].fieldName.toUpper() == QLatin1String("SUMMADEC"))
            sumField = fields[i];
    const QString address =
        OrderDeliveryAddress(values, fromPrice, fromPrice ? QString() : orders->FieldByName(QStringLiteral("COMMENT")).AsString());

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

    return show(false, [&](QPrinter &printer) {
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
                const int pageWidth = printer.width();
                p.setFont(printFont(2 * k + 12, true));
                const int h = textHeight(p);
                textOut(p, pageWidth / 2 - p.fontMetrics().horizontalAdvance(title) / 2, 2 * h, title);
                int y = 4 * h;

                // Who orders and where the goods go.
                p.setFont(printFont(2 * k + 7, false));
                const int lineHeight = textHeight(p);
                auto wrapped = [&](const QString &text) {
                    const int height = wrappedHeight(p, pageWidth - 2 * kTextMargin, text);
                    p.drawText(QRect(kTextMargin, y, pageWidth - 2 * kTextMargin, height), kWrapTop, text);
                    y += height;
                };
                wrapped(QStringLiteral("Аптека: ") + values.clientName.trimmed());
                if (!address.isEmpty())
                    wrapped(QStringLiteral("Адрес доставки: ") + address);
                y += lineHeight / 2;

                p.drawLine(kTableMargin, y, pageWidth - kTableMargin, y);
                p.drawLine(kTableMargin, y + 1, pageWidth - kTableMargin, y + 1);

                if (fromPrice) {
                    filterChanged = true;
                    m_priceGrid.SetPriceFilter(true, kOnlyOrderCondition);
                }
                drawTable(p, printer, *rows, columns, fields, k, y, &y);
                if (!columns.empty()) {
                    const int count = rows->RecordCount();
                    QString totals = QStringLiteral("Итого: %1 поз.").arg(count);
                    if (!sumField.isEmpty()) {
                        Field &sum = rows->FieldByName(sumField);
                        double total = 0;
                        for (int r = 0; r < count; ++r) {
                            Dataset::ActiveRow at(*rows, r);
                            total += sum.AsFloat();
                        }
                        totals += QStringLiteral(" на сумму ") + moneyText(total);
                    }
                    drawTotals(p, printer, k, y, totals);
                }
            },
            [&] {
                if (!filterChanged)
                    return;
                // The price grid shows again what it showed, on the same goods.
                m_priceGrid.SetPriceFilter(wasFiltered, wasFiltered ? oldFilter : QString());
                if (!currentGoods.isEmpty())
                    price->Locate(QStringLiteral("IDTOVAR"), currentGoods);
            });
    });
}

namespace {

// A text block of a price tag: the largest font up to its size at which the
// text keeps within its lines and no word runs past the tag's edge.
struct TagText {
    QString text;
    int pointSize = 0;
    bool bold = false;
    int maxLines = 1;
    QFont font;
    int height = 0;

    void fit(QPainter &p, int width, double scale)
    {
        for (int size = std::max(4, roundHalfEven(pointSize * scale));; --size) {
            font = printFont(size, bold);
            p.setFont(font);
            const int line = textHeight(p);
            height = wrappedHeight(p, width, text);
            if (size <= 4 || (widestWord(p, text) <= width && height <= maxLines * line + line / 2))
                return;
        }
    }
};

// Names joined with "+" or "/" ("Амоксициллин+Клавулановая кислота") may
// break after the sign, so a long compound name needs no tiny font.
QString breakable(QString text)
{
    text.replace(QLatin1Char('+'), QStringLiteral("+\u200B"));
    text.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    return text;
}

} // namespace

void DocumentPrinter::drawPriceTag(QPainter &p, Dataset &lines, int x, int y, TagSize size, const PrintValues &values,
                                   const QString &number, const QString &date)
{
    const int n = std::max(1, values.tagsPerRow);
    const int t = std::clamp(values.tagFontSize, 0, 2);
    const bool large = n <= 5 && t < 2;
    frame(p, x, y, x + size.width, y + size.height);
    frame(p, x + 1, y + 1, x + size.width - 1, y + size.height - 1);

    // The texts keep a margin inside the frame (about 1.5 mm on a tag of
    // seven a row): a price right-aligned never touches the frame.
    const int inset = std::max(12, std::min(size.width, size.height) / 20);
    const int left = x + inset;
    const int right = x + size.width - inset;
    const int width = right - left;
    const int top = y + inset;
    const int bottom = y + size.height - inset;

    TagText pharmacy{values.clientName.trimmed(), 2 * t + 7, false, 1};
    TagText goods{breakable(lines.FieldByName(QStringLiteral("TOVAR")).AsString().trimmed()), n < 9 ? 2 * t + 9 : 2 * t + 7, true, 3};
    TagText producer{breakable(lines.FieldByName(QStringLiteral("PRODUCT")).AsString().trimmed()) + QLatin1Char('(')
                         + lines.FieldByName(QStringLiteral("COUNTRY")).AsString().trimmed() + QLatin1Char(')'),
                     2 * t + 6, false, 2};
    TagText price{QStringLiteral("Цена ") + moneyText(lines.FieldByName(QStringLiteral("PRICE_APT")).AsFloat())
                      + QStringLiteral(" руб"),
                  large ? 3 * t + 18 : n < 8 ? 3 * t + 12 : 2 * t + 11, true, 1};
    // The number and the date share the footer line.
    TagText footer{QStringLiteral("№") + number + QStringLiteral("   ") + date, n < 9 ? 2 * t + 7 : 2 * t + 5, false, 1};

    // Gaps between the blocks; the price stands a little apart on large tags.
    const int priceGap = n <= 5 ? 12 : 4;
    const int gaps = 5 + 2 + priceGap + 4;
    // All blocks shrink together until they fit the tag's height.
    for (double scale = 1.0;; scale *= 0.9) {
        for (TagText *b : {&pharmacy, &goods, &producer, &price, &footer})
            b->fit(p, width, scale);
        const int total = pharmacy.height + goods.height + producer.height + price.height + footer.height + gaps;
        if (total <= bottom - top || scale < 0.3)
            break;
    }

    int at = top;
    p.setFont(pharmacy.font);
    p.drawText(box(left, at, right, at + pharmacy.height), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, pharmacy.text);
    at += pharmacy.height + 5;
    p.setFont(goods.font);
    p.drawText(box(left, at, right, at + goods.height), kWrapTop, goods.text);
    at += goods.height + 2;
    p.setFont(producer.font);
    p.drawText(box(left, at, right, at + producer.height), kWrapTop, producer.text);
    at += producer.height + priceGap;
    p.setFont(price.font);
    p.drawText(box(left, at, right, at + price.height), Qt::AlignRight | Qt::AlignTop | Qt::TextWordWrap, price.text);
    at += price.height;

    // The invoice at the foot of the tag (or not far below the price).
    p.setFont(footer.font);
    const int footerTop = std::max(at + 4, std::min(bottom - footer.height, at + 80));
    const QRect foot = box(left, footerTop, right, footerTop + footer.height);
    p.drawText(foot, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, QStringLiteral("№") + number);
    p.drawText(foot, Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine, date);
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

    const QString number = naklad->FieldByName(QStringLiteral("NUMBR")).AsString().trimmed();
    const QString date = naklad->FieldByName(QStringLiteral("NAKLDATE")).AsString().trimmed();

    return show(true, [&](QPrinter &printer) {
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
    });
}

} // namespace pc
