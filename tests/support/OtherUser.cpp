#include "OtherUser.h"

#include <QFile>

#include <unistd.h>

namespace pc::test {

namespace {
const char kImpostor[] = R"(
import fcntl, os, socket, sys, time
lock, path, answer, ready = sys.argv[1:5]
if lock != '-':
    fd = os.open(lock, os.O_RDONLY)
    fcntl.flock(fd, fcntl.LOCK_EX)
server = None
if path != '-':
    if os.path.exists(path):
        os.unlink(path)
    server = socket.socket(socket.AF_UNIX)
    server.bind(path)
    os.chmod(path, 0o777)
    server.listen(8)
open(ready, 'w').close()
while True:
    if server is None:
        time.sleep(3600)
        continue
    conn, _ = server.accept()
    conn.settimeout(5)
    try:
        conn.recv(4096)
        conn.sendall(os.fsencode(answer) + b'\n')
    except OSError:
        pass
    conn.close()
)";

const char kAsker[] = R"(
import socket, sys
reply = b''
try:
    s = socket.socket(socket.AF_UNIX)
    s.settimeout(5)
    s.connect(sys.argv[1])
    s.sendall(b'show\n')
    while not reply.endswith(b'\n'):
        chunk = s.recv(4096)
        if not chunk:
            break
        reply += chunk
except OSError:
    pass
open(sys.argv[2], 'wb').write(reply)
)";
} // namespace

QString otherUserUnavailable()
{
    if (geteuid() != 0)
        return QStringLiteral("not run as root: no second user to act as");
    for (const char *tool : {"/usr/bin/setpriv", "/usr/bin/python3"})
        if (!QFile::exists(QString::fromLatin1(tool)))
            return QStringLiteral("%1 is missing").arg(QString::fromLatin1(tool));
    return QString();
}

QStringList asOtherUser(const QStringList &command)
{
    return QStringList{QStringLiteral("/usr/bin/setpriv"), QStringLiteral("--reuid=%1").arg(kOtherUid),
                       QStringLiteral("--regid=%1").arg(kOtherUid), QStringLiteral("--clear-groups")}
        + command;
}

QStringList impostor(const QString &lockFile, const QString &socketPath, const QString &answer, const QString &readyFile)
{
    return {QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"), QString::fromLatin1(kImpostor), lockFile, socketPath, answer,
            readyFile};
}

QStringList asker(const QString &socketPath, const QString &replyFile)
{
    return {QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"), QString::fromLatin1(kAsker), socketPath, replyFile};
}

QString shellLine(const QStringList &command)
{
    QStringList words;
    for (QString word : command)
        words << QLatin1Char('\'') + word.replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
    return words.join(QLatin1Char(' '));
}

} // namespace pc::test
