#include "app/ScheduleSettings.h"

#include "ui_ScheduleSettings.h"

#include "core/MessageLog.h"
#include "platform/AppError.h"

ScheduleSettings::ScheduleSettings(QString clientIni, std::unique_ptr<pc::UserTimer> timer, MessageLog *log,
                                   QWidget *parent)
    : QGroupBox(parent), ui(new Ui::ScheduleSettings), m_clientIni(std::move(clientIni)), m_log(log),
      m_timer(std::move(timer))
{
    ui->setupUi(this);
    connect(ui->chkAutoUpdate, &QCheckBox::toggled, this, &ScheduleSettings::enableControls);
    connect(ui->btnApplySchedule, &QPushButton::clicked, this, [this] { btnApplyScheduleClick(); });
    ui->lblScheduleState->hide(); // until there is something to say
    enableControls();
}

ScheduleSettings::~ScheduleSettings()
{
    delete ui;
}

void ScheduleSettings::load()
{
    try {
        showSchedule(pc::readSchedule(m_clientIni));
    } catch (const std::exception &e) {
        ui->lblScheduleState->setText(pc::errorText(e));
        ui->lblScheduleState->show();
    }
}

void ScheduleSettings::showSchedule(const pc::UpdateSchedule &s)
{
    ui->chkAutoUpdate->setChecked(s.enabled);
    ui->teAutoUpdateTime->setTime(s.time);
    QCheckBox *days[] = {ui->chkDay1, ui->chkDay2, ui->chkDay3, ui->chkDay4, ui->chkDay5, ui->chkDay6, ui->chkDay7};
    for (int d = 1; d <= 7; ++d)
        days[d - 1]->setChecked(s.days.count(d) > 0);
    enableControls();
}

pc::UpdateSchedule ScheduleSettings::value() const
{
    pc::UpdateSchedule s;
    s.enabled = ui->chkAutoUpdate->isChecked();
    s.time = ui->teAutoUpdateTime->time();
    s.days.clear();
    const QCheckBox *days[] = {ui->chkDay1, ui->chkDay2, ui->chkDay3, ui->chkDay4, ui->chkDay5, ui->chkDay6, ui->chkDay7};
    for (int d = 1; d <= 7; ++d)
        if (days[d - 1]->isChecked())
            s.days.insert(d);
    return s;
}

void ScheduleSettings::enableControls()
{
    const bool on = ui->chkAutoUpdate->isChecked();
    ui->teAutoUpdateTime->setEnabled(on);
    for (QCheckBox *c : {ui->chkDay1, ui->chkDay2, ui->chkDay3, ui->chkDay4, ui->chkDay5, ui->chkDay6, ui->chkDay7})
        c->setEnabled(on);
}

pc::UserTimer::Applied ScheduleSettings::btnApplyScheduleClick()
{
    const pc::UpdateSchedule s = value();
    pc::UserTimer::Applied applied;
    try {
        pc::writeSchedule(m_clientIni, s);
        applied = m_timer->apply(s);
        if (s.enabled && s.days.empty())
            applied.message = QStringLiteral("Не выбран ни один день недели: автоматическое обновление выключено");
    } catch (const std::exception &e) {
        applied.message = pc::errorText(e);
    }
    if (m_log) {
        for (const QString &line : applied.details)
            m_log->logDetail(line);
        if (!applied.crontabLine.isEmpty())
            m_log->logMessage(QStringLiteral("Строка для расписания cron (crontab -e): ") + applied.crontabLine, Info,
                              false);
    }
    ui->lblScheduleState->setText(applied.message);
    ui->lblScheduleState->setVisible(!applied.message.isEmpty());
    return applied;
}
