#include "exchange/ServerList.h"

#include "core/Dialogs.h"

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

QString checkConnectionAddress(const QString &mainAddress)
{
    return QStringLiteral("ftp://") + mainAddress.trimmed();
}

} // namespace pc
