#pragma once
// Editing the server addresses on the "Связь" settings page: the main address
// and the reserve addresses as the list box shows them, with its selection.
//
// Each edit returns true when it changed the main address or the list; the
// window then shows the new state and marks the settings as changed. The
// change takes effect for connections once the settings are saved.

#include "core/Settings.h"

#include <QString>
#include <QStringList>

#include <functional>

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
// btnCheckConnectionClick ("Проверка соединения FTP..."): one connection to
// the address and port as typed on the page, logging in as the client, then
// straight back out. What came of it is said in the person's words.
struct ConnectionCheck {
    enum Outcome {
        LoggedIn,     // the server answered and took the login
        LoginRefused, // the server answered, the user name or password was refused
        Refused,      // something answered there but would not let us in
        NotSecure,    // the server gave no protected connection the settings accept
        NoAnswer,     // nothing (or no FTP server) answered at that address and port
        NotAsked,     // no address, or a port that is not a number from 1 to 65535
    };
    Outcome outcome = NotAsked;
    QString text; // the notice for the window
};
struct ConnectionCheckRequest {
    QString address;  // edServerAddress
    QString portText; // edServerPort; empty means the usual 21
    bool passive = true;
    bool requireTls = false;  // chkFtpRequireTls
    QString tlsPublicKey;     // server.ini TLSPublicKey
    FtpAccount login;
    int timeoutMs = 15000;          // for the connection, the greeting and the login
    std::function<void()> idle;     // called while waiting (keeps the window painted)
};
ConnectionCheck checkServerConnection(const ConnectionCheckRequest &request);

} // namespace pc
