// The pharmacy's order file and the older DBF data, read through the DBF
// reader: goods codes in code page 866, and files cut short refused whole.
#include "DbfWriter.h"
#include "orders/OrdersFixture.h"

#include "orders/OrderArchive.h"
#include "orders/SaveOrder.h"
#include "price/OrderEntry.h"

#include <QFile>
#include <QtEndian>

using namespace pc;

namespace {

struct ArchiveFilesTest : OrdersFixture {
    std::unique_ptr<OrderEntry> entry;
    std::unique_ptr<OrderSaver> saver;
    std::unique_ptr<OrderArchive> archive;

    void SetUp() override
    {
        OrdersFixture::SetUp();
        entry = std::make_unique<OrderEntry>(*dm, dialogs, log, [this] { return settings.ClientCode; });
        saver = std::make_unique<OrderSaver>(*dm, dialogs, log, settings);
        archive = std::make_unique<OrderArchive>(*dm, dialogs, log, context, settings, *entry, *saver);
    }
    QString ordered()
    {
        QStringList out;
        for (auto q = query("SELECT IDTOVAR, ZAKAZ FROM PRICE ORDER BY 1"); !q->Eof(); q->Next())
            out << q->Fields(0).AsString() + "=" + q->Fields(1).AsString();
        return out.join(' ');
    }
    // Cuts a DBF file after `keep` whole records and a third of the next one.
    static void cut(const QString &path, int keep)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const QByteArray head = f.read(12);
        const int headerLength = qFromLittleEndian<quint16>(head.constData() + 8);
        const int recordLength = qFromLittleEndian<quint16>(head.constData() + 10);
        ASSERT_TRUE(f.resize(headerLength + qint64(keep) * recordLength + recordLength / 3));
    }
};

} // namespace

// Goods codes with Cyrillic letters, written in code page 866 as DOS-era
// programs write them, find their rows; a cut file changes nothing.
TEST_F(ArchiveFilesTest, OrderFileCodesInCp866MatchAndACutFileIsRefused)
{
    for (QString id : {"АБ-1", "2", "Щ"})
        addPrice(id, "Товар " + id, 0, 10, 5);
    test::DbfWriter w; // texts in code page 866
    w.addField("KOD", 'C', 10).addField("KOLVO", 'N', 5);
    w.addRecord({QStringLiteral("АБ-1"), 4}).addRecord({QStringLiteral("2"), 3}).addRecord({QStringLiteral("Щ"), 2});
    w.save(dir.file("Data/zakaz.dbf"));
    settings.FolderOrderImport = dir.file("Data/");
    settings.FileNameOrder = "zakaz.dbf";
    settings.ColumnCode = "KOD";
    settings.ColumnQnt = "KOLVO";
    settings.DeleteOrderImport = false;
    reopenPrice();

    dialogs.setNextAnswer(mrYes);
    EXPECT_TRUE(archive->ImportOrderFile());
    EXPECT_EQ(ordered(), "2=3 АБ-1=4 Щ=2");

    w.save(dir.file("Data/zakaz.dbf"));
    cut(dir.file("Data/zakaz.dbf"), 1);
    dm->ExecSQL("UPDATE PRICE SET ZAKAZ = 1", true);
    dialogs.setNextAnswer(mrYes); // import
    dialogs.setNextAnswer(mrNo);  // keep the current order
    EXPECT_FALSE(archive->ImportOrderFile());
    dm->Rollback();
    EXPECT_EQ(ordered(), "2=1 АБ-1=1 Щ=1");
    EXPECT_TRUE(log.contains("повреждён: файл обрезан", Error));
    EXPECT_TRUE(log.contains(" (импорт заказа)", Error));
}

// One cut table of the older data fails the whole import: nothing of the
// tables before it stays.
TEST_F(ArchiveFilesTest, OlderDataImportRefusesACutTable)
{
    test::DbfWriter orders, lines, empty;
    orders.addField("ID", 'N', 10).addRecord({5}).addRecord({6});
    orders.save(dir.file("Data/ORDERS.dbf"));
    lines.addField("IDNAKL", 'N', 10).addField("IDTOVAR", 'C', 14).addField("COUNT", 'N', 8);
    for (int i = 0; i < 10; ++i)
        lines.addRecord({5, QString::number(100 + i), 3});
    lines.save(dir.file("Data/ORDERSL.dbf"));
    cut(dir.file("Data/ORDERSL.dbf"), 6);
    empty.addField("ID", 'N', 10);
    empty.save(dir.file("Data/NAKLAD.dbf"));
    empty.save(dir.file("Data/NAKLADL.dbf"));

    dialogs.setNextAnswer(mrYes);
    archive->ImportDbfData("");
    dm->Rollback();
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERS"), 0);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ORDERSL"), 0);
    EXPECT_EQ(dialogs.notices.last(), "Ошибка при импорте (см. в нижнем окне)");
    EXPECT_TRUE(log.contains("повреждён: файл обрезан", Error));
}
