#pragma once
// One running copy per executable name: an exclusive lock on a file named after
// the executable in the user's runtime folder. A lock left by a crashed copy
// does not block (its owner process no longer exists).

#include <QString>
#include <memory>

class QLockFile;

namespace pc {

class SingleInstance {
public:
    // lockFolder empty: the user's runtime folder.
    explicit SingleInstance(const QString &executableName, const QString &lockFolder = {});
    ~SingleInstance();
    // True when this process now holds the lock; false when another copy runs.
    bool acquire();
    QString lockFileName() const { return m_fileName; }

private:
    QString m_fileName;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace pc
