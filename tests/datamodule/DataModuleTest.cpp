#include "DbfWriter.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"
#include "ProgramProcess.h"
#include "OtherConnection.h"

#include "core/AppContext.h"
#include "db/DataModule.h"
#include "db/EmptyDatabase.h"
#include "db/Reattacher.h"
#include "db/firebird/Database.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Transaction.h"
#include "platform/AppError.h"
#include "platform/Process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace pc;

namespace {

struct DataModuleFixture : ::testing::Test {
    TempAppDir dir;
    AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    std::unique_ptr<TDM> dm;
    int restarts = 0;

    TDM &make(int kind = DriverFirebird)
    {
        dm = std::make_unique<TDM>(context, dialogs, log);
        dm->DriverKind = kind;
        dm->RestartProgram = [this] { ++restarts; };
        return *dm;
    }
    TDM &open()
    {
        make();
        dm->CreateFirebirdObjects();
        dm->OpenDatabase();
        return *dm;
    }
    void TearDown() override
    {
        dm.reset();
        EXPECT_FALSE(dialogs.answersLeft());
    }
    qint64 count(const QString &sql)
    {
        Dataset *q = dm->OpenQuery(sql);
        return q->Fields(0).AsLargeInt();
    }
    // What is committed, read through another connection.
    qint64 committed(const QString &sql) { return test::committedScalar(dir.file("Data/client.gdb"), sql); }
};

} // namespace

TEST_F(DataModuleFixture, FirstStartMakesTheDatabaseAndOpensEveryTableWithoutQuestions)
{
    TDM &m = open();
    EXPECT_TRUE(dir.exists("Data/client.gdb"));
    EXPECT_TRUE(dialogs.questions.isEmpty());
    EXPECT_TRUE(dialogs.notices.contains("Не удалось открыть прайс. Попробуйте скачать новый"));
    for (Dataset *ds : {m.PriceSet(), m.PriceOldTable(), m.PriceDetTable(), m.OrdersSet(), m.OrdersLinesTable(),
                        m.DefectTable(), m.DefectLinesTable(), m.DefectOrderLinesTable(), m.NakladSet(), m.NakladLinesSet()})
        EXPECT_TRUE(ds->Active());
    EXPECT_TRUE(m.TableExists("price"));
    EXPECT_TRUE(m.TableExists("Price_det"));
    EXPECT_FALSE(m.TableExists("nosuchtable"));
    EXPECT_FALSE(m.PriceHasData());
}

TEST_F(DataModuleFixture, TemplateIsCopiedAndAMissingTableIsCreatedWithItsIndexes)
{
    CreateEmptyDatabase(dir.file("Data/client_empty.gdb"));
    {
        // A template that lacks DEFECTL.
        fb::Database db;
        db.attach(dir.file("Data/client_empty.gdb"));
        fb::Transaction tr(db);
        fb::Statement st(tr);
        st.prepare("DROP TABLE DEFECTL");
        st.execute();
        tr.commit();
        db.detach();
    }
    TDM &m = open();
    EXPECT_TRUE(dir.exists("Data/client.gdb"));
    EXPECT_TRUE(dialogs.questions.isEmpty());
    EXPECT_TRUE(m.TableExists("DefectL"));
    EXPECT_TRUE(m.DefectLinesTable()->Active());
    EXPECT_GT(count("SELECT COUNT(1) FROM RDB$INDICES WHERE RDB$RELATION_NAME = 'DEFECTL' AND RDB$INDEX_NAME NOT STARTING WITH 'RDB$'"), 0);
}

TEST_F(DataModuleFixture, PriceWithRowsOpensAndBuildsTheNameIndex)
{
    TDM &m = open();
    ASSERT_TRUE(m.ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, ZAKAZ) VALUES ('2', 'бинт', '01.01.2027', 0)", false));
    ASSERT_TRUE(m.ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, ZAKAZ) VALUES ('1', 'Аспирин', '01.01.2027', 3)", true));
    EXPECT_TRUE(m.PriceHasData());
    m.OpenPrice(false); // opened empty at start
    m.OpenPrice(true);
    EXPECT_EQ(m.NameIndex(), QStringList({"АСПИРИН", "БИНТ"}));
    EXPECT_EQ(m.PriceSet()->RecNo(), 1);

    // Editing posts through the modify statement and survives a refresh.
    m.PriceSet()->Edit();
    m.PriceSet()->FieldByName("ZAKAZ").SetAsInteger(5);
    m.PriceSet()->Post();
    m.Commit();
    m.RefreshPrice();
    EXPECT_EQ(m.PriceSet()->FieldByName("ZAKAZ").AsInteger(), 5);
    EXPECT_EQ(committed("SELECT SUM(ZAKAZ) FROM PRICE"), 5);

    // A shared query is replaced by the next one; an own query is the caller's.
    std::unique_ptr<Dataset> own(m.OpenQuery("SELECT TOVAR FROM PRICE ORDER BY IDTOVAR", true));
    m.OpenQuery("SELECT COUNT(1) FROM PRICE");
    EXPECT_EQ(own->Fields(0).AsString(), "Аспирин");
}

TEST_F(DataModuleFixture, PreparedStatementsTakeNamedParametersAndRollbackUndoes)
{
    TDM &m = open();
    fb::Statement *q = m.PrepareQuery("INSERT INTO ORDERS (ID, STATUS, COMMENT) VALUES (:ID, 0, :C)");
    m.SetParamByName(q, "ID", 7);
    m.SetParamByName(q, "C", "O'Brien; DROP TABLE ORDERS");
    EXPECT_TRUE(m.ExecQuery(q, true));
    EXPECT_EQ(committed("SELECT COUNT(1) FROM ORDERS WHERE ID = 7 AND COMMENT = 'O''Brien; DROP TABLE ORDERS'"), 1);
    m.ExecSQL("DELETE FROM ORDERS", false);
    EXPECT_EQ(count("SELECT COUNT(1) FROM ORDERS"), 0);
    m.Rollback();
    EXPECT_EQ(count("SELECT COUNT(1) FROM ORDERS"), 1);
    // The prepared statement outlives the transactions it ran in.
    m.SetParamByName(q, "ID", 8);
    EXPECT_TRUE(m.ExecQuery(q, false));
    EXPECT_TRUE(m.ExecSQL("UPDATE ORDERS SET STATUS = 1", true));
    EXPECT_EQ(committed("SELECT COUNT(1) FROM ORDERS WHERE STATUS = 1"), 2);
}

// A commit or a rollback ends the transaction (a retaining one would keep the
// oldest active transaction where it was, and with it every row version
// deleted since), yet
// the open datasets keep their rows, their current rows and a pending edit.
TEST_F(DataModuleFixture, CommitEndsTheTransactionAndDatasetsKeepRowsPositionsAndEdits)
{
    TDM &m = open();
    for (const char *id : {"1", "2", "3"})
        m.ExecSQL(QString("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, ZAKAZ, QNT) VALUES ('%1', 'Товар %1', '01.01.2027', 0, 10)").arg(id),
                  false);
    EXPECT_EQ(committed("SELECT COUNT(1) FROM PRICE"), 0); // the other connection sees only what is committed
    const qint64 writer = count("SELECT CURRENT_TRANSACTION FROM RDB$DATABASE");
    m.Commit();
    EXPECT_EQ(committed("SELECT COUNT(1) FROM PRICE"), 3);
    EXPECT_GT(count("SELECT MON$OLDEST_ACTIVE FROM MON$TRANSACTIONS WHERE MON$TRANSACTION_ID = CURRENT_TRANSACTION"), writer);

    m.OpenPrice(false);
    m.OpenPrice(true);
    Dataset &price = *m.PriceSet();
    m.OrdersSet()->Close();
    m.OrdersSet()->Open();
    price.Next();
    price.Edit();
    price.FieldByName("ZAKAZ").SetAsInteger(7);
    // Another change is committed while the edit is pending.
    m.ExecSQL("INSERT INTO ORDERS (ID, STATUS) VALUES (1, 0)", true);
    EXPECT_EQ(committed("SELECT COUNT(1) FROM ORDERS"), 1);
    EXPECT_EQ(price.State(), DatasetState::Edit);
    EXPECT_EQ(price.RecNo(), 2);
    EXPECT_EQ(price.RecordCount(), 3);
    EXPECT_EQ(m.NameIndex().size(), 3);
    price.Post();
    EXPECT_EQ(committed("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '2'"), 0);
    m.Commit();
    EXPECT_EQ(committed("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '2'"), 7);
    EXPECT_EQ(price.FieldByName("ZAKAZ").AsInteger(), 7);
    // Moving and editing go on in the next transaction.
    price.Next();
    EXPECT_EQ(price.FieldByName("IDTOVAR").AsString(), "3");
    price.Edit();
    price.FieldByName("ZAKAZ").SetAsInteger(4);
    price.Post();
    // A rollback ends the transaction as well: the oldest active moves past it.
    const qint64 undone = count("SELECT CURRENT_TRANSACTION FROM RDB$DATABASE");
    m.Rollback();
    EXPECT_GT(count("SELECT MON$OLDEST_ACTIVE FROM MON$TRANSACTIONS WHERE MON$TRANSACTION_ID = CURRENT_TRANSACTION"), undone);
    EXPECT_EQ(count("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '3'"), 0);
    EXPECT_EQ(count("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '2'"), 7);
    m.OrdersSet()->Refresh();
    EXPECT_EQ(m.OrdersSet()->RecordCount(), 1);
}

TEST_F(DataModuleFixture, StatementsDoNothingWithTheDbfKindsWhichAreRefused)
{
    TDM &m = make(DriverOdbc);
    EXPECT_FALSE(m.ExecSQL("SELECT 1 FROM RDB$DATABASE", false));
    EXPECT_EQ(m.OpenQuery("SELECT 1 FROM RDB$DATABASE"), nullptr);
    EXPECT_EQ(m.PriceSet(), nullptr);
    EXPECT_EQ(m.QntFieldName(), "COUNT");
    EXPECT_TRUE(m.DbfConnectionString(DriverOdbc).startsWith("Driver={Microsoft dBASE Driver (*.dbf)};DriverID=277;Collate=Machine;Dbq="));
    EXPECT_TRUE(m.DbfConnectionString(DriverVfpOleDb).startsWith("Provider=VFPOLEDB.1;Data Source="));
    // Opening refuses the kind with a notice and keeps the embedded database.
    m.CreateFirebirdObjects();
    m.OpenDatabase();
    EXPECT_TRUE(m.IsFirebird());
    EXPECT_EQ(m.QntFieldName(), "QNT");
    EXPECT_TRUE(dialogs.notices.front().contains("не поддерживается"));
    EXPECT_TRUE(m.OrdersSet()->Active());
}

TEST_F(DataModuleFixture, OldDbfOrdersAndInvoicesAreImportedWithMappedColumns)
{
    test::DbfWriter orders;
    orders.addField("ID", 'N', 10).addField("STATUS", 'N', 2).addField("SUMMA", 'N', 12, 2).addField("COMMENT", 'C', 100);
    orders.addRecord({5, 1, 1234.5, QStringLiteral("Срочно")});
    orders.save(dir.file("Data/ORDERS.dbf"));
    test::DbfWriter lines;
    lines.addField("IDNAKL", 'N', 10).addField("IDTOVAR", 'C', 14).addField("COUNT", 'N', 8);
    lines.addRecord({5, QStringLiteral("100"), 3});
    lines.save(dir.file("Data/ordersl.dbf"));
    test::DbfWriter naklad;
    naklad.addField("ID", 'N', 10).addField("READ", 'N', 1);
    naklad.addRecord({77, 1});
    naklad.save(dir.file("Data/NAKLAD.DBF"));
    test::DbfWriter nakladLines;
    nakladLines.addField("ID", 'N', 10).addField("IDTOVAR", 'C', 14).addField("COUNT", 'N', 8).addField("SUM", 'N', 12, 2).addField("LINENO", 'N', 5);
    nakladLines.addRecord({77, QStringLiteral("200"), 4, 99.5, 9});
    nakladLines.save(dir.file("Data/NAKLADL.dbf"));

    TDM &m = open();
    m.ImportOldDbfData();
    EXPECT_TRUE(dialogs.notices.contains("Импорт завершен")) << dialogs.notices.join("|").toStdString();
    EXPECT_EQ(committed("SELECT COUNT(1) FROM ORDERS WHERE ID = 5 AND STATUS = 1"), 1);
    EXPECT_EQ(committed("SELECT COUNT(1) FROM NAKLADL"), 1);
    Dataset *q = m.OpenQuery("SELECT SUMMA, COMMENT FROM ORDERS");
    EXPECT_DOUBLE_EQ(q->Fields(0).AsFloat(), 1234.5);
    EXPECT_EQ(q->Fields(1).AsString(), "Срочно");
    EXPECT_EQ(count("SELECT QNT FROM ORDERSL WHERE IDNAKL = 5 AND IDTOVAR = '100'"), 3);
    EXPECT_EQ(count("SELECT ISREAD FROM NAKLAD WHERE ID = 77"), 1);
    // Lines are numbered anew within their invoice (the old number 9 is not taken over).
    EXPECT_EQ(count("SELECT COUNT(1) FROM NAKLADL WHERE LINENO = 1 AND QNT = 4 AND SUMMA = 99.5"), 1);
    // ...so the pharmacy's price can be set on an imported line.
    m.NakladSet()->Last();
    m.NakladLinesSet()->First();
    ASSERT_EQ(m.NakladLinesSet()->RecordCount(), 1);
    m.NakladLinesSet()->Edit();
    m.NakladLinesSet()->FieldByName("PRICE_APT").SetAsFloat(120.5);
    EXPECT_NO_THROW(m.NakladLinesSet()->Post());
}

TEST_F(DataModuleFixture, FailedImportRollsBackAndSaysSo)
{
    test::DbfWriter orders;
    orders.addField("ID", 'N', 10).addField("STATUS", 'N', 2);
    orders.addRecord({5, 1});
    orders.save(dir.file("Data/ORDERS.dbf"));
    // ORDERSL is missing: the import stops there.
    TDM &m = open();
    m.ImportOldDbfData();
    EXPECT_TRUE(dialogs.notices.contains("Ошибка при импорте (см. в нижнем окне)"));
    EXPECT_FALSE(log.entries.empty());
    EXPECT_EQ(count("SELECT COUNT(1) FROM ORDERS"), 0);
}

TEST_F(DataModuleFixture, FloatFieldsShowTwoDecimalsAtMost)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    TDM &m = open();
    m.ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE) VALUES ('1', 'a', '01.01.2027', 12.5)", false);
    m.ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE) VALUES ('2', 'b', '01.01.2027', 0.5)", false);
    m.ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, PRICE) VALUES ('3', 'c', '01.01.2027', 0)", true);
    m.OpenPrice(false);
    m.OpenPrice(true);
    Field &cena = m.PriceSet()->FieldByName("PRICE");
    EXPECT_EQ(cena.DisplayFormat(), "#.##");
    QStringList shown;
    for (m.PriceSet()->First(); !m.PriceSet()->Eof(); m.PriceSet()->Next())
        shown << cena.DisplayText();
    EXPECT_EQ(shown, QStringList({"12,5", ",5", ""}));
    QLocale::setDefault(QLocale::c());
}

TEST_F(DataModuleFixture, ResetKeepsACopyEmptiesAndRestarts)
{
    CreateEmptyDatabase(dir.file("Data/client_empty.gdb"));
    TDM &m = open();
    m.ExecSQL("INSERT INTO ORDERS (ID, STATUS) VALUES (1, 0)", true);
    dialogs.setNextAnswer(mrNo);
    m.ResetDatabase();
    EXPECT_EQ(restarts, 0);
    dialogs.setNextAnswer(mrYes);
    m.ResetDatabase();
    EXPECT_EQ(restarts, 1);
    EXPECT_TRUE(dialogs.notices.contains("Программа будет перезапущена"));
    EXPECT_TRUE(dir.exists("Data/client_prev.gdb"));
    EXPECT_EQ(count("SELECT COUNT(1) FROM ORDERS"), 0);
    dm.reset();
    fb::Database prev;
    prev.attach(dir.file("Data/client_prev.gdb"));
    fb::Transaction tr(prev);
    fb::Statement st(tr);
    st.prepare("SELECT COUNT(1) FROM ORDERS");
    st.execute();
    ASSERT_TRUE(st.fetch());
    EXPECT_EQ(st.asInt(0), 1);
}

TEST_F(DataModuleFixture, NewDatabaseFileSetsTheOldOneAside)
{
    TDM &m = open();
    m.ExecSQL("INSERT INTO ORDERS (ID, STATUS) VALUES (1, 0)", true);
    m.GetNewDatabaseFile();
    EXPECT_EQ(restarts, 1);
    EXPECT_FALSE(dir.exists("Data/client.gdb"));
    EXPECT_TRUE(dir.exists("Data/client_prev.gdb"));
    // The next start makes a fresh, empty database.
    open();
    EXPECT_EQ(count("SELECT COUNT(1) FROM ORDERS"), 0);
}

// The program attached to its database ends cleanly on SIGTERM: the file can
// be opened by another process right after.
TEST(ProgramWithDatabase, TerminationSignalDetachesTheDatabase)
{
    TempAppDir dir;
    dir.writeText("server.ini", "[Header]\nServerAdress=127.0.0.1\n");
    // A known client: no identity window holds the start-up.
    dir.writeText("client.ini", "[Header]\nClientCode=1234\nClientName=Аптека\nClientPass=secret\n");
    ProgramProcess program(dir.path(), "client-database-test");
    ASSERT_TRUE(program.start());
    // Wait until the program has made and attached its database.
    QElapsedTimer t;
    t.start();
    while (!dir.exists("Data/client.gdb") && t.elapsed() < 20000)
        QThread::msleep(50);
    ASSERT_TRUE(dir.exists("Data/client.gdb"));
    QThread::msleep(1500);
    EXPECT_EQ(program.terminate(SIGTERM), 0);
    fb::Database db;
    EXPECT_NO_THROW(db.attach(dir.file("Data/client.gdb")));
}

// The signals hazard: a process attached to a database that has run an outside
// program still ends within seconds on SIGTERM, with the database detached.
TEST(SignalsHazard, TerminationAfterAnOutsideProgramDetachesTheDatabase)
{
    TempAppDir dir;
    const QString db = dir.file("Data/probe.gdb");
    CreateEmptyDatabase(db);
    const QString probe = QStringLiteral(PC_BINARY_DIR) + "/tests/signal_probe";
    ASSERT_TRUE(QFileInfo(probe).isExecutable());
    ProgramProcess process(probe, {db, dir.file("ready")});
    ASSERT_TRUE(process.start());
    QElapsedTimer t;
    t.start();
    while (!dir.exists("ready") && t.elapsed() < 20000)
        QThread::msleep(20);
    ASSERT_TRUE(dir.exists("ready"));
    EXPECT_EQ(process.terminate(SIGTERM, 5000), 0) << "the process must end normally within 5 s of SIGTERM";
    fb::Database again; // the next start opens it
    EXPECT_NO_THROW(again.attach(db));
}

TEST_F(DataModuleFixture, BrokenDatabaseFileIsReportedAndNothingCrashes)
{
    for (const QByteArray &content : {QByteArray(), QByteArray(8192, '\x5a')}) {
        dialogs.notices.clear();
        log.entries.clear();
        dir.writeBytes("Data/client.gdb", content);
        make();
        dm->CreateFirebirdObjects();
        EXPECT_ANY_THROW(dm->OpenDatabase());
        EXPECT_TRUE(dialogs.notices.contains("Ошибка при подключении к БД. См. сообщения в нижнем окне"));
        ASSERT_FALSE(log.entries.empty());
        EXPECT_EQ(log.entries.front().level, Error);
        EXPECT_FALSE(dm->Connected());
    }
}

TEST_F(DataModuleFixture, TableThatExistsButWillNotOpenAsksBeforeDropping)
{
    open();
    dm.reset();
    {
        fb::Database db;
        db.attach(dir.file("Data/client.gdb"));
        fb::Transaction tr(db);
        for (const char *sql : {"DROP TABLE PRICE_DET", "CREATE TABLE PRICE_DET (IDTOVAR VARCHAR(14))"}) {
            fb::Statement st(tr);
            st.prepare(sql);
            st.execute();
            tr.commitRetaining();
        }
        fb::Statement st(tr);
        st.prepare("INSERT INTO PRICE_DET (IDTOVAR) VALUES ('kept')"); // a table lacking the columns the program needs
        st.execute();
        tr.commit();
    }
    dialogs.setNextAnswer(mrNo);
    make();
    dm->CreateFirebirdObjects();
    EXPECT_ANY_THROW(dm->OpenDatabase());
    ASSERT_FALSE(dialogs.questions.isEmpty());
    EXPECT_EQ(dialogs.questions.last(), "Ошибка при открытии таблицы Price_det. Попробуйте перезапустить программу или компьютер\n\r"
                                        "Если перезапуск не помогает , то нужно удалить таблицы. Удалить?");
    EXPECT_EQ(count("SELECT COUNT(1) FROM PRICE_DET WHERE IDTOVAR = 'kept'"), 1);

    // Yes: the table is made anew and opens.
    dm.reset();
    dialogs.setNextAnswer(mrYes);
    open();
    EXPECT_TRUE(dm->PriceDetTable()->Active());
    EXPECT_EQ(count("SELECT COUNT(1) FROM PRICE_DET"), 0);
}

// The engine's cache is the program's size, not the engine's default of 2048
// pages (16 MB): the price list lives in the program's own memory, and the
// engine only grows a cache to an attachment's number, never shrinks it.
// The size is kept in the database, so a later start begins with it too.
// The engine keeps 6 MB of pages for the program (768 pages of 8 KB, not its
// default of 2048), on the program's attachment and on the next one.
TEST_F(DataModuleFixture, EngineCacheHasTheProgramsSize)
{
    open();
    EXPECT_EQ(count("SELECT MON$PAGE_BUFFERS FROM MON$DATABASE"), 768);
    EXPECT_EQ(count("SELECT MON$PAGE_BUFFERS * MON$PAGE_SIZE FROM MON$DATABASE"), 6 * 1024 * 1024);
    dm.reset();
    EXPECT_EQ(committed("SELECT MON$PAGE_BUFFERS FROM MON$DATABASE"), 768);
}

// The whole price list read short (the engine's walk along the TOVAR index
// has been seen to skip a few rows right after a reload) is read again, on
// opening and on a refresh. The short read is made here by a row that
// arrives just after the dataset read the list.
TEST_F(DataModuleFixture, PriceListReadShortIsReadAgain)
{
    TDM &m = open();
    ASSERT_TRUE(m.ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, ZAKAZ) VALUES ('2', 'бинт', '01.01.2027', 0)", false));
    ASSERT_TRUE(m.ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, ZAKAZ) VALUES ('1', 'Аспирин', '01.01.2027', 0)", true));
    int arrived = 0;
    auto arriveOnce = [&](const char *id, const char *name) {
        return QObject::connect(m.PriceSet(), &Dataset::layoutReset, [&m, &arrived, id, name] {
            if (m.PriceSet()->Active() && arrived++ == 0)
                m.ExecSQL(QString("INSERT INTO PRICE (IDTOVAR, TOVAR, GODEN, ZAKAZ) VALUES ('%1', '%2', '01.01.2027', 0)")
                              .arg(id, name),
                          false);
        });
    };
    m.OpenPrice(false);
    QMetaObject::Connection c = arriveOnce("3", "Йод");
    m.OpenPrice(true);
    QObject::disconnect(c);
    EXPECT_EQ(m.PriceSet()->RecordCount(), 3);
    EXPECT_EQ(m.NameIndex().size(), 3);
    EXPECT_TRUE(log.details.contains("Прайс прочитан не полностью (2 из 3 строк), читается ещё раз"))
        << log.details.join('\n').toStdString();

    arrived = 0;
    c = arriveOnce("4", "Вата");
    m.RefreshPrice();
    QObject::disconnect(c);
    EXPECT_EQ(m.PriceSet()->RecordCount(), 4);
    EXPECT_TRUE(log.details.contains("Прайс прочитан не полностью (3 из 4 строк), читается ещё раз"));
}

// A transaction ends with its commit or rollback and the next one starts only
// when a statement needs it; one that holds nothing (no change, no open
// cursor, not begun on purpose) is ended whenever the window idles, and one
// that holds something never is.
TEST_F(DataModuleFixture, ATransactionIsEndedWhenItHoldsNothingAndNeverWhileItHoldsSomething)
{
    open();
    dm->ExecSQL(QStringLiteral("INSERT INTO PRICE (IDTOVAR, TOVAR, QNT, ZAKAZ) VALUES ('A1', 'Анальгин', 5, 0)"), true);
    EXPECT_FALSE(dm->EndIdleTransaction()) << "a commit starts no next transaction";
    auto current = [&] { return count(QStringLiteral("SELECT CURRENT_TRANSACTION FROM RDB$DATABASE")); };
    const qint64 first = current();
    EXPECT_NE(current(), first) << "a list read takes a short transaction of its own";
    EXPECT_FALSE(dm->EndIdleTransaction());

    std::unique_ptr<fb::Statement> q = dm->CreateQuery(QStringLiteral("SELECT IDTOVAR FROM PRICE"));
    q->execute();
    EXPECT_FALSE(dm->EndIdleTransaction()) << "a cursor is open";
    while (q->fetch()) {
    }
    EXPECT_TRUE(dm->EndIdleTransaction()) << "only read in";

    dm->ExecSQL(QStringLiteral("UPDATE PRICE SET ZAKAZ = 3"), false);
    EXPECT_FALSE(dm->EndIdleTransaction()) << "a change not yet kept";
    dm->Rollback();
    EXPECT_EQ(committed(QStringLiteral("SELECT ZAKAZ FROM PRICE")), 0);

    dm->StartTransaction(false);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM PRICE")), 1);
    EXPECT_FALSE(dm->EndIdleTransaction()) << "begun on purpose: kept until its commit";
    dm->ExecSQL(QStringLiteral("UPDATE PRICE SET ZAKAZ = 2"), false);
    dm->Commit();
    EXPECT_EQ(committed(QStringLiteral("SELECT ZAKAZ FROM PRICE")), 2);
    EXPECT_FALSE(dm->EndIdleTransaction());
}

// The pause between tries to attach again grows, and stays short enough
// that a server back is found within seconds.
TEST(Reattacher, ThePauseGrowsAndStaysBelowTenSeconds)
{
    using namespace std::chrono_literals;
    EXPECT_EQ(Reattacher::delayAfter(0), 0ms);
    EXPECT_EQ(Reattacher::delayAfter(1), 500ms);
    EXPECT_EQ(Reattacher::delayAfter(2), 1000ms);
    EXPECT_EQ(Reattacher::delayAfter(4), 4000ms);
    EXPECT_EQ(Reattacher::delayAfter(6), 10000ms);
    EXPECT_EQ(Reattacher::delayAfter(1000), 10000ms);
}
