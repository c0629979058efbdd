// The installed program restarting through the real launcher: a new version
// arrives in the price archive from the supplier's FTP server, the running
// copy puts it aside and restarts, the launcher installs and starts it, and
// the new copy opens the database (it finds the price list there and asks to
// refresh it, which it can only do with the database open).
//
// The program runs on Qt's VNC platform; the test answers its windows with
// mouse clicks on the question's «Да» and the notice's «OK».

#include "FreePort.h"
#include "DbfWriter.h"
#include "FtpTestServer.h"
#include "ScriptedDialogs.h"
#include "SigningKey.h"

#include "core/AppContext.h"
#include "db/DataModule.h"
#include "platform/Process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using pc::test::DbfWriter;
using pc::test::FtpTestServer;

namespace {

const QString kCode = QStringLiteral("1234");
const QByteArray kMarker = "\n-- new version delivered by the supplier --\n";

// Screen 1024x768; the question and notice window (409x220) is centred.
const QPoint kYes(379, 455);
const QPoint kOk(503, 455);

// Just enough of the remote-framebuffer protocol to click.
class VncMouse {
public:
    explicit VncMouse(int port) : m_port(port) {}
    ~VncMouse() { drop(); }
    void click(QPoint p)
    {
        if (m_fd < 0 && !connectNow())
            return;
        for (const quint8 buttons : {quint8(0), quint8(1), quint8(0)}) {
            char msg[6] = {5, char(buttons)};
            qToBigEndian<quint16>(quint16(p.x()), msg + 2);
            qToBigEndian<quint16>(quint16(p.y()), msg + 4);
            if (::send(m_fd, msg, sizeof msg, MSG_NOSIGNAL) != qint64(sizeof msg)) {
                drop(); // that copy has gone; the next click finds the next one
                return;
            }
        }
    }

private:
    void drop()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool readExactly(char *out, size_t n)
    {
        size_t got = 0;
        while (got < n) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                return false;
            const ssize_t r = ::recv(m_fd, out + got, n - got, 0);
            if (r <= 0)
                return false;
            got += size_t(r);
        }
        return true;
    }
    bool connectNow()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(m_port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        char version[12], security[4], init[24];
        bool ok = ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && readExactly(version, 12)
                  && ::send(m_fd, version, 12, MSG_NOSIGNAL) == 12 && readExactly(security, 4)
                  && ::send(m_fd, "\x01", 1, MSG_NOSIGNAL) == 1 // shared
                  && readExactly(init, 24);
        if (ok) {
            QByteArray name(int(qFromBigEndian<quint32>(init + 20)), '\0');
            ok = readExactly(name.data(), size_t(name.size()));
        }
        if (!ok)
            drop();
        return ok;
    }
    int m_port;
    int m_fd = -1;
};

void writePriceDbf(const QString &path)
{
    DbfWriter w(0x03);
    w.addPriceFields();
    for (int i = 1; i <= 3; ++i)
        w.addRecord({QString::number(i), QStringLiteral("Товар %1").arg(i), 10.0 * i, QStringLiteral("Завод"),
                     QStringLiteral("Россия"), 0.0, QDate(2030, 1, 1), 100, 1, 10, 0, 0, 0, 0, 0, 0, 0, QString()});
    w.save(path);
}

void setModified(const QString &path, const QDateTime &when)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
}

// Processes running the named executable.
QList<pid_t> processesOf(const QString &executable)
{
    QList<pid_t> out;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int pid = entry.toInt(&number);
        if (number && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == executable)
            out << pid_t(pid);
    }
    return out;
}

struct Restart : ::testing::Test {
    FtpTestServer server{FtpTestServer::Options{{{kCode, QStringLiteral("secret")}, {QStringLiteral("Order"), QStringLiteral("orderpass")}}}};
    QTemporaryDir root;
    QTemporaryDir runtime; // the single-instance lock of this test's copies
    QString app;           // the installed program folder, ending in "/"
    QTemporaryDir staging;
    pc::test::SigningKey supplier;
    pid_t first = -1;
    QList<pid_t> started; // copies the launcher started

    void SetUp() override
    {
        ASSERT_TRUE(root.isValid() && runtime.isValid() && staging.isValid());
        app = root.path() + QStringLiteral("/program/");
        const QString cmake = pc::findProgram(QStringLiteral("cmake"), QString());
        ASSERT_FALSE(cmake.isEmpty());
        const pc::RunResult installed = pc::runAndWait(cmake, {"--install", PC_BINARY_DIR, "--prefix", app}, root.path(), 60000);
        ASSERT_EQ(installed.status, pc::RunResult::Finished);
        ASSERT_EQ(installed.exitCode, 0);
        ASSERT_TRUE(QFileInfo(app + "vorn").isExecutable());
        // The supplier's key the installation keeps beside the program.
        supplier.installIn(app);
        setModified(app + "client", QDateTime::currentDateTime().addSecs(-3600));
    }
    void TearDown() override
    {
        for (const pid_t pid : processesOf(app + "client"))
            ::kill(pid, SIGKILL);
        if (first > 0) {
            ::kill(first, SIGKILL);
            waitpid(first, nullptr, 0);
        }
    }
    void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // The supplier's archive: the price list and, when asked, a new program version.
    void publishArchive(bool withProgram)
    {
        const QString dbf = staging.filePath(kCode + ".dbf");
        writePriceDbf(dbf);
        // Two days old, so that every copy finds its price list outdated.
        setModified(dbf, QDateTime::currentDateTime().addDays(-2));
        QStringList files{kCode + ".dbf"};
        if (withProgram) {
            // The same program, smaller, and marked so that its origin shows.
            const QString update = staging.filePath("update");
            QFile::remove(update);
            const QString strip = pc::findProgram(QStringLiteral("strip"), QString());
            if (strip.isEmpty() || pc::runAndWait(strip, {"-o", update, app + "client"}, staging.path()).exitCode != 0)
                ASSERT_TRUE(QFile::copy(app + "client", update));
            QFile f(update);
            ASSERT_TRUE(f.open(QIODevice::Append));
            f.write(kMarker);
            f.close();
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            supplier.signFile(update, staging.filePath("update.sig"));
            files << "update" << "update.sig";
        }
        const QString zip = staging.filePath(kCode + ".zip");
        QFile::remove(zip);
        const pc::RunResult zipped = pc::runAndWait("/usr/bin/zip", QStringList{"-q", "-0", zip} + files, staging.path(), 30000);
        ASSERT_EQ(zipped.exitCode, 0);
        const QString served = server.home(kCode) + "/" + kCode + ".zip";
        QFile::remove(served + ".new");
        ASSERT_TRUE(QFile::copy(zip, served + ".new"));
        ASSERT_EQ(::rename(QFile::encodeName(served + ".new").constData(), QFile::encodeName(served).constData()), 0);
    }
    // A database that already holds an (outdated) price list.
    void prepareDatabase()
    {
        pc::AppContext context(app);
        ScriptedDialogs dialogs;
        RecordingLog log;
        pc::TDM dm(context, dialogs, log);
        dm.CreateFirebirdObjects();
        dm.OpenDatabase();
        dm.ExecSQL("INSERT INTO PRICE (IDTOVAR, TOVAR, PRICE, QNT, GODEN, ZAKAZ) VALUES ('1', 'Товар 1', 10, 100, '2030-01-01', 0)", true);
        dm.SetConnected(false);
        ASSERT_TRUE(QFileInfo::exists(app + "Data/client.gdb"));
    }
    void startProgram(int vncPort)
    {
        const QByteArray exe = QFile::encodeName(app + "client");
        char *argv[] = {const_cast<char *>(exe.constData()), nullptr};
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM"), runtimeDir = qgetenv("XDG_RUNTIME_DIR");
        qputenv("QT_QPA_PLATFORM", "vnc:size=1024x768:port=" + QByteArray::number(vncPort));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, QFile::encodeName(app).constData());
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
        ASSERT_EQ(posix_spawn(&first, argv[0], &actions, &attr, argv, environ), 0);
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        qputenv("QT_QPA_PLATFORM", platform);
        if (runtimeDir.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", runtimeDir);
    }
};

} // namespace

TEST_F(Restart, NewVersionFromThePriceArchiveIsInstalledByTheLauncherAndOpensTheDatabase)
{
    {
        // A whole identity: with the name or the address missing the identity window would ask for it.
        const QString settings = "[Header]\r\nClientCode=" + kCode + "\r\nClientName=Apteka\r\nClientPass=secret\r\n";
        writeFile(app + "client.ini", settings.toLatin1());
        writeFile(app + "server.ini", "[Header]\r\nServerAdress=127.0.0.1\r\nServerPort=" + QByteArray::number(server.port()) + "\r\n");
    }
    prepareDatabase();
    publishArchive(true);
    const int vncPort = pc::test::freeLoopbackPort();
    startProgram(vncPort);
    ASSERT_GT(first, 0);

    VncMouse mouse(vncPort);
    QElapsedTimer t;
    t.start();
    const int kLimitMs = 60000;
    auto answerWindows = [&] {
        mouse.click(kYes);
        QThread::msleep(150);
        mouse.click(kOk);
        QThread::msleep(150);
    };

    // The first copy updates the price, finds the new version and restarts.
    int status = 0;
    bool ended = false;
    while (!ended && t.elapsed() < kLimitMs) {
        answerWindows();
        ended = waitpid(first, &status, WNOHANG) == first;
    }
    ASSERT_TRUE(ended) << "the first copy did not restart";
    first = -1;
    // The archive no longer carries a program: the next update must not restart again.
    publishArchive(false);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const QString fetch = "RETR " + kCode + ".zip";
    const int fetchesBefore = int(server.commands().count(fetch));

    // The launcher installs the new version and starts it; it opens the
    // database, finds the outdated price list there and refreshes it.
    QList<pid_t> copies;
    while (t.elapsed() < kLimitMs && server.commands().count(fetch) == fetchesBefore) {
        answerWindows();
        copies = processesOf(app + "client");
    }
    EXPECT_GT(server.commands().count(fetch), fetchesBefore)
        << "the restarted copy did not read its price list from the database";
    copies = processesOf(app + "client");
    ASSERT_EQ(copies.size(), 1) << "the restarted copy is not running";
    QFile running(QStringLiteral("/proc/%1/exe").arg(copies.front()));
    ASSERT_TRUE(running.open(QIODevice::ReadOnly));
    EXPECT_TRUE(running.readAll().endsWith(kMarker)) << "the running copy is not the delivered version";
    EXPECT_FALSE(QFileInfo::exists(app + "Update/client"));
    EXPECT_FALSE(QFileInfo::exists(app + "update"));

    // It still ends normally on request.
    ::kill(copies.front(), SIGTERM);
    QElapsedTimer stop;
    stop.start();
    while (stop.elapsed() < 15000 && !processesOf(app + "client").isEmpty()) {
        answerWindows();
        QThread::msleep(100);
    }
    EXPECT_TRUE(processesOf(app + "client").isEmpty());
}
