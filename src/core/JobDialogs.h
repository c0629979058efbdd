#pragma once
// Dialogs for work that runs with nobody in front of the screen (a job started
// by a timer, or handed to the open window). Every question the job's work
// can ask has a fixed, safe answer in a table; any other question is not
// answered: it is logged, the run counts as failed and the asking code gets
// an error, so a job never waits for a window. Notices go to the message log.

#include "core/Dialogs.h"
#include "platform/AppError.h"

#include <QStringList>
#include <vector>

class MessageLog;

namespace pc {

// Thrown by JobDialogs for a question outside its table.
class UnansweredQuestion : public AppError {
public:
    explicit UnansweredQuestion(const QString &question);
};

class JobDialogs : public Dialogs {
public:
    struct Answer {
        QString question; // the whole text of the question
        int answer;
    };
    // The questions a job may meet and their answers.
    static const std::vector<Answer> &table();
    // The question left behind in the program folder ("load it or fetch a new one?").
    static const QString kUnloadedPriceQuestion;

    explicit JobDialogs(MessageLog &log);

    int askQuestion(const QString &text, bool focusYes = true, bool withCancel = false) override;
    void showNotice(const QString &text, bool alsoLogDetail = false) override;
    void showWait(const QString &, int = 0) override {}
    void hideWait() override {}
    QString pickFolder(const QString &caption, const QString &start) override;
    QString pickOpenFile(const QString &caption, const QString &start, const QString &filter) override;
    QString pickSaveFile(const QString &caption, const QString &start, const QString &filter) override;
    bool inputBox(const QString &caption, const QString &prompt, QString &value) override;
    bool askClientIdentity(ClientIdentity &) override;

    // The questions asked so far (answered or not), and the first one the
    // table did not answer ("" when none).
    const QStringList &asked() const { return m_asked; }
    const QString &unanswered() const { return m_unanswered; }
    QStringList notices;

private:
    [[noreturn]] void refuse(const QString &question);
    MessageLog &m_log;
    QStringList m_asked;
    QString m_unanswered;
};

// Passes every call on to the dialogs currently chosen: the window's own, or a
// job's while the window runs one.
class DialogsRouter : public Dialogs {
public:
    explicit DialogsRouter(Dialogs *target) : target(target) {}
    Dialogs *target;

    int askQuestion(const QString &t, bool f = true, bool c = false) override { return target->askQuestion(t, f, c); }
    void showNotice(const QString &t, bool d = false) override { target->showNotice(t, d); }
    void showWait(const QString &t, int p = 0) override { target->showWait(t, p); }
    void hideWait() override { target->hideWait(); }
    void setWaitCancel(std::function<void()> c) override { target->setWaitCancel(std::move(c)); }
    QString pickFolder(const QString &c, const QString &s) override { return target->pickFolder(c, s); }
    QString pickOpenFile(const QString &c, const QString &s, const QString &f) override { return target->pickOpenFile(c, s, f); }
    QString pickSaveFile(const QString &c, const QString &s, const QString &f) override { return target->pickSaveFile(c, s, f); }
    bool inputBox(const QString &c, const QString &p, QString &v) override { return target->inputBox(c, p, v); }
    bool askClientIdentity(ClientIdentity &id) override { return target->askClientIdentity(id); }
};

} // namespace pc
