#pragma once
// Sending the message log to the supplier (the "Отправить журнал" button).

#include "core/Settings.h"

#include <QString>

#include <functional>

namespace pc {

class ServerConnection;

// Connects under the order account; when no server answers, stops there
// (ConnectToServer has told the person) and returns false without writing.
// Otherwise calls writeLog, which writes the pane to a local file and returns
// its path, uploads that file under its own name into the login folder
// (replacing a file of that name), disconnects and returns true. An error of
// writing or uploading passes on to the caller after the connection is
// closed; the local file stays.
bool SendErrorLog(ServerConnection &connection, const FtpAccount &orderAccount,
                  const std::function<QString()> &writeLog);

} // namespace pc
