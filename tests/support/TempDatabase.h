#pragma once
// A fresh embedded database in a temporary folder, attached, with one started
// transaction; everything is removed when the object goes.

#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "db/firebird/Database.h"
#include "db/firebird/Transaction.h"

namespace pc::test {

class TempDatabase {
public:
    // empty: a bare database; tables: one made by CreateEmptyDatabase.
    enum class Content { Empty, Tables };
    explicit TempDatabase(Content content = Content::Empty, int lockTimeoutSeconds = 10);
    ~TempDatabase();

    const QString &path() const { return m_path; }
    QString folder() const { return m_dir.path(); }
    fb::Database &db() { return *m_db; }
    fb::Transaction &tr() { return *m_tr; }

    // Runs one statement in the fixture's transaction (no commit).
    void exec(const QString &sql);
    // First column of the first row of a select, as a 64-bit integer.
    qint64 scalar(const QString &sql);

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<fb::Database> m_db;
    std::unique_ptr<fb::Transaction> m_tr;
};

} // namespace pc::test
