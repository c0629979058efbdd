#include "price/QuantityWriter.h"

#include "db/Reattacher.h"
#include "db/firebird/Database.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Transaction.h"
#include "platform/AppError.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <deque>

namespace pc {

class QuantityWriterWorker : public QObject {
    Q_OBJECT
public:
    explicit QuantityWriterWorker(const QuantityWriter::Target &target) : m_target(target), m_timer(new QTimer(this))
    {
        m_timer->setSingleShot(true);
        connect(m_timer, &QTimer::timeout, this, &QuantityWriterWorker::work);
    }
    ~QuantityWriterWorker() override
    {
        m_reattacher.reset();
        if (m_db)
            m_db->abandon(); // never waits for a server that does not answer
    }

    void enqueue(const QuantityWrite &write)
    {
        m_queue.push_back(write);
        if (!m_timer->isActive())
            m_timer->start(0);
    }

Q_SIGNALS:
    void written(const pc::QuantityWrite &write);
    void refused(const pc::QuantityWrite &write, int stored, const QString &why);
    void delayed(const pc::QuantityWrite &write, const QString &why);
    void alive(); // a try came back: the server answers

private:
    static constexpr const char *kUpdate =
        "UPDATE PRICE SET ZAKAZ = :WANTED WHERE IDTOVAR = :ID AND GODEN IS NOT DISTINCT FROM :GODEN"
        " AND COALESCE(ZAKAZ, 0) = :SHOWN ROWS 1";
    static constexpr const char *kStored =
        "SELECT COALESCE(ZAKAZ, 0) FROM PRICE WHERE IDTOVAR = :ID AND GODEN IS NOT DISTINCT FROM :GODEN"
        " ORDER BY ZAKAZ DESC ROWS 1";

    // An attachment that works, or false while the server is away (a new
    // one is being sought; the queue goes on once it is found).
    bool attached()
    {
        if (m_db && m_db->isAttached() && !m_db->isLost())
            return true;
        if (!m_reattacher)
            m_reattacher = std::make_unique<Reattacher>([this] {
                if (!m_timer->isActive())
                    m_timer->start(0);
            });
        if (std::unique_ptr<fb::Database> fresh = m_reattacher->takeReady()) {
            if (m_db)
                m_db->abandon();
            m_db = std::move(fresh);
            return true;
        }
        if (m_db)
            m_db->abandon();
        Reattacher::Target t;
        t.name = m_target.name;
        t.user = m_target.user;
        t.password = m_target.password;
        m_reattacher->start(t);
        return false;
    }

    void delay(const QuantityWrite &write, const QString &why)
    {
        if (m_delayedId == write.id && m_delayedWhy == why)
            return;
        m_delayedId = write.id;
        m_delayedWhy = why;
        Q_EMIT delayed(write, why);
    }

    void work()
    {
        while (!m_queue.empty()) {
            const QuantityWrite w = m_queue.front();
            if (!attached()) {
                delay(w, QStringLiteral("нет связи с сервером базы данных"));
                return; // the attachment found restarts the queue
            }
            try {
                fb::Transaction tr(*m_db, 0);
                tr.start();
                fb::Statement update(tr);
                update.prepare(QString::fromLatin1(kUpdate));
                update.setValue(QStringLiteral("WANTED"), w.wanted);
                update.setValue(QStringLiteral("ID"), w.goods);
                update.setValue(QStringLiteral("GODEN"), w.expiry);
                update.setValue(QStringLiteral("SHOWN"), w.shown);
                update.execute();
                if (update.rowsAffected() == 1) {
                    tr.commit();
                    m_queue.pop_front();
                    Q_EMIT written(w);
                    continue;
                }
                fb::Statement stored(tr);
                stored.prepare(QString::fromLatin1(kStored));
                stored.setValue(QStringLiteral("ID"), w.goods);
                stored.setValue(QStringLiteral("GODEN"), w.expiry);
                stored.execute();
                const int value = stored.fetch() ? int(stored.asInt64(0)) : -1;
                stored.closeCursor();
                tr.commit();
                m_queue.pop_front();
                Q_EMIT refused(w, value,
                               value < 0 ? QStringLiteral("строки больше нет в прайсе базы данных")
                                         : QStringLiteral("количество изменено на другом рабочем месте"));
            } catch (const fb::DbError &e) {
                if (e.isConflict()) {
                    // Another workstation's load or save holds the row: the
                    // quantity waits for it and is written when it ends.
                    Q_EMIT alive();
                    delay(w, QStringLiteral("прайс или заказ сейчас меняет другое рабочее место"));
                    m_timer->start(QuantityWriter::kRetryMilliseconds);
                    return;
                }
                if (e.isConnectionLost() || (m_db && m_db->isLost())) {
                    if (m_db)
                        m_db->markLost();
                    continue; // attached() leaves it behind and seeks a new one
                }
                m_queue.pop_front();
                Q_EMIT refused(w, -2, e.text());
            } catch (const std::exception &e) {
                m_queue.pop_front();
                Q_EMIT refused(w, -2, errorText(e));
            }
        }
    }

    QuantityWriter::Target m_target;
    QTimer *m_timer;
    std::deque<QuantityWrite> m_queue;
    std::unique_ptr<fb::Database> m_db;
    std::unique_ptr<Reattacher> m_reattacher;
    quint64 m_delayedId = 0;
    QString m_delayedWhy;
};

QuantityWriter::QuantityWriter(const Target &target, QObject *parent) : QObject(parent)
{
    qRegisterMetaType<pc::QuantityWrite>();
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("QuantityWriter"));
    m_worker = new QuantityWriterWorker(target);
    m_worker->moveToThread(m_thread);
    connect(m_worker, &QuantityWriterWorker::written, this, [this](const QuantityWrite &w) {
        --m_pending;
        Q_EMIT written(w);
    });
    connect(m_worker, &QuantityWriterWorker::refused, this, [this](const QuantityWrite &w, int stored, const QString &why) {
        --m_pending;
        Q_EMIT refused(w, stored, why);
    });
    connect(m_worker, &QuantityWriterWorker::delayed, this, [this](const QuantityWrite &w, const QString &why) {
        // "Not attached" is no answer from the server; a held row is one.
        if (!why.startsWith(QStringLiteral("нет связи")))
            progress();
        Q_EMIT delayed(w, why);
    });
    connect(m_worker, &QuantityWriterWorker::alive, this, &QuantityWriter::progress);
    connect(this, &QuantityWriter::written, this, &QuantityWriter::progress);
    connect(this, &QuantityWriter::refused, this, &QuantityWriter::progress);
    auto *timer = new QTimer(this);
    timer->setInterval(250);
    connect(timer, &QTimer::timeout, this, &QuantityWriter::watch);
    m_watchTimer = timer;
    m_thread->start();
}

namespace {
qint64 nowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}
} // namespace

void QuantityWriter::progress()
{
    m_lastAnswer = nowMs();
    if (std::exchange(m_stalled, false))
        Q_EMIT answering();
}

void QuantityWriter::watch()
{
    auto *timer = static_cast<QTimer *>(m_watchTimer);
    if (m_pending == 0) {
        timer->stop();
        return;
    }
    if (!m_stalled && nowMs() - m_lastAnswer >= kStallMilliseconds) {
        m_stalled = true;
        Q_EMIT stalled();
    }
}

QuantityWriter::~QuantityWriter()
{
    m_thread->quit();
    // A call on a server that stopped answering never returns: the thread is
    // then left to itself rather than holding up the window.
    if (m_thread->wait(3000)) {
        delete m_worker;
        delete m_thread;
    }
}

quint64 QuantityWriter::submit(QuantityWrite write)
{
    write.id = ++m_next;
    if (m_pending++ == 0) {
        m_lastAnswer = nowMs();
        static_cast<QTimer *>(m_watchTimer)->start();
    }
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, write] { worker->enqueue(write); }, Qt::QueuedConnection);
    return write.id;
}

bool QuantityWriter::waitIdle(int milliseconds)
{
    if (m_pending == 0)
        return true;
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    auto check = [&] {
        if (m_pending == 0)
            loop.quit();
    };
    connect(this, &QuantityWriter::written, &loop, check);
    connect(this, &QuantityWriter::refused, &loop, check);
    loop.exec();
    return m_pending == 0;
}

} // namespace pc

#include "QuantityWriter.moc"
