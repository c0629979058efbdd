// Two workstations of one pharmacy on one database served by a private
// Firebird server: each is the program's own data module and logic with an
// attachment of its own, as two counters would be. What one does is checked
// through the other, or through a third connection.
#include "DbfWriter.h"
#include "FirebirdTestServer.h"
#include "FtpTestServer.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "core/MessageLog.h"
#include "core/PriceMask.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/JobLock.h"
#include "db/firebird/Database.h"
#include "db/firebird/Events.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Transaction.h"
#include "app/MainForm.h"
#include "exchange/ServerConnection.h"
#include "ui_MainForm.h"
#include "orders/OrderFile.h"
#include "orders/SaveOrder.h"
#include "orders/SendOrders.h"
#include "price/OrderEntry.h"
#include "platform/AppError.h"
#include "price/PriceUpdate.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QLocale>
#include <QTimer>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <set>
#include <thread>

using namespace pc;
using pc::test::FirebirdTestServer;

namespace {

const QString kCode = QStringLiteral("1234");

// One counter: its own program folder, settings, windows (scripted) and
// connection to the shared database.
struct Workstation {
    TempAppDir dir;
    AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    Settings settings;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<OrderEntry> entry;
    std::unique_ptr<ServerConnection> connection;
    std::unique_ptr<PriceUpdate> update;
    std::unique_ptr<OrderSaver> saver;

    explicit Workstation(const DatabaseLocation &location, int lockTimeoutSeconds = 1)
    {
        settings.ClientCode = kCode;
        settings.ClientName = QStringLiteral("Аптека №1");
        settings.PriceDate = QStringLiteral("01.01.1999 00:00:00");
        dm = std::make_unique<TDM>(context, dialogs, log);
        dm->Location = location;
        dm->LockTimeoutSeconds = lockTimeoutSeconds;
        dm->CreateFirebirdObjects();
        dm->OpenDatabase();
        dialogs.notices.clear();
        entry = std::make_unique<OrderEntry>(*dm, dialogs, log, [] { return kCode; });
        connection = std::make_unique<ServerConnection>(settings, dialogs, log);
        update = std::make_unique<PriceUpdate>(*dm, *connection, settings, dialogs, log, context);
        saver = std::make_unique<OrderSaver>(*dm, dialogs, log, settings);
    }
    ~Workstation()
    {
        saver.reset();
        update.reset();
        connection.reset();
        entry.reset();
        dm.reset();
    }
    Dataset &openPrice()
    {
        dm->OpenPrice(false);
        dm->OpenPrice(true);
        dm->PriceSet()->BeforeScroll = [this](Dataset &ds) { entry->CorrectBeforeLeaving(ds); };
        dm->PriceSet()->AfterScroll = [this](Dataset &) { entry->ResetTyping(); };
        return *dm->PriceSet();
    }
    void goTo(const QString &id)
    {
        ASSERT_TRUE(dm->PriceSet()->Locate(QStringLiteral("IDTOVAR"), id));
        entry->ResetTyping();
    }
    int shown() { return dm->PriceSet()->FieldByName(QStringLiteral("ZAKAZ")).AsInteger(); }
};

struct WorkstationsTest : ::testing::Test {
    FirebirdTestServer server;
    DatabaseLocation location;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        location.Server = server.address();
        location.Path = server.dataFolder() + QStringLiteral("/apteka.gdb");
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    // What a third connection sees: only what is committed.
    qint64 committed(const QString &sql)
    {
        fb::Database db;
        db.attach(location.ConnectionName());
        fb::Transaction tr(db, 2);
        tr.start();
        fb::Statement st(tr);
        st.prepare(sql);
        st.execute();
        const qint64 value = st.fetch() && !st.isNull(0) ? st.asInt64(0) : 0;
        st.closeCursor();
        tr.commit();
        db.detach();
        return value;
    }
    void exec(Workstation &w, const QString &sql)
    {
        w.dm->ExecSQL(sql, true);
    }
    void addPrice(Workstation &w, const QString &id, const QString &name, int qnt = 100, int zakaz = 0)
    {
        exec(w, QStringLiteral("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, QNT, PRICE, ZAKAZ) VALUES ('%1', '%2', "
                               "'01.01.2027', %3, %4, %5)")
                    .arg(id, name)
                    .arg(qnt)
                    .arg(MaskPriceValue(10, kCode), 0, 'f', 2)
                    .arg(zakaz));
    }
    qint64 zakaz(const QString &id) { return committed(QStringLiteral("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '%1'").arg(id)); }
};

// A price DBF as the supplier sends it, dated `when`.
void writePriceFile(const QString &path, const QStringList &ids, int qnt, const QDateTime &when, double price = 10)
{
    pc::test::DbfWriter w(0x03);
    w.addField("IDTOVAR", 'C', 20).addField("TOVAR", 'C', 60).addField("PRICE", 'N', 12, 2);
    w.addField("PRODUCT", 'C', 50).addField("COUNTRY", 'C', 40).addField("PRICER", 'N', 12, 2);
    w.addField("GODEN", 'D', 8).addField("QNT", 'N', 10).addField("QNTPACK", 'N', 10).addField("NDS", 'N', 3);
    w.addField("MINZAKAZ", 'N', 10).addField("MINPROD", 'N', 10).addField("COLOR", 'N', 10);
    w.addField("HASDET", 'N', 1).addField("HASPOPUP", 'N', 1).addField("GV", 'N', 1).addField("ZAKAZ", 'N', 10);
    w.addField("REGUDEXIST", 'C', 20);
    for (const QString &id : ids)
        w.addRecord({id, QString(QStringLiteral("Товар ") + id), MaskPriceValue(price, kCode), QStringLiteral("Завод"),
                     QStringLiteral("Россия"), 0.0, QDate(2027, 1, 1), qnt, 1, 10, 0, 0, 0, 0, 0, 0, 0, QString()});
    w.save(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
}

} // namespace

TEST_F(WorkstationsTest, TheFirstStartMakesTheDatabaseOnTheServerAndBothShareIt)
{
    Workstation a(location);
    EXPECT_TRUE(QFile::exists(location.Path)) << "made on the server at the path given";
    EXPECT_FALSE(QFile::exists(a.dir.file("Data/client.gdb"))) << "no local database beside a served one";
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин таб. 500 мг №10"));
    Workstation b(location);
    Dataset &price = b.openPrice();
    ASSERT_EQ(price.RecordCount(), 1);
    EXPECT_EQ(price.FieldByName(QStringLiteral("TOVAR")).AsString(), QStringLiteral("Анальгин таб. 500 мг №10"));
}

// A login of the pharmacy's own whose password has a quote in it: the first
// start still makes the database with it, and what the log says of the
// database names the user, never the password.
TEST_F(WorkstationsTest, APasswordWithAQuoteMakesTheDatabaseAndIsNeverShown)
{
    Workstation admin(location);
    admin.dm->ExecSQL(QStringLiteral("CREATE USER APTEKA PASSWORD 'o''brien\"1'"), true);
    admin.dm->ExecSQL(QStringLiteral("GRANT CREATE DATABASE TO USER APTEKA"), true);
    DatabaseLocation own = location;
    own.Path = server.dataFolder() + QStringLiteral("/own.gdb");
    own.User = QStringLiteral("APTEKA");
    own.Password = QStringLiteral("o'brien\"1");
    {
        Workstation a(own);
        EXPECT_TRUE(QFile::exists(own.Path));
        EXPECT_TRUE(a.dm->IsServer());
        addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"));
        ASSERT_FALSE(a.log.entries.empty()) << "the new database is told";
        for (const auto &e : a.log.entries)
            EXPECT_FALSE(e.text.contains(QStringLiteral("brien"))) << e.text.toStdString();
    }
    EXPECT_EQ(CheckDatabaseLocation(own), QString());
    Workstation b(own);
    EXPECT_EQ(b.openPrice().RecordCount(), 1);
    const QString described = own.Description();
    EXPECT_TRUE(described.contains(QStringLiteral("пользователь APTEKA"))) << described.toStdString();
    EXPECT_FALSE(described.contains(QStringLiteral("brien"))) << described.toStdString();
}

TEST_F(WorkstationsTest, AQuantityChangedElsewhereIsNeverOverwrittenAndTheGridShowsTheStoredOne)
{
    Workstation a(location);
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"));
    addPrice(a, QStringLiteral("B2"), QStringLiteral("Бинт"));
    Workstation b(location);
    a.openPrice();
    b.openPrice();
    a.goTo(QStringLiteral("A1"));
    b.goTo(QStringLiteral("A1"));

    a.entry->TypeDigit(QLatin1Char('5'));
    EXPECT_EQ(zakaz("A1"), 5);
    // B's grid still shows 0: its 3 must not silently replace A's 5.
    b.entry->TypeDigit(QLatin1Char('3'));
    EXPECT_EQ(zakaz("A1"), 5);
    EXPECT_EQ(b.shown(), 5) << "the grid shows what the database holds";
    ASSERT_FALSE(b.dialogs.notices.isEmpty());
    EXPECT_EQ(b.dialogs.notices.last(), QStringLiteral("Количество изменено на другом рабочем месте: теперь 5"));
    // Typed again over what it now shows, B's quantity is stored.
    b.entry->TypeDigit(QLatin1Char('3'));
    EXPECT_EQ(zakaz("A1"), 3);
    EXPECT_EQ(b.shown(), 3);

    // The Delete key checks the same way.
    a.entry->DeleteQuantity(); // A still shows 5
    EXPECT_EQ(zakaz("A1"), 3);
    EXPECT_EQ(a.shown(), 3);
    EXPECT_EQ(a.dialogs.notices.last(), QStringLiteral("Количество изменено на другом рабочем месте: теперь 3"));

    // A row the other workstation holds (a save or a load running there):
    // the engine's lock becomes a message, nothing is thrown, nothing lost.
    a.goTo(QStringLiteral("B2"));
    b.dm->BeginReserved({QStringLiteral("PRICE")});
    a.dialogs.notices.clear();
    a.entry->TypeDigit(QLatin1Char('7'));
    ASSERT_EQ(a.dialogs.notices.size(), 1);
    EXPECT_TRUE(a.dialogs.notices[0].contains(QStringLiteral("другое рабочее место"))) << a.dialogs.notices[0].toStdString();
    EXPECT_EQ(a.shown(), 0);
    b.dm->Commit();
    a.entry->TypeDigit(QLatin1Char('7'));
    EXPECT_EQ(zakaz("B2"), 7);
}

TEST_F(WorkstationsTest, AQuantityTypedDuringAnotherWorkstationsPriceLoadIsRefusedNotLost)
{
    Workstation a(location);
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"), 100, 4);
    addPrice(a, QStringLiteral("B2"), QStringLiteral("Бинт"), 100, 0);
    Workstation b(location);
    b.openPrice();
    b.goTo(QStringLiteral("B2"));

    writePriceFile(a.dir.file(kCode + QStringLiteral(".dbf")), {QStringLiteral("A1"), QStringLiteral("B2")}, 50,
                   QDateTime::currentDateTime());
    bool typedDuringLoad = false;
    a.update->AfterOrderKept = [&] {
        // The old order is put aside; the rows are about to be rewritten.
        b.entry->TypeDigit(QLatin1Char('9'));
        typedDuringLoad = true;
    };
    ASSERT_TRUE(a.update->LoadPriceFromFile());
    ASSERT_TRUE(typedDuringLoad);
    EXPECT_EQ(zakaz("A1"), 4) << "A's order carried over";
    EXPECT_EQ(zakaz("B2"), 0) << "B's 9 was refused, not half-stored";
    EXPECT_EQ(b.shown(), 0) << "B's grid shows what is stored";
    ASSERT_FALSE(b.dialogs.notices.isEmpty());
    EXPECT_TRUE(b.dialogs.notices.last().contains(QStringLiteral("Введите количество ещё раз")))
        << b.dialogs.notices.last().toStdString();
    // After the load B types it again and keeps it.
    b.openPrice();
    b.goTo(QStringLiteral("B2"));
    b.entry->TypeDigit(QLatin1Char('9'));
    EXPECT_EQ(zakaz("B2"), 9);
}

TEST_F(WorkstationsTest, ThePriceDateAndTheNewListReachTheOtherWorkstation)
{
    Workstation a(location);
    Workstation b(location);
    fb::EventWatcher watcher(*b.dm->Database(), {QStringLiteral("PRICE_CHANGED"), QStringLiteral("ORDERS_CHANGED")});
    QStringList events;
    QObject::connect(&watcher, &fb::EventWatcher::posted, [&](const QString &name) { events << name; });
    watcher.start();
    QTest::qWait(200);
    EXPECT_TRUE(events.isEmpty());

    const QDateTime today = QDateTime(QDate::currentDate(), QTime(6, 30));
    writePriceFile(a.dir.file(kCode + QStringLiteral(".dbf")), {QStringLiteral("A1"), QStringLiteral("B2")}, 50, today);
    ASSERT_TRUE(a.update->LoadPriceFromFile());

    ASSERT_TRUE(QTest::qWaitFor([&] { return !events.isEmpty(); }, 5000));
    EXPECT_EQ(events, QStringList{QStringLiteral("PRICE_CHANGED")});
    // B has no Data/pricein.dbf: its date comes from the database.
    EXPECT_FALSE(QFile::exists(b.dir.file("Data/pricein.dbf")));
    ASSERT_TRUE(b.update->ReadStoredPriceDate());
    EXPECT_EQ(b.settings.PriceDateTime, today);
    EXPECT_TRUE(b.update->CheckPriceActuality(false)) << "a list of today is not stale on the other workstation";
    b.openPrice();
    EXPECT_EQ(b.dm->PriceSet()->RecordCount(), 2);
    EXPECT_EQ(b.dm->NameIndex().size(), 2u);
}

TEST_F(WorkstationsTest, TwoSavesAtOnceGiveDistinctNumbersAndNeverTheSameRowsTwice)
{
    // A save waits for the other one to finish.
    Workstation a(location, 10);
    Workstation b(location, 10);
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 6; ++i)
            addPrice(a, QStringLiteral("R%1-%2").arg(round).arg(i), QStringLiteral("Товар %1").arg(i), 100, i + 1);
        a.openPrice();
        b.openPrice();
        std::barrier start(2);
        std::atomic<int> failures{0};
        auto save = [&](Workstation &w) {
            start.arrive_and_wait();
            try {
                w.saver->SaveCurrentOrder(QString());
            } catch (const std::exception &) {
                ++failures; // refused after the lock time-out: nothing written, said by the caller
            }
        };
        std::thread ta(save, std::ref(a));
        std::thread tb(save, std::ref(b));
        ta.join();
        tb.join();
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM PRICE WHERE ZAKAZ > 0")), 0)
            << "every ordered row is in an order";
        EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM (SELECT ID FROM ORDERS GROUP BY ID HAVING COUNT(*) > 1)")), 0)
            << "no order number twice";
        EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM (SELECT IDTOVAR FROM ORDERSL GROUP BY IDTOVAR HAVING COUNT(*) > 1)")), 0)
            << "no row in two orders";
        EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM ORDERSL WHERE IDNAKL NOT IN (SELECT ID FROM ORDERS)")), 0);
        exec(a, QStringLiteral("DELETE FROM PRICE"));
    }
    EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM ORDERSL")), 24);
}

TEST_F(WorkstationsTest, OneJobAtATimeAndTheOtherIsToldWhoRunsIt)
{
    Workstation a(location);
    Workstation b(location);
    JobLock aJob(*a.dm, JobLock::Job::PriceUpdate);
    ASSERT_TRUE(aJob.Acquire());
    JobLock bJob(*b.dm, JobLock::Job::PriceUpdate);
    EXPECT_FALSE(bJob.Acquire());
    EXPECT_TRUE(bJob.BusyText().startsWith(QStringLiteral("Прайс обновляется на другом рабочем месте")));
    EXPECT_TRUE(bJob.BusyText().contains(JobLock::WorkstationName())) << bJob.BusyText().toStdString();
    {
        // A timer's job has no USER in its environment: the others are still
        // told the computer and the user.
        const QByteArray user = qgetenv("USER");
        qunsetenv("USER");
        const QString name = JobLock::WorkstationName();
        if (!user.isNull())
            qputenv("USER", user);
        const QString owner = QFileInfo(location.Path).owner(); // the account that runs the test
        ASSERT_FALSE(owner.isEmpty());
        EXPECT_TRUE(name.endsWith(QLatin1Char('/') + owner)) << name.toStdString();
        EXPECT_TRUE(name.startsWith(QSysInfo::machineHostName())) << name.toStdString();
    }
    // Another kind of job is not held up.
    JobLock bSend(*b.dm, JobLock::Job::Sending);
    EXPECT_TRUE(bSend.Acquire());
    // The whole update refuses to start on B and says why.
    b.dialogs.notices.clear();
    EXPECT_FALSE(b.update->UpdatePrice());
    ASSERT_EQ(b.dialogs.notices.size(), 1);
    EXPECT_TRUE(b.dialogs.notices[0].startsWith(QStringLiteral("Прайс обновляется на другом рабочем месте")));
    // Released (the job ended, or its workstation died): B may go.
    aJob.Release();
    EXPECT_TRUE(bJob.Acquire());
}

// The window's event loop with nothing to do for a while: it waits for the
// next event, as a window does while the pharmacist thinks.
void idle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

int countOf(const RecordingLog &log, const QString &part)
{
    return int(std::count_if(log.entries.begin(), log.entries.end(),
                             [&](const RecordingLog::Entry &e) { return e.text.contains(part); }));
}

// However many actions fail while the server is down, the workstation
// attaches again by itself once it is back, says so once each way, and the
// next quantity is stored.
TEST_F(WorkstationsTest, AServerThatWasDownIsFoundAgainByItselfAfterAnyNumberOfFailedActions)
{
    Workstation a(location);
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"));
    a.openPrice();
    a.goTo(QStringLiteral("A1"));
    server.kill();
    a.dialogs.notices.clear();
    a.entry->TypeDigit(QLatin1Char('4'));
    ASSERT_EQ(a.dialogs.notices.size(), 1);
    EXPECT_TRUE(a.dialogs.notices[0].contains(QStringLiteral("нет связи с сервером базы данных"))) << a.dialogs.notices[0].toStdString();
    JobLock job(*a.dm, JobLock::Job::PriceUpdate);
    EXPECT_FALSE(job.AcquireOrTell(a.dialogs));
    a.entry->TypeDigit(QLatin1Char('5'));
    QTest::qWait(1500); // a few tries of the background reattach fail meanwhile
    EXPECT_TRUE(a.dm->IsServerAway());
    EXPECT_EQ(countOf(a.log, QStringLiteral("Сервер базы данных не отвечает…")), 1);

    server.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.dm->IsServerAway(); }, 20000)) << "no action needed";
    EXPECT_EQ(countOf(a.log, QStringLiteral("Соединение с сервером базы данных восстановлено")), 1);
    EXPECT_EQ(countOf(a.log, QStringLiteral("Сервер базы данных не отвечает…")), 1);
    ASSERT_TRUE(a.dm->PriceSet()->Active()) << "the lists are open again";
    a.goTo(QStringLiteral("A1"));
    a.entry->TypeDigit(QLatin1Char('4'));
    EXPECT_EQ(zakaz("A1"), 4);
    EXPECT_EQ(a.shown(), 4);
}

// The window's way: the quantity is shown at once, marked, waits while the
// server is down, and is stored when it comes back, said in the pane.
TEST_F(WorkstationsTest, AQuantityTypedWhileTheServerIsDownWaitsMarkedAndIsStoredWhenItIsBack)
{
    Workstation a(location);
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"));
    Dataset &price = a.openPrice();
    a.entry->UseOwnWriter();
    a.goTo(QStringLiteral("A1"));
    server.kill();
    QElapsedTimer took;
    took.start();
    a.entry->TypeDigit(QLatin1Char('7'));
    EXPECT_LT(took.elapsed(), 100) << "the window does not wait";
    EXPECT_EQ(a.shown(), 7);
    EXPECT_TRUE(a.entry->IsPending(price));
    EXPECT_TRUE(a.dialogs.notices.isEmpty()) << "nothing refused";
    ASSERT_TRUE(QTest::qWaitFor([&] { return countOf(a.log, QStringLiteral("ждёт записи")) > 0; }, 5000));
    QTest::qWait(1000);
    server.start();
    ASSERT_TRUE(a.entry->Writer()->waitIdle(30000));
    EXPECT_EQ(zakaz("A1"), 7);
    EXPECT_FALSE(a.entry->IsPending(price));
    EXPECT_EQ(countOf(a.log, QStringLiteral("«Анальгин» (код A1, годен до 01.01.2027) записано: 7")), 1);
}

// A server machine that froze: the connection stays open and nothing
// answers. The window goes on, says so within 5 s, and once the server runs
// again the quantities typed meanwhile are stored in the order typed.
TEST_F(WorkstationsTest, AFrozenServerNeverHoldsUpTheWindowAndNothingTypedIsLost)
{
    Workstation a(location);
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"));
    addPrice(a, QStringLiteral("B2"), QStringLiteral("Бинт"));
    a.openPrice();
    a.entry->UseOwnWriter();
    a.goTo(QStringLiteral("A1"));
    a.entry->TypeDigit(QLatin1Char('1'));
    ASSERT_TRUE(a.entry->Writer()->waitIdle(10000)); // attached before the freeze
    a.goTo(QStringLiteral("B2"));
    server.pause();
    QElapsedTimer took;
    took.start();
    a.entry->TypeDigit(QLatin1Char('2'));
    a.entry->TypeDigit(QLatin1Char('3'));
    EXPECT_LT(took.elapsed(), 100);
    // The event loop keeps turning: a timer set now fires at once.
    QElapsedTimer turn;
    turn.start();
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired; }, 1000));
    EXPECT_LT(turn.elapsed(), 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return countOf(a.log, QStringLiteral("Сервер базы данных не отвечает…")) > 0; }, 5000))
        << "said within 5 s";
    EXPECT_EQ(a.shown(), 23);
    server.resume();
    ASSERT_TRUE(a.entry->Writer()->waitIdle(30000));
    EXPECT_EQ(zakaz("A1"), 1);
    EXPECT_EQ(zakaz("B2"), 23);
    EXPECT_EQ(countOf(a.log, QStringLiteral("Сервер базы данных снова отвечает")), 1);
}

// Another workstation holds the price rows for a long write: a digit typed
// meanwhile costs the window nothing, waits, and is stored when the write ends.
TEST_F(WorkstationsTest, ADigitTypedWhileAnotherWorkstationHoldsThePriceWaitsAndIsStoredAfter)
{
    Workstation a(location);
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"), 100, 4);
    addPrice(a, QStringLiteral("B2"), QStringLiteral("Бинт"), 100, 0);
    Workstation b(location);
    Dataset &price = b.openPrice();
    b.entry->UseOwnWriter();
    b.goTo(QStringLiteral("B2"));

    writePriceFile(a.dir.file(kCode + QStringLiteral(".dbf")), {QStringLiteral("A1"), QStringLiteral("B2")}, 50,
                   QDateTime::currentDateTime());
    qint64 longest = 0;
    a.update->AfterOrderKept = [&] {
        // The rows are about to be rewritten and are held until the commit.
        for (QChar digit : {QLatin1Char('1'), QLatin1Char('2')}) {
            QElapsedTimer took;
            took.start();
            b.entry->TypeDigit(digit);
            longest = std::max(longest, took.elapsed());
        }
        QTest::qWait(1000); // B's writer meets the held rows and waits
    };
    ASSERT_TRUE(a.update->LoadPriceFromFile());
    EXPECT_LT(longest, 100) << "the window's thread was kept " << longest << " ms";
    EXPECT_EQ(b.shown(), 12);
    ASSERT_TRUE(b.entry->Writer()->waitIdle(20000));
    EXPECT_EQ(zakaz("A1"), 4) << "A's order carried over";
    EXPECT_EQ(zakaz("B2"), 12) << "B's quantity written after the load";
    EXPECT_FALSE(b.entry->IsPending(price));
    EXPECT_TRUE(b.dialogs.notices.isEmpty()) << b.dialogs.notices.join(QLatin1Char('|')).toStdString();
    EXPECT_GE(countOf(b.log, QStringLiteral("записано: 12")), 1);
}

// A workstation that only shows its lists holds no transaction: the server's
// oldest active transaction moves on past the loads of another one.
TEST_F(WorkstationsTest, AnIdleWorkstationDoesNotHoldBackTheOldestActiveTransaction)
{
    Workstation a(location);
    Workstation b(location);
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"));
    qint64 bAttachment = 0;
    {
        std::unique_ptr<Dataset> q(b.dm->OpenQuery(QStringLiteral("SELECT CURRENT_CONNECTION FROM RDB$DATABASE"), true));
        bAttachment = q->Fields(0).AsLargeInt();
    }
    b.openPrice();
    b.entry->CountTotals();
    EXPECT_TRUE(b.dm->PriceHasData());
    idle(500); // B only shows its list
    const qint64 beforeLoads = committed(QStringLiteral("SELECT CURRENT_TRANSACTION FROM RDB$DATABASE"));
    const QString file = a.dir.file(kCode + QStringLiteral(".dbf"));
    for (int load = 0; load < 2; ++load) {
        writePriceFile(file, {QStringLiteral("A1"), QStringLiteral("B%1").arg(load)}, 50, QDateTime::currentDateTime());
        ASSERT_TRUE(a.update->LoadPriceFromFile());
        idle(300);
    }
    EXPECT_GT(committed(QStringLiteral("SELECT MON$OLDEST_ACTIVE FROM MON$DATABASE")), beforeLoads);
    EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM MON$TRANSACTIONS WHERE MON$ATTACHMENT_ID = %1").arg(bAttachment)), 0)
        << "B holds no transaction while it idles";
}

TEST_F(WorkstationsTest, UpkeepOfAServedDatabaseNeverTouchesLocalFiles)
{
    Workstation a(location);
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"), 100, 3);
    a.dm->ExecSQL(QStringLiteral("INSERT INTO ORDERS (ID, STATUS) VALUES (1, 0)"), true);
    int restarts = 0;
    a.dm->RestartProgram = [&] { ++restarts; };
    // «Получить новый файл БД» is refused with a notice: the file is the server's.
    a.dm->GetNewDatabaseFile();
    EXPECT_TRUE(QFile::exists(location.Path));
    EXPECT_EQ(restarts, 0);
    ASSERT_EQ(a.dialogs.notices.size(), 1);
    // «Очистка БД» empties the shared tables in one transaction.
    a.dialogs.setNextAnswer(6);
    a.dm->ResetDatabase();
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM PRICE")), 0);
    EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM ORDERS")), 0);
    EXPECT_TRUE(QFile::exists(location.Path));
    EXPECT_FALSE(QFile::exists(a.dir.file("Data/client_prev.gdb")));
}

TEST_F(WorkstationsTest, CheckingTheConnectionSaysWhatIsWrong)
{
    EXPECT_TRUE(CheckDatabaseLocation(location).startsWith(QStringLiteral("На сервере нет файла базы данных")))
        << "the first start makes it";
    Workstation a(location);
    EXPECT_TRUE(CheckDatabaseLocation(location).isEmpty());
    DatabaseLocation wrong = location;
    wrong.Password = QStringLiteral("не тот");
    EXPECT_TRUE(CheckDatabaseLocation(wrong).startsWith(QStringLiteral("Сервер не принял имя пользователя или пароль")));
    wrong = location;
    wrong.Path = server.dataFolder() + QStringLiteral("/нет такого.gdb");
    EXPECT_TRUE(CheckDatabaseLocation(wrong).startsWith(QStringLiteral("На сервере нет файла базы данных")));
    wrong = location;
    wrong.Server = QStringLiteral("127.0.0.1/1");
    EXPECT_TRUE(CheckDatabaseLocation(wrong).contains(QStringLiteral("не отвечает")));
    wrong.Server = QStringLiteral("нет-такого-сервера.invalid");
    EXPECT_TRUE(CheckDatabaseLocation(wrong).contains(QStringLiteral("не найден")));
    // A failed check is the check's own: the running workstation's
    // connection is neither dropped nor attached again.
    QTest::qWait(100);
    EXPECT_FALSE(a.dm->ReconnectIfLost());
    EXPECT_FALSE(a.dm->IsServerAway());
    EXPECT_TRUE(std::none_of(a.log.entries.begin(), a.log.entries.end(),
                             [](const RecordingLog::Entry &e) { return e.text.contains(QStringLiteral("восстановлено")); }));
}

// The window of the other counter: started on the shared database, it shows
// a list loaded elsewhere without a restart, with the new price date in its
// title, on the row it was on and with its filter kept.
TEST_F(WorkstationsTest, TheOtherWindowShowsANewListWithoutARestart)
{
    Workstation a(location);
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"));
    addPrice(a, QStringLiteral("B2"), QStringLiteral("Бинт"));

    TempAppDir dir;
    dir.writeText("client.ini", QStringLiteral("[Header]\nClientCode=%1\nClientPass=pw\n[Database]\nServer=%2\nPath=%3\n")
                                    .arg(kCode, location.Server, location.Path));
    ScriptedDialogs dialogs;
    auto form = std::make_unique<TMainForm>(dir.path());
    form->setDialogs(&dialogs);
    form->LoadSettings();
    ASSERT_TRUE(form->DM->IsServer());
    Dataset *price = form->DM->PriceSet();
    ASSERT_TRUE(price->Active());
    ASSERT_EQ(price->RecordCount(), 2);
    ASSERT_TRUE(price->Locate(QStringLiteral("IDTOVAR"), QStringLiteral("B2")));

    const QDateTime today(QDate::currentDate(), QTime(6, 30));
    writePriceFile(a.dir.file(kCode + QStringLiteral(".dbf")),
                   {QStringLiteral("A1"), QStringLiteral("B2"), QStringLiteral("C3")}, 50, today);
    ASSERT_TRUE(a.update->LoadPriceFromFile());

    ASSERT_TRUE(QTest::qWaitFor([&] { return price->RecordCount() == 3; }, 5000)) << price->RecordCount();
    EXPECT_EQ(price->FieldByName(QStringLiteral("IDTOVAR")).AsString(), QStringLiteral("B2")) << "the same row";
    EXPECT_EQ(form->DM->NameIndex().size(), 3u) << "quick search knows the new goods";
    EXPECT_TRUE(form->windowTitle().contains(today.toString(QStringLiteral("dd.MM.yyyy"))))
        << form->windowTitle().toStdString();
    form->closeWithoutAsking = true;
}

// A counter that did not load the list itself starts with the list's date
// from the database and asks nothing about it. A later list of the same
// length with other prices (a daily list usually keeps its length) reaches
// its grid, with the new date in the title, on the same row.
TEST_F(WorkstationsTest, EveryWindowShowsTheStoredListAndItsDateWhateverItsLength)
{
    Workstation a(location);
    const QStringList ids = {QStringLiteral("A1"), QStringLiteral("B2"), QStringLiteral("C3")};
    const QDateTime first(QDate::currentDate(), QTime(6, 30));
    writePriceFile(a.dir.file(kCode + QStringLiteral(".dbf")), ids, 50, first, 174.11);
    ASSERT_TRUE(a.update->LoadPriceFromFile());

    TempAppDir dir;
    dir.writeText("client.ini", QStringLiteral("[Header]\nClientCode=%1\nClientPass=pw\n[Database]\nServer=%2\nPath=%3\n")
                                    .arg(kCode, location.Server, location.Path));
    ScriptedDialogs dialogs; // an unexpected question fails the test
    auto form = std::make_unique<TMainForm>(dir.path());
    form->setDialogs(&dialogs);
    form->LoadSettings();
    EXPECT_TRUE(form->CheckPriceActuality(true)) << "today's list, loaded elsewhere, is current";
    EXPECT_TRUE(form->windowTitle().contains(QStringLiteral("06:30"))) << form->windowTitle().toStdString();
    EXPECT_FALSE(form->windowTitle().contains(QStringLiteral("ТРЕБУЕТСЯ"))) << form->windowTitle().toStdString();

    Dataset *price = form->DM->PriceSet();
    ASSERT_TRUE(price->Active());
    ASSERT_TRUE(price->Locate(QStringLiteral("IDTOVAR"), QStringLiteral("B2")));
    const auto shownPrice = [&] { return MaskPriceValue(price->FieldByName(QStringLiteral("PRICE")).AsFloat(), kCode); };
    EXPECT_DOUBLE_EQ(shownPrice(), 174.11);

    const QDateTime second(QDate::currentDate(), QTime(7, 45));
    writePriceFile(a.dir.file(kCode + QStringLiteral(".dbf")), ids, 50, second, 174.12);
    ASSERT_TRUE(a.update->LoadPriceFromFile());

    EXPECT_TRUE(QTest::qWaitFor([&] { return qAbs(shownPrice() - 174.12) < 0.001; }, 2000)) << shownPrice();
    EXPECT_EQ(price->RecordCount(), 3);
    EXPECT_EQ(price->FieldByName(QStringLiteral("IDTOVAR")).AsString(), QStringLiteral("B2")) << "the same row";
    EXPECT_TRUE(form->windowTitle().contains(QStringLiteral("07:45"))) << form->windowTitle().toStdString();
    form->closeWithoutAsking = true;
}

// Over a server the load writes its rows a block at a time: a list of several
// blocks and a short one at the end, with rows new, rewritten and gone,
// gives exactly the rows of the file, and the order carried over.
TEST_F(WorkstationsTest, ALoadOverTheServerWritesEveryRowOfTheFile)
{
    Workstation a(location);
    auto ids = [](int from, int to) {
        QStringList list;
        for (int i = from; i < to; ++i)
            list << QStringLiteral("G%1").arg(i, 4, 10, QLatin1Char('0'));
        return list;
    };
    const QString file = a.dir.file(kCode + QStringLiteral(".dbf"));
    writePriceFile(file, ids(0, 100), 50, QDateTime::currentDateTime(), 10);
    ASSERT_TRUE(a.update->LoadPriceFromFile());
    exec(a, QStringLiteral("UPDATE PRICE SET ZAKAZ = 3 WHERE IDTOVAR IN ('G0050', 'G0005')"));
    writePriceFile(file, ids(10, 171), 50, QDateTime::currentDateTime(), 12.5);
    ASSERT_TRUE(a.update->LoadPriceFromFile());
    EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM PRICE")), 161);
    EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(DISTINCT IDTOVAR) FROM PRICE WHERE IDTOVAR BETWEEN 'G0010' AND 'G0170'")), 161);
    EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM PRICE WHERE ABS(PRICE - %1) > 0.001").arg(MaskPriceValue(12.5, kCode))), 0);
    EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM PRICE WHERE TOVAR = 'Товар ' || IDTOVAR")), 161);
    EXPECT_EQ(zakaz(QStringLiteral("G0050")), 3) << "carried over";
    EXPECT_EQ(committed(QStringLiteral("SELECT SUM(ZAKAZ) FROM PRICE")), 3) << "G0005 is gone with its quantity";
}

// Two counters press "send" at once: each archived order reaches the supplier
// once. The second counter is told the other one sends and sends nothing.
TEST_F(WorkstationsTest, SendingWhileAnotherWorkstationSendsSendsEachOrderOnce)
{
    using Fault = pc::test::FtpTestServer::Fault;
    pc::test::FtpTestServer ftp{pc::test::FtpTestServer::Options{{{kCode, QStringLiteral("pw")}, {QStringLiteral("Order"), QStringLiteral("nulpet")}}}};
    Workstation a(location, 5);
    Workstation b(location, 5);
    struct Sending {
        OrderFileWriter writer;
        OrderSender sender;
        explicit Sending(Workstation &w)
            : writer(*w.dm, w.dialogs, w.log, w.context, w.settings),
              sender(*w.dm, w.dialogs, w.log, w.context, w.settings, *w.connection, writer, *w.saver)
        {
        }
    };
    for (Workstation *w : {&a, &b}) {
        w->settings.ServerAddresses = QStringList{QStringLiteral("127.0.0.1")};
        w->settings.ServerPort = ftp.port();
        w->settings.OrderAccount = {QStringLiteral("Order"), QStringLiteral("nulpet")};
        w->settings.ClientAccount = {kCode, QStringLiteral("pw")};
        w->settings.DeliveryAddresses = {{QStringLiteral("--ОСНОВНОГО АДРЕСА--"), kCode, 0}};
        w->settings.AskSendLog = true;
        w->connection->ftp().setConnectTimeout(10000);
    }
    for (int id = 1; id <= 3; ++id) {
        exec(a, QStringLiteral("INSERT INTO ORDERS (ID, STATUS, DATET, SUMMA) VALUES (%1, 0, '01.12.2026', 10)").arg(id));
        exec(a, QStringLiteral("INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, QNT, PRICE, SUMMA) VALUES (%1, 'A%1', 'Аспирин', 1, %2, 10)")
                    .arg(id)
                    .arg(MaskPriceValue(10, kCode), 0, 'f', 2));
    }
    Sending sa(a), sb(b);
    // A's first upload hangs a while: B presses "send" in the middle of A's sending.
    ftp.setFaults({{.verb = QStringLiteral("STOR"), .argMask = QStringLiteral("*.tmp"), .action = Fault::Stall, .seconds = 2, .times = 1}});
    bool aSent = false, bSent = true;
    QString aError, bError;
    std::thread ta([&] {
        try {
            aSent = sa.sender.SendUnsentOrders();
        } catch (const std::exception &e) {
            aError = errorText(e);
        }
    });
    const bool aUploading = QTest::qWaitFor([&] { return !ftp.commands(QStringLiteral("STOR")).isEmpty(); }, 15000);
    if (aUploading) {
        try {
            bSent = sb.sender.SendUnsentOrders();
        } catch (const std::exception &e) {
            bError = errorText(e);
        }
    }
    ta.join();
    ASSERT_TRUE(aUploading);
    EXPECT_TRUE(aSent) << aError.toStdString();
    EXPECT_FALSE(bSent);
    EXPECT_TRUE(bError.isEmpty()) << bError.toStdString();
    EXPECT_TRUE(b.dialogs.notices.join('|').contains(QStringLiteral("Заявки отправляются на другом рабочем месте")))
        << b.dialogs.notices.join('|').toStdString();
    const QStringList stored = ftp.commands(QStringLiteral("STOR"));
    for (int id = 1; id <= 3; ++id)
        EXPECT_EQ(stored.filter(QStringLiteral("%1_%2.").arg(kCode).arg(id)).size(), 1) << "order " << id << ": " << stored.join(' ').toStdString();
    EXPECT_EQ(committed(QStringLiteral("SELECT COUNT(*) FROM ORDERS WHERE STATUS = 0")), 0);
}

// A save on one counter is told to the others at its commit, and the other
// window follows: the new order in its archive, the quantities it showed
// gone from its price grid, on the same row.
TEST_F(WorkstationsTest, ASaveIsToldToTheOthersAndTheOtherWindowDropsTheSavedQuantities)
{
    Workstation a(location);
    addPrice(a, QStringLiteral("A1"), QStringLiteral("Анальгин"), 100, 3);
    addPrice(a, QStringLiteral("B2"), QStringLiteral("Бинт"), 100, 5);
    addPrice(a, QStringLiteral("C3"), QStringLiteral("Вата"), 100, 0);

    Workstation watcherSide(location);
    fb::EventWatcher watcher(*watcherSide.dm->Database(), {QStringLiteral("ORDERS_CHANGED")});
    QStringList heard;
    QObject::connect(&watcher, &fb::EventWatcher::posted, [&](const QString &name) { heard << name; });
    watcher.start();

    TempAppDir dir;
    dir.writeText("client.ini", QStringLiteral("[Header]\nClientCode=%1\nClientPass=pw\n[Database]\nServer=%2\nPath=%3\n")
                                    .arg(kCode, location.Server, location.Path));
    ScriptedDialogs dialogs;
    auto form = std::make_unique<TMainForm>(dir.path());
    form->setDialogs(&dialogs);
    form->LoadSettings();
    Dataset *price = form->DM->PriceSet();
    ASSERT_TRUE(price && price->Active());
    ASSERT_TRUE(price->Locate(QStringLiteral("IDTOVAR"), QStringLiteral("B2")));
    ASSERT_EQ(price->FieldByName(QStringLiteral("ZAKAZ")).AsInteger(), 5);
    Dataset *orders = form->DM->OrdersSet();
    ASSERT_TRUE(orders);
    const int ordersBefore = orders->Active() ? orders->RecordCount() : 0;
    QTest::qWait(300);
    heard.clear();

    a.openPrice();
    ASSERT_TRUE(a.saver->SaveCurrentOrder(QString()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return heard.contains(QStringLiteral("ORDERS_CHANGED")); }, 5000)) << "the save told nobody";
    EXPECT_TRUE(QTest::qWaitFor([&] { return price->FieldByName(QStringLiteral("ZAKAZ")).AsInteger() == 0; }, 5000))
        << "the other window still shows the saved quantity";
    EXPECT_EQ(price->FieldByName(QStringLiteral("IDTOVAR")).AsString(), QStringLiteral("B2")) << "the same row";
    EXPECT_TRUE(price->Locate(QStringLiteral("IDTOVAR"), QStringLiteral("A1")));
    EXPECT_EQ(price->FieldByName(QStringLiteral("ZAKAZ")).AsInteger(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return orders->Active() && orders->RecordCount() == ordersBefore + 1; }, 5000))
        << "the other window's archive lacks the new order";
    form->closeWithoutAsking = true;
}

// Two workstations opening a database of an earlier version at once: both
// add the columns since added, one of them finds the other's there, and
// neither says anything; the table has every column once.
TEST_F(WorkstationsTest, TwoWorkstationsUpgradingAnOlderDatabaseAtOnceAreSilent)
{
    {
        Workstation first(location);
        exec(first, QStringLiteral("INSERT INTO ORDERS (ID, STATUS, DATET, SUMMA) VALUES (1, 0, '01.12.2026', 10)"));
    }
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        {
            // The columns an earlier version did not have.
            fb::Database db;
            db.attach(location.ConnectionName());
            fb::Transaction tr(db, 2);
            tr.start();
            for (const char *column : {"SENDFILE", "SENDSIZE", "SENDHASH"}) {
                fb::Statement st(tr);
                st.prepare(QStringLiteral("ALTER TABLE ORDERS DROP ") + QLatin1String(column));
                st.execute();
            }
            tr.commit();
            db.detach();
        }
        ASSERT_EQ(committed("SELECT COUNT(*) FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = 'ORDERS' AND "
                            "RDB$FIELD_NAME STARTING WITH 'SEND'"),
                  0);
        std::barrier start(2);
        std::unique_ptr<Workstation> opened[2];
        auto open = [&](int i) {
            start.arrive_and_wait();
            opened[i] = std::make_unique<Workstation>(location, 1);
        };
        std::thread ta(open, 0);
        std::thread tb(open, 1);
        ta.join();
        tb.join();
        for (const auto &w : opened) {
            ASSERT_TRUE(w);
            for (const auto &e : w->log.entries)
                EXPECT_NE(e.level, Error) << e.text.toStdString();
            EXPECT_TRUE(w->dialogs.notices.isEmpty()) << w->dialogs.notices.join('|').toStdString();
            EXPECT_EQ(w->dm->OrdersSet()->RecordCount(), 1);
        }
        EXPECT_EQ(committed("SELECT COUNT(*) FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = 'ORDERS' AND "
                            "RDB$FIELD_NAME STARTING WITH 'SEND'"),
                  3);
        opened[0].reset();
        opened[1].reset();
    }
}
