#pragma once
// Process-wide signal handling.
//
// An embedded database attached in this process must never see an asynchronous
// signal handler run: the engine's detach then spins forever. main() therefore
// blocks the termination and child signals in every thread before anything
// else, and takes SIGINT/SIGTERM/SIGHUP synchronously through a signalfd.

#include <QObject>
#include <QString>
#include <functional>

class QSocketNotifier;

namespace pc {

// Blocks SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2 in the calling
// thread (and every thread started later). Call first thing in main().
void blockProcessSignals();

// Points the embedded engine's lock folder at /tmp/firebird-<uid>, one per
// user whatever the session's environment, unless FIREBIRD_LOCK is already
// set. Call before the first database call.
// A folder of that name that is not the user's own is refused, and so is one
// that cannot be written or has too little room (the engine maps its lock
// files and dies of SIGBUS on a full /tmp): the user's private folder
// (fallbackFolder() in PrivateFolder.h) is used instead. Returns an empty
// text when the engine has a usable folder, else what is wrong, in Russian;
// the embedded engine must not be started then.
QString setFirebirdLockFolder();

// Reads the blocked termination signals from a signalfd inside the event loop
// and calls the handler once per signal received.
class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    explicit TerminationWatcher(std::function<void(int)> handler, QObject *parent = nullptr);
    ~TerminationWatcher() override;
    bool isValid() const { return m_fd >= 0; }

private:
    void readSignal();
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::function<void(int)> m_handler;
};

} // namespace pc
