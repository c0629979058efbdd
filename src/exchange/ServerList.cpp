#include "exchange/ServerList.h"

#include "core/Dialogs.h"
#include "exchange/FtpClient.h"

namespace pc {

namespace {

const QString kChooseAddress = QStringLiteral("Выберите адрес");

bool hasSelection(const ServerAddressList &list)
{
    return list.selected >= 0 && list.selected < list.reserves.size();
}

// Shows the notice when nothing is selected.
bool requireSelection(const ServerAddressList &list, Dialogs &dialogs)
{
    if (hasSelection(list))
        return true;
    dialogs.showNotice(kChooseAddress, true);
    return false;
}

// The address typed into the input box; empty when cancelled or left blank.
QString askAddress(Dialogs &dialogs, const QString &current)
{
    QString value = current;
    if (!dialogs.inputBox(QStringLiteral("Адрес"), QStringLiteral("Введите адрес"), value))
        return QString();
    return value.trimmed();
}

} // namespace

bool addServerAddress(ServerAddressList &list, Dialogs &dialogs)
{
    if (list.reserves.size() >= ServerAddressList::kMaxReserves) {
        dialogs.showNotice(QStringLiteral("Уже максимальное количество серверов"), true);
        return false;
    }
    const QString address = askAddress(dialogs, QString());
    if (address.isEmpty())
        return false;
    list.reserves.append(address);
    return true;
}

bool editServerAddress(ServerAddressList &list, Dialogs &dialogs)
{
    if (!hasSelection(list))
        return false;
    const QString address = askAddress(dialogs, list.reserves[list.selected]);
    if (address.isEmpty() || address == list.reserves[list.selected])
        return false;
    list.reserves[list.selected] = address;
    return true;
}

bool removeServerAddress(ServerAddressList &list, Dialogs &dialogs)
{
    if (!requireSelection(list, dialogs))
        return false;
    const QString question = QStringLiteral("Вы уверены, что хотите удалить резервный адрес ")
        + list.reserves[list.selected] + QStringLiteral(" ?");
    if (dialogs.askQuestion(question, true, false) != mrYes)
        return false;
    list.reserves.removeAt(list.selected);
    // The selection stays on the row that moved into the gap.
    if (list.selected >= list.reserves.size())
        list.selected = list.reserves.size() - 1;
    return true;
}

bool moveServerAddressUp(ServerAddressList &list, Dialogs &dialogs)
{
    if (!requireSelection(list, dialogs) || list.selected == 0)
        return false;
    list.reserves.swapItemsAt(list.selected, list.selected - 1);
    --list.selected;
    return true;
}

bool moveServerAddressDown(ServerAddressList &list, Dialogs &dialogs)
{
    if (!requireSelection(list, dialogs) || list.selected == list.reserves.size() - 1)
        return false;
    list.reserves.swapItemsAt(list.selected, list.selected + 1);
    ++list.selected;
    return true;
}

bool setMainServerAddress(ServerAddressList &list, Dialogs &dialogs)
{
    if (!requireSelection(list, dialogs))
        return false;
    const QString address = list.reserves[list.selected];
    const QString question = QStringLiteral("Вы уверены, что установить адрес ") + address
        + QStringLiteral(" в качестве основного?");
    if (dialogs.askQuestion(question, true, false) != mrYes)
        return false;
    const QString oldMain = list.main.trimmed();
    list.main = address;
    if (oldMain.isEmpty()) {
        // No main address to keep: no blank row in the list.
        list.reserves.removeAt(list.selected);
        if (list.selected >= list.reserves.size())
            list.selected = list.reserves.size() - 1;
    } else {
        list.reserves[list.selected] = oldMain;
    }
    return true;
}

ConnectionCheck checkServerConnection(const ConnectionCheckRequest &request)
{
    ConnectionCheck result;
    const QString address = request.address.trimmed();
    if (address.isEmpty()) {
        result.text = QStringLiteral("Не задан адрес сервера: введите его в поле основного адреса");
        return result;
    }
    int port = 21;
    if (const QString typed = request.portText.trimmed(); !typed.isEmpty()) {
        bool ok = false;
        port = typed.toInt(&ok);
        if (!ok || port < 1 || port > 65535) {
            result.text = QStringLiteral("Порт сервера \"%1\" указан неверно: нужно число от 1 до 65535").arg(typed);
            return result;
        }
    }
    const QString server = QStringLiteral("Сервер %1 (порт %2)").arg(address).arg(port);

    FtpClient ftp;
    ftp.setHost(address);
    ftp.setPort(port);
    ftp.setPassive(request.passive);
    ftp.setTls(request.requireTls ? FtpClient::Tls::Required : FtpClient::Tls::Try);
    ftp.setPinnedPublicKey(request.tlsPublicKey);
    ftp.setUserName(request.login.user);
    ftp.setPassword(request.login.password);
    ftp.setConnectTimeout(request.timeoutMs);
    ftp.setIdleCallback(request.idle);
    try {
        ftp.connect();
        ftp.disconnect();
        result.outcome = ConnectionCheck::LoggedIn;
        result.text = server + QStringLiteral(" отвечает, вход под именем \"%1\" выполнен. Соединение в порядке")
                                   .arg(request.login.user);
    } catch (const FtpError &e) {
        // The library's wording (with the server's reply) follows for the maintainer.
        const QString detail = QStringLiteral("\n(") + e.message() + QLatin1Char(')');
        if (e.kind() == FtpError::Login) {
            result.outcome = ConnectionCheck::LoginRefused;
            result.text = server + QStringLiteral(" отвечает, но не принял имя пользователя \"%1\" или пароль. "
                                                  "Проверьте код клиента и пароль")
                                       .arg(request.login.user)
                        + detail;
        } else if (e.kind() == FtpError::TlsRefused) {
            result.outcome = ConnectionCheck::NotSecure;
            result.text = server + QStringLiteral(" отвечает, но не поддерживает защищённое соединение (TLS). "
                                                  "Обратитесь к поставщику или снимите флажок «Только защищённое соединение»")
                        + detail;
        } else if (e.kind() == FtpError::TlsFailed) {
            result.outcome = ConnectionCheck::NotSecure;
            result.text = QStringLiteral("Защищённое соединение с сервером %1 (порт %2) не установлено. Обратитесь к поставщику")
                              .arg(address)
                              .arg(port)
                        + detail;
        } else if (!e.serverReply().isEmpty()) {
            // Something answered there, but would not let us in (busy, or not an FTP server).
            result.outcome = ConnectionCheck::Refused;
            result.text = server + QStringLiteral(" отвечает, но отказал в соединении. Попробуйте позднее") + detail;
        } else {
            result.outcome = ConnectionCheck::NoAnswer;
            result.text = server + QStringLiteral(" не отвечает. Проверьте адрес, порт и подключение к сети") + detail;
        }
    }
    return result;
}

} // namespace pc
