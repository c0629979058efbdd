#pragma once
// Attaching again to a database server that went away, in the background:
// a thread of its own tries, waits longer after each failure (half a second
// at first, then up to ten seconds), and keeps trying until it succeeds or
// is stopped, however many tries fail. The window's thread never waits on
// it: the fresh attachment is taken with takeReady(), and onReady is called
// on the thread that made this object (when it runs an event loop).
//
// A try that never returns (a server that stopped answering) holds only its
// own thread; stopping or destroying the object leaves it behind.

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QObject;

namespace pc {

namespace fb {
class Database;
}

class Reattacher {
public:
    struct Target {
        QString name; // connection name, "host/port:path"
        QString user, password;
        int pageBuffers = 0;
        int connectTimeoutSeconds = 5;
    };

    explicit Reattacher(std::function<void()> onReady = {});
    ~Reattacher();
    Reattacher(const Reattacher &) = delete;
    Reattacher &operator=(const Reattacher &) = delete;

    // Starts trying (at once); does nothing while a try is running or an
    // attachment waits to be taken.
    void start(const Target &target);
    void stop();
    bool isRunning() const;
    // The fresh attachment once a try succeeded, else nullptr.
    std::unique_ptr<fb::Database> takeReady();
    // Failed tries since the last start.
    int failures() const;

    // The pause after `failures` failed tries in a row.
    static std::chrono::milliseconds delayAfter(int failures);

    struct State;

private:
    std::shared_ptr<State> m_state;
    std::unique_ptr<QObject> m_context;
};

} // namespace pc
