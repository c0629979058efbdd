#include "db/EmptyDatabase.h"

#include "db/TableDefs.h"
#include "db/firebird/Database.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Transaction.h"

#include <QFile>

namespace pc {

void CreateEmptyDatabase(const QString &path, const QString &user, const QString &password)
{
    const std::vector<TTableDefs> defs = BuildTableDefs(DriverFirebird);
    fb::Database db;
    db.setCredentials(user, password);
    db.create(path);
    try {
        fb::Transaction tr(db);
        tr.start();
        fb::Statement st(tr);
        for (const StoredTable &t : StoredTables()) {
            const TTableDefs &def = defs[size_t(t.def)];
            QStringList texts{CreateTableSQL(def, t.name, DriverFirebird)};
            texts += CreateIndexSQL(def, t.name, DriverFirebird);
            for (const QString &sql : texts) {
                st.prepare(sql);
                st.execute();
            }
        }
        tr.commit();
        db.detach();
    } catch (...) {
        try {
            db.detach();
        } catch (...) {
        }
        if (!fb::Database::isServerName(path))
            QFile::remove(path);
        throw;
    }
}

} // namespace pc
