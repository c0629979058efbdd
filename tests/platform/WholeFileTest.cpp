#include "TempAppDir.h"
#include "platform/AppError.h"
#include "platform/IniFile.h"
#include "platform/Process.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using pc::FileStep;

namespace {

// Makes one kind of step fail for files whose name ends in `suffix`; undone
// at the end of the test.
struct Fault {
    Fault(FileStep failing, int error, QString suffix = QString(), qint64 afterBytes = 0)
    {
        pc::setFileFaultHook([=](FileStep step, const QString &target, qint64 written) {
            if (step != failing || !target.endsWith(suffix))
                return 0;
            return step != FileStep::Write || written > afterBytes ? error : 0;
        });
    }
    ~Fault() { pc::setFileFaultHook({}); }
};

QString failureOf(const std::function<void()> &write)
{
    try {
        write();
    } catch (const pc::AppError &e) {
        return e.message();
    }
    return QString();
}

QStringList filesIn(const TempAppDir &dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

// A failure at any step, a full disk included, keeps the old file whole, leaves
// no temporary file and says why in Russian.
TEST(WholeFile, AFailureAtAnyStepKeepsTheOldFileAndSaysWhy)
{
    TempAppDir dir;
    const QByteArray old = "[Header]\r\nClientCode=1234\r\n";
    dir.writeBytes("client.ini", old);
    const QByteArray fresh(6000, 'n');
    for (FileStep step : {FileStep::Write, FileStep::Sync, FileStep::Rename}) {
        Fault fault(step, ENOSPC);
        const QString why = failureOf([&] { pc::writeWholeFile(dir.file("client.ini"), fresh); });
        EXPECT_TRUE(why.contains("client.ini") && why.contains("на диске нет места")) << why.toStdString();
        EXPECT_EQ(dir.readBytes("client.ini"), old);
        EXPECT_EQ(filesIn(dir), QStringList{"client.ini"});
    }
    {
        Fault fault(FileStep::Write, EIO, QString(), 4096); // half way through
        EXPECT_TRUE(failureOf([&] { pc::writeWholeFile(dir.file("new.ini"), fresh); }).contains("ошибка ввода-вывода"));
        EXPECT_EQ(filesIn(dir), QStringList{"client.ini"}); // a file that did not exist still does not
    }
    pc::writeWholeFile(dir.file("client.ini"), fresh);
    EXPECT_EQ(dir.readBytes("client.ini"), fresh);
    EXPECT_EQ(filesIn(dir), QStringList{"client.ini"});
}

TEST(WholeFile, AFailedAppendLeavesTheLinesThatWereThere)
{
    TempAppDir dir;
    pc::appendToFile(dir.file("day.err"), "one\r\n");
    {
        Fault fault(FileStep::Write, ENOSPC, QString(), 2);
        EXPECT_TRUE(failureOf([&] { pc::appendToFile(dir.file("day.err"), "two and more\r\n"); }).contains("нет места"));
        EXPECT_TRUE(failureOf([&] { pc::appendToFile(dir.file("other.err"), "x\r\n"); }).contains("нет места"));
    }
    EXPECT_EQ(dir.readBytes("day.err"), "one\r\n");
    EXPECT_FALSE(dir.exists("other.err"));
    {
        Fault fault(FileStep::Sync, ENOSPC);
        EXPECT_FALSE(failureOf([&] { pc::appendToFile(dir.file("day.err"), "two\r\n"); }).isEmpty());
    }
    EXPECT_EQ(dir.readBytes("day.err"), "one\r\n");
    pc::appendToFile(dir.file("day.err"), "two\r\n");
    EXPECT_EQ(dir.readBytes("day.err"), "one\r\ntwo\r\n");
}

// A batch of INI changes is one write: nothing reaches the file before
// commit(), a failed commit keeps the file as it was and the object reads the
// file again, and a batch dropped writes nothing.
TEST(WholeFile, AnIniBatchIsWrittenOnceOrNotAtAll)
{
    TempAppDir dir;
    dir.writeText("server.ini", "[Header]\nServerAdress=old.ru\nServerPort=21\n");
    int writes = 0;
    pc::setFileFaultHook([&](FileStep step, const QString &, qint64) {
        writes += step == FileStep::Rename;
        return 0;
    });
    {
        pc::IniFile ini(dir.file("server.ini"));
        ini.beginBatch();
        ini.writeString("Header", "ServerAdress", "new.ru");
        ini.writeInteger("Header", "ServerPort", 2121);
        ini.eraseSection("Missing");
        EXPECT_EQ(ini.readString("Header", "ServerAdress"), "new.ru"); // the batch reads its own changes
        EXPECT_TRUE(dir.readText("server.ini").contains("old.ru"));
        ini.commit();
        EXPECT_EQ(writes, 1);
        EXPECT_EQ(dir.readText("server.ini"), "[Header]\nServerAdress=new.ru\nServerPort=2121\n");
        ini.writeString("Header", "ServerPort", "21"); // outside a batch: at once
        EXPECT_EQ(writes, 2);
    }
    {
        pc::IniFile ini(dir.file("server.ini"));
        ini.beginBatch();
        ini.writeString("Header", "ServerAdress", "dropped.ru");
    }
    EXPECT_EQ(writes, 2);
    pc::setFileFaultHook({});
    Fault full(FileStep::Write, ENOSPC);
    pc::IniFile ini(dir.file("server.ini"));
    ini.beginBatch();
    ini.writeString("Header", "ServerAdress", "lost.ru");
    EXPECT_THROW(ini.commit(), pc::AppError);
    EXPECT_EQ(ini.readString("Header", "ServerAdress"), "new.ru");
    EXPECT_THROW(ini.writeString("Header", "ServerPort", "1"), pc::AppError);
    EXPECT_EQ(dir.readText("server.ini"), "[Header]\nServerAdress=new.ru\nServerPort=21\n");
}

// The same writer on a real file system with no room left (a tmpfs of its
// own, where this machine lets an unprivileged user mount one).
TEST(WholeFile, OnARealFullDiskNothingIsReplacedByAnEmptyCopy)
{
    TempAppDir dir;
    const QString probe = QStringLiteral(PC_BINARY_DIR) + "/tests/full_disk_probe";
    const QString script = QStringLiteral("mount -t tmpfs -o size=64k tmpfs \"$0\" || exit 77; exec \"$1\" \"$0\"");
    const pc::RunResult r =
        pc::runAndWait("/usr/bin/unshare", {"-rm", "/bin/sh", "-c", script, dir.path(), probe}, dir.path(), 20000);
    if (r.status != pc::RunResult::Finished || r.exitCode == 77 || r.exitCode == 1)
        GTEST_SKIP() << "no private tmpfs here (" << r.exitCode << ")";
    EXPECT_EQ(r.exitCode, 0) << "see the probe's standard error above";
}

namespace {
mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}
} // namespace

// A file with passwords is only ever readable by its user: made 0600, kept
// private when rewritten, closed at start when it was left open. Any file
// is 0600 while it is being written, and a rewritten file keeps its mode.
TEST(WholeFile, FilesWithPasswordsArePrivateAndEveryFileKeepsItsMode)
{
    TempAppDir dir;
    const mode_t usual = 0666 & ~[] {
        const mode_t m = ::umask(022);
        ::umask(m);
        return m;
    }();
    QList<mode_t> whileWritten;
    pc::setFileFaultHook([&](FileStep step, const QString &, qint64) {
        if (step == FileStep::Write)
            for (const QString &name : QDir(dir.path()).entryList({"*.~*"}, QDir::Files | QDir::Hidden))
                whileWritten << modeOf(dir.file(name));
        return 0;
    });
    pc::IniFile(dir.file("client.ini")).writeString("Header", "ClientPass", "secret");
    pc::IniFile(dir.file("server.ini")).writeString("Header", "ServerAdress", "a.ru");
    EXPECT_EQ(modeOf(dir.file("client.ini")), 0600u);
    EXPECT_EQ(modeOf(dir.file("server.ini")), usual);

    // Rewritten: each keeps what it has, a private one stays private.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.file("server.ini")).constData(), 0640), 0);
    pc::IniFile(dir.file("client.ini")).writeString("Database", "Password", "другой");
    pc::IniFile(dir.file("server.ini")).writeString("Header", "ServerAdress", "b.ru");
    pc::writeWholeFile(dir.file("Orders/1234_1.ini"), "[Order]\r\n");
    EXPECT_EQ(modeOf(dir.file("client.ini")), 0600u);
    EXPECT_EQ(modeOf(dir.file("server.ini")), 0640u);
    EXPECT_EQ(modeOf(dir.file("Orders/1234_1.ini")), usual);
    pc::setFileFaultHook({});
    ASSERT_EQ(whileWritten.size(), 4);
    for (mode_t m : whileWritten)
        EXPECT_EQ(m, 0600u) << "a temporary file was open to others";

    // Left open (by hand, by an older version): closed; the rest untouched.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.file("client.ini")).constData(), 0644), 0);
    dir.writeBytes("bkclient.ini", "[Header]\r\nClientPass=old\r\n");
    EXPECT_EQ(pc::keepPrivate(dir.file("client.ini")), QString());
    EXPECT_EQ(pc::keepPrivate(dir.file("bkclient.ini")), QString());
    EXPECT_EQ(pc::keepPrivate(dir.file("missing.ini")), QString());
    EXPECT_EQ(modeOf(dir.file("client.ini")), 0600u);
    EXPECT_EQ(modeOf(dir.file("bkclient.ini")), 0600u);
    EXPECT_TRUE(pc::holdsSecrets(dir.file("BKCLIENT.INI")));
    EXPECT_FALSE(pc::holdsSecrets(dir.file("server.ini")));
}
