#pragma once
// The reply to a name listing (NLST): one name a line, CR LF or bare LF line
// ends, in code page 1251. Empty lines carry no name.

#include <QByteArray>
#include <QStringList>

namespace pc {

// The names exactly as the server listed them, in the server's order.
QStringList NameListFromReply(const QByteArray &reply);

} // namespace pc
