// The automatic price update's timer: unit files systemd accepts, enabled and
// removed through systemctl --user (replaced here by a recorder: systemd does
// not run these machines), the crontab line where systemctl cannot be used,
// program folders whose names need quoting, steps that fail, and the settings
// group that keeps the schedule in client.ini.

#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "app/ScheduleSettings.h"
#include "core/UpdateSchedule.h"
#include "platform/Process.h"
#include "platform/WholeFile.h"
#include "ui_ScheduleSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct ScheduleFixture : ::testing::Test {
    QTemporaryDir root;
    QString program; // a program folder with a blank and a "%" in its name
    QList<QStringList> calls;
    int systemctlExit = 0;
    bool systemctlMissing = false;
    QByteArray oldRuntime, oldConfig;

    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        program = makeProgram("Аптека 1%");
        ASSERT_TRUE(QDir().mkpath(root.filePath("runtime")));
        // The units' own check runs as in the user's session.
        oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.filePath("runtime")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath("config")));
    }
    void TearDown() override
    {
        pc::setFileFaultHook({});
        for (const auto &[name, value] : {std::pair{"XDG_RUNTIME_DIR", oldRuntime}, std::pair{"XDG_CONFIG_HOME", oldConfig}}) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }
    // A program in its own folder that writes where it ran and how it was
    // called to $PC_TEST_RAN.
    QString makeProgram(const QString &folder)
    {
        const QString dir = root.filePath(folder);
        EXPECT_TRUE(QDir().mkpath(dir));
        const QString file = dir + "/client";
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nprintf '%s\\n%s\\n%s' \"$PWD\" \"$0\" \"$*\" > \"$PC_TEST_RAN\"\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return file;
    }
    std::unique_ptr<pc::UserTimer> makeTimer(const QString &executable = QString())
    {
        auto timer = std::make_unique<pc::UserTimer>(executable.isEmpty() ? program : executable);
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
            if (systemctlExit != 0)
                r.errors = "Failed to connect to bus: No medium found\n";
            return r;
        };
        return timer;
    }
    static pc::UpdateSchedule weekdays()
    {
        pc::UpdateSchedule s;
        s.enabled = true;
        s.time = QTime(6, 30);
        s.days = {1, 2, 3, 4, 5, 6};
        return s;
    }
    // systemd's own check of the units, as the user's service manager would load them.
    void expectSystemdAccepts(const pc::UserTimer &timer)
    {
        const pc::RunResult r = pc::runAndCapture(QStandardPaths::findExecutable("systemd-analyze"),
                                                  {"verify", "--user", timer.timerFile(), timer.serviceFile()}, root.path(), 60000);
        EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
        EXPECT_TRUE(r.errors.isEmpty()) << r.errors.toStdString();
    }
    // Runs the command of a crontab line as cron does: "\%" gives "%", the
    // first other "%" ends the command, and /bin/sh runs the rest. Returns
    // what the program wrote: the folder it ran in, its path, its arguments.
    QStringList runAsCron(const QString &line)
    {
        // Some crons also take "\\" for one backslash: the line has none.
        EXPECT_FALSE(line.contains("\\\\")) << line.toStdString();
        const QString command = line.section(' ', 5);
        QString shell;
        bool escaped = false;
        for (const QChar c : command) {
            if (escaped) {
                if (c != '%')
                    shell += '\\';
                shell += c;
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '%') {
                break;
            } else {
                shell += c;
            }
        }
        const QString ran = root.filePath("ran.txt");
        QFile::remove(ran);
        qputenv("PC_TEST_RAN", QFile::encodeName(ran));
        const pc::RunResult r = pc::runAndCapture("/bin/sh", {"-c", shell}, root.path(), 10000);
        EXPECT_EQ(r.exitCode, 0) << shell.toStdString() << r.errors.toStdString();
        QFile f(ran);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n') : QStringList{"<not run>"};
    }
    // Runs the service's command as systemd reads a unit: words split at
    // blanks, quotes and backslash escapes undone, "%%" a "%", and in the
    // arguments "$$" a "$" and "$NAME" a variable; in the folder
    // WorkingDirectory= names.
    QStringList runAsSystemd(const QString &unit)
    {
        auto value = [&](const QString &key) {
            for (const QString &line : unit.split('\n'))
                if (line.startsWith(key + '='))
                    return line.mid(key.size() + 1);
            return QString();
        };
        QStringList words;
        QString word;
        bool any = false;
        QChar quote;
        const QString exec = value("ExecStart");
        for (qsizetype i = 0; i < exec.size(); ++i) {
            const QChar c = exec[i];
            if (c == '\\' && i + 1 < exec.size()) {
                word += exec[++i];
                any = true;
            } else if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
                else
                    word += c;
            } else if (c == '"' || c == '\'') {
                quote = c;
                any = true;
            } else if (c == ' ') {
                if (any)
                    words << word;
                word.clear();
                any = false;
            } else {
                word += c;
                any = true;
            }
        }
        if (any)
            words << word;
        for (qsizetype i = 0; i < words.size(); ++i) {
            words[i].replace("%%", "%");
            if (i == 0)
                continue;
            // An argument's "$NAME" would be the variable's value.
            QString arg;
            for (qsizetype k = 0; k < words[i].size(); ++k) {
                if (words[i][k] != '$')
                    arg += words[i][k];
                else if (k + 1 < words[i].size() && words[i][k + 1] == '$')
                    arg += words[i][++k];
                else
                    arg += "<variable>";
            }
            words[i] = arg;
        }
        const QString folder = value("WorkingDirectory").replace("%%", "%");
        const QString ran = root.filePath("ran.txt");
        QFile::remove(ran);
        qputenv("PC_TEST_RAN", QFile::encodeName(ran));
        if (words.isEmpty())
            return {"<no command>"};
        const pc::RunResult r = pc::runAndCapture(words[0], words.mid(1), folder, 10000);
        EXPECT_EQ(r.exitCode, 0) << words.join('|').toStdString() << r.errors.toStdString();
        QFile f(ran);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n') : QStringList{"<not run>"};
    }
    static QString read(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    bool unitsLeft(const pc::UserTimer &timer) const
    {
        return QFileInfo::exists(timer.timerFile()) || QFileInfo::exists(timer.serviceFile());
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
    EXPECT_TRUE(on.details.join('\n').contains("systemd-analyze verify --user: код завершения 0"))
        << on.details.join('\n').toStdString();
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
    EXPECT_FALSE(unitsLeft(*timer));
    EXPECT_EQ(calls, (QList<QStringList>{{"disable", "--now", name}, {"daemon-reload"}}));
}

// Folder names that need systemd's and the shell's quoting: the units pass
// systemd's check (which also finds the program by the written path), and the
// crontab line, read the way cron and /bin/sh read it, runs the program in
// its folder.
TEST_F(ScheduleFixture, FolderNamesWithQuotesBackslashesPercentAndDollarsAreWrittenSoTheyNameTheProgram)
{
    for (const QString folder : {QString("Аптека 1% $HOME"), QString("Склад \"Юг\" 100%\\"), QString("a\\\\b\\%c $HOME 'q' ;x"),
                                 QString("%n%% \\\"\\'")}) {
        SCOPED_TRACE(folder.toStdString());
        const QString exe = makeProgram(folder);
        auto timer = makeTimer(exe);
        calls.clear();
        const pc::UserTimer::Applied a = timer->apply(weekdays());
        EXPECT_TRUE(a.ok) << a.message.toStdString() << "\n" << a.details.join('\n').toStdString();
        EXPECT_EQ(calls.size(), 2);
        expectSystemdAccepts(*timer);
        const QString service = read(timer->serviceFile());
        EXPECT_EQ(runAsSystemd(service), (QStringList{root.filePath(folder), exe, "--update"})) << service.toStdString();

        const QString line = pc::crontabLine(weekdays(), exe);
        EXPECT_TRUE(line.startsWith("30 6 * * 1,2,3,4,5,6 cd ")) << line.toStdString();
        EXPECT_EQ(runAsCron(line), (QStringList{root.filePath(folder), exe, "--update"})) << line.toStdString();
    }
    // cron counts Sunday as 0.
    pc::UpdateSchedule sunday = weekdays();
    sunday.days = {7};
    EXPECT_TRUE(pc::crontabLine(sunday, program).startsWith("30 6 * * 0 "));
}

TEST_F(ScheduleFixture, AFolderNameWithALineBreakIsRefusedAndNothingIsWritten)
{
    for (const QString folder : {QString("Аптека\nExecStartPre=/bin/false"), QString("tab\there")}) {
        SCOPED_TRACE(folder.toStdString());
        const QString exe = makeProgram(folder);
        auto timer = makeTimer(exe);
        calls.clear();
        const pc::UserTimer::Applied a = timer->apply(weekdays());
        EXPECT_FALSE(a.ok);
        EXPECT_TRUE(a.message.contains("перевод строки")) << a.message.toStdString();
        EXPECT_FALSE(a.message.contains('\n'));
        EXPECT_TRUE(a.crontabLine.isEmpty());
        EXPECT_TRUE(pc::crontabLine(weekdays(), exe).isEmpty());
        EXPECT_FALSE(unitsLeft(*timer));
        EXPECT_TRUE(calls.isEmpty());
    }
}

// No step that failed is reported as applied, and a failure leaves no timer
// running what the page does not say.
TEST_F(ScheduleFixture, AFailedStepIsNotReportedAsAppliedAndLeavesNoUnits)
{
    auto timer = makeTimer();
    const QString name = timer->unitName() + ".timer";

    // A full disk while the timer is written: its service goes too.
    pc::setFileFaultHook([](pc::FileStep step, const QString &target, qint64) {
        return step == pc::FileStep::Write && target.endsWith(".timer") ? ENOSPC : 0;
    });
    pc::UserTimer::Applied a = timer->apply(weekdays());
    EXPECT_FALSE(a.ok);
    EXPECT_TRUE(a.message.contains("на диске нет места")) << a.message.toStdString();
    EXPECT_FALSE(unitsLeft(*timer));
    EXPECT_TRUE(calls.isEmpty());

    // The same over a timer that is in force: it is switched off, not left
    // running beside units that are gone.
    pc::setFileFaultHook({});
    ASSERT_TRUE(timer->apply(weekdays()).ok);
    calls.clear();
    pc::setFileFaultHook([](pc::FileStep step, const QString &target, qint64) {
        return step == pc::FileStep::Rename && target.endsWith(".service") ? ENOSPC : 0;
    });
    a = timer->apply(weekdays());
    EXPECT_FALSE(a.ok);
    EXPECT_FALSE(unitsLeft(*timer));
    EXPECT_EQ(calls, (QList<QStringList>{{"disable", "--now", name}, {"daemon-reload"}}));
    pc::setFileFaultHook({});

    // systemd's check complains (exit 0, a warning on standard error): not enabled.
    calls.clear();
    timer->verify = [](const QStringList &) -> std::optional<pc::RunResult> {
        pc::RunResult r;
        r.status = pc::RunResult::Finished;
        r.exitCode = 0;
        r.errors = "x.timer:5: Failed to parse calendar value, ignoring: Mon *-*-* 25:00:00\n";
        return r;
    };
    a = timer->apply(weekdays());
    EXPECT_FALSE(a.ok);
    EXPECT_FALSE(unitsLeft(*timer));
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_FALSE(a.crontabLine.isEmpty());
    EXPECT_TRUE(a.details.join('\n').contains("Failed to parse calendar value"));

    // Where there is no systemd-analyze the check is skipped.
    timer->verify = [](const QStringList &) -> std::optional<pc::RunResult> { return std::nullopt; };
    EXPECT_TRUE(timer->apply(weekdays()).ok);
}

TEST_F(ScheduleFixture, WithoutSystemctlOneSentenceSaysWhatToDoAndTheCommandsWordsGoToTheDetails)
{
    auto timer = makeTimer();
    for (const bool missing : {true, false}) {
        SCOPED_TRACE(missing);
        systemctlMissing = missing;
        systemctlExit = 1;
        const pc::UserTimer::Applied a = timer->apply(weekdays());
        EXPECT_FALSE(a.ok);
        EXPECT_EQ(a.crontabLine, pc::crontabLine(weekdays(), program));
        EXPECT_FALSE(a.crontabLine.isEmpty());
        // One sentence for the pharmacist: no command, no code, no crontab line.
        EXPECT_TRUE(a.message.startsWith("Автоматическое обновление прайса не включено: ")) << a.message.toStdString();
        EXPECT_TRUE(a.message.contains("администратор"));
        for (const char *inner : {"systemctl", "код", "crontab", "\n", "06"})
            EXPECT_FALSE(a.message.contains(inner)) << inner << " in " << a.message.toStdString();
        const QString details = a.details.join('\n');
        EXPECT_TRUE(details.contains(missing ? "systemctl --user daemon-reload: не запущена (программа systemctl не найдена)"
                                             : "systemctl --user daemon-reload: код завершения 1: Failed to connect to bus"))
            << details.toStdString();
        EXPECT_FALSE(unitsLeft(*timer));
    }
}

TEST_F(ScheduleFixture, SettingsGroupKeepsTheScheduleAndPutsTheTimerInPlace)
{
    TempAppDir dir;
    dir.writeText("client.ini", "[Header]\nClientCode=1234\n");
    RecordingLog log;
    ScheduleSettings group(dir.file("client.ini"), makeTimer(), &log);
    group.show();
    group.load();
    EXPECT_FALSE(group.ui->chkAutoUpdate->isChecked());
    EXPECT_FALSE(group.ui->teAutoUpdateTime->isEnabled());
    group.ui->chkAutoUpdate->setChecked(true);
    EXPECT_TRUE(group.ui->teAutoUpdateTime->isEnabled());
    group.ui->teAutoUpdateTime->setTime(QTime(7, 15));
    group.ui->chkDay7->setChecked(false);
    QTest::mouseClick(group.ui->btnApplySchedule, Qt::LeftButton);
    EXPECT_TRUE(QFileInfo::exists(group.timer().timerFile()));
    EXPECT_TRUE(group.ui->lblScheduleState->text().contains("07:15")) << group.ui->lblScheduleState->text().toStdString();
    EXPECT_TRUE(log.details.join('\n').contains("enable --now")) << log.details.join('\n').toStdString();
    const QString ini = dir.readText("client.ini");
    EXPECT_TRUE(ini.contains("[Schedule]\nEnabled=1\nTime=07:15\nDays=1,2,3,4,5,6")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("ClientCode=1234"));

    ScheduleSettings again(dir.file("client.ini"), makeTimer(), &log);
    again.show();
    again.load();
    EXPECT_EQ(again.value(), group.value());

    // Where the timer cannot be enabled the page says so, and the crontab
    // line goes to the message log.
    systemctlExit = 1;
    QTest::mouseClick(again.ui->btnApplySchedule, Qt::LeftButton);
    EXPECT_TRUE(again.ui->lblScheduleState->text().contains("не включено"));
    EXPECT_FALSE(QFileInfo::exists(group.timer().timerFile()));
    EXPECT_TRUE(log.contains(pc::crontabLine(again.value(), program), Info));

    systemctlExit = 0;
    again.ui->chkAutoUpdate->setChecked(false);
    QTest::mouseClick(again.ui->btnApplySchedule, Qt::LeftButton);
    EXPECT_EQ(again.ui->lblScheduleState->text(), "Автоматическое обновление прайса выключено");
}
