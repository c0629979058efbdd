#include "app/DatabaseSettingsGroup.h"

#include "ui_DatabaseSettingsGroup.h"

#include <QApplication>
#include <QCursor>

DatabaseSettingsGroup::DatabaseSettingsGroup(QWidget *parent) : QGroupBox(parent), ui(std::make_unique<Ui::DatabaseSettingsGroup>())
{
    ui->setupUi(this);
    for (QLineEdit *edit : {ui->edDbServer, ui->edDbPath, ui->edDbUser, ui->edDbPassword})
        connect(edit, &QLineEdit::textEdited, this, [this] {
            if (!m_filling)
                Q_EMIT edited();
        });
    connect(ui->rbServerDatabase, &QRadioButton::toggled, this, [this] {
        updateEnabled();
        if (!m_filling)
            Q_EMIT edited();
    });
    connect(ui->btnCheckDatabase, &QPushButton::clicked, this, [this] {
        const QString text = checkConnection();
        if (tell)
            tell(text);
    });
    updateEnabled();
}

DatabaseSettingsGroup::~DatabaseSettingsGroup() = default;

void DatabaseSettingsGroup::setLocation(const pc::DatabaseLocation &location)
{
    m_filling = true;
    (location.IsServer() ? ui->rbServerDatabase : ui->rbLocalDatabase)->setChecked(true);
    ui->edDbServer->setText(location.Server);
    ui->edDbPath->setText(location.Path);
    ui->edDbUser->setText(location.User);
    ui->edDbPassword->setText(location.Password);
    updateEnabled();
    m_filling = false;
}

pc::DatabaseLocation DatabaseSettingsGroup::location() const
{
    pc::DatabaseLocation l;
    l.Path = ui->edDbPath->text().trimmed();
    l.User = ui->edDbUser->text().trimmed();
    l.Password = ui->edDbPassword->text();
    if (ui->rbServerDatabase->isChecked())
        l.Server = ui->edDbServer->text().trimmed();
    return l;
}

QString DatabaseSettingsGroup::checkConnection()
{
    const pc::DatabaseLocation l = location();
    if (!ui->rbServerDatabase->isChecked())
        return QStringLiteral("Выбрана локальная база данных в папке программы: проверять на сервере нечего.");
    if (l.Server.isEmpty())
        return QStringLiteral("Укажите имя или адрес сервера базы данных.");
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString problem = check ? check(l) : QString();
    QApplication::restoreOverrideCursor();
    if (problem.isEmpty())
        return QStringLiteral("Соединение с базой данных на сервере %1 установлено.").arg(l.Server);
    return problem;
}

void DatabaseSettingsGroup::updateEnabled()
{
    const bool server = ui->rbServerDatabase->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *>{ui->edDbServer, ui->edDbPath, ui->edDbUser, ui->edDbPassword,
                                                       ui->btnCheckDatabase, ui->lblDbServer, ui->lblDbPath,
                                                       ui->lblDbUser, ui->lblDbPassword})
        w->setEnabled(server);
}
