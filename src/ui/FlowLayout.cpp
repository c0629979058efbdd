#include "ui/FlowLayout.h"

#include <QWidget>
#include <algorithm>

namespace pc {

FlowLayout::FlowLayout(QWidget *parent, int spacing) : QLayout(parent)
{
    setSpacing(spacing);
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout()
{
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

void FlowLayout::addItem(QLayoutItem *item) { m_items.push_back(item); }

void FlowLayout::addRightWidget(QWidget *widget)
{
    addWidget(widget);
    m_right.push_back(m_items.back());
}

int FlowLayout::count() const { return int(m_items.size()); }

QLayoutItem *FlowLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items[index] : nullptr;
}

QLayoutItem *FlowLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem *item = m_items.takeAt(index);
    m_right.removeAll(item);
    invalidate();
    return item;
}

int FlowLayout::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

QSize FlowLayout::minimumSize() const
{
    // The widest control alone on a line.
    QSize size;
    for (QLayoutItem *item : m_items)
        if (!item->isEmpty())
            size = size.expandedTo(item->minimumSize());
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize FlowLayout::sizeHint() const
{
    // Everything on one line.
    int width = 0, height = 0, shown = 0;
    for (QLayoutItem *item : m_items) {
        if (item->isEmpty())
            continue;
        const QSize s = item->sizeHint();
        width += s.width();
        height = std::max(height, s.height());
        ++shown;
    }
    const QMargins m = contentsMargins();
    return QSize(width + std::max(shown - 1, 0) * spacing() + m.left() + m.right(), height + m.top() + m.bottom());
}

void FlowLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

// Lays the items out line by line within rect (when apply) and returns the
// height they take.
int FlowLayout::arrange(const QRect &rect, bool apply) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int gap = spacing();
    int y = area.y();
    QList<QLayoutItem *> line;
    int lineWidth = 0, lineHeight = 0;
    auto finishLine = [&] {
        if (line.isEmpty())
            return;
        if (apply) {
            // The right-hand items move to the line's end, the others stay left.
            int shift = 0;
            for (qsizetype i = 0; i < line.size(); ++i)
                if (m_right.contains(line[i])) {
                    shift = std::max(area.width() - lineWidth, 0);
                    break;
                }
            int x = area.x();
            bool right = false;
            for (QLayoutItem *item : line) {
                right = right || m_right.contains(item);
                const QSize s = item->sizeHint();
                const int h = std::min(lineHeight, std::max(s.height(), item->minimumSize().height()));
                item->setGeometry(QRect(QPoint(x + (right ? shift : 0), y + (lineHeight - h) / 2), QSize(s.width(), h)));
                x += s.width() + gap;
            }
        }
        y += lineHeight + gap;
        line.clear();
        lineWidth = lineHeight = 0;
    };
    for (QLayoutItem *item : m_items) {
        if (item->isEmpty())
            continue;
        const QSize s = item->sizeHint();
        const int width = std::min(s.width(), area.width());
        if (!line.isEmpty() && lineWidth + gap + width > area.width())
            finishLine();
        lineWidth += (line.isEmpty() ? 0 : gap) + width;
        lineHeight = std::max(lineHeight, s.height());
        line.push_back(item);
    }
    finishLine();
    const int used = y == area.y() ? 0 : y - gap - area.y();
    return used + contentsMargins().top() + contentsMargins().bottom();
}

} // namespace pc
