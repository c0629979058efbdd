#include "db/firebird/Database.h"

#include "db/firebird/DbError.h"
#include "db/firebird/Transaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <ibase.h>
#include <thread>

namespace pc::fb {

namespace {

void appendString(std::vector<char> &dpb, char tag, const char *value)
{
    const size_t len = std::strlen(value);
    dpb.push_back(tag);
    dpb.push_back(char(len));
    dpb.insert(dpb.end(), value, value + len);
}

QString g_defaultServer;

void appendInt(std::vector<char> &dpb, char tag, unsigned value)
{
    dpb.push_back(tag);
    dpb.push_back(4);
    for (int i = 0; i < 4; ++i) // little-endian, as the engine reads it
        dpb.push_back(char((value >> (8 * i)) & 0xFF));
}

std::vector<char> attachParameters(int pageBuffers, const QByteArray &user, const QByteArray &password,
                                   int connectTimeout)
{
    std::vector<char> dpb;
    dpb.push_back(char(isc_dpb_version1));
    appendString(dpb, char(isc_dpb_user_name), user.isEmpty() ? Database::kUser : user.constData());
    appendString(dpb, char(isc_dpb_password), password.isEmpty() ? Database::kPassword : password.constData());
    appendString(dpb, char(isc_dpb_lc_ctype), Database::kCharset);
    // The file name is handed over in UTF-8 whatever the locale: under "C" a
    // folder with Cyrillic letters could not be opened otherwise.
    dpb.push_back(char(isc_dpb_utf8_filename));
    dpb.push_back(0);
    // Over a network the rows of a select come in packets of this size: the
    // largest the engine takes costs a quarter of the round trips of its
    // default when a whole price list is read.
    appendString(dpb, char(isc_dpb_config), "TcpRemoteBufferSize=32767");
    if (pageBuffers > 0) {
        // The engine only ever grows its cache to the attachment's number;
        // the size it starts with is the one kept in the database header.
        for (char tag : {char(isc_dpb_set_page_buffers), char(isc_dpb_num_buffers)})
            appendInt(dpb, tag, unsigned(pageBuffers));
    }
    // A server that does not answer is given up after this long instead of
    // the client library's minutes.
    if (connectTimeout > 0)
        appendInt(dpb, char(isc_dpb_connect_timeout), unsigned(connectTimeout));
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

void Database::setCredentials(const QString &user, const QString &password)
{
    m_user = user.toUtf8();
    m_password = password.toUtf8();
}

QString Database::connectionName(const QString &server, const QString &path)
{
    return server.trimmed().isEmpty() ? path : server.trimmed() + QLatin1Char(':') + path;
}

bool Database::isServerName(const QString &name)
{
    // "/path" and "C:..." are files; "host:path" and "host/port:path" are not.
    const int colon = name.indexOf(QLatin1Char(':'));
    if (colon <= 0 || name.startsWith(QLatin1Char('/')))
        return false;
    return colon > 1 || !name.at(0).isLetter();
}

void Database::setDefaultServer(const QString &server) { g_defaultServer = server.trimmed(); }
QString Database::defaultServer() { return g_defaultServer; }

QString Database::effectiveName(const QString &path) const
{
    if (g_defaultServer.isEmpty() || isServerName(path))
        return path;
    return connectionName(g_defaultServer, QFileInfo(path).absoluteFilePath());
}

void Database::attach(const QString &path)
{
    if (isAttached())
        throw DbError(QStringLiteral("База данных %1 уже открыта.").arg(m_path));
    const QByteArray name = effectiveName(path).toUtf8();
    const std::vector<char> dpb = attachParameters(m_pageBuffers, m_user, m_password, m_connectTimeout);
    ISC_STATUS_ARRAY status{};
    isc_db_handle handle = 0;
    if (isc_attach_database(status, short(name.size()), name.constData(), &handle, short(dpb.size()), dpb.data()))
        throw DbError::fromStatus(status, this, QStringLiteral("Не удалось открыть базу данных %1.").arg(QDir::toNativeSeparators(path)));
    m_handle = handle;
    m_path = path;
    m_lost.store(false);
}

void Database::create(const QString &path, int pageSize)
{
    if (isAttached())
        throw DbError(QStringLiteral("База данных %1 уже открыта.").arg(m_path));
    // The SQL form is used because the API call without a dialect parameter
    // makes a dialect-1 database.
    QByteArray quoted = QFile::encodeName(effectiveName(path));
    quoted.replace('\'', "''");
    auto literal = [](QByteArray text) -> QByteArray { return "'" + text.replace('\'', "''") + "'"; };
    const QByteArray user = m_user.isEmpty() ? QByteArray(kUser) : m_user;
    const QByteArray password = m_password.isEmpty() ? QByteArray(kPassword) : m_password;
    const QByteArray userLiteral = literal(user), passwordLiteral = literal(password);
    const QByteArray sql = "CREATE DATABASE '" + quoted + "' USER " + userLiteral + " PASSWORD " + passwordLiteral
        + " PAGE_SIZE "
        + QByteArray::number(pageSize) + " DEFAULT CHARACTER SET " + kCharset;
    ISC_STATUS_ARRAY status{};
    isc_db_handle handle = 0;
    isc_tr_handle tr = 0;
    if (isc_dsql_execute_immediate(status, &handle, &tr, 0, sql.constData(), SQL_DIALECT_V6, nullptr))
        throw DbError::fromStatus(status, this, QStringLiteral("Не удалось создать базу данных %1.").arg(QDir::toNativeSeparators(path)));
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
        throw DbError::fromStatus(status, this, QStringLiteral("Не удалось закрыть базу данных %1.").arg(QDir::toNativeSeparators(m_path)));
}

void Database::drop() noexcept
{
    try {
        detach();
    } catch (...) {
    }
    m_handle = 0;
}

void Database::abandon() noexcept
{
    for (Transaction *t : m_transactions)
        t->forgetHandle();
    isc_db_handle handle = m_handle;
    m_handle = 0;
    if (!handle)
        return;
    try {
        std::thread([handle]() mutable {
            ISC_STATUS_ARRAY status{};
            isc_detach_database(status, &handle);
        }).detach();
    } catch (const std::exception &) {
        // No thread to be had: the handle is left as it is.
    }
}

void Database::adopt(Database &fresh)
{
    if (isAttached())
        throw DbError(QStringLiteral("База данных %1 уже открыта.").arg(m_path));
    m_handle = fresh.m_handle;
    m_path = fresh.m_path;
    m_lost.store(fresh.m_lost.load());
    fresh.m_handle = 0;
}

void Database::removeTransaction(Transaction *t)
{
    m_transactions.erase(std::remove(m_transactions.begin(), m_transactions.end(), t), m_transactions.end());
}

} // namespace pc::fb
