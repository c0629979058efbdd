#pragma once
// The person-facing side of Dialogs: the question dialog, the wait window,
// the file pickers and the input box. Every window opens over the window the
// person is in: a print preview, another dialog, or the main window.

#include "core/Dialogs.h"

#include <functional>

class MessageLog;
class QWidget;
class TdlgAskMessage;
class TfrmSplash;

class WindowDialogs : public Dialogs {
public:
    WindowDialogs(QWidget *owner, TdlgAskMessage *dialog, TfrmSplash *splash, MessageLog *log);

    // Runs after every notice (the main window puts the focus back on the price grid).
    std::function<void()> afterNotice;

    int askQuestion(const QString &text, bool focusYes = true, bool withCancel = false) override;
    void showNotice(const QString &text, bool alsoLogDetail = false) override;
    void showWait(const QString &text, int picture = 0) override;
    void hideWait() override;
    void setWaitCancel(std::function<void()> cancel) override;
    QString pickFolder(const QString &caption, const QString &start) override;
    QString pickOpenFile(const QString &caption, const QString &start, const QString &filter) override;
    QString pickSaveFile(const QString &caption, const QString &start, const QString &filter) override;
    bool inputBox(const QString &caption, const QString &prompt, QString &value) override;
    bool askClientIdentity(ClientIdentity &id) override;

    // The window the person is in: the topmost modal window (a print preview,
    // a dialog), else the active window, else the main window.
    QWidget *activeWindow() const;

private:
    // The shared question dialog stays a child of the main window; it is put
    // over the active window before it opens.
    void placeOver(QWidget *dialog) const;
    void hideWaitForModal();

    QWidget *m_owner;
    TdlgAskMessage *m_dialog;
    TfrmSplash *m_splash;
    MessageLog *m_log;
};
