#pragma once
// A pair of arrow buttons that step an integer position between limits,
// tied to an edit that shows the value (the edit's text is the caller's).

#include <QWidget>

class QToolButton;

class TUpDown : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int position READ position WRITE setPosition)
    Q_PROPERTY(int minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(int maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int increment READ increment WRITE setIncrement)
public:
    enum Direction { None, Up, Down };
    explicit TUpDown(QWidget *parent = nullptr);

    int position() const { return m_position; }
    void setPosition(int value);
    int minimum() const { return m_min; }
    void setMinimum(int v) { m_min = v; }
    int maximum() const { return m_max; }
    void setMaximum(int v) { m_max = v; }
    int increment() const { return m_increment; }
    void setIncrement(int v) { m_increment = v; }
    // Steps as a click on an arrow does.
    void step(Direction direction);

Q_SIGNALS:
    // Before a step: newValue is the position about to be taken; clear allow to refuse.
    void changingEx(bool &allow, int newValue, TUpDown::Direction direction);
    // After the position changed by a step or setPosition.
    void positionChanged(int position);

private:
    QToolButton *m_up;
    QToolButton *m_down;
    int m_position = 0, m_min = 0, m_max = 100, m_increment = 1;
};
