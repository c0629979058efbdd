#pragma once
// Process-wide signal handling.
//
// An embedded database attached in this process must never see an asynchronous
// signal handler run: the engine's detach then spins forever. main() therefore
// blocks the termination and child signals in every thread before anything
// else, and takes SIGINT/SIGTERM/SIGHUP synchronously through a signalfd.

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace pc {

// Blocks SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2 in the calling
// thread (and every thread started later). Call first thing in main().
void blockProcessSignals();

// Points the embedded engine's lock folder at /tmp/firebird-<uid>, one per
// user whatever the session's environment, unless FIREBIRD_LOCK is already
// set. Call before the first database call.
void setFirebirdLockFolder();

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
