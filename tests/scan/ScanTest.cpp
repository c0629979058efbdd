// Reading what a scanner sends: linear codes and GS1 element strings.
#include <gtest/gtest.h>

#include "documents/Scan.h"

using namespace pc;

namespace {

struct Case {
    const char *what;
    QByteArray raw;
    bool ok;
    const char *gtin = "";
    const char *ean13 = "";
    const char *batch = "";
    QDate expiry = {};
    QDate produced = {};
    const char *serial = "";
};

#define GS "\x1d"

const QByteArray kDm = "0104607001771234"; // (01) of an EAN-13 4607001771234

std::vector<Case> cases()
{
    return {
        // linear codes
        {"EAN-13", "4607001771234", true, "04607001771234", "4607001771234"},
        {"EAN-13 with the scanner's Enter", "4607001771234\r\n", true, "04607001771234", "4607001771234"},
        {"EAN-13 with its symbology prefix", "]E04607001771234", true, "04607001771234", "4607001771234"},
        {"EAN-13 wrong check digit", "4607001771235", false},
        {"EAN-8 padded to a GTIN-14", "96385074", true, "00000096385074", "0000096385074"},
        {"EAN-8 wrong check digit", "96385075", false},
        {"UPC-A padded to a GTIN-14", "036000291452", true, "00036000291452", "0036000291452"},
        {"UPC-A wrong check digit", "036000291453", false},
        {"GTIN-14 not starting with 0 has no EAN-13", "14607001771231", true, "14607001771231", ""},
        {"ten digits are no code", "4607001771", false},
        {"letters are no code", "ABCDEFGH", false},
        {"empty", "", false},
        {"only an Enter", "\r", false},
        // GS1 DataMatrix as a keyboard-wedge scanner types it
        {"expiry, batch, serial with ]d2", "]d2" + kDm + "17270531" "10AB123" GS "21XYZ987", true,
         "04607001771234", "4607001771234", "AB123", QDate(2027, 5, 31), {}, "XYZ987"},
        {"no prefix, leading FNC1", GS + kDm + "21SER1" GS "10LOT-7" GS "17280115", true, "04607001771234",
         "4607001771234", "LOT-7", QDate(2028, 1, 15), {}, "SER1"},
        {"GS1-128 prefix ]C1", "]C1" + kDm + "10B1", true, "04607001771234", "4607001771234", "B1"},
        {"]Q3 prefix", "]Q3" + kDm + "21S", true, "04607001771234", "4607001771234", "", {}, {}, "S"},
        {"variable fields in any order, the last without GS", "]d221A1B2C3" GS "10SERIA/5" GS + kDm + "17261231",
         true, "04607001771234", "4607001771234", "SERIA/5", QDate(2026, 12, 31), {}, "A1B2C3"},
        {"production and expiry dates", kDm + "11250301" "17280300" "10X", true, "04607001771234",
         "4607001771234", "X", QDate(2028, 3, 31), QDate(2025, 3, 1)},
        {"day 00 in February of a leap year", kDm + "17280200", true, "04607001771234", "4607001771234", "",
         QDate(2028, 2, 29)},
        {"day 00 in February of a common year", kDm + "17270200", true, "04607001771234", "4607001771234", "",
         QDate(2027, 2, 28)},
        {"29 February of a leap year", kDm + "17280229", true, "04607001771234", "4607001771234", "",
         QDate(2028, 2, 29)},
        {"29 February of a common year", kDm + "17270229", false},
        {"month 13", kDm + "17271301", false},
        {"month 00", kDm + "17270015", false},
        {"31 April", kDm + "17270431", false},
        {"day 00 of a 30-day month", kDm + "17270900", true, "04607001771234", "4607001771234", "",
         QDate(2027, 9, 30)},
        {"a year far ahead belongs to the past century", kDm + "17990101", true, "04607001771234", "4607001771234",
         "", QDate(1999, 1, 1)},
        {"expiry cut short at the end", kDm + "172705", false},
        {"wrong GTIN check digit", "]d20104607001771235" "21X", false},
        {"GTIN with a letter", "]d201046070017712A4" "21X", false},
        {"no GTIN at all", "]d210ABC" GS "17270101", false},
        {"national marking code: serial and crypto tails kept", "]d2" + kDm + "215Nk&'<e!MfQ" GS "91EE06" GS
         "92dGVzdGNyeXB0b3RhaWwxMjM0NTY3ODkwYWJjZGVmZ2hpams=", true, "04607001771234", "4607001771234", "", {}, {},
         "5Nk&'<e!MfQ"},
        {"other fixed-length fields skipped", "]d2" "00346070017712345672" + kDm + "3103000750" "41046070000000"
         "12" "20" "01" "17270101" "10L9", true, "04607001771234", "4607001771234", "L9", QDate(2027, 1, 1)},
        {"other variable fields skipped", "]d2" + kDm + "240REF-1" GS "7003270101" "1230" "10L2" GS "400PO-77", true,
         "04607001771234", "4607001771234", "L2"},
        {"a missing GS swallows the next field", "]d2" + kDm + "21ABCDEFGHIJ10LOT4" "1727010121EXTRA", false},
        {"an unknown identifier", "]d2" + kDm + "05XYZ", false},
        {"an empty batch", "]d2" + kDm + "10" GS "21X", false},
        {"a GTIN-14 from the carton, not starting with 0", "]d2" "0114607001771231" "10B", true, "14607001771231",
         "", "B"},
        {"the human-readable form typed by hand", "(01)04607001771234(17)270500(10)AB 1", true, "04607001771234",
         "4607001771234", "AB 1", QDate(2027, 5, 31)},
        {"an unknown symbology prefix", "]X9" + kDm, false},
        {"garbage bytes", QByteArray("\x01\x02\xff\xfe", 4), false},
    };
}

} // namespace

TEST(ParseScan, TableOfCodes)
{
    ScanOptions options;
    options.referenceYear = 2026;
    const std::vector<Case> all = cases();
    ASSERT_GE(all.size(), 30u);
    for (const Case &c : all) {
        SCOPED_TRACE(c.what);
        const Scan s = ParseScan(c.raw, options);
        EXPECT_EQ(s.ok, c.ok) << s.reason.toStdString();
        if (!c.ok) {
            EXPECT_FALSE(s.reason.isEmpty());
            continue;
        }
        EXPECT_TRUE(s.reason.isEmpty());
        EXPECT_EQ(s.gtin, QLatin1String(c.gtin));
        EXPECT_EQ(s.ean13, QLatin1String(c.ean13));
        EXPECT_EQ(s.batch, QString::fromLatin1(c.batch));
        EXPECT_EQ(s.expiry, c.expiry);
        EXPECT_EQ(s.produced, c.produced);
        EXPECT_EQ(s.serial, QString::fromLatin1(c.serial));
    }
}

TEST(ParseScan, CryptoTailsKeptAsText)
{
    const Scan s = ParseScan("]d2" + kDm + "21abc" GS "91EE06" GS "92AbCd==" GS "93Zx9");
    ASSERT_TRUE(s.ok) << s.reason.toStdString();
    EXPECT_EQ(s.crypto91, QStringLiteral("EE06"));
    EXPECT_EQ(s.crypto92, QStringLiteral("AbCd=="));
    EXPECT_EQ(s.crypto93, QStringLiteral("Zx9"));
}

TEST(ParseScan, StandInForFnc1)
{
    const QByteArray typed = "~" + kDm + "10LOT~17270100~21S1";
    // Without the setting the stand-in is part of the text and the code is unreadable.
    EXPECT_FALSE(ParseScan(typed).ok);
    ScanOptions options;
    options.fnc1StandIn = '~';
    options.referenceYear = 2026;
    const Scan s = ParseScan(typed, options);
    ASSERT_TRUE(s.ok) << s.reason.toStdString();
    EXPECT_EQ(s.batch, QStringLiteral("LOT"));
    EXPECT_EQ(s.expiry, QDate(2027, 1, 31));
    EXPECT_EQ(s.serial, QStringLiteral("S1"));
    // GS is still FNC1 with a stand-in set.
    EXPECT_EQ(ParseScan(kDm + "10A" GS "21B", options).batch, QStringLiteral("A"));
}

TEST(ParseScan, CenturyFollowsTheReferenceYear)
{
    ScanOptions options;
    options.referenceYear = 2026;
    EXPECT_EQ(ParseScan(kDm + "17760101", options).expiry, QDate(2076, 1, 1)); // 50 years ahead at most
    EXPECT_EQ(ParseScan(kDm + "17770101", options).expiry, QDate(1977, 1, 1));
    options.referenceYear = 2080;
    EXPECT_EQ(ParseScan(kDm + "17050101", options).expiry, QDate(2105, 1, 1));
}

TEST(ParseScan, CheckDigit)
{
    EXPECT_EQ(Gs1CheckDigit("460700177123"), 4);
    EXPECT_EQ(Gs1CheckDigit("9638507"), 4);
    EXPECT_EQ(Gs1CheckDigit("46070A"), -1);
}

#include "core/ShortExpiry.h"

TEST(ShortExpiry, MonthsLeftAndTheLimit)
{
    const QDate today(2026, 12, 8);
    EXPECT_EQ(MonthsLeft(today, QDate(2027, 6, 8)), 6);
    EXPECT_EQ(MonthsLeft(today, QDate(2027, 6, 7)), 5);
    EXPECT_EQ(MonthsLeft(today, QDate(2026, 12, 31)), 0);
    EXPECT_EQ(MonthsLeft(today, QDate(2026, 1, 1)), 0);
    EXPECT_EQ(MonthsLeft(QDate(2027, 1, 31), QDate(2027, 2, 27)), 0);
    EXPECT_EQ(MonthsLeft(QDate(2027, 1, 31), QDate(2027, 2, 28)), 1); // to the end of a shorter month
    EXPECT_EQ(MonthsLeft(QDate(2028, 1, 31), QDate(2028, 2, 28)), 0); // a leap February is longer
    EXPECT_TRUE(IsShortExpiry(QDate(2027, 6, 7), today, 6));
    EXPECT_FALSE(IsShortExpiry(QDate(2027, 6, 8), today, 6));
    EXPECT_TRUE(IsShortExpiry(QDate(2026, 1, 1), today, 6)); // past
    EXPECT_FALSE(IsShortExpiry(QDate(2026, 1, 1), today, 0)); // warning off
    EXPECT_FALSE(IsShortExpiry(QDate(), today, 6));
    EXPECT_EQ(ShortExpiryText(QDate(2027, 3, 1), today), QStringLiteral("Срок годности до 01.03.2027 (осталось 2 мес.)"));
    EXPECT_EQ(ShortExpiryText(QDate(2026, 12, 1), today), QStringLiteral("Срок годности истёк 01.12.2026"));
}
