#include "core/Clock.h"

#include <QElapsedTimer>

namespace pc {

qint64 Clock::monotonicMs() const
{
    static const QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed();
}

QDate Clock::today() const { return QDate::currentDate(); }

const Clock &Clock::system()
{
    static const Clock clock;
    return clock;
}

} // namespace pc
