// What another user of the machine can do to the places we share with them:
// make our folders in /tmp first, put a link or a file of theirs where our
// lock goes, hold the lock, answer on our socket or ask it.

#include "OtherUser.h"
#include "ProgramProcess.h"
#include "TempAppDir.h"

#include "platform/InstanceChannel.h"
#include "platform/PrivateFolder.h"
#include "platform/Process.h"
#include "platform/Signals.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pc::test;

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

bool waitFor(const QString &file, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(file) && t.elapsed() < ms)
        QThread::msleep(20);
    return QFile::exists(file);
}

// A folder the other user can reach and write to: where they leave their
// sockets and say they are ready.
struct OpenFolder {
    QTemporaryDir dir;
    OpenFolder() { ::chmod(QFile::encodeName(dir.path()).constData(), 0777); }
    QString file(const QString &name) const { return dir.filePath(name); }
};

} // namespace

TEST(PrivateFolder, OnlyAFolderOfOurOwnIsTakenAndItIsClosedToOthers)
{
    QTemporaryDir base;
    const QString fresh = base.filePath("fresh");
    EXPECT_EQ(pc::claimPrivateFolder(fresh), QString());
    EXPECT_EQ(modeOf(fresh), 0700u);

    const QString open = base.filePath("open");
    ASSERT_TRUE(QDir().mkdir(open));
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0777), 0);
    EXPECT_EQ(pc::claimPrivateFolder(open), QString());
    EXPECT_EQ(modeOf(open), 0700u) << "ours, but open to others: closed";

    const QString link = base.filePath("link");
    ASSERT_TRUE(QFile::link(fresh, link));
    EXPECT_NE(pc::claimPrivateFolder(link), QString()) << "a link is never followed";

    const QString file = base.filePath("file");
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_NE(pc::claimPrivateFolder(file), QString());

    if (!otherUserUnavailable().isEmpty())
        GTEST_SKIP() << "a folder of another user: " << otherUserUnavailable().toStdString();
    const QString foreign = base.filePath("foreign");
    ASSERT_TRUE(QDir().mkdir(foreign));
    ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), kOtherUid, kOtherUid), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(foreign).constData(), 0755), 0);
    const QString why = pc::claimPrivateFolder(foreign);
    EXPECT_TRUE(why.contains(pc::userName(kOtherUid))) << why.toStdString();
    EXPECT_EQ(modeOf(foreign), 0755u) << "another user's folder is left as it was";
}

// Another user made /tmp/pharmacy-client-<uid> and /tmp/firebird-<uid>
// before us (here: in a mount namespace of a child, so the machine's folders
// stay as they are). Neither is used: the socket and the engine's locks go
// to the user's private folder, the same one for every copy of the user.
TEST(SharedPlaces, FoldersInTmpMadeByAnotherUserAreRefusedForAPrivateOne)
{
    if (!otherUserUnavailable().isEmpty())
        GTEST_SKIP() << otherUserUnavailable().toStdString();
    const QString socketFolder = QStringLiteral("/tmp/pharmacy-client-%1").arg(geteuid());
    const QString engineFolder = QStringLiteral("/tmp/firebird-%1").arg(geteuid());
    // The mount points: our own folders, as any start makes them.
    ASSERT_EQ(pc::claimPrivateFolder(socketFolder), QString());
    ASSERT_EQ(pc::claimPrivateFolder(engineFolder), QString());
    QTemporaryDir home, program;

    const pid_t pid = fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(77);
        const QByteArray options = QByteArray("mode=0755,uid=") + QByteArray::number(kOtherUid) + ",gid="
                                 + QByteArray::number(kOtherUid);
        for (const QString &forged : {socketFolder, engineFolder})
            if (::mount("tmpfs", QFile::encodeName(forged).constData(), "tmpfs", 0, options.constData()) != 0)
                _exit(77);
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("FIREBIRD_LOCK");
        int failed = 0;
        const QString own = pc::fallbackFolder();
        if (own.isEmpty() || own.startsWith("/tmp/pharmacy-client") || modeOf(own) != 0700u)
            failed |= 1;
        const QString socket = pc::SingleInstance::socketNameFor(program.path());
        if (!socket.startsWith(own + "/"))
            failed |= 2;
        if (!pc::setFirebirdLockFolder().isEmpty() || qEnvironmentVariable("FIREBIRD_LOCK") != own + "/firebird"
            || modeOf(own + "/firebird") != 0700u)
            failed |= 4;
        // The forged folders are left as their owner made them.
        if (modeOf(socketFolder) != 0755u || modeOf(engineFolder) != 0755u)
            failed |= 8;
        _exit(failed);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no private folder, 2: the socket in the forged folder, "
                                         "4: the engine's locks in the forged folder, 8: the forged folders changed";
}

// A link, or a file someone else made, where the lock goes is never written:
// the lock still works and the file keeps what it held.
TEST(SingleInstance, TheLockNeverWritesAFileItDidNotMake)
{
    QTemporaryDir folder, elsewhere;
    const QByteArray precious(270, 'p');
    const QString target = elsewhere.filePath("notes.txt");
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(precious);
    }
    const QString lock = folder.filePath(".client.lock");
    ASSERT_TRUE(QFile::link(target, lock));
    {
        pc::SingleInstance instance(folder.path());
        ASSERT_EQ(instance.lockFileName(), QFileInfo(folder.path()).canonicalFilePath() + "/.client.lock");
        EXPECT_TRUE(instance.acquire());
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), precious) << "the link's target was written";
        EXPECT_FALSE(QFileInfo(lock).isSymLink());
        pc::SingleInstance second(folder.path());
        EXPECT_FALSE(second.acquire()) << "the lock holds";
    }

    // A file of ours that is not a lock file (hard-linked here, say): kept.
    ASSERT_TRUE(QFile::remove(lock));
    ASSERT_EQ(::link(QFile::encodeName(target).constData(), QFile::encodeName(lock).constData()), 0);
    {
        pc::SingleInstance instance(folder.path());
        EXPECT_TRUE(instance.acquire());
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), precious);
    }

    if (!otherUserUnavailable().isEmpty())
        GTEST_SKIP() << "a lock file of another user: " << otherUserUnavailable().toStdString();
    ASSERT_TRUE(QFile::remove(lock));
    {
        QFile f(lock);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("theirs\n");
    }
    ASSERT_EQ(::chown(QFile::encodeName(lock).constData(), kOtherUid, kOtherUid), 0);
    pc::SingleInstance instance(folder.path());
    EXPECT_TRUE(instance.acquire());
    QFile f(lock);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "theirs\n");
}

// The lock held by another user's copy: the kernel tells whose it is.
TEST(SingleInstance, ACopyOfAnotherUserIsNamed)
{
    if (!otherUserUnavailable().isEmpty())
        GTEST_SKIP() << otherUserUnavailable().toStdString();
    QTemporaryDir folder;
    OpenFolder open;
    ASSERT_EQ(::chmod(QFile::encodeName(folder.path()).constData(), 0755), 0);
    {
        pc::SingleInstance first(folder.path());
        ASSERT_TRUE(first.acquire());
    }
    pc::SingleInstance mine(folder.path());
    {
        const QStringList line = asOtherUser(impostor(mine.lockFileName(), "-", "", open.file("ready")));
        ProgramProcess holder(line.first(), line.mid(1));
        ASSERT_TRUE(holder.start());
        ASSERT_TRUE(waitFor(open.file("ready")));
        EXPECT_FALSE(mine.acquire());
        ASSERT_TRUE(mine.holderUid().has_value());
        EXPECT_EQ(*mine.holderUid(), kOtherUid);
        EXPECT_EQ(mine.otherUserHolding(), pc::userName(kOtherUid));
        EXPECT_EQ(pc::SingleInstance::runByOtherUserText(mine.otherUserHolding()),
                  "Программа уже запущена пользователем " + pc::userName(kOtherUid));
    }
    EXPECT_TRUE(mine.acquire());
    EXPECT_EQ(mine.otherUserHolding(), QString());
}

// Both ends of the socket ask the kernel who is at the other end. A socket
// of another user's process put where ours goes is not believed, and another
// user's process reaching our socket gets no answer; the same done by our
// own user goes through, so the way in is the same.
TEST(InstanceChannel, AnotherUsersProcessIsNeitherBelievedNorAnswered)
{
    if (!otherUserUnavailable().isEmpty())
        GTEST_SKIP() << otherUserUnavailable().toStdString();
    QTemporaryDir folder;
    OpenFolder open;
    const QString ours = pc::SingleInstance::socketNameFor(folder.path());
    ASSERT_FALSE(ours.isEmpty());
    const QString forged = QStringLiteral("done 0 Прайс обновлён в 06:30: 20 000 позиций");

    auto answerFrom = [&](bool otherUser) {
        QFile::remove(open.file("ready"));
        const QStringList command = impostor("-", open.file("s.sock"), forged, open.file("ready"));
        const QStringList line = otherUser ? asOtherUser(command) : command;
        ProgramProcess answering(line.first(), line.mid(1));
        EXPECT_TRUE(answering.start());
        EXPECT_TRUE(waitFor(open.file("ready")));
        // Bound elsewhere and moved into our folder: only we could put it there.
        EXPECT_TRUE(QFile::rename(open.file("s.sock"), ours));
        const QString reply = pc::askRunningCopy(folder.path(), "job update", 2000, 5000);
        QFile::remove(ours);
        return reply;
    };
    EXPECT_EQ(answerFrom(false), forged) << "our own user's process is heard";
    EXPECT_EQ(answerFrom(true), QString()) << "another user's answer was believed";

    pc::InstanceServer server(folder.path());
    server.onRequest = [](const QString &, const pc::InstanceServer::Reply &reply) { reply("window"); };
    ASSERT_TRUE(server.listen());
    const QString reachable = open.file("w.sock");
    ASSERT_TRUE(QFile::rename(ours, reachable));
    ASSERT_EQ(::chmod(QFile::encodeName(reachable).constData(), 0777), 0);
    auto askedBy = [&](bool otherUser) {
        QFile::remove(open.file("reply"));
        const QStringList command = asker(reachable, open.file("reply"));
        const QStringList line = otherUser ? asOtherUser(command) : command;
        const pc::RunResult r = pc::runAndWait(line.first(), line.mid(1), open.dir.path(), 15000,
                                               [] { QCoreApplication::processEvents(); });
        EXPECT_EQ(r.exitCode, 0);
        QFile f(open.file("reply"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<no reply file>");
    };
    EXPECT_EQ(askedBy(false), "window\n");
    EXPECT_EQ(askedBy(true), QString()) << "another user's process was answered";
}
