#pragma once
// Writes the order quantities typed into the price grid on a thread of its
// own, with an attachment of its own, so the window never waits on the
// database: not on another workstation's load or save that holds the price
// rows, not on a server that went away or stopped answering.
//
// Each quantity is written over the one the grid showed (the row found by
// goods code and expiry date), in the order typed, each in a short
// transaction of its own. A quantity that meets a row held by another
// workstation, or a server that does not answer, waits and is tried again
// until it is written; it is refused only when another workstation changed
// that quantity meanwhile or the row is gone. Nothing is dropped silently:
// every outcome comes back as a signal on the thread that made the writer.

#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

class QThread;

namespace pc {

struct QuantityWrite {
    quint64 id = 0;     // given by submit()
    QVariant goods;     // IDTOVAR
    QVariant expiry;    // GODEN (may be null)
    QString name;       // TOVAR, for the messages
    int shown = 0;      // the quantity the grid showed before
    int wanted = 0;     // the quantity to store
};

class QuantityWriterWorker;

class QuantityWriter : public QObject {
    Q_OBJECT
public:
    struct Target {
        QString name; // connection name as the data module attaches
        QString user, password;
    };
    explicit QuantityWriter(const Target &target, QObject *parent = nullptr);
    ~QuantityWriter() override; // what is still queued is left to the database's own state

    // Queues a write; returns its id. Never waits.
    quint64 submit(QuantityWrite write);
    // Writes submitted and not yet written or refused.
    int pending() const { return m_pending; }
    // For tests and for closing: runs the event loop until nothing is
    // pending or the time is up. True when nothing is pending.
    bool waitIdle(int milliseconds);

    // How long a held row is waited for before it is tried again.
    static constexpr int kRetryMilliseconds = 300;
    // A write with no answer from the server for this long: the server is
    // taken as not answering (said once, until it answers again).
    static constexpr int kStallMilliseconds = 3000;

Q_SIGNALS:
    void written(const pc::QuantityWrite &write);
    // stored: the quantity the database holds (-1: the row is gone);
    // why: the reason in Russian.
    void refused(const pc::QuantityWrite &write, int stored, const QString &why);
    // The write could not be made yet and is tried again (why: a Russian
    // reason). Said once per write and reason.
    void delayed(const pc::QuantityWrite &write, const QString &why);
    // The server has not answered a write for kStallMilliseconds; and it
    // answers again.
    void stalled();
    void answering();

private:
    void progress();
    void watch();
    QThread *m_thread = nullptr;
    QuantityWriterWorker *m_worker = nullptr;
    quint64 m_next = 0;
    int m_pending = 0;
    qint64 m_lastAnswer = 0; // monotonic ms of the last submit or answer
    bool m_stalled = false;
    QObject *m_watchTimer = nullptr;
};

} // namespace pc

Q_DECLARE_METATYPE(pc::QuantityWrite)
