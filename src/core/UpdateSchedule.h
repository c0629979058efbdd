#pragma once
// The automatic price update: a time and days of the week, kept in client.ini
// [Schedule], and put in place as a systemd user timer with its service for
// this program folder (~/.config/systemd/user/), enabled through
// `systemctl --user`. Persistent=true runs a missed morning at the next boot
// or login. Where systemctl --user cannot be used, the crontab line that does
// the same is offered instead.

#include "platform/Process.h"

#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>
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
// "30 6 * * 1,2,3 cd '/opt/apt' && './client' --update"
QString crontabLine(const UpdateSchedule &schedule, const QString &executable);

class UserTimer {
public:
    // executable: the program the timer starts (its folder is the program folder).
    explicit UserTimer(QString executable);

    // systemctl --user with these arguments. Tests put a recorder in its place.
    std::function<RunResult(const QStringList &arguments)> systemctl;
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
        bool ok = false;
        QString message;     // what was done, or why not, for the settings page
        QString crontabLine; // when systemctl --user could not be used
    };
    // Enabled with at least one day: writes both units and enables the timer;
    // otherwise disables it and removes the units.
    Applied apply(const UpdateSchedule &schedule);

private:
    bool run(const QStringList &arguments, QString &failure);
    QString m_executable;
};

} // namespace pc
