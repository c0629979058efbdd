#pragma once
// Values of the supplier's document files as the imports store them: dates
// written as text or kept as dates, texts cut to the size of their column.

#include <QDate>
#include <QString>

namespace pc {

class DbfField;
class TTableDefs;

// A date written as text: the system's short date format first, then the
// common written forms (dd.MM.yyyy, d.M.yyyy, dd/MM/yyyy, yyyy-MM-dd,
// yyyyMMdd, dd.MM.yy). Throws AppError for anything else.
QDate parseDocumentDate(const QString &text);
// The document date column: a date column as it is, any other as text read by
// parseDocumentDate. Throws AppError when there is no date.
QDate documentDate(const DbfField &f);
// The value trimmed and cut to the size of `column` in `def`.
QString fitted(const TTableDefs &def, const QString &column, const QString &value);

} // namespace pc
