#include "price/OrderFileImport.h"

#include "db/DbfReader.h"

namespace pc {

std::vector<OrderFileLine> ReadOrderFile(const QString &fileName, const QString &codeField, const QString &qntField)
{
    DbfReader reader;
    reader.setDBFFileName(fileName);
    reader.Open();
    reader.setOEM(true); // the pharmacy's programs write DBF texts in code page 866
    const DbfField &code = reader.FieldByName(codeField);
    const DbfField &qnt = reader.FieldByName(qntField);
    std::vector<OrderFileLine> lines;
    for (reader.First(); !reader.Eof(); reader.Next())
        lines.push_back({code.AsString().trimmed(), qnt.AsString().trimmed()});
    reader.Close();
    return lines;
}

} // namespace pc
