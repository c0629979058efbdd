#include "ui/IdentityDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TdlgIdentity::TdlgIdentity(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgIdentity"));
    setWindowTitle(QStringLiteral("Данные клиента"));
    auto *intro = new QLabel(QStringLiteral("Введите данные, полученные от поставщика. Их можно изменить позже "
                                            "на странице «Настройки», вкладка «Связь»."),
                             this);
    intro->setWordWrap(true);
    auto edit = [this](const char *name, const QString &accessible) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setAccessibleName(accessible);
        e->setMinimumWidth(260);
        return e;
    };
    m_code = edit("edIdentityCode", QStringLiteral("Код клиента"));
    m_name = edit("edIdentityName", QStringLiteral("Имя клиента"));
    m_pass = edit("edIdentityPass", QStringLiteral("Пароль"));
    m_pass->setEchoMode(QLineEdit::Password);
    m_address = edit("edIdentityAddress", QStringLiteral("Основной адрес сервера"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&Код клиента:"), m_code);
    form->addRow(QStringLiteral("&Имя клиента:"), m_name);
    form->addRow(QStringLiteral("&Пароль:"), m_pass);
    form->addRow(QStringLiteral("&Адрес сервера:"), m_address);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Сохранить"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);
    m_code->setFocus();
}

void TdlgIdentity::setIdentity(const ClientIdentity &id)
{
    m_code->setText(id.code);
    m_name->setText(id.name);
    m_pass->setText(id.pass);
    m_address->setText(id.serverAddress);
    // The cursor waits in the first field still empty.
    for (QLineEdit *e : {m_code, m_name, m_pass, m_address})
        if (e->text().isEmpty()) {
            e->setFocus();
            break;
        }
}

ClientIdentity TdlgIdentity::identity() const
{
    return {m_code->text().trimmed(), m_name->text().trimmed(), m_pass->text(), m_address->text().trimmed()};
}
