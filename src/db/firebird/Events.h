#pragma once
// The engine's events on one attachment: the names posted by other
// connections (POST_EVENT, delivered when their transaction commits) arrive
// here as the signal posted(name), on the thread that owns this object.
// The engine calls back on a thread of its client library; the call is only
// handed over, and the next wait is queued from the owning thread.

#include <QObject>
#include <QStringList>
#include <memory>

namespace pc::fb {

class Database;

class EventWatcher : public QObject {
    Q_OBJECT
public:
    // At most 15 names (the engine's limit for one wait).
    EventWatcher(Database &db, const QStringList &names, QObject *parent = nullptr);
    ~EventWatcher() override;

    // Starts waiting; throws DbError when the engine refuses.
    void start();
    // Stops waiting (also done by the destructor and before a detach).
    void stop() noexcept;
    bool isWaiting() const;

    // What the engine's call back shares with this object.
    struct Shared;

Q_SIGNALS:
    void posted(const QString &name);

private:
    Q_INVOKABLE void arrived();
    void queue();
    Database &m_db;
    QStringList m_names;
    Shared *m_shared; // outlives this object: the engine may still call back once
    bool m_first = true;
};

} // namespace pc::fb
