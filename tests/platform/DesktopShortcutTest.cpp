#include "TempAppDir.h"

#include "platform/DesktopShortcut.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cerrno>

using namespace pc;

// The folder's shortcut follows the folder: one that names another place (the
// folder was moved or copied) is written anew, whole; one that names this
// folder, or none at all, is left alone.
TEST(DesktopShortcut, FolderShortcutIsWrittenAnewWhenItNamesAnotherFolder)
{
    TempAppDir root;
    const QString folder = root.file("Аптека на Мира");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = folderShortcutFile(folder);

    EXPECT_FALSE(refreshFolderShortcut(folder)); // none: none is made
    EXPECT_FALSE(QFileInfo::exists(file));

    const QByteArray old = desktopEntryText("/opt/old place");
    root.writeBytes("Аптека на Мира/client.desktop", old);
    EXPECT_FALSE(desktopEntryNamesFolder(old, folder));

    // A failed write leaves the old shortcut as it was.
    setFileFaultHook([](FileStep step, const QString &, qint64) { return step == FileStep::Rename ? ENOSPC : 0; });
    EXPECT_THROW(refreshFolderShortcut(folder), AppError);
    setFileFaultHook({});
    EXPECT_EQ(root.readBytes("Аптека на Мира/client.desktop"), old);

    EXPECT_TRUE(refreshFolderShortcut(folder));
    const QByteArray fresh = root.readBytes("Аптека на Мира/client.desktop");
    EXPECT_TRUE(desktopEntryNamesFolder(fresh, folder));
    const QString text = QString::fromUtf8(fresh);
    const QString dir = QDir::cleanPath(folder);
    EXPECT_TRUE(text.contains("\nExec=\"" + dir + "/vorn\"\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nPath=" + dir + "\n"));
    EXPECT_TRUE(text.contains("\nIcon=" + dir + "/client.svg\n"));
    EXPECT_TRUE(text.contains("Name=Клиент системы заказа ВОРН"));
    EXPECT_FALSE(text.contains("/opt/old place"));
    EXPECT_TRUE(QFileInfo(file).isExecutable());
    EXPECT_FALSE(refreshFolderShortcut(folder)); // names this folder now

    // Characters the launcher's quoting reserves stay part of the path.
    EXPECT_TRUE(QString::fromUtf8(desktopEntryText("/opt/a\"b$c")).contains("Exec=\"/opt/a\\\\\"b\\\\$c/vorn\""));
}
