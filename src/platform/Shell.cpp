#include "platform/Shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace pc {

bool shellOpen(const QString &target)
{
    const QUrl url = target.contains(QStringLiteral("://")) ? QUrl(target) : QUrl::fromLocalFile(target);
    return QDesktopServices::openUrl(url);
}

} // namespace pc
