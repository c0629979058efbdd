#include "app/DesktopShortcutButton.h"

#include "core/Dialogs.h"
#include "core/MessageLog.h"
#include "platform/AppError.h"
#include "platform/DesktopShortcut.h"

#include <QBoxLayout>
#include <QDir>
#include <QPushButton>

QPushButton *addDesktopShortcutButton(QWidget *after, const QString &appDir, Dialogs &dialogs, MessageLog &log)
{
    auto *button = new QPushButton(QStringLiteral("Создать ярлык на рабочем столе"), after->parentWidget());
    button->setObjectName(QStringLiteral("btnCreateShortcut"));
    button->setToolTip(QStringLiteral("Ярлык программы на рабочем столе и в меню программ"));
    if (auto *row = qobject_cast<QBoxLayout *>(after->parentWidget()->layout()))
        row->insertWidget(row->indexOf(after) + 1, button);
    QObject::connect(button, &QPushButton::clicked, button,
                     [appDir, &dialogs, &log] { createDesktopShortcut(appDir, dialogs, log); });
    return button;
}

void createDesktopShortcut(const QString &appDir, Dialogs &dialogs, MessageLog &log)
{
    try {
        const QStringList files = pc::createDesktopShortcuts(appDir);
        QStringList shown;
        for (const QString &f : files)
            shown << QDir::toNativeSeparators(f);
        log.logMessage(QStringLiteral("Ярлык программы создан: ") + shown.join(QStringLiteral(", ")), Info, false);
        dialogs.showNotice(QStringLiteral("Ярлык программы создан на рабочем столе и в меню программ"), false);
    } catch (const std::exception &e) {
        log.logMessage(QStringLiteral("Ярлык не создан: ") + pc::errorText(e), Error, true);
        dialogs.showNotice(QStringLiteral("Не удалось создать ярлык программы. Подробности — в сообщениях внизу окна"), false);
    }
}
