#pragma once
// One running copy per program folder, whatever started it (the desktop, a
// timer, cron, another user's session): an exclusive lock on a file inside
// the program folder. The kernel drops the lock when its holder ends, so a
// copy that was killed never blocks the next start.
//
// The copy holding the lock listens on a local socket named after the same
// folder (InstanceChannel), through which a later copy hands over its work or
// asks the window to come to the front.

#include <QString>
#include <functional>
#include <optional>

#include <sys/types.h>

namespace pc {

class SingleInstance {
public:
    // programFolder: the folder of the executable (with or without a trailing "/").
    explicit SingleInstance(const QString &programFolder);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this process now holds the lock; false while another copy runs.
    bool acquire();
    // Tries again every 200 ms for up to timeoutMs; the idle hook runs between tries.
    bool acquire(int timeoutMs, const std::function<void()> &idle = {});
    bool held() const { return m_held; }
    QString lockFileName() const { return m_fileName; }
    // The user whose copy holds the lock, as the kernel tells it; none when
    // it cannot be told.
    std::optional<uid_t> holderUid() const;
    // The login name of the holder when that is another user, else empty.
    QString otherUserHolding() const;
    // «Программа уже запущена пользователем <user>»
    static QString runByOtherUserText(const QString &user);

    // The lock file of a program folder: inside it when the folder can be
    // written, else a file named after the folder in the user's private
    // folder (empty when the user has none). The lock file is opened without
    // following a link, and the holder's process id goes only into a file of
    // our own: a link or someone else's file put there is never written.
    static QString lockFileFor(const QString &programFolder);
    // The local socket of a program folder: in /tmp/pharmacy-client-<uid>
    // (not the session's runtime folder, which a timer or cron job does not
    // share). A folder of that name that is not the user's own is refused for
    // one in fallbackFolder() (PrivateFolder.h). Empty when there is none.
    static QString socketNameFor(const QString &programFolder);

private:
    QString m_fileName;
    int m_fd = -1;
    bool m_held = false;
    bool m_made = false; // this copy created the lock file
};

} // namespace pc
