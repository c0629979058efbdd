#pragma once
// Opening a folder, a file or an address with the desktop's own handler
// (xdg-open), started like every other child of this program (Process.h).

#include <QString>

namespace pc {

// A local path (folder or file) or an address with a scheme ("ftp://...", "http://...").
// False when the opener is missing or cannot be started.
bool shellOpen(const QString &target, QString *error = nullptr);

} // namespace pc
