#include "OrdersFixture.h"

#include "orders/OrderFile.h"
#include "platform/CodePage.h"
#include "platform/IniFile.h"

#include <QFile>
#include <sys/inotify.h>
#include <unistd.h>

using namespace pc;

namespace {
struct OrderFileTest : OrdersFixture {
    std::unique_ptr<OrderFileWriter> writer;
    OrderFileInfo info;
    void SetUp() override
    {
        OrdersFixture::SetUp();
        writer = std::make_unique<OrderFileWriter>(*dm, dialogs, log, context, settings);
        writer->Now = [this] { return now; };
    }
    // Stored (masked) 198.5, 201.25 and 0.1 are 12.5, 3.25 and 202.1 to the pharmacy.
    void addSmallOrder(int order)
    {
        addLine(order, "A-1", "Аспирин 0,5 №10", "Фармстандарт", 2, 198.5, 397, 1);
        addLine(order, "B-2", "Бинт", "", 0, 198.5, 0);
        addLine(order, "C-3", "Цитрамон", "Уфа", 5, 201.25, 1006.25);
        addLine(order, "D-4", "Вата", "", 3, 0.1, 0.1 * 3);
    }
    QStringList historySections() { return IniFile(dir.file("history.log")).sections(); }
};
} // namespace

TEST_F(OrderFileTest, OrderForSendingIsWrittenByteForByteWithItsHistory)
{
    settings.AddressIndex = 1;
    addSmallOrder(57);
    dir.writeText("zakaz.ini", "[Header]\n");
    EXPECT_TRUE(writer->WriteOrderFile(57, "от ул. Ленина, 5 (срочно)", info, true));

    EXPECT_EQ(info.path(), dir.file("Orders/5678_57.ini"));
    EXPECT_EQ(info.OrderId, 57);
    EXPECT_DOUBLE_EQ(info.Sum, 2 * 12.5 + 5 * 3.25 + 3 * 202.1);
    const QString expected = "[Header]\r\nId=57\r\nClientCode=5678\r\nClientCodeMain=1234\r\nClientName=Аптека №1\r\n"
                             "ClientAddress=ул. Ленина, 5\r\nPriceDateTime=06.12.2026 10:00:00\r\n"
                             "ZakazDateTime=06.12.2026 14:37:37\r\nComment=от ул. Ленина, 5 (срочно)\r\n"
                             "RecordCount=4\r\nVersionProgram=2.4.024\r\nSum=647,55\r\n"
                             "\r\n\r\n[Record0]\r\nId = A-1\r\nName = Аспирин 0,5 №10\r\nProduct = Фармстандарт"
                             "\r\nCount = 2\r\nPrice = 198,5\r\nSumma = 397\r\nChange = 2"
                             "\r\n\r\n[Record1]\r\nId = C-3\r\nName = Цитрамон\r\nProduct = Уфа"
                             "\r\nCount = 5\r\nPrice = 201,25\r\nSumma = 1006,25\r\nChange = 2"
                             "\r\n\r\n[Record2]\r\nId = D-4\r\nName = Вата\r\nProduct = "
                             "\r\nCount = 3\r\nPrice = 0,1\r\nSumma = 0,3\r\nChange = 2";
    EXPECT_EQ(dir.readBytes("Orders/5678_57.ini"), toCp1251(expected));
    EXPECT_FALSE(dir.exists("zakaz.ini"));
    EXPECT_EQ(dialogs.waits, QStringList{"Сохранение заявки 57 в файл..."});
    EXPECT_EQ(dialogs.waitShown, 0);
    EXPECT_EQ(dir.readText("history.log"), "[06.12.2026 14:37:37]\nVersionProgram=2.4.024\n"
                                           "DatePrice=06.12.2026 10:00:00\nSumZakaz=647,55\nClientName=Аптека №1\n");
}

TEST_F(OrderFileTest, MainAddressAndAnOrderWithoutLinesOverwritingTheOldFile)
{
    settings.AddressIndex = 2; // an address without a code speaks for the client
    EXPECT_EQ(writer->StandardFileName(8), "1234_8.ini");
    // The first address stands for the client itself, whatever code it carries.
    settings.DeliveryAddresses[0].code = "1111";
    settings.AddressIndex = 0;
    EXPECT_EQ(writer->StandardFileName(8), "1234_8.ini");
    settings.AddressIndex = 0;
    addSmallOrder(3);
    writer->WriteOrderFile(3, "", info, true);
    IniFile file(info.path());
    EXPECT_EQ(file.readString("Header", "ClientCode") + file.readString("Header", "ClientCodeMain"), "12341234");
    EXPECT_EQ(file.readString("Header", "ClientAddress", "?"), "");

    dm->ExecSQL("DELETE FROM ORDERSL", true);
    writer->WriteOrderFile(3, "", info, true);
    EXPECT_EQ(info.Sum, 0);
    EXPECT_TRUE(dir.readText("Orders/1234_3.ini").endsWith("\nComment=\nRecordCount=1\nVersionProgram=2.4.024\n"));
    EXPECT_EQ(historySections().size(), 1); // none for the empty order
}

TEST_F(OrderFileTest, HistoryHasASectionPerSecondAndStartsAnewAboveThirty)
{
    addSmallOrder(1);
    addLine(2, "A-1", "Аспирин", "", 1, 198.5, 198.5);
    writer->WriteOrderFile(1, "", info, true);
    writer->WriteOrderFile(2, "", info, true); // the same second: later values replace earlier ones
    EXPECT_EQ(historySections(), QStringList{"06.12.2026 14:37:37"});
    EXPECT_EQ(IniFile(dir.file("history.log")).readString("06.12.2026 14:37:37", "SumZakaz"), "12,5");
    for (int i = 0; i < 29; ++i)
        IniFile(dir.file("history.log")).writeString("S" + QString::number(i), "SumZakaz", "1");
    writer->Now = [this] { return now.addSecs(1); };
    writer->WriteOrderFile(2, "", info, true); // 30 found: kept
    EXPECT_EQ(historySections().size(), 31);
    writer->Now = [this] { return now.addSecs(2); };
    writer->WriteOrderFile(2, "", info, true); // 31 found: starts anew
    EXPECT_EQ(historySections(), QStringList{"06.12.2026 14:37:39"});
}

// Each order sent puts its history entry in with one whole write of the file
// (also when the history starts anew), never key by key: a crash between
// writes would leave a section with part of its keys.
TEST_F(OrderFileTest, TheHistoryIsWrittenOncePerOrder)
{
    addSmallOrder(1);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(dir.path()).constData(), IN_MOVED_TO | IN_CLOSE_WRITE), 0);
    const auto historyWrites = [&] {
        int n = 0;
        alignas(inotify_event) char buffer[8192];
        for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;)
            for (char *p = buffer; p < buffer + got;) {
                const auto *e = reinterpret_cast<const inotify_event *>(p);
                // The file replaced whole, or written where it stands.
                if (e->len > 0 && QByteArray(e->name) == "history.log")
                    ++n;
                p += sizeof(inotify_event) + e->len;
            }
        return n;
    };
    writer->WriteOrderFile(1, "", info, true);
    EXPECT_EQ(historyWrites(), 1);
    for (int i = 0; i < 31; ++i)
        IniFile(dir.file("history.log")).writeString("S" + QString::number(i), "SumZakaz", "1");
    historyWrites();
    writer->Now = [this] { return now.addSecs(5); };
    writer->WriteOrderFile(1, "", info, true); // past the limit: starts anew
    EXPECT_EQ(historyWrites(), 1);
    EXPECT_EQ(historySections(), QStringList{"06.12.2026 14:37:42"});
    ::close(watch);
}

TEST_F(OrderFileTest, SavingToAChosenPlaceTellsWhereAndKeepsNoHistory)
{
    writer->SaveSelectedOrder();
    EXPECT_EQ(dialogs.notices, QStringList{"Нет заявок для экспорта"});
    addSmallOrder(4);
    exec("INSERT INTO ORDERS (ID, STATUS, COMMENT) VALUES (4, 0, :P1)", {" (к обеду)"});
    dm->OrdersSet()->Close();
    dm->OrdersSet()->Open();
    dialogs.setNextFile(QString()); // cancelled
    writer->SaveSelectedOrder();
    EXPECT_TRUE(dialogs.waits.isEmpty());
    dialogs.setNextFile(dir.file("Data/моя заявка.ini"));
    writer->SaveSelectedOrder();
    EXPECT_EQ(dialogs.notices.value(1), "Заявка записана по пути " + dir.file("Data/моя заявка.ini"));
    EXPECT_TRUE(dir.readText("Data/моя заявка.ini").contains("\nComment= (к обеду)\n"));
    EXPECT_FALSE(dir.exists("history.log") || dir.exists("Orders/1234_4.ini"));
}
