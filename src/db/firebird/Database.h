#pragma once
// One attachment to a Firebird database.
//
// The database name is a plain file path for the embedded engine (no server
// process), or "host/port:/path/file.gdb" for a database served by
// Firebird's own server. Every attachment uses the user "sysdba" and the
// password "plimbrost" unless others are set, and the WIN1251 connection
// character set; databases are created in dialect 3 with WIN1251 as their
// default character set. The engine's lock folder (FIREBIRD_LOCK) must be set
// by main() before the first call (pc::setFirebirdLockFolder()).
//
// With the embedded engine only one process may open a database file at a
// time; a second one gets a DbError whose isOpenedByOtherProcess() is true.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <vector>

namespace pc::fb {

class Transaction;

class Database {
public:
    static constexpr const char *kUser = "sysdba";
    static constexpr const char *kPassword = "plimbrost";
    static constexpr const char *kCharset = "WIN1251";

    Database() = default;
    ~Database(); // detaches; never throws
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Attaches to an existing database file. Throws DbError.
    void attach(const QString &path);
    // Creates a new database file (fails when it exists) and attaches to it.
    void create(const QString &path, int pageSize = 8192);
    // Ends every transaction of this database by its close action, then
    // detaches. Does nothing when not attached. Throws DbError when the
    // engine refuses; the handle is dropped either way.
    void detach();
    // Detaches ignoring every error: for an attachment whose server went
    // away. The handle is dropped either way.
    void drop() noexcept;
    // Leaves the attachment behind without waiting for its server: its
    // transactions are forgotten and the detach runs on a thread of its own,
    // so a server that stopped answering holds only that thread. The object
    // may attach again at once.
    void abandon() noexcept;

    // Takes over the attachment of `fresh` (made elsewhere, e.g. on another
    // thread), which is left unattached; this object must not be attached.
    void adopt(Database &fresh);

    // The connection broke on a call of this attachment (set by DbError);
    // cleared by the next attach.
    void markLost() noexcept { m_lost.store(true); }
    bool isLost() const noexcept { return m_lost.load(); }
    // Seconds an attach to a server waits for the server's answer
    // (0: the client library's own default).
    void setConnectTimeout(int seconds) { m_connectTimeout = seconds; }

    // Page cache size of the next attach, in pages; 0 (the default) keeps the
    // engine's own. A bulk load of a large table writes far fewer pages
    // synchronously with a cache that holds the table and its indexes.
    void setPageBuffers(int pages) { m_pageBuffers = pages; }
    // User and password of the next attach or create; empty: the defaults.
    void setCredentials(const QString &user, const QString &password);

    // "host/port:path" when server is not empty, else path unchanged.
    static QString connectionName(const QString &server, const QString &path);
    // True for a name that goes to a server ("host:path", "host/port:path").
    static bool isServerName(const QString &name);
    // Every plain file name given to attach() or create() is reached through
    // this server instead of the embedded engine (empty: none). The test
    // suite uses it to run everything against a private server.
    static void setDefaultServer(const QString &server);
    static QString defaultServer();

    bool isAttached() const { return m_handle != 0; }
    const QString &path() const { return m_path; }

    // Raw handle for Transaction and Statement (isc_db_handle).
    unsigned *handle() { return &m_handle; }

private:
    friend class Transaction;
    void addTransaction(Transaction *t) { m_transactions.push_back(t); }
    void removeTransaction(Transaction *t);

    QString effectiveName(const QString &path) const;
    unsigned m_handle = 0;
    int m_pageBuffers = 0;
    int m_connectTimeout = 10;
    std::atomic<bool> m_lost{false};
    QByteArray m_user, m_password;
    QString m_path;
    std::vector<Transaction *> m_transactions;
};

} // namespace pc::fb
