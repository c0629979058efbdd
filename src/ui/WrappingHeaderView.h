#pragma once
// A grid's column header that wraps a title too wide for its column onto a
// second line by itself, after a dot ("Ср." / "годности") or at a space, so
// the titles keep their exact text for screen readers and searches. It also
// keeps chosen columns from becoming narrower than a given width (the goods
// name, whatever width the other columns ask for).

#include <QHeaderView>
#include <QFont>
#include <QFontMetrics>
#include <QHash>

class QTableView;

namespace pc {

class WrappingHeaderView : public QHeaderView {
    Q_OBJECT
public:
    explicit WrappingHeaderView(Qt::Orientation orientation, QWidget *parent = nullptr);

    // The title as it is painted in a column `width` pixels wide: unchanged
    // when it fits, otherwise broken into lines ("\n") after dots and at
    // spaces, each line as full as the width allows.
    static QString wrappedTitle(const QString &title, const QFontMetrics &fm, int width);

    // The text painted for a section at its current width.
    QString paintedText(int logicalIndex) const;

    // The section never gets narrower than width (0: no limit of its own).
    void setSectionMinimumWidth(int logicalIndex, int width);
    int sectionMinimumWidth(int logicalIndex) const { return m_minimum.value(logicalIndex, 0); }

    // Installs a wrapping header on a table view (once; the view's model stays).
    static WrappingHeaderView *install(QTableView *view);

protected:
    void initStyleOptionForIndex(QStyleOptionHeader *option, int logicalIndex) const override;

private:
    int textWidth(int logicalIndex) const;
    QHash<int, int> m_minimum;
    // The header is painted whole at every move of the current cell: each
    // section's wrapped title is worked out again only when its title, width
    // or font changed.
    struct Painted {
        QString title;
        int width = -1;
        QFontMetrics metrics{QFont()};
        QString text;
    };
    mutable QHash<int, Painted> m_painted;
};

} // namespace pc
