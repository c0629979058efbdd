#include "exchange/ServerConnection.h"

#include "core/Dialogs.h"
#include "core/MessageLog.h"

#include <exception>

namespace pc {

namespace {

// Switches the busy cursor back off however the connecting ends.
class BusyCursor {
public:
    explicit BusyCursor(const std::function<void(bool)> &hook) : m_hook(hook)
    {
        if (m_hook)
            m_hook(true);
    }
    ~BusyCursor() { release(); }
    void release()
    {
        if (m_hook && !m_released)
            m_hook(false);
        m_released = true;
    }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;

private:
    const std::function<void(bool)> &m_hook;
    bool m_released = false;
};

} // namespace

ServerConnection::ServerConnection(const Settings &settings, Dialogs &dialogs, MessageLog &log)
    : m_settings(settings), m_dialogs(&dialogs), m_log(log), m_login(settings.ClientAccount)
{
    m_ftp.setIdleCallback([this] { checkpoint(); });
}

void ServerConnection::setIdleHook(std::function<void()> idle)
{
    m_idle = std::move(idle);
}

void ServerConnection::checkpoint()
{
    if (m_idle)
        m_idle();
    if (exchangeCancelled())
        throw ExchangeCancelled();
}

bool ServerConnection::ConnectToServer(bool reconnect)
{
    m_cancelledByPerson = false;
    m_dialogs->setWaitCancel([this] { cancelByPerson(); });
    m_dialogs->showWait(QStringLiteral("Подождите некоторое время, происходит соединение с сервером..."), 0);
    BusyCursor busy(m_busyCursor);
    m_ftp.setPassive(m_settings.FTPPassive);
    m_ftp.setUserName(m_login.user);
    m_ftp.setPassword(m_login.password);
    m_ftp.setPort(m_settings.ServerPort);
    m_loginRefused = false;

    if (Connect(m_currentServerIndex, false, reconnect)) {
        m_dialogs->hideWait();
        checkpoint();
        return true;
    }
    checkpoint();
    // The server that answered last did not: try every other one, saying so.
    const int first = m_currentServerIndex;
    for (int i = 0; i < kServerCount; ++i) {
        if (i == first)
            continue;
        if (Connect(i, true, reconnect)) {
            m_dialogs->hideWait();
            busy.release();
            checkpoint();
            return true;
        }
        checkpoint();
    }
    m_dialogs->hideWait();
    m_dialogs->setWaitCancel({});
    // Trying later does not help when the server turned the account away.
    if (m_loginRefused)
        m_dialogs->showNotice(QStringLiteral("Сервер не принял имя пользователя или пароль (пользователь \"") + m_login.user
                                  + QStringLiteral("\"). Проверьте их в настройках"),
                              true);
    else
        m_dialogs->showNotice(QStringLiteral("Не удалось соединиться с сервером. Попробуйте позднее"), true);
    return false;
}

bool ServerConnection::Connect(int i, bool announce, bool reconnect)
{
    if (i < 0 || i >= m_settings.ServerAddresses.size())
        return false;
    const QString address = m_settings.ServerAddresses[i].trimmed();
    if (address.isEmpty())
        return false;
    try {
        m_log.logDetail(QStringLiteral("Соединение с сервером ") + address);
        if (announce)
            m_log.logMessage(QStringLiteral("*** Попытка подключения к резервному серверу %1(%2)...").arg(i).arg(address),
                             Error, true);
        if (m_ftp.isConnected()) {
            // An open connection is reused only when it was made under the
            // login asked for now: an upload under the wrong account would
            // land in another account's folder.
            if (!reconnect && m_sessionLogin == m_login)
                return true;
            m_ftp.disconnect();
        }
        m_ftp.setHost(address);
        checkpoint();
        m_ftp.connect();
        if (!m_ftp.isConnected())
            return false;
        m_sessionLogin = m_login;
        if (announce)
            m_log.logMessage(QStringLiteral("*** ... успешно подключились"), Error, true);
        m_log.logDetail(QStringLiteral("Соединение с сервером ") + address + QStringLiteral(" установлено"));
        m_currentServerIndex = i;
        return true;
    } catch (const ExchangeCancelled &) {
        throw;
    } catch (const FtpError &e) {
        if (e.kind() == FtpError::Login)
            m_loginRefused = true;
        m_log.logMessage(e.message(), Error, true); // it names the server and the step
    } catch (const std::exception &e) {
        m_log.logMessage(QStringLiteral("Соединение с сервером ") + address + QStringLiteral(": ") + errorText(e), Error,
                         true);
    }
    return false;
}

void ServerConnection::DisconnectFromServer()
{
    m_ftp.disconnect();
    m_sessionLogin = FtpAccount();
    m_cancelledByPerson = false;
    m_dialogs->setWaitCancel({});
    m_log.logDetail(QStringLiteral("Рассоединение с сервером"));
}

} // namespace pc
