#include "platform/SingleInstance.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include <unistd.h>

namespace pc {

SingleInstance::SingleInstance(const QString &executableName, const QString &lockFolder)
{
    QString dir = lockFolder;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QStringLiteral("/tmp/pharmacy-client-%1").arg(getuid());
    QDir().mkpath(dir);
    m_fileName = dir + QLatin1Char('/') + executableName + QStringLiteral(".lock");
    m_lock = std::make_unique<QLockFile>(m_fileName);
    // Only a living owner counts: a lock whose process is gone is stale at once.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    return m_lock->tryLock(0);
}

} // namespace pc
