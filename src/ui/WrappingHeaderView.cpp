#include "ui/WrappingHeaderView.h"

#include <QFontMetrics>
#include <QStyle>
#include <QStyleOption>
#include <QTableView>

namespace pc {

WrappingHeaderView::WrappingHeaderView(Qt::Orientation orientation, QWidget *parent) : QHeaderView(orientation, parent)
{
    setSectionsClickable(true);
    setHighlightSections(true);
    // A section pushed below its least width is widened again at once; the
    // grids that fit their other columns to the view see the final width.
    connect(this, &QHeaderView::sectionResized, this, [this](int logicalIndex, int, int width) {
        const int least = m_minimum.value(logicalIndex, 0);
        if (width > 0 && width < least)
            resizeSection(logicalIndex, least);
    });
}

WrappingHeaderView *WrappingHeaderView::install(QTableView *view)
{
    if (auto *own = qobject_cast<WrappingHeaderView *>(view->horizontalHeader()))
        return own;
    auto *header = new WrappingHeaderView(Qt::Horizontal, view);
    view->setHorizontalHeader(header);
    return header;
}

QString WrappingHeaderView::wrappedTitle(const QString &title, const QFontMetrics &fm, int width)
{
    if (fm.horizontalAdvance(title) <= width)
        return title;
    // The pieces between the places a line may end: after a dot that runs
    // into the next word, and at a space (which goes with the break).
    struct Piece {
        QString text;
        bool afterSpace;
    };
    QList<Piece> pieces;
    QString current;
    bool afterSpace = false;
    for (qsizetype i = 0; i < title.size(); ++i) {
        const QChar c = title[i];
        if (c == QLatin1Char(' ')) {
            if (!current.isEmpty())
                pieces.push_back({current, afterSpace});
            current.clear();
            afterSpace = true;
            continue;
        }
        current += c;
        if (c == QLatin1Char('.') && i + 1 < title.size() && title[i + 1].isLetter()) {
            pieces.push_back({current, afterSpace});
            current.clear();
            afterSpace = false;
        }
    }
    if (!current.isEmpty())
        pieces.push_back({current, afterSpace});

    QStringList lines;
    QString line;
    for (const Piece &p : pieces) {
        if (line.isEmpty()) {
            line = p.text;
            continue;
        }
        const QString longer = line + (p.afterSpace ? QStringLiteral(" ") : QString()) + p.text;
        if (fm.horizontalAdvance(longer) <= width) {
            line = longer;
        } else {
            lines << line;
            line = p.text;
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines.join(QLatin1Char('\n'));
}

int WrappingHeaderView::textWidth(int logicalIndex) const
{
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
    return sectionSize(logicalIndex) - 2 * margin;
}

QString WrappingHeaderView::paintedText(int logicalIndex) const
{
    if (!model())
        return QString();
    const QString title = model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString();
    return wrappedTitle(title, fontMetrics(), textWidth(logicalIndex));
}

void WrappingHeaderView::initStyleOptionForIndex(QStyleOptionHeader *option, int logicalIndex) const
{
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    if (orientation() != Qt::Horizontal)
        return;
    const int width = textWidth(logicalIndex);
    Painted &cached = m_painted[logicalIndex];
    if (cached.width != width || cached.title != option->text || cached.metrics != option->fontMetrics) {
        cached.title = option->text;
        cached.width = width;
        cached.metrics = option->fontMetrics;
        cached.text = wrappedTitle(option->text, option->fontMetrics, width);
    }
    const QString &painted = cached.text;
    if (painted == option->text)
        return;
    option->text = painted;
    // Lines already fit: eliding the whole would cut the text after the first.
    if (auto *v2 = qstyleoption_cast<QStyleOptionHeaderV2 *>(option))
        v2->textElideMode = Qt::ElideNone;
}

void WrappingHeaderView::setSectionMinimumWidth(int logicalIndex, int width)
{
    m_minimum.insert(logicalIndex, width);
    if (width > 0 && logicalIndex < count() && !isSectionHidden(logicalIndex) && sectionSize(logicalIndex) < width)
        resizeSection(logicalIndex, width);
}

} // namespace pc
