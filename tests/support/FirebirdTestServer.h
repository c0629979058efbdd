#pragma once
// A private Firebird server for tests (scripts/fbserver run): its own folder,
// a free port on 127.0.0.1, its own security database (SYSDBA's password is
// the program's default) and lock folder. It dies with the test process, is
// stopped in the destructor, and can be killed and started again on the same
// port to test a server that goes away.

#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

namespace pc::test {

class FirebirdTestServer {
public:
    // Throws std::runtime_error when the server does not come up.
    FirebirdTestServer();
    ~FirebirdTestServer();
    FirebirdTestServer(const FirebirdTestServer &) = delete;
    FirebirdTestServer &operator=(const FirebirdTestServer &) = delete;

    int port() const { return m_port; }
    // "127.0.0.1/PORT", the server part of a connection name.
    QString address() const { return QStringLiteral("127.0.0.1/%1").arg(m_port); }
    // A folder for database files the server may use.
    QString dataFolder() const { return m_dir.filePath(QStringLiteral("data")); }

    void kill();  // SIGKILL, as a crash or a pulled cable would
    void start(); // again, on the same port
    // SIGSTOP and SIGCONT: a server machine that froze. The connections stay
    // open and the kernel still takes what is sent; nothing answers.
    void pause();
    void resume();

private:
    QTemporaryDir m_dir;
    int m_port = 0;
    pid_t m_pid = -1;
};

} // namespace pc::test
