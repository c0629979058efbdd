#include "ui/WindowDialogs.h"
#include "ui/IdentityDialog.h"

#include "core/MessageLog.h"
#include "ui/AskMessageDialog.h"
#include "ui/SplashWindow.h"

#include <QFileDialog>
#include <QInputDialog>

WindowDialogs::WindowDialogs(QWidget *owner, TdlgAskMessage *dialog, TfrmSplash *splash, MessageLog *log)
    : m_owner(owner), m_dialog(dialog), m_splash(splash), m_log(log)
{
}

int WindowDialogs::askQuestion(const QString &text, bool focusYes, bool withCancel)
{
    return m_dialog->AskQuestion(text, focusYes, withCancel);
}

void WindowDialogs::showNotice(const QString &text, bool alsoLogDetail)
{
    if (alsoLogDetail && m_log)
        m_log->logDetail(text);
    m_dialog->ShowNotice(text);
    if (afterNotice)
        afterNotice();
}

void WindowDialogs::showWait(const QString &text, int picture)
{
    m_splash->ShowWait(text, picture);
}

void WindowDialogs::hideWait()
{
    m_splash->HideWait();
}

void WindowDialogs::setWaitCancel(std::function<void()> cancel)
{
    m_splash->SetCancelAction(std::move(cancel));
}

QString WindowDialogs::pickFolder(const QString &caption, const QString &start)
{
    return QFileDialog::getExistingDirectory(m_owner, caption, start);
}

QString WindowDialogs::pickOpenFile(const QString &caption, const QString &start, const QString &filter)
{
    return QFileDialog::getOpenFileName(m_owner, caption, start, filter);
}

QString WindowDialogs::pickSaveFile(const QString &caption, const QString &start, const QString &filter)
{
    return QFileDialog::getSaveFileName(m_owner, caption, start, filter);
}

bool WindowDialogs::inputBox(const QString &caption, const QString &prompt, QString &value)
{
    bool ok = false;
    const QString text = QInputDialog::getText(m_owner, caption, prompt, QLineEdit::Normal, value, &ok);
    if (ok)
        value = text;
    return ok;
}

bool WindowDialogs::askClientIdentity(ClientIdentity &id)
{
    TdlgIdentity dialog(m_owner);
    dialog.setIdentity(id);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    id = dialog.identity();
    return true;
}
