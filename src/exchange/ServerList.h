#pragma once
// Editing the server addresses on the "Связь" settings page: the main address
// and the reserve addresses as the list box shows them, with its selection.
//
// Each edit returns true when it changed the main address or the list; the
// window then shows the new state and marks the settings as changed. The
// change takes effect for connections once the settings are saved.

#include <QString>
#include <QStringList>

class Dialogs;

namespace pc {

struct ServerAddressList {
    static constexpr int kMaxReserves = 9;

    QString main;        // edServerAddress
    QStringList reserves; // lbServerAddresses, top to bottom
    int selected = -1;   // the selected row of the list box, -1 for none
};

// btnAddServAddrClick: asks for an address and appends it (nine at most).
bool addServerAddress(ServerAddressList &list, Dialogs &dialogs);
// lbServerAddressesDblClick: edits the selected entry.
bool editServerAddress(ServerAddressList &list, Dialogs &dialogs);
// btnRemoveServAddrClick: removes the selected entry after asking.
bool removeServerAddress(ServerAddressList &list, Dialogs &dialogs);
// btnUpServAddrClick / btnDownServAddrClick: move the selected entry one row;
// the selection follows it.
bool moveServerAddressUp(ServerAddressList &list, Dialogs &dialogs);
bool moveServerAddressDown(ServerAddressList &list, Dialogs &dialogs);
// btnSetMainServAddrClick: after asking, the selected entry becomes the main
// address and the old main address takes its place in the list.
bool setMainServerAddress(ServerAddressList &list, Dialogs &dialogs);
// btnCheckConnectionClick: the address to hand to the desktop's handler.
QString checkConnectionAddress(const QString &mainAddress);

} // namespace pc
