#include "core/Operation.h"

#include "platform/AppError.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QThread>

namespace pc {

// ---- the busy state ------------------------------------------------------------

bool OperationState::begin(Operation *op)
{
    if (m_current)
        return false;
    m_current = op;
    emit busyChanged(true);
    return true;
}

void OperationState::end(Operation *op)
{
    if (m_current != op)
        return;
    m_current = nullptr;
    emit busyChanged(false);
}

// ---- dialogs and log across threads ------------------------------------------

template <class R>
R ForwardingDialogs::ask(std::function<R(Dialogs &)> call, R giveUp)
{
    QObject *home = m_home.data();
    if (!home || m_abandoned)
        return giveUp;
    if (QThread::currentThread() == home->thread())
        return call(m_target);
    // Waited for in short steps, not by a blocking connection: a home that is
    // going away (the window closing) lets the worker go instead of both
    // waiting for each other.
    struct Reply {
        QSemaphore done;
        R value;
    };
    auto reply = std::make_shared<Reply>();
    reply->value = giveUp;
    Dialogs &target = m_target;
    QMetaObject::invokeMethod(
        home,
        [reply, call, &target] {
            reply->value = call(target);
            reply->done.release();
        },
        Qt::QueuedConnection);
    while (!reply->done.tryAcquire(1, 50))
        if (m_abandoned || !m_home)
            return giveUp;
    return reply->value;
}

void ForwardingDialogs::tell(std::function<void(Dialogs &)> call)
{
    QObject *home = m_home.data();
    if (!home || m_abandoned)
        return;
    if (QThread::currentThread() == home->thread()) {
        call(m_target);
        return;
    }
    Dialogs &target = m_target;
    QMetaObject::invokeMethod(home, [call, &target] { call(target); }, Qt::QueuedConnection);
}

int ForwardingDialogs::askQuestion(const QString &text, bool focusYes, bool withCancel)
{
    return ask<int>([=](Dialogs &d) { return d.askQuestion(text, focusYes, withCancel); }, mrCancel);
}

void ForwardingDialogs::showNotice(const QString &text, bool alsoLogDetail)
{
    // Waited for: what the work does next may depend on the person having read it.
    ask<bool>(
        [=](Dialogs &d) {
            d.showNotice(text, alsoLogDetail);
            return true;
        },
        false);
}

void ForwardingDialogs::showWait(const QString &text, int picture)
{
    tell([=](Dialogs &d) { d.showWait(text, picture); });
}

void ForwardingDialogs::hideWait()
{
    tell([](Dialogs &d) { d.hideWait(); });
}

QString ForwardingDialogs::pickFolder(const QString &caption, const QString &start)
{
    return ask<QString>([=](Dialogs &d) { return d.pickFolder(caption, start); }, QString());
}

QString ForwardingDialogs::pickOpenFile(const QString &caption, const QString &start, const QString &filter)
{
    return ask<QString>([=](Dialogs &d) { return d.pickOpenFile(caption, start, filter); }, QString());
}

QString ForwardingDialogs::pickSaveFile(const QString &caption, const QString &start, const QString &filter)
{
    return ask<QString>([=](Dialogs &d) { return d.pickSaveFile(caption, start, filter); }, QString());
}

bool ForwardingDialogs::inputBox(const QString &caption, const QString &prompt, QString &value)
{
    auto typed = std::make_shared<QString>(value);
    const bool ok = ask<bool>([=](Dialogs &d) { return d.inputBox(caption, prompt, *typed); }, false);
    if (ok)
        value = *typed;
    return ok;
}

bool ForwardingDialogs::askClientIdentity(ClientIdentity &id)
{
    ClientIdentity *given = &id;
    // The worker waits until the answer is in, so the identity may be filled in place.
    return ask<bool>([given](Dialogs &d) { return d.askClientIdentity(*given); }, false);
}

void ForwardingLog::logMessage(const QString &text, LogLevel level, bool reveal)
{
    QObject *home = m_home.data();
    if (!home)
        return;
    if (QThread::currentThread() == home->thread()) {
        m_target.logMessage(text, level, reveal);
        return;
    }
    MessageLog &target = m_target;
    QMetaObject::invokeMethod(home, [=, &target] { target.logMessage(text, level, reveal); }, Qt::QueuedConnection);
}

void ForwardingLog::logDetail(const QString &text)
{
    QObject *home = m_home.data();
    if (!home)
        return;
    if (QThread::currentThread() == home->thread()) {
        m_target.logDetail(text);
        return;
    }
    MessageLog &target = m_target;
    QMetaObject::invokeMethod(home, [=, &target] { target.logDetail(text); }, Qt::QueuedConnection);
}

// ---- the operation ---------------------------------------------------------------

Operation::Operation(Dialogs &dialogs, MessageLog &log)
    : m_home(std::make_unique<QObject>()), m_dialogs(m_home.get(), dialogs), m_log(m_home.get(), log)
{
}

Operation::~Operation()
{
    stopAndWait();
    if (m_state)
        m_state->end(this);
}

void Operation::stopAndWait()
{
    if (m_thread && m_thread->isRunning()) {
        // The home is going away: the work gives up its questions and ends
        // at its next check.
        m_dialogs.abandon();
        cancel();
        m_thread->quit();
        m_thread->wait();
    }
}

bool Operation::start(OperationState *state)
{
    if (m_running)
        return false;
    if (state && !state->begin(this))
        return false;
    m_state = state;
    m_running = true;
    m_cancel = false;
    m_homeThread = QThread::currentThread();
    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(metaObject()->className());
    moveToThread(m_thread.get());
    m_thread->start();
    QMetaObject::invokeMethod(this, &Operation::execute, Qt::QueuedConnection);
    return true;
}

void Operation::execute()
{
    try {
        run();
    } catch (const std::exception &e) {
        m_log.logMessage(errorText(e), Error, true);
    } catch (...) {
        m_log.logMessage(QStringLiteral("Внутренняя ошибка программы"), Error, true);
    }
    // Back home before the thread ends, so that finished() and what the
    // receivers do with this object happen on the starting thread.
    moveToThread(m_homeThread);
    QMetaObject::invokeMethod(m_home.get(), [this] { done(); }, Qt::QueuedConnection);
}

void Operation::done()
{
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
        m_thread.reset();
    }
    m_running = false;
    if (m_state) {
        OperationState *state = m_state;
        m_state = nullptr;
        state->end(this);
    }
    emit finished();
}

} // namespace pc
