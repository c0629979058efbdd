#include "TempDatabase.h"

#include "db/EmptyDatabase.h"
#include "db/firebird/Statement.h"

#include <stdexcept>

namespace pc::test {

TempDatabase::TempDatabase(Content content, int lockTimeoutSeconds)
{
    if (!m_dir.isValid())
        throw std::runtime_error("no temporary folder");
    m_path = m_dir.filePath(QStringLiteral("test.gdb"));
    m_db = std::make_unique<fb::Database>();
    if (content == Content::Tables) {
        CreateEmptyDatabase(m_path);
        m_db->attach(m_path);
    } else {
        m_db->create(m_path);
    }
    m_tr = std::make_unique<fb::Transaction>(*m_db, lockTimeoutSeconds);
    m_tr->start();
}

TempDatabase::~TempDatabase()
{
    m_tr.reset();
    m_db.reset();
}

void TempDatabase::exec(const QString &sql)
{
    fb::Statement st(*m_tr);
    st.prepare(sql);
    st.execute();
}

qint64 TempDatabase::scalar(const QString &sql)
{
    fb::Statement st(*m_tr);
    st.prepare(sql);
    st.execute();
    if (!st.fetch())
        throw std::runtime_error("no row");
    return st.asInt64(0);
}

} // namespace pc::test
