#pragma once
// Tells a bar-code scanner from a person at the keyboard. A keyboard-wedge
// scanner types its digits and an Enter faster than anyone can (the keys less
// than kGapMs apart); a burst of at least kMinDigits digits so typed and
// ended by Enter is a code, never a quantity.
//
// Digits are therefore held while they might still be part of a scan, and
// handed back to be typed as soon as it is clear they are not: at the next
// key after a pause, at a key that is not a digit or Enter, or when the
// window's timer sees the pause (flush). A person's digit is held at most
// kGapMs, which nobody notices.

#include "core/Clock.h"

#include <QString>

namespace pc {

class KeyBurst {
public:
    static constexpr qint64 kGapMs = 30;
    static constexpr int kMinDigits = 8;

    explicit KeyBurst(const Clock &clock = Clock::system()) : m_clock(&clock) {}

    // A digit arrived. Returns the digits held before it that are to be
    // typed now (a pause came between); the new digit is held.
    QString digit(QChar d);

    struct Enter {
        bool scan = false; // the held digits are a scanned code (Enter is taken)
        QString code;      // the code, when scan
        QString typed;     // otherwise: the held digits, to be typed before Enter goes on
    };
    Enter enter();

    // The held digits, to be typed now (a pause, another key, the mouse).
    QString flush();

    bool holding() const { return !m_held.isEmpty(); }
    // Milliseconds since the last digit was held.
    qint64 sinceLastKey() const { return m_clock->monotonicMs() - m_last; }

private:
    const Clock *m_clock;
    QString m_held;
    qint64 m_last = 0;
};

} // namespace pc
