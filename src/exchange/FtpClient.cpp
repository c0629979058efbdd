#include "exchange/FtpClient.h"

#include "exchange/FtpListing.h"

#include "platform/CodePage.h"
#include "platform/WholeFile.h"

#include <QFile>
#include <QElapsedTimer>

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <map>
#include <utility>

#include <netinet/in.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pc {

FtpError::FtpError(Kind kind, const QString &message, const QString &serverReply)
    : std::runtime_error(message.toStdString()), m_kind(kind), m_message(message), m_serverReply(serverReply)
{
}

namespace {

void initCurlOnce()
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)initialised;
}

// Long enough below the usual idle time-outs of FTP servers that libcurl never
// tries to reuse a control connection the server has already given up.
constexpr long kMaxConnectionAgeSeconds = 60;
constexpr int kPollMs = 20;
constexpr long kLastResortReplySeconds = 3600;

// Control characters never reach the server (libcurl refuses some of them in
// an address and drops the session).
bool isBadName(const QString &name)
{
    if (name.isEmpty())
        return true;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

bool hasWildcard(const QString &name)
{
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
}

// One URL path segment: libcurl decodes it and sends it as one CWD or file
// argument, so "\Defect\1234" goes out unchanged.
QByteArray segment(const QString &name)
{
    return toCp1251(name).toPercentEncoding();
}

bool isValidHost(const QString &host)
{
    if (host.isEmpty())
        return false;
    for (QChar c : host) {
        if (c.unicode() > 127)
            return false;
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_')
              || c == QLatin1Char(':') || c == QLatin1Char('[') || c == QLatin1Char(']')))
            return false;
    }
    return true;
}

// libcurl 7.87 and 7.88 never start TLS on a data connection the server
// opened (active mode): the transfer hangs until the server gives up.
bool activeDataTlsBroken()
{
    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    return info && info->version_num >= 0x075700 && info->version_num < 0x080000;
}

int replyCode(const QString &reply)
{
    if (reply.size() < 3)
        return 0;
    bool ok = false;
    const int code = reply.left(3).toInt(&ok);
    return ok ? code : 0;
}

} // namespace

struct FtpClient::Impl {
    // Settings for the next connect().
    QString host;
    int port = 21;
    QString user;
    QString password;
    bool passive = true;
    FtpClient::Tls tls = FtpClient::Tls::Try;
    QString pin;
    int connectTimeoutMs = 30000;
    int responseTimeoutMs = 60000;
    int stallTimeoutMs = FtpClient::kStallTimeoutMs;
    std::function<void()> idle;
    std::function<void(qint64, qint64)> progress;

    // The session, fixed at connect(): a silent reconnect by libcurl logs in
    // with the same account even when the settings changed meanwhile.
    QByteArray sessionUrl;
    QByteArray sessionUser;
    QByteArray sessionPassword;
    bool sessionPassive = true;
    FtpClient::Tls sessionTls = FtpClient::Tls::Try;
    long sessionTlsLevel = CURLUSESSL_TRY; // libcurl's CURLOPT_USE_SSL
    QByteArray sessionPin;
    int sessionConnectTimeoutMs = 0;
    int sessionResponseTimeoutMs = 0;

    CURLM *multi = nullptr;
    CURL *easy = nullptr;
    bool connected = false;
    bool busy = false;
    bool disconnectPending = false;
    QStringList dirs;
    QString lastReply;
    QString opReply; // last reply line of the running operation
    QList<int> opCodes; // the reply codes of the running operation, in order

    // Per operation.
    QByteArray buffer;
    WholeFileWriter *out = nullptr;
    QFile *in = nullptr;
    bool localFailed = false;
    QString localError; // why the local file could not be written
    bool uploading = false;
    qint64 lastReported = -1;
    bool connectionAlive = false;
    curl_socket_t controlSocket = CURL_SOCKET_BAD;
    QElapsedTimer sinceLastOperation;
    std::exception_ptr callbackError;
    // Time since a byte last moved on either connection; an operation silent
    // for the silence limit is abandoned.
    QElapsedTimer sinceActivity;
    bool stalled = false;
    // Every socket libcurl opened for the session, with the bytes the peer
    // acknowledged and the bytes received on it when last looked at. Bytes
    // that have actually left or arrived are the activity; reading the local
    // file or a whole reply line is not the measure.
    struct SocketBytes {
        quint64 acked = 0;
        quint64 received = 0;
    };
    std::map<curl_socket_t, SocketBytes> sockets;
    // Sockets libcurl asked to close while bytes of an upload were still
    // on their way: shut for sending (the server sees the end of the file as
    // usual) and watched until the operation ends.
    std::vector<curl_socket_t> draining;

    ~Impl() { closeSession(); }

    // Before a cached connection is closed: libcurl hands a handle's reply
    // time-out to the handle that closes cached connections when the handle
    // is added, so that QUIT is waited for no longer than the reply time-out.
    void limitGoodbyeWait()
    {
        if (!easy || !multi)
            return;
        curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, replySeconds());
        curl_multi_add_handle(multi, easy);
        curl_multi_remove_handle(multi, easy);
    }

    long replySeconds() const
    {
        return std::max(1L, long((std::min(sessionResponseTimeoutMs > 0 ? sessionResponseTimeoutMs : responseTimeoutMs,
                                           stallTimeoutMs)
                                  + 999)
                                 / 1000));
    }

    // The shortest silence the session tolerates: the stall time, or the
    // reply time-out when that is shorter.
    int silenceLimitMs() const { return std::min(stallTimeoutMs, sessionResponseTimeoutMs > 0 ? sessionResponseTimeoutMs : responseTimeoutMs); }

    static bool readSocketBytes(curl_socket_t fd, SocketBytes &bytes)
    {
        tcp_info info{};
        socklen_t length = sizeof info;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
            return false;
        bytes.acked = info.tcpi_bytes_acked;
        bytes.received = info.tcpi_bytes_received;
        return true;
    }

    // True when a byte was acknowledged or received on any socket since the
    // last look; restarts the silence timer then.
    bool noteSocketActivity()
    {
        noteAcceptedClosed();
        bool moved = false;
        for (auto it = sockets.begin(); it != sockets.end();) {
            SocketBytes now;
            if (!readSocketBytes(it->first, now)) {
                it = sockets.erase(it);
                continue;
            }
            if (now.acked != it->second.acked || now.received != it->second.received)
                moved = true;
            it->second = now;
            ++it;
        }
        if (moved)
            sinceActivity.start();
        return moved;
    }

    void closeDraining()
    {
        for (curl_socket_t fd : draining) {
            sockets.erase(fd);
            ::close(fd);
        }
        draining.clear();
        for (const Accepted &a : accepted) {
            sockets.erase(a.copy);
            ::close(a.copy);
        }
        accepted.clear();
    }

    // A data connection the server opened (active mode). libcurl closes it
    // without asking us, so the last bytes of an upload would drain unseen:
    // a second descriptor keeps it observable. Once libcurl's descriptor is
    // gone, ours is shut for sending (the server sees the end of the file)
    // and watched until the operation ends.
    struct Accepted {
        curl_socket_t original;
        int copy;
        ino_t inode;
        bool shut;
    };
    std::vector<Accepted> accepted;

    static ino_t inodeOf(int fd)
    {
        struct stat st {};
        return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
    }

    void noteAcceptedClosed()
    {
        for (Accepted &a : accepted) {
            if (!a.shut && inodeOf(a.original) != a.inode) {
                ::shutdown(a.copy, SHUT_WR);
                a.shut = true;
            }
        }
    }

    static int onSocketOpened(void *self, curl_socket_t fd, curlsocktype purpose)
    {
        auto *d = static_cast<Impl *>(self);
        if (purpose == CURLSOCKTYPE_ACCEPT) {
            const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
            if (copy >= 0) {
                d->accepted.push_back({fd, copy, inodeOf(fd), false});
                d->sockets[copy] = SocketBytes{};
                return CURL_SOCKOPT_OK;
            }
        }
        d->sockets[fd] = SocketBytes{};
        return CURL_SOCKOPT_OK;
    }

    static int onSocketClose(void *self, curl_socket_t fd)
    {
        auto *d = static_cast<Impl *>(self);
        int unsent = 0;
        if (d->busy && d->sockets.count(fd) && ::ioctl(fd, SIOCOUTQ, &unsent) == 0 && unsent > 0) {
            ::shutdown(fd, SHUT_WR);
            d->draining.push_back(fd);
            return 0;
        }
        d->sockets.erase(fd);
        return ::close(fd);
    }

    void closeSession()
    {
        // The connection sits in the multi handle's cache; cleaning that up
        // sends QUIT on a connection that is still good, and waits for the
        // answer no longer than the reply time-out.
        limitGoodbyeWait();
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        easy = nullptr;
        multi = nullptr;
        controlSocket = CURL_SOCKET_BAD;
        closeDraining();
        sockets.clear();
        sinceLastOperation.invalidate();
        connected = false;
        dirs.clear();
    }

    QByteArray dirUrl(const QStringList &folders) const
    {
        QByteArray url = sessionUrl;
        for (const QString &f : folders)
            url += segment(f) + '/';
        return url;
    }

    QByteArray fileUrl(const QString &name) const { return dirUrl(dirs) + segment(name); }

    static size_t onHeader(char *data, size_t size, size_t count, void *self)
    {
        auto *d = static_cast<Impl *>(self);
        const size_t n = size * count;
        QByteArray line(data, qsizetype(n));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        // Replies start with a three-digit code; libcurl also passes made-up
        // "Content-Length:" lines here, which are no replies.
        if (line.size() >= 3 && std::isdigit(uchar(line[0])) && std::isdigit(uchar(line[1]))
            && std::isdigit(uchar(line[2]))) {
            d->opReply = fromCp1251(line);
            d->lastReply = d->opReply;
            d->opCodes << replyCode(d->opReply);
        }
        d->sinceActivity.start();
        return n;
    }

    static size_t onDiscard(char *, size_t size, size_t count, void *self)
    {
        if (self)
            static_cast<Impl *>(self)->sinceActivity.start();
        return size * count;
    }

    static size_t onWriteBuffer(char *data, size_t size, size_t count, void *self)
    {
        auto *d = static_cast<Impl *>(self);
        d->buffer.append(data, qsizetype(size * count));
        d->sinceActivity.start();
        return size * count;
    }

    static size_t onWriteFile(char *data, size_t size, size_t count, void *self)
    {
        auto *d = static_cast<Impl *>(self);
        const qint64 n = qint64(size * count);
        d->sinceActivity.start();
        try {
            d->out->write(data, n);
        } catch (const AppError &e) {
            // Never through libcurl: the transfer stops and get() reports it.
            d->localFailed = true;
            d->localError = e.message();
            return 0;
        }
        return size_t(n);
    }

    static size_t onRead(char *data, size_t size, size_t count, void *self)
    {
        auto *d = static_cast<Impl *>(self);
        const qint64 n = d->in->read(data, qint64(size * count));
        if (n < 0) {
            d->localFailed = true;
            return CURL_READFUNC_ABORT;
        }
        return size_t(n);
    }

    static int onProgress(void *self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow)
    {
        auto *d = static_cast<Impl *>(self);
        // libcurl also comes here about once a second while it waits for a
        // reply inside a blocking call (the one after an upload): the silence
        // rule holds there too.
        d->noteSocketActivity();
        if (!d->stalled && d->connected && d->sinceActivity.elapsed() > d->silenceLimitMs()) {
            // Ended as a reply time-out rather than aborted: libcurl then
            // takes the control connection for dead and does not wait for the
            // silent server a second time to say goodbye (QUIT). run() ends
            // the operation if libcurl is not inside such a wait.
            d->stalled = true;
            curl_easy_setopt(d->easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, 1L);
        }
        if (!d->progress)
            return 0;
        const qint64 done = d->uploading ? ulNow : dlNow;
        const qint64 total = d->uploading ? ulTotal : dlTotal;
        if (done == d->lastReported)
            return 0;
        d->lastReported = done;
        try {
            d->progress(done, total);
        } catch (...) {
            // No exception may cross libcurl's C frames: stop the transfer
            // and rethrow once libcurl has returned.
            d->callbackError = std::current_exception();
            return 1;
        }
        return 0;
    }

    void prepare(const QByteArray &url)
    {
        curl_easy_reset(easy);
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(easy, CURLOPT_USERNAME, sessionUser.constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, sessionPassword.constData());
        // A server that answers slowly but keeps sending is waited for: the
        // silence rule (run() and onProgress) ends an exchange in which no
        // byte moves. libcurl's own reply time-out counts from the command on
        // and is only the last resort.
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(sessionConnectTimeoutMs));
        curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, kLastResortReplySeconds);
        curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &Impl::onSocketOpened);
        curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, this);
        curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &Impl::onSocketClose);
        curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
        curl_easy_setopt(easy, CURLOPT_ACCEPTTIMEOUT_MS, long(sessionResponseTimeoutMs));
        // Straight to the server, whatever ftp_proxy or all_proxy say.
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, kMaxConnectionAgeSeconds);
        curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
        // AUTH TLS before the login, PBSZ 0 and PROT P after it.
        const bool required = sessionTls == FtpClient::Tls::Required;
        curl_easy_setopt(easy, CURLOPT_USE_SSL, sessionTlsLevel);
        curl_easy_setopt(easy, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
        curl_easy_setopt(easy, CURLOPT_FTP_SSL_CCC, long(CURLFTPSSL_CCC_NONE));
        const bool verify = required && sessionPin.isEmpty();
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
        if (!sessionPin.isEmpty())
            curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, sessionPin.constData());
        if (sessionPassive) {
            curl_easy_setopt(easy, CURLOPT_FTP_USE_EPSV, 0L);
        } else {
            curl_easy_setopt(easy, CURLOPT_FTPPORT, "-");
            curl_easy_setopt(easy, CURLOPT_FTP_USE_EPRT, 0L);
        }
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::onDiscard);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Impl::onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        opReply.clear();
        opCodes.clear();
        buffer.clear();
        out = nullptr;
        in = nullptr;
        localFailed = false;
        localError.clear();
        uploading = false;
        lastReported = -1;
        connectionAlive = false;
        callbackError = nullptr;
        stalled = false;
        sinceActivity.start();
    }

    // Runs the prepared (empty) transfer with commands sent after it: a command
    // the server refuses there keeps the connection, unlike one sent before.
    CURLcode runWithCommandsAfter(const QList<QByteArray> &lines)
    {
        curl_slist *commands = nullptr;
        for (const QByteArray &line : lines) {
            curl_slist *more = curl_slist_append(commands, line.constData());
            if (!more) {
                curl_slist_free_all(commands);
                return CURLE_OUT_OF_MEMORY;
            }
            commands = more;
        }
        curl_easy_setopt(easy, CURLOPT_POSTQUOTE, commands);
        CURLcode rc;
        try {
            rc = run();
        } catch (...) {
            curl_easy_setopt(easy, CURLOPT_POSTQUOTE, nullptr);
            curl_slist_free_all(commands);
            throw;
        }
        curl_easy_setopt(easy, CURLOPT_POSTQUOTE, nullptr);
        curl_slist_free_all(commands);
        return rc;
    }

    // Runs the prepared transfer through the multi interface, calling the
    // idle callback between polls, and notes whether the control connection
    // is still open afterwards.
    CURLcode run()
    {
        curl_multi_add_handle(multi, easy);
        CURLcode result = CURLE_RECV_ERROR;
        try {
            for (;;) {
                int running = 0;
                if (curl_multi_perform(multi, &running) != CURLM_OK) {
                    result = CURLE_OUT_OF_MEMORY;
                    break;
                }
                bool done = false;
                int queued = 0;
                while (CURLMsg *msg = curl_multi_info_read(multi, &queued)) {
                    if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                        result = msg->data.result;
                        done = true;
                    }
                }
                if (done || running == 0)
                    break;
                // The connection and the login have their own time-out.
                noteSocketActivity();
                if (stalled || (connected && sinceActivity.elapsed() > silenceLimitMs())) {
                    stalled = true;
                    result = CURLE_OPERATION_TIMEDOUT;
                    break;
                }
                curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
                if (idle)
                    idle();
            }
        } catch (...) {
            // Removing a running FTP transfer closes its control connection
            // (the goodbye to the server is not waited for long).
            curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, 1L);
            curl_multi_remove_handle(multi, easy);
            closeDraining();
            connectionAlive = false;
            controlSocket = CURL_SOCKET_BAD;
            connected = false;
            dirs.clear();
            throw;
        }
        if (stalled) {
            // Given up half-way: the connection goes with the transfer, and
            // the silent server is not waited for again to say goodbye.
            curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, 1L);
            curl_multi_remove_handle(multi, easy);
            closeDraining();
            connectionAlive = false;
            controlSocket = CURL_SOCKET_BAD;
            connected = false;
            dirs.clear();
            sinceLastOperation.start();
            return result;
        }
        controlSocket = CURL_SOCKET_BAD;
        curl_easy_getinfo(easy, CURLINFO_ACTIVESOCKET, &controlSocket);
        connectionAlive = controlSocket != CURL_SOCKET_BAD;
        sinceLastOperation.start();
        curl_multi_remove_handle(multi, easy);
        closeDraining();
        // A lost control connection ends the session.
        if (!connectionAlive) {
            connected = false;
            dirs.clear();
        }
        if (callbackError) {
            // The caller gave the operation up. The transfer may have ended
            // before libcurl noticed; either way the session ends, so that the
            // caller sees the same state whatever the timing.
            const std::exception_ptr error = std::exchange(callbackError, nullptr);
            closeSession();
            std::rethrow_exception(error);
        }
        return result;
    }

    // Before an operation on the open session. A server that hung up on an
    // idle connection (usually with "421 ... timed out") leaves the socket
    // readable; libcurl would reuse it and fail. Such a connection, or one
    // idle for long, is dropped so that libcurl connects and logs in afresh
    // and enters the current folder again.
    void renewIfStale()
    {
        bool stale = sinceLastOperation.isValid() && sinceLastOperation.elapsed() > kMaxConnectionAgeSeconds * 1000;
        if (!stale && controlSocket != CURL_SOCKET_BAD) {
            pollfd p{int(controlSocket), POLLIN, 0};
            stale = ::poll(&p, 1, 0) != 0;
        }
        if (!stale)
            return;
        limitGoodbyeWait();
        curl_multi_cleanup(multi);
        multi = curl_multi_init();
        controlSocket = CURL_SOCKET_BAD;
        if (!multi) {
            closeSession();
            throw FtpError(FtpError::Transfer, QStringLiteral("Повторное соединение: не хватает памяти (сервер не ответил)"),
                           QString());
        }
    }

    // Why libcurl gave up, in the person's words; its own text for the rest.
    static QString reasonOf(CURLcode code)
    {
        switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST: return QStringLiteral("адрес сервера не найден");
        case CURLE_COULDNT_CONNECT: return QStringLiteral("сервер не принимает соединений");
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL: return QStringLiteral("неверный адрес сервера");
        case CURLE_FTP_WEIRD_SERVER_REPLY: return QStringLiteral("сервер ответил не как FTP-сервер");
        case CURLE_LOGIN_DENIED: return QStringLiteral("неверное имя пользователя или пароль");
        case CURLE_USE_SSL_FAILED: return QStringLiteral("сервер не поддерживает защищённое соединение TLS");
        case CURLE_PEER_FAILED_VERIFICATION: return QStringLiteral("сертификат сервера не подтверждён");
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return QStringLiteral("ключ сертификата сервера не тот, что указан поставщиком");
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED: return QStringLiteral("не удалось установить защищённое соединение TLS");
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_FTP_ACCEPT_TIMEOUT: return QStringLiteral("сервер не отвечает");
        case CURLE_UPLOAD_FAILED: return QStringLiteral("сервер не принял файл");
        case CURLE_FTP_COULDNT_RETR_FILE: return QStringLiteral("сервер не отдал файл");
        case CURLE_FTP_PORT_FAILED:
        case CURLE_FTP_ACCEPT_FAILED:
        case CURLE_FTP_WEIRD_PASV_REPLY:
        case CURLE_FTP_CANT_GET_HOST: return QStringLiteral("не удалось открыть соединение для передачи данных");
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING: return QStringLiteral("соединение с сервером прервано");
        default:
            return QStringLiteral("ошибка обмена с сервером (%1)").arg(QString::fromUtf8(curl_easy_strerror(code)));
        }
    }

    FtpError error(CURLcode code, const QString &what, FtpError::Kind otherKind, const QString &localReason = {},
                   bool mapNotFound = true) const
    {
        FtpError::Kind kind = otherKind;
        QString reason = reasonOf(code);
        const int reply = replyCode(opReply);
        const bool silent = stalled
            || (code == CURLE_OPERATION_TIMEDOUT && reply != 421 && sinceActivity.isValid()
                && sinceActivity.elapsed() >= stallTimeoutMs - stallTimeoutMs / 10);
        if (silent) {
            kind = FtpError::Timeout;
            reason = QStringLiteral("%1 с ничего не получено и не отправлено, обмен прерван")
                         .arg(((stalled ? silenceLimitMs() : stallTimeoutMs) + 999) / 1000);
        } else if (reply == 421) {
            // libcurl reports every 421 as a time-out; the server said it
            // would not serve us and closed the connection.
            kind = otherKind == FtpError::Connect ? FtpError::Connect : FtpError::Refused;
            reason = QStringLiteral("сервер отказал в обслуживании и закрыл соединение");
        } else switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_FTP_WEIRD_SERVER_REPLY:
            kind = otherKind == FtpError::Connect ? FtpError::Connect : FtpError::Transfer;
            break;
        case CURLE_LOGIN_DENIED:
            kind = FtpError::Login;
            break;
        case CURLE_USE_SSL_FAILED:
            kind = FtpError::TlsRefused;
            break;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
            kind = FtpError::TlsFailed;
            break;
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_FTP_ACCEPT_TIMEOUT:
            kind = FtpError::Timeout;
            break;
        case CURLE_REMOTE_FILE_NOT_FOUND:
            kind = FtpError::NotFound;
            break;
        case CURLE_WRITE_ERROR:
        case CURLE_READ_ERROR:
        case CURLE_ABORTED_BY_CALLBACK:
            if (localFailed) {
                kind = FtpError::LocalFile;
                reason = localReason;
            }
            break;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_FTP_COULDNT_RETR_FILE:
        case CURLE_UPLOAD_FAILED:
        case CURLE_FTP_PORT_FAILED:
        case CURLE_FTP_ACCEPT_FAILED:
        case CURLE_FTP_WEIRD_PASV_REPLY:
        case CURLE_FTP_CANT_GET_HOST:
            if (otherKind != FtpError::Connect)
                kind = FtpError::Transfer;
            break;
        default:
            break;
        }
        // 550: the file or folder does not exist (the usual wording of the
        // supplier's server and of most others).
        if (reply == 550 && mapNotFound && kind != FtpError::Login && kind != FtpError::LocalFile
            && kind != FtpError::TlsRefused && kind != FtpError::TlsFailed && !silent)
            kind = FtpError::NotFound;
        // "not found" stays in the text: callers tell a missing file by it.
        if (kind == FtpError::NotFound)
            reason = QStringLiteral("нет на сервере (not found)");
        const QString server = opReply.isEmpty() ? QStringLiteral("сервер не ответил")
                                                 : QStringLiteral("ответ сервера: ") + opReply;
        return FtpError(kind, what + QStringLiteral(": ") + reason + QStringLiteral(" (") + server + QLatin1Char(')'),
                        opReply);
    }

    void requireConnected()
    {
        if (!connected)
            throw FtpError(FtpError::NotConnected, QStringLiteral("Нет соединения с FTP-сервером"), QString());
        renewIfStale();
    }

    // Marks an operation as running; refuses a second one started from a
    // callback and carries out a disconnect() asked for meanwhile.
    class Running {
    public:
        explicit Running(Impl &d) : m_d(d)
        {
            if (d.busy)
                throw FtpError(FtpError::Busy, QStringLiteral("Обмен с сервером уже идёт"), QString());
            d.busy = true;
        }
        ~Running()
        {
            m_d.busy = false;
            if (m_d.disconnectPending) {
                m_d.disconnectPending = false;
                m_d.closeSession();
            }
        }
        Running(const Running &) = delete;
        Running &operator=(const Running &) = delete;

    private:
        Impl &m_d;
    };
};

namespace {
void checkName(const QString &name, const QString &what)
{
    if (isBadName(name))
        throw FtpError(FtpError::BadName, what + QStringLiteral(": недопустимое имя \"") + name + QLatin1Char('"'), QString());
}
} // namespace

FtpClient::FtpClient() : d(std::make_unique<Impl>()) { initCurlOnce(); }

FtpClient::~FtpClient() = default;

void FtpClient::setHost(const QString &host) { d->host = host.trimmed(); }
void FtpClient::setPort(int port) { d->port = port; }
void FtpClient::setUserName(const QString &user) { d->user = user; }
void FtpClient::setPassword(const QString &password) { d->password = password; }
void FtpClient::setPassive(bool passive) { d->passive = passive; }
void FtpClient::setTls(Tls tls) { d->tls = tls; }
void FtpClient::setPinnedPublicKey(const QString &pin) { d->pin = pin.trimmed(); }
FtpClient::Tls FtpClient::tls() const { return d->tls; }
bool FtpClient::canProtectActiveData() { return !activeDataTlsBroken(); }
QString FtpClient::host() const { return d->host; }
int FtpClient::port() const { return d->port; }
QString FtpClient::userName() const { return d->user; }
bool FtpClient::passive() const { return d->passive; }
void FtpClient::setConnectTimeout(int ms) { d->connectTimeoutMs = std::max(1, ms); }
void FtpClient::setResponseTimeout(int ms) { d->responseTimeoutMs = std::max(1, ms); }
void FtpClient::setStallTimeout(int ms) { d->stallTimeoutMs = std::max(1, ms); }
void FtpClient::setIdleCallback(std::function<void()> idle) { d->idle = std::move(idle); }
void FtpClient::setProgressCallback(std::function<void(qint64, qint64)> progress) { d->progress = std::move(progress); }
bool FtpClient::isConnected() const { return d->connected; }
QStringList FtpClient::currentDir() const { return d->dirs; }
QString FtpClient::lastReply() const { return d->lastReply; }

void FtpClient::connect()
{
    Impl::Running running(*d);
    d->closeSession();
    const QString what = QStringLiteral("Соединение с %1:%2").arg(d->host).arg(d->port);
    if (!isValidHost(d->host))
        throw FtpError(FtpError::Connect, what + QStringLiteral(": неверный адрес сервера (сервер не ответил)"), QString());
    if (d->port <= 0 || d->port > 65535)
        throw FtpError(FtpError::Connect, what + QStringLiteral(": неверный порт (сервер не ответил)"), QString());

    const QString hostPart = d->host.contains(QLatin1Char(':')) && !d->host.startsWith(QLatin1Char('['))
        ? QLatin1Char('[') + d->host + QLatin1Char(']')
        : d->host;
    d->sessionUrl = QStringLiteral("ftp://%1:%2/").arg(hostPart).arg(d->port).toLatin1();
    d->sessionUser = toCp1251(d->user);
    d->sessionPassword = toCp1251(d->password);
    d->sessionPassive = d->passive;
    d->sessionTls = d->tls;
    d->sessionPin = d->pin.toLatin1();
    // In active mode with a libcurl that cannot protect the data connections
    // only the control connection (the login) is protected, when the server
    // offers TLS; required TLS cannot be had there at all.
    const bool dataTlsBroken = !d->passive && activeDataTlsBroken();
    if (d->tls == Tls::Required && dataTlsBroken)
        throw FtpError(FtpError::TlsFailed,
                       what + QStringLiteral(": в активном режиме FTP передача данных не может быть защищена, "
                                             "включите «Пассивный FTP» (сервер не ответил)"),
                       QString());
    d->sessionTlsLevel = d->tls == Tls::Required ? CURLUSESSL_ALL : dataTlsBroken ? CURLUSESSL_CONTROL : CURLUSESSL_TRY;
    d->sessionConnectTimeoutMs = d->connectTimeoutMs;
    d->sessionResponseTimeoutMs = d->responseTimeoutMs;

    d->multi = curl_multi_init();
    d->easy = curl_easy_init();
    if (!d->multi || !d->easy) {
        d->closeSession();
        throw FtpError(FtpError::Connect, what + QStringLiteral(": не хватает памяти (сервер не ответил)"), QString());
    }
    // A request without a body on the login folder: connect, USER, PASS, PWD.
    d->prepare(d->sessionUrl);
    curl_easy_setopt(d->easy, CURLOPT_NOBODY, 1L);
    CURLcode rc = d->run();
    if (rc == CURLE_USE_SSL_FAILED && d->sessionTlsLevel == CURLUSESSL_CONTROL) {
        // Only tried: a server without TLS is logged in to in the clear.
        d->sessionTlsLevel = CURLUSESSL_NONE;
        d->limitGoodbyeWait();
        curl_multi_cleanup(d->multi);
        d->multi = curl_multi_init();
        if (d->multi) {
            d->prepare(d->sessionUrl);
            curl_easy_setopt(d->easy, CURLOPT_NOBODY, 1L);
            rc = d->run();
        } else {
            rc = CURLE_OUT_OF_MEMORY;
        }
    }
    if (rc != CURLE_OK || !d->connectionAlive) {
        FtpError e = d->error(rc == CURLE_OK ? CURLE_COULDNT_CONNECT : rc, what, FtpError::Connect);
        d->closeSession();
        throw e;
    }
    d->connected = true;
}

void FtpClient::disconnect()
{
    if (d->busy) {
        d->disconnectPending = true;
        return;
    }
    d->closeSession();
}

qint64 FtpClient::size(const QString &remoteName)
{
    const QString what = QStringLiteral("Размер файла ") + remoteName;
    checkName(remoteName, what);
    Impl::Running running(*d);
    d->requireConnected();
    d->prepare(d->fileUrl(remoteName));
    curl_easy_setopt(d->easy, CURLOPT_NOBODY, 1L);
    const CURLcode rc = d->run();
    if (rc == CURLE_OK) {
        curl_off_t length = -1;
        curl_easy_getinfo(d->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        return length;
    }
    if (rc == CURLE_REMOTE_FILE_NOT_FOUND || replyCode(d->opReply) == 550)
        return -1;
    throw d->error(rc, what, FtpError::Refused);
}

void FtpClient::get(const QString &remoteName, const QString &localPath)
{
    const QString what = QStringLiteral("Получение файла ") + remoteName;
    checkName(remoteName, what);
    Impl::Running running(*d);
    d->requireConnected();
    // The download replaces the local file only when every byte of it is on
    // the disk; a full disk or any other write failure keeps the old file.
    WholeFileWriter out(localPath);
    try {
        out.open();
    } catch (const AppError &e) {
        throw FtpError(FtpError::LocalFile, what + QStringLiteral(": ") + e.message() + QStringLiteral(" (сервер не ответил)"),
                       QString());
    }
    d->prepare(d->fileUrl(remoteName));
    d->out = &out;
    curl_easy_setopt(d->easy, CURLOPT_WRITEFUNCTION, &Impl::onWriteFile);
    curl_easy_setopt(d->easy, CURLOPT_WRITEDATA, d.get());
    const CURLcode rc = d->run();
    d->out = nullptr;
    if (rc != CURLE_OK) {
        out.cancel();
        throw d->error(rc, what, FtpError::Transfer, d->localError);
    }
    try {
        out.commit();
    } catch (const AppError &e) {
        throw FtpError(FtpError::LocalFile,
                       what + QStringLiteral(": ") + e.message() + QStringLiteral(" (ответ сервера: ") + d->opReply
                           + QLatin1Char(')'),
                       d->opReply);
    }
}

void FtpClient::put(const QString &localPath, const QString &remoteName)
{
    const QString what = QStringLiteral("Отправка файла ") + remoteName;
    checkName(remoteName, what);
    Impl::Running running(*d);
    d->requireConnected();
    QFile in(localPath);
    if (!in.open(QIODevice::ReadOnly))
        throw FtpError(FtpError::LocalFile,
                       what + QStringLiteral(": не удалось прочитать ") + localPath + QStringLiteral(": ") + in.errorString()
                           + QStringLiteral(" (сервер не ответил)"),
                       QString());
    d->prepare(d->fileUrl(remoteName));
    d->in = &in;
    d->uploading = true;
    curl_easy_setopt(d->easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(d->easy, CURLOPT_READFUNCTION, &Impl::onRead);
    curl_easy_setopt(d->easy, CURLOPT_READDATA, d.get());
    curl_easy_setopt(d->easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(in.size()));
    const CURLcode rc = d->run();
    d->in = nullptr;
    if (rc != CURLE_OK)
        throw d->error(rc, what, FtpError::Transfer,
                       QStringLiteral("не удалось прочитать ") + localPath + QStringLiteral(": ") + in.errorString());
}

void FtpClient::changeDir(const QString &path)
{
    const QString what = QStringLiteral("Переход в папку ") + path;
    checkName(path, what);
    Impl::Running running(*d);
    d->requireConnected();
    QStringList folders = d->dirs;
    if (path.startsWith(QLatin1Char('\\')) || path.startsWith(QLatin1Char('/')))
        folders.clear();
    folders << path;
    d->prepare(d->dirUrl(folders));
    curl_easy_setopt(d->easy, CURLOPT_NOBODY, 1L);
    const CURLcode rc = d->run();
    if (rc != CURLE_OK)
        throw d->error(rc, what, FtpError::Refused);
    if (d->connected)
        d->dirs = folders;
}

QStringList FtpClient::list(const QString &mask)
{
    const QString what = QStringLiteral("Список файлов ") + (mask.isEmpty() ? QStringLiteral("*") : mask);
    if (!mask.isEmpty())
        checkName(mask, what);
    Impl::Running running(*d);
    d->requireConnected();
    d->prepare(d->dirUrl(d->dirs));
    QByteArray request("NLST");
    if (!mask.isEmpty())
        request += ' ' + toCp1251(mask);
    curl_easy_setopt(d->easy, CURLOPT_CUSTOMREQUEST, request.constData());
    curl_easy_setopt(d->easy, CURLOPT_WRITEFUNCTION, &Impl::onWriteBuffer);
    curl_easy_setopt(d->easy, CURLOPT_WRITEDATA, d.get());
    const CURLcode rc = d->run();
    QStringList names;
    if (rc != CURLE_OK) {
        // Windows servers answer 550 when no file matches the mask.
        if (d->connected && replyCode(d->opReply) == 550)
            return names;
        throw d->error(rc, what, FtpError::Refused);
    }
    return NameListFromReply(d->buffer);
}

void FtpClient::deleteFile(const QString &remoteName)
{
    const QString what = QStringLiteral("Удаление файла ") + remoteName;
    checkName(remoteName, what);
    // One file at a time: a server may take a mask here and delete them all.
    if (hasWildcard(remoteName))
        throw FtpError(FtpError::BadName, what + QStringLiteral(": недопустимое имя \"") + remoteName + QLatin1Char('"'), QString());
    Impl::Running running(*d);
    d->requireConnected();
    d->prepare(d->dirUrl(d->dirs));
    curl_easy_setopt(d->easy, CURLOPT_NOBODY, 1L);
    const CURLcode rc = d->runWithCommandsAfter({QByteArray("DELE ") + toCp1251(remoteName)});
    if (rc != CURLE_OK)
        throw d->error(rc, what, FtpError::Refused);
}

} // namespace pc

namespace pc {

void FtpClient::rename(const QString &from, const QString &to)
{
    const QString what = QStringLiteral("Переименование ") + from + QStringLiteral(" в ") + to;
    checkName(from, what);
    checkName(to, what);
    Impl::Running running(*d);
    d->requireConnected();
    d->prepare(d->dirUrl(d->dirs));
    curl_easy_setopt(d->easy, CURLOPT_NOBODY, 1L);
    const CURLcode rc =
        d->runWithCommandsAfter({QByteArray("RNFR ") + toCp1251(from), QByteArray("RNTO ") + toCp1251(to)});
    // A 550 to RNTO (after RNFR's 350) is a refusal, not a missing file.
    if (rc != CURLE_OK)
        throw d->error(rc, what, FtpError::Refused, {}, !d->opCodes.contains(350));
}

} // namespace pc
