#pragma once
// «Создать ярлык на рабочем столе» on the settings page: puts the program's
// shortcut into the person's menu of programs and onto the desktop, and says
// where it went (or why it could not).

class Dialogs;
class MessageLog;
class QPushButton;
class QWidget;
class QString;

// Adds the button to the row of the given button, right after it.
QPushButton *addDesktopShortcutButton(QWidget *after, const QString &appDir, Dialogs &dialogs, MessageLog &log);
// What the button does.
void createDesktopShortcut(const QString &appDir, Dialogs &dialogs, MessageLog &log);
