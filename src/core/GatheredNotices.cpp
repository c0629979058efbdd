#include "core/GatheredNotices.h"

void GatheredNotices::showNotice(const QString &text, bool alsoLogDetail)
{
    if (!m_texts.contains(text))
        m_texts << text;
    m_logDetail = m_logDetail || alsoLogDetail;
}

void GatheredNotices::tell()
{
    if (m_texts.isEmpty())
        return;
    const QString text = m_texts.join(QLatin1Char('\n'));
    m_texts.clear();
    target->showNotice(text, m_logDetail);
}
