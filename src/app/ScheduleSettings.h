#pragma once
// The group of the settings page that schedules the automatic price update:
// «Обновлять прайс автоматически», a time and the days of the week, applied
// with its own button (the timer is put in place at once, not at the next
// start).

#include "core/UpdateSchedule.h"

#include <QGroupBox>
#include <memory>

namespace Ui {
class ScheduleSettings;
}

class ScheduleSettings : public QGroupBox {
    Q_OBJECT
public:
    // clientIni: where the schedule is kept; timer: puts it in place.
    ScheduleSettings(QString clientIni, std::unique_ptr<pc::UserTimer> timer, QWidget *parent = nullptr);
    ~ScheduleSettings() override;

    Ui::ScheduleSettings *ui;
    pc::UserTimer &timer() { return *m_timer; }

    // Shows the schedule kept in client.ini.
    void load();
    pc::UpdateSchedule value() const;
    // "Применить расписание": keeps the schedule and puts the timer in place;
    // the outcome (or the crontab line to use instead) shows under the group.
    pc::UserTimer::Applied btnApplyScheduleClick();

private:
    void show(const pc::UpdateSchedule &schedule);
    void enableControls();
    QString m_clientIni;
    std::unique_ptr<pc::UserTimer> m_timer;
};
