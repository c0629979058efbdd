#include "platform/InstanceChannel.h"

#include "platform/SingleInstance.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QVariant>

#include <sys/socket.h>
#include <unistd.h>

namespace pc {

namespace {
// Only a copy run by the same user is talked to: whoever is at the other end
// of the socket is asked of the kernel, not of the socket's file.
bool peerIsThisUser(const QLocalSocket &socket)
{
    struct ucred cred {};
    socklen_t size = sizeof cred;
    const int fd = int(socket.socketDescriptor());
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && size == sizeof cred
        && cred.uid == geteuid();
}
} // namespace

InstanceServer::InstanceServer(const QString &programFolder, QObject *parent)
    : QObject(parent), m_name(SingleInstance::socketNameFor(programFolder)), m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &InstanceServer::accept);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::listen()
{
    if (m_name.isEmpty())
        return false;
    QLocalServer::removeServer(m_name);
    return m_server->listen(m_name);
}

void InstanceServer::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (!peerIsThisUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine() || socket->property("asked").toBool())
                return;
            socket->setProperty("asked", true);
            const QString request = QString::fromUtf8(socket->readLine()).trimmed();
            QPointer<QLocalSocket> guard(socket);
            Reply reply = [guard](const QString &line) {
                if (!guard)
                    return; // the asking copy has gone
                QString one = line;
                one.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
                guard->write(one.toUtf8() + '\n');
                guard->flush();
                guard->disconnectFromServer();
            };
            if (onRequest)
                onRequest(request, reply);
            else
                reply(QString());
        });
    }
}

QString askRunningCopy(const QString &programFolder, const QString &request, int connectMs, int replyMs)
{
    const QString name = SingleInstance::socketNameFor(programFolder);
    if (name.isEmpty())
        return QString();
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(connectMs))
        return QString();
    // A socket answered by another user's process is not our copy, whatever it says.
    if (!peerIsThisUser(socket))
        return QString();
    socket.write(request.toUtf8() + '\n');
    socket.flush();
    QElapsedTimer t;
    t.start();
    while (!socket.canReadLine()) {
        const qint64 left = replyMs - t.elapsed();
        if (left <= 0 || socket.state() != QLocalSocket::ConnectedState)
            break;
        socket.waitForReadyRead(int(std::min<qint64>(left, 1000)));
    }
    if (!socket.canReadLine())
        return QString();
    return QString::fromUtf8(socket.readLine()).trimmed();
}

} // namespace pc
