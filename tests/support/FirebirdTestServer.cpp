#include "FirebirdTestServer.h"

#include "CleanSpawn.h"
#include "FreePort.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <cstring>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace pc::test {

namespace {

bool answers(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

} // namespace

FirebirdTestServer::FirebirdTestServer()
{
    if (!m_dir.isValid())
        throw std::runtime_error("FirebirdTestServer: no temporary folder");
    QDir().mkpath(dataFolder());
    m_port = freeLoopbackPort();
    start();
}

FirebirdTestServer::~FirebirdTestServer()
{
    resume();
    if (m_pid > 0 && signalAndReap(m_pid, SIGTERM, 5000))
        m_pid = -1;
    kill();
}

void FirebirdTestServer::kill()
{
    if (m_pid <= 0)
        return;
    signalAndReap(m_pid, SIGKILL, 5000);
    m_pid = -1;
}

void FirebirdTestServer::pause()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGSTOP);
}

void FirebirdTestServer::resume()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGCONT);
}

void FirebirdTestServer::start()
{
    if (m_pid > 0)
        return;
    const QByteArray script = QByteArray(PC_SOURCE_DIR) + "/scripts/fbserver";
    const QByteArray root = QFile::encodeName(m_dir.filePath(QStringLiteral("server")));
    const QByteArray port = QByteArray::number(m_port);
    const QByteArray log = root + ".log";
    // The server dies with the test process, whatever happens to the test.
    std::vector<QByteArray> args = {"/usr/bin/setpriv", "--pdeathsig", "KILL", "--", "/bin/bash", script, "run", root, port};
    std::vector<char *> argv = pc::test::argvOf(args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    CleanSpawnAttributes clean;
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, &clean.attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error(std::string("FirebirdTestServer: cannot start the server: ") + std::strerror(rc));
    m_pid = pid;
    QDeadlineTimer deadline(20000);
    while (!answers(m_port)) {
        if (deadline.hasExpired() || ::waitpid(m_pid, nullptr, WNOHANG) != 0) {
            m_pid = -1;
            QFile f(QFile::decodeName(log));
            f.open(QIODevice::ReadOnly);
            throw std::runtime_error("FirebirdTestServer: the server did not start: " + f.readAll().toStdString());
        }
        QThread::msleep(20);
    }
}

} // namespace pc::test
