#pragma once
// Names that come from outside (a server listing, an archive) and become
// local file names must stay inside their folder.

#include <QString>

namespace pc {

// True for a plain name: not empty or blank, no "/" or "\", no "..", not ".",
// no NUL character.
inline bool isPlainFileName(const QString &name)
{
    return !name.trimmed().isEmpty() && name != QLatin1String(".") && !name.contains(QLatin1Char('/'))
        && !name.contains(QLatin1Char('\\')) && !name.contains(QStringLiteral("..")) && !name.contains(QChar(0));
}

} // namespace pc
