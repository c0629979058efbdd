#pragma once
// Long operations off the window's thread.
//
// An Operation is an object that runs its work on a thread of its own: the
// window (or a job) creates it, start() moves it to a new QThread and calls
// run() there by a queued call, and finished() comes back on the thread that
// started it. The work speaks to the person only through workerDialogs() and
// workerLog(): a question or a notice is handed to the home thread's Dialogs
// and only the worker waits for the answer; log lines are handed over without
// waiting. Progress and results go out as queued signals.
//
// Cancelling sets an atomic flag (cancelFlag()) that the transfers and the
// long loops of the work check; cancel() may be called from any thread.
//
// OperationState is the one place that says whether the window is busy: an
// operation makes it busy from start() to finished().

#include "core/Dialogs.h"
#include "core/MessageLog.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace pc {

class Operation;

class OperationState : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool busy() const { return m_current != nullptr; }
    // The running operation, or nullptr.
    Operation *current() const { return m_current; }

signals:
    void busyChanged(bool busy);

private:
    friend class Operation;
    bool begin(Operation *op);
    void end(Operation *op);
    QPointer<Operation> m_current;
};

// Dialogs for code on another thread: every call is carried out by `target`
// on the thread of `home`, the calling thread waits for the answer (notices
// and the wait window excepted, which do not wait). Called on home's own
// thread it calls target directly. Once abandon() was called (the home is
// going away), a waiting call gives up: questions answer Cancel, pickers
// nothing. The wait window's «Прервать» belongs to whoever started the work:
// setWaitCancel is not passed on.
class ForwardingDialogs : public Dialogs {
public:
    ForwardingDialogs(QObject *home, Dialogs &target) : m_home(home), m_target(target) {}
    void abandon() { m_abandoned = true; }

    int askQuestion(const QString &text, bool focusYes = true, bool withCancel = false) override;
    void showNotice(const QString &text, bool alsoLogDetail = false) override;
    void showWait(const QString &text, int picture = 0) override;
    void hideWait() override;
    void setWaitCancel(std::function<void()>) override {}
    QString pickFolder(const QString &caption, const QString &start) override;
    QString pickOpenFile(const QString &caption, const QString &start, const QString &filter) override;
    QString pickSaveFile(const QString &caption, const QString &start, const QString &filter) override;
    bool inputBox(const QString &caption, const QString &prompt, QString &value) override;
    bool askClientIdentity(ClientIdentity &id) override;

private:
    template <class R>
    R ask(std::function<R(Dialogs &)> call, R giveUp);
    void tell(std::function<void(Dialogs &)> call);
    QPointer<QObject> m_home;
    Dialogs &m_target;
    std::atomic<bool> m_abandoned{false};
};

// The message log for code on another thread: lines are handed to `target`
// on home's thread, in order, without waiting.
class ForwardingLog : public MessageLog {
public:
    ForwardingLog(QObject *home, MessageLog &target) : m_home(home), m_target(target) {}
    void logMessage(const QString &text, LogLevel level = Info, bool reveal = true) override;
    void logDetail(const QString &text) override;

private:
    QPointer<QObject> m_home;
    MessageLog &m_target;
};

class Operation : public QObject {
    Q_OBJECT
public:
    // dialogs and log: the home thread's (the window's, or a job's).
    Operation(Dialogs &dialogs, MessageLog &log);
    ~Operation() override;

    // Starts run() on a thread of its own; with a state, only when that state
    // is not busy (false then), and the state is busy until finished().
    bool start(OperationState *state = nullptr);
    bool running() const { return m_running; }
    void cancel() { m_cancel = true; }
    bool cancelRequested() const { return m_cancel; }
    const std::atomic<bool> &cancelFlag() const { return m_cancel; }

signals:
    // Bytes (or rows) done of total (0: unknown); total < 0 hides the bar.
    void progress(qint64 done, qint64 total);
    // On the thread that called start(), after run() returned.
    void finished();

protected:
    // The work, on the operation's thread.
    virtual void run() = 0;
    Dialogs &workerDialogs() { return m_dialogs; }
    // A running operation being destroyed gives up and is waited for; a
    // derived class calls this first in its destructor, while what run()
    // uses still exists.
    void stopAndWait();
    MessageLog &workerLog() { return m_log; }

private:
    void execute();
    void done();
    std::unique_ptr<QObject> m_home; // lives on the starting thread
    ForwardingDialogs m_dialogs;
    ForwardingLog m_log;
    std::unique_ptr<QThread> m_thread;
    QThread *m_homeThread = nullptr;
    QPointer<OperationState> m_state;
    std::atomic<bool> m_cancel{false};
    bool m_running = false;
};

// An operation whose work is a function: it is given the operation, whose
// dialogs(), log(), cancelFlag() and progress() it uses from its thread.
class TaskOperation : public Operation {
    Q_OBJECT
public:
    using Work = std::function<void(TaskOperation &)>;
    TaskOperation(Dialogs &dialogs, MessageLog &log, Work work)
        : Operation(dialogs, log), m_work(std::move(work))
    {
    }
    ~TaskOperation() override { stopAndWait(); }
    Dialogs &dialogs() { return workerDialogs(); }
    MessageLog &log() { return workerLog(); }

protected:
    void run() override
    {
        if (m_work)
            m_work(*this);
    }

private:
    Work m_work;
};

} // namespace pc
