#pragma once
// Rows written to the database a block at a time. Over a server every
// statement is a round trip; a block of rows in one EXECUTE BLOCK costs one.
// The embedded engine has no round trips: there one prepared statement per
// row is cheaper, and a writer made with one row per block does just that.
//
// Each row is bound by the caller through parameter indexes the writer
// gives it; a block that is not full when the rows end is written row by row
// by flush(), which must be called once after the last row.

#include <QString>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace pc {

class TDM;
namespace fb {
class Statement;
}

class RowWriter {
public:
    // A parameter of the row statement: its name (":NAME" in sql) and SQL type.
    struct Param {
        QString name;
        QString type;
    };
    // Binds one row: into the statement, at the indexes given for the
    // parameters in the order they were listed.
    using Bind = std::function<void(fb::Statement &, const std::vector<int> &indexes)>;

    RowWriter(TDM &dm, const QString &sql, const std::vector<Param> &params, int rowsPerBlock);
    ~RowWriter();
    RowWriter(const RowWriter &) = delete;
    RowWriter &operator=(const RowWriter &) = delete;

    // Writes a row, or keeps it for the block. bind may be called twice for
    // one row (into the block, and once more should the block stay short).
    void add(const Bind &bind);
    // Writes the rows kept for a block that did not fill.
    void flush();

private:
    std::unique_ptr<fb::Statement> m_single, m_block;
    std::vector<int> m_singleIndexes;
    int m_params = 0;
    int m_rowsPerBlock = 1;
    std::vector<Bind> m_pending;
    std::vector<int> m_blockIndexes;
};

} // namespace pc
