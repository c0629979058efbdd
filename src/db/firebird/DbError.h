#pragma once
// The one exception type of the database layer. It carries the engine's own
// message (all lines of the status vector, joined by line feeds), the
// engine's error code and the SQL code, so callers can both show the text and
// tell particular failures apart.

#include <QString>
#include <stdexcept>
#include <vector>

namespace pc::fb {

class Database;

class DbError : public std::runtime_error {
public:
    explicit DbError(const QString &text, long engineCode = 0, int sqlCode = 0, std::vector<long> codes = {});

    // Builds the error from a Firebird status vector (ISC_STATUS[20]).
    // `context`, a Russian sentence saying what failed, is put in front of
    // the engine's text when not empty. When the status says that the
    // connection broke, `db` (the attachment the call was made on) is marked
    // lost: only that attachment, never another one of the process.
    static DbError fromStatus(const intptr_t *status, Database *db, const QString &context = QString());
    static DbError fromStatus(const intptr_t *status, const QString &context = QString())
    {
        return fromStatus(status, nullptr, context);
    }

    const QString &text() const { return m_text; }
    long engineCode() const { return m_engineCode; } // isc_* code, 0 when not from the engine
    int sqlCode() const { return m_sqlCode; }

    // True when another process holds the database file (one process per
    // database file with the embedded engine).
    bool isOpenedByOtherProcess() const;
    // Another workstation holds or changed the row or table (lock conflict,
    // update conflict, lock time-out, a table reserved by another).
    bool isConflict() const;
    // The connection to the database server broke or could not be made.
    bool isConnectionLost() const;
    bool isHostUnknown() const;        // the server's name is not known
    bool isConnectionRefused() const;  // nobody answers on that port
    bool isLoginRefused() const;       // wrong user name or password
    bool isFileMissing() const;        // no database file at that path
    bool isWireCryptMismatch() const;  // the server and the client disagree on encryption
    bool isDuplicate() const;          // a unique key already holds that value
    bool hasCode(long code) const;

private:
    QString m_text;
    long m_engineCode;
    int m_sqlCode;
    std::vector<long> m_codes;
};

} // namespace pc::fb
