#pragma once
// Where the program's database is: the embedded file Data/client.gdb of the
// program folder (the default), or a database served by Firebird's own server
// that several workstations of one pharmacy share. Kept in client.ini,
// section [Database]: Server (host, or host/port), Path (the file on the
// server), User, Password. An empty Server means the embedded database.

#include <QString>

namespace pc {

struct DatabaseLocation {
    QString Server;
    QString Path;
    QString User;
    QString Password;

    bool IsServer() const { return !Server.trimmed().isEmpty(); }
    // "host/port:path" for the engine.
    QString ConnectionName() const;
    // For the log and the screen: never the password.
    QString Description() const;

    static DatabaseLocation Read(const QString &clientIni);
    void Write(const QString &clientIni) const;
    bool operator==(const DatabaseLocation &) const = default;
};

// Connects to a served database and says in Russian what is wrong: the host
// not found, the port closed, the password refused, no such file, a wire
// encryption mismatch. Empty when the connection works.
QString CheckDatabaseLocation(const DatabaseLocation &location);

} // namespace pc
