#pragma once
// Program-wide values every floor may read: the program folder and version.

#include <QString>

namespace pc {

inline const QString kVersion = QStringLiteral("2.4.024");
inline const QString kAppTitle = QStringLiteral("Клиент системы заказа ВОРН");

// The program folder, always ending in "/". Every program file lives under it.
// Set once at start (the executable's folder); tests point it at a temporary folder.
class AppContext {
public:
    explicit AppContext(QString appDir);
    const QString &appDir() const { return m_appDir; }
    QString path(const QString &relative) const; // appDir + relative, "\" read as "/"
    const QString &version() const { return kVersion; }

private:
    QString m_appDir;
};

} // namespace pc
