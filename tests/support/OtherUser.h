#pragma once
// Another user of the machine, for what a second user could do to ours: make
// our folders in /tmp first, hold the program's lock, answer on a socket.
// The tests run as root here; the other user is nobody (65534), reached
// through setpriv. Where that is not possible the tests say so and skip.

#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace pc::test {

constexpr uid_t kOtherUid = 65534;

// Empty when this process can act as the other user, else why not.
QString otherUserUnavailable();

// The command line (program first) that runs `command` as the other user.
QStringList asOtherUser(const QStringList &command);

// A Python program for the other user, as a command line for asOtherUser():
// it locks `lockFile` exclusively ("-": none), listens on the local socket
// `socketPath` ("-": none) and answers every request there with `answer`;
// once ready it creates `readyFile`. It runs until it is killed.
QStringList impostor(const QString &lockFile, const QString &socketPath, const QString &answer, const QString &readyFile);

// A Python program that connects to `socketPath`, asks "show" and writes the
// one line it gets back (nothing when none comes within 5 s) to `replyFile`.
QStringList asker(const QString &socketPath, const QString &replyFile);

// The command line as one line for /bin/sh, each word quoted.
QString shellLine(const QStringList &command);

} // namespace pc::test
