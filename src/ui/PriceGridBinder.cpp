#include "ui/PriceGridBinder.h"

#include "db/DataModule.h"
#include "core/ShortExpiry.h"
#include "db/Dataset.h"
#include "documents/GoodsByBarcode.h"
#include "documents/Scan.h"
#include "platform/AppError.h"
#include "price/PriceGrid.h"
#include "ui/DatasetModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStaticText>
#include <QTextLayout>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>

namespace pc {

namespace {

QFont gridFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    return f;
}

// The fixed look of a column (fonts, the red of the old quantity).
void columnLook(const QString &field, CellStyle &s)
{
    const QString f = field.toUpper();
    QFont font = gridFont();
    if (f == QLatin1String("GV_DISP")) {
        font.setFamily(QStringLiteral("MS Sans Serif"));
        font.setPixelSize(16);
        font.setBold(true);
    } else if (f == QLatin1String("PRICEDEC")) {
        font.setBold(true);
        font.setItalic(true);
    } else if (f == QLatin1String("PRICEOLD")) {
        font.setItalic(true);
    } else if (f == QLatin1String("ZAKAZ")) {
        font.setBold(true);
    } else if (f == QLatin1String("QNTOLD")) {
        s.foreground = QColor(255, 0, 0);
    }
    s.font = font;
    s.fontSet = true;
}

// Paints the price grid's cells from the model's kept texts and looks. The
// text of a cell is laid out (and cut to its column with an ellipsis) once
// and kept while the cell shows the same text in the same font and width, so
// a repaint only fills and draws; the style's own item drawing lays out,
// measures and cuts every text at every paint. The selected row takes the
// grid's colour rules for a selected cell.
class PriceRowDelegate : public QStyledItemDelegate {
public:
    PriceRowDelegate(PriceGrid &logic, DatasetModel *model, QObject *parent)
        : QStyledItemDelegate(parent), m_logic(logic), m_model(model)
    {
    }

    // Quantities enter only through the order-entry keys, never an editor.
    QWidget *createEditor(QWidget *, const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return nullptr;
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (!m_model || index.model() != m_model.data()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const int row = index.row(), column = index.column();
        const CellStyle &style = m_model->cellStyle(row, column);
        const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (option.state & QStyle::State_Active)                              ? QPalette::Normal
                                                                                 : QPalette::Inactive;
        bool selected = option.state & QStyle::State_Selected, focus = option.state & QStyle::State_HasFocus;
        QBrush background;
        QColor foreground;
        if (selected) {
            const PriceCellColours c = selectedColours(row, column);
            foreground = c.foreground.isValid() ? c.foreground : option.palette.color(group, QPalette::HighlightedText);
            if (c.background.isValid()) {
                background = c.background; // the rule's colour instead of the selection's
                focus = false;
            } else {
                background = option.palette.brush(group, QPalette::Highlight);
            }
        } else {
            if (style.background.isValid())
                background = style.background;
            else if (option.features & QStyleOptionViewItem::Alternate)
                background = option.palette.brush(group, QPalette::AlternateBase);
            foreground = style.foreground.isValid() ? style.foreground : option.palette.color(group, QPalette::Text);
        }
        if (background.style() != Qt::NoBrush)
            painter->fillRect(option.rect, background);

        if (const QString &text = m_model->cellText(row, column); !text.isEmpty()) {
            const QFont &font = style.fontSet ? style.font : option.font;
            const QRect area = option.rect.adjusted(kMargin, 0, -kMargin, 0);
            const Prepared &t = prepared(row, column, text, font, area.width(),
                                         option.features & QStyleOptionViewItem::WrapText);
            const Qt::Alignment align = m_model->cellAlignment(column);
            qreal x = area.left();
            if (align & Qt::AlignRight)
                x = area.right() + 1 - t.width;
            else if (align & Qt::AlignHCenter)
                x = area.left() + (area.width() - t.width) / 2;
            const int y = option.rect.top() + (option.rect.height() - t.height) / 2;
            painter->setFont(font);
            painter->setPen(foreground);
            const bool clip = t.width > area.width();
            if (clip) {
                painter->save();
                painter->setClipRect(area, Qt::IntersectClip);
            }
            painter->drawStaticText(QPointF(x, qreal(y)), t.text);
            if (clip)
                painter->restore();
        }
        if (focus) {
            QStyleOptionFocusRect o;
            o.QStyleOption::operator=(option);
            o.rect = option.rect;
            o.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
            o.backgroundColor = option.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
            const QWidget *w = option.widget;
            (w ? w->style() : QApplication::style())->drawPrimitive(QStyle::PE_FrameFocusRect, &o, painter, w);
        }
    }

private:
    // The gap between a cell's border and its text, as the style keeps it.
    static constexpr int kMargin = 3;

    struct Prepared {
        int row = -1, column = -1, available = -1;
        bool wrap = false;
        QString source;
        QFont font;
        QStaticText text;
        qreal width = 0; // the advance, as the text is aligned by it
        int height = 0;  // of a line
    };

    // A text too wide for its cell as the style shows it: broken at word
    // boundaries when the view wraps, its first line, cut with an ellipsis.
    static QString fitted(const QString &text, const QFont &font, const QFontMetricsF &metrics, int available, bool wrap)
    {
        if (metrics.horizontalAdvance(text) <= available)
            return text;
        QString first = text;
        if (wrap) {
            QTextLayout layout(text, font);
            QTextOption option;
            option.setWrapMode(QTextOption::WordWrap);
            layout.setTextOption(option);
            layout.beginLayout();
            QTextLine line = layout.createLine();
            bool more = false;
            if (line.isValid()) {
                line.setLineWidth(available);
                first = text.mid(line.textStart(), line.textLength());
                more = layout.createLine().isValid();
            }
            layout.endLayout();
            if (more) {
                if (first.endsWith(QChar::LineSeparator))
                    first.chop(1);
                first += QChar(0x2026);
            }
        }
        return metrics.elidedText(first, Qt::ElideRight, available);
    }

    const Prepared &prepared(int row, int column, const QString &text, const QFont &font, int available, bool wrap) const
    {
        if (m_prepared.empty())
            m_prepared.resize(kPreparedRows * kPreparedColumns);
        Prepared &p = m_prepared[size_t((row % kPreparedRows) * kPreparedColumns + column % kPreparedColumns)];
        if (p.row == row && p.column == column && p.available == available && p.wrap == wrap && p.source == text
            && p.font == font)
            return p;
        const QFontMetricsF metrics(font);
        const QString shown = fitted(text, font, metrics, available, wrap);
        p.row = row;
        p.column = column;
        p.available = available;
        p.wrap = wrap;
        p.source = text;
        p.font = font;
        p.text.setTextFormat(Qt::PlainText);
        p.text.setText(shown);
        p.text.prepare(QTransform(), font);
        p.width = metrics.horizontalAdvance(shown);
        p.height = qRound(metrics.height());
        return p;
    }

    PriceCellColours selectedColours(int row, int column) const
    {
        Dataset *ds = m_model ? m_model->dataset() : nullptr;
        if (!ds || !ds->Active() || row >= ds->RecordCount() || column >= int(m_model->columns().size()))
            return {};
        try {
            Dataset::ActiveRow at(*ds, row);
            return m_logic.dbgrdPriceDrawColumnCell(*ds, m_model->columns()[size_t(column)].fieldName, true);
        } catch (const std::exception &) {
            return {}; // the default look
        }
    }

    // More rows than a screen shows, so that no two shown cells share a slot.
    static constexpr int kPreparedRows = 64, kPreparedColumns = 32;
    PriceGrid &m_logic;
    QPointer<DatasetModel> m_model;
    mutable std::vector<Prepared> m_prepared; // cell (row, column) in one slot
};

} // namespace

PriceGridBinder::PriceGridBinder(PriceGrid &logic, const PriceGridWidgets &widgets, QObject *parent)
    : QObject(parent), m_logic(logic), m_w(widgets), m_goodInfoTimer(new QTimer(this)), m_burstTimer(new QTimer(this))
{
    // Digits held back while they might be a scan are typed once the keys pause.
    m_burstTimer->setSingleShot(true);
    m_burstTimer->setInterval(int(KeyBurst::kGapMs));
    connect(m_burstTimer, &QTimer::timeout, this, &PriceGridBinder::flushHeldDigits);
    m_goodInfoTimer->setSingleShot(true);
    m_goodInfoTimer->setInterval(kGoodInfoDelayMs);
    connect(m_goodInfoTimer, &QTimer::timeout, this, [this] { guarded([this] { ShowGoodInfo(); }); });
    styleWidgets();
    if (m_w.dbgrdPrice) {
        m_w.dbgrdPrice->installEventFilter(this);
        m_w.dbgrdPrice->viewport()->installEventFilter(this);
    }
    if (m_w.lblGoodInfo)
        m_w.lblGoodInfo->installEventFilter(this);
    if (m_w.tmClear) {
        m_w.tmClear->setInterval(4000);
        m_w.tmClear->stop();
        connect(m_w.tmClear, &QTimer::timeout, this, &PriceGridBinder::tmClearTimer);
    }
    if (m_w.edPriceFilter)
        connect(m_w.edPriceFilter, &QLineEdit::textChanged, this, &PriceGridBinder::edPriceFilterChange);
    if (m_w.btnPriceFilterClear)
        connect(m_w.btnPriceFilterClear, &QAbstractButton::clicked, this, &PriceGridBinder::btnPriceFilterClearClick);
    // As with the original check boxes, setting the box runs its handler.
    if (m_w.chkOnlyRegud)
        connect(m_w.chkOnlyRegud, &QCheckBox::toggled, this, &PriceGridBinder::chkOnlyRegudClick);
    if (m_w.chkShowOnlyOrder)
        connect(m_w.chkShowOnlyOrder, &QCheckBox::toggled, this, &PriceGridBinder::chkShowOnlyOrderClick);
}

PriceGridBinder::~PriceGridBinder()
{
    if (m_price)
        m_price->AfterScroll = nullptr;
}

void PriceGridBinder::styleWidgets()
{
    if (QTableView *g = m_w.dbgrdPrice) {
        g->setFont(gridFont());
        QFont title(QStringLiteral("Tahoma"));
        title.setPixelSize(13);
        g->horizontalHeader()->setFont(title);
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
        g->setSelectionMode(QAbstractItemView::SingleSelection);
        g->setShowGrid(true);
        g->setTabKeyNavigation(true);
    }
    if (QLineEdit *e = m_w.edSearch) {
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(13);
        f.setItalic(true);
        e->setFont(f);
        e->setFrame(false);
        e->setReadOnly(true);
        QPalette p = e->palette();
        p.setColor(QPalette::Text, QColor(128, 128, 0));
        p.setColor(QPalette::Base, p.color(QPalette::Button));
        e->setPalette(p);
        e->hide();
    }
    if (QLabel *l = m_w.lblGoodInfo) {
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(13);
        f.setUnderline(true);
        l->setFont(f);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, QColor(128, 0, 0));
        l->setPalette(p);
        l->setCursor(Qt::PointingHandCursor);
        l->setTextFormat(Qt::PlainText);
        l->setText(QString(50, QLatin1Char('-')));
    }
    // The search line takes the detail line's place while a search is
    // pending: both are as high, so the strip under the grid keeps its
    // height and the grid is not laid out and painted anew at each search.
    if (m_w.edSearch && m_w.lblGoodInfo) {
        const int height = std::max(m_w.edSearch->sizeHint().height(), m_w.lblGoodInfo->sizeHint().height());
        m_w.edSearch->setFixedHeight(height);
        m_w.lblGoodInfo->setFixedHeight(height);
    }
}

void PriceGridBinder::attachModel(DatasetModel *model)
{
    m_model = model;
    if (!model)
        return;
    // The PRICE dataset exists by now: its calculated fields are ours.
    if (TDM *dm = m_logic.dataModule())
        m_logic.install(*dm);
    // The fixed look of each column is made once, not for every cell; the
    // colour rules read the row and the changes mode, which is switched
    // together with the rows' calculated values, so each row's look is kept
    // while the row is in view.
    model->setCellStyleHook([this, looks = QHash<QString, CellStyle>()](Dataset &ds, int, const GridColumn &column,
                                                                         CellStyle &s) mutable {
        auto look = looks.constFind(column.fieldName);
        if (look == looks.constEnd()) {
            CellStyle fixed;
            columnLook(column.fieldName, fixed);
            look = looks.insert(column.fieldName, fixed);
        }
        s = *look;
        const PriceCellColours c = m_logic.dbgrdPriceDrawColumnCell(ds, column.fieldName, false);
        if (c.foreground.isValid())
            s.foreground = c.foreground;
        if (c.background.isValid())
            s.background = c.background;
        // Goods that expire soon: the expiry date on orange, bold; red when past.
        if (const int months = shortExpiryMonths ? shortExpiryMonths() : 0;
            months > 0 && column.fieldName.compare(QLatin1String("GODEN"), Qt::CaseInsensitive) == 0) {
            const QDate expiry = ds.FieldByName(QStringLiteral("GODEN")).AsDate();
            const QDate today = m_clock->today();
            if (IsShortExpiry(expiry, today, months)) {
                s.background = QColor(255, 204, 153);
                s.font.setBold(true);
                s.fontSet = true;
                if (IsExpired(expiry, today))
                    s.foreground = QColor(255, 0, 0);
            }
        }
    },
                            true);
    if (m_w.dbgrdPrice) {
        m_w.dbgrdPrice->setItemDelegate(new PriceRowDelegate(m_logic, model, m_w.dbgrdPrice));
        m_w.dbgrdPrice->setEditTriggers(QAbstractItemView::NoEditTriggers);
    }
    setOldColumnsVisible(m_logic.ShowOnlyOrder);
    if (m_w.dbgrdPrice && shortExpiryMonths && shortExpiryMonths() > 0)
        m_w.dbgrdPrice->horizontalHeader()->setToolTip(ShortExpiryLegend(shortExpiryMonths()));
    // A reset of the view (reopening, filters) must not lose the mode's columns.
    connect(model, &QAbstractItemModel::modelReset, this, [this] { setOldColumnsVisible(m_logic.ShowOnlyOrder); });
    m_price = model->dataset();
    if (Dataset *ds = model->dataset()) {
        ds->AfterScroll = [this](Dataset &) { PriceTableAfterScroll(); };
        if (ds->Active() && !ds->IsEmpty()) {
            PriceTableAfterScroll();
            ShowGoodInfo();
        }
    }
}

void PriceGridBinder::guarded(const std::function<void()> &action)
{
    try {
        action();
    } catch (const std::exception &e) {
        if (!onError)
            throw;
        onError(errorText(e));
    }
}

// ---- quick search ------------------------------------------------------------

void PriceGridBinder::setSearchText(const QString &text)
{
    m_searchText = text;
    if (m_w.edSearch && m_w.edSearch->text() != text)
        m_w.edSearch->setText(text);
}

void PriceGridBinder::ApplyQuickSearch()
{
    m_logic.QuickSearch(m_w.edSearch ? m_w.edSearch->text() : m_searchText);
    // The search line covers the detail line while there is something to show.
    const bool pending = !m_searchText.isEmpty();
    if (m_w.edSearch)
        m_w.edSearch->setVisible(pending);
    if (m_w.lblGoodInfo)
        m_w.lblGoodInfo->setVisible(!pending);
}

void PriceGridBinder::ClearQuickSearch()
{
    // Every arrow key ends a search: most of them find nothing to end.
    if (m_searchText.isEmpty() && (!m_w.tmClear || !m_w.tmClear->isActive()) && (!m_w.edSearch || m_w.edSearch->isHidden())
        && (!m_w.lblGoodInfo || !m_w.lblGoodInfo->isHidden()))
        return;
    setSearchText(QString());
    if (m_w.tmClear)
        m_w.tmClear->stop();
    if (m_w.edSearch)
        m_w.edSearch->hide();
    if (m_w.lblGoodInfo)
        m_w.lblGoodInfo->show();
}

bool PriceGridBinder::dbgrdPriceKeyPress(const QString &text, Qt::KeyboardModifiers modifiers)
{
    if (text.size() != 1 || (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    const QChar c = text.at(0);
    if (IsQuickSearchLetter(c)) {
        if (m_w.tmClear)
            m_w.tmClear->stop();
        setSearchText(m_searchText + c);
        guarded([this] { ApplyQuickSearch(); });
        if (m_w.tmClear)
            m_w.tmClear->start();
        return true;
    }
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9') && onDigit)
        return onDigit(c);
    return false;
}

void PriceGridBinder::dbgrdPriceKeyUp(int key)
{
    switch (key) {
    case Qt::Key_Delete:
        if (onDeleteKey)
            guarded(onDeleteKey);
        break;
    case Qt::Key_Backspace:
        setSearchText(m_searchText.left(m_searchText.size() - 1));
        guarded([this] { ApplyQuickSearch(); });
        break;
    case Qt::Key_Down:
    case Qt::Key_Up:
    case Qt::Key_Alt:
    case Qt::Key_Control:
    case Qt::Key_Tab:
    case Qt::Key_Home:
    case Qt::Key_End:
        ClearQuickSearch();
        break;
    default:
        break;
    }
}

// ---- the scanner ---------------------------------------------------------------

void PriceGridBinder::typeDigits(const QString &digits)
{
    for (const QChar d : digits)
        if (onDigit)
            guarded([this, d] { onDigit(d); });
}

void PriceGridBinder::flushHeldDigits()
{
    m_burstTimer->stop();
    typeDigits(m_burst.flush());
}

bool PriceGridBinder::PriceScan(const QString &code)
{
    const Scan scan = ParseScan(code.toLatin1());
    auto say = [this](const QString &text) {
        if (onScanMessage)
            onScanMessage(text);
    };
    if (!scan.ok) {
        say(scan.reason);
        return false;
    }
    bool found = false;
    guarded([&] {
        TDM *dm = m_logic.dataModule();
        Dataset *price = dm ? dm->PriceSet() : nullptr;
        if (!price || !price->Active())
            return;
        ClearQuickSearch();
        for (const QString &goods : GoodsCodesForBarcode(*dm, scan))
            if (price->Locate(QStringLiteral("IDTOVAR"), goods)) {
                found = true;
                break;
            }
    });
    if (found) {
        if (m_w.dbgrdPrice)
            m_w.dbgrdPrice->setFocus(Qt::OtherFocusReason);
    } else {
        say(QStringLiteral("Товар с кодом %1 не найден в прайсе").arg(ScanCode(scan)));
    }
    return found;
}

// ---- filters -----------------------------------------------------------------

void PriceGridBinder::edPriceFilterChange()
{
    const QString text = m_w.edPriceFilter ? m_w.edPriceFilter->text() : QString();
    guarded([this, text] { m_logic.edPriceFilterChange(text); });
}

void PriceGridBinder::btnPriceFilterClearClick()
{
    if (m_w.edPriceFilter)
        m_w.edPriceFilter->clear();
}

void PriceGridBinder::chkOnlyRegudClick()
{
    const bool on = m_w.chkOnlyRegud && m_w.chkOnlyRegud->isChecked();
    guarded([this, on] { m_logic.SetPriceFilter(on, kOnlyRegudCondition); });
}

void PriceGridBinder::chkShowOnlyOrderClick()
{
    const bool on = m_w.chkShowOnlyOrder && m_w.chkShowOnlyOrder->isChecked();
    guarded([this, on] { m_logic.SetPriceFilter(on, kOnlyOrderCondition); });
    if (m_logic.ShowOnlyOrder && !on)
        SetShowOnlyOrder(false);
}

void PriceGridBinder::SetShowOnlyOrder(bool on)
{
    m_logic.ShowOnlyOrder = on;
    if (m_w.chkShowOnlyOrder)
        m_w.chkShowOnlyOrder->setChecked(on);
    setOldColumnsVisible(on);
    // The old values and the colours follow the mode at once.
    if (m_model && m_model->dataset())
        m_model->dataset()->InvalidateCalcFields();
    if (m_w.dbgrdPrice)
        m_w.dbgrdPrice->viewport()->update();
}

void PriceGridBinder::setOldColumnsVisible(bool visible)
{
    if (!m_model || !m_w.dbgrdPrice)
        return;
    for (const char *field : {"PRICEOLD", "QNTOLD"}) {
        const int column = m_model->columnOfField(QLatin1String(field));
        if (column >= 0)
            m_w.dbgrdPrice->setColumnHidden(column, !visible);
    }
}

// ---- detail line and pop-up note ---------------------------------------------

void PriceGridBinder::PriceTableAfterScroll()
{
    if (hidePopup)
        hidePopup();
    if (onPriceScrolled)
        onPriceScrolled();
    m_goodInfoTimer->start();
}

void PriceGridBinder::ShowGoodInfo()
{
    m_goodInfoTimer->stop();
    const GoodInfo info = m_logic.PriceTableAfterScroll();
    if (info.popup && m_w.dbgrdPrice) {
        QTableView *g = m_w.dbgrdPrice;
        const QPoint corner = g->mapToGlobal(g->contentsRect().bottomRight());
        const int width = popupWidth ? popupWidth() : 0;
        if (showPopup)
            showPopup(info.popupCaption, info.popupDetail, info.popupIsRef, corner.x() - width - 5, corner.y() - 15, 200);
        if (m_w.lblGoodInfo)
            m_w.lblGoodInfo->setText(info.caption);
        g->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (info.changeCaption && m_w.lblGoodInfo)
        m_w.lblGoodInfo->setText(info.caption);
}

void PriceGridBinder::lblGoodInfoClick()
{
    QWidget *form = m_w.dbgrdPrice ? m_w.dbgrdPrice->window() : nullptr;
    if (!form)
        return;
    guarded([this, form] {
        const std::optional<GoodInfoWindow> w = m_logic.lblGoodInfoClick(form->width(), form->height());
        if (w && showInfoWindow)
            showInfoWindow(form, w->text, w->isRef, w->left, w->top, w->width, w->height, w->modal);
    });
}

// ---- events ------------------------------------------------------------------

bool PriceGridBinder::eventFilter(QObject *watched, QEvent *event)
{
    if (m_w.dbgrdPrice && watched == m_w.dbgrdPrice) {
        if (event->type() == QEvent::KeyPress) {
            auto *k = static_cast<QKeyEvent *>(event);
            // A scanner types like a keyboard: digits are held while they
            // may still be a bar code, and a burst ended by Enter is one.
            const bool plain = !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
            const QString text = k->text();
            if (plain && text.size() == 1 && text.at(0).isDigit() && text.at(0).unicode() < 128) {
                typeDigits(m_burst.digit(text.at(0)));
                m_burstTimer->start();
                return true;
            }
            if (plain && (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) && m_burst.holding()) {
                m_burstTimer->stop();
                const KeyBurst::Enter e = m_burst.enter();
                if (e.scan) {
                    PriceScan(e.code);
                    return true;
                }
                typeDigits(e.typed);
            } else if (m_burst.holding()) {
                flushHeldDigits();
            }
            if (dbgrdPriceKeyPress(k->text(), k->modifiers()))
                return true;
        } else if (event->type() == QEvent::KeyRelease) {
            auto *k = static_cast<QKeyEvent *>(event);
            if (!k->isAutoRepeat())
                dbgrdPriceKeyUp(k->key());
        } else if (event->type() == QEvent::FocusOut && m_burst.holding()) {
            flushHeldDigits();
        }
    } else if (m_w.dbgrdPrice && watched == m_w.dbgrdPrice->viewport()) {
        // The held digits belong to the row they were typed on.
        if ((event->type() == QEvent::MouseButtonPress || event->type() == QEvent::Wheel) && m_burst.holding())
            flushHeldDigits();
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
            dbgrdPriceMouseDown();
        else if (event->type() == QEvent::MouseButtonRelease)
            dbgrdPriceMouseUp();
    } else if (m_w.lblGoodInfo && watched == m_w.lblGoodInfo) {
        if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            lblGoodInfoClick();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace pc
