#pragma once
// A transaction on one Database: read committed, record version, read-write,
// waiting on lock conflicts at most lockTimeoutSeconds (never an endless wait).
//
// The data module keeps one Transaction object for everything; a commit
// ends the transaction and the next statement starts the next one (see
// TDM::Commit). A retaining
// commit keeps the transaction, and every open cursor, alive, but also keeps
// the engine from collecting the row versions made obsolete since it began.
// When the object is destroyed or its database detaches while it is active,
// it ends by its close action (rollback unless set to commit).

#include <QString>
#include <QStringList>

namespace pc::fb {

class Database;

class Transaction {
public:
    enum class CloseAction { Rollback, Commit };

    explicit Transaction(Database &db, int lockTimeoutSeconds = 10);
    ~Transaction(); // ends an active transaction by its close action; never throws
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // All of these throw DbError on engine failures.
    void start();              // fails when already active
    // Starts a read-only snapshot: every read sees the database as it was
    // at the start, whatever others commit meanwhile; writes are refused.
    // For reading a whole list in one short transaction.
    void startReadSnapshot();
    // Starts with the named tables reserved for protected write for the whole
    // transaction: other writers to them wait (at most the lock time-out)
    // and then fail, readers go on.
    void startReserving(const QStringList &tables);
    // Seconds a statement waits for a row or table another holds; 0: it
    // fails at once. Takes effect at the next start.
    void setLockTimeout(int seconds) { m_lockTimeout = seconds; }
    int lockTimeout() const { return m_lockTimeout; }
    void commit();             // ends the transaction
    void commitRetaining();    // makes changes permanent, stays active
    void rollback();           // ends the transaction
    void rollbackRetaining();  // undoes changes since the last commit, stays active

    bool isActive() const { return m_handle != 0; }
    bool isReadOnly() const { return m_readOnly; }
    // Whether a statement other than a select ran since the start, and how
    // many cursors of this transaction are open: a transaction with neither
    // can be ended at any moment without losing anything.
    bool hasWrites() const { return m_wrote; }
    int openCursors() const { return m_openCursors; }
    // Kept by Statement.
    void noteWrite() { m_wrote = true; }
    unsigned cursorOpened() { ++m_openCursors; return m_generation; }
    void cursorClosed(unsigned generation)
    {
        if (generation == m_generation && m_openCursors > 0)
            --m_openCursors;
    }
    void setCloseAction(CloseAction action) { m_closeAction = action; }
    CloseAction closeAction() const { return m_closeAction; }

    Database &database(); // throws DbError when the database object is gone
    Database *databaseOrNull() { return m_db; }
    unsigned *handle() { return &m_handle; } // isc_tr_handle

private:
    friend class Database;
    void endOnDetach() noexcept;
    void forgetHandle() noexcept; // the attachment was left behind
    void started(unsigned handle, bool readOnly);
    void ended();
    void forgetDatabase() noexcept; // the database object is being destroyed
    void requireActive(const char *what) const;

    Database *m_db;
    int m_lockTimeout;
    unsigned m_handle = 0;
    bool m_readOnly = false;
    bool m_wrote = false;
    int m_openCursors = 0;
    unsigned m_generation = 0;
    CloseAction m_closeAction = CloseAction::Rollback;
};

} // namespace pc::fb
