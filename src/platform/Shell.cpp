#include "platform/Shell.h"

#include "platform/Process.h"

#include <QFileInfo>

namespace pc {

bool shellOpen(const QString &target, QString *error)
{
    const QString opener = findProgram(QStringLiteral("xdg-open"), QString());
    if (opener.isEmpty()) {
        if (error)
            *error = QStringLiteral("не найдена программа xdg-open");
        return false;
    }
    const bool address = target.contains(QStringLiteral("://"));
    const QString what = address ? target : QFileInfo(target).absoluteFilePath();
    return startDetached(opener, {what}, QString(), error);
}

} // namespace pc
