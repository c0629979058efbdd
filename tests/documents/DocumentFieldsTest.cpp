// Values of the supplier's documents as they are stored: texts cut to their
// column, dates written as text.
#include <gtest/gtest.h>

#include "db/TableDefs.h"
#include "documents/DocumentFields.h"
#include "platform/AppError.h"

#include <QLocale>

using namespace pc;

TEST(DocumentFields, TextCutToItsColumnNeverEndsInABlank)
{
    const std::vector<TTableDefs> defs = BuildTableDefs(DriverFirebird);
    const TTableDefs &lines = defs[TdNakladL];
    const int size = lines.GetDef(lines.IndexOf(QStringLiteral("PRODUCT"))).Size;
    const QString name = QString(size - 3, QLatin1Char('x')) + QStringLiteral("    Фармстандарт");
    const QString stored = fitted(lines, QStringLiteral("PRODUCT"), QStringLiteral("  ") + name);
    EXPECT_EQ(stored, QString(size - 3, QLatin1Char('x')));
    EXPECT_EQ(fitted(lines, QStringLiteral("PRODUCT"), QStringLiteral(" Фармстандарт ")), QStringLiteral("Фармстандарт"));
    EXPECT_EQ(fitted(lines, QStringLiteral("NO_SUCH_COLUMN"), QStringLiteral(" a  b ")), QStringLiteral("a  b"));
}

TEST(DocumentFields, DatesWrittenAsText)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(parseDocumentDate(QStringLiteral(" 07.12.2026 ")), QDate(2026, 12, 7));
    EXPECT_EQ(parseDocumentDate(QStringLiteral("2026-12-07")), QDate(2026, 12, 7));
    EXPECT_EQ(parseDocumentDate(QStringLiteral("20261207")), QDate(2026, 12, 7));
    EXPECT_EQ(parseDocumentDate(QStringLiteral("07.12.26")), QDate(2026, 12, 7));
    EXPECT_EQ(parseDocumentDate(QStringLiteral("07.12.49")), QDate(2049, 12, 7));
    EXPECT_THROW(parseDocumentDate(QStringLiteral("31.02.2026")), AppError);
    EXPECT_THROW(parseDocumentDate(QString()), AppError);
}
