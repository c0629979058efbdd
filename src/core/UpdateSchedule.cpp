#include "core/UpdateSchedule.h"

#include "platform/AppError.h"
#include "platform/IniFile.h"
#include "platform/SingleInstance.h"
#include "platform/WholeFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace pc {

namespace {
const QString kSection = QStringLiteral("Schedule");
const char *const kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const QString kNotOn = QStringLiteral("Автоматическое обновление прайса не включено: ");

// A value of a unit file that is taken as a whole (a path, a description):
// "%" starts one of systemd's specifiers. It never ends in a backslash, which
// would join the next line to it: a folder gets its closing "/".
QString unitValue(const QString &text)
{
    QString t = text;
    return t.replace(QLatin1Char('%'), QStringLiteral("%%"));
}

QString folderOf(const QString &executable)
{
    return QDir::cleanPath(QFileInfo(executable).absolutePath());
}

QString programOf(const QString &executable)
{
    return QDir::cleanPath(QFileInfo(executable).absoluteFilePath());
}

QString lowerFirst(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

// The command's own words for the detail log.
QString commandReport(const QString &command, const RunResult &r)
{
    QString text = command + QStringLiteral(": ");
    switch (r.status) {
    case RunResult::NotStarted: text += QStringLiteral("не запущена (") + r.error + QLatin1Char(')'); break;
    case RunResult::TimedOut: text += QStringLiteral("не ответила вовремя"); break;
    case RunResult::Finished: text += QStringLiteral("код завершения %1").arg(r.exitCode); break;
    }
    const QString said = QString::fromLocal8Bit(r.output + r.errors).trimmed();
    if (!said.isEmpty())
        text += QStringLiteral(": ") + said;
    return text;
}
} // namespace

UpdateSchedule readSchedule(const QString &clientIni)
{
    const IniFile ini(clientIni);
    UpdateSchedule s;
    s.enabled = ini.readBool(kSection, QStringLiteral("Enabled"), false);
    const QTime t = QTime::fromString(ini.readString(kSection, QStringLiteral("Time"), QStringLiteral("06:30")), QStringLiteral("HH:mm"));
    if (t.isValid())
        s.time = t;
    const QString days = ini.readString(kSection, QStringLiteral("Days"), QStringLiteral("1,2,3,4,5,6,7"));
    s.days.clear();
    for (const QString &d : days.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int n = d.trimmed().toInt();
        if (n >= 1 && n <= 7)
            s.days.insert(n);
    }
    return s;
}

void writeSchedule(const QString &clientIni, const UpdateSchedule &s)
{
    IniFile ini(clientIni);
    ini.writeBool(kSection, QStringLiteral("Enabled"), s.enabled);
    ini.writeString(kSection, QStringLiteral("Time"), s.time.toString(QStringLiteral("HH:mm")));
    QStringList days;
    for (int d : s.days)
        days << QString::number(d);
    ini.writeString(kSection, QStringLiteral("Days"), days.join(QLatin1Char(',')));
}

QString onCalendarText(const UpdateSchedule &s)
{
    QStringList days;
    for (int d : s.days)
        days << QString::fromLatin1(kDayNames[d - 1]);
    const QString time = s.time.toString(QStringLiteral("HH:mm")) + QStringLiteral(":00");
    if (s.days.size() == 7)
        return QStringLiteral("*-*-* ") + time;
    return days.join(QLatin1Char(',')) + QStringLiteral(" *-*-* ") + time;
}

bool isExpressiblePath(const QString &path)
{
    if (path.isEmpty())
        return false;
    for (const QChar c : path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QChar::ReplacementCharacter || c.isNonCharacter())
            return false;
    // A name the file system's encoding cannot carry both ways would name
    // another file.
    return QFile::decodeName(QFile::encodeName(path)) == path;
}

QString systemdCommandWord(const QString &word, bool executable)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : word) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\');
        else if (c == QLatin1Char('%') || (c == QLatin1Char('$') && !executable))
            out += c;
        out += c;
    }
    return out + QLatin1Char('"');
}

QString execStartValue(const QString &program)
{
    // systemd takes no quote, apostrophe or backslash in the name of the
    // program it starts (and expands no variable there); such a path is
    // handed to the shell as an argument, where any character may stand.
    const bool plain = !program.contains(QLatin1Char('"')) && !program.contains(QLatin1Char('\''))
                       && !program.contains(QLatin1Char('\\'));
    if (plain)
        return systemdCommandWord(program, true) + QStringLiteral(" --update");
    return QStringLiteral("/bin/sh -c \"exec \\\"$$0\\\" --update\" ") + systemdCommandWord(program, false);
}

QString crontabShellWord(const QString &word)
{
    QString out = QStringLiteral("'");
    for (qsizetype i = 0; i < word.size(); ++i) {
        const QChar c = word[i];
        if (c == QLatin1Char('\''))
            out += QStringLiteral("'\\''");
        else if (c == QLatin1Char('%'))
            out += QStringLiteral("'\\%'");
        else {
            out += c;
            if (c == QLatin1Char('\\') && i + 1 < word.size() && word[i + 1] == QLatin1Char('\\'))
                out += QStringLiteral("''");
        }
    }
    return out + QLatin1Char('\'');
}

QString crontabLine(const UpdateSchedule &s, const QString &executable)
{
    const QString folder = folderOf(executable);
    const QString program = programOf(executable);
    if (!isExpressiblePath(program))
        return QString();
    QStringList days;
    for (int d : s.days)
        days << QString::number(d % 7); // cron counts Sunday as 0
    const QString when = QStringLiteral("%1 %2 * * %3")
                             .arg(s.time.minute())
                             .arg(s.time.hour())
                             .arg(s.days.size() == 7 ? QStringLiteral("*") : days.join(QLatin1Char(',')));
    return when + QStringLiteral(" cd ") + crontabShellWord(folder) + QStringLiteral(" && ") + crontabShellWord(program)
           + QStringLiteral(" --update");
}

UserTimer::UserTimer(QString executable) : m_executable(std::move(executable))
{
    unitFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/systemd/user");
    systemctl = [](const QStringList &arguments) {
        const QString program = findProgram(QStringLiteral("systemctl"), QString());
        if (program.isEmpty()) {
            RunResult r;
            r.error = QStringLiteral("программа systemctl не найдена");
            return r;
        }
        return runAndCapture(program, QStringList{QStringLiteral("--user")} + arguments, QDir::homePath(), 30000);
    };
    verify = [](const QStringList &unitFiles) -> std::optional<RunResult> {
        const QString program = findProgram(QStringLiteral("systemd-analyze"), QString());
        if (program.isEmpty())
            return std::nullopt;
        return runAndCapture(program, QStringList{QStringLiteral("verify"), QStringLiteral("--user")} + unitFiles,
                             QDir::homePath(), 60000);
    };
}

QString UserTimer::unitName() const
{
    const QString folder = QFileInfo(m_executable).absolutePath();
    const QString canonical = QFileInfo(folder).canonicalFilePath().isEmpty() ? folder : QFileInfo(folder).canonicalFilePath();
    return QStringLiteral("pharmacy-client-")
           + QString::fromLatin1(QCryptographicHash::hash(QFile::encodeName(canonical), QCryptographicHash::Sha1).toHex().left(12));
}

QString UserTimer::serviceText() const
{
    const QString folder = unitValue(folderOf(m_executable)) + QLatin1Char('/');
    return QStringLiteral("[Unit]\n"
                          "Description=Pharmacy ordering client: price update for %1\n"
                          "\n"
                          "[Service]\n"
                          "Type=oneshot\n"
                          "WorkingDirectory=%2\n"
                          "ExecStart=%3\n"
                          // Stopped by the system (a shutdown), the job is killed
                          // after a short wait: a kill leaves the old list or the
                          // new one whole.
                          "TimeoutStopSec=10\n")
        .arg(folder, folder, execStartValue(programOf(m_executable)));
}

QString UserTimer::timerText(const UpdateSchedule &schedule) const
{
    return QStringLiteral("[Unit]\n"
                          "Description=Pharmacy ordering client: price update for %1/\n"
                          "\n"
                          "[Timer]\n"
                          "OnCalendar=%2\n"
                          "Persistent=true\n"
                          "Unit=%3.service\n"
                          "\n"
                          "[Install]\n"
                          "WantedBy=timers.target\n")
        .arg(unitValue(folderOf(m_executable)), onCalendarText(schedule), unitName());
}

bool UserTimer::run(const QStringList &arguments, Applied &out)
{
    const RunResult r = systemctl(arguments);
    out.details << commandReport(QStringLiteral("systemctl --user ") + arguments.join(QLatin1Char(' ')), r);
    return r.status == RunResult::Finished && r.exitCode == 0;
}

// systemd's own reading of the units, as the user's service manager would
// load them: a complaint of any kind on standard error counts (a bad
// OnCalendar= gives exit 0 and only a warning).
bool UserTimer::checkUnits(Applied &out)
{
    const std::optional<RunResult> r = verify({timerFile(), serviceFile()});
    if (!r)
        return true;
    out.details << commandReport(QStringLiteral("systemd-analyze verify --user"), *r);
    return r->status == RunResult::Finished && r->exitCode == 0 && r->errors.trimmed().isEmpty();
}

void UserTimer::removeUnits(Applied &out, bool reload)
{
    for (const QString &file : {timerFile(), serviceFile()}) {
        if (QFileInfo::exists(file) && !QFile::remove(file))
            out.details << QStringLiteral("Не удалось удалить файл %1").arg(QDir::toNativeSeparators(file));
    }
    if (reload)
        run({QStringLiteral("daemon-reload")}, out);
}

UserTimer::Applied UserTimer::offerCrontab(Applied out, const UpdateSchedule &schedule, const QString &why)
{
    out.ok = false;
    out.crontabLine = crontabLine(schedule, m_executable);
    out.message = kNotOn + why
                  + QStringLiteral(", обратитесь к системному администратору (строка для cron записана в журнал сообщений)");
    return out;
}

UserTimer::Applied UserTimer::apply(const UpdateSchedule &schedule)
{
    Applied out;
    const QString timer = unitName() + QStringLiteral(".timer");
    if (!schedule.enabled || schedule.days.empty()) {
        const bool had = QFileInfo::exists(timerFile()) || QFileInfo::exists(serviceFile());
        bool stopped = true;
        if (had) {
            const RunResult r = systemctl({QStringLiteral("disable"), QStringLiteral("--now"), timer});
            out.details << commandReport(QStringLiteral("systemctl --user disable --now ") + timer, r);
            // Without systemctl no timer of ours can be running.
            stopped = r.status == RunResult::NotStarted || (r.status == RunResult::Finished && r.exitCode == 0);
        }
        removeUnits(out, had && stopped);
        if (QFileInfo::exists(timerFile()) || QFileInfo::exists(serviceFile())) {
            out.message = QStringLiteral("Автоматическое обновление прайса не выключено: не удалось удалить файлы "
                                         "таймера из папки %1, проверьте права на неё")
                              .arg(QDir::toNativeSeparators(unitFolder));
            return out;
        }
        out.ok = stopped;
        out.message = stopped ? QStringLiteral("Автоматическое обновление прайса выключено")
                              : QStringLiteral("Автоматическое обновление прайса выключено не до конца: файлы таймера "
                                               "удалены, но systemd не подтвердил остановку, поэтому до следующего "
                                               "входа в систему обновление может запуститься ещё раз");
        return out;
    }

    if (!isExpressiblePath(programOf(m_executable))) {
        out.message = kNotOn
                      + QStringLiteral("в пути к папке программы есть перевод строки или другой управляющий знак, "
                                       "переименуйте папку и примените расписание снова");
        out.details << QStringLiteral("Путь к программе: %1").arg(programOf(m_executable));
        return out;
    }
    // A timer put in place earlier goes if the new one cannot take its
    // place: it would go on running what the page no longer says.
    const bool had = QFileInfo::exists(timerFile()) || QFileInfo::exists(serviceFile());
    auto withdraw = [&] {
        if (had)
            run({QStringLiteral("disable"), QStringLiteral("--now"), timer}, out);
        removeUnits(out, had);
    };
    try {
        if (!QDir().mkpath(unitFolder))
            throw AppError(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(unitFolder)));
        writeWholeFile(serviceFile(), serviceText().toUtf8());
        writeWholeFile(timerFile(), timerText(schedule).toUtf8());
    } catch (const AppError &e) {
        withdraw();
        out.details << e.message();
        out.message = kNotOn + lowerFirst(e.message())
                      + QStringLiteral(", освободите место на диске или проверьте права на папку и примените расписание снова");
        return out;
    }
    if (!checkUnits(out)) {
        withdraw();
        return offerCrontab(out, schedule, QStringLiteral("systemd не принял файлы таймера"));
    }
    if (run({QStringLiteral("daemon-reload")}, out) && run({QStringLiteral("enable"), QStringLiteral("--now"), timer}, out)) {
        out.ok = true;
        out.message = QStringLiteral("Прайс будет обновляться автоматически в %1 по выбранным дням недели")
                          .arg(schedule.time.toString(QStringLiteral("HH:mm")));
        out.details << QStringLiteral("Таймер %1 включён").arg(timer);
        return out;
    }
    // Without a user service manager the timer would never run: nothing is
    // left half in place, and the crontab line does the same work.
    removeUnits(out, true);
    return offerCrontab(out, schedule, QStringLiteral("служба расписаний systemd недоступна"));
}

} // namespace pc
