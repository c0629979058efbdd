#include "ui/RadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

TRadioGroup::TRadioGroup(QWidget *parent) : QGroupBox(parent), m_group(new QButtonGroup(this)), m_layout(new QVBoxLayout(this))
{
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idClicked, this, &TRadioGroup::clicked);
}

void TRadioGroup::setItems(const QStringList &items)
{
    for (QAbstractButton *b : m_group->buttons()) {
        m_group->removeButton(b);
        delete b;
    }
    m_items = items;
    for (int i = 0; i < items.size(); ++i) {
        auto *b = new QRadioButton(items[i], this);
        b->setObjectName(objectName() + QStringLiteral("_item%1").arg(i));
        m_group->addButton(b, i);
        m_layout->addWidget(b);
    }
}

int TRadioGroup::itemIndex() const
{
    return m_group->checkedId();
}

void TRadioGroup::setItemIndex(int index)
{
    QAbstractButton *b = m_group->button(index);
    if (b) {
        b->setChecked(true);
        return;
    }
    if (QAbstractButton *c = m_group->checkedButton()) {
        m_group->setExclusive(false);
        c->setChecked(false);
        m_group->setExclusive(true);
    }
}
