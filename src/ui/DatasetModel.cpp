#include "ui/DatasetModel.h"
#include "ui/WrappingHeaderView.h"

#include "db/firebird/DbError.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <algorithm>
#include <utility>

namespace pc {

DatasetModel::DatasetModel(Dataset *dataset, QObject *parent) : QAbstractTableModel(parent)
{
    setDataset(dataset);
}

void DatasetModel::setDataset(Dataset *dataset)
{
    for (const auto &c : m_connections)
        disconnect(c);
    m_connections.clear();
    beginResetModel();
    m_ds = dataset;
    if (m_ds) {
        m_connections.push_back(connect(m_ds, &Dataset::layoutReset, this, &DatasetModel::resetFromDataset));
        m_connections.push_back(connect(m_ds, &Dataset::rowAppended, this, &DatasetModel::resetFromDataset));
        m_connections.push_back(connect(m_ds, &Dataset::rowChanged, this, [this](int row) {
            if (!m_cache.empty() && m_cache[size_t(row % kCachedRows)].row == row)
                m_cache[size_t(row % kCachedRows)].row = -1;
            if (m_styleRow == row)
                m_styleRow = -1;
            if (row < m_rows)
                Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
        }));
        m_connections.push_back(connect(m_ds, &Dataset::currentChanged, this, [this](int row) { syncViewToCursor(row); }));
        m_connections.push_back(connect(m_ds, &QObject::destroyed, this, [this]() {
            beginResetModel();
            m_ds = nullptr;
            m_fieldOf.clear();
            m_rows = 0;
            forgetRows();
            endResetModel();
        }));
    }
    refreshFieldCache();
    m_rows = m_ds && m_ds->Active() ? m_ds->RecordCount() : 0;
    endResetModel();
}

void DatasetModel::setColumns(std::vector<GridColumn> columns)
{
    beginResetModel();
    m_columns = std::move(columns);
    m_autoColumns = m_columns.empty();
    refreshFieldCache();
    m_rows = m_ds && m_ds->Active() ? m_ds->RecordCount() : 0;
    endResetModel();
    applyToView();
}

void DatasetModel::setColumnField(int column, const QString &fieldName)
{
    if (column < 0 || column >= int(m_columns.size()))
        return;
    m_columns[size_t(column)].fieldName = fieldName;
    refreshFieldCache();
    if (m_rows > 0)
        Q_EMIT dataChanged(index(0, column), index(m_rows - 1, column));
}

int DatasetModel::columnOfField(const QString &fieldName) const
{
    for (size_t i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].fieldName.compare(fieldName, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

void DatasetModel::setCellStyleHook(CellStyleHook hook, bool keptWithRows)
{
    m_styleHook = std::move(hook);
    m_stylesKept = keptWithRows;
    forgetRows();
}

void DatasetModel::forgetRows() const
{
    for (CachedRow &r : m_cache)
        r.row = -1;
    m_styleRow = -1;
}

void DatasetModel::makeStyle(int row, int column, CellStyle &style) const
{
    style = CellStyle();
    if (!m_styleHook)
        return;
    Dataset::ActiveRow at(*m_ds, row);
    try {
        m_styleHook(*m_ds, column, m_columns[size_t(column)], style);
    } catch (const std::exception &) {
        style = CellStyle(); // painting goes on with the default look
    }
}

void DatasetModel::refreshFieldCache()
{
    forgetRows();
    if (m_autoColumns) {
        m_columns.clear();
        if (m_ds) {
            for (int i = 0; i < m_ds->FieldCount(); ++i) {
                GridColumn c;
                c.fieldName = c.title = m_ds->Fields(i).FieldName();
                const FieldType t = m_ds->Fields(i).DataType();
                if (t != FieldType::String && t != FieldType::Date && t != FieldType::DateTime)
                    c.alignment = Qt::AlignRight | Qt::AlignVCenter;
                m_columns.push_back(c);
            }
        }
    }
    m_fieldOf.assign(m_columns.size(), nullptr);
    m_alignment.assign(m_columns.size(), QVariant());
    for (size_t i = 0; i < m_columns.size(); ++i) {
        Field *f = m_ds ? m_ds->FindField(m_columns[i].fieldName) : nullptr;
        m_fieldOf[i] = f;
        // Numbers line up on the right unless the column says otherwise.
        Qt::Alignment a = m_columns[i].alignment;
        if (a == (Qt::AlignLeft | Qt::AlignVCenter) && f && f->DataType() != FieldType::String
            && f->DataType() != FieldType::Date && f->DataType() != FieldType::DateTime && f->DataType() != FieldType::Time)
            a = Qt::AlignRight | Qt::AlignVCenter;
        m_alignment[i] = QVariant(a);
    }
}

void DatasetModel::resetFromDataset()
{
    const int now = m_ds && m_ds->Active() ? m_ds->RecordCount() : 0;
    if (m_autoColumns) {
        beginResetModel();
        refreshFieldCache();
        m_rows = now;
        endResetModel();
        applyToView();
    } else {
        // The columns stay: the view learns which rows went or came, and
        // that every value shown may have changed. Its reactions (a current
        // row that went away) must not move the cursor.
        refreshFieldCache();
        const bool syncing = std::exchange(m_syncing, true);
        if (now < m_rows) {
            beginRemoveRows(QModelIndex(), now, m_rows - 1);
            m_rows = now;
            endRemoveRows();
        } else if (now > m_rows) {
            beginInsertRows(QModelIndex(), m_rows, now - 1);
            m_rows = now;
            endInsertRows();
        }
        m_syncing = syncing;
        if (m_rows > 0)
            Q_EMIT dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1));
    }
    if (m_ds && m_ds->Active())
        syncViewToCursor(m_ds->CurrentRow(), true);
}

Field *DatasetModel::fieldAt(int column) const
{
    if (column < 0 || column >= int(m_fieldOf.size()))
        return nullptr;
    return m_fieldOf[size_t(column)];
}

int DatasetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DatasetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

// The texts and looks of a row, made once while it stays in view.
const DatasetModel::CachedRow &DatasetModel::cachedRow(int row) const
{
    if (m_cache.empty())
        m_cache.resize(kCachedRows);
    CachedRow &c = m_cache[size_t(row % kCachedRows)];
    if (c.row == row)
        return c;
    const size_t columns = m_columns.size();
    c.row = -1;
    c.text.assign(columns, QString());
    c.style.assign(columns, CellStyle());
    Dataset::ActiveRow at(*m_ds, row);
    for (size_t i = 0; i < columns; ++i) {
        if (Field *f = m_fieldOf[i]) {
            try {
                c.text[i] = f->DisplayText();
            } catch (const std::exception &) {
                // a failing calculation shows an empty cell
            }
        }
        if (m_stylesKept)
            makeStyle(row, int(i), c.style[i]);
    }
    c.row = row;
    return c;
}

namespace {
const QString kNoText;
const CellStyle kNoStyle;
} // namespace

const QString &DatasetModel::cellText(int row, int column) const
{
    if (!m_ds || !m_ds->Active() || row < 0 || row >= m_rows || row >= m_ds->RecordCount() || column < 0
        || column >= int(m_columns.size()))
        return kNoText;
    return cachedRow(row).text[size_t(column)];
}

const CellStyle &DatasetModel::cellStyle(int row, int column) const
{
    if (!m_ds || !m_ds->Active() || row < 0 || row >= m_rows || row >= m_ds->RecordCount() || column < 0
        || column >= int(m_columns.size()))
        return kNoStyle;
    if (m_stylesKept)
        return cachedRow(row).style[size_t(column)];
    if (row != m_styleRow || column != m_styleColumn) {
        m_styleRow = row;
        m_styleColumn = column;
        makeStyle(row, column, m_style);
    }
    return m_style;
}

Qt::Alignment DatasetModel::cellAlignment(int column) const
{
    return column >= 0 && column < int(m_alignment.size()) ? m_alignment[size_t(column)].value<Qt::Alignment>()
                                                            : Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter);
}

QVariant DatasetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_ds || !m_ds->Active() || index.row() >= m_ds->RecordCount() || index.row() >= m_rows)
        return QVariant();
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole: return cachedRow(index.row()).text[size_t(column)];
    case Qt::EditRole: {
        Field *f = fieldAt(column);
        if (!f)
            return QVariant();
        try {
            Dataset::ActiveRow at(*m_ds, index.row());
            return f->Value();
        } catch (const std::exception &) {
            return QVariant();
        }
    }
    case Qt::TextAlignmentRole: return m_alignment[size_t(column)];
    case Qt::ForegroundRole: {
        const CellStyle &s = cellStyle(index.row(), column);
        return s.foreground.isValid() ? QVariant(s.foreground) : QVariant();
    }
    case Qt::BackgroundRole: {
        const CellStyle &s = cellStyle(index.row(), column);
        return s.background.isValid() ? QVariant(s.background) : QVariant();
    }
    case Qt::FontRole: {
        const CellStyle &s = cellStyle(index.row(), column);
        return s.fontSet ? QVariant(s.font) : QVariant();
    }
    default: return QVariant();
    }
}

QVariant DatasetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= int(m_columns.size()))
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return m_columns[size_t(section)].title;
    return QVariant();
}

Qt::ItemFlags DatasetModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    Field *field = fieldAt(index.column());
    if (field && !field->Calculated() && !m_columns[size_t(index.column())].readOnly)
        f |= Qt::ItemIsEditable;
    return f;
}

bool DatasetModel::hasEditableColumn() const
{
    return std::any_of(m_columns.begin(), m_columns.end(), [](const GridColumn &c) { return !c.readOnly; });
}

bool DatasetModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    Field *field = fieldAt(index.column());
    if (role != Qt::EditRole || !field || !m_ds || !m_ds->Active() || !(flags(index) & Qt::ItemIsEditable))
        return false;
    try {
        if (m_ds->CurrentRow() != index.row())
            m_ds->SetRecNo(index.row() + 1);
        m_ds->Edit();
        field->SetValue(value);
        m_ds->Post();
        if (m_commitEdit)
            m_commitEdit();
    } catch (const std::exception &e) {
        m_ds->Cancel();
        const auto *db = dynamic_cast<const fb::DbError *>(&e);
        Q_EMIT errorOccurred(db ? db->text() : QString::fromLocal8Bit(e.what()));
        return false;
    }
    return true;
}

void DatasetModel::attachView(QTableView *view, int rowHeight)
{
    m_view = view;
    m_rowHeight = rowHeight;
    view->setModel(this);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    // Scrolling moves the painted rows: it is done with the painting, once.
    view->setAutoScroll(false);
    applyToView();
    view->viewport()->installEventFilter(this);
    connect(view->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int oldWidth, int width) {
        if (m_applyingWidths || column < 0 || column >= int(m_columns.size()))
            return;
        // A column hidden or shown goes to or from width 0: the program did
        // that, not the person (no column can be dragged that narrow).
        if (oldWidth == 0 || width == 0)
            return;
        const GridColumn &c = m_columns[size_t(column)];
        if (c.fill)
            return;
        m_columns[size_t(column)].width = width;
        if (m_widthMemory.save) {
            try {
                m_widthMemory.save(c.fieldName, width);
            } catch (const std::exception &e) {
                const auto *db = dynamic_cast<const fb::DbError *>(&e);
                Q_EMIT errorOccurred(db ? db->text() : QString::fromLocal8Bit(e.what()));
            }
        }
        fitFillColumn();
        fitHeaderHeight();
    });
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this, &DatasetModel::scrollToCurrent);
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current, const QModelIndex &) {
                if (m_syncing || !current.isValid() || !m_ds || !m_ds->Active())
                    return;
                if (current.row() == m_ds->CurrentRow())
                    return;
                m_syncing = true;
                try {
                    m_ds->SetRecNo(current.row() + 1);
                } catch (const std::exception &e) {
                    const auto *db = dynamic_cast<const fb::DbError *>(&e);
                    Q_EMIT errorOccurred(db ? db->text() : QString::fromLocal8Bit(e.what()));
                }
                m_syncing = false;
            });
    if (m_ds && m_ds->Active())
        syncViewToCursor(m_ds->CurrentRow());
}

void DatasetModel::setWidthMemory(ColumnWidthMemory memory)
{
    m_widthMemory = std::move(memory);
    applyToView();
}

QString DatasetModel::widestValueText(const Field &field)
{
    const QLocale locale;
    switch (field.DataType()) {
    case FieldType::Float:
        if (!field.DisplayFormat().isEmpty())
            return FormatFloat(field.DisplayFormat(), 9999999.99);
        return QStringLiteral("9999999") + locale.decimalPoint() + QStringLiteral("99");
    case FieldType::Smallint:
    case FieldType::Integer:
    case FieldType::LargeInt:
        return field.DisplayFormat().isEmpty() ? QStringLiteral("99999") : FormatFloat(field.DisplayFormat(), 99999);
    case FieldType::Date: return locale.toString(QDate(2028, 12, 28), QLocale::ShortFormat);
    case FieldType::DateTime:
        return locale.toString(QDate(2028, 12, 28), QLocale::ShortFormat) + QStringLiteral(" 00:00:00");
    case FieldType::Time: return QStringLiteral("00:00:00");
    case FieldType::String: break;
    }
    return QString();
}

int DatasetModel::fittedTitleWidth(int column) const
{
    if (!m_view || column < 0 || column >= int(m_columns.size()))
        return 0;
    // The widest piece the header cannot break: the title wrapped as narrow
    // as it goes ("Ср." / "годности").
    const QFontMetrics header = m_view->horizontalHeader()->fontMetrics();
    int title = 0;
    for (const QString &piece : WrappingHeaderView::wrappedTitle(m_columns[size_t(column)].title, header, 1)
                                    .split(QLatin1Char('\n')))
        title = std::max(title, header.horizontalAdvance(piece) + 12);
    return title;
}

int DatasetModel::fittedWidth(int column) const
{
    if (column < 0 || column >= int(m_columns.size()))
        return 0;
    const GridColumn &c = m_columns[size_t(column)];
    if (!m_view)
        return c.width;
    // Cell and header texts have a few pixels of frame and margin on each side.
    constexpr int kPadding = 8;
    // A title of several words may wrap onto a second header line: its widest
    // word must fit.
    const int title = fittedTitleWidth(column);
    int value = 0;
    if (Field *f = fieldAt(column))
        if (const QString text = widestValueText(*f); !text.isEmpty())
            value = m_view->fontMetrics().horizontalAdvance(text) + kPadding;
    return std::max({c.width, title, value});
}

void DatasetModel::applyToView()
{
    if (!m_view)
        return;
    m_view->setEditTriggers(hasEditableColumn() ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                                      | QAbstractItemView::AnyKeyPressed
                                                : QAbstractItemView::NoEditTriggers);
    QHeaderView *vertical = m_view->verticalHeader();
    vertical->setSectionResizeMode(QHeaderView::Fixed);
    vertical->setMinimumSectionSize(std::min(vertical->minimumSectionSize(), m_rowHeight));
    vertical->setDefaultSectionSize(m_rowHeight);
    QHeaderView *horizontal = m_view->horizontalHeader();
    horizontal->setSectionResizeMode(QHeaderView::Interactive);
    horizontal->setMinimumSectionSize(std::min(horizontal->minimumSectionSize(), 14));
    m_applyingWidths = true;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        m_view->setColumnHidden(int(i), !m_columns[i].visible);
        int width = fittedWidth(int(i));
        if (m_widthMemory.load && !m_columns[i].fill) {
            try {
                if (const int kept = m_widthMemory.load(m_columns[i].fieldName); kept > 0)
                    width = kept;
            } catch (const std::exception &) {
                // an unreadable settings file leaves the fitted width
            }
        }
        m_view->setColumnWidth(int(i), width);
    }
    m_applyingWidths = false;
    fitFillColumn();
    fitHeaderHeight();
}

// Titles wider than their columns wrap: the header is two lines high then.
void DatasetModel::fitHeaderHeight()
{
    if (!m_view)
        return;
    QHeaderView *header = m_view->horizontalHeader();
    header->setDefaultAlignment(Qt::Alignment::fromInt(int(Qt::AlignCenter) | int(Qt::TextWordWrap)));
    bool wraps = false;
    const QFontMetrics fm = header->fontMetrics();
    for (size_t i = 0; i < m_columns.size(); ++i)
        if (!m_view->isColumnHidden(int(i)) && fm.horizontalAdvance(m_columns[i].title) + 16 > m_view->columnWidth(int(i)))
            wraps = true;
    const int oneLine = header->sizeHint().height();
    header->setFixedHeight(wraps ? oneLine + fm.lineSpacing() : oneLine);
}

// The fill column takes what the other visible columns leave of the view,
// never less than its own fitted width.
void DatasetModel::fitFillColumn()
{
    if (!m_view)
        return;
    int fill = -1, others = 0;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_view->isColumnHidden(int(i)))
            continue;
        if (m_columns[i].fill && fill < 0)
            fill = int(i);
        else
            others += m_view->columnWidth(int(i));
    }
    if (fill < 0)
        return;
    // Its own starting width gives way to the other columns, down to a width
    // that still shows a useful part of a goods name.
    constexpr int kLeastFill = 150;
    const int least = std::max(std::min(fittedWidth(fill), kLeastFill), fittedTitleWidth(fill));
    const int width = std::max(least, m_view->viewport()->width() - others);
    if (m_view->columnWidth(fill) == width)
        return;
    m_applyingWidths = true;
    m_view->setColumnWidth(fill, width);
    m_applyingWidths = false;
}

bool DatasetModel::eventFilter(QObject *watched, QEvent *event)
{
    if (m_view && watched == m_view->viewport() && event->type() == QEvent::Resize)
        fitFillColumn();
    return QAbstractTableModel::eventFilter(watched, event);
}

void DatasetModel::syncViewToCursor(int row, bool scroll)
{
    if (!m_view || m_syncing || row < 0 || row >= rowCount())
        return;
    QModelIndex current = m_view->currentIndex();
    if (current.isValid() && current.row() == row) {
        if (scroll)
            scrollToCurrent();
        return;
    }
    int column = current.isValid() ? current.column() : 0;
    while (column < columnCount() - 1 && m_view->isColumnHidden(column))
        ++column;
    m_syncing = true;
    m_view->setCurrentIndex(index(row, column));
    m_syncing = false;
    scrollToCurrent();
}

void DatasetModel::scrollToCurrent()
{
    if (m_scrollPending || !m_view)
        return;
    m_scrollPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_scrollPending = false;
            if (m_view && m_view->currentIndex().isValid())
                m_view->scrollTo(m_view->currentIndex());
        },
        Qt::QueuedConnection);
}

} // namespace pc
