#include "core/AppContext.h"

namespace pc {

AppContext::AppContext(QString appDir) : m_appDir(std::move(appDir))
{
    m_appDir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!m_appDir.endsWith(QLatin1Char('/')))
        m_appDir += QLatin1Char('/');
}

QString AppContext::path(const QString &relative) const
{
    QString rel = relative;
    rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    return m_appDir + rel;
}

} // namespace pc
