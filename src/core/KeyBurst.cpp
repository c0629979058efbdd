#include "core/KeyBurst.h"

namespace pc {

QString KeyBurst::digit(QChar d)
{
    const qint64 now = m_clock->monotonicMs();
    QString typed;
    if (!m_held.isEmpty() && now - m_last >= kGapMs)
        typed = flush();
    m_held += d;
    m_last = now;
    return typed;
}

KeyBurst::Enter KeyBurst::enter()
{
    Enter e;
    const qint64 now = m_clock->monotonicMs();
    if (m_held.size() >= kMinDigits && now - m_last < kGapMs) {
        e.scan = true;
        e.code = m_held;
        m_held.clear();
        return e;
    }
    e.typed = flush();
    return e;
}

QString KeyBurst::flush()
{
    QString held;
    held.swap(m_held);
    return held;
}

} // namespace pc
