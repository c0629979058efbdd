#include "GuiTest.h"
#include "WindowFixture.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"
#include "ProgramProcess.h"
#include "FtpTestServer.h"
#include "FreePort.h"
#include "DbfWriter.h"
#include "OtherConnection.h"

#include "app/MainForm.h"
#include "app/MessagePane.h"
#include "exchange/ServerConnection.h"
#include "db/DataModule.h"
#include "core/PriceMask.h"
#include "ui/DatasetModel.h"
#include "ui/PriceGridBinder.h"
#include "platform/AppError.h"
#include "platform/CodePage.h"
#include "platform/DesktopShortcut.h"
#include "platform/IniFile.h"
#include "platform/Process.h"
#include "platform/WholeFile.h"
#include "ui/BrowserWindow.h"
#include "ui/PopupWindow.h"
#include "ui/SplashWindow.h"
#include "ui_MainForm.h"

#include <QCheckBox>
#include <QDir>
#include <QTemporaryDir>
#include <QHeaderView>
#include <QLocale>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTextBlock>
#include <QTextEdit>
#include <QTest>
#include <QThread>
#include <QWheelEvent>
#include <QWindow>
#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

namespace {

struct MainFormFixture : WindowFixture {};

} // namespace

TEST_F(MainFormFixture, WindowHasItsPagesInRussianAndStartState)
{
    auto *ui = form->ui;
    ASSERT_EQ(ui->pgcMain->count(), 5);
    const QStringList captions = {"Начальная", "Заказ", "Архив заявок", "Дефектуры и накл-е", "Настройки"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ui->pgcMain->tabText(i), captions[i]);
    EXPECT_EQ(ui->pgcSettings->count(), 6);
    EXPECT_EQ(ui->pgcMain->currentWidget(), ui->tsHome);
    EXPECT_EQ(form->minimumSize(), QSize(833, 400));
    EXPECT_EQ(form->tmClear->interval(), 4000);
    EXPECT_FALSE(form->tmClear->isActive());
    EXPECT_TRUE(ui->Panel4->isHidden()); // no empty news strip while the start-up notices are open
    EXPECT_TRUE(ui->reMessages->isHidden());
    EXPECT_TRUE(ui->btnSendErrorLog->isHidden());
    EXPECT_FALSE(ui->chkDetailLog->isChecked());
    for (const char *name : {"dbgrdPrice", "cbAddresses", "edOrderComment", "OrdersGrid", "dbgNakladLines", "btnExit",
                             "btnGetDefecturesAndNaklad", "wbStartPage", "wbHome", "wbTopPanel", "udPriceAptekaPercent"})
        EXPECT_NE(form->findChild<QWidget *>(name), nullptr) << name;
}

// The goods name column of the price grid takes what the other columns leave
// of the grid, never less than 300 pixels: when they leave less it keeps 300
// and the grid scrolls; otherwise it fills the grid without a gap and grows
// by as much as the grid does, the other columns keeping their widths. The
// comment box follows the window.
TEST_F(MainFormFixture, ResizeSetsGridColumnAndCommentWidths)
{
    form->LoadSettings();
    form->show();
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    QTableView *grid = form->ui->dbgrdPrice;
    const auto widths = [grid] {
        QList<int> out;
        for (int c = 0; c < grid->model()->columnCount(); ++c)
            out << (grid->isColumnHidden(c) ? 0 : grid->columnWidth(c));
        return out;
    };
    const auto total = [](const QList<int> &w) { return std::accumulate(w.begin(), w.end(), 0); };
    // The window gets its new size through the platform: wait for the layout.
    const auto resizeTo = [&](int width, int comment) {
        form->resize(width, 700);
        return QTest::qWaitFor([&] { return form->ui->edOrderComment->width() == comment; }, 5000);
    };
    ASSERT_TRUE(resizeTo(1000, 610));
    ASSERT_GT(grid->model()->columnCount(), 2);
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), "Наименование");
    const QList<int> narrow = widths();
    EXPECT_EQ(narrow[1], 300);
    EXPECT_GT(total(narrow), grid->viewport()->width()) << "the other columns are not squeezed";

    ASSERT_TRUE(resizeTo(1200, 810));
    QCoreApplication::processEvents();
    const QList<int> wide = widths();
    EXPECT_GE(total(wide), grid->viewport()->width()) << "a gap after the last column";
    EXPECT_EQ(wide[1], std::max(300, grid->viewport()->width() - (total(wide) - wide[1])));
    for (int c = 0; c < wide.size(); ++c)
        if (c != 1)
            EXPECT_EQ(wide[c], narrow[c]) << "column " << c;
    // The box never holds the window wider than the screen.
    EXPECT_LE(form->minimumSizeHint().width(), 1024);
}

// The widths the program gives the columns itself (binding the grids, a new
// window size, the column that takes the rest) are not kept as the
// pharmacist's; a width the pharmacist drags is, at once.
TEST_F(MainFormFixture, OnlyDraggedColumnWidthsAreKept)
{
    form->LoadSettings();
    form->show();
    form->resize(1000, 700);
    form->FormResize();
    QCoreApplication::processEvents();
    form->resize(1300, 800);
    form->FormResize();
    QCoreApplication::processEvents();
    form->BindGrids();
    QCoreApplication::processEvents();
    // The changes mode shows the old price and quantity columns, and hides them again.
    form->priceBinder->SetShowOnlyOrder(true);
    QCoreApplication::processEvents();
    form->priceBinder->SetShowOnlyOrder(false);
    QCoreApplication::processEvents();
    const pc::IniFile client(dir.file("client.ini"));
    EXPECT_FALSE(client.sectionExists("GridColumns")) << dir.readBytes("client.ini").toStdString();
    form->ui->dbgrdPrice->horizontalHeader()->resizeSection(2, 222);
    EXPECT_EQ(client.readInteger("GridColumns", "dbgrdPrice.PRODUCT", 0), 222);
    form->resize(1000, 700);
    form->FormResize();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->ui->dbgrdPrice->columnWidth(2), 222);
}

// One wheel notch down over the price list moves it one row forward, one up
// one row back.
TEST_F(MainFormFixture, WheelOverThePriceGridMovesOneRowPerNotch)
{
    form->LoadSettings();
    for (const char *id : {"1", "2", "3"})
        form->DM->ExecSQL(QString("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('%1', 'Товар %1', "
                                  "'01.01.2027', 10, 0, 10)")
                              .arg(id),
                          true);
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    pc::Dataset *price = form->DM->PriceSet();
    price->First();
    auto wheel = [&](int delta) {
        QWidget *viewport = form->ui->dbgrdPrice->viewport();
        QWheelEvent e(QPointF(5, 5), viewport->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &e);
    };
    wheel(-120);
    EXPECT_EQ(price->FieldByName("IDTOVAR").AsString(), "2");
    wheel(-120);
    EXPECT_EQ(price->FieldByName("IDTOVAR").AsString(), "3");
    wheel(120);
    EXPECT_EQ(price->FieldByName("IDTOVAR").AsString(), "2");
}

TEST_F(MainFormFixture, AddressBoxMovesBetweenOrderAndDocumentPagesAndFilterFollowsThePage)
{
    form->show();
    auto *ui = form->ui;
    ui->pgcMain->setCurrentWidget(ui->tsDefectAndNakl);
    EXPECT_EQ(ui->cbAddresses->parentWidget(), ui->paDefAddress);
    EXPECT_EQ(ui->cbAddresses->width(), 320);
    EXPECT_TRUE(ui->edPriceFilter->isHidden());
    ui->pgcMain->setCurrentWidget(ui->tsOrder);
    EXPECT_EQ(ui->cbAddresses->parentWidget(), ui->paOrderAddress);
    EXPECT_EQ(ui->cbAddresses->width(), 280);
    EXPECT_FALSE(ui->edPriceFilter->isHidden());
    EXPECT_FALSE(ui->btnPriceFilterClear->isHidden());
    ui->pgcMain->setCurrentWidget(ui->tsArchDocuments);
    EXPECT_TRUE(ui->lblPriceFilter->isHidden());
}

TEST_F(MainFormFixture, ClosingAsksWithFocusOnNoAndOnlyYesCloses)
{
    form->show();
    dialogs.setNextAnswer(mrNo);
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    ASSERT_EQ(dialogs.questions.size(), 1);
    EXPECT_EQ(dialogs.questions[0], "Закрыть программу?");
    EXPECT_FALSE(dialogs.lastFocusYes);
    EXPECT_FALSE(dialogs.lastWithCancel);
    dialogs.setNextAnswer(mrCancel);
    EXPECT_FALSE(form->close());
    dialogs.setNextAnswer(mrYes);
    form->btnExitClick();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormFixture, UpdatePageIsShownOnceAtStartThenDeleted)
{
    dir.writeText("update.html", "<p>Что нового в версии</p>");
    form->show();
    QString seen;
    whenModalOpens([&](QWidget *w) {
        seen = form->frmBrowser->wbBrowser->toPlainText();
        EXPECT_EQ(w, form->frmBrowser);
        form->frmBrowser->BitBtn1->click();
    });
    form->FormActivate();
    EXPECT_TRUE(form->Initialised);
    EXPECT_TRUE(seen.contains("Что нового в версии"));
    EXPECT_FALSE(dir.exists("update.html"));
    // A second activation does nothing more.
    form->FormActivate();
    EXPECT_FALSE(dir.exists("update.html"));
}

TEST_F(MainFormFixture, TopStripAndBannerFollowTheirFiles)
{
    form->show();
    form->FormActivate();
    EXPECT_TRUE(form->ui->Panel4->isHidden());
    EXPECT_TRUE(form->ui->paHomeBanner->isHidden());
    dir.writeText("top.htm", "<b>Новости</b>");
    dir.writeText("banner.ini", "[Header]\nHomeBanner=Data\\banner.htm\n");
    dir.writeText("Data/banner.htm", "<p>Акция</p>");
    form->LoadTopStrip();
    form->LoadBanner();
    EXPECT_FALSE(form->ui->Panel4->isHidden());
    EXPECT_EQ(form->ui->Panel4->height(), 70);
    EXPECT_FALSE(form->ui->paHomeBanner->isHidden());
    EXPECT_EQ(form->ui->wbHome->toPlainText().trimmed(), "Акция");
    EXPECT_EQ(form->ui->wbTopPanel->toPlainText().trimmed(), "Новости");
}

TEST_F(MainFormFixture, TitleCarriesModifiedAndRestartMarks)
{
    form->settings.ClientCode = "1234";
    form->settings.ClientName = "Аптека";
    form->settings.PriceDate = "07.12.2026";
    form->SetSettingsModified(false);
    EXPECT_EQ(form->windowTitle(), "Клиент заказа ВОРН 2.4.024. Код в системе 1234. Имя в системе Аптека Прайс-лист от 07.12.2026");
    EXPECT_EQ(form->ui->lbPriceDate->text(), "Прайс от :     07.12.2026");
    form->SetSettingsModified(true);
    EXPECT_TRUE(form->windowTitle().startsWith("* Клиент"));
    form->RestartNeeded = true;
    form->SetSettingsModified(true);
    EXPECT_TRUE(form->windowTitle().startsWith("! Клиент"));
}

TEST_F(MainFormFixture, MessagePaneLinesColoursDailyFileAndDetail)
{
    form->show();
    form->settings.ClientCode = "77";
    form->LogMessage("Первое", Warning, true);
    EXPECT_FALSE(form->ui->reMessages->isHidden());
    EXPECT_FALSE(form->ui->btnSendErrorLog->isHidden());
    form->LogMessage("Второе", Info, false);
    const QStringList lines = form->messagePane().lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("["));
    EXPECT_TRUE(lines[0].contains("] Предупреждение: Первое"));
    EXPECT_TRUE(lines[1].contains("] i: Второе"));
    const QTextBlock first = form->ui->reMessages->document()->begin();
    const QTextCharFormat fmt = first.begin().fragment().charFormat();
    EXPECT_EQ(fmt.foreground().color(), QColor(68, 51, 0));
    EXPECT_EQ(fmt.fontPointSize(), 8);

    const QString daily = "77" + QDate::currentDate().toString("yyyyMMdd") + ".err";
    const QString text = dir.readText(daily);
    EXPECT_EQ(text, lines[0] + "\n" + lines[1] + "\n"); // each message once, cp1251
    EXPECT_TRUE(dir.readBytes(daily).contains(pc::toCp1251("Предупреждение")));

    // A summary of several lines is one message: one paragraph in the pane.
    form->LogMessage("Получено:\nдефектур: 1\nнакладных: 2", Info, true);
    EXPECT_EQ(form->ui->reMessages->document()->blockCount(), 3);
    EXPECT_TRUE(form->ui->reMessages->document()->lastBlock().text().contains("дефектур: 1"));
    auto *splitter = form->findChild<QSplitter *>("splMessages");
    ASSERT_NE(splitter, nullptr);
    EXPECT_EQ(splitter->indexOf(form->ui->paMessage), 1);
    EXPECT_GT(form->ui->paMessage->maximumHeight(), 66);

    form->LogDetail("не видно");
    EXPECT_EQ(form->messagePane().lines().size(), 5);
    form->ui->chkDetailLog->setChecked(true);
    form->LogDetail("Соединение");
    const QString detail = form->messagePane().lines().last();
    EXPECT_EQ(detail.count(QDate::currentDate().toString("dd.MM.yyyy")), 2);
    EXPECT_TRUE(detail.contains("i: "));
    EXPECT_TRUE(detail.endsWith(" : Соединение"));
}

TEST_F(MainFormFixture, MessagesBeforeTheSettingsLoadGoToTheClientsDailyFile)
{
    dir.writeText("client.ini", "[Header]\nClientCode=55\n");
    form->LogMessage("Раннее сообщение", Info, false);
    const QString daily = "55" + QDate::currentDate().toString("yyyyMMdd") + ".err";
    EXPECT_TRUE(dir.readText(daily).contains("Раннее сообщение"));
    EXPECT_FALSE(QFileInfo::exists(dir.path() + QDate::currentDate().toString("yyyyMMdd") + ".err"));
}

TEST_F(MainFormFixture, UnwritableDailyFileIsReportedInThePaneAndWorkGoesOn)
{
    form->settings.ClientCode = "nofolder/77"; // a daily file in a folder that does not exist
    form->LogMessage("Сообщение", Info, true);
    form->LogMessage("Ещё", Info, true);
    const QStringList lines = form->messagePane().lines();
    ASSERT_EQ(lines.size(), 3); // the failure is said once
    EXPECT_TRUE(lines[1].contains("ОШИБКА!: Журнал не записан в файл"));
}

// A full disk: the daily file keeps the lines it had, nothing half of the
// new one, and the pane says the disk is full.
TEST_F(MainFormFixture, DailyFileOnAFullDiskKeepsItsLines)
{
    form->settings.ClientCode = "55";
    const QString daily = "55" + QDate::currentDate().toString("yyyyMMdd") + ".err";
    form->LogMessage("Первое", Info, false);
    const QByteArray before = dir.readBytes(daily);
    pc::setFileFaultHook([](pc::FileStep step, const QString &, qint64 written) {
        return step == pc::FileStep::Write && written > 10 ? ENOSPC : 0;
    });
    form->LogMessage("Второе, длинное сообщение", Info, false);
    pc::setFileFaultHook({});
    EXPECT_EQ(dir.readBytes(daily), before);
    const QStringList lines = form->messagePane().lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[2].contains("Журнал не записан в файл") && lines[2].contains("на диске нет места"))
        << lines[2].toStdString();
}

namespace {
// A pane line the pharmacist can read: after the time and the level, the
// first word is Russian and every Latin word stands in brackets.
bool readsAsRussian(const QString &line)
{
    QString text = line.mid(line.indexOf("] ") + 2);
    for (const char *prefix : {"i: ", "Предупреждение: ", "ОШИБКА!: "})
        if (text.startsWith(QString::fromUtf8(prefix)))
            text = text.mid(QString::fromUtf8(prefix).size());
    const QString outside = pc::textOutsideBrackets(text);
    const QRegularExpression word("[^\\W\\d_]+", QRegularExpression::UseUnicodePropertiesOption);
    const auto first = word.match(outside);
    if (!first.hasMatch() || first.captured().front().script() != QChar::Script_Cyrillic)
        return false;
    for (auto it = word.globalMatch(outside); it.hasNext();)
        if (it.next().captured().front().script() == QChar::Script_Latin)
            return false;
    return true;
}
} // namespace

// An error that escapes every handler hides the wait window and is logged in
// Russian, whatever library raised it: its own text only in brackets.
TEST_F(MainFormFixture, EscapedExceptionHidesTheWaitWindowAndIsLogged)
{
    form->show();
    form->ShowWait("Работа", 1);
    EXPECT_EQ(dialogs.waitShown, 1);
    struct Thrower : QObject {
        std::function<void()> raise;
        bool event(QEvent *) override
        {
            raise();
            return true;
        }
    } thrower;
    auto escape = [&](std::function<void()> raise) {
        thrower.raise = std::move(raise);
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        return form->messagePane().lines().value(form->messagePane().lines().size() - 1);
    };
    QString line = escape([] { throw pc::AppError("Сбой записи"); });
    EXPECT_EQ(dialogs.waitShown, 0);
    EXPECT_TRUE(line.endsWith("ОШИБКА!: Сбой записи (необработанная ошибка)")) << line.toStdString();
    for (const std::function<void()> &raise : std::vector<std::function<void()>>{
             [] { throw std::runtime_error("vector::_M_range_check: __n (which is 5) >= this->size() (which is 2)"); },
             [] { throw std::bad_alloc(); },
             [] { throw 42; }}) {
        line = escape(raise);
        EXPECT_TRUE(readsAsRussian(line)) << line.toStdString();
    }
    EXPECT_TRUE(line.endsWith("ОШИБКА!: Неизвестная ошибка (необработанная ошибка)")) << line.toStdString();
    // An English text logged directly is put behind a Russian sentence too.
    form->LogMessage("Connection refused", Error, true);
    EXPECT_TRUE(form->messagePane().lines().last().endsWith("ОШИБКА!: Ошибка программы (Connection refused)"));
}

TEST_F(MainFormFixture, SendErrorLogUploadsThePaneUnderATimeStampNameAsTheOrderAccount)
{
    pc::test::FtpTestServer server({{{"55", "pw"}, {"Order", "nulpet"}}});
    dir.writeText("server.ini", QString("[Header]\nServerAdress=127.0.0.1\nServerPort=%1\n").arg(server.port()));
    dir.writeText("client.ini", "[Header]\nClientCode=55\nClientPass=pw\n");
    form->LoadSettings();
    form->LogMessage("Строка журнала", Error, true);
    form->btnSendErrorLogClick();
    const QString name = QFileInfo(form->lastErrorLogFile()).fileName();
    EXPECT_TRUE(name.startsWith("55"));
    EXPECT_TRUE(name.endsWith(".err"));
    EXPECT_TRUE(dir.readText(name).contains("ОШИБКА!: Строка журнала"));
    QFile uploaded(server.home("Order") + "/" + name);
    ASSERT_TRUE(uploaded.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pc::fromCp1251(uploaded.readAll()).contains("ОШИБКА!: Строка журнала"));
    EXPECT_TRUE(server.commands().contains("USER Order"));
    EXPECT_FALSE(form->Connection->isConnected());
}

TEST_F(MainFormFixture, SendErrorLogWithoutAServerWritesNothingAndSaysWhy)
{
    dir.writeText("server.ini", "[Header]\nServerAdress=127.0.0.1\nServerPort=1\n");
    form->LoadSettings();
    form->btnSendErrorLogClick();
    EXPECT_TRUE(dialogs.notices.contains("Не удалось соединиться с сервером. Попробуйте позднее"));
    EXPECT_TRUE(form->lastErrorLogFile().isEmpty());
    // The closed port is said in Russian in the pane.
    const QStringList lines = form->messagePane().lines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().endsWith("ОШИБКА!: Соединение с 127.0.0.1:1: сервер не принимает соединений (сервер не ответил)"))
        << lines.last().toStdString();
    for (const QString &line : lines)
        EXPECT_TRUE(readsAsRussian(line)) << line.toStdString();
}

TEST_F(MainFormFixture, ServerListButtonsEditThePageAndMarkTheSettingsChanged)
{
    form->LoadSettings();
    form->SetSettingsModified(false);
    dialogs.setNextInput("reserve.example.ru");
    form->btnAddServAddrClick();
    ASSERT_EQ(form->ui->lbServerAddresses->count(), 1);
    EXPECT_EQ(form->ui->lbServerAddresses->item(0)->text(), "reserve.example.ru");
    EXPECT_TRUE(form->SettingsModified);
    form->SetSettingsModified(false);
    form->ui->lbServerAddresses->setCurrentRow(0);
    form->btnUpServAddrClick(); // the first entry cannot go up
    EXPECT_FALSE(form->SettingsModified);
}

TEST_F(MainFormFixture, NoticeOnTheOrderPageReturnsFocusToThePriceGrid)
{
    form->show();
    form->FormActivate(); // the start-up sequence selects the first page
    form->setDialogs(nullptr); // the real windows
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    form->ui->edOrderComment->setFocus();
    ASSERT_NE(form->focusWidget(), form->ui->dbgrdPrice);
    whenModalOpens([](QWidget *w) { w->close(); });
    form->ShowNotice("Заявка сохранена");
    const bool focused = waitFor([&] { return form->focusWidget() == form->ui->dbgrdPrice; }, 2000);
    EXPECT_TRUE(focused) << (form->focusWidget() ? form->focusWidget()->objectName().toStdString() : "none");
}

// The print preview covers the main window: the windows opened from it (the
// PDF file picker, a notice) open over the preview, not behind it.
TEST_F(MainFormFixture, WindowsOpenedFromThePrintPreviewOpenOverIt)
{
    form->show();
    form->FormActivate();
    form->DM->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, ISREAD) VALUES (7, 'Н-7', 0)", false);
    form->DM->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA) "
                      "VALUES (7, 1, '1', 'Аспирин', 2, 50, 100)", true);
    form->DM->NakladSet()->Refresh();
    form->setDialogs(nullptr); // the real windows
    // The next modal window that is not `under`.
    auto whenOpensOver = [](QWidget *under, std::function<void(QWidget *)> action) {
        auto *timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, under, action] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal && modal != under) {
                timer->stop();
                timer->deleteLater();
                action(modal);
            }
        });
        timer->start();
    };
    bool previewShown = false, pickerOverPreview = false, noticeOverPreview = false;
    whenModalOpens([&](QWidget *preview) {
        previewShown = true;
        QAction *pdf = nullptr;
        for (QAction *a : preview->findChildren<QAction *>())
            if (a->text() == "Сохранить в PDF")
                pdf = a;
        if (pdf) {
            whenOpensOver(preview, [&](QWidget *picker) {
                pickerOverPreview = picker->parentWidget() == preview;
                picker->close();
            });
            pdf->trigger(); // returns once the picker is closed
        }
        whenOpensOver(preview, [&](QWidget *notice) {
            noticeOverPreview = notice->windowHandle() && notice->windowHandle()->transientParent() == preview->windowHandle();
            notice->close();
        });
        form->dialogs().showNotice("Проверка");
        preview->close();
    });
    form->btnPrintClick();
    EXPECT_TRUE(previewShown);
    EXPECT_TRUE(pickerOverPreview);
    EXPECT_TRUE(noticeOverPreview);
}

// The built program: a second copy of the same name exits at once, and a
// termination signal ends the first normally. The folder's shortcut, left
// from where the folder was before, names the folder the program started in.
TEST(Program, SecondStartExitsAndTerminationEndsNormally)
{
    TempAppDir dir;
    dir.writeBytes("client.desktop", pc::desktopEntryText("/opt/moved away"));
    ProgramProcess first(dir.path(), "client-single-instance-test");
    ASSERT_TRUE(first.start());
    QThread::msleep(1500); // let it take the lock and show its window
    EXPECT_TRUE(pc::desktopEntryNamesFolder(dir.readBytes("client.desktop"), dir.path()));

    const pc::RunResult second = pc::runAndWait(first.path(), {}, dir.path(), 10000);
    EXPECT_EQ(second.status, pc::RunResult::Finished);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(first.running()) << "the first copy must still run";
    EXPECT_EQ(first.terminate(SIGTERM), 0) << "SIGTERM must end the program normally";
}

TEST_F(MainFormFixture, GridsShowTheDatasetsWithTheStorageColumnNames)
{
    form->LoadSettings();
    ASSERT_TRUE(form->DM->Connected());
    form->DM->ExecSQL("INSERT INTO ORDERS (ID, STATUS, SUMMA, COMMENT) VALUES (3, 0, 150.5, 'к обеду')", true);
    form->DM->OrdersSet()->Refresh();
    auto *orders = form->ui->OrdersGrid->model();
    ASSERT_EQ(orders->rowCount(), 1);
    EXPECT_EQ(orders->headerData(0, Qt::Horizontal).toString(), "№");
    EXPECT_EQ(orders->index(0, 0).data().toString(), "3");
    EXPECT_EQ(orders->index(0, 5).data().toString(), "к обеду");

    auto *price = qobject_cast<pc::DatasetModel *>(form->ui->dbgrdPrice->model());
    ASSERT_NE(price, nullptr);
    EXPECT_EQ(price->columns().size(), 17u);
    EXPECT_EQ(price->columns()[7].fieldName, "SUMMA");
    EXPECT_EQ(price->columns()[8].fieldName, "PRICER_DISP");
    EXPECT_TRUE(form->ui->dbgrdPrice->isColumnHidden(4));
    auto *lines = qobject_cast<pc::DatasetModel *>(form->ui->dbgNakladLines->model());
    ASSERT_NE(lines, nullptr);
    EXPECT_EQ(lines->columns()[5].fieldName, "QNT");
    EXPECT_EQ(lines->columns()[12].title, "Ц.пр-ля б/НДС");

    // Prices, dates and titles fit; a dragged width goes to client.ini at once
    // and comes back when the grids are bound again.
    QTableView *grid = form->ui->dbgrdPrice;
    const QFontMetrics fm = grid->fontMetrics();
    EXPECT_GE(grid->columnWidth(3), fm.horizontalAdvance("9999999,99"));
    EXPECT_GE(grid->columnWidth(10), fm.horizontalAdvance("28.12.2028"));
    EXPECT_GE(grid->columnWidth(9), grid->horizontalHeader()->fontMetrics().horizontalAdvance("Остаток"));
    grid->horizontalHeader()->resizeSection(2, 211);
    EXPECT_EQ(dir.readText("client.ini").count("dbgrdPrice.PRODUCT=211"), 1);
    form->BindGrids();
    EXPECT_EQ(form->ui->dbgrdPrice->columnWidth(2), 211);
}

TEST_F(MainFormFixture, OrderTotalsShowAtStartAndClearingEmptiesThem)
{
    form->LoadSettings();
    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('1', 'Аспирин', '01.01.2027', 12.5, 2, 10)", true);
    form->ShowOrderTotals();
    EXPECT_EQ(form->ui->lblTotals->text(), "Заказ: 1 поз. На сумму 25");
    EXPECT_FALSE(form->OrderIsEmpty());
    dialogs.setNextAnswer(mrYes);
    form->ui->btnClearorder->click();
    EXPECT_EQ(dialogs.questions.last(), "Очистить текущий заказ?");
    EXPECT_EQ(form->ui->lblTotals->text(), "Заказ: 0 поз. На сумму 0");
    EXPECT_TRUE(form->OrderIsEmpty());
}

// The order page as the pharmacist uses it: letters find a name, digits
// order it, the totals follow, leaving the row applies the multiplicity.
TEST_F(MainFormFixture, TypingInThePriceGridSearchesOrdersAndCorrects)
{
    form->show();
    form->LoadSettings();
    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT, MINZAKAZ) VALUES ('1', 'Аспирин', '01.01.2027', 10, 0, 100, 0)", false);
    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT, MINZAKAZ) VALUES ('2', 'Бинт', '01.01.2027', 20, 0, 100, 4)", false);
    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT, MINZAKAZ) VALUES ('3', 'Вата', '01.01.2027', 5, 0, 100, 0)", true);
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    QTableView *grid = form->ui->dbgrdPrice;
    grid->setFocus();
    auto type = [grid](const QString &text) {
        for (QChar c : text)
            QTest::sendKeyEvent(QTest::Click, grid, Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
    };
    type("Б");
    EXPECT_EQ(form->DM->PriceSet()->FieldByName("TOVAR").AsString(), "Бинт");
    EXPECT_FALSE(form->ui->edSearch->isHidden());
    type("5");
    form->priceBinder->flushHeldDigits(); // the keys pause: the digit was no scan
    EXPECT_EQ(form->DM->PriceSet()->FieldByName("ZAKAZ").AsInteger(), 5);
    EXPECT_EQ(form->ui->lblTotals->text(), "Заказ: 1 поз. На сумму 100");
    // Leaving the row: 5 is not a multiple of 4.
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_TRUE(dialogs.notices.contains("По причине кратности 4 вместо 5 заказываем 8"));
    EXPECT_EQ(form->ui->lblTotals->text(), "Заказ: 1 поз. На сумму 160");
    EXPECT_EQ(form->DM->PriceSet()->FieldByName("TOVAR").AsString(), "Вата");
}

// Clearing "Фильтр:" shows the whole list again on the goods row the
// pharmacist had picked in the narrowed one, not on the first row.
TEST_F(MainFormFixture, ClearingTheNameFilterKeepsTheCurrentGoodsRow)
{
    form->show();
    form->LoadSettings();
    int id = 0;
    for (const char *name : {"Аспирин", "Бинт", "Бинт стерильный", "Вата"})
        form->DM->ExecSQL(QString("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('%1', '%2', "
                                  "'01.01.2027', 10, 0, 10)")
                              .arg(++id)
                              .arg(QString::fromUtf8(name)),
                          true);
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    QTableView *grid = form->ui->dbgrdPrice;
    pc::Dataset *price = form->DM->PriceSet();
    form->ui->edPriceFilter->setText("бинт");
    ASSERT_EQ(price->RecordCount(), 2);
    QTest::keyClick(grid, Qt::Key_Down);
    ASSERT_EQ(price->FieldByName("TOVAR").AsString(), "Бинт стерильный");

    form->ui->edPriceFilter->clear();
    EXPECT_EQ(price->RecordCount(), 4);
    EXPECT_EQ(price->FieldByName("TOVAR").AsString(), "Бинт стерильный");
    EXPECT_EQ(grid->currentIndex().row(), 2);
    QCoreApplication::processEvents();
    EXPECT_TRUE(grid->viewport()->rect().contains(grid->visualRect(grid->currentIndex()).center()));
}

// The goods note points something out and never takes the keyboard: while
// it is up, keys typed where the window system sends them (the focused
// window) go on moving the row and ordering in the price grid.
TEST_F(MainFormFixture, GoodsNoteLeavesEveryKeyToThePriceGrid)
{
    // Started as the pharmacist starts it: shown and activated.
    dialogs.setNextAnswer(mrNo); // the old price list is not updated now
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Initialised; }, 5000));
    for (const char *row : {"'1', 'Аспирин', 0", "'2', 'Бинт', 1", "'3', 'Вата', 0"})
        form->DM->ExecSQL(QString("INSERT INTO PRICE (IDTOVAR, TOVAR, HASPOPUP, GODEN, PRICE, ZAKAZ, QNT, MINZAKAZ) "
                                  "VALUES (%1, '01.01.2027', 10, 0, 100, 0)")
                              .arg(row),
                          false);
    form->DM->ExecSQL("INSERT INTO PRICE_DET (IDTOVAR, POPUP, INFO, ISREF) VALUES ('2', 'Скидка 10%', 'Акция', 0)", true);
    form->DM->PriceDetTable()->Close();
    form->DM->PriceDetTable()->Open();
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    QTableView *grid = form->ui->dbgrdPrice;
    grid->setFocus();
    pc::Dataset *price = form->DM->PriceSet();
    auto type = [](Qt::Key key, char text = 0) {
        QWindow *focused = QGuiApplication::focusWindow();
        ASSERT_NE(focused, nullptr);
        if (text)
            QTest::keyClick(focused, text);
        else
            QTest::keyClick(focused, key);
    };
    auto noteUp = [&] { return form->frmPopup->isVisible() && form->frmPopup->lbCaption->text() == "Скидка 10%"; };
    // The note has had time to take the window's activation if it would
    // (it keeps it then); the keyboard must be with the grid.
    auto keyboardStaysHere = [&] {
        QTest::qWait(100);
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == form.get(); }, 2000));
        EXPECT_EQ(QApplication::focusWidget(), grid);
    };

    // What a real window system goes by; the offscreen one activates every
    // window it shows, so the keys below test what happens then as well.
    EXPECT_TRUE(form->frmPopup->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(form->frmPopup->windowFlags() & Qt::WindowDoesNotAcceptFocus);

    type(Qt::Key_Down);
    ASSERT_EQ(price->FieldByName("TOVAR").AsString(), "Бинт");
    ASSERT_TRUE(QTest::qWaitFor(noteUp, 2000));
    keyboardStaysHere();
    type(Qt::Key_unknown, '3');
    type(Qt::Key_unknown, '2');
    form->priceBinder->flushHeldDigits(); // the keys pause: the digits were no scan
    EXPECT_EQ(price->FieldByName("ZAKAZ").AsInteger(), 32);
    EXPECT_EQ(pc::test::committedScalar(dir.file("Data/client.gdb"), "SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '2'"), 32);
    type(Qt::Key_Down);
    EXPECT_EQ(price->FieldByName("TOVAR").AsString(), "Вата");
    EXPECT_FALSE(form->frmPopup->isVisible()); // the next row closes the note
    type(Qt::Key_Up);
    EXPECT_EQ(price->FieldByName("TOVAR").AsString(), "Бинт");
    ASSERT_TRUE(QTest::qWaitFor(noteUp, 2000));
    keyboardStaysHere();
    type(Qt::Key_Up);
    EXPECT_EQ(price->FieldByName("TOVAR").AsString(), "Аспирин");
    keyboardStaysHere();
}

// «Подробно» shows or hides the goods detail line and is remembered; the
// quick search does not bring a hidden line back.
TEST_F(MainFormFixture, ShowDetailBoxHidesTheDetailLineAndIsRemembered)
{
    form->LoadSettings();
    form->show();
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    QLabel *line = form->ui->lblGoodInfo;
    EXPECT_TRUE(form->ui->chkShowDetail->isChecked());
    EXPECT_TRUE(line->isVisible());
    form->ui->chkShowDetail->click();
    EXPECT_FALSE(line->isVisible());
    EXPECT_FALSE(pc::IniFile(dir.file("client.ini")).readBool("Price", "ShowDetail", true));
    form->priceBinder->ClearQuickSearch(); // shows the line again when it is wanted
    EXPECT_FALSE(line->isVisible());

    form->closeWithoutAsking = true;
    form = std::make_unique<TMainForm>(dir.path());
    form->setDialogs(&dialogs);
    form->LoadSettings();
    form->show();
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    EXPECT_FALSE(form->ui->chkShowDetail->isChecked());
    EXPECT_FALSE(form->ui->lblGoodInfo->isVisible());
    form->ui->chkShowDetail->click();
    EXPECT_TRUE(form->ui->lblGoodInfo->isVisible());
    EXPECT_TRUE(pc::IniFile(dir.file("client.ini")).readBool("Price", "ShowDetail", false));
}

// «Проверка соединения FTP...» logs in to the address and port typed on the
// page (not the stored ones) as the client typed there, and says how it went.
TEST_F(MainFormFixture, ConnectionCheckSaysWhetherTheTypedServerLetUsIn)
{
    pc::test::FtpTestServer server;
    dir.writeText("server.ini", "[Header]\nServerAdress=stored.example.ru\n"); // port 21
    form->LoadSettings();
    form->ui->edServerAddress->setText("127.0.0.1");
    form->ui->edServerPort->setText(QString::number(server.port()));
    form->ui->edClientCode->setText("1234");
    form->ui->edClientPass->setText("secret");
    const QString serverText = QString("Сервер 127.0.0.1 (порт %1)").arg(server.port());

    form->ui->btnCheckConnection->click();
    ASSERT_TRUE(waitFor([&] { return !form->busy(); }, 30000));
    ASSERT_FALSE(dialogs.notices.isEmpty());
    EXPECT_EQ(dialogs.notices.last(), serverText + " отвечает, вход под именем \"1234\" выполнен. Соединение в порядке");
    EXPECT_TRUE(server.commands().contains("USER 1234"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    form->ui->edClientPass->setText("wrong");
    form->ui->btnCheckConnection->click();
    ASSERT_TRUE(waitFor([&] { return !form->busy(); }, 30000));
    EXPECT_TRUE(dialogs.notices.last().startsWith(
        serverText + " отвечает, но не принял имя пользователя \"1234\" или пароль. Проверьте код клиента и пароль\n("))
        << dialogs.notices.last().toStdString();

    const int closed = pc::test::freeLoopbackPort();
    form->ui->edServerPort->setText(QString::number(closed));
    form->ui->btnCheckConnection->click();
    ASSERT_TRUE(waitFor([&] { return !form->busy(); }, 30000));
    EXPECT_TRUE(dialogs.notices.last().startsWith(
        QString("Сервер 127.0.0.1 (порт %1) не отвечает. Проверьте адрес, порт и подключение к сети\n(").arg(closed)))
        << dialogs.notices.last().toStdString();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormFixture, StartPageListsWhatNeedsAttentionAndItsLinksSwitchPages)
{
    form->LoadSettings();
    form->BuildStartPage();
    QString page = dir.readText("Data/start.htm");
    EXPECT_TRUE(page.contains("Прайс не актуальный"));
    EXPECT_FALSE(page.contains("заявк"));
    EXPECT_EQ(page.count('\n'), 1); // one line
    // The update link is red on screen, and the other links keep the link colour.
    auto linkColour = [&](const QString &href) {
        for (QTextBlock b = form->ui->wbStartPage->document()->begin(); b.isValid(); b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it)
                if (it.fragment().charFormat().anchorHref() == href)
                    return it.fragment().charFormat().foreground().color();
        return QColor();
    };
    EXPECT_EQ(linkColour("_________UpdatePrice"), QColor(Qt::red));

    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('1', 'Аспирин', '01.01.2027', 10, 2, 10)", false);
    form->DM->ExecSQL("INSERT INTO ORDERS (ID, STATUS, DATET) VALUES (1, 0, '01.12.2026')", false);
    form->DM->ExecSQL("INSERT INTO NAKLAD (ID, ISREAD) VALUES (5, 0)", true);
    form->DM->NakladSet()->Refresh();
    form->BuildStartPage();
    page = dir.readText("Data/start.htm");
    EXPECT_TRUE(page.contains("<li> <b>Текущая заявка не завершена:</b> <font size=6> <a href = \"___________OpenOrder\">"));
    EXPECT_TRUE(page.contains("Есть неотправленные заявки"));
    EXPECT_TRUE(page.contains("Есть непросмотренные накладные"));
    EXPECT_TRUE(form->ui->wbStartPage->toPlainText().contains("Текущая заявка не завершена"));
    EXPECT_EQ(linkColour("___________OpenOrder"), form->ui->wbStartPage->palette().link().color());

    form->wbStartPageBeforeNavigate2(QUrl("about:blank#__________OpenNaklad"));
    EXPECT_EQ(form->ui->pgcMain->currentWidget(), form->ui->tsDefectAndNakl);
    EXPECT_EQ(form->ui->pcDocum->currentWidget(), form->ui->tsNaklad);
    form->wbStartPageBeforeNavigate2(QUrl("http://example.ru/other"));
    EXPECT_EQ(form->ui->pgcMain->currentWidget(), form->ui->tsDefectAndNakl); // nothing followed
    form->wbStartPageBeforeNavigate2(QUrl("___________OpenOrder"));
    EXPECT_EQ(form->ui->pgcMain->currentWidget(), form->ui->tsOrder);
}

TEST_F(MainFormFixture, OrderStatusShowsInTheArchiveAndTheButtonChangesIt)
{
    form->LoadSettings();
    form->DM->ExecSQL("INSERT INTO ORDERS (ID, STATUS) VALUES (1, 1)", false);
    form->DM->ExecSQL("INSERT INTO ORDERS (ID, STATUS) VALUES (2, 0)", true);
    pc::Dataset *orders = form->DM->OrdersSet();
    orders->Refresh();
    orders->First();
    auto *grid = form->ui->OrdersGrid->model();
    EXPECT_EQ(grid->index(0, 3).data().toString(), "Отправлена");
    EXPECT_EQ(grid->index(1, 3).data().toString(), "Не отправлена");
    EXPECT_EQ(form->ui->btnChangeStatus->text(), "Пометить неотправленной");

    orders->Last();
    EXPECT_EQ(form->ui->btnChangeStatus->text(), "Отменить отправку");
    dialogs.setNextAnswer(mrNo);
    form->ui->btnChangeStatus->click();
    EXPECT_EQ(orders->FieldByName("STATUS").AsInteger(), 0);
    dialogs.setNextAnswer(mrYes);
    form->ui->btnChangeStatus->click();
    EXPECT_EQ(dialogs.questions.last(), "Отменить отправку?");
    EXPECT_EQ(orders->FieldByName("STATUS").AsInteger(), 2);
    EXPECT_EQ(form->ui->btnChangeStatus->text(), "Повторить отправку");
    EXPECT_EQ(grid->index(1, 3).data().toString(), "Отменена");
}

// The road of an order through the window: typed into the price list, sent
// with the button, archived as sent, its file on the supplier's server.
TEST_F(MainFormFixture, SendButtonArchivesAndUploadsTheCurrentOrder)
{
    pc::test::FtpTestServer server({{{"55", "pw"}, {"Order", "nulpet"}}});
    dir.writeText("server.ini", QString("[Header]\nServerAdress=127.0.0.1\nServerPort=%1\n").arg(server.port()));
    dir.writeText("client.ini", "[Header]\nClientCode=55\nClientPass=pw\nAskSendLog=1\n");
    form->LoadSettings();
    form->DM->ExecSQL(QString("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('1', 'Аспирин', '01.01.2027', %1, 3, 10)")
                          .arg(MaskPriceValue(12.5, "55"), 0, 'f', 2),
                      true);
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    form->ui->edOrderComment->setText("к обеду");
    dialogs.setNextAnswer(mrNo); // a save to the archive given up keeps the comment
    form->ui->btnSaveOrderToArch->click();
    EXPECT_EQ(form->ui->edOrderComment->text(), "к обеду");
    dialogs.setNextAnswer(mrYes); // the price list here is not today's: send anyway
    form->ui->btnSendOrder->click();
    EXPECT_EQ(form->ui->edOrderComment->text(), ""); // it went with this order, not the next
    ASSERT_TRUE(waitFor([&] { return !form->busy(); }, 30000)); // the uploads run on their own thread
    EXPECT_EQ(dialogs.questions.last(), "Прайс не актуальный! При отправке заявки цены могут измениться. Продолжить?");
    EXPECT_TRUE(dialogs.notices.contains("Было отправлено 1 заявок  на сумму 37,5")) << dialogs.notices.join("|").toStdString();
    EXPECT_EQ(QDir(server.home("Order")).entryList({"55_*.ini"}, QDir::Files).size(), 1);
    EXPECT_TRUE(QFileInfo::exists(server.home("Order") + "/55.log"));
    pc::Dataset *q = form->DM->OpenQuery("SELECT COUNT(1) FROM ORDERS WHERE STATUS = 1");
    EXPECT_EQ(q->Fields(0).AsInteger(), 1);
    EXPECT_TRUE(form->OrderIsEmpty());
    EXPECT_EQ(form->ui->lblTotals->text(), "Заказ: 0 поз. На сумму 0");
}

// "Обновить данные": the supplier's archive comes down, is unpacked and fills
// the price grid; the order page then works on it.
TEST_F(MainFormFixture, UpdateButtonLoadsTheSuppliersPriceIntoTheGrid)
{
    pc::test::FtpTestServer server({{{"55", "pw"}, {"Order", "nulpet"}}});
    dir.writeText("server.ini", QString("[Header]\nServerAdress=127.0.0.1\nServerPort=%1\n").arg(server.port()));
    dir.writeText("client.ini", "[Header]\nClientCode=55\nClientPass=pw\n");
    QTemporaryDir staging;
    pc::test::DbfWriter w(0x03);
    w.addPriceFields();
    for (const auto &[id, name] : std::vector<std::pair<QString, QString>>{{"1", "Аспирин"}, {"2", "Бинт"}})
        w.addRecord({id, name, MaskPriceValue(10, "55"), QStringLiteral("Завод"), QStringLiteral("Россия"), 0.0,
                     QDate(2027, 1, 1), 100, 1, 10, 0, 0, 0, 0, 0, 0, 0, QString()});
    w.save(staging.filePath("55.dbf"));
    const pc::RunResult zipped = pc::runAndWait("/usr/bin/zip", {"-q", "55.zip", "55.dbf"}, staging.path(), 15000);
    ASSERT_EQ(zipped.exitCode, 0);
    ASSERT_TRUE(QFile::copy(staging.filePath("55.zip"), server.home("55") + "/55.zip"));

    form->LoadSettings();
    dialogs.setNextAnswer(mrNo); // no documents this time
    form->ui->btnUpdatePrice->click();
    ASSERT_TRUE(form->busy()); // on its own thread: the window goes on
    ASSERT_TRUE(waitFor([&] { return !form->busy(); }, 60000));
    EXPECT_EQ(dialogs.questions.first(), "Проверить дефектуры и накладные?");
    EXPECT_TRUE(dialogs.notices.contains("Прайс удачно обновлен!")) << dialogs.notices.join("|").toStdString();
    ASSERT_EQ(form->ui->dbgrdPrice->model()->rowCount(), 2);
    EXPECT_EQ(form->ui->dbgrdPrice->model()->index(0, 1).data().toString(), "Аспирин");
    EXPECT_EQ(form->ui->dbgrdPrice->model()->index(0, 3).data().toString(), "10");
    EXPECT_TRUE(dir.exists("Data/pricein.dbf"));
    EXPECT_TRUE(form->CheckPriceActuality(false));
    EXPECT_EQ(form->DM->NameIndex(), QStringList({"АСПИРИН", "БИНТ"}));
}

TEST_F(MainFormFixture, InvoicePagePricesTheLinesAndHighlightsTheLimits)
{
    form->LoadSettings();
    form->DM->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, ISREAD) VALUES (7, 'Н-7', 0)", false);
    form->DM->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA, STNDS, PRICE_PR, GV, PRREESTR) "
                      "VALUES (7, 1, '1', 'Аспирин', 2, 50, 100, 10, 40, 1, 30)", true);
    form->DM->NakladSet()->Refresh();
    form->ui->lstGVNac->item(0, 1)->setText("25");
    form->ui->lstGVNac->item(1, 1)->setText("15");
    form->ui->lstGVNac->item(2, 1)->setText("10");
    form->ui->edAptekaPercent->setText("30");
    form->ui->chkGVNacMax->setChecked(true);
    form->ui->btnSetPriceApt->click();
    auto *lines = form->ui->dbgNakladLines->model();
    ASSERT_EQ(lines->rowCount(), 1);
    EXPECT_EQ(lines->index(0, 14).data().toString(), "59,99");
    EXPECT_EQ(lines->index(0, 16).data().toString(), "24,98%");
    // The producer price above the registry price shows on yellow.
    EXPECT_EQ(lines->index(0, 12).data(Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 0));
    form->ui->dbgNaklad->setCurrentIndex(form->ui->dbgNaklad->model()->index(0, 0));
    form->dbgNakladCellClick();
    EXPECT_EQ(form->DM->OpenQuery("SELECT ISREAD FROM NAKLAD WHERE ID = 7")->Fields(0).AsInteger(), 1);
}

// A pharmacy price typed into the invoice grid is kept at once, like every
// other typed value: another connection sees it, and a later failure that
// rolls the transaction back does not take it back.
TEST_F(MainFormFixture, ATypedPharmacyPriceIsCommittedAtOnce)
{
    form->LoadSettings();
    form->DM->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, ISREAD) VALUES (7, 'Н-7', 0)", false);
    form->DM->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA, STNDS, PRICE_PR, GV, PRREESTR) "
                      "VALUES (7, 1, '1', 'Аспирин', 2, 50, 100, 10, 40, 0, 30)", true);
    form->DM->NakladSet()->Refresh();
    auto *lines = qobject_cast<pc::DatasetModel *>(form->ui->dbgNakladLines->model());
    ASSERT_NE(lines, nullptr);
    ASSERT_EQ(lines->rowCount(), 1);
    const QModelIndex cell = lines->index(0, lines->columnOfField("PRICE_APT"));
    ASSERT_TRUE(lines->flags(cell) & Qt::ItemIsEditable);
    ASSERT_TRUE(lines->setData(cell, 77.7));
    EXPECT_EQ(cell.data().toString(), "77,7");
    const QString db = dir.file("Data/client.gdb");
    const QString sql = "SELECT CAST(PRICE_APT * 10 AS INTEGER) FROM NAKLADL WHERE ID = 7";
    EXPECT_EQ(pc::test::committedScalar(db, sql), 777);
    form->DM->Rollback();
    EXPECT_EQ(pc::test::committedScalar(db, sql), 777);
}

// The limits entered on the settings page and saved are the ones the invoice
// lines are checked against at once: 14,96 % under a 15 % limit is not red.
TEST_F(MainFormFixture, SavedMarkupLimitsColourTheInvoiceLinesAtOnce)
{
    form->LoadSettings(); // no limits stored yet
    form->DM->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, ISREAD) VALUES (7, 'Н-7', 0)", false);
    // Producer price 110 with VAT 10 is 100 without: the middle bracket.
    form->DM->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, QNT, PRICE, SUMMA, STNDS, PRICE_PR, GV, PRREESTR, PRICE_APT) "
                      "VALUES (7, 1, '1', 'Аспирин', 1, 100, 100, 10, 110, 1, 200, 116.456)", true);
    form->DM->NakladSet()->Refresh();
    auto *lines = form->ui->dbgNakladLines->model();
    ASSERT_EQ(lines->rowCount(), 1);
    ASSERT_EQ(lines->index(0, 16).data().toString(), "14,96%");
    form->ui->lstGVNac->item(0, 1)->setText("25");
    form->ui->lstGVNac->item(1, 1)->setText("15");
    form->ui->lstGVNac->item(2, 1)->setText("10");
    form->SaveSettings();
    EXPECT_NE(lines->index(0, 16).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    EXPECT_NE(lines->index(0, 14).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    // A lower limit saved later turns the line red just as well.
    form->ui->lstGVNac->item(1, 1)->setText("14,5");
    form->SaveSettings();
    EXPECT_EQ(lines->index(0, 16).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
}

TEST_F(MainFormFixture, ArchiveButtonsRestoreAndDeleteOrders)
{
    form->LoadSettings();
    form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES ('A', 'Аспирин', '01.01.2027', 10, 0, 100)", false);
    form->DM->ExecSQL("INSERT INTO ORDERS (ID, STATUS) VALUES (1, 1)", false);
    form->DM->ExecSQL("INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, QNT, PRICE, SUMMA) VALUES (1, 'A', 'Аспирин', 4, 10, 40)", true);
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    form->DM->OrdersSet()->Refresh();
    form->DM->OrdersSet()->Last();
    dialogs.setNextAnswer(mrYes); // restore this order
    form->ui->btnOrderRestore->click();
    EXPECT_FALSE(form->OrderIsEmpty()) << dialogs.questions.join("|").toStdString();
    EXPECT_EQ(form->ui->lblTotals->text(), "Заказ: 1 поз. На сумму 40");
    dialogs.setNextAnswer(mrYes);
    form->ui->btnDeleteOrder->click();
    EXPECT_EQ(form->DM->OpenQuery("SELECT COUNT(1) FROM ORDERS")->Fields(0).AsInteger(), 0);
}
