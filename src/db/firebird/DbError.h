#pragma once
// The one exception type of the database layer. It carries the engine's own
// message (all lines of the status vector, joined by line feeds), the
// engine's error code and the SQL code, so callers can both show the text and
// tell particular failures apart.

#include <QString>
#include <stdexcept>

namespace pc::fb {

class DbError : public std::runtime_error {
public:
    explicit DbError(const QString &text, long engineCode = 0, int sqlCode = 0);

    // Builds the error from a Firebird status vector (ISC_STATUS[20]).
    // `context`, a Russian sentence saying what failed, is put in front of
    // the engine's text when not empty.
    static DbError fromStatus(const intptr_t *status, const QString &context = QString());

    const QString &text() const { return m_text; }
    long engineCode() const { return m_engineCode; } // isc_* code, 0 when not from the engine
    int sqlCode() const { return m_sqlCode; }

    // True when another process holds the database file (one process per
    // database file with the embedded engine).
    bool isOpenedByOtherProcess() const;

private:
    QString m_text;
    long m_engineCode;
    int m_sqlCode;
};

} // namespace pc::fb
