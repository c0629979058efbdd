#include "db/firebird/Transaction.h"

#include "db/firebird/Database.h"
#include "db/firebird/DbError.h"

#include <ibase.h>
#include <vector>

namespace pc::fb {

Transaction::Transaction(Database &db, int lockTimeoutSeconds) : m_db(&db), m_lockTimeout(lockTimeoutSeconds)
{
    m_db->addTransaction(this);
}

Transaction::~Transaction()
{
    endOnDetach();
    if (m_db)
        m_db->removeTransaction(this);
}

Database &Transaction::database()
{
    if (!m_db)
        throw DbError(QStringLiteral("База данных транзакции уже закрыта."));
    return *m_db;
}

void Transaction::forgetDatabase() noexcept
{
    endOnDetach();
    m_db = nullptr;
}

void Transaction::start()
{
    startReserving({});
}

void Transaction::started(unsigned handle, bool readOnly)
{
    m_handle = handle;
    m_readOnly = readOnly;
    m_wrote = false;
    m_openCursors = 0;
    ++m_generation;
}

void Transaction::ended()
{
    m_handle = 0;
    m_openCursors = 0;
    m_wrote = false;
    ++m_generation;
}

void Transaction::forgetHandle() noexcept
{
    ended();
}

void Transaction::startReadSnapshot()
{
    if (isActive())
        throw DbError(QStringLiteral("Транзакция базы данных уже начата."));
    if (!m_db || !m_db->isAttached())
        throw DbError(QStringLiteral("База данных не открыта."));
    const std::vector<char> tpb = {char(isc_tpb_version3), char(isc_tpb_read), char(isc_tpb_concurrency),
                                   char(isc_tpb_nowait)};
    ISC_STATUS_ARRAY status{};
    isc_tr_handle handle = 0;
    if (isc_start_transaction(status, &handle, 1, m_db->handle(), static_cast<unsigned short>(tpb.size()), tpb.data()))
        throw DbError::fromStatus(status, m_db, QStringLiteral("Не удалось начать транзакцию базы данных."));
    started(handle, true);
}

void Transaction::startReserving(const QStringList &tables)
{
    if (isActive())
        throw DbError(QStringLiteral("Транзакция базы данных уже начата."));
    if (!m_db || !m_db->isAttached())
        throw DbError(QStringLiteral("База данных не открыта."));
    std::vector<char> tpb = {char(isc_tpb_version3), char(isc_tpb_write), char(isc_tpb_read_committed),
                             char(isc_tpb_rec_version)};
    if (m_lockTimeout > 0) {
        tpb.push_back(char(isc_tpb_wait));
        tpb.push_back(char(isc_tpb_lock_timeout));
        tpb.push_back(4);
        const unsigned timeout = unsigned(m_lockTimeout);
        for (int i = 0; i < 4; ++i) // little-endian, as the engine reads it
            tpb.push_back(char((timeout >> (8 * i)) & 0xFF));
    } else {
        tpb.push_back(char(isc_tpb_nowait));
    }
    for (const QString &table : tables) {
        const QByteArray name = table.toUpper().toLatin1();
        tpb.push_back(char(isc_tpb_lock_write));
        tpb.push_back(char(name.size()));
        tpb.insert(tpb.end(), name.begin(), name.end());
        tpb.push_back(char(isc_tpb_protected));
    }
    ISC_STATUS_ARRAY status{};
    isc_tr_handle handle = 0;
    if (isc_start_transaction(status, &handle, 1, m_db->handle(), static_cast<unsigned short>(tpb.size()), tpb.data()))
        throw DbError::fromStatus(status, m_db, QStringLiteral("Не удалось начать транзакцию базы данных."));
    started(handle, false);
}

void Transaction::requireActive(const char *what) const
{
    if (!isActive())
        throw DbError(QStringLiteral("Нет начатой транзакции базы данных (%1).").arg(QLatin1String(what)));
}

void Transaction::commit()
{
    requireActive("commit");
    ISC_STATUS_ARRAY status{};
    if (isc_commit_transaction(status, &m_handle)) {
        DbError e = DbError::fromStatus(status, m_db, QStringLiteral("Не удалось сохранить изменения в базе данных."));
        // Over a connection that broke there is nothing left to end.
        if (e.isConnectionLost())
            ended();
        throw e;
    }
    ended();
}

void Transaction::commitRetaining()
{
    requireActive("commit retaining");
    ISC_STATUS_ARRAY status{};
    if (isc_commit_retaining(status, &m_handle))
        throw DbError::fromStatus(status, m_db, QStringLiteral("Не удалось сохранить изменения в базе данных."));
}

void Transaction::rollback()
{
    requireActive("rollback");
    ISC_STATUS_ARRAY status{};
    const ISC_STATUS failed = isc_rollback_transaction(status, &m_handle);
    // A failed rollback still leaves nothing usable behind.
    ended();
    if (failed)
        throw DbError::fromStatus(status, m_db, QStringLiteral("Не удалось отменить изменения в базе данных."));
}

void Transaction::rollbackRetaining()
{
    requireActive("rollback retaining");
    ISC_STATUS_ARRAY status{};
    if (isc_rollback_retaining(status, &m_handle))
        throw DbError::fromStatus(status, m_db, QStringLiteral("Не удалось отменить изменения в базе данных."));
}

void Transaction::endOnDetach() noexcept
{
    if (!isActive())
        return;
    ISC_STATUS_ARRAY status{};
    if (m_closeAction == CloseAction::Commit && !isc_commit_transaction(status, &m_handle)) {
        ended();
        return;
    }
    isc_rollback_transaction(status, &m_handle);
    ended();
}

} // namespace pc::fb
