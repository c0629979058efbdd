#include "core/LogText.h"
#include "core/PriceMask.h"

#include <QLocale>
#include <gtest/gtest.h>

TEST(PriceMask, IntegerMaskIsItsOwnInverse)
{
    const QString code = QStringLiteral(" 1234 ");
    EXPECT_EQ(ClientCodeSum(code), '1' + '2' + '3' + '4');
    for (int n : {0, 1, 57, 12345, -3})
        EXPECT_EQ(MaskInteger(MaskInteger(n, code), code), n);
    EXPECT_NE(MaskInteger(100, code), 100);
    EXPECT_EQ(MaskInteger(100, QString()), 100);
    EXPECT_EQ(ClientCodeSum(QStringLiteral("Яя")), 0xDF + 0xFF); // code page 1251 byte values
}

TEST(PriceMask, PriceMaskChangesOnlyTheIntegerPartAndRoundsToHundredths)
{
    const QString code = QStringLiteral("4711");
    const double masked = MaskPriceValue(123.45, code);
    EXPECT_NEAR(masked - std::trunc(masked), 0.45, 1e-9);
    EXPECT_NEAR(MaskPriceValue(masked, code), 123.45, 1e-9);
    EXPECT_NEAR(MaskPriceValue(10.125, QString()), 10.12, 1e-9); // half to even
    EXPECT_NEAR(MaskPriceValue(10.375, QString()), 10.38, 1e-9);
    EXPECT_NEAR(MaskPriceValue(7.999, QString()), 8.0, 1e-9);
    EXPECT_NEAR(MaskPriceValue(55.5, QString()), 55.5, 1e-9);
}

TEST(LogText, LinesPrefixesAndTimeStamps)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const QDateTime when(QDate(2009, 3, 5), QTime(8, 7, 6));
    EXPECT_EQ(pc::logLine("Нет связи", Warning, when), "[05.03.2009 08:07:06] Предупреждение: Нет связи");
    EXPECT_EQ(pc::logLine("x", Info, when), "[05.03.2009 08:07:06] i: x");
    EXPECT_EQ(pc::logLine("x", Error, when), "[05.03.2009 08:07:06] ОШИБКА!: x");
    EXPECT_EQ(pc::levelColor(Warning), QColor(68, 51, 0));
    EXPECT_EQ(pc::TimeStampText(when), "200935_876");
    EXPECT_EQ(pc::TimeStampText(QDateTime(QDate(2026, 12, 17), QTime(23, 59, 10))), "20261217_235910");
    EXPECT_EQ(pc::dailyLogFileName("/p/", "", QDate(2026, 1, 2)), "/p/20260102.err");
    EXPECT_EQ(pc::dailyLogFileName("/p/", "77", QDate(2026, 1, 2)), "/p/7720260102.err");
    QLocale::setDefault(saved);
}
