#pragma once
// The person-facing side of Dialogs: the question dialog, the wait window,
// the file pickers and the input box.

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

private:
    QWidget *m_owner;
    TdlgAskMessage *m_dialog;
    TfrmSplash *m_splash;
    MessageLog *m_log;
};
