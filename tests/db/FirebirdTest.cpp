// The Firebird layer against a real embedded database: parameter parsing,
// every column type the program reads, nulls, errors, transactions.
#include <gtest/gtest.h>

#include "support/TempDatabase.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"
#include "platform/AppError.h"

#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace pc;
using namespace pc::fb;
using pc::test::TempDatabase;

TEST(NamedParameters, QuotedTextCommentsAndRepeats)
{
    const ParsedSql p = parseNamedParameters(
        QStringLiteral("SELECT ':skip', \":NOT\" FROM T /* :c1 */ WHERE A = :a -- :c2\n"
                       "AND B = 'it''s :x' AND C = :B_2 AND D = :A AND E = ?"));
    EXPECT_EQ(p.sql, QStringLiteral("SELECT ':skip', \":NOT\" FROM T /* :c1 */ WHERE A = ? -- :c2\n"
                                    "AND B = 'it''s :x' AND C = ? AND D = ? AND E = ?"));
    ASSERT_EQ(p.names.size(), 3u);
    EXPECT_EQ(p.names[0], QStringLiteral("a"));
    EXPECT_EQ(p.names[1], QStringLiteral("B_2"));
    EXPECT_TRUE(p.names[2].isEmpty());
    EXPECT_EQ(p.positions[0], (std::vector<int>{0, 2})); // :a and :A are one parameter
    EXPECT_EQ(p.positions[1], (std::vector<int>{1}));
    EXPECT_EQ(p.positions[2], (std::vector<int>{3}));
    EXPECT_EQ(p.positionCount, 4);
    // An unterminated literal swallows the rest, as the engine would read it.
    EXPECT_EQ(parseNamedParameters(QStringLiteral("SELECT 'a :b")).positionCount, 0);
}

TEST(NamedParameters, QuotedColonTextNextToParameterRuns)
{
    TempDatabase t;
    Statement st(t.tr());
    st.prepare(QStringLiteral("SELECT ':text' || CAST(:SUFFIX AS VARCHAR(9)), CAST(:N AS INTEGER) + 1 "
                              "FROM RDB$DATABASE WHERE CAST(:N AS INTEGER) > 0"));
    EXPECT_EQ(st.paramCount(), 2);
    EXPECT_EQ(st.paramIndex(QStringLiteral("suffix")), 0);
    EXPECT_EQ(st.paramIndex(QStringLiteral("missing")), -1);
    st.setValue(QStringLiteral("SUFFIX"), QStringLiteral("-да"));
    st.setValue(QStringLiteral("n"), 41);
    st.execute();
    ASSERT_TRUE(st.fetch());
    EXPECT_EQ(st.asText(0), QStringLiteral(":text-да"));
    EXPECT_EQ(st.asInt(1), 42);
    EXPECT_FALSE(st.fetch());
    EXPECT_THROW(st.setValue(QStringLiteral("missing"), 1), DbError);
}

class FirebirdTypes : public ::testing::Test {
protected:
    void SetUp() override
    {
        t.exec(QStringLiteral("CREATE TABLE T (VC VARCHAR(20), CH CHAR(5), SI SMALLINT, I INTEGER, BI BIGINT, "
                              "DP DOUBLE PRECISION, FL FLOAT, D DATE, TS TIMESTAMP, N NUMERIC(15,2), N4 NUMERIC(4,3))"));
        t.tr().commitRetaining();
        ins.prepare(QStringLiteral("INSERT INTO T VALUES (:VC, :CH, :SI, :I, :BI, :DP, :FL, :D, :TS, :N, :N4)"));
    }
    TempDatabase t;
    Statement ins{t.tr()};
};

TEST_F(FirebirdTypes, ValuesRoundTrip)
{
    ins.setText(0, QStringLiteral("Аспирин №1 ё"));
    ins.setText(1, QStringLiteral("аб"));
    ins.setInt(2, -32000);
    ins.setInt(3, 2000000000);
    ins.setInt(4, 9000000000123LL);
    ins.setDouble(5, 1234567.89);
    ins.setDouble(6, 1.5);
    ins.setDate(7, QDate(2026, 12, 7));
    ins.setDateTime(8, QDateTime(QDate(1999, 1, 2), QTime(3, 4, 5, 678)));
    ins.setDouble(9, -1234.5);
    ins.setText(10, QStringLiteral("-0.05"));
    ins.execute();
    EXPECT_EQ(ins.rowsAffected(), 1);

    Statement sel(t.tr());
    sel.prepare(QStringLiteral("SELECT * FROM T"));
    EXPECT_TRUE(sel.isSelect());
    ASSERT_EQ(sel.columnCount(), 11);
    EXPECT_EQ(sel.column(0).kind, ColumnKind::VarChar);
    EXPECT_EQ(sel.column(1).kind, ColumnKind::Char);
    EXPECT_EQ(sel.column(4).kind, ColumnKind::BigInt);
    EXPECT_EQ(sel.column(6).kind, ColumnKind::Float);
    EXPECT_EQ(sel.column(9).scale, -2);
    EXPECT_EQ(sel.column(9).relation, QStringLiteral("T"));
    EXPECT_EQ(sel.columnIndex(QStringLiteral("ts")), 8);
    sel.execute();
    ASSERT_TRUE(sel.fetch());
    EXPECT_EQ(sel.asText(0), QStringLiteral("Аспирин №1 ё"));
    EXPECT_EQ(sel.rawText(0).size(), 12u); // one byte per character in cp1251
    EXPECT_EQ(sel.asText(1), QStringLiteral("аб   "));
    EXPECT_EQ(sel.asInt(2), -32000);
    EXPECT_EQ(sel.asInt(3), 2000000000);
    EXPECT_EQ(sel.asInt64(4), 9000000000123LL);
    EXPECT_EQ(sel.asDouble(5), 1234567.89);
    EXPECT_EQ(sel.asDouble(6), 1.5);
    EXPECT_EQ(sel.asDate(7), QDate(2026, 12, 7));
    EXPECT_EQ(sel.asText(7), QStringLiteral("2026-12-07"));
    EXPECT_EQ(sel.asDateTime(8), QDateTime(QDate(1999, 1, 2), QTime(3, 4, 5, 678)));
    EXPECT_EQ(sel.asText(9), QStringLiteral("-1234.50"));
    EXPECT_DOUBLE_EQ(sel.asDouble(9), -1234.5);
    EXPECT_EQ(sel.asInt(9), -1235); // nearest, halves away from zero
    EXPECT_EQ(sel.asText(10), QStringLiteral("-0.050"));
    EXPECT_EQ(sel.asVariant(3).typeId(), QMetaType::Int);
    EXPECT_EQ(sel.asVariant(7).toDate(), QDate(2026, 12, 7));
    EXPECT_FALSE(sel.fetch());
}

TEST_F(FirebirdTypes, NullsAndEngineConversions)
{
    ins.setText(0, QStringLiteral("x"));
    ins.setText(3, QStringLiteral("17"));                       // text into INTEGER
    ins.setValue(7, QVariant(QStringLiteral("2001-02-03")));    // text into DATE
    ins.setDouble(4, 2.5);                                      // double into BIGINT
    ins.execute();
    ins.clearParams();
    ins.setValue(0, QVariant());
    ins.execute();

    Statement sel(t.tr());
    sel.prepare(QStringLiteral("SELECT VC, I, D, BI, DP, TS FROM T ORDER BY VC NULLS LAST"));
    sel.execute();
    ASSERT_TRUE(sel.fetch());
    EXPECT_EQ(sel.asInt(1), 17);
    EXPECT_EQ(sel.asDate(2), QDate(2001, 2, 3));
    EXPECT_TRUE(sel.isNull(4));
    EXPECT_EQ(sel.asInt64(3), 3); // the engine rounds 2.5 away from zero
    ASSERT_TRUE(sel.fetch());
    for (int c = 0; c < sel.columnCount(); ++c)
        EXPECT_TRUE(sel.isNull(c)) << c;
    EXPECT_EQ(sel.asText(0), QString());
    EXPECT_EQ(sel.asInt(1), 0);
    EXPECT_FALSE(sel.asDate(2).isValid());
    EXPECT_FALSE(sel.asVariant(5).isValid());
    EXPECT_FALSE(sel.fetch());

    EXPECT_EQ(t.scalar(QStringLiteral("SELECT COUNT(*) FROM T")), 2);
}

TEST(FirebirdStatement, CountIsBigIntAndReuseWorks)
{
    TempDatabase t;
    t.exec(QStringLiteral("CREATE TABLE P (ID INTEGER, NAME VARCHAR(10))"));
    t.tr().commitRetaining();
    Statement ins(t.tr());
    ins.prepare(QStringLiteral("INSERT INTO P (ID, NAME) VALUES (:ID, :NAME)"));
    for (int i = 0; i < 50; ++i) {
        ins.setInt(0, i);
        ins.setText(1, QString::number(i));
        ins.execute();
    }
    Statement upd(t.tr());
    upd.prepare(QStringLiteral("UPDATE P SET NAME = 'x' WHERE ID < :N"));
    upd.setInt(0, 10);
    upd.execute();
    EXPECT_EQ(upd.rowsAffected(), 10);

    Statement cnt(t.tr());
    cnt.prepare(QStringLiteral("SELECT COUNT(1) FROM P WHERE NAME = :NAME"));
    EXPECT_EQ(cnt.column(0).kind, ColumnKind::BigInt);
    EXPECT_EQ(cnt.column(0).name, QStringLiteral("COUNT"));
    for (const auto &[name, expected] : std::vector<std::pair<QString, int>>{{"x", 10}, {"42", 1}, {"zz", 0}}) {
        cnt.setText(0, name);
        cnt.execute(); // re-executing closes the previous cursor
        ASSERT_TRUE(cnt.fetch());
        EXPECT_EQ(cnt.asInt(0), expected) << name.toStdString();
    }
    // INSERT ... RETURNING delivers its values as one row.
    Statement ret(t.tr());
    ret.prepare(QStringLiteral("INSERT INTO P (ID) VALUES (:ID) RETURNING ID * 2"));
    EXPECT_FALSE(ret.isSelect());
    ret.setInt(0, 21);
    ret.execute();
    ASSERT_TRUE(ret.fetch());
    EXPECT_EQ(ret.asInt(0), 42);
    EXPECT_FALSE(ret.fetch());
}

TEST(FirebirdErrors, CarryEngineMessage)
{
    TempDatabase t;
    Statement st(t.tr());
    try {
        st.prepare(QStringLiteral("SELECT * FROM NO_SUCH_TABLE"));
        FAIL() << "prepared an unknown table";
    } catch (const DbError &e) {
        // What failed, in Russian, first; the engine's text after it.
        EXPECT_TRUE(e.text().startsWith(QStringLiteral("Не удалось подготовить запрос к базе данных. "))) << e.what();
        EXPECT_TRUE(e.text().contains(QStringLiteral("Table unknown"))) << e.what();
        EXPECT_TRUE(e.text().contains(QStringLiteral("NO_SUCH_TABLE"))) << e.what();
        EXPECT_FALSE(pc::hasLetterOf(pc::textOutsideBrackets(e.text()), QChar::Script_Latin)) << e.what();
        EXPECT_EQ(e.sqlCode(), -204);
        EXPECT_NE(e.engineCode(), 0);
    }
    EXPECT_FALSE(st.isPrepared());
    EXPECT_THROW(st.execute(), DbError);
    t.exec(QStringLiteral("CREATE TABLE U (S VARCHAR(3))"));
    t.tr().commitRetaining();
    st.prepare(QStringLiteral("INSERT INTO U VALUES (:S)"));
    st.setText(0, QStringLiteral("длинно"));
    try {
        st.execute();
        FAIL() << "a six-character text went into VARCHAR(3)";
    } catch (const DbError &e) {
        // What went wrong follows in Russian, then the engine's words.
        EXPECT_TRUE(e.text().startsWith(QStringLiteral("Не удалось выполнить запрос к базе данных. Значение длиннее, "
                                                       "чем вмещает поле базы данных. ")))
            << e.what();
        EXPECT_TRUE(e.text().contains(QStringLiteral("truncation"))) << e.what();
        EXPECT_FALSE(pc::hasLetterOf(pc::textOutsideBrackets(e.text()), QChar::Script_Latin)) << e.what();
    }
    t.exec(QStringLiteral("CREATE TABLE N (I INTEGER NOT NULL)"));
    t.exec(QStringLiteral("CREATE UNIQUE INDEX N_I ON N (I)"));
    t.tr().commitRetaining();
    t.exec(QStringLiteral("INSERT INTO N VALUES (1)"));
    for (const auto &[sql, told] : std::vector<std::pair<const char *, const char *>>{
             {"INSERT INTO N VALUES ('один')", "Значение не подходит к типу поля базы данных."},
             {"INSERT INTO N VALUES (1)", "Такая запись в базе данных уже есть."},
             {"INSERT INTO N VALUES (NULL)", "Поле базы данных не допускает такого значения"},
             {"INSERT INTO N VALUES (99999999999)", "Число не помещается в поле базы данных."}}) {
        try {
            t.exec(QString::fromUtf8(sql));
            ADD_FAILURE() << sql;
        } catch (const DbError &e) {
            EXPECT_TRUE(e.text().contains(QString::fromUtf8(told))) << sql << ": " << e.what();
        }
    }
    // The statement stays usable after a failed execution.
    st.setText(0, QStringLiteral("да"));
    st.execute();
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT COUNT(*) FROM U")), 1);
}

TEST(FirebirdErrors, BadFilesAreRefused)
{
    QTemporaryDir dir;
    const QString empty = dir.filePath(QStringLiteral("empty.gdb"));
    const QString noise = dir.filePath(QStringLiteral("noise.gdb"));
    QFile(empty).open(QIODevice::WriteOnly);
    {
        QFile f(noise);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray bytes(64 * 1024, '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 7919 + 13) % 251);
        f.write(bytes);
    }
    for (const QString &path : {empty, noise, dir.filePath(QStringLiteral("missing.gdb"))}) {
        Database db;
        try {
            db.attach(path);
            FAIL() << "attached " << path.toStdString();
        } catch (const DbError &e) {
            EXPECT_TRUE(e.text().startsWith(QStringLiteral("Не удалось открыть базу данных ") + QDir::toNativeSeparators(path)))
                << e.what();
            EXPECT_GT(e.text().size(), QString("Не удалось открыть базу данных ").size() + path.size() + 2) << e.what();
            if (path == noise)
                EXPECT_TRUE(e.text().contains(QStringLiteral("Файл повреждён или не является базой данных программы.")))
                    << e.what();
            EXPECT_FALSE(e.isOpenedByOtherProcess());
        }
        EXPECT_FALSE(db.isAttached());
    }
    Database db;
    db.create(dir.filePath(QStringLiteral("new.gdb")));
    Database again;
    EXPECT_THROW(again.create(dir.filePath(QStringLiteral("new.gdb"))), DbError);
}

TEST(FirebirdTransaction, RetainingKeepsCursorAndUndoes)
{
    TempDatabase t;
    t.exec(QStringLiteral("CREATE TABLE R (ID INTEGER)"));
    t.tr().commitRetaining();
    Statement ins(t.tr());
    ins.prepare(QStringLiteral("INSERT INTO R VALUES (:ID)"));
    for (int i = 1; i <= 5; ++i) {
        ins.setInt(0, i);
        ins.execute();
    }
    t.tr().commitRetaining();

    Statement sel(t.tr());
    sel.prepare(QStringLiteral("SELECT ID FROM R ORDER BY ID"));
    sel.execute();
    ASSERT_TRUE(sel.fetch());
    ASSERT_TRUE(sel.fetch());
    EXPECT_EQ(sel.asInt(0), 2);
    t.tr().commitRetaining(); // the cursor survives
    ASSERT_TRUE(sel.fetch());
    EXPECT_EQ(sel.asInt(0), 3);

    ins.setInt(0, 99);
    ins.execute();
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT COUNT(*) FROM R")), 6);
    t.tr().rollbackRetaining();
    EXPECT_TRUE(t.tr().isActive());
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT COUNT(*) FROM R")), 5);

    t.tr().commit();
    EXPECT_FALSE(t.tr().isActive());
    EXPECT_THROW(t.tr().commitRetaining(), DbError);
    // A statement starts the transaction it needs.
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT COUNT(*) FROM R")), 5);
    EXPECT_TRUE(t.tr().isActive());
}

// What the data module relies on when each commit ends its transaction: a
// prepared statement runs on in the next transaction; a cursor still open at
// the commit is closed by it, and its statement executes again.
TEST(FirebirdTransaction, HardCommitKeepsPreparedStatementsAndEndsCursors)
{
    TempDatabase t;
    t.exec(QStringLiteral("CREATE TABLE H (ID INTEGER)"));
    t.tr().commit();
    Statement ins(t.tr());
    ins.prepare(QStringLiteral("INSERT INTO H VALUES (:ID)"));
    Statement sel(t.tr());
    sel.prepare(QStringLiteral("SELECT ID FROM H ORDER BY ID"));
    for (int i = 1; i <= 3; ++i) {
        ins.setInt(0, i);
        ins.execute();
    }
    sel.execute();
    ASSERT_TRUE(sel.fetch());
    t.tr().commit();
    EXPECT_ANY_THROW(sel.fetch()); // the cursor went with its transaction
    t.tr().start();
    ins.setInt(0, 4);
    ins.execute();
    sel.execute();
    int rows = 0;
    while (sel.fetch())
        ++rows;
    EXPECT_EQ(rows, 4);
    t.tr().rollback();
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT COUNT(*) FROM H")), 3);
}

TEST(FirebirdTransaction, CloseActionDecidesOnDetach)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("close.gdb"));
    for (auto action : {Transaction::CloseAction::Rollback, Transaction::CloseAction::Commit}) {
        QFile::remove(path);
        {
            Database db;
            db.create(path);
            Transaction tr(db);
            Statement st(tr);
            st.prepare(QStringLiteral("CREATE TABLE C (ID INTEGER)"));
            st.execute();
            tr.commitRetaining();
            st.prepare(QStringLiteral("INSERT INTO C VALUES (1)"));
            st.execute();
            tr.setCloseAction(action);
            db.detach(); // ends the open transaction by its close action
            EXPECT_FALSE(tr.isActive());
        }
        Database db;
        db.attach(path);
        Transaction tr(db);
        Statement st(tr);
        st.prepare(QStringLiteral("SELECT COUNT(*) FROM C"));
        st.execute();
        ASSERT_TRUE(st.fetch());
        EXPECT_EQ(st.asInt(0), action == Transaction::CloseAction::Commit ? 1 : 0);
    }
}

TEST(FirebirdTransaction, LockConflictWaitsOnlyForTheTimeout)
{
    TempDatabase t(TempDatabase::Content::Empty, 1);
    t.exec(QStringLiteral("CREATE TABLE L (ID INTEGER)"));
    t.tr().commitRetaining();
    t.exec(QStringLiteral("INSERT INTO L VALUES (1)"));
    t.tr().commitRetaining();
    t.exec(QStringLiteral("UPDATE L SET ID = 2"));

    Transaction other(t.db(), 1);
    Statement st(other);
    st.prepare(QStringLiteral("UPDATE L SET ID = 3"));
    QElapsedTimer timer;
    timer.start();
    try {
        st.execute();
        FAIL() << "updated a row another transaction holds";
    } catch (const DbError &e) {
        EXPECT_TRUE(e.text().contains(QStringLiteral("lock"), Qt::CaseInsensitive)) << e.what();
    }
    EXPECT_LT(timer.elapsed(), 5000);
    // Read committed: the other transaction sees the committed value only.
    Statement sel(other);
    sel.prepare(QStringLiteral("SELECT ID FROM L"));
    sel.execute();
    ASSERT_TRUE(sel.fetch());
    EXPECT_EQ(sel.asInt(0), 1);
    t.tr().commitRetaining();
    sel.execute();
    ASSERT_TRUE(sel.fetch());
    EXPECT_EQ(sel.asInt(0), 2);
}

// Another process holding the file: isql-fb attached and waiting on its input.
TEST(FirebirdErrors, DatabaseOpenedByAnotherProcess)
{
    const QString isql = QStandardPaths::findExecutable(QStringLiteral("isql-fb"));
    if (isql.isEmpty())
        GTEST_SKIP() << "isql-fb is not installed";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("busy.gdb"));
    {
        Database db;
        db.create(path);
    }
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const QByteArray exe = QFile::encodeName(isql);
    const QByteArray file = QFile::encodeName(path);
    const char *argv[] = {exe.constData(), "-q", "-user", "sysdba", "-password", "plimbrost", file.constData(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.constData(), &actions, nullptr, const_cast<char **>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    // Ask it to write a file once attached, and wait for that file.
    const QString marker = dir.filePath(QStringLiteral("attached.txt"));
    const QByteArray probe = "OUTPUT '" + QFile::encodeName(marker) + "'; SELECT 1 FROM RDB$DATABASE; OUTPUT;\n";
    ASSERT_EQ(::write(input[1], probe.constData(), size_t(probe.size())), ssize_t(probe.size()));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && QFileInfo(marker).size() == 0)
        usleep(50 * 1000);

    bool refused = false;
    QString message;
    {
        Database db;
        try {
            db.attach(path);
        } catch (const DbError &e) {
            refused = e.isOpenedByOtherProcess();
            message = e.text();
        }
        EXPECT_FALSE(db.isAttached());
    }
    ::close(input[1]); // end of input: isql leaves
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        usleep(100 * 1000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(refused) << message.toStdString();
    // Once it has gone the file opens again.
    Database db;
    EXPECT_NO_THROW(db.attach(path));
}

TEST(FirebirdTransaction, ObjectsOutliveTheirDatabase)
{
    QTemporaryDir dir;
    auto db = std::make_unique<Database>();
    db->create(dir.filePath(QStringLiteral("gone.gdb")));
    auto tr = std::make_unique<Transaction>(*db);
    Statement st(*tr);
    st.prepare(QStringLiteral("SELECT 1 FROM RDB$DATABASE"));
    st.execute();
    db.reset(); // ends the transaction and detaches
    EXPECT_FALSE(tr->isActive());
    EXPECT_THROW(tr->start(), DbError);
    EXPECT_THROW(st.prepare(QStringLiteral("SELECT 1 FROM RDB$DATABASE")), DbError);
    tr.reset();
}
