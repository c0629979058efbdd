#pragma once
// Names that come from outside (a server listing, an archive) and become
// local file names must stay inside their folder.

#include <QString>

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

} // namespace pc
