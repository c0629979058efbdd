#pragma once
// FTP client for the exchange with the supplier's server (libcurl underneath).
//
// One object lives for the whole run. Set host, port, user, password and the
// passive flag, then connect(); the connection (one control connection, one
// login) is kept across the operations until disconnect(). Remote names and
// paths are sent exactly as given, backslashes included: changeDir("\\Defect\\1234")
// sends "CWD \Defect\1234". Names travel in code page 1251, the code page of
// the supplier's Windows server.
//
// Every operation blocks the calling thread, but calls the idle callback about
// every 20 ms while it waits, so the window layer can keep the window painted
// (process events there). Starting another operation from inside a callback
// is refused with FtpError::Busy. An exception thrown by a callback abandons
// the operation: it reaches the caller, a download leaves the local file as it
// was, and the session ends (isConnected() turns false).
//
// The session is protected by TLS whenever the server offers it (AUTH TLS,
// then PBSZ 0 and PROT P, so that the data connections are protected too):
// the user name and password go in the clear only to a server without TLS,
// and not even then when TLS is required. See setTls().
//
// No proxy is used, whatever the environment says (ftp_proxy, all_proxy).
// A reply 421 (service not available) is reported as a refusal, not as a
// time-out.
//
// Failures raise FtpError. Once the server was asked, the text ends with the
// server's last reply line of the operation in parentheses, or with "(no reply
// from the server)"; a missing remote file or folder (reply 550) always
// carries "not found" in the text. NotConnected, Busy and BadName are raised
// before anything is sent.

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>

namespace pc {

class FtpError : public std::runtime_error {
public:
    enum Kind {
        NotConnected, // an operation without a connection
        Busy,         // an operation started while another one runs
        BadName,      // a name or mask with a control character, or empty; a mask to delete
        Connect,      // host unknown, port closed, no FTP greeting
        Login,        // user name or password refused
        Timeout,      // the server stopped answering
        NotFound,     // the remote file or folder does not exist (550)
        Refused,      // the server refused the command for another reason
        Transfer,     // the data transfer broke off or the connection was lost
        LocalFile,    // the local file could not be read, written or renamed
        TlsRefused,   // TLS is required and the server does not offer it
        TlsFailed,    // the TLS handshake failed or the certificate was not trusted
    };

    FtpError(Kind kind, const QString &message, const QString &serverReply);
    Kind kind() const { return m_kind; }
    const QString &message() const { return m_message; }
    // The server's last reply line of the failed operation; empty when none came.
    const QString &serverReply() const { return m_serverReply; }

private:
    Kind m_kind;
    QString m_message;
    QString m_serverReply;
};

class FtpClient {
public:
    FtpClient();
    ~FtpClient(); // disconnects
    FtpClient(const FtpClient &) = delete;
    FtpClient &operator=(const FtpClient &) = delete;

    // Connection settings; they take effect at the next connect().
    void setHost(const QString &host);
    void setPort(int port); // 21 by default
    void setUserName(const QString &user);
    void setPassword(const QString &password);
    void setPassive(bool passive); // true by default; false = active (PORT)
    // Try (the default): TLS when the server offers it, else the session goes
    // on in the clear; the certificate is not checked then (a server without
    // TLS would be accepted anyway, and suppliers often sign their own), only
    // its key when pinned. Required: a server that does not offer TLS is
    // refused before the user name is sent, and the certificate must be
    // trusted by the system or carry the pinned key.
    enum class Tls { Try, Required };
    void setTls(Tls tls);
    // The public key the server's certificate must carry, as libcurl takes
    // it: "sha256//<base64 of the key's SHA-256>", several joined by ";".
    // Empty: none. With a pin a self-signed certificate is accepted, and a
    // certificate with another key refused, in either mode.
    void setPinnedPublicKey(const QString &pin);
    Tls tls() const;
    // False where libcurl cannot protect a data connection the server opens
    // (active mode; libcurl 7.87 and 7.88): there Try protects the login
    // only, and Required is refused in active mode.
    static bool canProtectActiveData();
    QString host() const;
    int port() const;
    QString userName() const;
    bool passive() const;

    // Time allowed for the TCP connection, the greeting and the login
    // (30 s by default).
    void setConnectTimeout(int ms);
    // Time the server may stay silent on the control or data connection once
    // logged in (60 s by default; counted in whole seconds, at least 1; the
    // stall time below when that is shorter).
    void setResponseTimeout(int ms);
    // An operation during which no byte moves on either connection for this
    // long is abandoned with FtpError::Timeout, and the session ends.
    static constexpr int kStallTimeoutMs = 30000;
    void setStallTimeout(int ms);

    // Called about every 20 ms while an operation waits for the network.
    void setIdleCallback(std::function<void()> idle);
    // Bytes moved so far and the total when known (else 0), during get and put.
    void setProgressCallback(std::function<void(qint64 done, qint64 total)> progress);

    // Opens the control connection and logs in (USER/PASS). A connection that
    // is already open is closed first. Throws FtpError (Connect, Login, Timeout).
    void connect();
    // True from a successful connect() until disconnect() or until a failure
    // lost the control connection.
    bool isConnected() const;
    // Says QUIT (waiting for the reply at most the response time-out) and
    // closes the connection; never throws. The current folder returns to the
    // login folder. Asked from a callback, it takes effect when the running
    // operation ends.
    void disconnect();

    // Size of a remote file in bytes (SIZE); -1 when the server does not tell
    // it (no such file, or SIZE refused): a later get() reports the reason.
    qint64 size(const QString &remoteName);
    // Downloads a remote file (RETR) into a temporary file beside localPath and
    // renames it over localPath only when the whole file has arrived; a failed
    // download leaves an existing localPath untouched.
    void get(const QString &remoteName, const QString &localPath);
    // Uploads a local file (STOR), replacing a remote file of that name.
    void put(const QString &localPath, const QString &remoteName);
    // Changes the remote folder (CWD). A path starting with "\" or "/" replaces
    // the current folder, any other is entered from the current one. Throws
    // (NotFound for a missing folder) and keeps the old folder on failure.
    void changeDir(const QString &path);
    // The folders entered since the login, as sent with CWD.
    QStringList currentDir() const;
    // Names of the files in the current folder matching the mask (NLST mask;
    // all names when the mask is empty), exactly as the server lists them.
    QStringList list(const QString &mask = QString());
    // Deletes a remote file (DELE).
    void deleteFile(const QString &remoteName);
    // Renames a remote file in the current folder (RNFR, RNTO); a file under
    // the new name is replaced where the server allows it. A refused rename
    // keeps the connection; NotFound only when the old name does not exist.
    void rename(const QString &from, const QString &to);

    // The server's last reply line (e.g. "226 Transfer complete.").
    QString lastReply() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Routes the client's progress reports to `progress` for one operation's
// lifetime and removes the route afterwards, however the operation ends.
class FtpProgressScope {
public:
    FtpProgressScope(FtpClient &ftp, const std::function<void(qint64 done, qint64 total)> &progress) : m_ftp(ftp)
    {
        if (progress)
            m_ftp.setProgressCallback(progress);
    }
    ~FtpProgressScope() { m_ftp.setProgressCallback({}); }
    FtpProgressScope(const FtpProgressScope &) = delete;
    FtpProgressScope &operator=(const FtpProgressScope &) = delete;

private:
    FtpClient &m_ftp;
};

} // namespace pc
