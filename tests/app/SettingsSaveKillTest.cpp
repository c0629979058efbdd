// The settings save is one change: the installed program saving its settings
// over and over is killed at spread moments, and after each kill the next
// start finds server.ini, client.ini and exchange.ini all of one save, with
// no temporary file and no journal left behind.
#include "ProgramProcess.h"
#include "TempAppDir.h"

#include "platform/FileGroup.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using pc::IniFile;

namespace {

struct Generations {
    int server = -1, client = -1, exchange = -1;
};

Generations generationsIn(const TempAppDir &dir)
{
    Generations g;
    bool ok = false;
    const QString supplier = IniFile(dir.file("server.ini")).readString("Header", "SupplierName");
    g.server = supplier.startsWith("gen ") ? supplier.mid(4).toInt(&ok) : -1;
    g.client = IniFile(dir.file("client.ini")).readInteger("PriceTagsPrintSettings", "Count", -1);
    const QString order = IniFile(dir.file("exchange.ini")).readString("Order", "FileNameOrder");
    g.exchange = order.startsWith("gen") && order.endsWith(".dbf") ? order.mid(3, order.size() - 7).toInt() : -1;
    return g;
}

QStringList leftovers(const TempAppDir &dir)
{
    QStringList names;
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
        if (pc::isWholeFileTemp(name) || name == QLatin1String("settings.journal"))
            names << name;
    return names;
}

qint64 changeTime(const QString &path) { return QFileInfo(path).lastModified().toMSecsSinceEpoch(); }

bool waitForExit(ProgramProcess &p, int ms)
{
    QElapsedTimer t;
    t.start();
    while (p.running()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(5);
    }
    return true;
}

} // namespace

TEST(SettingsSaveKilled, TheThreeFilesAreAllOldOrAllNew)
{
    TempAppDir dir;
    dir.writeText("client.ini", "[Header]\nClientCode=1234\nClientName=Аптека\n[PriceTagsPrintSettings]\nCount=0\n");
    dir.writeText("server.ini", "[Header]\nServerAdress=127.0.0.1\nSupplierName=gen 0\n");
    dir.writeText("exchange.ini", "[Order]\nFileNameOrder=gen0.dbf\n");
    ProgramProcess saver(dir.path(), "client_savekill");
    ProgramProcess start(saver.path(), QStringList());

    QRandomGenerator random(20261208);
    constexpr int kKills = 60;
    int withJournal = 0, withTemps = 0, last = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE(kill);
        // Saving until killed; the kill comes a random while after the first
        // save of this run has landed, so it falls anywhere in a save.
        qputenv("PC_TEST_SETTINGS_SAVE_LOOP", "-1");
        const qint64 before = changeTime(dir.file("client.ini"));
        ASSERT_TRUE(saver.start());
        QElapsedTimer waited;
        waited.start();
        while (changeTime(dir.file("client.ini")) == before && waited.elapsed() < 20000)
            QThread::usleep(500);
        ASSERT_LT(waited.elapsed(), 20000) << "the program saved nothing";
        QThread::usleep(random.bounded(0, 40000));
        saver.terminate(SIGKILL, 5000);

        const QStringList left = leftovers(dir);
        if (left.contains("settings.journal"))
            ++withJournal;
        else if (!left.isEmpty())
            ++withTemps;

        // The next start puts things right before it reads anything.
        qputenv("PC_TEST_SETTINGS_SAVE_LOOP", "0");
        ASSERT_TRUE(start.start());
        ASSERT_TRUE(waitForExit(start, 20000));
        const Generations g = generationsIn(dir);
        EXPECT_EQ(g.client, g.server) << "left behind: " << left.join(' ').toStdString();
        EXPECT_EQ(g.exchange, g.server) << "left behind: " << left.join(' ').toStdString();
        EXPECT_GE(g.server, last);
        last = g.server;
        EXPECT_EQ(leftovers(dir), QStringList());
        if (HasFailure())
            break;
    }
    qunsetenv("PC_TEST_SETTINGS_SAVE_LOOP");
    // The kills fell inside saves: after the journal and before it.
    std::printf("kills: %d, with the journal written: %d, before it: %d, saves: %d\n", kKills, withJournal, withTemps, last);
    EXPECT_GT(withJournal, 0);
    EXPECT_GT(withTemps, 0);
    EXPECT_GT(last, kKills);
}
