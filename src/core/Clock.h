#pragma once
// Every "now" of the logic that tests need to move: a monotonic time in
// milliseconds (key timing) and today's date (expiry rules). The program
// uses the system clock; tests hand in a clock they set.

#include <QDate>
#include <QtGlobal>

namespace pc {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start; never goes back.
    virtual qint64 monotonicMs() const;
    virtual QDate today() const;
    static const Clock &system();
};

// A clock a test sets by hand.
class ManualClock : public Clock {
public:
    qint64 ms = 0;
    QDate day = QDate(2026, 12, 8);
    qint64 monotonicMs() const override { return ms; }
    QDate today() const override { return day; }
    void advance(qint64 by) { ms += by; }
};

} // namespace pc
