#pragma once
// The connection to the supplier's FTP server.
//
// One object lives for the whole run, beside the settings it reads. It owns
// the FTP client and knows the login of the next connection (callers put
// ClientAccount or OrderAccount there before connecting) and the server that
// answered last. ConnectToServer tries that server first, then every other
// entry of ServerAddresses (the main address and the nine reserves), and tells
// the person only when none answered.

#include "core/Settings.h"
#include "exchange/FtpClient.h"
#include "platform/AppError.h"

#include <QString>

#include <atomic>
#include <functional>

class Dialogs;
class MessageLog;

namespace pc {

// Raised inside a connection, a transfer or a long listing once the exchange
// was cancelled (the program is closing): the operation gives up at once.
class ExchangeCancelled : public AppError {
public:
    ExchangeCancelled() : AppError(QStringLiteral("Обмен с сервером прерван")) {}
};

class ServerConnection {
public:
    // Entries of ServerAddresses that are tried: the main address and nine reserves.
    static constexpr int kServerCount = 10;

    // Reads ServerAddresses, ServerPort and FTPPassive from `settings` at each
    // connection. The login starts as settings.ClientAccount.
    ServerConnection(const Settings &settings, Dialogs &dialogs, MessageLog &log);
    ServerConnection(const ServerConnection &) = delete;
    ServerConnection &operator=(const ServerConnection &) = delete;

    // The windows the person sees; replaceable (tests put scripted ones in).
    void setDialogs(Dialogs &dialogs) { m_dialogs = &dialogs; }

    // The transfers of the calling code go through this client.
    FtpClient &ftp() { return m_ftp; }

    // The login of the next connection.
    void setLogin(const FtpAccount &account) { m_login = account; }
    const FtpAccount &login() const { return m_login; }

    // Called while connections are made and transfers run, to keep the
    // window painted (the window layer processes pending events there).
    void setIdleHook(std::function<void()> idle);
    // Ends the running connection or transfer at its next idle moment (within
    // a fraction of a second): ExchangeCancelled is raised there, a download
    // leaves the local file as it was, and the connection is dropped. In
    // force until allowExchange(): a closing program starts no new exchange.
    void cancelExchange() { m_cancelled = true; }
    // The person pressed «Прервать»: the same as cancelExchange, but only for
    // the connection now open; the next ConnectToServer starts afresh.
    void cancelByPerson() { m_cancelledByPerson = true; }
    void allowExchange() { m_cancelled = false; }
    bool exchangeCancelled() const
    {
        return m_cancelled || m_cancelledByPerson || (m_cancelFlag && m_cancelFlag->load());
    }
    // The cancel flag of the operation this connection works for (set from
    // another thread): once it is set, the connection or transfer ends at its
    // next check as with cancelExchange. nullptr: none.
    void setCancelFlag(const std::atomic<bool> *flag) { m_cancelFlag = flag; }
    // The server tried first by the next connection (the one that answered
    // last on another connection object).
    void setCurrentServerIndex(int i) { m_currentServerIndex = i; }
    // For long work between transfers (a listing of many names): keeps the
    // window painted and raises ExchangeCancelled once cancelled.
    void checkpoint();
    // Switches the busy (hourglass) cursor on while connecting and off after.
    void setBusyCursorHook(std::function<void(bool busy)> busy) { m_busyCursor = std::move(busy); }

    // Connects to a server of the list under the current login, the server
    // that answered last first. With reconnect = false an open connection made
    // under the same login is kept; otherwise it is closed and made anew.
    // When no server answers, tells the person and returns false: that the
    // login or password was refused when a server said so, else to try later.
    bool ConnectToServer(bool reconnect);
    // One attempt on ServerAddresses[i]; with announce the attempt and its
    // success are shown in the message log. False for a missing or empty
    // entry and for a failure (logged as an error naming the server).
    bool Connect(int i, bool announce, bool reconnect);
    // Closes the connection (QUIT).
    void DisconnectFromServer();

    bool isConnected() const { return m_ftp.isConnected(); }
    // Index in ServerAddresses of the server connected to last (0 at start).
    int CurrentServerIndex() const { return m_currentServerIndex; }

private:

    const Settings &m_settings;
    Dialogs *m_dialogs;
    MessageLog &m_log;
    FtpClient m_ftp;
    FtpAccount m_login;
    FtpAccount m_sessionLogin; // the login of the open connection
    int m_currentServerIndex = 0;
    bool m_loginRefused = false; // a server of this ConnectToServer refused the login
    std::function<void()> m_idle;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_cancelledByPerson{false};
    const std::atomic<bool> *m_cancelFlag = nullptr;
    std::function<void(bool)> m_busyCursor;
};

} // namespace pc
