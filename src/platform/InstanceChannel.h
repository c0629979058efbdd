#pragma once
// The local socket between copies of the program on one program folder. The
// copy holding the single-copy lock listens; a later copy asks it something
// and gets one line back:
//   "show"               the window comes to the front      -> "window" (or "job")
//   "job <kind>"         a job handed to the running window -> "done <code> <summary>",
//                        "busy" (the window cannot take it now) or "job"
//                        (the holder is itself a job)
// Requests and replies are one line of UTF-8 text each. Both ends ask the
// kernel who is at the other end (SO_PEERCRED): a process of another user is
// neither answered nor believed.

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;

namespace pc {

class InstanceServer : public QObject {
    Q_OBJECT
public:
    explicit InstanceServer(const QString &programFolder, QObject *parent = nullptr);
    ~InstanceServer() override;
    // Listens on the folder's socket (a socket file left by a killed copy is
    // replaced: only the lock holder listens). False when it cannot.
    bool listen();

    // Answers one request; `reply` may be called later (once).
    using Reply = std::function<void(const QString &line)>;
    std::function<void(const QString &request, Reply reply)> onRequest;

private:
    void accept();
    QString m_name;
    QLocalServer *m_server;
};

// Asks the copy holding the lock. Returns its reply, or an empty text when no
// copy answered within connectMs or it gave no full reply within replyMs.
QString askRunningCopy(const QString &programFolder, const QString &request, int connectMs, int replyMs);

} // namespace pc
