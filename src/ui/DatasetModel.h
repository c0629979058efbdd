#pragma once
// A grid's view of a Dataset: the data source of a QTableView.
//
// Columns are described as the form designer would (field, title, width,
// alignment, visible); without descriptions there is one column per field.
// Cells are answered from the dataset's storage for the rows the view asks
// for (text decoded only then); calculated fields are computed for those rows
// only. A cell-style hook may set the font and colours of a cell before it is
// drawn: it is called with the dataset reading that row (an ActiveRow scope),
// so the colour rules stay in the page's logic.
//
// A view paints the same page again and again: the texts (and, when the
// hook allows, the looks) of the rows last shown are kept (a few hundred
// rows), so a row is formatted and coloured once, not at every paint; a changed row, a reset of the dataset or
// new columns forget them. When the rows change under fixed columns (a
// filter, a reread) the view is told which rows went or came and that every
// shown value may differ, not reset: its columns and their widths stay as
// they are, and the current row follows the dataset's cursor.
//
// attachView() keeps the view's current row and the dataset's cursor in step
// both ways (a click moves the cursor and fires the scroll events; a move by
// the logic moves the view), sets the widths, hides invisible columns and
// fixes the row height. The view scrolls to its current row when the events
// at hand are handled, once for all the moves they made, by the rows
// actually moved. A grid has no in-place editor unless one of its
// columns asks for it (readOnly false); editing such a cell edits, sets and
// posts the row, and the commit hook then makes the value permanent at once.
// Every other value enters through the page's own rules.

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QPointer>
#include <functional>
#include <vector>

#include "db/Dataset.h"

class QTableView;

namespace pc {

struct GridColumn {
    QString fieldName;
    QString title;
    int width = 64;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool visible = true;
    bool readOnly = true;
    // The column that takes the width the others leave (the goods name).
    bool fill = false;
};

// Where a grid keeps the widths the person dragged: width for a field, 0 when
// none is kept; save is called at once when the person changes a width.
struct ColumnWidthMemory {
    std::function<int(const QString &field)> load;
    std::function<void(const QString &field, int width)> save;
};

struct CellStyle {
    QColor foreground; // invalid: the view's default
    QColor background;
    QFont font;
    bool fontSet = false;
};

class DatasetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DatasetModel(Dataset *dataset = nullptr, QObject *parent = nullptr);

    void setDataset(Dataset *dataset);
    Dataset *dataset() const { return m_ds; }

    void setColumns(std::vector<GridColumn> columns);
    const std::vector<GridColumn> &columns() const { return m_columns; }
    // Rebinds column i to another field (keeps title, width, alignment).
    void setColumnField(int column, const QString &fieldName);
    int columnOfField(const QString &fieldName) const; // -1 when not shown

    // (dataset at the row, column index, column description, style to fill)
    using CellStyleHook = std::function<void(Dataset &, int, const GridColumn &, CellStyle &)>;
    // keptWithRows: the hook reads nothing but the row and what changes only
    // together with the dataset's rows (then each look is made once while
    // the row stays in view); otherwise it is asked again for every paint.
    void setCellStyleHook(CellStyleHook hook, bool keptWithRows = false);

    void attachView(QTableView *view, int rowHeight = 18);
    // Called right after a typed value was posted, to commit it. When it
    // throws, the failure is reported through errorOccurred and the cell
    // counts as not taken.
    void setCommitEdit(std::function<void()> commit) { m_commitEdit = std::move(commit); }
    void setWidthMemory(ColumnWidthMemory memory);

    // The narrowest width that shows a column's title and its widest value
    // (money up to 9 999 999,99, dates dd.MM.yyyy, quantities up to 99 999)
    // at the view's current fonts; the column's own width where that is wider.
    int fittedWidth(int column) const;
    int fittedTitleWidth(int column) const;
    // The text of the widest value a field's display format can give.
    static QString widestValueText(const Field &field);

    // The text, look and alignment of a cell as data() gives them, without
    // wrapping them in QVariants (for a delegate that paints many cells).
    const QString &cellText(int row, int column) const;
    const CellStyle &cellStyle(int row, int column) const;
    Qt::Alignment cellAlignment(int column) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

Q_SIGNALS:
    // A failure while moving the cursor or posting from the view (the view
    // cannot take an exception); the text is the error's message.
    void errorOccurred(const QString &text);

private:
    struct CachedRow {
        int row = -1;
        std::vector<QString> text;
        std::vector<CellStyle> style;
    };
    const CachedRow &cachedRow(int row) const;
    void makeStyle(int row, int column, CellStyle &style) const;
    void forgetRows() const;
    void resetFromDataset();
    void refreshFieldCache();
    void applyToView();
    bool hasEditableColumn() const;
    void syncViewToCursor(int row, bool scroll = false);
    void scrollToCurrent();
    void fitFillColumn();
    void fitHeaderHeight();
    bool eventFilter(QObject *watched, QEvent *event) override;
    Field *fieldAt(int column) const;

    Dataset *m_ds = nullptr;
    std::vector<GridColumn> m_columns;
    bool m_autoColumns = true;
    std::vector<Field *> m_fieldOf;
    CellStyleHook m_styleHook;
    bool m_stylesKept = false;
    mutable int m_styleRow = -1, m_styleColumn = -1; // the last look made without keeping
    mutable CellStyle m_style;
    std::function<void()> m_commitEdit;
    QPointer<QTableView> m_view;
    int m_rowHeight = 18;
    bool m_syncing = false;
    bool m_scrollPending = false;
    bool m_applyingWidths = false;
    ColumnWidthMemory m_widthMemory;
    std::vector<QMetaObject::Connection> m_connections;
    std::vector<QVariant> m_alignment; // per column
    int m_rows = 0;                    // the rows the view was told of
    static constexpr int kCachedRows = 256;
    mutable std::vector<CachedRow> m_cache; // row r in slot r % kCachedRows
};

} // namespace pc
