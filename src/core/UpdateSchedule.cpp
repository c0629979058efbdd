#include "core/UpdateSchedule.h"

#include "platform/AppError.h"
#include "platform/IniFile.h"
#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace pc {

namespace {
const QString kSection = QStringLiteral("Schedule");
const char *const kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

// A path in a unit file: "%" starts one of systemd's substitutions.
QString unitPath(const QString &path)
{
    QString p = path;
    p.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return p;
}

QString quotedUnitPath(const QString &path)
{
    QString p = unitPath(path);
    p.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + p + QLatin1Char('"');
}

QString shellQuoted(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + t + QLatin1Char('\'');
}

void writeWhole(const QString &file, const QString &text)
{
    QSaveFile f(file);
    const QByteArray bytes = text.toUtf8();
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        throw AppError(QStringLiteral("Не удалось записать файл %1: %2").arg(file, f.errorString()));
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

QString crontabLine(const UpdateSchedule &s, const QString &executable)
{
    QStringList days;
    for (int d : s.days)
        days << QString::number(d % 7); // cron counts Sunday as 0
    const QString when = QStringLiteral("%1 %2 * * %3")
                             .arg(s.time.minute())
                             .arg(s.time.hour())
                             .arg(s.days.size() == 7 ? QStringLiteral("*") : days.join(QLatin1Char(',')));
    const QFileInfo exe(executable);
    return when + QStringLiteral(" cd ") + shellQuoted(exe.absolutePath()) + QStringLiteral(" && ")
           + shellQuoted(exe.absoluteFilePath()) + QStringLiteral(" --update");
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
        return runAndWait(program, QStringList{QStringLiteral("--user")} + arguments, QDir::homePath(), 30000);
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
    const QFileInfo exe(m_executable);
    return QStringLiteral("[Unit]\n"
                          "Description=Pharmacy ordering client: price update for %1\n"
                          "\n"
                          "[Service]\n"
                          "Type=oneshot\n"
                          "WorkingDirectory=%2\n"
                          "ExecStart=%3 --update\n"
                          // Stopped by the system (a shutdown), the job is killed
                          // after a short wait: a kill leaves the old list or the
                          // new one whole.
                          "TimeoutStopSec=10\n")
        .arg(unitPath(exe.absolutePath()), unitPath(exe.absolutePath()), quotedUnitPath(exe.absoluteFilePath()));
}

QString UserTimer::timerText(const UpdateSchedule &schedule) const
{
    return QStringLiteral("[Unit]\n"
                          "Description=Pharmacy ordering client: price update for %1\n"
                          "\n"
                          "[Timer]\n"
                          "OnCalendar=%2\n"
                          "Persistent=true\n"
                          "Unit=%3.service\n"
                          "\n"
                          "[Install]\n"
                          "WantedBy=timers.target\n")
        .arg(unitPath(QFileInfo(m_executable).absolutePath()), onCalendarText(schedule), unitName());
}

bool UserTimer::run(const QStringList &arguments, QString &failure)
{
    const RunResult r = systemctl(arguments);
    if (r.status == RunResult::Finished && r.exitCode == 0)
        return true;
    if (failure.isEmpty())
        failure = r.status == RunResult::NotStarted ? r.error
                  : r.status == RunResult::TimedOut ? QStringLiteral("systemctl --user не ответил")
                                                    : QStringLiteral("systemctl --user %1 завершился с кодом %2")
                                                          .arg(arguments.join(QLatin1Char(' ')))
                                                          .arg(r.exitCode);
    return false;
}

UserTimer::Applied UserTimer::apply(const UpdateSchedule &schedule)
{
    Applied out;
    const QString timer = unitName() + QStringLiteral(".timer");
    QString failure;
    if (!schedule.enabled || schedule.days.empty()) {
        const bool had = QFileInfo::exists(timerFile()) || QFileInfo::exists(serviceFile());
        if (had)
            run({QStringLiteral("disable"), QStringLiteral("--now"), timer}, failure);
        QFile::remove(timerFile());
        QFile::remove(serviceFile());
        if (had)
            run({QStringLiteral("daemon-reload")}, failure);
        out.ok = true;
        out.message = QStringLiteral("Автоматическое обновление прайса выключено");
        if (!failure.isEmpty())
            out.message += QStringLiteral(" (файлы таймера удалены; %1)").arg(failure);
        return out;
    }
    try {
        if (!QDir().mkpath(unitFolder))
            throw AppError(QStringLiteral("Не удалось создать папку %1").arg(unitFolder));
        writeWhole(serviceFile(), serviceText());
        writeWhole(timerFile(), timerText(schedule));
    } catch (const AppError &e) {
        out.message = e.message();
        out.crontabLine = crontabLine(schedule, m_executable);
        return out;
    }
    if (run({QStringLiteral("daemon-reload")}, failure) && run({QStringLiteral("enable"), QStringLiteral("--now"), timer}, failure)) {
        out.ok = true;
        out.message = QStringLiteral("Прайс будет обновляться автоматически в %1 (таймер %2)")
                          .arg(schedule.time.toString(QStringLiteral("HH:mm")), timer);
        return out;
    }
    // Without a user service manager the timer would never run: nothing is
    // left half in place, and the crontab line does the same work.
    QFile::remove(timerFile());
    QFile::remove(serviceFile());
    out.crontabLine = crontabLine(schedule, m_executable);
    out.message = QStringLiteral("Таймер systemd не включён: %1. Добавьте в расписание cron (crontab -e) строку:\n%2")
                      .arg(failure, out.crontabLine);
    return out;
}

} // namespace pc
