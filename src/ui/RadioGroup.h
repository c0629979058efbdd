#pragma once
// A titled group of radio buttons with one selected item index (−1 = none).

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QVBoxLayout;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QStringList items READ items WRITE setItems)
    Q_PROPERTY(int itemIndex READ itemIndex WRITE setItemIndex)
public:
    explicit TRadioGroup(QWidget *parent = nullptr);

    QStringList items() const { return m_items; }
    void setItems(const QStringList &items);
    int itemIndex() const;
    // Does not emit clicked: only the person's choice does.
    void setItemIndex(int index);

Q_SIGNALS:
    void clicked(int index);

private:
    QStringList m_items;
    QButtonGroup *m_group;
    QVBoxLayout *m_layout;
};
