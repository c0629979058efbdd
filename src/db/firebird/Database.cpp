#include "db/firebird/Database.h"

#include "db/firebird/DbError.h"
#include "db/firebird/Transaction.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <ibase.h>

namespace pc::fb {

namespace {

void appendString(std::vector<char> &dpb, char tag, const char *value)
{
    const size_t len = std::strlen(value);
    dpb.push_back(tag);
    dpb.push_back(char(len));
    dpb.insert(dpb.end(), value, value + len);
}

std::vector<char> attachParameters(int pageBuffers)
{
    std::vector<char> dpb;
    dpb.push_back(char(isc_dpb_version1));
    appendString(dpb, char(isc_dpb_user_name), Database::kUser);
    appendString(dpb, char(isc_dpb_password), Database::kPassword);
    appendString(dpb, char(isc_dpb_lc_ctype), Database::kCharset);
    if (pageBuffers > 0) {
        // The engine only ever grows its cache to the attachment's number;
        // the size it starts with is the one kept in the database header.
        for (char tag : {char(isc_dpb_set_page_buffers), char(isc_dpb_num_buffers)}) {
            dpb.push_back(tag);
            dpb.push_back(4);
            for (int i = 0; i < 4; ++i) // little-endian, as the engine reads it
                dpb.push_back(char((unsigned(pageBuffers) >> (8 * i)) & 0xFF));
        }
    }
    return dpb;
}

} // namespace

Database::~Database()
{
    try {
        detach();
    } catch (...) {
        // The handle is gone either way; nothing a destructor can add.
    }
    // Transactions that outlive this object must not reach back into it.
    for (Transaction *t : m_transactions)
        t->forgetDatabase();
}

void Database::attach(const QString &path)
{
    if (isAttached())
        throw DbError(QStringLiteral("База данных %1 уже открыта.").arg(m_path));
    const QByteArray name = QFile::encodeName(path);
    const std::vector<char> dpb = attachParameters(m_pageBuffers);
    ISC_STATUS_ARRAY status{};
    isc_db_handle handle = 0;
    if (isc_attach_database(status, short(name.size()), name.constData(), &handle, short(dpb.size()), dpb.data()))
        throw DbError::fromStatus(status, QStringLiteral("Не удалось открыть базу данных %1.").arg(QDir::toNativeSeparators(path)));
    m_handle = handle;
    m_path = path;
}

void Database::create(const QString &path, int pageSize)
{
    if (isAttached())
        throw DbError(QStringLiteral("База данных %1 уже открыта.").arg(m_path));
    // The SQL form is used because the API call without a dialect parameter
    // makes a dialect-1 database.
    QByteArray quoted = QFile::encodeName(path);
    quoted.replace('\'', "''");
    const QByteArray sql = "CREATE DATABASE '" + quoted + "' USER '" + kUser + "' PASSWORD '" + kPassword
        + "' PAGE_SIZE " + QByteArray::number(pageSize) + " DEFAULT CHARACTER SET " + kCharset;
    ISC_STATUS_ARRAY status{};
    isc_db_handle handle = 0;
    isc_tr_handle tr = 0;
    if (isc_dsql_execute_immediate(status, &handle, &tr, 0, sql.constData(), SQL_DIALECT_V6, nullptr))
        throw DbError::fromStatus(status, QStringLiteral("Не удалось создать базу данных %1.").arg(QDir::toNativeSeparators(path)));
    // The creating attachment has no connection character set: attach again
    // with the usual parameters.
    ISC_STATUS_ARRAY detachStatus{};
    isc_detach_database(detachStatus, &handle);
    attach(path);
}

void Database::detach()
{
    if (!isAttached())
        return;
    // Copy: ending a transaction does not unregister it, but be safe anyway.
    const std::vector<Transaction *> transactions = m_transactions;
    for (Transaction *t : transactions)
        t->endOnDetach();
    ISC_STATUS_ARRAY status{};
    isc_db_handle handle = m_handle;
    const ISC_STATUS failed = isc_detach_database(status, &handle);
    m_handle = 0;
    if (failed)
        throw DbError::fromStatus(status, QStringLiteral("Не удалось закрыть базу данных %1.").arg(QDir::toNativeSeparators(m_path)));
}

void Database::removeTransaction(Transaction *t)
{
    m_transactions.erase(std::remove(m_transactions.begin(), m_transactions.end(), t), m_transactions.end());
}

} // namespace pc::fb
