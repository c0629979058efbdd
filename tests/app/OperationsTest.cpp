// Long operations on their own threads: the worker's questions answered on
// the window's thread, a closing window that never waits for a worker that
// waits for it, «Прервать» clicked with the pointer while a throttled
// download runs, and the wait window that never covers a notice.

#include "GuiTest.h"
#include "WindowFixture.h"
#include "DbfWriter.h"
#include "FtpTestServer.h"
#include "OtherConnection.h"
#include "ScriptedDialogs.h"

#include "app/MainForm.h"
#include "app/PriceUpdateOperation.h"
#include "core/Operation.h"
#include "core/PriceMask.h"
#include "db/DataModule.h"
#include "ui/AskMessageDialog.h"
#include "ui/SplashWindow.h"
#include "ui/WindowDialogs.h"
#include "ui_MainForm.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

using pc::test::FtpTestServer;

namespace {

// Scripted answers that note the thread each question was answered on.
struct ThreadNotingDialogs : ScriptedDialogs {
    QThread *answeredOn = nullptr;
    int askQuestion(const QString &text, bool focusYes, bool withCancel) override
    {
        answeredOn = QThread::currentThread();
        return ScriptedDialogs::askQuestion(text, focusYes, withCancel);
    }
};

struct Asking : pc::Operation {
    using Operation::Operation;
    int *answer = nullptr;
    QString question = QStringLiteral("Проверить дефектуры и накладные?");
    void run() override
    {
        *answer = workerDialogs().askQuestion(question, true, false);
        workerLog().logMessage(QStringLiteral("ответ получен"), Info, true);
    }
};

} // namespace

TEST(Operations, WorkerQuestionsAreAnsweredOnTheHomeThreadAndTheStateIsBusyMeanwhile)
{
    ThreadNotingDialogs home;
    RecordingLog log;
    pc::OperationState state;
    QList<bool> busyChanges;
    QObject::connect(&state, &pc::OperationState::busyChanged, [&](bool busy) { busyChanges << busy; });
    int answer = 0;
    Asking op(home, log);
    op.answer = &answer;
    bool finished = false;
    QObject::connect(&op, &pc::Operation::finished, &state, [&] { finished = true; });
    home.setNextAnswer(mrNo);
    ASSERT_TRUE(op.start(&state));
    EXPECT_TRUE(state.busy());
    EXPECT_EQ(state.current(), &op);
    // A second operation does not start while the first runs.
    int other = 0;
    Asking second(home, log);
    second.answer = &other;
    EXPECT_FALSE(second.start(&state));
    ASSERT_TRUE(waitFor([&] { return finished; }));
    EXPECT_EQ(answer, mrNo);
    EXPECT_EQ(home.answeredOn, QThread::currentThread());
    EXPECT_EQ(home.questions, QStringList{"Проверить дефектуры и накладные?"});
    EXPECT_TRUE(log.contains("ответ получен", Info)); // the line came before finished()
    EXPECT_FALSE(state.busy());
    EXPECT_EQ(busyChanges, (QList<bool>{true, false}));
    EXPECT_EQ(op.thread(), QThread::currentThread()); // back home
}

// The window closes while the worker waits for an answer the window will
// never give: the worker gets Cancel and ends, nobody waits for ever.
TEST(Operations, AHomeGoingAwayLetsTheWaitingWorkerGo)
{
    ScriptedDialogs home;
    RecordingLog log;
    int answer = 0;
    auto op = std::make_unique<Asking>(home, log);
    op->answer = &answer;
    ASSERT_TRUE(op->start());
    QThread::msleep(200); // the question is queued; this thread does not answer it
    QElapsedTimer t;
    t.start();
    op.reset();
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(answer, mrCancel);
    QCoreApplication::sendPostedEvents(); // the dropped question never reaches the dialogs
    EXPECT_TRUE(home.questions.isEmpty());
}

namespace {

// Questions from the script; the wait window and its «Прервать» on screen.
struct WaitOnScreenDialogs : ScriptedDialogs {
    WindowDialogs *screen = nullptr;
    void showWait(const QString &text, int picture) override
    {
        ScriptedDialogs::showWait(text, picture);
        if (screen)
            screen->showWait(text, picture);
    }
    void hideWait() override
    {
        ScriptedDialogs::hideWait();
        if (screen)
            screen->hideWait();
    }
    void setWaitCancel(std::function<void()> cancel) override
    {
        if (screen)
            screen->setWaitCancel(cancel);
        ScriptedDialogs::setWaitCancel(std::move(cancel));
    }
};

using OperationWindowFixture = WindowFixtureOf<WaitOnScreenDialogs>;

} // namespace

// «Обновить данные», then a pointer click on «Прервать» while the archive
// comes down at 128 KB/s (16 s in all): the update ends within 2 s of the
// click, and another connection sees the old list and order as they were.
TEST_F(OperationWindowFixture, PointerClickOnCancelEndsAThrottledDownloadAndKeepsTheListAndOrder)
{
    FtpTestServer server({{{"55", "pw"}, {"Order", "nulpet"}}});
    dir.writeText("server.ini", QString("[Header]\nServerAdress=127.0.0.1\nServerPort=%1\n").arg(server.port()));
    dir.writeText("client.ini", "[Header]\nClientCode=55\nClientPass=pw\n");
    {
        QFile f(server.home("55") + "/55.arc");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(2 << 20, 'x'));
    }
    server.setFaults({{.verb = "RETR", .action = FtpTestServer::Fault::Slow, .rate = 128 * 1024}});
    form->LoadSettings();
    for (const QString &row : {QString("('1', 'Аспирин', '01.01.2027', %1, 3, 10)"), QString("('2', 'Бинт', '01.01.2027', %1, 0, 5)")})
        form->DM->ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE, ZAKAZ, QNT) VALUES " + row.arg(MaskPriceValue(12.5, "55"), 0, 'f', 2),
                          true);
    form->DM->OpenPrice(false);
    form->DM->OpenPrice(true);
    WindowDialogs screen(form.get(), form->dlgAskMessage, form->frmSplash, nullptr);
    dialogs.screen = &screen;
    form->resize(1024, 768);
    dialogs.setNextAnswer(mrNo); // the list of 1999 is not updated at the start
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->ui->pgcMain->setCurrentWidget(form->ui->tsOrder);
    dialogs.notices.clear();

    dialogs.setNextAnswer(mrNo); // no documents this time
    QTest::mouseClick(form->ui->btnUpdatePrice, Qt::LeftButton);
    // The download is under way and the window goes on meanwhile.
    ASSERT_TRUE(waitFor([&] { return form->ui->ReciveProgress->value() >= 128; }, 10000));
    ASSERT_TRUE(form->busy());
    // No second operation meanwhile, and the grid still takes keys.
    EXPECT_FALSE(form->ui->btnUpdatePrice->isEnabled());
    EXPECT_FALSE(form->ui->btnSendOrder->isEnabled());
    form->ui->dbgrdPrice->setFocus();
    form->ui->dbgrdPrice->setCurrentIndex(form->ui->dbgrdPrice->model()->index(0, 1));
    QTest::keyClick(form->ui->dbgrdPrice, Qt::Key_Down);
    EXPECT_EQ(form->ui->dbgrdPrice->currentIndex().row(), 1);
    ASSERT_TRUE(form->frmSplash->isVisible());
    QPushButton *cancel = form->frmSplash->btnCancelWait;
    ASSERT_TRUE(cancel->isVisible());
    EXPECT_TRUE(form->frmSplash->pbProgress->isVisible());
    QElapsedTimer sinceClick;
    sinceClick.start();
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !form->busy(); }, 20000));
    EXPECT_LT(sinceClick.elapsed(), 2000);
    EXPECT_FALSE(form->frmSplash->isVisible());
    EXPECT_TRUE(form->ui->RecivePanel->isHidden());
    EXPECT_TRUE(form->ui->btnUpdatePrice->isEnabled());
    EXPECT_TRUE(dialogs.notices.isEmpty()) << dialogs.notices.join("|").toStdString();

    const QString db = form->DM->DatabaseFile();
    EXPECT_EQ(pc::test::committedScalar(db, "SELECT COUNT(*) FROM PRICE"), 2);
    EXPECT_EQ(pc::test::committedScalar(db, "SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '1'"), 3);
    EXPECT_EQ(pc::test::committedScalar(db, "SELECT QNT FROM PRICE WHERE IDTOVAR = '2'"), 5);
    EXPECT_EQ(form->ui->dbgrdPrice->model()->rowCount(), 2);
    EXPECT_FALSE(dir.exists("Data/pricein.dbf"));
}

// «Загрузить дефектуры и накладные»: the fetch runs on its own thread and
// attachment, and the window shows what came once it has finished.
TEST_F(OperationWindowFixture, DocumentFetchRunsOnItsOwnThreadAndTheWindowShowsWhatCame)
{
    FtpTestServer server({{{"55", "pw"}, {"Order", "nulpet"}}});
    dir.writeText("server.ini", QString("[Header]\nServerAdress=127.0.0.1\nServerPort=%1\n").arg(server.port()));
    dir.writeText("client.ini", "[Header]\nClientCode=55\nClientPass=pw\n");
    ASSERT_TRUE(QDir().mkpath(server.home("55") + "/Defect/55"));
    pc::test::DbfWriter w(0x03);
    w.addField("TOVAR", 'C', 60).addField("COUNT", 'N', 10);
    w.addRecord({QStringLiteral("Аспирин"), 3});
    w.save(server.home("55") + "/Defect/55/d12345.dbf");
    form->LoadSettings();
    ASSERT_TRUE(form->DM->DefectTable()->Active());
    ASSERT_EQ(form->DM->DefectTable()->RecordCount(), 0);
    dialogs.notices.clear();

    form->ui->btnGetDefecturesAndNaklad->click();
    EXPECT_TRUE(form->busy());
    ASSERT_TRUE(waitFor([&] { return !form->busy(); }, 30000));
    EXPECT_EQ(dialogs.notices, QStringList{"Получено : \n\r1 дефектур\n\r0 накладных"});
    EXPECT_EQ(form->DM->DefectTable()->RecordCount(), 1);
    EXPECT_EQ(pc::test::committedScalar(form->DM->DatabaseFile(), "SELECT COUNT(*) FROM DEFECTL"), 1);
    EXPECT_FALSE(QFile::exists(server.home("55") + "/Defect/55/d12345.dbf"));
}

// A notice is never hidden under the wait window, and a wait window shown
// while a question is open stays under it.
TEST(WaitWindow, NoticeAndQuestionAreActiveAndOnTopOfTheWaitWindow)
{
    QWidget main;
    main.resize(800, 600);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    auto *dialog = new TdlgAskMessage(&main);
    auto *splash = new TfrmSplash(&main);
    WindowDialogs dialogs(&main, dialog, splash, nullptr);
    splash->SetCancelAction([] {});
    dialogs.showWait(QStringLiteral("Подождите некоторое время, распаковка прайса..."), 1);
    ASSERT_TRUE(splash->isVisible());

    bool seen = false;
    whenModalOpens([&](QWidget *modal) {
        seen = true;
        EXPECT_EQ(modal, dialog);
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dialog; }, 2000));
        EXPECT_FALSE(splash->isVisible());
        EXPECT_TRUE(dialog->lblText->text().contains("Прайс удачно обновлен!"));
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
    });
    dialogs.showNotice(QStringLiteral("Прайс удачно обновлен!"));
    EXPECT_TRUE(seen);

    seen = false;
    whenModalOpens([&](QWidget *modal) {
        seen = true;
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == modal; }, 2000));
        dialogs.showWait(QStringLiteral("Подождите некоторое время, загрузка прайса..."), 1);
        QTest::qWait(100);
        EXPECT_EQ(QApplication::activeModalWidget(), modal);
        EXPECT_EQ(QApplication::activeWindow(), modal);
        EXPECT_FALSE(splash->isVisible());
        EXPECT_FALSE(splash->windowFlags() & Qt::WindowStaysOnTopHint);
        QTest::mouseClick(dialog->btnYes, Qt::LeftButton);
    });
    EXPECT_EQ(dialogs.askQuestion(QStringLiteral("Проверить дефектуры и накладные?"), true, false), mrYes);
    EXPECT_TRUE(seen);
    // Once the question is answered, the work's wait window shows.
    EXPECT_TRUE(waitFor([&] { return splash->isVisible(); }, 2000));
    dialogs.hideWait();
}
