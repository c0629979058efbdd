#include "OtherConnection.h"

#include "db/firebird/Database.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Transaction.h"

#include <stdexcept>

namespace pc::test {

qint64 committedScalar(const QString &databasePath, const QString &sql)
{
    fb::Database db;
    db.attach(databasePath);
    qint64 value = 0;
    {
        // A short lock time-out: a reader never waits on the program's locks
        // (read committed, record version), so a wait here would be a fault.
        fb::Transaction tr(db, 2);
        fb::Statement st(tr);
        st.prepare(sql);
        st.execute();
        if (!st.fetch())
            throw std::runtime_error("no row: " + sql.toStdString());
        value = st.isNull(0) ? 0 : st.asInt64(0);
        st.closeCursor();
        tr.commit();
    }
    db.detach();
    return value;
}

} // namespace pc::test
