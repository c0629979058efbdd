#pragma once
// Folders of our own in places every user may write to (/tmp): the folder
// of the local socket between copies, and the database engine's lock folder.
//
// Another user could make such a folder first, under the name we would use,
// and so answer for us or block us. A folder is taken only when it is a real
// folder (not a link) owned by this user; group and other permissions are
// taken off it, and that change is checked. A folder that fails is refused
// and a private one is used instead (see fallbackFolder()).

#include <QString>

#include <sys/types.h>

namespace pc {

// Makes `path` (created 0700 when missing; its parent must exist) a folder
// only this user can enter. An empty text when it may be used, else the
// reason in Russian.
QString claimPrivateFolder(const QString &path);

// Where a copy puts its private things when the shared place is refused:
// the user's runtime folder /run/user/<uid> when it is the user's own and
// 0700, else ~/.cache under the home folder, with a folder
// "pharmacy-client" of its own in it. It depends on the user only, not on
// the session's environment: a copy started by a timer or cron must find
// the same folder as the desktop's copy. Empty when neither can be used
// (`why`, when given, then says why).
QString fallbackFolder(QString *why = nullptr);

// The user's login name, or the number when the system has no name for it.
QString userName(uid_t uid);

// Bytes free for an ordinary user on the file system of `path`; -1 when it
// cannot be told.
qint64 freeBytes(const QString &path);

} // namespace pc
