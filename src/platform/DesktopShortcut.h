#pragma once
// The program's shortcut: a desktop entry (client.desktop) that starts the
// launcher of one program folder. The entry names the folder by its absolute
// path, so a folder that was moved or copied carries a shortcut to the old
// place: at start the program writes it anew for the folder it runs from.
// On request the same entry goes into the person's menu of programs and onto
// the desktop.
//
// Every file is written whole (WholeFile); failures throw AppError with a
// Russian reason.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pc {

// The folder's shortcut file: folder + "client.desktop".
QString folderShortcutFile(const QString &folder);

// The desktop entry that starts the program in the folder (an absolute path,
// with or without the trailing "/").
QByteArray desktopEntryText(const QString &folder);

// True when the entry's launcher, working folder and icon are those of the
// folder.
bool desktopEntryNamesFolder(const QByteArray &entry, const QString &folder);

// At start: the folder's shortcut is written anew when it names another
// folder. A folder without one gets none. True when it was written.
bool refreshFolderShortcut(const QString &folder);

// Where «Создать ярлык на рабочем столе» puts the entry: the person's menu
// of programs (~/.local/share/applications) and the desktop folder.
QStringList desktopShortcutFiles();

// Writes the entry to each of desktopShortcutFiles(), creating the folders,
// executable as desktops ask of a launcher on the desktop. Returns the files.
QStringList createDesktopShortcuts(const QString &folder);

} // namespace pc
