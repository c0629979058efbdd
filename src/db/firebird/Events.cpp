#include "db/firebird/Events.h"

#include "db/firebird/Database.h"
#include "db/firebird/DbError.h"

#include <QMetaObject>
#include <QPointer>
#include <algorithm>
#include <cstring>
#include <ibase.h>
#include <mutex>
#include <vector>

namespace pc::fb {

struct EventWatcher::Shared {
    std::mutex mutex;
    QPointer<EventWatcher> owner;
    ISC_UCHAR *events = nullptr;  // the engine's event block
    ISC_UCHAR *results = nullptr; // the counts as they arrive
    ISC_LONG length = 0;
    ISC_LONG id = 0;
    bool queued = false;
};

namespace {

void ISC_EXPORT onEvent(void *arg, ISC_USHORT length, const ISC_UCHAR *updated)
{
    auto *shared = static_cast<EventWatcher::Shared *>(arg);
    std::lock_guard lock(shared->mutex);
    shared->queued = false;
    if (!shared->owner || !shared->results || !updated || length == 0)
        return;
    std::memcpy(shared->results, updated, std::min<size_t>(length, size_t(shared->length)));
    QMetaObject::invokeMethod(shared->owner.data(), "arrived", Qt::QueuedConnection);
}

} // namespace

EventWatcher::EventWatcher(Database &db, const QStringList &names, QObject *parent)
    : QObject(parent), m_db(db), m_names(names.mid(0, 15)), m_shared(new Shared)
{
    m_shared->owner = this;
    std::vector<QByteArray> bytes;
    for (const QString &n : m_names)
        bytes.push_back(n.toLatin1());
    std::vector<const char *> p(15, nullptr);
    for (size_t i = 0; i < bytes.size(); ++i)
        p[i] = bytes[i].constData();
    m_shared->length = isc_event_block(&m_shared->events, &m_shared->results, ISC_USHORT(bytes.size()), p[0], p[1], p[2],
                                       p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[10], p[11], p[12], p[13], p[14]);
}

EventWatcher::~EventWatcher()
{
    stop();
    std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
    // The blocks and the shared part stay: a call back already on its way
    // must find them. A few bytes per watcher, and a watcher lives as long
    // as its attachment.
}

bool EventWatcher::isWaiting() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->queued;
}

void EventWatcher::start()
{
    m_first = true;
    queue();
}

void EventWatcher::queue()
{
    if (!m_db.isAttached())
        return;
    ISC_STATUS_ARRAY status{};
    ISC_LONG id = 0;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->queued = true;
    }
    if (isc_que_events(status, reinterpret_cast<isc_db_handle *>(m_db.handle()), &id, short(m_shared->length),
                       m_shared->events, onEvent, m_shared)) {
        std::lock_guard lock(m_shared->mutex);
        m_shared->queued = false;
        throw DbError::fromStatus(status, &m_db, QStringLiteral("Не удалось подписаться на события базы данных."));
    }
    std::lock_guard lock(m_shared->mutex);
    m_shared->id = id;
}

void EventWatcher::stop() noexcept
{
    ISC_LONG id = 0;
    {
        std::lock_guard lock(m_shared->mutex);
        if (!m_shared->queued)
            return;
        id = m_shared->id;
        m_shared->queued = false;
    }
    if (!m_db.isAttached())
        return;
    ISC_STATUS_ARRAY status{};
    isc_cancel_events(status, reinterpret_cast<isc_db_handle *>(m_db.handle()), &id);
}

void EventWatcher::arrived()
{
    ISC_ULONG counts[20] = {};
    {
        std::lock_guard lock(m_shared->mutex);
        isc_event_counts(counts, short(m_shared->length), m_shared->events, m_shared->results);
    }
    // The first call back after a wait is queued only sets the counts.
    const bool first = m_first;
    m_first = false;
    try {
        queue();
    } catch (const DbError &) {
        // The attachment is gone; the data module reconnects and starts again.
    }
    if (first)
        return;
    for (int i = 0; i < m_names.size(); ++i)
        if (counts[i] > 0)
            Q_EMIT posted(m_names[i]);
}

} // namespace pc::fb
