#include "ui/WindowDialogs.h"
#include "ui/IdentityDialog.h"

#include "core/MessageLog.h"
#include "ui/AskMessageDialog.h"
#include "ui/SplashWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QWindow>

WindowDialogs::WindowDialogs(QWidget *owner, TdlgAskMessage *dialog, TfrmSplash *splash, MessageLog *log)
    : m_owner(owner), m_dialog(dialog), m_splash(splash), m_log(log)
{
}

QWidget *WindowDialogs::activeWindow() const
{
    for (QWidget *w : {QApplication::activeModalWidget(), QApplication::activeWindow()}) {
        if (!w)
            continue;
        w = w->window();
        if (w != m_dialog && w != m_splash && w->isVisible())
            return w;
    }
    return m_owner ? m_owner->window() : nullptr;
}

void WindowDialogs::placeOver(QWidget *dialog) const
{
    QWidget *over = activeWindow();
    if (!over || over == dialog)
        return;
    dialog->winId(); // the dialog's own window exists from here on
    if (QWindow *own = dialog->windowHandle())
        own->setTransientParent(over->windowHandle());
}

// A question, a notice or a picker is never hidden under the wait window: the
// wait window goes first (the work shows it again when it goes on waiting).
void WindowDialogs::hideWaitForModal()
{
    if (m_splash)
        m_splash->HideWait();
}

int WindowDialogs::askQuestion(const QString &text, bool focusYes, bool withCancel)
{
    hideWaitForModal();
    placeOver(m_dialog);
    return m_dialog->AskQuestion(text, focusYes, withCancel);
}

void WindowDialogs::showNotice(const QString &text, bool alsoLogDetail)
{
    if (alsoLogDetail && m_log)
        m_log->logDetail(text);
    hideWaitForModal();
    placeOver(m_dialog);
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
    hideWaitForModal();
    return QFileDialog::getExistingDirectory(activeWindow(), caption, start);
}

QString WindowDialogs::pickOpenFile(const QString &caption, const QString &start, const QString &filter)
{
    hideWaitForModal();
    return QFileDialog::getOpenFileName(activeWindow(), caption, start, filter);
}

QString WindowDialogs::pickSaveFile(const QString &caption, const QString &start, const QString &filter)
{
    hideWaitForModal();
    return QFileDialog::getSaveFileName(activeWindow(), caption, start, filter);
}

bool WindowDialogs::inputBox(const QString &caption, const QString &prompt, QString &value)
{
    hideWaitForModal();
    bool ok = false;
    const QString text = QInputDialog::getText(activeWindow(), caption, prompt, QLineEdit::Normal, value, &ok);
    if (ok)
        value = text;
    return ok;
}

bool WindowDialogs::askClientIdentity(ClientIdentity &id)
{
    hideWaitForModal();
    TdlgIdentity dialog(activeWindow());
    dialog.setIdentity(id);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    id = dialog.identity();
    return true;
}
