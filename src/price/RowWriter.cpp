#include "price/RowWriter.h"

#include "db/DataModule.h"
#include "db/firebird/Statement.h"
#include "platform/AppError.h"

#include <QRegularExpression>
#include <QStringList>

namespace pc {

RowWriter::RowWriter(TDM &dm, const QString &sql, const std::vector<Param> &params, int rowsPerBlock)
    : m_params(int(params.size())), m_rowsPerBlock(std::max(1, rowsPerBlock))
{
    m_single.reset(dm.PrepareQuery(sql, true));
    if (!m_single)
        throw AppError(QStringLiteral("База данных не открыта"));
    for (const Param &p : params)
        m_singleIndexes.push_back(m_single->paramIndex(p.name));
    if (m_rowsPerBlock == 1)
        return;
    // EXECUTE BLOCK (R0_A type = ?, R0_B type = ?, R1_A ...) AS BEGIN
    //   <the row's statement with :R0_A, :R0_B>; <... :R1_A ...>; END
    QStringList header;
    QString body;
    for (int r = 0; r < m_rowsPerBlock; ++r) {
        QString row = sql;
        for (const Param &p : params) {
            const QString var = QStringLiteral("R%1_%2").arg(r).arg(p.name);
            header << var + QLatin1Char(' ') + p.type + QStringLiteral(" = ?");
            row.replace(QRegularExpression(QStringLiteral(":%1\\b").arg(QRegularExpression::escape(p.name)),
                                           QRegularExpression::CaseInsensitiveOption),
                        QLatin1Char(':') + var);
        }
        body += row + QStringLiteral(";\n");
    }
    m_block = dm.CreateQuery(QString());
    m_block->preparePositional(QStringLiteral("EXECUTE BLOCK (") + header.join(QStringLiteral(", "))
                               + QStringLiteral(")\nAS BEGIN\n") + body + QStringLiteral("END"));
    m_blockIndexes.resize(size_t(m_params));
}

RowWriter::~RowWriter() = default;

void RowWriter::add(const Bind &bind)
{
    if (!m_block) {
        bind(*m_single, m_singleIndexes);
        m_single->execute();
        return;
    }
    const int row = int(m_pending.size());
    for (int i = 0; i < m_params; ++i)
        m_blockIndexes[size_t(i)] = row * m_params + i;
    bind(*m_block, m_blockIndexes);
    m_pending.push_back(bind);
    if (int(m_pending.size()) == m_rowsPerBlock) {
        m_block->execute();
        m_pending.clear();
    }
}

void RowWriter::flush()
{
    for (const Bind &bind : m_pending) {
        bind(*m_single, m_singleIndexes);
        m_single->execute();
    }
    m_pending.clear();
}

} // namespace pc
