#include "GuiTest.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"
#include "DbfWriter.h"
#include "OtherConnection.h"

#include "app/MainForm.h"
#include "app/MessagePane.h"
#include "app/SettingsFiles.h"
#include "db/DataModule.h"
#include "platform/IniFile.h"
#include "platform/WholeFile.h"
#include "ui/IdentityDialog.h"
#include "ui_MainForm.h"

#include <QLineEdit>
#include <QPushButton>
#include <QListWidget>
#include <QLocale>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <cerrno>
#include <map>

namespace {

struct SettingsFixture : ::testing::Test {
    TempAppDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<TMainForm> form;
    int restarts = 0;

    void SetUp() override { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void TearDown() override
    {
        if (form)
            form->closeWithoutAsking = true;
        form.reset();
        QLocale::setDefault(QLocale::c());
        EXPECT_FALSE(dialogs.answersLeft()) << "a question that was expected was not asked";
    }
    // A fresh start of the program on the folder: a new window, the settings loaded.
    TMainForm &start()
    {
        if (form)
            form->closeWithoutAsking = true;
        form = std::make_unique<TMainForm>(dir.path());
        form->setDialogs(&dialogs);
        form->startLauncher = [this](QString &) {
            ++restarts;
            return true;
        };
        form->LoadSettings();
        form->SetSettingsModified(false);
        return *form;
    }
    void serverIni(const QString &main = "ftp.example.ru")
    {
        dir.writeText("server.ini", "[Header]\nServerAdress=" + main + "\n");
    }
    pc::IniFile client() const { return pc::IniFile(dir.file("client.ini")); }
    // How often a text was told, alone or as a line of a notice that tells several.
    qsizetype told(const QString &text) const { return dialogs.notices.join('\n').split('\n').count(text); }
    QString cellText(QTableWidget *grid, int row) { return grid->item(row, 1) ? grid->item(row, 1)->text() : QString(); }
};

} // namespace

TEST_F(SettingsFixture, DeliveryAddressesFromNumberedSectionsWithGapsAndDefaultSelection)
{
    serverIni();
    dir.writeText("client.ini", "[Header]\nClientCode= 1234 \nDefaultAddress=ул. садовая, 7\n"
                                "[Address2]\nCode=A2\nAddress=ул. Ленина, 2\n"
                                "[Address7]\nCode=A7\nAddress=Ул. Садовая, 7\n");
    TMainForm &f = start();
    EXPECT_EQ(f.settings.ClientCode, "1234");
    ASSERT_EQ(f.ui->cbAddresses->count(), 2);
    EXPECT_EQ(f.ui->cbAddresses->currentText(), "Ул. Садовая, 7");
    EXPECT_EQ(f.settings.selectedAddressCode(), "A7");

    // The default address vanished: the first entry.
    client().eraseSection("Address7");
    start();
    EXPECT_EQ(form->ui->cbAddresses->count(), 1);
    EXPECT_EQ(form->ui->cbAddresses->currentText(), "ул. Ленина, 2");

    // No address sections: the main address entry with the client code.
    client().eraseSection("Address2");
    start();
    ASSERT_EQ(form->ui->cbAddresses->count(), 1);
    EXPECT_EQ(form->ui->cbAddresses->currentText(), "--ОСНОВНОГО АДРЕСА--");
    EXPECT_EQ(form->settings.selectedAddressCode(), "1234");
}

TEST_F(SettingsFixture, AddressEditorWritesSectionsAtOnce)
{
    serverIni();
    dir.writeText("client.ini", "[Header]\nClientCode=1234\n");
    TMainForm &f = start();
    dialogs.setNextInput("Аптека на Мира, 5");
    dialogs.setNextInput("M5");
    f.btnAddAddressClick();
    ASSERT_EQ(f.ui->cbAddresses->count(), 1); // replaces the main-address entry
    EXPECT_EQ(f.ui->cbAddresses->itemText(0), "Аптека на Мира, 5");
    EXPECT_EQ(client().readString("Address1", "Code"), "M5");

    dialogs.setNextInput("Аптека на Гагарина");
    dialogs.setNextInput("G1");
    f.btnAddAddressClick();
    f.ui->lstDeliveryAddresses->setCurrentCell(1, 0);
    dialogs.setNextInput("Аптека на Гагарина, 1");
    dialogs.setNextInput("G1");
    f.btnEditAddressClick();
    EXPECT_EQ(client().readString("Address2", "Address"), "Аптека на Гагарина, 1");
    EXPECT_EQ(f.ui->cbAddresses->itemText(1), "Аптека на Гагарина, 1");

    f.ui->lstDeliveryAddresses->setCurrentCell(0, 0);
    dialogs.setNextAnswer(mrYes);
    f.btnRemoveAddressClick();
    EXPECT_FALSE(client().sectionExists("Address1"));
    EXPECT_EQ(f.ui->cbAddresses->count(), 1);
    // The next start sees the same list.
    start();
    EXPECT_EQ(form->ui->cbAddresses->itemText(0), "Аптека на Гагарина, 1");
    // A choice is remembered at once.
    form->ui->cbAddresses->setCurrentIndex(0);
    dialogs.setNextInput("Третья");
    dialogs.setNextInput("T3");
    form->btnAddAddressClick();
    form->ui->cbAddresses->setCurrentIndex(1);
    EXPECT_EQ(client().readString("Header", "DefaultAddress"), "Третья");
}

TEST_F(SettingsFixture, MissingServerIniGivesOneEmptyAddressAndTheNotice)
{
    TMainForm &f = start();
    EXPECT_EQ(f.settings.ServerAddresses.size(), 1);
    EXPECT_EQ(f.settings.ServerPort, 21);
    EXPECT_EQ(told("Не задан адрес сервера. Обратитесь к поставщику!"), 1);
    EXPECT_EQ(f.settings.ClientAccount.user, "NonameClient");
    EXPECT_EQ(f.settings.OrderAccount.user, "Order");
    EXPECT_TRUE(f.ui->edSupplierName->text().isEmpty());
    EXPECT_TRUE(dir.exists("Orders") && dir.exists("Update") && dir.exists("Data/NakladOther"));
    EXPECT_EQ(f.ui->edPriceAptekaPercent->text(), "15");
    EXPECT_EQ(f.ui->cbRoundMethod->currentIndex(), 0);

    serverIni();
    dir.writeText("server.ini", "[Header]\nServerAdress=main\nServerPort=2121\n[ReserveServerAddress3]\nServerAdress=r3\n");
    dir.writeText("client.ini", "[Header]\nClientCode=77\nClientPass=secret\n");
    dialogs.notices.clear();
    start();
    EXPECT_EQ(form->settings.ServerAddresses.size(), 10);
    EXPECT_EQ(form->settings.ServerAddresses[3], "r3");
    EXPECT_EQ(form->settings.ServerPort, 2121);
    EXPECT_EQ(form->ui->lbServerAddresses->count(), 1);
    EXPECT_EQ(form->ui->edSupplierName->text(), "ВОРН");
    EXPECT_FALSE(dialogs.notices.contains("Не задан адрес сервера. Обратитесь к поставщику!"));
    EXPECT_EQ(form->settings.ClientAccount, (FtpAccount{"77", "secret"}));
    EXPECT_EQ(form->settings.PriceArchiveName, "77.arc");
}

TEST_F(SettingsFixture, MarkupCellsEmptyKeptAndJunkRefused)
{
    serverIni();
    dir.writeText("client.ini", "[MaxGVNacen]\nMaxNacen1=25\nMaxNacen2=-1\nMaxNacen3=10,5\n");
    TMainForm &f = start();
    EXPECT_EQ(cellText(f.ui->lstGVNac, 0), "25");
    EXPECT_EQ(cellText(f.ui->lstGVNac, 1), "");
    EXPECT_EQ(cellText(f.ui->lstGVNac, 2), "10,5");

    f.ui->lstGVNac->item(0, 1)->setText("abc");
    f.ui->lstGVNac->item(2, 1)->setText("12,25");
    EXPECT_TRUE(f.SettingsModified);
    f.SaveSettings();
    EXPECT_EQ(client().readString("MaxGVNacen", "MaxNacen1"), "25");
    EXPECT_EQ(client().readString("MaxGVNacen", "MaxNacen2"), "-1");
    EXPECT_EQ(client().readString("MaxGVNacen", "MaxNacen3"), "12,25");
    const QStringList markupNotices = dialogs.notices.filter("максимальных наценок");
    ASSERT_EQ(markupNotices.size(), 1);
    EXPECT_EQ(markupNotices[0], "В строке \"До 50 р.\" максимальных наценок неверно указан процент \"abc\".\r\n"
                                  "Дробные числа должны быть указаны через \",\"");
}

TEST_F(SettingsFixture, DriverSwitchRestartsAndTheNextStartAsksAboutTheImport)
{
    serverIni();
    dir.writeText("client.ini", "[Header]\nDBDriver=0\n");
    TMainForm &f = start();
    EXPECT_EQ(f.settings.DriverAtLoad, 0);
    f.ui->rgDBDriver->setItemIndex(2);
    f.rgDBDriverClick();
    EXPECT_TRUE(f.RestartNeeded);
    EXPECT_TRUE(f.windowTitle().startsWith("! "));
    f.SaveSettings();
    EXPECT_TRUE(dialogs.notices.contains("Для вступления настроек в силу программа будет перезапущена"));
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(client().readInteger("Header", "DBDriverChanged", 0), 1);

    // The import asked for fails (no old files): the mark stays, and the
    // next start offers it again, as after a crash during it.
    const QString offer = "Внимание! Был изменен формат базы данных. Рекомендуется произвести импорт существующих "
                          "данных из  старого формата DBF. Продолжить ?";
    dialogs.setNextAnswer(mrYes);
    start();
    EXPECT_EQ(dialogs.questions.last(), offer);
    EXPECT_TRUE(form->settings.ImportRequested);
    EXPECT_TRUE(dialogs.notices.contains("Ошибка при импорте (см. в нижнем окне)"));
    EXPECT_EQ(client().readInteger("Header", "DBDriverChanged", 9), 1);
    // Now the old tables are there: the import commits and the mark goes.
    pc::test::DbfWriter orders;
    orders.addField("ID", 'N', 10).addField("STATUS", 'N', 2).addField("SUMMA", 'N', 12, 2).addField("COMMENT", 'C', 100);
    orders.addRecord({5, 1, 12.5, QStringLiteral("Срочно")});
    orders.save(dir.file("Data/ORDERS.dbf"));
    pc::test::DbfWriter lines;
    lines.addField("IDNAKL", 'N', 10).addField("IDTOVAR", 'C', 14).addField("COUNT", 'N', 8);
    lines.addRecord({5, QStringLiteral("100"), 3});
    lines.save(dir.file("Data/ORDERSL.dbf"));
    pc::test::DbfWriter naklad;
    naklad.addField("ID", 'N', 10).addField("READ", 'N', 1);
    naklad.save(dir.file("Data/NAKLAD.dbf"));
    pc::test::DbfWriter nakladLines;
    nakladLines.addField("ID", 'N', 10).addField("IDTOVAR", 'C', 14).addField("COUNT", 'N', 8);
    nakladLines.save(dir.file("Data/NAKLADL.dbf"));
    dialogs.setNextAnswer(mrYes);
    start();
    EXPECT_EQ(dialogs.questions.last(), offer);
    EXPECT_TRUE(dialogs.notices.contains("Импорт завершен"));
    EXPECT_EQ(pc::test::committedScalar(dir.file("Data/client.gdb"), "SELECT COUNT(1) FROM ORDERS WHERE ID = 5"), 1);
    EXPECT_EQ(client().readInteger("Header", "DBDriverChanged", 9), 0);

    // Back from 2 to 0: a restart, but no import question next time.
    form->ui->rgDBDriver->setItemIndex(0);
    form->rgDBDriverClick();
    form->SaveSettings();
    EXPECT_EQ(restarts, 2);
    const int asked = int(dialogs.questions.size());
    dialogs.notices.clear();
    start();
    EXPECT_EQ(dialogs.questions.size(), asked);
    // Kind 0 is refused on this system: the program says so, works on the
    // embedded database, and the page shows that one, not the refused kind.
    EXPECT_EQ(dialogs.notices.filter("Формат базы данных \"ODBC\" на этой системе не поддерживается").size(), 1);
    EXPECT_EQ(form->settings.DBDriver, 2);
    EXPECT_EQ(form->ui->rgDBDriver->itemIndex(), 2);
    EXPECT_FALSE(form->RestartNeeded);
}

// «Импортировать данные из DBF» on the database page runs the import of the
// older data with its questions: whether to import, whether to archive the
// current order first.
TEST_F(SettingsFixture, ImportButtonMovesTheOlderDataInAfterItsQuestions)
{
    serverIni();
    TMainForm &f = start();
    pc::test::DbfWriter orders;
    orders.addField("ID", 'N', 10).addRecord({5});
    orders.save(dir.file("Data/ORDERS.dbf"));
    pc::test::DbfWriter lines;
    lines.addField("IDNAKL", 'N', 10).addField("IDTOVAR", 'C', 14).addField("COUNT", 'N', 8).addRecord({5, QStringLiteral("100"), 3});
    lines.save(dir.file("Data/ORDERSL.dbf"));
    pc::test::DbfWriter empty;
    empty.addField("ID", 'N', 10);
    empty.save(dir.file("Data/NAKLAD.dbf"));
    empty.save(dir.file("Data/NAKLADL.dbf"));
    f.DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('1', 'Аспирин', '01.01.2027', 10, 2, 10)", true);
    QPushButton *button = f.ui->btnImportDbfData;
    EXPECT_EQ(button->text(), "Импортировать данные из DBF");
    EXPECT_TRUE(f.ui->TabSheet2->isAncestorOf(button));

    // An import still owed since a storage change (an earlier one failed):
    // kept while nothing was imported, settled by the button's import.
    client().writeInteger("Header", "DBDriverChanged", 1);
    const qsizetype asked = dialogs.questions.size();
    dialogs.setNextAnswer(mrNo);
    button->click();
    ASSERT_EQ(dialogs.questions.size(), asked + 1);
    EXPECT_EQ(dialogs.questions.last(), "Импортировать накладные и архив заявок из базы данных DBF?");
    EXPECT_EQ(pc::test::committedScalar(dir.file("Data/client.gdb"), "SELECT COUNT(1) FROM ORDERS"), 0);
    EXPECT_EQ(client().readInteger("Header", "DBDriverChanged", 0), 1);

    dialogs.setNextAnswer(mrYes);
    dialogs.setNextAnswer(mrNo); // the current order stays as it is
    button->click();
    ASSERT_EQ(dialogs.questions.size(), asked + 3);
    EXPECT_EQ(dialogs.questions.last(), "Сохранить текущую заявку в архив без отправки ?");
    ASSERT_FALSE(dialogs.notices.isEmpty());
    EXPECT_EQ(dialogs.notices.last(), "Импорт завершен");
    EXPECT_EQ(pc::test::committedScalar(dir.file("Data/client.gdb"), "SELECT COUNT(1) FROM ORDERS WHERE ID = 5"), 1);
    EXPECT_EQ(pc::test::committedScalar(dir.file("Data/client.gdb"), "SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '1'"), 2);
    EXPECT_EQ(f.DM->OrdersSet()->RecordCount(), 1);
    EXPECT_EQ(client().readInteger("Header", "DBDriverChanged", 0), 0);
}

TEST_F(SettingsFixture, ChangedMainAddressIsConfirmedOrRestored)
{
    serverIni("new.example.ru");
    dir.writeText("client.ini", "[Header]\nControlAddressChange=1\n[Settings]\nServerAddress=old.example.ru\n");
    dialogs.setNextAnswer(mrNo);
    TMainForm &f = start();
    EXPECT_TRUE(dialogs.questions.last().startsWith("ВНИМАНИЕ! Был изменен основной адрес сервера заказа с old.example.ru на new.example.ru."));
    EXPECT_EQ(f.settings.ServerAddresses[0], "old.example.ru");
    EXPECT_EQ(pc::IniFile(dir.file("server.ini")).readString("Header", "ServerAdress"), "old.example.ru");

    serverIni("new.example.ru");
    dialogs.setNextAnswer(mrYes);
    start();
    EXPECT_EQ(form->settings.ServerAddresses[0], "new.example.ru");
    EXPECT_EQ(client().readString("Settings", "ServerAddress"), "new.example.ru");
    start(); // accepted: no second question
}

// A start without a client code asks for the identity once; what is given goes
// where the program reads it; the connection page edits it later, a new code
// only after the pharmacist confirms it.
TEST_F(SettingsFixture, FirstStartAsksTheIdentityAndTheConnectionPageChangesIt)
{
    int asked = 0;
    // The missing address is told only when the window did not give one.
    const QString noAddress = "Не задан адрес сервера. Обратитесь к поставщику!";
    qsizetype toldBeforeAsking = -1;
    auto startAsking = [&](bool accept) -> TMainForm & {
        if (form)
            form->closeWithoutAsking = true;
        form = std::make_unique<TMainForm>(dir.path());
        form->setDialogs(&dialogs);
        form->askIdentity = [&, accept](ClientIdentity &id) {
            toldBeforeAsking = told(noAddress);
            ++asked;
            id = {"7001", "Аптека №5", "секрет", "ftp.supplier.ru"};
            return accept;
        };
        form->LoadSettings();
        return *form;
    };
    TMainForm &cancelled = startAsking(false);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(toldBeforeAsking, 0);
    EXPECT_EQ(told(noAddress), 1);
    EXPECT_EQ(cancelled.settings.ClientCode, "");
    EXPECT_EQ(client().readString("Header", "ClientCode"), "");
    EXPECT_FALSE(dir.exists("server.ini"));

    TMainForm &f = startAsking(true);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(toldBeforeAsking, 1);
    EXPECT_EQ(told(noAddress), 1);
    EXPECT_EQ(f.settings.ClientCode, "7001");
    EXPECT_EQ(f.settings.ClientName, "Аптека №5");
    EXPECT_EQ(f.settings.ClientAccount.user, "7001");
    EXPECT_EQ(f.settings.ServerAddresses[0], "ftp.supplier.ru");
    EXPECT_EQ(client().readString("Header", "ClientPass"), "секрет");
    EXPECT_EQ(pc::IniFile(dir.file("server.ini")).readString("Header", "ServerAdress"), "ftp.supplier.ru");
    EXPECT_TRUE(f.windowTitle().contains("Код в системе 7001. Имя в системе Аптека №5"));
    EXPECT_EQ(f.ui->edClientCode->text(), "7001");
    EXPECT_EQ(f.ui->edServerPort->text(), "21");

    startAsking(true);
    EXPECT_EQ(asked, 2); // a known client is not asked again

    // The page: a new code is confirmed; refused, the old one stays.
    form->ui->edClientCode->setText("7002");
    form->ui->edServerPort->setText("2121");
    dialogs.setNextAnswer(mrNo);
    form->SaveSettings();
    EXPECT_TRUE(dialogs.questions.last().startsWith("ВНИМАНИЕ! Изменяется код клиента с 7001 на 7002."));
    EXPECT_EQ(client().readString("Header", "ClientCode"), "7001");
    EXPECT_EQ(form->ui->edClientCode->text(), "7001");
    EXPECT_EQ(pc::IniFile(dir.file("server.ini")).readInteger("Header", "ServerPort", 0), 2121);
    form->ui->edClientCode->setText("7002");
    dialogs.setNextAnswer(mrYes);
    form->SaveSettings();
    EXPECT_EQ(client().readString("Header", "ClientCode"), "7002");
    EXPECT_EQ(form->settings.ClientAccount.user, "7002");
    EXPECT_TRUE(form->windowTitle().contains("Код в системе 7002."));
}

// A new client's first start through the window's own activation: the
// identity window comes before any notice, shows the address server.ini
// holds, and what is still missing afterwards is told once, in one notice.
TEST_F(SettingsFixture, FirstStartAsksTheIdentityBeforeAnyNoticeAndTellsWhatIsMissingOnce)
{
    const QString noPrice = "Не удалось открыть прайс. Попробуйте скачать новый";
    const QString noAddress = "Не задан адрес сервера. Обратитесь к поставщику!";
    QStringList noticesBefore{"not asked"};
    ClientIdentity shown;
    auto firstStart = [&](const ClientIdentity &given, bool accept) {
        if (form)
            form->closeWithoutAsking = true;
        dialogs.notices.clear();
        form = std::make_unique<TMainForm>(dir.path());
        form->setDialogs(&dialogs);
        form->askIdentity = [&, given, accept](ClientIdentity &id) {
            noticesBefore = dialogs.notices;
            shown = id;
            id = given;
            return accept;
        };
        form->show();
        form->FormActivate();
    };

    serverIni("ftp.supplier.ru");
    firstStart({"7001", "Аптека №5", "секрет", "ftp.supplier.ru"}, true);
    EXPECT_EQ(noticesBefore.join(" | ").toStdString(), "");
    EXPECT_EQ(shown.serverAddress, "ftp.supplier.ru");
    EXPECT_EQ(shown.code, "");
    EXPECT_EQ(dialogs.notices.join(" | ").toStdString(), noPrice.toStdString());
    EXPECT_TRUE(form->Initialised);

    // Cancelled without server.ini: both gaps in one notice.
    QFile::remove(dir.file("server.ini"));
    QFile::remove(dir.file("client.ini"));
    firstStart({}, false);
    EXPECT_EQ(noticesBefore.join(" | ").toStdString(), "");
    EXPECT_EQ(shown.serverAddress, "");
    EXPECT_EQ(dialogs.notices.join(" | ").toStdString(), QString(noAddress + "\n" + noPrice).toStdString());
}

TEST_F(SettingsFixture, PrintColumnKeysFollowTheProducerPriceOption)
{
    serverIni();
    TMainForm &f = start();
    ASSERT_EQ(f.ui->clbNaklVisibleColumns->count(), 18);
    EXPECT_EQ(f.ui->clbNaklVisibleColumns->item(12)->text(), "Ц.пр-ля б/НДС");
    EXPECT_EQ(f.ui->clbNaklVisibleColumns->item(3)->checkState(), Qt::Unchecked);
    EXPECT_EQ(f.ui->clbNaklVisibleColumns->item(16)->text(), "%нац.от пр-ля ");
    EXPECT_EQ(f.ui->clbNaklVisibleColumns->item(16)->checkState(), Qt::Unchecked);
    f.SaveSettings();
    EXPECT_TRUE(client().valueExists("NakladPrintColumns", "Ц.пр-ля б/НДС"));
    EXPECT_EQ(client().readString("NakladPrintColumns", "Страна"), "0");

    f.ui->chkCalcPricePrWithNDS->setChecked(true);
    f.SaveSettings();
    start();
    EXPECT_EQ(form->ui->clbNaklVisibleColumns->item(12)->text(), "Ц.пр-ля с НДС");
    EXPECT_TRUE(client().valueExists("NakladPrintColumns", "Ц.пр-ля б/НДС")); // until the next save
    form->SaveSettings();
    EXPECT_FALSE(client().valueExists("NakladPrintColumns", "Ц.пр-ля б/НДС"));
    EXPECT_TRUE(client().valueExists("NakladPrintColumns", "Ц.пр-ля с НДС"));
}

TEST_F(SettingsFixture, ResetKeepsIdentityMovesTheRestAndRestarts)
{
    serverIni();
    dir.writeText("client.ini", "[Header]\nClientName=Аптека\nClientCode=55\nClientPass=pw\nFTPPassive=0\n[Price]\nAptekaPercent=200\n");
    TMainForm &f = start();
    dialogs.setNextAnswer(mrYes);
    f.btnDefaultSettingsClick();
    EXPECT_EQ(restarts, 1);
    EXPECT_TRUE(dir.readText("bkclient.ini").contains("AptekaPercent=200"));
    EXPECT_EQ(dir.readText("client.ini"), "[Header]\nClientName=Аптека\nClientCode=55\nClientPass=pw\n");
    EXPECT_TRUE(dir.exists("server.ini"));
    start();
    EXPECT_EQ(form->ui->edPriceAptekaPercent->text(), "15");
    EXPECT_TRUE(form->settings.FTPPassive);
}

TEST_F(SettingsFixture, RoundTripOfEveryControlKeepsOtherLines)
{
    serverIni();
    dir.writeText("client.ini", "[Header]\nClientCode=1\nCustom=keep me\n[Foreign]\nX=1\n");
    dir.writeText("exchange.ini", "[Order]\nFileNameOrder=order.dbf\n[Other]\nY=2\n");
    TMainForm &f = start();
    auto *ui = f.ui;
    ui->chkLeaveDocsOnServer->setChecked(true);
    ui->cbOrientation->setCurrentIndex(1);
    ui->cbFontSize->setCurrentIndex(2);
    ui->clbNaklVisibleColumns->item(0)->setCheckState(Qt::Unchecked);
    ui->edNakladFolder->setText(dir.file("Nakl"));
    ui->edSupplierName->setText("Поставщик-2");
    ui->edPriceTagsCount->setText("5");
    ui->edPriceTagsFields->setText("12");
    ui->cbFontSizePriceTags->setCurrentIndex(1);
    ui->lstGVNac->item(1, 1)->setText("20");
    ui->chkCalcPricePrWithNDS->setChecked(true);
    ui->edFolderOrderImport->setText("/import");
    ui->chkDeleteOrderImport->setChecked(false);
    ui->edFileNameOrder->setText("zakaz.dbf");
    ui->lstColumnsOrderCorrespodence->item(0, 1)->setText("KOD");
    ui->lstColumnsOrderCorrespodence->item(1, 1)->setText("KOL");
    ui->rgOrderProtocol->setItemIndex(1);
    ui->rgDownloadPriceProtocol->setItemIndex(0);
    ui->chkFtpMode->setChecked(false);
    ui->chkFtpRequireTls->setChecked(true);
    ui->edServerAddress->setText("second.example.ru");
    ui->lbServerAddresses->addItem("reserve1");
    ui->chkAskSendLog->setChecked(true);
    ui->chkControlAddressChange->setChecked(true);
    ui->chkBugFixTypeDB->setCheckState(Qt::PartiallyChecked);
    dialogs.setNextAnswer(mrYes); // create the invoice folder
    f.SaveSettings();
    EXPECT_TRUE(dir.exists("Nakl"));

    const Settings saved = f.settings;
    // No question about the new main address: none was accepted before.
    start();
    const Settings &s = form->settings;
    EXPECT_TRUE(s.LeaveDocsOnServer);
    EXPECT_EQ(s.PrinterOrientation, 1);
    EXPECT_EQ(s.NakladFontSize, 2);
    EXPECT_FALSE(s.NakladPrintColumns[0].visible);
    EXPECT_EQ(s.NakladFolder, dir.file("Nakl"));
    EXPECT_EQ(s.SupplierName, "Поставщик-2");
    EXPECT_EQ(s.PriceTagsCount, 5);
    EXPECT_EQ(s.PriceTagsFields, 12);
    EXPECT_EQ(s.PriceTagsFontSize, 1);
    EXPECT_EQ(s.MaxNacen[1], 20);
    EXPECT_TRUE(s.CalcPriceProducerWithNDS);
    EXPECT_EQ(s.FolderOrderImport, "/import");
    EXPECT_FALSE(s.DeleteOrderImport);
    EXPECT_EQ(s.FileNameOrder, "zakaz.dbf");
    EXPECT_EQ(s.ColumnCode, "KOD");
    EXPECT_EQ(s.ColumnQnt, "KOL");
    EXPECT_EQ(s.PutOrderMethod, 1);
    EXPECT_EQ(s.GetPriceMethod, 0);
    EXPECT_FALSE(s.FTPPassive);
    EXPECT_TRUE(s.FTPRequireTLS);
    EXPECT_TRUE(dir.readText("client.ini").contains("FTPRequireTLS=1"));
    EXPECT_TRUE(form->ui->chkFtpRequireTls->isChecked());
    EXPECT_EQ(s.ServerAddresses[0], "second.example.ru");
    EXPECT_EQ(s.ServerAddresses[1], "reserve1");
    EXPECT_TRUE(s.AskSendLog);
    EXPECT_TRUE(s.ControlAddressChange);
    EXPECT_EQ(s.DBBugFixType, 2);
    EXPECT_EQ(saved.ServerAddresses, s.ServerAddresses);
    EXPECT_EQ(client().readString("Header", "Custom"), "keep me");
    EXPECT_EQ(client().readString("Foreign", "X"), "1");
    EXPECT_EQ(pc::IniFile(dir.file("exchange.ini")).readString("Other", "Y"), "2");
}

// A reserve address removed on the page is gone from server.ini after saving;
// a save without a change that needs one does not restart the program.
TEST_F(SettingsFixture, RemovedReserveAddressIsSavedWithoutARestart)
{
    dir.writeText("server.ini", "[Header]\nServerAdress=main\n[ReserveServerAddress1]\nServerAdress=r1\n"
                                "[ReserveServerAddress2]\nServerAdress=r2\n");
    TMainForm &f = start();
    ASSERT_EQ(f.ui->lbServerAddresses->count(), 2);
    f.ui->lbServerAddresses->setCurrentRow(1);
    dialogs.setNextAnswer(mrYes);
    f.btnRemoveServAddrClick();
    EXPECT_EQ(dialogs.questions.last(), "Вы уверены, что хотите удалить резервный адрес r2 ?");
    f.SaveSettings();
    EXPECT_EQ(restarts, 0);
    const pc::IniFile server(dir.file("server.ini"));
    EXPECT_FALSE(server.sectionExists("ReserveServerAddress2"));
    EXPECT_EQ(server.readString("ReserveServerAddress1", "ServerAdress"), "r1");
    start();
    EXPECT_EQ(form->ui->lbServerAddresses->count(), 1);
    EXPECT_EQ(form->settings.ServerAddresses[2], "");
}

TEST_F(SettingsFixture, SettingsWrittenAtOnceAndLeavingThePageAsks)
{
    serverIni();
    TMainForm &f = start();
    f.ui->cbRoundMethod->setCurrentIndex(3);
    EXPECT_EQ(client().readInteger("NakladSettings", "RoundMethod", 0), 3);
    EXPECT_EQ(f.ui->cbRoundMethod->itemText(1), "Окрулять до 5 коп.");
    f.ui->udPriceAptekaPercent->step(TUpDown::Up);
    EXPECT_EQ(f.ui->edPriceAptekaPercent->text(), "15,1");
    EXPECT_EQ(client().readInteger("Price", "AptekaPercent", 0), 151);
    f.ui->edPriceAptekaPercent->setText("12,34");
    f.edPriceAptekaPercentChange();
    EXPECT_EQ(f.ui->udPriceAptekaPercent->position(), 123);
    EXPECT_EQ(f.ui->edPriceAptekaPercent->text(), "12,3");
    EXPECT_EQ(client().readInteger("Price", "AptekaPercent", 0), 151); // only the arrows store it
    f.ui->edPriceAptekaPercent->setText("пятнадцать");
    f.edPriceAptekaPercentChange();
    EXPECT_TRUE(f.messagePane().lines().last().endsWith("\"пятнадцать\" не является числом (необработанная ошибка)"));
    EXPECT_FALSE(f.SettingsModified);

    f.ui->pgcMain->setCurrentWidget(f.ui->tsSettings);
    f.ui->edSupplierName->setText("X");
    f.rgOrderProtocolClick();
    EXPECT_TRUE(f.ui->btnSaveSettings->isEnabled());
    EXPECT_TRUE(f.windowTitle().startsWith("* "));
    dialogs.setNextAnswer(mrNo);
    f.ui->pgcMain->setCurrentWidget(f.ui->tsHome);
    EXPECT_EQ(dialogs.questions.last(), "Настройки изменились, сохранить?");
    EXPECT_FALSE(f.SettingsModified);
    EXPECT_FALSE(f.ui->btnSaveSettings->isEnabled());
    EXPECT_EQ(f.ui->edSupplierName->text(), "X"); // the page keeps what was typed
}

TEST_F(SettingsFixture, RestartThatCannotStartTheLauncherSaysSoAndKeepsRunning)
{
    serverIni();
    TMainForm &f = start();
    f.startLauncher = [](QString &error) {
        error = "нет файла vorn";
        return false;
    };
    f.RestartProgram();
    EXPECT_FALSE(f.restartRequested);
    ASSERT_FALSE(dialogs.notices.isEmpty());
    EXPECT_TRUE(dialogs.notices.last().contains("нет файла vorn"));
}

TEST_F(SettingsFixture, UnwritableClientIniIsReportedAndStartUpGoesOn)
{
    serverIni();
    QDir(dir.path()).mkpath("client.ini"); // a folder where the file should be: no write can succeed
    TMainForm &f = start();
    EXPECT_EQ(f.settings.AptekaPercent, 150);
    // A plain start writes nothing to client.ini, so it has nothing to report.
    const QStringList lines = f.messagePane().lines();
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const QString &l) { return l.contains("ОШИБКА!: Не удалось записать файл"); }));
    // A setting written at once fails with a message (the application's
    // handler shows it) and keeps the value in memory.
    EXPECT_THROW(f.ui->cbRoundMethod->setCurrentIndex(2), pc::AppError);
    EXPECT_EQ(f.settings.RoundMethod, 2);
}

namespace {
// The three settings files as they are at one moment.
struct SettingsFilesState {
    QString client, server, exchange;
};
SettingsFilesState settingsFiles(const TempAppDir &dir)
{
    return {dir.readText("client.ini"), dir.readText("server.ini"), dir.readText("exchange.ini")};
}
// Records, before every rename of a settings file, the files as a kill at
// that moment would leave them, and how often each file was written.
struct KillPoints {
    std::vector<SettingsFilesState> states;
    std::map<QString, int> writes;
    explicit KillPoints(const TempAppDir &dir)
    {
        pc::setFileFaultHook([this, &dir](pc::FileStep step, const QString &target, qint64) {
            if (step == pc::FileStep::Rename && target.endsWith(".ini")) {
                states.push_back(settingsFiles(dir));
                ++writes[QFileInfo(target).fileName()];
            }
            return 0;
        });
    }
    ~KillPoints() { pc::setFileFaultHook({}); }
};
} // namespace

// «Сохранить настройки» writes each settings file once, whole: wherever it is
// killed, every file is all old or all new, so the server's new address never
// meets the old port, nor the new FTP keys the old password. A save that cannot
// write says so and keeps the page marked as changed.
TEST_F(SettingsFixture, SettingsSaveWritesEachFileOnceSoAKillLeavesOldOrNew)
{
    dir.writeText("server.ini", "[Header]\nServerAdress=old.example.ru\nServerPort=21\nSupplierName=ВОРН\n");
    dir.writeText("client.ini", "[Header]\nClientCode=55\nClientName=Аптека\nClientPass=old\nFTPPassive=1\n");
    dir.writeText("exchange.ini", "[Order]\nFileNameOrder=order.dbf\n");
    TMainForm &f = start();
    const SettingsFilesState before = settingsFiles(dir);
    f.ui->edServerAddress->setText("new.example.ru");
    f.ui->edServerPort->setText("2121");
    f.ui->edClientPass->setText("new");
    f.ui->chkFtpMode->setChecked(false);
    f.ui->lstGVNac->item(0, 1)->setText("25");
    f.ui->edFileNameOrder->setText("zakaz.dbf");
    {
        KillPoints kills(dir);
        f.SaveSettings();
        EXPECT_EQ(kills.writes, (std::map<QString, int>{{"client.ini", 1}, {"exchange.ini", 1}, {"server.ini", 1}}));
        const SettingsFilesState after = settingsFiles(dir);
        ASSERT_NE(after.server, before.server);
        ASSERT_NE(after.client, before.client);
        ASSERT_NE(after.exchange, before.exchange);
        for (const SettingsFilesState &at : kills.states) {
            EXPECT_TRUE(at.server == before.server || at.server == after.server) << at.server.toStdString();
            EXPECT_TRUE(at.client == before.client || at.client == after.client) << at.client.toStdString();
            EXPECT_TRUE(at.exchange == before.exchange || at.exchange == after.exchange);
        }
    }
    EXPECT_TRUE(dir.readText("server.ini").contains("ServerAdress=new.example.ru\nServerPort=2121"));
    EXPECT_FALSE(f.SettingsModified);

    // A full disk: said, nothing of client.ini changed, the page still marked.
    const QString clientBefore = dir.readText("client.ini");
    f.ui->edClientPass->setText("newer");
    f.SetSettingsModified(true);
    pc::setFileFaultHook([](pc::FileStep step, const QString &target, qint64) {
        return step == pc::FileStep::Write && target.endsWith("client.ini") ? ENOSPC : 0;
    });
    f.SaveSettings();
    pc::setFileFaultHook({});
    EXPECT_EQ(dir.readText("client.ini"), clientBefore);
    EXPECT_TRUE(f.SettingsModified);
    ASSERT_FALSE(dialogs.notices.isEmpty());
    EXPECT_TRUE(dialogs.notices.last().startsWith("Настройки не сохранены: ")) << dialogs.notices.last().toStdString();
    EXPECT_TRUE(dialogs.notices.last().contains("на диске нет места"));
}

// The identity window writes each file once. A save cut off between them, or
// an identity an earlier version left without name or address, brings the
// window back at the next start with what is known filled in; a start on a
// full disk never empties client.ini.
TEST_F(SettingsFixture, IdentityIsWrittenWholeAndAskedAgainForWhatIsMissing)
{
    QList<ClientIdentity> shown;
    ClientIdentity answer{"7001", "Аптека №5", "секрет", "ftp.supplier.ru"};
    auto startAsking = [&]() -> TMainForm & {
        if (form)
            form->closeWithoutAsking = true;
        form = std::make_unique<TMainForm>(dir.path());
        form->setDialogs(&dialogs);
        form->askIdentity = [&](ClientIdentity &id) {
            shown << id;
            id = answer;
            return true;
        };
        form->LoadSettings();
        return *form;
    };
    // Cut off after server.ini: the client file is not written.
    pc::setFileFaultHook([](pc::FileStep step, const QString &target, qint64) {
        return step == pc::FileStep::Rename && target.endsWith("client.ini") ? ENOSPC : 0;
    });
    startAsking();
    pc::setFileFaultHook({});
    EXPECT_EQ(client().readString("Header", "ClientCode"), "");
    ASSERT_EQ(shown.size(), 1);
    {
        KillPoints kills(dir);
        startAsking();
        EXPECT_EQ(kills.writes, (std::map<QString, int>{{"client.ini", 1}, {"server.ini", 1}}));
    }
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[1].serverAddress, "ftp.supplier.ru"); // what is known is shown again
    EXPECT_EQ(shown[1].code, "");
    {
        KillPoints kills(dir);
        startAsking(); // complete now: not asked
        EXPECT_TRUE(kills.writes.empty());
    }
    EXPECT_EQ(shown.size(), 2);
    EXPECT_EQ(client().readString("Header", "ClientName"), "Аптека №5");

    // Left by an older save: the code without the name.
    dir.writeText("client.ini", "[Header]\nClientCode=7001\nDBDriverChanged=0\n");
    answer = {"7001", "Аптека №6", "", ""};
    {
        KillPoints kills(dir);
        startAsking();
        EXPECT_EQ(kills.writes, (std::map<QString, int>{{"client.ini", 1}}));
    }
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[2].code, "7001");
    EXPECT_EQ(shown[2].serverAddress, "ftp.supplier.ru");
    EXPECT_EQ(form->settings.ClientName, "Аптека №6");

    // A start with no room on the disk leaves client.ini as it was.
    const QByteArray whole = dir.readBytes("client.ini");
    pc::setFileFaultHook([](pc::FileStep step, const QString &, qint64) { return step == pc::FileStep::Write ? ENOSPC : 0; });
    startAsking();
    pc::setFileFaultHook({});
    EXPECT_EQ(dir.readBytes("client.ini"), whole);
    EXPECT_EQ(form->settings.ClientCode, "7001");
}

// A reset on a full disk puts the settings back where they were instead of
// leaving the program without a client.ini, and does not restart.
TEST_F(SettingsFixture, ResetThatCannotWriteTheNewFileKeepsTheOldOne)
{
    serverIni();
    dir.writeText("client.ini", "[Header]\nClientName=Аптека\nClientCode=55\n[Price]\nAptekaPercent=200\n");
    TMainForm &f = start();
    const QByteArray before = dir.readBytes("client.ini");
    pc::setFileFaultHook([](pc::FileStep step, const QString &, qint64) { return step == pc::FileStep::Write ? ENOSPC : 0; });
    dialogs.setNextAnswer(mrYes);
    f.btnDefaultSettingsClick();
    pc::setFileFaultHook({});
    EXPECT_EQ(restarts, 0);
    EXPECT_EQ(dir.readBytes("client.ini"), before);
    ASSERT_FALSE(dialogs.notices.isEmpty());
    EXPECT_TRUE(dialogs.notices.last().startsWith("Ошибка сброса. Настройки не изменены: "));
    EXPECT_TRUE(dialogs.notices.last().contains("на диске нет места"));
}

// The identity window gives the code, name and address without the blanks
// typed around them (the password as typed), and they are stored so; the
// address it gave counts as accepted: the supplier's later change of it is
// questioned. A code typed with blanks on the connection page is stored
// without them too.
TEST_F(SettingsFixture, IdentityIsStoredWithoutBlanksAndItsAddressCountsAsAccepted)
{
    TdlgIdentity window;
    window.findChild<QLineEdit *>("edIdentityCode")->setText("  7001 ");
    window.findChild<QLineEdit *>("edIdentityName")->setText(" Аптека №5  ");
    window.findChild<QLineEdit *>("edIdentityPass")->setText(" секрет ");
    window.findChild<QLineEdit *>("edIdentityAddress")->setText(" ftp.supplier.ru ");
    const ClientIdentity given = window.identity();
    EXPECT_EQ(given.code, "7001");
    EXPECT_EQ(given.name, "Аптека №5");
    EXPECT_EQ(given.pass, " секрет ");
    EXPECT_EQ(given.serverAddress, "ftp.supplier.ru");

    dir.writeText("client.ini", "[Header]\nControlAddressChange=1\n");
    form = std::make_unique<TMainForm>(dir.path());
    form->setDialogs(&dialogs);
    form->askIdentity = [&given](ClientIdentity &id) {
        id = given;
        return true;
    };
    form->LoadSettings();
    EXPECT_EQ(form->settings.ClientCode, "7001");
    EXPECT_TRUE(dir.readBytes("client.ini").contains("ClientCode=7001\r\n")) << dir.readBytes("client.ini").toStdString();

    form->ui->edClientCode->setText(" 7002  ");
    dialogs.setNextAnswer(mrYes);
    form->SaveSettings();
    EXPECT_TRUE(dir.readBytes("client.ini").contains("ClientCode=7002\r\n")) << dir.readBytes("client.ini").toStdString();

    serverIni("ftp.other.ru"); // the supplier moves the server
    dialogs.setNextAnswer(mrNo);
    start();
    ASSERT_FALSE(dialogs.questions.isEmpty());
    EXPECT_TRUE(dialogs.questions.last().startsWith(
        "ВНИМАНИЕ! Был изменен основной адрес сервера заказа с ftp.supplier.ru на ftp.other.ru."))
        << dialogs.questions.last().toStdString();
    EXPECT_EQ(form->settings.ServerAddresses[0], "ftp.supplier.ru");
}
