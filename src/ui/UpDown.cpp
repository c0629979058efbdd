#include "ui/UpDown.h"

#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

TUpDown::TUpDown(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_up = new QToolButton(this);
    m_up->setArrowType(Qt::UpArrow);
    m_up->setAccessibleName(QStringLiteral("Больше"));
    m_up->setAutoRepeat(true);
    m_down = new QToolButton(this);
    m_down->setArrowType(Qt::DownArrow);
    m_down->setAccessibleName(QStringLiteral("Меньше"));
    m_down->setAutoRepeat(true);
    for (QToolButton *b : {m_up, m_down}) {
        b->setFixedSize(17, 11);
        b->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(b);
    }
    setFixedWidth(17);
    connect(m_up, &QToolButton::clicked, this, [this] { step(Up); });
    connect(m_down, &QToolButton::clicked, this, [this] { step(Down); });
}

void TUpDown::setPosition(int value)
{
    value = std::clamp(value, m_min, m_max);
    if (value == m_position)
        return;
    m_position = value;
    Q_EMIT positionChanged(m_position);
}

void TUpDown::step(Direction direction)
{
    const int target = std::clamp(m_position + (direction == Up ? m_increment : -m_increment), m_min, m_max);
    bool allow = true;
    Q_EMIT changingEx(allow, target, direction);
    if (allow)
        setPosition(target);
}
