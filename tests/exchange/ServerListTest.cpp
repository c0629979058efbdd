// Editing the server addresses on the settings page.
#include "exchange/ServerList.h"
#include "support/ScriptedDialogs.h"

#include <gtest/gtest.h>

using pc::ServerAddressList;

namespace {

const QString kChoose = QStringLiteral("Выберите адрес");

// Also notes what each input box showed.
class InputDialogs : public ScriptedDialogs {
public:
    struct Shown {
        QString caption, prompt, value;
    };
    std::vector<Shown> inputs;
    bool inputBox(const QString &caption, const QString &prompt, QString &value) override
    {
        inputs.push_back({caption, prompt, value});
        return ScriptedDialogs::inputBox(caption, prompt, value);
    }
};

} // namespace

TEST(ServerList, AddingAsksForTheAddressAndStopsAtNine)
{
    InputDialogs dialogs;
    ServerAddressList list{QStringLiteral("main"), {}, -1};
    for (int i = 1; i <= 8; ++i)
        list.reserves << QStringLiteral("r%1").arg(i);

    dialogs.setNextInput(QString()); // cancelled
    EXPECT_FALSE(pc::addServerAddress(list, dialogs));
    dialogs.setNextInput(QStringLiteral("   "));
    EXPECT_FALSE(pc::addServerAddress(list, dialogs));
    EXPECT_EQ(list.reserves.size(), 8);

    dialogs.setNextInput(QStringLiteral(" ftp9.example "));
    EXPECT_TRUE(pc::addServerAddress(list, dialogs));
    EXPECT_EQ(list.reserves.size(), 9);
    EXPECT_EQ(list.reserves.last(), QStringLiteral("ftp9.example"));
    ASSERT_EQ(dialogs.inputs.size(), 3u);
    EXPECT_EQ(dialogs.inputs[2].caption, QStringLiteral("Адрес"));
    EXPECT_EQ(dialogs.inputs[2].prompt, QStringLiteral("Введите адрес"));
    EXPECT_EQ(dialogs.inputs[2].value, QString());
    EXPECT_TRUE(dialogs.notices.isEmpty());

    // The tenth is refused before anything is asked.
    EXPECT_FALSE(pc::addServerAddress(list, dialogs));
    EXPECT_EQ(dialogs.notices, QStringList{QStringLiteral("Уже максимальное количество серверов")});
    EXPECT_EQ(dialogs.inputs.size(), 3u);
    EXPECT_EQ(list.reserves.size(), 9);
}

TEST(ServerList, EditingOnDoubleClickStartsFromTheEntry)
{
    InputDialogs dialogs;
    ServerAddressList list{QStringLiteral("main"), {QStringLiteral("a"), QStringLiteral("b")}, -1};
    EXPECT_FALSE(pc::editServerAddress(list, dialogs)); // nothing selected: nothing asked
    EXPECT_TRUE(dialogs.inputs.empty());

    list.selected = 1;
    dialogs.setNextInput(QStringLiteral("b2"));
    EXPECT_TRUE(pc::editServerAddress(list, dialogs));
    EXPECT_EQ(dialogs.inputs.back().value, QStringLiteral("b"));
    EXPECT_EQ(dialogs.inputs.back().caption, QStringLiteral("Адрес"));
    dialogs.setNextInput(QString());
    EXPECT_FALSE(pc::editServerAddress(list, dialogs));
    dialogs.setNextInput(QString(""));
    EXPECT_FALSE(pc::editServerAddress(list, dialogs));
    EXPECT_EQ(list.reserves, (QStringList{"a", "b2"}));
    EXPECT_EQ(list.selected, 1);
}

TEST(ServerList, MovingAtTheEdgesChangesNothing)
{
    ScriptedDialogs dialogs;
    ServerAddressList list{QStringLiteral("main"), {"a", "b", "c"}, 0};
    EXPECT_FALSE(pc::moveServerAddressUp(list, dialogs));
    EXPECT_EQ(list.reserves, (QStringList{"a", "b", "c"}));
    EXPECT_EQ(list.selected, 0);
    list.selected = 2;
    EXPECT_FALSE(pc::moveServerAddressDown(list, dialogs));
    EXPECT_EQ(list.reserves, (QStringList{"a", "b", "c"}));
    EXPECT_EQ(list.selected, 2);
    EXPECT_TRUE(dialogs.notices.isEmpty());

    // Elsewhere the entry moves and the selection goes with it.
    EXPECT_TRUE(pc::moveServerAddressUp(list, dialogs));
    EXPECT_EQ(list.reserves, (QStringList{"a", "c", "b"}));
    EXPECT_EQ(list.selected, 1);
    list.selected = 0;
    EXPECT_TRUE(pc::moveServerAddressDown(list, dialogs));
    EXPECT_EQ(list.reserves, (QStringList{"c", "a", "b"}));
    EXPECT_EQ(list.selected, 1);
}

TEST(ServerList, WithoutSelectionThePersonIsAskedToChoose)
{
    ScriptedDialogs dialogs; // any question would fail the test
    ServerAddressList list{QStringLiteral("main"), {"a", "b"}, -1};
    EXPECT_FALSE(pc::removeServerAddress(list, dialogs));
    EXPECT_FALSE(pc::moveServerAddressUp(list, dialogs));
    EXPECT_FALSE(pc::moveServerAddressDown(list, dialogs));
    EXPECT_FALSE(pc::setMainServerAddress(list, dialogs));
    EXPECT_EQ(dialogs.notices, (QStringList{kChoose, kChoose, kChoose, kChoose}));
    list.selected = 5; // a stale row counts as none
    EXPECT_FALSE(pc::removeServerAddress(list, dialogs));
    EXPECT_EQ(dialogs.notices.size(), 5);
    EXPECT_EQ(list.reserves, (QStringList{"a", "b"}));
}

TEST(ServerList, RemovingAsksFirst)
{
    ScriptedDialogs dialogs;
    ServerAddressList list{QStringLiteral("main"), {"a", "b", "c"}, 2};
    dialogs.setNextAnswer(mrNo);
    EXPECT_FALSE(pc::removeServerAddress(list, dialogs));
    EXPECT_EQ(dialogs.questions, QStringList{QStringLiteral("Вы уверены, что хотите удалить резервный адрес c ?")});
    EXPECT_TRUE(dialogs.lastFocusYes);
    EXPECT_FALSE(dialogs.lastWithCancel);
    EXPECT_EQ(list.reserves.size(), 3);

    // The selection moves to the row that is now last.
    dialogs.setNextAnswer(mrYes);
    EXPECT_TRUE(pc::removeServerAddress(list, dialogs));
    EXPECT_EQ(list.reserves, (QStringList{"a", "b"}));
    EXPECT_EQ(list.selected, 1);
}

TEST(ServerList, SettingTheMainAddressSwapsItWithTheSelectedEntry)
{
    ScriptedDialogs dialogs;
    ServerAddressList list{QStringLiteral("main"), {"a", "b", "c"}, 1};
    dialogs.setNextAnswer(mrNo);
    EXPECT_FALSE(pc::setMainServerAddress(list, dialogs));
    EXPECT_EQ(list.main, QStringLiteral("main"));
    EXPECT_EQ(dialogs.questions.last(), QStringLiteral("Вы уверены, что установить адрес b в качестве основного?"));
    EXPECT_TRUE(dialogs.lastFocusYes);
    EXPECT_FALSE(dialogs.lastWithCancel);

    dialogs.setNextAnswer(mrYes);
    EXPECT_TRUE(pc::setMainServerAddress(list, dialogs));
    EXPECT_EQ(list.main, QStringLiteral("b"));
    EXPECT_EQ(list.reserves, (QStringList{"a", "main", "c"}));
    EXPECT_EQ(list.selected, 1);

    // With no main address the entry moves up and leaves no blank row behind.
    ServerAddressList empty{QString(), {"a", "b"}, 1};
    dialogs.setNextAnswer(mrYes);
    EXPECT_TRUE(pc::setMainServerAddress(empty, dialogs));
    EXPECT_EQ(empty.main, QStringLiteral("b"));
    EXPECT_EQ(empty.reserves, QStringList{"a"});
    EXPECT_EQ(empty.selected, 0);
}
