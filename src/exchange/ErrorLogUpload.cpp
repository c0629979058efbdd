#include "exchange/ErrorLogUpload.h"

#include "exchange/ServerConnection.h"

#include <QFileInfo>

namespace pc {

bool SendErrorLog(ServerConnection &connection, const FtpAccount &orderAccount,
                  const std::function<QString()> &writeLog)
{
    connection.setLogin(orderAccount);
    if (!connection.ConnectToServer(true))
        return false;

    // The connection is closed whatever happens (not from a destructor: the
    // log line of the disconnection may itself fail).
    try {
        const QString path = writeLog();
        connection.ftp().put(path, QFileInfo(path).fileName());
    } catch (...) {
        connection.DisconnectFromServer();
        throw;
    }
    connection.DisconnectFromServer();
    return true;
}

} // namespace pc
