#pragma once
// The automatic price update: a time and days of the week, kept in client.ini
// [Schedule], and put in place as a systemd user timer with its service for
// this program folder (~/.config/systemd/user/), checked with
// `systemd-analyze verify --user` where that exists and enabled through
// `systemctl --user`. Persistent=true runs a missed morning at the next boot
// or login. Where the timer cannot be put in place, the crontab line that does
// the same is offered instead.
//
// The program's path goes into the unit files quoted by systemd's rules and
// into the crontab line quoted by cron's and the shell's. A path that neither
// can carry (a line break or another control character in a folder name) is
// refused before anything is written.

#include "platform/Process.h"

#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>
#include <optional>
#include <set>

namespace pc {

struct UpdateSchedule {
    bool enabled = false;
    QTime time{6, 30};
    std::set<int> days{1, 2, 3, 4, 5, 6, 7}; // 1 Monday .. 7 Sunday
    bool operator==(const UpdateSchedule &) const = default;
};

UpdateSchedule readSchedule(const QString &clientIni);
void writeSchedule(const QString &clientIni, const UpdateSchedule &schedule);

// "Mon,Tue,Wed *-*-* 06:30:00"
QString onCalendarText(const UpdateSchedule &schedule);

// True when the path can be written into a unit file and a crontab line: no
// control character (a line break above all) and nothing that was not a
// character in the file system's encoding.
bool isExpressiblePath(const QString &path);
// One word of a unit's command line: in double quotes, with "\" and '"'
// escaped by a backslash, "%" doubled (a specifier) and, in an argument, "$"
// doubled (a variable; the program's own name is not expanded). The word must
// be expressible.
QString systemdCommandWord(const QString &word, bool executable);
// The value of ExecStart= that runs `program --update`.
QString execStartValue(const QString &program);
// One word for /bin/sh inside a crontab line: in single quotes, with every
// "%" (cron's line break) written \% outside the quotes, and no two
// backslashes side by side (some crons take "\\" for one). The path must be
// expressible.
QString crontabShellWord(const QString &word);
// "30 6 * * 1,2,3 cd '/opt/apt' && '/opt/apt/client' --update"; empty when
// the path is not expressible.
QString crontabLine(const UpdateSchedule &schedule, const QString &executable);

class UserTimer {
public:
    // executable: the program the timer starts (its folder is the program folder).
    explicit UserTimer(QString executable);

    // systemctl --user with these arguments, its output collected. Tests put a
    // recorder in its place.
    std::function<RunResult(const QStringList &arguments)> systemctl;
    // systemd-analyze verify --user on these unit files; nullopt where the
    // machine has no systemd-analyze (the check is then skipped).
    std::function<std::optional<RunResult>(const QStringList &unitFiles)> verify;
    // Where the unit files go; by default $XDG_CONFIG_HOME/systemd/user
    // (~/.config/systemd/user).
    QString unitFolder;

    // "pharmacy-client-<key of the program folder>"
    QString unitName() const;
    QString timerFile() const { return unitFolder + QLatin1Char('/') + unitName() + QStringLiteral(".timer"); }
    QString serviceFile() const { return unitFolder + QLatin1Char('/') + unitName() + QStringLiteral(".service"); }
    QString timerText(const UpdateSchedule &schedule) const;
    QString serviceText() const;

    struct Applied {
        bool ok = false;     // every step done: the schedule is in force as asked
        QString message;     // one sentence for the settings page
        QString crontabLine; // when the timer could not be put in place
        QStringList details; // the commands' own words, for the detail log
    };
    // Enabled with at least one day: writes both units, checks them and
    // enables the timer; otherwise disables it and removes the units.
    Applied apply(const UpdateSchedule &schedule);

private:
    bool run(const QStringList &arguments, Applied &out);
    bool checkUnits(Applied &out);
    void removeUnits(Applied &out, bool reload);
    Applied offerCrontab(Applied out, const UpdateSchedule &schedule, const QString &why);
    QString m_executable;
};

} // namespace pc
