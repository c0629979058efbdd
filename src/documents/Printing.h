#pragma once
// The printed documents: the current invoice as a table with its header and
// the signature line, an order as a table (an archived order or the order
// being entered in the price grid), and price tags for the lines of a priced
// invoice.
//
// Everything is drawn with a QPainter in printer pixels (the printer is set
// to 300 dpi). Table columns take their relative widths from the on-screen
// grids and are then sized to what they hold: each column at least as wide
// as its widest word or code, long names and titles wrapping inside their
// cell, numbers right-aligned.
//
// The document goes out through the showDocument hook: the window shows a
// print preview from which it is printed or saved as PDF; tests render it
// straight to a PDF. The document is always ended, also when drawing fails:
// what was drawn is printed and the error reaches the caller.

#include "core/Settings.h"

#include <QDateTime>
#include <QFont>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class Dialogs;
class QPainter;
class QPrinter;

namespace pc {

class Dataset;
class PriceGrid;
class RetailPricing;
class TDM;

// A grid column as the printout needs it.
struct PrintTableColumn {
    QString fieldName;
    QString title;
    int width = 64;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool visible = true;
};

// The columns of an on-screen grid (any type with fieldName, title, width,
// alignment and visible members, e.g. the grid models' column descriptions).
template <class Columns>
std::vector<PrintTableColumn> PrintColumnsFrom(const Columns &columns)
{
    std::vector<PrintTableColumn> out;
    for (const auto &c : columns)
        out.push_back({c.fieldName, c.title, c.width, c.alignment, c.visible});
    return out;
}

// What the window holds for the printouts.
struct PrintValues {
    std::vector<PrintTableColumn> invoiceColumns; // the invoice lines grid
    QList<PrintColumn> invoicePrintColumns;       // captions checked for the printout
    std::vector<PrintTableColumn> orderColumns;   // the order lines grid
    int orientation = 0;  // invoices: 0 landscape, 1 portrait
    int fontSize = 0;     // invoices and orders: 0 small, 1 medium, 2 large
    int tagsPerRow = 7;   // price tags per row (and rows per page)
    int tagMargin = 30;   // page margin of the tags, printer pixels
    int tagFontSize = 0;  // 0 small, 1 medium, 2 large
    QString supplierName;
    QString clientName;
    int addressIndex = 0; // the selected delivery address; 0 means none in particular
    QString addressText;
    // The pharmacy's own delivery addresses in the order of the address box;
    // empty when it has none (the box then offers the main address only).
    QStringList deliveryAddresses;
};

// The delivery address an order goes to: for the order being entered the
// selected one, for an archived order the one its comment names ("от " and
// the address), else the first; empty without addresses of the pharmacy's own.
QString OrderDeliveryAddress(const PrintValues &values, bool fromPrice, const QString &orderComment);

// Size of one price tag on a page.
struct TagSize {
    int width = 0;
    int height = 0;
};
TagSize PriceTagSize(int pageWidth, int pageHeight, int perRow, int margin);

// The place of each next price tag: column, row, and whether it starts a new page.
class TagPlacer {
public:
    TagPlacer(int pageHeight, int perRow, int margin, TagSize size);
    struct Place {
        int x = 0;
        int y = 0;
        bool newPage = false;
    };
    Place next();

private:
    int m_pageHeight, m_perRow, m_margin;
    TagSize m_size;
    int m_column = 0, m_row = 0;
    bool m_pageUsed = false;
};

// What a printed column needs: its widest word or code (never cut), its text
// on one line, and its on-screen width as the share of what is left over.
struct ColumnNeed {
    int minimum = 0;
    int preferred = 0;
    int weight = 1;
};
// Widths that fill the usable width: every column at its preferred width
// when they all fit (the rest shared by weight), else at least its minimum
// with the room above the minimums shared by what each lacks; empty when
// not even the minimums fit.
std::vector<int> FitColumnWidths(int usableWidth, const std::vector<ColumnNeed> &needs);

// The invoice's printed columns: the grid columns whose caption is checked.
std::vector<PrintTableColumn> CheckedInvoiceColumns(const std::vector<PrintTableColumn> &grid,
                                                    const QList<PrintColumn> &checked);

extern const QString kSignatureLine;
extern const QString kUnpricedInvoiceNotice;

class DocumentPrinter {
public:
    DocumentPrinter(TDM &dm, RetailPricing &pricing, PriceGrid &priceGrid, Dialogs &dialogs);

    // Shows the document on the printer set up for it: render draws the whole
    // document and may be called more than once (a preview redraws). True
    // when it was printed or saved; false: the person closed it.
    std::function<bool(QPrinter &printer, const std::function<void(QPrinter &)> &render)> showDocument;
    // The moment printed on an order from the price grid.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };

    // Each returns false when nothing was printed (no document, cancelled, an
    // unpriced invoice for tags); errors throw.
    bool PrintInvoice(const PrintValues &values);
    bool PrintOrder(bool fromPrice, const PrintValues &values);
    bool PrintPriceTags(const PrintValues &values);

private:
    // Sets the printer up and shows the document; errors of the drawing reach
    // the caller after the preview closed.
    bool show(bool landscape, const std::function<void(QPrinter &)> &render);
    void drawTable(QPainter &p, QPrinter &printer, Dataset &rows, const std::vector<PrintTableColumn> &columns,
                   const QStringList &fields, int k, int y, int *endY);
    // The totals line under a table, right-aligned at the table's edge; returns the bottom.
    int drawTotals(QPainter &p, QPrinter &printer, int k, int y, const QString &text);
    void drawPriceTag(QPainter &p, Dataset &lines, int x, int y, TagSize size, const PrintValues &values,
                      const QString &number, const QString &date);

    TDM &m_dm;
    RetailPricing &m_pricing;
    PriceGrid &m_priceGrid;
    Dialogs &m_dialogs;
};

} // namespace pc
