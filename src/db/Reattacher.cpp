#include "db/Reattacher.h"

#include "db/firebird/Database.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace pc {

struct Reattacher::State {
    std::mutex mutex;
    std::condition_variable wake;
    bool running = false;
    bool stopped = false;
    unsigned generation = 0; // a start after a stop is a new run
    int failures = 0;
    std::unique_ptr<fb::Database> ready;
    QPointer<QObject> context;
    std::function<void()> onReady;
};

Reattacher::Reattacher(std::function<void()> onReady) : m_state(std::make_shared<State>()), m_context(std::make_unique<QObject>())
{
    m_state->context = m_context.get();
    m_state->onReady = std::move(onReady);
}

Reattacher::~Reattacher()
{
    stop();
    std::lock_guard lock(m_state->mutex);
    // Queued calls of a context that is destroyed are dropped.
    m_state->context = nullptr;
    m_context.reset();
}

std::chrono::milliseconds Reattacher::delayAfter(int failures)
{
    using namespace std::chrono_literals;
    if (failures <= 0)
        return 0ms;
    const std::chrono::milliseconds delay = 500ms * (1 << std::min(failures - 1, 5));
    return std::min<std::chrono::milliseconds>(delay, 10s);
}

void Reattacher::start(const Target &target)
{
    std::unique_lock lock(m_state->mutex);
    if (m_state->running || m_state->ready)
        return;
    m_state->running = true;
    m_state->stopped = false;
    m_state->failures = 0;
    const unsigned generation = ++m_state->generation;
    std::shared_ptr<State> state = m_state;
    lock.unlock();
    std::thread([state, target, generation] {
        for (;;) {
            {
                std::unique_lock l(state->mutex);
                state->wake.wait_for(l, delayAfter(state->failures),
                                     [&] { return state->stopped || state->generation != generation; });
                if (state->stopped || state->generation != generation)
                    return;
            }
            auto db = std::make_unique<fb::Database>();
            db->setCredentials(target.user, target.password);
            db->setPageBuffers(target.pageBuffers);
            db->setConnectTimeout(target.connectTimeoutSeconds);
            try {
                db->attach(target.name);
            } catch (const std::exception &) {
                std::lock_guard l(state->mutex);
                ++state->failures;
                continue;
            }
            std::lock_guard l(state->mutex);
            if (state->stopped || state->generation != generation) {
                db->abandon(); // nobody wants it any more; the detach runs apart
                return;
            }
            state->ready = std::move(db);
            state->running = false;
            if (state->context && state->onReady)
                QMetaObject::invokeMethod(state->context.data(), state->onReady, Qt::QueuedConnection);
            return;
        }
    }).detach();
}

void Reattacher::stop()
{
    std::unique_ptr<fb::Database> unused;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopped = true;
        m_state->running = false;
        ++m_state->generation;
        unused = std::move(m_state->ready);
    }
    m_state->wake.notify_all();
    if (unused)
        unused->abandon();
}

bool Reattacher::isRunning() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->running;
}

std::unique_ptr<fb::Database> Reattacher::takeReady()
{
    std::lock_guard lock(m_state->mutex);
    return std::move(m_state->ready);
}

int Reattacher::failures() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->failures;
}

} // namespace pc
