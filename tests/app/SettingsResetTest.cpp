// «Сбросить настройки»: the old client.ini is kept as bkclient.ini, and when it
// cannot be kept the settings stay exactly as they were.

#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "app/MainForm.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

struct SettingsReset : ::testing::Test {
    TempAppDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<TMainForm> form;
    int restarts = 0;
    QString settings; // client.ini as the running program left it

    void SetUp() override
    {
        dir.writeText("server.ini", "[Header]\nServerAdress=ftp.example.ru\n");
        dir.writeText("client.ini", "[Header]\nClientName=Аптека\nClientCode=55\nFTPPassive=0\n[Price]\nAptekaPercent=200\n");
        form = std::make_unique<TMainForm>(dir.path());
        form->setDialogs(&dialogs);
        form->startLauncher = [this](QString &) {
            ++restarts;
            return true;
        };
        form->LoadSettings();
        dialogs.notices.clear();
        settings = dir.readText("client.ini");
        ASSERT_TRUE(settings.contains("AptekaPercent=200"));
    }
    void TearDown() override
    {
        form->closeWithoutAsking = true;
        form.reset();
        EXPECT_FALSE(dialogs.answersLeft());
    }
};

} // namespace

TEST_F(SettingsReset, EarlierBackupIsReplaced)
{
    dir.writeText("bkclient.ini", "[Header]\nClientCode=old\n");
    dialogs.setNextAnswer(mrYes);
    form->btnDefaultSettingsClick();
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(dir.readText("bkclient.ini"), settings);
    EXPECT_EQ(dir.readText("client.ini"), "[Header]\nClientName=Аптека\nClientCode=55\n");
}

TEST_F(SettingsReset, SettingsThatCannotBeSetAsideAreNeverDeleted)
{
    // bkclient.ini taken by a folder that cannot be replaced: the rename fails.
    ASSERT_TRUE(QDir().mkpath(dir.file("bkclient.ini/inside")));
    dialogs.setNextAnswer(mrYes);
    form->btnDefaultSettingsClick();
    EXPECT_EQ(dir.readText("client.ini"), settings) << "the only copy of the settings must stay untouched";
    EXPECT_EQ(restarts, 0) << "nothing was reset, so there is nothing to restart for";
    ASSERT_EQ(dialogs.notices.size(), 1);
    EXPECT_TRUE(dialogs.notices.front().startsWith("Ошибка сброса")) << dialogs.notices.front().toStdString();
}
