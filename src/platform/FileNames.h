#pragma once
// Names that come from outside (a server listing, an archive, the supplier's
// banner.ini) and become local file names must stay inside their folder and
// never take the place of a file of the program.

#include <QString>
#include <QStringList>

namespace pc {

// True for a plain name: not empty or blank, no "/" or "\", no "..", not ".",
// no control character, no wildcard.
inline bool isPlainFileName(const QString &name)
{
    if (name.trimmed().isEmpty() || name == QLatin1String(".") || name.contains(QLatin1Char('/'))
        || name.contains(QLatin1Char('\\')) || name.contains(QStringLiteral("..")))
        return false;
    // Control characters (a server's listing may carry ESC or a line break)
    // and wildcards never name one file.
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QLatin1Char('*') || c == QLatin1Char('?'))
            return false;
    return true;
}

// The name as a log line can carry it: control characters become "?".
inline QString printableName(QString name)
{
    for (QChar &c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    return name;
}

// The file beside the program that holds the supplier's public key: program
// updates are installed only when signed with its private half.
inline QString supplierKeyFileName() { return QStringLiteral("supplier.pub"); }

// Why a name from outside may not become a file in one of the program's
// folders; empty when it may. The name must be plain (see isPlainFileName),
// must not start with a dot, must not be a file or folder of the program
// itself (the program, the launcher, the settings, the database, the lock,
// the supplier's key, Update, Orders, Data ...), and must match `accepted`:
// an entry starting with "." is an extension (".dbf"), any other entry a
// whole name ("update"); letter case does not matter. An empty `accepted`
// takes any extension. `unwanted` is set when the name is harmless and only
// of a kind the caller has no use for.
QString foreignNameRefusal(const QString &name, const QStringList &accepted, bool *unwanted = nullptr);

// The same for a relative path the pharmacy may have laid out below the
// program folder ("Banner\a.htm"): every part is checked as a plain name and
// the last one as above. A path that climbs out or starts at the root is refused.
QString foreignPathRefusal(const QString &path, const QStringList &accepted);

} // namespace pc
