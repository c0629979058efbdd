#pragma once
// The order file the pharmacy's own stock-keeping system exports: a DBF table
// with a goods-code column and a quantity column, named in the settings.

#include <QString>
#include <vector>

namespace pc {

struct OrderFileLine {
    QString code;     // trimmed
    QString quantity; // trimmed, as written in the file
};

// Every record of the file, in file order. Throws DbfError when the file
// cannot be read or lacks one of the two columns.
std::vector<OrderFileLine> ReadOrderFile(const QString &fileName, const QString &codeField, const QString &qntField);

} // namespace pc
