#include "FtpTestServer.h"

#include "CleanSpawn.h"

#include "platform/Process.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace pc::test {

namespace {
constexpr const char *kPython = "/usr/bin/python3";
constexpr int kStartTimeoutMs = 15000;

// Reads the port line the server prints once it listens.
int readPort(int fd, int timeoutMs)
{
    std::string text;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, int(std::max<qint64>(1, deadline.remainingTime())));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        char buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, size_t(n));
        const auto eol = text.find('\n');
        if (eol != std::string::npos)
            return std::atoi(text.substr(0, eol).c_str());
    }
    return 0;
}
// A throw-away self-signed certificate for 127.0.0.1 (an EC key: made in a
// few milliseconds); returns the pin of its public key.
QString makeCertificate(const QString &cert, const QString &key)
{
    const QString openssl = QStringLiteral("/usr/bin/openssl");
    const pc::RunResult made = pc::runAndCapture(
        openssl,
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
         "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
        QString(), 30000);
    if (made.status != pc::RunResult::Finished || made.exitCode != 0)
        throw std::runtime_error("FtpTestServer: openssl made no certificate: " + made.errors.toStdString());
    const pc::RunResult der = pc::runAndCapture(openssl, {"pkey", "-in", key, "-pubout", "-outform", "DER"}, QString(), 30000);
    if (der.exitCode != 0 || der.output.isEmpty())
        throw std::runtime_error("FtpTestServer: openssl gave no public key: " + der.errors.toStdString());
    return QStringLiteral("sha256//")
           + QString::fromLatin1(QCryptographicHash::hash(der.output, QCryptographicHash::Sha256).toBase64());
}

} // namespace

FtpTestServer::FtpTestServer() : FtpTestServer(Options()) {}

FtpTestServer::FtpTestServer(const Options &options)
{
    if (!m_dir.isValid())
        throw std::runtime_error("FtpTestServer: no temporary folder");
    start(options);
}

FtpTestServer::~FtpTestServer() { stop(); }

void FtpTestServer::start(const Options &options)
{
    const QString root = m_dir.filePath(QStringLiteral("root"));
    QDir().mkpath(root);
    m_logPath = m_dir.filePath(QStringLiteral("commands.log"));
    QFile(m_logPath).open(QIODevice::WriteOnly);
    m_faultsPath = m_dir.filePath(QStringLiteral("faults.json"));
    setFaults({});
    const QByteArray errPath = QFile::encodeName(m_dir.filePath(QStringLiteral("server.err")));

    std::vector<QByteArray> args{kPython, PC_TEST_FTP_SERVER, "--root", QFile::encodeName(root), "--log",
                                 QFile::encodeName(m_logPath), "--faults", QFile::encodeName(m_faultsPath),
                                 "--parent-pid", QByteArray::number(::getpid())};
    for (const User &u : options.users) {
        args.emplace_back("--user");
        args.push_back((u.name + QLatin1Char(':') + u.password).toUtf8());
    }
    args.emplace_back("--mode");
    args.emplace_back(options.mode == Mode::Silent     ? "silent"
                      : options.mode == Mode::DropRetr ? "drop-retr"
                                                       : "normal");
    if (!options.hangOn.isEmpty()) {
        args.emplace_back("--hang-on");
        args.push_back(options.hangOn.toUtf8());
    }
    if (options.idleTimeoutMs > 0) {
        args.emplace_back("--idle-timeout");
        args.push_back(QByteArray::number(options.idleTimeoutMs / 1000.0));
    }
    if (options.tls != Options::Tls::None) {
        const QString cert = m_dir.filePath(QStringLiteral("cert.pem"));
        const QString key = m_dir.filePath(QStringLiteral("key.pem"));
        m_pin = makeCertificate(cert, key);
        for (const QByteArray &a : {QByteArray("--tls"), QByteArray(options.tls == Options::Tls::Required ? "require" : "offer"),
                                    QByteArray("--cert"), QFile::encodeName(cert), QByteArray("--key"), QFile::encodeName(key)})
            args.push_back(a);
    }
    std::vector<char *> argv = pc::test::argvOf(args);

    // Debian's interpreter must not pick up settings meant for another one.
    std::vector<char *> envp;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "PYTHON", 6) != 0)
            envp.push_back(*e);
    envp.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("FtpTestServer: pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    CleanSpawnAttributes clean;
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, kPython, &actions, &clean.attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        throw std::runtime_error(std::string("FtpTestServer: cannot start ") + kPython + ": " + std::strerror(rc));
    }
    m_pid = pid;
    m_port = readPort(fds[0], kStartTimeoutMs);
    ::close(fds[0]);
    if (m_port <= 0) {
        stop();
        QFile err(QFile::decodeName(errPath));
        err.open(QIODevice::ReadOnly);
        throw std::runtime_error("FtpTestServer: the server did not start: " + err.readAll().toStdString());
    }
}

void FtpTestServer::stop()
{
    if (m_pid <= 0)
        return;
    signalAndReap(m_pid, SIGKILL, 5000);
    m_pid = -1;
}

QString FtpTestServer::home(const QString &user) const
{
    return m_dir.filePath(QStringLiteral("root/") + user);
}

QStringList FtpTestServer::commands() const
{
    QFile f(m_logPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList FtpTestServer::commands(const QString &verb) const
{
    QStringList result;
    for (const QString &line : commands())
        if (line.section(QLatin1Char(' '), 0, 0).compare(verb, Qt::CaseInsensitive) == 0)
            result << line;
    return result;
}

bool FtpTestServer::waitForCommand(const QString &line, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (commands().contains(line))
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
}

void FtpTestServer::clearCommands()
{
    QFile f(m_logPath);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

} // namespace pc::test

namespace pc::test {

void FtpTestServer::setFaults(const QList<Fault> &faults)
{
    QJsonArray list;
    for (const Fault &f : faults) {
        QJsonObject o;
        o[QStringLiteral("verb")] = f.verb;
        o[QStringLiteral("arg")] = f.argMask;
        o[QStringLiteral("action")] = f.action == Fault::Drop    ? QStringLiteral("drop")
                                      : f.action == Fault::Stall ? QStringLiteral("stall")
                                      : f.action == Fault::Slow  ? QStringLiteral("slow")
                                      : f.action == Fault::Drip  ? QStringLiteral("drip")
                                      : f.action == Fault::Vanish ? QStringLiteral("vanish")
                                                                 : QStringLiteral("reply");
        o[QStringLiteral("rate")] = double(f.rate);
        o[QStringLiteral("exists")] = f.onlyIfExists;
        o[QStringLiteral("reply")] = f.reply;
        o[QStringLiteral("bytes")] = double(f.bytes);
        o[QStringLiteral("seconds")] = f.seconds;
        o[QStringLiteral("times")] = f.times;
        list.append(o);
    }
    // Whole or not at all: the server reads the file before every command.
    QSaveFile file(m_faultsPath);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("FtpTestServer: cannot write the faults file");
    file.write(QJsonDocument(list).toJson(QJsonDocument::Compact));
    if (!file.commit())
        throw std::runtime_error("FtpTestServer: cannot write the faults file");
}

} // namespace pc::test
