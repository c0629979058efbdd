#include "ProgramProcess.h"
#include "CleanSpawn.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>
#include <vector>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

ProgramProcess::ProgramProcess(const QString &folder, const QString &name, const QStringList &arguments)
    : m_path(folder + name), m_arguments(arguments)
{
    QFile::remove(m_path);
    QFile::copy(QStringLiteral(PC_BINARY_DIR) + QStringLiteral("/client"), m_path);
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

ProgramProcess::ProgramProcess(const QString &program, const QStringList &arguments)
    : m_path(program), m_arguments(arguments)
{
}

ProgramProcess::~ProgramProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool ProgramProcess::start()
{
    QList<QByteArray> args{QFile::encodeName(m_path)};
    for (const QString &a : m_arguments)
        args << QFile::encodeName(a);
    std::vector<char *> argv = pc::test::argvOf(args);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int rc = posix_spawn(&m_pid, argv[0], nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        m_pid = -1;
    return rc == 0;
}

bool ProgramProcess::running()
{
    return m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0;
}

int ProgramProcess::terminate(int signal, int timeoutMs)
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, signal);
    int status = 0;
    QElapsedTimer t;
    t.start();
    pid_t r = 0;
    while ((r = waitpid(m_pid, &status, WNOHANG)) == 0 && t.elapsed() < timeoutMs)
        QThread::msleep(20);
    if (r == 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return -1;
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
