#pragma once
// A real FTP server for tests: tests/support/ftp_server.py (pyftpdlib) run
// with Debian's /usr/bin/python3 on 127.0.0.1 and a free port.
//
// Each account has its home folder under a temporary root; the server accepts
// "\" as path separator and DOS-style masks, and writes every command line it
// receives to a log the test can read. The server is started with posix_spawn
// (SIGCHLD stays blocked in tests), dies with the test process, and is killed
// (SIGKILL) and reaped in the destructor.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

namespace pc::test {

class FtpTestServer {
public:
    struct User {
        QString name;
        QString password;
    };
    enum class Mode {
        Normal,
        Silent,   // accepts connections and never answers, not even a greeting
        DropRetr, // RETR sends half of the file, then closes both connections
    };
    struct Options {
        QList<User> users = {{QStringLiteral("1234"), QStringLiteral("secret")},
                             {QStringLiteral("Order"), QStringLiteral("orderpass")}};
        Mode mode = Mode::Normal;
        QString hangOn; // a command verb after which the server stops answering
        int idleTimeoutMs = 0; // closes idle control connections after this (0: 300 s)
        // Explicit FTP over TLS (AUTH TLS) with a self-signed certificate for
        // 127.0.0.1 made at start: Offered answers AUTH TLS; Required also
        // refuses the login without TLS and data connections without PROT P.
        enum class Tls { None, Offered, Required } tls = Tls::None;
    };

    // A fault the server injects into the commands it receives.
    struct Fault {
        enum Action {
            Reply, // answer `reply` instead of carrying the command out (a 421 also hangs up)
            Drop,  // STOR/RETR: move `bytes` bytes, then close both connections without
                   // a reply; any other command: close the connection at once
            Stall, // STOR/RETR: move `bytes` bytes, then the whole server sleeps for
                   // `seconds`; any other command: sleep before answering
            Slow,  // STOR/RETR: move the data at `rate` bytes a second
            Drip,  // answer `reply` one byte every `seconds` instead of carrying the command out
            Vanish, // carry the command out, then close the connection instead of answering
        };
        QString verb;       // e.g. "STOR"
        QString argMask;    // DOS mask the argument's last path part must match; empty: any
        Action action = Reply;
        QString reply = QStringLiteral("550 Refused by the test.");
        qint64 bytes = 0;
        double seconds = 3600;
        int times = 0; // how many times it fires; 0: always
        qint64 rate = 65536; // Slow: bytes a second
        bool onlyIfExists = false; // fires only while the argument names an existing file
    };

    FtpTestServer(); // the default Options
    // Throws std::runtime_error when the server does not come up.
    explicit FtpTestServer(const Options &options);
    ~FtpTestServer();
    FtpTestServer(const FtpTestServer &) = delete;
    FtpTestServer &operator=(const FtpTestServer &) = delete;

    int port() const { return m_port; }
    // With TLS: the certificate's public key as libcurl pins it ("sha256//…").
    QString publicKeyPin() const { return m_pin; }
    // The local folder behind an account's "/" (created at start).
    QString home(const QString &user) const;
    // Every command line received so far, in order (PASS with its password).
    QStringList commands() const;
    // The received lines starting with the verb (e.g. "CWD").
    QStringList commands(const QString &verb) const;
    // Waits up to timeoutMs until a line equal to `line` has been received.
    bool waitForCommand(const QString &line, int timeoutMs = 2000) const;
    // Forgets the commands received so far.
    void clearCommands();
    // Replaces the faults injected from the next command on (none at start);
    // the counts of `times` start anew.
    void setFaults(const QList<Fault> &faults);
    void clearFaults() { setFaults({}); }
    // Kills the server now (a server that went away); the port stays closed.
    void stop();
    bool isRunning() const { return m_pid > 0; }

private:
    void start(const Options &options);

    QTemporaryDir m_dir;
    QString m_logPath;
    QString m_faultsPath;
    pid_t m_pid = -1;
    int m_port = 0;
    QString m_pin;
};

} // namespace pc::test
