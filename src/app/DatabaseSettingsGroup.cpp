#include "app/DatabaseSettingsGroup.h"

#include "ui_DatabaseSettingsGroup.h"

#include <QApplication>
#include <QCursor>
#include <QPointer>
#include <QThread>

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
    connect(ui->btnCheckDatabase, &QPushButton::clicked, this, &DatabaseSettingsGroup::startCheck);
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

namespace {

// What is wrong with the choice before any connection is tried; nothing when
// the server is to be asked.
std::optional<QString> refusedAtOnce(bool server, const pc::DatabaseLocation &l)
{
    if (!server)
        return QStringLiteral("Выбрана локальная база данных в папке программы: проверять на сервере нечего.");
    if (l.Server.isEmpty())
        return QStringLiteral("Укажите имя или адрес сервера базы данных.");
    return std::nullopt;
}

QString resultText(const pc::DatabaseLocation &l, const QString &problem)
{
    if (problem.isEmpty())
        return QStringLiteral("Соединение с базой данных на сервере %1 установлено.").arg(l.Server);
    return problem;
}

} // namespace

QString DatabaseSettingsGroup::checkConnection()
{
    const pc::DatabaseLocation l = location();
    if (const auto refused = refusedAtOnce(ui->rbServerDatabase->isChecked(), l))
        return *refused;
    return resultText(l, check ? check(l) : QString());
}

void DatabaseSettingsGroup::startCheck()
{
    if (m_checking)
        return;
    const pc::DatabaseLocation l = location();
    if (const auto refused = refusedAtOnce(ui->rbServerDatabase->isChecked(), l)) {
        if (tell)
            tell(*refused);
        return;
    }
    m_checking = true;
    ui->btnCheckDatabase->setEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const auto probe = check;
    QPointer<DatabaseSettingsGroup> self(this);
    QThread *thread = QThread::create([probe, l, self] {
        const QString text = resultText(l, probe ? probe(l) : QString());
        // Back on the window's thread; only the cursor when the page is gone.
        QMetaObject::invokeMethod(
            qApp,
            [self, text] {
                QApplication::restoreOverrideCursor();
                if (!self)
                    return;
                self->m_checking = false;
                self->updateEnabled();
                if (self->tell)
                    self->tell(text);
            },
            Qt::QueuedConnection);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void DatabaseSettingsGroup::updateEnabled()
{
    const bool server = ui->rbServerDatabase->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *>{ui->edDbServer, ui->edDbPath, ui->edDbUser, ui->edDbPassword,
                                                       ui->btnCheckDatabase, ui->lblDbServer, ui->lblDbPath,
                                                       ui->lblDbUser, ui->lblDbPassword})
        w->setEnabled(server);
    if (m_checking)
        ui->btnCheckDatabase->setEnabled(false);
}
