#pragma once
// The group of the settings page that schedules the automatic price update:
// «Обновлять прайс автоматически», a time and the days of the week, applied
// with its own button (the timer is put in place at once, not at the next
// start).

#include "core/UpdateSchedule.h"

#include <QGroupBox>
#include <memory>

class MessageLog;

namespace Ui {
class ScheduleSettings;
}

class ScheduleSettings : public QGroupBox {
    Q_OBJECT
public:
    // clientIni: where the schedule is kept; timer: puts it in place; log:
    // where the commands' own words and the crontab line go (may be null).
    ScheduleSettings(QString clientIni, std::unique_ptr<pc::UserTimer> timer, MessageLog *log = nullptr,
                     QWidget *parent = nullptr);
    ~ScheduleSettings() override;

    Ui::ScheduleSettings *ui;
    pc::UserTimer &timer() { return *m_timer; }

    // Shows the schedule kept in client.ini.
    void load();
    pc::UpdateSchedule value() const;
    // "Применить расписание": keeps the schedule and puts the timer in place;
    // the outcome shows under the group in one sentence; the commands' output
    // goes to the detail log and a crontab line to use instead to the log.
    pc::UserTimer::Applied btnApplyScheduleClick();

private:
    void showSchedule(const pc::UpdateSchedule &schedule);
    void enableControls();
    QString m_clientIni;
    MessageLog *m_log;
    std::unique_ptr<pc::UserTimer> m_timer;
};
