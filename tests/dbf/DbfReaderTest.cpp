// DbfReader against tables made by the test writer: record counting, the
// reading rules of every column type, memo files, the opening errors and
// damaged files.
#include "DbfWriter.h"
#include "db/DbfReader.h"
#include "platform/CodePage.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <functional>

// Readable failure messages for value comparisons.
QT_BEGIN_NAMESPACE
void PrintTo(const QVariant &v, std::ostream *os)
{
    *os << (v.isValid() ? v.typeName() : "null") << "(" << v.toString().toStdString() << ")";
}
QT_END_NAMESPACE

using pc::DbfError;
using pc::DbfField;
using pc::DbfReader;
using pc::test::DbfWriter;

namespace {

class DbfReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_savedLocale = QLocale();
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    }
    void TearDown() override { QLocale::setDefault(m_savedLocale); }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QString save(const DbfWriter &w, const QString &name = QStringLiteral("t.dbf"), bool upperMemo = false)
    {
        w.save(path(name), upperMemo);
        return path(name);
    }

    QString saveBytes(const QByteArray &bytes, const QString &name = QStringLiteral("raw.dbf"))
    {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path(name);
    }

    // Opens the way every caller does: name, Active, then OEM.
    static void open(DbfReader &r, const QString &file)
    {
        r.setDBFFileName(file);
        r.setActive(true);
        r.setOEM(true);
    }

    // The text of the error opening fails with; empty when it opens.
    static QString openError(const QString &file, int bufferSize = 4096)
    {
        DbfReader r;
        r.setBufferSize(bufferSize);
        r.setDBFFileName(file);
        try {
            r.setActive(true);
        } catch (const DbfError &e) {
            EXPECT_FALSE(r.Active());
            return e.text();
        }
        return QString();
    }

    // Every value of one column, the file walked from First to Eof.
    static std::vector<QVariant> column(DbfReader &r, const char *name)
    {
        std::vector<QVariant> out;
        for (r.First(); !r.Eof(); r.Next())
            out.push_back(r.FieldByName(name).AsVariant());
        return out;
    }

    QTemporaryDir m_dir;
    QLocale m_savedLocale;
};

std::vector<QVariant> ints(std::initializer_list<int> values)
{
    return std::vector<QVariant>(values.begin(), values.end());
}

TEST_F(DbfReaderTest, RecordCountComesFromTheFileSizeAndDeletedRecordsAreReturned)
{
    for (qint64 headerCount : {0, 1, 4}) {
        DbfWriter w(0x03);
        w.addField("KOD", 'N', 6).addField("NAME", 'C', 8);
        w.addRecord({1, QStringLiteral("a")}, true).addRecord({2}).addRecord({3}).addRecord({4}, true);
        w.setHeaderRecordCount(headerCount); // not consulted unless it claims more than there is
        QByteArray bytes = w.tableBytes();
        ASSERT_EQ(bytes.back(), '\x1A');
        bytes += QByteArray("   99", 5); // a partial record after the end-of-file byte
        const QString file = saveBytes(bytes);

        DbfReader r;
        open(r, file);
        EXPECT_EQ(r.RecordCount(), 4);
        EXPECT_EQ(column(r, "KOD"), ints({1, 2, 3, 4}));
        r.First();
        EXPECT_TRUE(r.IsDeleted());
        EXPECT_EQ(r.FieldByName("NAME").AsString(), QStringLiteral("a       "));

        r.setSetDeleted(true);
        EXPECT_EQ(column(r, "KOD"), ints({2, 3}));
    }

    DbfWriter allDeleted(0x03);
    allDeleted.addField("KOD", 'N', 6).addRecord({1}, true).addRecord({2}, true);
    DbfReader r;
    r.setSetDeleted(true);
    open(r, save(allDeleted));
    r.First();
    EXPECT_TRUE(r.Eof());
    EXPECT_TRUE(r.FieldByName("KOD").IsNull());
}

TEST_F(DbfReaderTest, NumbersFollowTheShapeOfTheirColumn)
{
    DbfWriter w(0x03);
    w.addField("CENA", 'N', 10, 2).addField("KOL", 'N', 5).addField("BIG", 'N', 20).addField("FL", 'F', 8, 3);
    w.addRecord({QByteArray("12,50"), QByteArray("   42"), QByteArray("12345678901"), QByteArray("  -0.125")});
    w.addRecord({QByteArray("12.50"), QVariant(), QByteArray("-9000000000"), QByteArray("1e3")});
    w.addRecord({QVariant(), QByteArray("  4.5"), QByteArray("99999999999999999999"), QByteArray("abc")});
    w.addRecord({QByteArray("1,234.5"), QByteArray("-7   "), QByteArray("   "), QByteArray("*****")});
    DbfReader r;
    open(r, save(w));
    const auto &cena = r.FieldByName("CENA"), &kol = r.FieldByName("KOL"), &big = r.FieldByName("BIG"),
               &fl = r.FieldByName("FL");

    r.First();
    EXPECT_DOUBLE_EQ(cena.AsFloat(), 12.5);
    EXPECT_EQ(cena.AsString(), QStringLiteral("12,5"));
    EXPECT_EQ(kol.AsVariant(), QVariant(42));
    EXPECT_EQ(kol.AsVariant().typeId(), QMetaType::Int);
    EXPECT_EQ(big.AsVariant(), QVariant(qlonglong(12345678901)));
    EXPECT_EQ(big.AsVariant().typeId(), QMetaType::LongLong);
    EXPECT_DOUBLE_EQ(fl.AsFloat(), -0.125);

    r.Next();
    EXPECT_DOUBLE_EQ(cena.AsFloat(), 12.5);
    EXPECT_TRUE(kol.IsNull());
    EXPECT_EQ(big.AsInteger(), -9000000000LL);
    EXPECT_DOUBLE_EQ(fl.AsFloat(), 1000.0);

    r.Next();
    EXPECT_TRUE(cena.IsNull());
    EXPECT_EQ(cena.AsFloat(), 0.0);
    EXPECT_EQ(cena.AsString(), QString());
    EXPECT_FALSE(cena.AsVariant().isValid());
    EXPECT_TRUE(kol.IsNull()) << "a fraction in an integer column is no integer";
    EXPECT_TRUE(big.IsNull()) << "beyond 64 bits";
    EXPECT_TRUE(fl.IsNull());

    r.Next();
    EXPECT_TRUE(cena.IsNull());
    EXPECT_EQ(kol.AsInteger(), -7);
    EXPECT_TRUE(big.IsNull());
    EXPECT_TRUE(fl.IsNull()) << "overflow mark";
}

TEST_F(DbfReaderTest, TextColumnsConvertOnRequest)
{
    DbfWriter w(0x03);
    w.addField("TEXT", 'C', 12);
    for (const char *text : {"  42 ", "12,5", "", "28.02.2009", "abc"})
        w.addRecord({QByteArray(text)});
    DbfReader r;
    open(r, save(w));
    const auto &f = r.FieldByName("TEXT");
    r.First();
    EXPECT_EQ(f.AsInteger(), 42);
    r.Next();
    EXPECT_DOUBLE_EQ(f.AsFloat(), 12.5);
    r.Next();
    EXPECT_FALSE(f.IsNull()) << "blank text is a value";
    EXPECT_EQ(f.AsInteger(), 0);
    EXPECT_EQ(f.AsDateTime(), DbfField::ZeroDateTime());
    r.Next();
    EXPECT_EQ(f.AsDate(), QDate(2009, 2, 28));
    r.Next();
    EXPECT_THROW(f.AsInteger(), DbfError);
    EXPECT_THROW(f.AsFloat(), DbfError);
    EXPECT_THROW(f.AsDateTime(), DbfError);
}

TEST_F(DbfReaderTest, DatesAndLogicalsReadNullWhenInvalid)
{
    DbfWriter w(0x03);
    w.addField("DAT", 'D', 8).addField("OK", 'L', 1);
    w.addRecord({QDate(2009, 2, 28), true});
    w.addRecord({QByteArray("20090230"), false});
    w.addRecord({QVariant(), QByteArray("t")});
    w.addRecord({QByteArray("2009O228"), QByteArray("?")});
    w.addRecord({QByteArray("00000000"), QVariant()});
    DbfReader r;
    open(r, save(w));
    const auto &dat = r.FieldByName("DAT"), &ok = r.FieldByName("OK");

    r.First();
    EXPECT_EQ(dat.AsDate(), QDate(2009, 2, 28));
    EXPECT_EQ(dat.AsDateTime(), QDateTime(QDate(2009, 2, 28), QTime(0, 0)));
    EXPECT_EQ(dat.AsString(), QStringLiteral("28.02.2009"));
    EXPECT_EQ(ok.AsVariant(), QVariant(true));
    r.Next();
    EXPECT_EQ(ok.AsVariant(), QVariant(false));
    for (int row = 1; !r.Eof(); r.Next(), ++row) {
        SCOPED_TRACE(row);
        EXPECT_TRUE(dat.IsNull());
        EXPECT_FALSE(dat.AsDate().isValid());
        EXPECT_EQ(dat.AsDateTime(), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
        EXPECT_EQ(dat.AsString(), QString());
        if (row > 1) {
            EXPECT_TRUE(ok.IsNull());
            EXPECT_FALSE(ok.AsVariant().isValid());
        }
    }
}

TEST_F(DbfReaderTest, ColumnNamesAreTrimmedUpperCasedAndFoundInAnyCase)
{
    DbfWriter w(0x03);
    w.addField("tovar", 'C', 5).addField(" Kod", 'N', 4).addField("PRICE", 'N', 7, 2);
    w.addRecord({QStringLiteral("x"), 7, 1.5});
    DbfReader r;
    open(r, save(w));
    ASSERT_EQ(r.FieldCount(), 3);
    EXPECT_EQ(r.Fields(0).FieldName(), QStringLiteral("TOVAR"));
    EXPECT_EQ(r.Fields(1).FieldName(), QStringLiteral("KOD"));
    EXPECT_EQ(r.Fields(2).Offset(), 10);
    r.First();
    EXPECT_EQ(&r.FieldByName("tovar"), &r.Fields(0));
    EXPECT_EQ(r.FieldByName(u"kOd").AsInteger(), 7);
    EXPECT_EQ(r.FindField(QStringLiteral("Price")), &r.Fields(2));
    EXPECT_EQ(r.FindField("NAIM"), nullptr);
    try {
        r.FieldByName("naim");
        FAIL() << "an unknown column must fail";
    } catch (const DbfError &e) {
        EXPECT_EQ(e.text(), QStringLiteral("DbfReader.FieldByName: Field \"naim\" not found"));
    }
}

TEST_F(DbfReaderTest, Cp866TextReadsAsTheSameLetters)
{
    const QString text = QStringLiteral("Аспирин №5 ёЁ");
    DbfWriter w(0x03);
    w.addField("TOVAR", 'C', 20).addField("LONGTEXT", 'C', 300).addField("KOD", 'N', 3);
    w.addRecord({text, QString(QString(290, QLatin1Char('.')) + QStringLiteral("конец")), 5});
    const QString file = save(w);

    DbfReader r;
    open(r, file);
    r.First();
    const auto &tovar = r.FieldByName("TOVAR");
    EXPECT_EQ(tovar.AsString(), text.leftJustified(20)) << "trailing blanks are kept";
    EXPECT_EQ(r.FieldByName("LONGTEXT").Size(), 300);
    EXPECT_EQ(r.FieldByName("LONGTEXT").AsString().mid(290, 5), QStringLiteral("конец"));
    EXPECT_EQ(r.FieldByName("KOD").AsInteger(), 5);

    r.setOEM(false); // the bytes as stored, read in the 1251 code page
    EXPECT_EQ(tovar.AsString(), pc::fromCp1251(pc::toCp866(text.leftJustified(20))));
    EXPECT_NE(tovar.AsString().trimmed(), text);
}

TEST_F(DbfReaderTest, DBase7TablesHaveTheirOwnHeaderAndBinaryTypes)
{
    const QByteArray longName = "A_COLUMN_NAME_OF_THIRTY_TWO_CHRS";
    ASSERT_EQ(longName.size(), 32);
    const QDateTime stamp(QDate(2026, 12, 7), QTime(14, 37, 37, 250));
    DbfWriter w(0x04);
    w.addField(longName, 'C', 6).addField("I", 'I', 4).addField("AUTO", '+', 4).addField("O", 'O', 8);
    w.addField("TS", '@', 8).addField("N", 'N', 6, 1);
    w.addRecord({QStringLiteral("abc"), -5, 1, -2.5, stamp, 3.5});
    w.addRecord({QStringLiteral("d"), 0, 2, 1e10, QVariant(), QVariant()});
    w.addRecord({QVariant(), QVariant(), 3, QVariant(), QVariant(), -1.0});
    DbfReader r;
    open(r, save(w));
    EXPECT_EQ(r.TableKind(), pc::DbfTableKind::DBase7);
    EXPECT_EQ(r.HeaderLength(), 68 + 6 * 48 + 1);
    ASSERT_NE(r.FindField(QString::fromLatin1(longName).toLower()), nullptr);

    EXPECT_EQ(column(r, longName.constData()),
              (std::vector<QVariant>{QStringLiteral("abc   "), QStringLiteral("d     "), QStringLiteral("      ")}));
    EXPECT_EQ(column(r, "I"), (std::vector<QVariant>{-5, 0, QVariant()}));
    EXPECT_EQ(column(r, "AUTO"), ints({1, 2, 3}));
    EXPECT_EQ(column(r, "O"), (std::vector<QVariant>{-2.5, 1e10, QVariant()}));
    EXPECT_EQ(column(r, "TS"), (std::vector<QVariant>{stamp, QVariant(), QVariant()}));
    EXPECT_EQ(column(r, "N"), (std::vector<QVariant>{3.5, QVariant(), -1.0}));
}

TEST_F(DbfReaderTest, VisualFoxProBinaryTypesNullFlagsAndMemo)
{
    const QDateTime when(QDate(2009, 2, 28), QTime(13, 5, 7));
    const QString memoText = QStringLiteral("Хранить в сухом месте. ").repeated(5);
    DbfWriter w(0x30);
    w.addField("NAME", 'C', 10).addField("RAW", 'C', 4, 0, 0x04).addField("I", 'I', 4).addField("B", 'B', 8, 2);
    w.addField("T", 'T', 8).addField("Y", 'Y', 8).addField("CENA", 'N', 8, 2, 0x02).addField("KOL", 'I', 4, 0, 0x02);
    w.addField("NOTE", 'M', 4).addField("_NullFlags", '0', 1, 0, 0x05);
    const QByteArray rawBytes = pc::toCp866(QStringLiteral("Щука"));
    w.addRecord({QStringLiteral("Бинт"), rawBytes, -7, 3.25, when, 12.3456, 1.5, 4, memoText, QByteArray("\x00", 1)});
    w.addRecord({QVariant(), QVariant(), 2147483647, -0.5, QByteArray(8, ' '), -1.0, 2.5, 5, QVariant(),
                 QByteArray("\x01", 1)});
    w.addRecord({QVariant(), QVariant(), 0, 0.0, QVariant(), 0.0, 3.5, 6, QStringLiteral("x"), QByteArray("\x02", 1)});
    DbfReader r;
    open(r, save(w, QStringLiteral("vfp.dbf"), /*upper-case memo extension*/ true));
    EXPECT_TRUE(r.HasMemoFile());

    EXPECT_EQ(column(r, "I"), (std::vector<QVariant>{-7, 2147483647, 0}));
    EXPECT_EQ(column(r, "B"), (std::vector<QVariant>{3.25, -0.5, 0.0}));
    EXPECT_EQ(column(r, "T"), (std::vector<QVariant>{when, QVariant(), QVariant()}));
    EXPECT_EQ(column(r, "Y"), (std::vector<QVariant>{12.3456, -1.0, 0.0}));
    EXPECT_EQ(column(r, "CENA"), (std::vector<QVariant>{1.5, QVariant(), 3.5}));
    EXPECT_EQ(column(r, "KOL"), (std::vector<QVariant>{4, 5, QVariant()}));
    EXPECT_EQ(column(r, "NOTE"), (std::vector<QVariant>{memoText, QVariant(), QStringLiteral("x")}));

    r.First();
    EXPECT_EQ(r.FieldByName("NAME").AsString().trimmed(), QStringLiteral("Бинт"));
    EXPECT_EQ(r.FieldByName("RAW").AsBytes(), rawBytes) << "binary columns are not translated";
    EXPECT_EQ(r.FieldByName("RAW").AsString(), pc::fromCp1251(rawBytes));
    EXPECT_EQ(r.FieldByName("T").AsString(), QStringLiteral("28.02.2009 13:05:07"));
}

TEST_F(DbfReaderTest, MemoFilesOfEachLayout)
{
    const QString longText = QStringLiteral("Показания: головная боль. ").repeated(40); // several blocks
    struct Case {
        uint8_t version;
        int blockSize;
    };
    for (const Case c : {Case{0x83, 512}, Case{0x8B, 1024}, Case{0x8C, 64}, Case{0xF5, 32}}) {
        SCOPED_TRACE(c.version);
        DbfWriter w(c.version);
        w.setMemoBlockSize(c.blockSize);
        w.addField("KOD", 'N', 3).addField("NOTE", 'M', 10);
        w.addRecord({1, QStringLiteral("кратко")}).addRecord({2, longText}).addRecord({3});
        w.addRecord({4, DbfWriter::raw("    999999")}); // a block past the end of the memo file
        w.addRecord({5, QStringLiteral("")});
        const QString file = save(w, QStringLiteral("memo%1.dbf").arg(c.version));
        DbfReader r;
        open(r, file);
        ASSERT_TRUE(r.HasMemoFile());
        EXPECT_EQ(column(r, "NOTE"),
                  (std::vector<QVariant>{QStringLiteral("кратко"), longText, QVariant(), QVariant(), QString()}));

        ASSERT_TRUE(QFile::remove(QString(file).replace(QLatin1String(".dbf"), QLatin1Char('.') + w.memoExtension())));
        DbfReader without;
        open(without, file);
        EXPECT_FALSE(without.HasMemoFile());
        EXPECT_EQ(column(without, "NOTE"), std::vector<QVariant>(5)) << "a missing memo file reads as null";
    }

    DbfWriter binary(0x8B);
    const QByteArray blob("\x00\x01\x1A\xFF zeros and end-of-file bytes", 32);
    binary.addField("PIC", 'B', 10).addRecord({blob});
    DbfReader r;
    open(r, save(binary, QStringLiteral("blob.dbf")));
    r.First();
    EXPECT_EQ(r.FieldByName("PIC").AsBytes(), blob);
}

TEST_F(DbfReaderTest, OpeningErrorsCarryTheirTexts)
{
    const QString missing = path(QStringLiteral("nothing.dbf"));
    EXPECT_EQ(openError(missing), QStringLiteral("DbfReader.InternalOpen: Open error \"%1\"").arg(missing));
    EXPECT_EQ(openError(m_dir.path()), QStringLiteral("DbfReader.InternalOpen: Open error \"%1\"").arg(m_dir.path()));

    DbfWriter unknown(0x02);
    unknown.addField("KOD", 'N', 3).addRecord({1});
    const QString unknownFile = save(unknown, QStringLiteral("v2.dbf"));
    EXPECT_EQ(openError(unknownFile), QStringLiteral("DbfReader.InternalOpen: File \"%1\" is not DBF file").arg(unknownFile));

    DbfWriter wide(0x03), fits(0x03);
    wide.addField("TEXT", 'C', 4096).addRecord({QStringLiteral("x")}); // record length 4097
    fits.addField("TEXT", 'C', 4095).addRecord({QStringLiteral("x")});
    const QString wideFile = save(wide, QStringLiteral("wide.dbf"));
    EXPECT_EQ(openError(wideFile), QStringLiteral("DbfReader.InternalOpen: BufferSize too small!"));
    EXPECT_EQ(openError(wideFile, 4096 * 2), QString());
    EXPECT_EQ(openError(save(fits, QStringLiteral("fits.dbf"))), QString());

    struct Case {
        uint8_t version;
        char type;
        bool allowed;
    };
    const Case cases[] = {
        {0x03, 'I', false}, {0x30, 'I', true},  {0x04, 'O', true},  {0x07, '@', false}, {0x8B, '+', false},
        {0x8B, 'B', true},  {0x03, 'G', false}, {0x83, 'B', false}, {0x7B, 'P', false}, {0xF5, 'P', true},
        {0x31, 'Y', true},  {0x8C, 'T', false}, {0xF5, 'T', false}, {0x30, 'T', true},  {0x8E, 'G', true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(1, c.type) + " in version " + std::to_string(c.version));
        DbfWriter w(c.version);
        w.addField("KOD", 'N', 3).addField("X", c.type, 8).addRecord({1});
        const QString error = openError(save(w, QStringLiteral("types.dbf")));
        if (c.allowed) {
            EXPECT_EQ(error, QString());
        } else {
            EXPECT_TRUE(error.startsWith(QStringLiteral("DbfReader.HiddenInitFieldDefs: DBF Version must be "))) << qPrintable(error);
            EXPECT_TRUE(error.contains(QLatin1Char(c.type))) << qPrintable(error);
        }
    }
}

TEST_F(DbfReaderTest, DamagedFilesFailToOpenOrReadSafely)
{
    DbfWriter w(0x03);
    w.addField("KOD", 'N', 4).addField("NAME", 'C', 6);
    w.addRecord({1, QStringLiteral("one")}).addRecord({2, QStringLiteral("two")});
    const QByteArray good = w.tableBytes();
    auto patched = [&](const std::function<void(QByteArray &)> &change) {
        QByteArray b = good;
        change(b);
        return saveBytes(b);
    };
    auto setU16 = [](QByteArray &b, int at, quint16 v) { qToLittleEndian(v, b.data() + at); };
    const auto notDbf = [](const QString &f) { return QStringLiteral("DbfReader.InternalOpen: File \"%1\" is not DBF file").arg(f); };
    const QString damagedPrefix = QStringLiteral("Файл \"%1\" повреждён: ");

    QString f = patched([](QByteArray &b) { b.truncate(20); });
    EXPECT_EQ(openError(f), notDbf(f));
    f = patched([](QByteArray &b) { b.clear(); });
    EXPECT_EQ(openError(f), notDbf(f));
    f = patched([](QByteArray &b) { b.truncate(50); b[0] = 0x04; }); // dBase VII needs 68 header bytes
    EXPECT_EQ(openError(f), notDbf(f));
    f = patched([&](QByteArray &b) { setU16(b, 10, 0); });
    EXPECT_TRUE(openError(f).startsWith(damagedPrefix.arg(f)));
    f = patched([&](QByteArray &b) { setU16(b, 10, 8); }); // shorter than its 1 + 4 + 6 bytes of columns
    EXPECT_TRUE(openError(f).startsWith(damagedPrefix.arg(f)));
    f = patched([&](QByteArray &b) { setU16(b, 8, 20); }); // no room for a single descriptor
    EXPECT_TRUE(openError(f).startsWith(damagedPrefix.arg(f)));
    f = patched([&](QByteArray &b) { b[32 + 16] = char(200); }); // KOD overruns the record
    EXPECT_TRUE(openError(f).startsWith(damagedPrefix.arg(f)));


    // Descriptors without the 0x0D terminator, the records right after them.
    f = patched([&](QByteArray &b) {
        b.remove(32 + 2 * 32, 1);
        setU16(b, 8, 32 + 2 * 32);
    });
    {
        DbfReader r;
        open(r, f);
        EXPECT_EQ(r.FieldCount(), 2);
        EXPECT_EQ(column(r, "NAME"), (std::vector<QVariant>{QStringLiteral("one   "), QStringLiteral("two   ")}));
    }
}

// A file cut short in transfer: fewer whole records than the header declares,
// or not even its whole header. It is refused, not read in part; the record
// count of a whole file stays as the file says, however the header errs low.
TEST_F(DbfReaderTest, FilesCutShortAreRefusedAsDamaged)
{
    DbfWriter w(0x03);
    w.addField("KOD", 'N', 6).addField("NAME", 'C', 40);
    for (int i = 0; i < 2000; ++i)
        w.addRecord({i, QStringLiteral("товар %1").arg(i)});
    const QByteArray whole = w.tableBytes();
    const int headerLength = qFromLittleEndian<quint16>(whole.constData() + 8);
    const int recordLength = qFromLittleEndian<quint16>(whole.constData() + 10);

    auto damage = [&](const QByteArray &bytes) {
        DbfReader r;
        r.setDBFFileName(saveBytes(bytes));
        try {
            r.setActive(true);
        } catch (const DbfError &e) {
            EXPECT_FALSE(r.Active());
            EXPECT_TRUE(e.Damaged());
            return e.text();
        }
        return QString();
    };
    // Cut at 60 %, cut one byte into the last record, cut inside the header.
    const QString at60 = damage(whole.left(whole.size() * 6 / 10));
    EXPECT_TRUE(at60.contains(QStringLiteral("в заголовке записей 2000, в файле только 1199"))) << qPrintable(at60);
    EXPECT_FALSE(damage(whole.left(headerLength + 1999 * recordLength + 1)).isEmpty());
    const QString inHeader = damage(whole.left(headerLength - 10));
    EXPECT_TRUE(inHeader.contains(QStringLiteral("короче своего заголовка"))) << qPrintable(inHeader);

    // Whole: with or without the end-of-file byte, and with a partial record after the end.
    EXPECT_EQ(damage(whole), QString());
    EXPECT_EQ(damage(whole.left(headerLength + 2000 * recordLength)), QString());
    EXPECT_EQ(damage(whole + QByteArray(recordLength / 2, ' ')), QString());

    // Cut while being read (the supplier's tool still writing it): the walk
    // fails instead of ending early as if the table were whole.
    {
        DbfWriter big(0x03);
        big.addField("NAME", 'C', 99);
        for (int i = 0; i < 6000; ++i) // 600 KB: more than one read block
            big.addRecord({QStringLiteral("товар %1").arg(i)});
        const QString file = save(big, QStringLiteral("big.dbf"));
        DbfReader r;
        open(r, file);
        r.First();
        ASSERT_FALSE(r.Eof());
        ASSERT_TRUE(QFile::resize(file, QFileInfo(file).size() / 2));
        int seen = 0;
        try {
            for (; !r.Eof(); r.Next())
                ++seen;
            ADD_FAILURE() << "read " << seen << " records of a file cut while reading";
        } catch (const DbfError &e) {
            EXPECT_TRUE(e.Damaged());
            EXPECT_LT(seen, 6000);
        }
    }

    // A table without records whose header is whole reads as empty, with or
    // without the end-of-file byte: the header alone is not a cut file.
    DbfWriter empty(0x03);
    empty.addField("KOD", 'N', 6);
    DbfReader r;
    open(r, save(empty, QStringLiteral("empty.dbf")));
    EXPECT_EQ(r.RecordCount(), 0);
    r.First();
    EXPECT_TRUE(r.Eof());
    const QByteArray emptyBytes = empty.tableBytes();
    const QByteArray headerOnly = emptyBytes.left(qFromLittleEndian<quint16>(emptyBytes.constData() + 8));
    ASSERT_GT(headerOnly.size(), 32);
    EXPECT_EQ(damage(headerOnly), QString());
    DbfReader bare;
    bare.setDBFFileName(saveBytes(headerOnly));
    bare.setActive(true);
    EXPECT_EQ(bare.RecordCount(), 0);

    // Other failures are not damage.
    try {
        DbfReader missing;
        missing.setDBFFileName(path(QStringLiteral("none.dbf")));
        missing.setActive(true);
        ADD_FAILURE() << "a missing file opened";
    } catch (const DbfError &e) {
        EXPECT_FALSE(e.Damaged());
    }
}

// Number and date cells holding something else read as null; IsUnreadable
// tells them from blanks, null flags and dates stored as zeros, so an import
// can say how many it lost.
TEST_F(DbfReaderTest, UnreadableNumberAndDateCellsAreToldFromEmptyOnes)
{
    DbfWriter w(0x03);
    w.addField("PRICE", 'N', 10, 2).addField("QNT", 'N', 6).addField("GODEN", 'D', 8).addField("NAME", 'C', 6);
    w.addRecord({QByteArray("12a"), QByteArray("5 5"), QByteArray("20090230"), QByteArray("x")});
    w.addRecord({QByteArray("*****"), QByteArray("12.5"), QByteArray("2009"), QByteArray("")});
    w.addRecord({QVariant(), QVariant(), QByteArray("00000000"), QByteArray("")});
    w.addRecord({QByteArray("12,50"), 7, QDate(2027, 1, 1), QByteArray("abc")});
    DbfReader r;
    open(r, save(w));
    pc::DbfUnreadableCells cells;
    std::vector<std::vector<bool>> seen;
    for (r.First(); !r.Eof(); r.Next()) {
        std::vector<bool> row;
        for (int i = 0; i < r.FieldCount(); ++i)
            row.push_back(cells.check(r.Fields(i)));
        seen.push_back(row);
    }
    const std::vector<std::vector<bool>> expected = {
        {true, true, true, false}, {true, true, true, false}, {false, false, false, false}, {false, false, false, false}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(cells.total(), 6);
    EXPECT_EQ(cells.text(), QStringLiteral("PRICE: 2, QNT: 2, GODEN: 2"));

    // A Visual FoxPro null is null on purpose, not unreadable.
    DbfWriter vfp(0x30);
    vfp.addField("PRICE", 'N', 8, 2, 0x02).addField("_NullFlags", '0', 1, 0, 0x05);
    vfp.addRecord({DbfWriter::raw("junk"), DbfWriter::raw(QByteArray(1, '\x01'))});
    vfp.addRecord({DbfWriter::raw("junk"), DbfWriter::raw(QByteArray(1, '\x00'))});
    DbfReader rv;
    open(rv, save(vfp, QStringLiteral("vfp.dbf")));
    rv.First();
    EXPECT_TRUE(rv.FieldByName("PRICE").IsNull());
    EXPECT_FALSE(rv.FieldByName("PRICE").IsUnreadable());
    rv.Next();
    EXPECT_TRUE(rv.FieldByName("PRICE").IsUnreadable());
}

TEST_F(DbfReaderTest, ReadsEveryRecordAcrossBlocksAndReopens)
{
    const int rows = 7000; // about 700 KB: several read blocks, the last one partly filled
    DbfWriter w(0x03);
    w.addField("KOD", 'N', 9).addField("NAME", 'C', 90);
    for (int i = 0; i < rows; ++i)
        w.addRecord({i, QStringLiteral("товар %1").arg(i)}, i % 7 == 3);
    const QString file = save(w);

    DbfReader r;
    r.setSetDeleted(true);
    open(r, file);
    EXPECT_TRUE(r.FieldByName("KOD").IsNull()) << "no current record before First";
    int expected = 0, seen = 0;
    for (r.First(); !r.Eof(); r.Next(), ++expected, ++seen) {
        if (expected % 7 == 3)
            ++expected;
        ASSERT_EQ(r.FieldByName("KOD").AsInteger(), expected);
        ASSERT_EQ(r.RecNo(), expected + 1);
        ASSERT_EQ(r.FieldByName("NAME").AsString().trimmed(), QStringLiteral("товар %1").arg(expected));
    }
    EXPECT_EQ(seen, rows - rows / 7);
    r.Next();
    EXPECT_TRUE(r.Eof());
    EXPECT_TRUE(r.FieldByName("KOD").IsNull());

    r.setActive(false);
    EXPECT_EQ(r.FindField("KOD"), nullptr);
    r.setActive(true);
    r.First();
    EXPECT_EQ(r.FieldByName("KOD").AsInteger(), 0);
}

} // namespace

// A header whose record length is longer than its columns does not describe
// the records (read as they are, they would be garbage): the file is damaged,
// whatever its record count says.
TEST(DbfReaderLayout, RecordLongerThanItsColumnsIsDamaged)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.dbf");
    pc::test::DbfWriter w(0x03);
    w.addField("TOVAR", 'C', 20).addField("QNT", 'N', 5);
    for (int i = 0; i < 10; ++i)
        w.addRecord({QStringLiteral("Товар %1").arg(i), i});
    w.setHeaderRecordCount(0);
    w.save(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    qToLittleEndian<quint16>(qFromLittleEndian<quint16>(bytes.constData() + 10) + 7, bytes.data() + 10);
    f.seek(0);
    f.write(bytes);
    f.close();
    pc::DbfReader r;
    r.setDBFFileName(path);
    try {
        r.Open();
        FAIL() << "opened";
    } catch (const pc::DbfError &e) {
        EXPECT_TRUE(e.Damaged());
        EXPECT_TRUE(e.text().contains("длина записи в заголовке (33 байт) не равна сумме длин полей (26 байт)"))
            << e.text().toStdString();
    }
    EXPECT_FALSE(r.Active());
}
