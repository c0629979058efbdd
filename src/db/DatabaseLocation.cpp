#include "db/DatabaseLocation.h"

#include "db/firebird/Database.h"
#include "db/firebird/DbError.h"
#include "platform/IniFile.h"

namespace pc {

namespace {
const QString kSection = QStringLiteral("Database");
}

QString DatabaseLocation::ConnectionName() const
{
    return fb::Database::connectionName(Server, Path.trimmed());
}

QString DatabaseLocation::Description() const
{
    if (!IsServer())
        return QStringLiteral("локальная база данных");
    return QStringLiteral("база на сервере %1, файл %2, пользователь %3")
        .arg(Server.trimmed(), Path.trimmed(), User.trimmed().isEmpty() ? QString::fromLatin1(fb::Database::kUser) : User.trimmed());
}

DatabaseLocation DatabaseLocation::Read(const QString &clientIni)
{
    const IniFile ini(clientIni);
    DatabaseLocation l;
    l.Server = ini.readString(kSection, QStringLiteral("Server"));
    l.Path = ini.readString(kSection, QStringLiteral("Path"));
    l.User = ini.readString(kSection, QStringLiteral("User"));
    l.Password = ini.readString(kSection, QStringLiteral("Password"));
    return l;
}

void DatabaseLocation::Write(const QString &clientIni) const
{
    // One write: the server never pairs with another database's path or login.
    IniFile ini(clientIni);
    ini.beginBatch();
    ini.writeString(kSection, QStringLiteral("Server"), Server.trimmed());
    ini.writeString(kSection, QStringLiteral("Path"), Path.trimmed());
    ini.writeString(kSection, QStringLiteral("User"), User.trimmed());
    ini.writeString(kSection, QStringLiteral("Password"), Password);
    ini.commit();
}

QString CheckDatabaseLocation(const DatabaseLocation &location)
{
    if (!location.IsServer())
        return QString();
    if (location.Path.trimmed().isEmpty())
        return QStringLiteral("Не указан путь к файлу базы данных на сервере.");
    fb::Database db;
    db.setCredentials(location.User.trimmed(), location.Password);
    try {
        db.attach(location.ConnectionName());
        db.detach();
        return QString();
    } catch (const fb::DbError &e) {
        QString what;
        if (e.isHostUnknown())
            what = QStringLiteral("Компьютер «%1» не найден: проверьте имя или адрес сервера.").arg(location.Server.trimmed());
        else if (e.isConnectionRefused())
            what = QStringLiteral("Сервер «%1» не отвечает: сервер Firebird не запущен, порт закрыт или указан неверно.")
                       .arg(location.Server.trimmed());
        else if (e.isWireCryptMismatch())
            what = QStringLiteral("Сервер требует другого шифрования соединения (WireCrypt): проверьте настройку сервера.");
        else if (e.isLoginRefused())
            what = QStringLiteral("Сервер не принял имя пользователя или пароль.");
        else if (e.isFileMissing())
            what = QStringLiteral("На сервере нет файла базы данных «%1» (программа создаст его при запуске, "
                                  "если папка существует и доступна серверу).")
                       .arg(location.Path.trimmed());
        else
            what = QStringLiteral("Не удалось подключиться к базе данных на сервере.");
        return what + QStringLiteral(" (") + e.text() + QStringLiteral(")");
    }
}

} // namespace pc
