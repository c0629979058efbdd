#pragma once
// A row of controls that continues on the next line when the window is too
// narrow for it, instead of squeezing or covering its controls: every control
// keeps the width its text needs. Items marked to stay at the end of a line
// ("keep right") are pushed to the right edge of their line.

#include <QLayout>
#include <QList>

namespace pc {

class FlowLayout : public QLayout {
public:
    explicit FlowLayout(QWidget *parent = nullptr, int spacing = 6);
    ~FlowLayout() override;

    void addItem(QLayoutItem *item) override;
    // A widget that goes to the right edge of its line when there is room.
    void addRightWidget(QWidget *widget);
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;

    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect &rect) override;

private:
    int arrange(const QRect &rect, bool apply) const;
    QList<QLayoutItem *> m_items;
    QList<QLayoutItem *> m_right;
};

} // namespace pc
