// The automatic price update's timer: unit files systemd accepts, enabled and
// removed through systemctl --user (replaced here by a recorder: systemd does
// not run these machines), the crontab line where systemctl cannot be used,
// and the settings group that keeps the schedule in client.ini.

#include "TempAppDir.h"

#include "app/ScheduleSettings.h"
#include "core/UpdateSchedule.h"
#include "platform/Process.h"
#include "ui_ScheduleSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ScheduleFixture : ::testing::Test {
    QTemporaryDir root;
    QString program; // a program folder with a blank and a "%" in its name
    QList<QStringList> calls;
    int systemctlExit = 0;
    bool systemctlMissing = false;

    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir().mkpath(root.filePath("Аптека 1%")));
        program = root.filePath("Аптека 1%/client");
        QFile f(program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nexit 0\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ASSERT_TRUE(QDir().mkpath(root.filePath("runtime")));
    }
    std::unique_ptr<pc::UserTimer> makeTimer()
    {
        auto timer = std::make_unique<pc::UserTimer>(program);
        timer->unitFolder = root.filePath("config/systemd/user");
        timer->systemctl = [this](const QStringList &arguments) {
            calls << arguments;
            pc::RunResult r;
            if (systemctlMissing) {
                r.error = "программа systemctl не найдена";
                return r;
            }
            r.status = pc::RunResult::Finished;
            r.exitCode = systemctlExit;
            return r;
        };
        return timer;
    }
    // systemd's own check of the units, as the user's service manager would load them.
    void expectSystemdAccepts(const pc::UserTimer &timer)
    {
        const QString err = root.filePath("verify.err");
        const pc::RunResult r = pc::runAndWait(
            "/bin/sh",
            {"-c", "XDG_RUNTIME_DIR=\"$1\" XDG_CONFIG_HOME=\"$2\" systemd-analyze verify --user \"$3\" \"$4\" 2>\"$5\"", "sh",
             root.filePath("runtime"), root.filePath("config"), timer.timerFile(), timer.serviceFile(), err},
            root.path(), 60000);
        QFile f(err);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray complaints = f.readAll();
        EXPECT_EQ(r.exitCode, 0) << complaints.toStdString();
        EXPECT_TRUE(complaints.isEmpty()) << complaints.toStdString();
    }
    static QString read(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

} // namespace

TEST_F(ScheduleFixture, TimerUnitsPassSystemdsCheckAreEnabledAndRemovedWhenSwitchedOff)
{
    auto timer = makeTimer();
    pc::UpdateSchedule s;
    s.enabled = true;
    s.time = QTime(6, 5);
    s.days = {1, 3, 5};
    const pc::UserTimer::Applied on = timer->apply(s);
    EXPECT_TRUE(on.ok) << on.message.toStdString();
    EXPECT_TRUE(on.crontabLine.isEmpty());
    const QString name = timer->unitName() + ".timer";
    EXPECT_EQ(calls, (QList<QStringList>{{"daemon-reload"}, {"enable", "--now", name}}));
    const QString timerText = read(timer->timerFile());
    EXPECT_TRUE(timerText.contains("\nOnCalendar=Mon,Wed,Fri *-*-* 06:05:00\n")) << timerText.toStdString();
    EXPECT_TRUE(timerText.contains("\nPersistent=true\n"));
    EXPECT_TRUE(read(timer->serviceFile()).contains("--update"));
    expectSystemdAccepts(*timer);

    s.days = {1, 2, 3, 4, 5, 6, 7};
    s.time = QTime(23, 59);
    ASSERT_TRUE(timer->apply(s).ok);
    EXPECT_TRUE(read(timer->timerFile()).contains("\nOnCalendar=*-*-* 23:59:00\n"));
    expectSystemdAccepts(*timer);

    // Another program folder gets units of its own.
    EXPECT_NE(pc::UserTimer(root.filePath("other/client")).unitName(), timer->unitName());

    calls.clear();
    s.enabled = false;
    const pc::UserTimer::Applied off = timer->apply(s);
    EXPECT_TRUE(off.ok);
    EXPECT_FALSE(QFileInfo::exists(timer->timerFile()));
    EXPECT_FALSE(QFileInfo::exists(timer->serviceFile()));
    EXPECT_EQ(calls, (QList<QStringList>{{"disable", "--now", name}, {"daemon-reload"}}));
}

TEST_F(ScheduleFixture, WithoutSystemctlTheCrontabLineIsOfferedAndNoUnitIsLeft)
{
    auto timer = makeTimer();
    pc::UpdateSchedule s;
    s.enabled = true;
    s.time = QTime(6, 30);
    s.days = {1, 2, 3, 4, 5, 6};
    for (const bool missing : {true, false}) {
        systemctlMissing = missing;
        systemctlExit = 1; // "Failed to connect to bus"
        const pc::UserTimer::Applied a = timer->apply(s);
        EXPECT_FALSE(a.ok);
        const QString folder = QFileInfo(program).absolutePath();
        EXPECT_EQ(a.crontabLine, "30 6 * * 1,2,3,4,5,6 cd '" + folder + "' && '" + program + "' --update");
        EXPECT_TRUE(a.message.contains(a.crontabLine));
        EXPECT_TRUE(a.message.contains("crontab"));
        EXPECT_FALSE(QFileInfo::exists(timer->timerFile()));
    }
    s.days = {7};
    EXPECT_TRUE(pc::crontabLine(s, program).startsWith("30 6 * * 0 ")) << "cron counts Sunday as 0";
}

TEST_F(ScheduleFixture, SettingsGroupKeepsTheScheduleAndPutsTheTimerInPlace)
{
    TempAppDir dir;
    dir.writeText("client.ini", "[Header]\nClientCode=1234\n");
    ScheduleSettings group(dir.file("client.ini"), makeTimer());
    group.load();
    EXPECT_FALSE(group.ui->chkAutoUpdate->isChecked());
    EXPECT_FALSE(group.ui->teAutoUpdateTime->isEnabled());
    group.ui->chkAutoUpdate->setChecked(true);
    EXPECT_TRUE(group.ui->teAutoUpdateTime->isEnabled());
    group.ui->teAutoUpdateTime->setTime(QTime(7, 15));
    group.ui->chkDay7->setChecked(false);
    group.ui->btnApplySchedule->click();
    EXPECT_TRUE(QFileInfo::exists(group.timer().timerFile()));
    EXPECT_TRUE(group.ui->lblScheduleState->text().contains("07:15")) << group.ui->lblScheduleState->text().toStdString();
    const QString ini = dir.readText("client.ini");
    EXPECT_TRUE(ini.contains("[Schedule]\nEnabled=1\nTime=07:15\nDays=1,2,3,4,5,6")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("ClientCode=1234"));

    ScheduleSettings again(dir.file("client.ini"), makeTimer());
    again.load();
    EXPECT_EQ(again.value(), group.value());

    again.ui->chkAutoUpdate->setChecked(false);
    again.ui->btnApplySchedule->click();
    EXPECT_FALSE(QFileInfo::exists(group.timer().timerFile()));
}
