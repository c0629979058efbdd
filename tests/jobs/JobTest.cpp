// Jobs run by the real program without a display, against the test FTP
// server: the price update with the carry-over of the order, its exit codes,
// kills at any moment, and the hand-over to an open window.

#include "DbfWriter.h"
#include "FirebirdTestServer.h"
#include "FtpTestServer.h"
#include "OtherConnection.h"
#include "OtherUser.h"
#include "ProgramProcess.h"
#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "app/JobRunner.h"
#include "core/JobDialogs.h"
#include "core/JobResult.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/SharedJobState.h"
#include "exchange/ServerConnection.h"
#include "price/PriceUpdate.h"
#include "platform/IniFile.h"
#include "platform/InstanceChannel.h"
#include "platform/PrivateFolder.h"
#include "platform/SingleInstance.h"
#include "platform/Process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using pc::test::committedScalar;
using pc::test::DbfWriter;
using pc::test::FtpTestServer;

namespace {

const QString kCode = QStringLiteral("1234");
const QString kProgram = QStringLiteral("client-job-test");

struct Row {
    QString id;
    double price;
    int stock;
};

struct JobFixture : ::testing::Test {
    FtpTestServer server;
    TempAppDir dir;
    QTemporaryDir staging;
    QTemporaryDir runtimeA, runtimeB;

    void SetUp() override
    {
        ASSERT_TRUE(staging.isValid());
        dir.writeText("client.ini", "[Header]\nClientCode=" + kCode + "\nClientName=Аптека\nClientPass=secret\n");
        dir.writeText("server.ini", QStringLiteral("[Header]\nServerAdress=127.0.0.1\nServerPort=%1\n").arg(server.port()));
        ProgramProcess install(dir.path(), kProgram); // the program in the folder, not started
    }
    QString db() const { return dir.file("Data/client.gdb"); }

    // Yesterday's list: goods 1 ordered 5, goods 2 ordered 30, goods 3 not
    // ordered, goods 9 ordered 4 (gone from the next list).
    void prepareDatabase(const QDateTime &priceTime)
    {
        pc::AppContext context(dir.path());
        ScriptedDialogs dialogs;
        RecordingLog log;
        pc::TDM dm(context, dialogs, log);
        dm.CreateFirebirdObjects();
        dm.OpenDatabase();
        for (const char *sql :
             {"INSERT INTO PRICE (IDTOVAR, TOVAR, PRICE, QNT, GODEN, ZAKAZ) VALUES ('1', 'Аспирин', 10, 100, '2030-01-01', 5)",
              "INSERT INTO PRICE (IDTOVAR, TOVAR, PRICE, QNT, GODEN, ZAKAZ) VALUES ('2', 'Бинт', 20, 100, '2030-01-01', 30)",
              "INSERT INTO PRICE (IDTOVAR, TOVAR, PRICE, QNT, GODEN, ZAKAZ) VALUES ('3', 'Вата', 30, 100, '2030-01-01', 0)",
              "INSERT INTO PRICE (IDTOVAR, TOVAR, PRICE, QNT, GODEN, ZAKAZ) VALUES ('9', 'Йод', 40, 100, '2030-01-01', 4)"})
            dm.ExecSQL(QString::fromUtf8(sql), true);
        dm.SetConnected(false);
        writePrice(dir.file("Data/pricein.dbf"), {{"1", 10, 100}, {"2", 20, 100}, {"3", 30, 100}, {"9", 40, 100}}, priceTime);
    }
    static void writePrice(const QString &path, const QList<Row> &rows, const QDateTime &when)
    {
        DbfWriter w(0x03);
        w.addPriceFields();
        for (const Row &r : rows)
            w.addRecord({r.id, QString(QStringLiteral("Товар ") + r.id), r.price, QStringLiteral("Завод"), QStringLiteral("Россия"), 0.0,
                         QDate(2030, 1, 1), r.stock, 1, 10, 0, 0, 0, 0, 0, 0, 0, QString()});
        w.save(path);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    }
    // Today's list on the server: goods 1 and 3 at new prices, goods 2 with
    // only 12 in stock, and `extra` more rows; goods 9 is gone.
    void publish(const QDateTime &when, int extra = 0, bool withProgram = false)
    {
        QList<Row> rows{{"1", 11, 100}, {"2", 20, 12}, {"3", 31, 100}};
        for (int i = 0; i < extra; ++i)
            rows.append({QStringLiteral("X%1").arg(i), 1.0 + i % 100, 50});
        const QString dbf = staging.filePath(kCode + ".dbf");
        writePrice(dbf, rows, when);
        const QString zip = staging.filePath(kCode + ".zip");
        QFile::remove(zip);
        QStringList files{"-q", "-j", zip, dbf};
        if (withProgram) {
            // A new program version delivered with the list.
            QFile update(staging.filePath("update"));
            ASSERT_TRUE(update.open(QIODevice::WriteOnly));
            update.write("#!/bin/sh\n# new version\n");
            update.close();
            update.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            files << update.fileName();
        }
        ASSERT_EQ(pc::runAndWait("/usr/bin/zip", files, staging.path(), 30000).exitCode, 0);
        const QString served = server.home(kCode) + "/" + kCode + ".zip";
        QFile::remove(served);
        ASSERT_TRUE(QFile::copy(zip, served));
    }

    struct Run {
        int exitCode = -1;
        QString out, err;
    };
    // The program as a timer starts it: no display, its own runtime folder,
    // the desktop's locale when one is given.
    Run runJob(const QStringList &arguments, const QString &runtime = {}, const QString &folder = {},
               const QString &locale = {})
    {
        const QString where = folder.isEmpty() ? dir.path() : folder;
        QString env = QStringLiteral("unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; ");
        if (!runtime.isEmpty())
            env += QStringLiteral("export XDG_RUNTIME_DIR='%1'; ").arg(runtime);
        if (!locale.isEmpty())
            env += QStringLiteral("export LANG=%1 LC_ALL=%1; ").arg(locale);
        const pc::RunResult r = pc::runAndWait(
            "/bin/sh", {"-c", QString(env + "exec ./" + kProgram + " " + arguments.join(' ') + " >job.out 2>job.err")}, where, 120000);
        Run run;
        run.exitCode = r.status == pc::RunResult::Finished ? r.exitCode : -1;
        const auto read = [&](const QString &name) {
            QFile f(where + "/" + name);
            return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
        };
        run.out = read("job.out");
        run.err = read("job.err");
        return run;
    }
    // The window holds the folder and answers on its socket.
    bool windowAnswers()
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000)
            if (pc::askRunningCopy(dir.path(), "show", 500, 2000) == "window")
                return true;
        return false;
    }
    qint64 scalar(const QString &sql) { return committedScalar(db(), sql); }
    qint64 zakaz(const QString &id) { return scalar("SELECT ZAKAZ FROM PRICE WHERE IDTOVAR = '" + id + "'"); }
    // Everything a run may leave behind that the next run would not clean.
    QStringList leftovers()
    {
        QStringList found;
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            if (name.endsWith(".dbf", Qt::CaseInsensitive) || name.startsWith("price.") || name.contains(".tmp"))
                found << name;
        for (const QString &name : QDir(dir.file("Data")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            if (name.startsWith("unpack-") || name.startsWith("job-result.ini.") || name.endsWith(".new"))
                found << "Data/" + name;
        return found;
    }
};

} // namespace

// The morning job: today's list is loaded, the order carried over and cut to
// the new stock, and what happened is told on standard output, in the day's
// .err file and in the result the window shows at its next start.
TEST_F(JobFixture, UpdateLoadsTodaysListCarriesTheOrderOverAndSaysWhatHappened)
{
    prepareDatabase(QDateTime::currentDateTime().addDays(-1));
    publish(QDateTime::currentDateTime().addSecs(-60), 0, true);
    const Run run = runJob({"--update"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    // The new version waits in the program folder for the window's next start.
    EXPECT_TRUE(dir.exists("update"));
    EXPECT_FALSE(dir.exists("Update/client"));

    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE"), 3);
    EXPECT_EQ(zakaz("1"), 5);
    EXPECT_EQ(zakaz("2"), 12) << "cut to the new stock";
    EXPECT_EQ(zakaz("3"), 0);
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE WHERE IDTOVAR = '9'"), 0);
    EXPECT_EQ(scalar("SELECT MAX(PRICE) FROM PRICE WHERE IDTOVAR = '1'"), 11);

    const QString summary = "Прайс обновлён в ";
    EXPECT_TRUE(run.out.startsWith(summary)) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("3 позиций, изменились цены у 2, в заказе 2 позиций")) << run.out.toStdString();
    EXPECT_EQ(run.out.count('\n'), 1) << "one line on standard output";
    EXPECT_TRUE(run.err.contains("Прайс удачно обновлен!")) << run.err.toStdString();
    const QString daily = dir.readText(kCode + QDate::currentDate().toString("yyyyMMdd") + ".err");
    EXPECT_TRUE(daily.contains("Прайс удачно обновлен!"));
    EXPECT_TRUE(daily.contains(summary));
    const std::optional<pc::JobResult> kept = pc::readJobResult(pc::AppContext(dir.path()));
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->exitCode, 0);
    EXPECT_EQ(kept->summary, run.out.trimmed());
    EXPECT_FALSE(kept->seen);
    // The documents come with it ("check defectures and invoices?": Yes).
    EXPECT_TRUE(server.commands().contains("STOR log.ini"));
    EXPECT_TRUE(server.commands().contains("CWD \\Defect\\" + kCode));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();
}

// Under an English desktop the job writes the same forms as anywhere else
// (the price date in client.ini and log.ini, the day's .err lines) and its
// summary reads as the Russian interface does.
TEST_F(JobFixture, AnEnglishDesktopChangesNeitherTheFilesNorTheSummarysForms)
{
    const QDateTime listTime(QDate::currentDate().addDays(-1), QTime(7, 5, 9));
    prepareDatabase(listTime.addDays(-1));
    publish(listTime, 1000);
    const Run run = runJob({"--update"}, {}, {}, "en_US.UTF-8");
    ASSERT_EQ(run.exitCode, 2) << run.out.toStdString() << run.err.toStdString();
    const QString priceDate = listTime.toString("dd.MM.yyyy HH:mm:ss");
    EXPECT_TRUE(run.out.contains("(от " + priceDate + ")")) << run.out.toStdString();
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    EXPECT_TRUE(run.out.contains(russian.toString(qint64(1003)) + " позиций")) << run.out.toStdString();

    EXPECT_EQ(pc::IniFile(dir.file("client.ini")).readString("Header", "PriceTime"), priceDate);
    const QRegularExpression dateTime("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d$");
    const QString logged = pc::IniFile(dir.file("log.ini")).readString("Header", "DatePrice");
    EXPECT_TRUE(dateTime.match(logged).hasMatch()) << logged.toStdString();
    const QStringList daily = dir.readText(kCode + QDate::currentDate().toString("yyyyMMdd") + ".err").split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(daily.isEmpty());
    for (const QString &line : daily)
        EXPECT_TRUE(line.startsWith("[" + QDate::currentDate().toString("dd.MM.yyyy "))) << line.toStdString();
}

// What fails is told with its exit code, and the old list and order stay.
TEST_F(JobFixture, ExitCodesNoArchiveStaleListMissingSettings)
{
    prepareDatabase(QDateTime::currentDateTime().addDays(-1));
    // Settings with the password left open to others (by hand, by an older
    // version) are closed at start.
    ::chmod(QFile::encodeName(dir.file("client.ini")).constData(), 0644);
    // No archive on the server.
    Run run = runJob({"--update"});
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(dir.file("client.ini")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.startsWith("Прайс не обновлён в ")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("Нет файла прайса на сервере")) << run.out.toStdString();
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE"), 4);
    EXPECT_EQ(scalar("SELECT SUM(ZAKAZ) FROM PRICE"), 39);
    EXPECT_EQ(pc::readJobResult(pc::AppContext(dir.path()))->exitCode, 1);

    // The supplier's list is yesterday's: loaded, but said so.
    publish(QDateTime::currentDateTime().addDays(-1));
    run = runJob({"--update"});
    EXPECT_EQ(run.exitCode, 2) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("устаревший прайс")) << run.out.toStdString();
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE"), 3);

    // No server address: nothing is tried.
    dir.writeText("server.ini", "[Header]\nServerPort=21\n");
    server.clearCommands();
    run = runJob({"--update"});
    EXPECT_EQ(run.exitCode, 78);
    EXPECT_TRUE(run.out.contains("не задан адрес сервера")) << run.out.toStdString();
    EXPECT_TRUE(server.commands().isEmpty());

    run = runJob({"--no-such-thing"});
    EXPECT_EQ(run.exitCode, 64);
    EXPECT_TRUE(run.err.contains("--update"));
    run = runJob({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char *text : {"--update", "--fetch-documents", "обновить прайс-лист", "update the price list", "75", "78",
                             "«Проверить дефектуры и накладные?» — Да / Yes"})
        EXPECT_TRUE(run.out.contains(QString::fromUtf8(text))) << text;
}

// The document fetch alone: a defecture arrives and is counted.
TEST_F(JobFixture, FetchDocumentsTakesTheDefecturesIn)
{
    prepareDatabase(QDateTime::currentDateTime());
    ASSERT_TRUE(QDir().mkpath(server.home(kCode) + "/Defect/" + kCode));
    DbfWriter w(0x03);
    w.addField("TOVAR", 'C', 60).addField("COUNT", 'N', 10);
    w.addRecord({QStringLiteral("Аспирин"), 3});
    w.save(server.home(kCode) + "/Defect/" + kCode + "/d501.dbf");
    const Run run = runJob({"--fetch-documents"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("Дефектуры и накладные проверены в ")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("получено дефектур: 1")) << run.out.toStdString();
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM DEFECT WHERE NUMBR = '501'"), 1);
    EXPECT_TRUE(server.commands("RETR").filter(".zip").isEmpty()) << "no price list with it";
}

// A defecture that cannot be read is an error of the run: the job fails with
// code 1 and says so, while the readable one is taken in and the broken one
// stays on the server for the next run.
TEST_F(JobFixture, FetchDocumentsWithAnErrorFails)
{
    prepareDatabase(QDateTime::currentDateTime());
    const QString folder = server.home(kCode) + "/Defect/" + kCode;
    ASSERT_TRUE(QDir().mkpath(folder));
    DbfWriter w(0x03);
    w.addField("TOVAR", 'C', 60).addField("COUNT", 'N', 10);
    w.addRecord({QStringLiteral("Аспирин"), 3});
    w.save(folder + "/d501.dbf");
    QFile broken(folder + "/d502.dbf");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a table at all");
    broken.close();
    const Run run = runJob({"--fetch-documents"});
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("Дефектуры и накладные получены не все в ")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("получено дефектур: 1")) << run.out.toStdString();
    EXPECT_EQ(pc::readJobResult(pc::AppContext(dir.path()))->exitCode, 1);
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM DEFECT WHERE NUMBR = '501'"), 1);
    EXPECT_TRUE(QFileInfo::exists(folder + "/d502.dbf"));
}

// A price file left in the program folder is not loaded by a job (its age is
// unknown): it is removed and the list fetched from the server, and the exit
// code is that of the fetch, a success as well as a failure.
TEST_F(JobFixture, LeftOverPriceFileIsRemovedAndTheServersListDecides)
{
    prepareDatabase(QDateTime::currentDateTime().addDays(-1));
    writePrice(dir.file(kCode + ".dbf"), {{"1", 99, 100}}, QDateTime::currentDateTime());
    Run run = runJob({"--update"});
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("Нет файла прайса на сервере")) << run.out.toStdString();
    EXPECT_FALSE(dir.exists(kCode + ".dbf"));
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE"), 4) << "the old list stays";
    EXPECT_EQ(scalar("SELECT SUM(ZAKAZ) FROM PRICE"), 39);

    writePrice(dir.file(kCode + ".dbf"), {{"1", 99, 100}}, QDateTime::currentDateTime());
    publish(QDateTime::currentDateTime().addSecs(-60));
    run = runJob({"--update"});
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_FALSE(dir.exists(kCode + ".dbf"));
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE"), 3) << "the server's list, not the left-over one";
    EXPECT_EQ(scalar("SELECT MAX(PRICE) FROM PRICE WHERE IDTOVAR = '1'"), 11);
}

// A question met on the way fails the run even when the list went in: the
// pharmacist must open the program and answer it.
TEST(JobOutcome, AnUnansweredQuestionFailsARunThatLoadedTheList)
{
    TempAppDir dir;
    const pc::AppContext context(dir.path());
    RecordingLog log;
    pc::JobDialogs dialogs(log);
    EXPECT_THROW(dialogs.askQuestion("Удалить накладную № 7?"), pc::UnansweredQuestion);
    Settings settings;
    pc::TDM dm(context, dialogs, log);
    pc::ServerConnection connection(settings, dialogs, log);
    pc::PriceUpdate update(dm, connection, settings, dialogs, log, context);
    const pc::PriceSnapshot before(dm);
    const pc::JobOutcome out = pc::priceJobOutcome(dm, update, true, "08.12.2026 05:00:00", before, dialogs, {},
                                                   QDateTime(QDate(2026, 12, 8), QTime(6, 30)));
    EXPECT_EQ(out.exitCode, pc::JobFailed);
    EXPECT_EQ(out.summary, "Прайс не обновлён в 06:30: программа задала вопрос, на который у задания нет ответа: "
                           "«Удалить накладную № 7?». В работе прежний прайс-лист и заказ");
}

// A question the job has no answer for (here: the supplier changed the main
// server address, and the pharmacist asked to be consulted on that) ends the
// job at once instead of waiting for somebody, and nothing is fetched.
TEST_F(JobFixture, QuestionOutsideTheTableEndsTheJob)
{
    prepareDatabase(QDateTime::currentDateTime().addDays(-1));
    publish(QDateTime::currentDateTime().addSecs(-60));
    dir.writeText("client.ini", "[Header]\nClientCode=" + kCode + "\nClientPass=secret\nControlAddressChange=1\n"
                                "[Settings]\nServerAddress=old.example.ru\n");
    const Run run = runJob({"--update"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains("ВНИМАНИЕ! Был изменен основной адрес сервера заказа")) << run.out.toStdString();
    EXPECT_TRUE(server.commands().isEmpty());
    EXPECT_EQ(scalar("SELECT SUM(ZAKAZ) FROM PRICE"), 39);
}

// Killed at any moment (downloading, unpacking, loading), a job leaves the
// old list and order or the new ones, never a mix; the next run cleans up
// and loads the list whole.
TEST_F(JobFixture, KilledAtAnyMomentLeavesOldOrNewAndTheNextRunLoads)
{
    prepareDatabase(QDateTime::currentDateTime().addDays(-1));
    const int extra = 20000;
    publish(QDateTime::currentDateTime().addSecs(-60), extra);
    const qint64 newRows = 3 + extra;
    // An unpacker that says when it is done, so the kill can fall into the load.
    {
        QFile script(dir.file("unzip"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n[ -f \"$UNZIP_SLEEP\" ] && { touch \"$UNZIP_SLEEP.on\"; exec sleep 30; }\n"
                     "/usr/bin/unzip \"$@\"; rc=$?\ntouch \"$UNZIP_DONE\"\nexit $rc\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    qputenv("UNZIP_DONE", QFile::encodeName(dir.file("unzipped")));
    qputenv("UNZIP_SLEEP", QFile::encodeName(dir.file("sleep-in-unzip")));

    auto oldOrNew = [&](const std::string &when) {
        const qint64 rows = scalar("SELECT COUNT(1) FROM PRICE");
        const qint64 ordered = scalar("SELECT SUM(ZAKAZ) FROM PRICE");
        const bool old = rows == 4 && ordered == 39 && zakaz("9") == 4;
        const bool fresh = rows == newRows && ordered == 17 && zakaz("2") == 12;
        EXPECT_TRUE(old || fresh) << when << ": " << rows << " rows, ordered " << ordered;
        return fresh;
    };
    struct Moment {
        std::string name;
        std::function<bool()> reached;
        int delayMs;
    };
    const QList<Moment> moments{
        {"download", [&] { return server.commands().contains("RETR " + kCode + ".zip"); }, 0},
        {"unpack", [&] { return QFile::exists(dir.file("sleep-in-unzip.on")); }, 100},
        {"load", [&] { return QFile::exists(dir.file("unzipped")); }, 50},
        {"load later", [&] { return QFile::exists(dir.file("unzipped")); }, 400},
        {"load, later still", [&] { return QFile::exists(dir.file("unzipped")); }, 1200},
        {"after the load", [&] { return QFile::exists(dir.file("unzipped")); }, 2500},
    };
    int fresh = 0;
    for (const Moment &m : moments) {
        SCOPED_TRACE(m.name);
        QFile::remove(dir.file("unzipped"));
        QFile::remove(dir.file("sleep-in-unzip"));
        QFile::remove(dir.file("sleep-in-unzip.on"));
        server.clearCommands();
        if (m.name == "download")
            server.setFaults({{"RETR", "*.zip", FtpTestServer::Fault::Stall, {}, 2000, 4, 1}});
        if (m.name == "unpack")
            dir.writeBytes("sleep-in-unzip", "x");
        ProgramProcess job(dir.path(), kProgram, {"--update"});
        ASSERT_TRUE(job.start());
        QElapsedTimer t;
        t.start();
        while (!m.reached() && t.elapsed() < 60000 && job.running())
            QThread::msleep(10);
        ASSERT_TRUE(m.reached()) << "the job did not get there";
        QThread::msleep(m.delayMs);
        job.terminate(SIGKILL);
        server.clearFaults();
        fresh += oldOrNew("after the kill") ? 1 : 0;
        // Put the order back as it was before, so every moment starts alike.
        if (scalar("SELECT COUNT(1) FROM PRICE") != 4) {
            QFile::remove(db());
            prepareDatabase(QDateTime::currentDateTime().addDays(-1));
        }
    }
    EXPECT_LT(fresh, moments.size()) << "no kill fell before the commit";
    QFile::remove(dir.file("sleep-in-unzip"));
    QFile::remove(dir.file("sleep-in-unzip.on"));
    const Run run = runJob({"--update"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(oldOrNew("after the run again"));
    EXPECT_EQ(zakaz("1"), 5) << "carried over once, not twice";
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();
    qunsetenv("UNZIP_DONE");
    qunsetenv("UNZIP_SLEEP");
}

namespace {
// Starts a copy of the program with its own runtime folder (another session).
bool startWith(ProgramProcess &p, const QString &runtime)
{
    const QByteArray before = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    const bool ok = p.start();
    qputenv("XDG_RUNTIME_DIR", before);
    return ok;
}
} // namespace

// With the window open (started in another session), a job hands itself to
// the window, which runs it and tells the result; a second window of another
// session on the same folder leaves at once.
TEST_F(JobFixture, OpenWindowRunsTheJobHandedToIt)
{
    prepareDatabase(QDateTime::currentDateTime()); // today's: the window asks nothing at start
    publish(QDateTime::currentDateTime().addSecs(-60), 0, true);
    ProgramProcess window(dir.path(), kProgram);
    ASSERT_TRUE(startWith(window, runtimeA.path()));
    ASSERT_TRUE(windowAnswers()) << "the window did not come up";

    const Run run = runJob({"--update", "--wait", "60"}, runtimeB.path());
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("Прайс обновлён в ")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("изменились цены у 2, в заказе 2 позиций")) << run.out.toStdString();
    EXPECT_TRUE(window.running()) << "no restart for a new version in the middle of the night";
    EXPECT_TRUE(dir.exists("update"));
    EXPECT_FALSE(dir.exists("Update/client"));

    const pc::RunResult second = pc::runAndWait(
        "/bin/sh", {"-c", QString("XDG_RUNTIME_DIR='" + runtimeB.path() + "' QT_QPA_PLATFORM=offscreen exec ./" + kProgram)}, dir.path(), 15000);
    EXPECT_EQ(second.status, pc::RunResult::Finished);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(window.running());

    EXPECT_EQ(window.terminate(SIGTERM, 30000), 0);
    EXPECT_EQ(zakaz("1"), 5);
    EXPECT_EQ(zakaz("2"), 12);
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE"), 3);
    const QString daily = dir.readText(kCode + QDate::currentDate().toString("yyyyMMdd") + ".err");
    EXPECT_TRUE(daily.contains("Прайс обновлён в ")) << "the window shows what was done";
    const std::optional<pc::JobResult> kept = pc::readJobResult(pc::AppContext(dir.path()));
    ASSERT_TRUE(kept.has_value());
    EXPECT_TRUE(kept->seen) << "already shown by the open window";
}

// A question window open in the window: the job waits its time and gives up
// with 75, changing nothing.
TEST_F(JobFixture, WindowWithAQuestionOpenLeavesTheJobUndone)
{
    prepareDatabase(QDateTime::currentDateTime().addDays(-1)); // the window asks about the old list
    publish(QDateTime::currentDateTime().addSecs(-60));
    ProgramProcess window(dir.path(), kProgram);
    ASSERT_TRUE(startWith(window, runtimeA.path()));
    ASSERT_TRUE(windowAnswers()) << "the window did not come up";

    const Run run = runJob({"--update", "--wait", "3"}, runtimeB.path());
    EXPECT_EQ(run.exitCode, 75) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("программа открыта и занята")) << run.out.toStdString();
    EXPECT_TRUE(run.err.contains("открыт вопрос")) << run.err.toStdString();
    const std::optional<pc::JobResult> kept = pc::readJobResult(pc::AppContext(dir.path()));
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->exitCode, 75);
    EXPECT_EQ(kept->summary, run.out.trimmed());
    EXPECT_TRUE(window.running());
    window.terminate(SIGKILL);
    EXPECT_TRUE(server.commands("RETR").isEmpty());
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE"), 4);
    EXPECT_EQ(scalar("SELECT SUM(ZAKAZ) FROM PRICE"), 39);
}

// A job the open window takes and fails ends with the window's failure code
// and summary, and the window keeps the old list.
TEST_F(JobFixture, OpenWindowFailingTheHandedJobGivesItsCode)
{
    prepareDatabase(QDateTime::currentDateTime()); // nothing published on the server
    ProgramProcess window(dir.path(), kProgram);
    ASSERT_TRUE(startWith(window, runtimeA.path()));
    ASSERT_TRUE(windowAnswers()) << "the window did not come up";
    const Run run = runJob({"--update", "--wait", "60"}, runtimeB.path());
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("Прайс не обновлён в ")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("Нет файла прайса на сервере")) << run.out.toStdString();
    EXPECT_TRUE(window.running());
    EXPECT_EQ(window.terminate(SIGTERM, 30000), 0);
    const std::optional<pc::JobResult> kept = pc::readJobResult(pc::AppContext(dir.path()));
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->exitCode, 1);
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE"), 4);
    EXPECT_EQ(scalar("SELECT SUM(ZAKAZ) FROM PRICE"), 39);
}

// A window started while a job works on the folder waits for it instead of
// going for the same database, and opens once the job is done.
TEST_F(JobFixture, WindowStartedDuringAJobWaitsForIt)
{
    prepareDatabase(QDateTime::currentDateTime().addDays(-1));
    publish(QDateTime::currentDateTime().addSecs(-60));
    server.setFaults({{"RETR", "*.zip", FtpTestServer::Fault::Stall, {}, 1000, 4, 1}});
    ProgramProcess job(dir.path(), kProgram, {"--update"});
    ASSERT_TRUE(startWith(job, runtimeA.path()));
    ASSERT_TRUE(server.waitForCommand("RETR " + kCode + ".zip", 20000));

    ProgramProcess window(dir.path(), kProgram + "-window");
    QFile::remove(window.path());
    ASSERT_TRUE(QFile::link(dir.file(kProgram), window.path())); // the same program, same folder
    ASSERT_TRUE(startWith(window, runtimeB.path()));
    ProgramProcess impatient(dir.path(), kProgram + "-impatient");
    QFile::remove(impatient.path());
    ASSERT_TRUE(QFile::link(dir.file(kProgram), impatient.path()));
    ASSERT_TRUE(startWith(impatient, runtimeB.path()));
    QThread::msleep(1500);
    EXPECT_TRUE(window.running()) << "the window must wait, not leave";
    EXPECT_EQ(impatient.terminate(SIGTERM, 5000), 0) << "a waiting window ends on request";
    QElapsedTimer t;
    t.start();
    while (job.running() && t.elapsed() < 60000)
        QThread::msleep(50);
    EXPECT_EQ(pc::readJobResult(pc::AppContext(dir.path()))->exitCode, 0);
    EXPECT_TRUE(windowAnswers()) << "the window opens after the job";
    EXPECT_EQ(window.terminate(SIGTERM, 30000), 0);
}

namespace {
// Runs a shell script in a mount namespace of its own (what it mounts is seen
// by it and its children only); $1... are `arguments`. 77: no namespace here.
pc::RunResult inMountNamespace(const QString &script, const QStringList &arguments, const QString &folder, int timeoutMs)
{
    return pc::runAndWait("/usr/bin/unshare", QStringList{"-m", "--propagation", "private", "/bin/sh", "-c", script, "sh"} + arguments,
                          folder, timeoutMs);
}
} // namespace

// Another user made our socket folder in /tmp, holds the program's lock and
// answers on a socket there as if the job had been done. The job does not
// believe it: it waits its time and says whose copy runs; a window says so
// too instead of ending without a word.
TEST_F(JobFixture, AnotherUsersCopyIsNamedAndItsAnswerIsNotBelieved)
{
    if (!pc::test::otherUserUnavailable().isEmpty())
        GTEST_SKIP() << pc::test::otherUserUnavailable().toStdString();
    QTemporaryDir open, home;
    ::chmod(QFile::encodeName(open.path()).constData(), 0777);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755); // the program folder is readable by all, as usual
    const QString lock = dir.file(".client.lock");
    dir.writeBytes(".client.lock", "");
    const QString forgedFolder = QStringLiteral("/tmp/pharmacy-client-%1").arg(geteuid());
    ASSERT_EQ(pc::claimPrivateFolder(forgedFolder), QString()); // the mount point
    const QString socket = forgedFolder + "/" + QFileInfo(pc::SingleInstance::socketNameFor(dir.path())).fileName();
    const QString forged = QStringLiteral("done 0 Прайс обновлён в 06:30: 20 000 позиций");
    const QString impostor =
        pc::test::shellLine(pc::test::asOtherUser(pc::test::impostor(lock, socket, forged, open.filePath("ready"))));
    const QString script = QStringLiteral(
        "mount -t tmpfs -o mode=0755,uid=%1,gid=%1 tmpfs \"$1\" || exit 77\n"
        "%2 & other=$!\n"
        "i=0; while [ ! -e \"$2\" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done\n"
        "export HOME=\"$3\"\n"
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ./%3 --update --wait 2 >job.out 2>job.err; rc=$?\n"
        "QT_QPA_PLATFORM=offscreen ./%3 2>window.err & window=$!\n"
        "i=0; while ! grep -qs 'пользователем' window.err && [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done\n"
        "kill -TERM $window; wait $window; echo $? >window.rc\n"
        "kill $other\n"
        "exit $rc\n")
                               .arg(pc::test::kOtherUid)
                               .arg(impostor, kProgram);
    const pc::RunResult r = inMountNamespace(script, {forgedFolder, open.filePath("ready"), home.path()}, dir.path(), 90000);
    ASSERT_EQ(r.status, pc::RunResult::Finished);
    if (r.exitCode == 77)
        GTEST_SKIP() << "no mount namespace here";
    const QString named = "Программа уже запущена пользователем " + pc::userName(pc::test::kOtherUid);
    const QString out = QString::fromUtf8(dir.readBytes("job.out"));
    EXPECT_EQ(r.exitCode, 75) << out.toStdString() << dir.readBytes("job.err").toStdString();
    EXPECT_FALSE(out.contains("06:30")) << "the other user's answer was believed";
    EXPECT_TRUE(out.contains(named)) << out.toStdString();
    const std::optional<pc::JobResult> kept = pc::readJobResult(pc::AppContext(dir.path()));
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->exitCode, 75);
    EXPECT_TRUE(kept->summary.contains(named));
    EXPECT_TRUE(QString::fromUtf8(dir.readBytes("window.err")).contains(named)) << dir.readBytes("window.err").toStdString();
    EXPECT_EQ(dir.readBytes("window.rc").trimmed(), "1");
    EXPECT_TRUE(server.commands().isEmpty());
}

// /tmp full: the engine would map its lock files there and die of SIGBUS.
// With room in the home folder the job keeps its locks there and does its
// work; with none anywhere it says what is wrong, keeps its result and ends
// with 1, the old list kept.
TEST_F(JobFixture, AFullTmpMovesTheEngineLocksHomeOrEndsTheJobWithAMessage)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a full /tmp needs root here";
    prepareDatabase(QDateTime::currentDateTime().addDays(-1));
    publish(QDateTime::currentDateTime().addSecs(-60));
    QTemporaryDir hold(QStringLiteral("/var/tmp/pc-hold-XXXXXX"));
    ASSERT_TRUE(hold.isValid());
    ASSERT_TRUE(dir.path().startsWith("/tmp/"));
    const QString program = hold.path() + dir.path().mid(4); // the program folder seen through the held /tmp
    // $3: the home folder, $4: the name of the run's output files.
    const QString script = QStringLiteral(
        "mount --bind /tmp \"$1\" || exit 77\n"
        "if [ -d /run/user ]; then mount -t tmpfs -o size=64k tmpfs /run/user || exit 77; fi\n"
        "mount -t tmpfs -o size=256k tmpfs /tmp || exit 77\n"
        "mkdir /tmp/home\n"
        "dd if=/dev/zero of=/tmp/filler bs=4k 2>/dev/null\n"
        "cd \"$2\" || exit 77\n"
        "unset FIREBIRD_LOCK DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM\n"
        "HOME=\"$3\" ./%1 --update >\"$4.out\" 2>\"$4.err\"; echo $? >\"$4.rc\"\n"
        // The window, where nothing can be had: it says so and ends when closed.
        "[ \"$4\" = full ] || exit 0\n"
        "HOME=\"$3\" QT_QPA_PLATFORM=offscreen ./%1 2>window.err & window=$!\n"
        "i=0; while ! grep -qs 'Негде хранить' window.err && [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done\n"
        "kill -TERM $window; wait $window; echo $? >window.rc\n")
                               .arg(kProgram);
    auto run = [&](const QString &home, const QString &name) {
        const pc::RunResult r = inMountNamespace(script, {hold.path(), program, home, name}, dir.path(), 120000);
        EXPECT_EQ(r.status, pc::RunResult::Finished);
        return r.exitCode != 77;
    };
    if (!run("/tmp/home", "full"))
        GTEST_SKIP() << "no mount namespace here";
    const QString out = QString::fromUtf8(dir.readBytes("full.out"));
    EXPECT_EQ(dir.readBytes("full.rc").trimmed(), "1") << out.toStdString() << dir.readBytes("full.err").toStdString();
    EXPECT_TRUE(out.startsWith("Обновление прайса не выполнено в ")) << out.toStdString();
    EXPECT_TRUE(out.contains("Негде хранить служебные файлы базы данных")) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("/tmp/firebird-%1").arg(geteuid()))) << out.toStdString();
    EXPECT_TRUE(out.contains("мало места") || out.contains("нет места")) << out.toStdString();
    const QString daily = dir.readText(kCode + QDate::currentDate().toString("yyyyMMdd") + ".err");
    EXPECT_TRUE(daily.contains("Негде хранить служебные файлы базы данных")) << daily.toStdString();
    EXPECT_TRUE(server.commands().isEmpty());
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE"), 4);
    EXPECT_TRUE(dir.readBytes("window.err").contains("Негде хранить служебные файлы базы данных"))
        << dir.readBytes("window.err").toStdString();
    EXPECT_EQ(dir.readBytes("window.rc").trimmed(), "1");

    ASSERT_TRUE(run(program + "home", "home"));
    EXPECT_EQ(dir.readBytes("home.rc").trimmed(), "0") << dir.readBytes("home.out").toStdString()
                                                       << dir.readBytes("home.err").toStdString();
    EXPECT_FALSE(QDir(dir.file("home/.cache/pharmacy-client/firebird")).entryList(QDir::Files).isEmpty())
        << "the engine's locks are not in the private folder";
    EXPECT_EQ(scalar("SELECT COUNT(1) FROM PRICE"), 3);
    const std::optional<pc::JobResult> kept = pc::readJobResult(pc::AppContext(dir.path()));
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->exitCode, 0);
}

// Two counters of one pharmacy share a database on the pharmacy's server, and
// their morning timers start at the same minute: the list is loaded once, and
// both jobs end well (neither shows red): the second takes the first one's
// load as its own. Every counter's start page can show the last result, kept
// in the database.
TEST_F(JobFixture, TwoCountersTimersAtTheSameMinuteBothEndWellAndTheListLoadsOnce)
{
    pc::test::FirebirdTestServer fbserver;
    const QString database = QStringLiteral("[Database]\nServer=%1\nPath=%2\n").arg(fbserver.address(),
                                                                                   fbserver.dataFolder() + "/apteka.gdb");
    const QString header = "[Header]\nClientCode=" + kCode + "\nClientName=Аптека\nClientPass=secret\n";
    TempAppDir other;
    for (TempAppDir *counter : {&dir, &other}) {
        counter->writeText("client.ini", header + database);
        counter->writeText("server.ini", QStringLiteral("[Header]\nServerAdress=127.0.0.1\nServerPort=%1\n").arg(server.port()));
    }
    ProgramProcess install(other.path(), kProgram);
    pc::DatabaseLocation location;
    location.Server = fbserver.address();
    location.Path = fbserver.dataFolder() + "/apteka.gdb";
    const auto shared = [&](auto read) {
        pc::AppContext context(dir.path());
        ScriptedDialogs dialogs;
        RecordingLog log;
        pc::TDM dm(context, dialogs, log);
        dm.Location = location;
        dm.CreateFirebirdObjects();
        dm.OpenDatabase(); // the first opening makes the database on the server
        return read(dm);
    };
    shared([](pc::TDM &) { return 0; });
    publish(QDateTime(QDate::currentDate(), QTime(6, 0)), 20000);

    Run first, second;
    std::thread a([&] { first = runJob({"--update", "--wait", "120"}, runtimeA.path()); });
    std::thread b([&] { second = runJob({"--update", "--wait", "120"}, runtimeB.path(), other.path()); });
    a.join();
    b.join();

    EXPECT_EQ(first.exitCode, 0) << first.out.toStdString() << first.err.toStdString();
    EXPECT_EQ(second.exitCode, 0) << second.out.toStdString() << second.err.toStdString();
    const QString both = first.out + second.out;
    const QString errors = first.err + second.err;
    EXPECT_EQ(both.count(QStringLiteral("Прайс обновлён в ")), 1) << both.toStdString();
    EXPECT_EQ(both.count(QStringLiteral("Прайс уже обновлён на другом рабочем месте в ")), 1) << both.toStdString();
    EXPECT_FALSE(errors.contains(QStringLiteral("ОШИБКА"))) << errors.toStdString();
    EXPECT_EQ(shared([](pc::TDM &dm) { return dm.PriceListVersion(); }), 1) << "one load";
    EXPECT_EQ(shared([](pc::TDM &dm) { return dm.SharedValue("PRICE.LOADED").isEmpty() ? 0 : 1; }), 1);
    const QString kept = shared([](pc::TDM &dm) { return pc::SharedJobResult(dm).value_or(pc::JobResult{}).summary; });
    EXPECT_TRUE(both.contains(kept) && !kept.isEmpty()) << kept.toStdString();
}
