#include "WindowFixture.h"

#include "platform/DesktopShortcut.h"

#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// The person's home, data and configuration folders in a temporary place.
struct TempHome {
    QTemporaryDir root;
    QByteArray saved[3];
    const char *names[3] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"};
    TempHome()
    {
        for (int i = 0; i < 3; ++i)
            saved[i] = qgetenv(names[i]);
        qputenv("HOME", QFile::encodeName(root.path() + "/home"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root.path() + "/data"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.path() + "/config"));
    }
    ~TempHome()
    {
        for (int i = 0; i < 3; ++i)
            saved[i].isNull() ? qunsetenv(names[i]) : qputenv(names[i], saved[i]);
    }
};
} // namespace

// «Создать ярлык на рабочем столе» on the settings page puts the shortcut of
// this folder into the person's menu of programs and onto the desktop the
// person's folder settings name, and says so.
TEST_F(WindowFixture, ShortcutButtonPutsTheShortcutInTheMenuAndOnTheDesktop)
{
    TempHome home;
    QDir().mkpath(home.root.path() + "/config");
    QFile dirs(home.root.path() + "/config/user-dirs.dirs");
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/Рабочий стол\"\n");
    dirs.close();

    auto *button = form->findChild<QPushButton *>("btnCreateShortcut");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Создать ярлык на рабочем столе");
    EXPECT_TRUE(form->findChild<QWidget *>("tsSettings")->isAncestorOf(button));
    button->click();

    const QStringList files{home.root.path() + "/data/applications/vorn-client.desktop",
                            home.root.path() + "/home/Рабочий стол/vorn-client.desktop"};
    EXPECT_EQ(pc::desktopShortcutFiles(), files);
    for (const QString &file : files) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
        EXPECT_TRUE(pc::desktopEntryNamesFolder(f.readAll(), dir.path())) << file.toStdString();
        EXPECT_TRUE(QFileInfo(file).isExecutable());
    }
    EXPECT_EQ(dialogs.notices, QStringList({"Ярлык программы создан на рабочем столе и в меню программ"}));

    // A desktop folder that cannot be made: said, and the pane tells why.
    QFile::remove(files[1]);
    QDir(home.root.path() + "/home").removeRecursively();
    QFile blocker(home.root.path() + "/home");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    button->click();
    EXPECT_EQ(dialogs.notices.last(), "Не удалось создать ярлык программы. Подробности — в сообщениях внизу окна");
}
