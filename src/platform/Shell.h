#pragma once
// Opening a folder, a file or an address with the desktop's own handler.

#include <QString>

namespace pc {

// A local path (folder or file) or an address with a scheme ("ftp://...", "http://...").
bool shellOpen(const QString &target);

} // namespace pc
