// The window's side of jobs: the last job's result shown once at start and
// kept on the start page, and a job run inside the window speaking only
// through the job's answers, the person's dialogs back in place after it.

#include "app/WindowFixture.h"
#include "SigningKey.h"

#include "ui_MainForm.h"

#include "GuiTest.h"

#include "app/JobRunner.h"
#include "app/MessagePane.h"
#include "core/JobResult.h"

#include <QTextBrowser>

namespace {
struct WindowJobFixture : WindowFixture {
    void SetUp() override
    {
        dir.writeText("client.ini", "[Header]\nClientCode=1234\nClientName=Аптека\nClientPass=secret\n");
        // A server nobody answers on.
        dir.writeText("server.ini", "[Header]\nServerAdress=127.0.0.1\nServerPort=1\n");
        WindowFixture::SetUp();
    }
    int linesWith(const QString &text)
    {
        int n = 0;
        for (const QString &line : form->messagePane().lines())
            n += line.contains(text) ? 1 : 0;
        return n;
    }
};
} // namespace

TEST_F(WindowJobFixture, LastJobResultIsShownOnceAndStaysOnTheStartPage)
{
    const QString summary = "Прайс не обновлён в 06:30: Нет файла прайса на сервере. В работе прежний прайс-лист и заказ";
    pc::writeJobResult(pc::AppContext(dir.path()), {"update", QDateTime::currentDateTime().addSecs(-3600), 1, summary, false});
    form->FormActivate();
    EXPECT_EQ(linesWith("Автоматически: " + summary), 1);
    EXPECT_TRUE(pc::readJobResult(pc::AppContext(dir.path()))->seen);
    EXPECT_TRUE(form->ui->wbStartPage->toPlainText().contains(summary)) << form->ui->wbStartPage->toPlainText().toStdString();
    form->ShowLastJobResult(); // the next start
    EXPECT_EQ(linesWith(summary), 1);
    EXPECT_TRUE(form->ui->wbStartPage->toPlainText().contains(summary));
}

TEST_F(WindowJobFixture, JobInTheWindowAsksThePersonNothingAndGivesTheDialogsBack)
{
    form->FormActivate();
    ASSERT_TRUE(form->Initialised);
    dialogs.notices.clear();
    EXPECT_FALSE(form->BusyForJob());
    pc::JobOutcome out;
    bool done = false;
    form->RunHandedJob(pc::JobKind::UpdatePrice, [&](const pc::JobOutcome &o) {
        out = o;
        done = true;
    });
    EXPECT_TRUE(form->BusyForJob()); // the update runs on its own thread
    ASSERT_TRUE(waitFor([&] { return done; }, 30000));
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_TRUE(out.summary.startsWith("Прайс не обновлён в ")) << out.summary.toStdString();
    EXPECT_TRUE(dialogs.questions.isEmpty()) << dialogs.questions.join('|').toStdString();
    EXPECT_TRUE(dialogs.notices.isEmpty()) << dialogs.notices.join('|').toStdString();
    EXPECT_EQ(linesWith(out.summary), 1);
    EXPECT_TRUE(form->ui->wbStartPage->toPlainText().contains(out.summary));
    EXPECT_FALSE(form->BusyForJob());

    // The person's dialogs answer again.
    dialogs.setNextAnswer(mrNo);
    EXPECT_EQ(form->AskQuestion("Закрыть программу?", false), mrNo);
    EXPECT_EQ(dialogs.questions.size(), 1);
}

// A new version a job left in the program folder is installed when the
// window starts, as after an update from the button: put aside for the
// launcher, and the program restarts.
TEST_F(WindowJobFixture, NewVersionLeftByAJobIsInstalledAtTheNextStart)
{
    dir.writeBytes("update", "#!/bin/sh\n# new version\n");
    QFile::setPermissions(dir.file("update"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    pc::test::SigningKey supplier;
    supplier.installIn(dir.path());
    supplier.signFile(dir.file("update"), dir.file("update.sig"));
    int launched = 0;
    form->startLauncher = [&](QString &) {
        ++launched;
        return true;
    };
    form->FormActivate();
    EXPECT_EQ(launched, 1);
    EXPECT_TRUE(dir.exists("Update/client"));
    EXPECT_FALSE(dir.exists("update"));
    EXPECT_TRUE(dialogs.notices.contains("Пришло обновление программы. Программа будет перезапущена!"));
}
