#pragma once
// What another connection to a database file sees: its own attachment and
// its own transaction, so only what has been committed is visible. A change
// the program promises to keep at once is checked through this, never through
// the program's own transaction (which sees its uncommitted changes too).

#include <QString>

namespace pc::test {

// First column of the first row of a select, as a 64-bit integer (0 when the
// value is null). Throws std::runtime_error when the select gives no row.
qint64 committedScalar(const QString &databasePath, const QString &sql);

} // namespace pc::test
