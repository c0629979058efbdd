#include "platform/DesktopShortcut.h"

#include "platform/AppError.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

// The entry's template is the one the installation writes (share/client.desktop.in).
static void initDesktopResource() { Q_INIT_RESOURCE(desktop); }

namespace pc {

namespace {

QString cleanFolder(const QString &folder) { return QDir::cleanPath(QDir(folder).absolutePath()); }

// A value as a desktop entry writes it: a backslash doubled, line breaks escaped.
QString entryValue(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return text;
}

// Text inside the double quotes of an Exec argument: the characters the
// launcher's quoting reserves get a backslash, a per cent sign is doubled.
QString execArgument(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            out += QLatin1Char('%');
        out += c;
    }
    return out;
}

QString templateText()
{
    initDesktopResource();
    QFile f(QStringLiteral(":/desktop/client.desktop.in"));
    if (!f.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Не найден образец ярлыка программы"));
    return QString::fromUtf8(f.readAll());
}

// The value of a key of the [Desktop Entry] group, as written; empty when missing.
QString keyValue(const QString &entry, const QString &key)
{
    bool inGroup = false;
    const QString prefix = key + QLatin1Char('=');
    for (QString line : entry.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.startsWith(prefix))
            return line.mid(prefix.size());
    }
    return QString();
}

void writeEntry(const QString &file, const QByteArray &text)
{
    writeWholeFile(file, text);
    // A launcher on the desktop is started only when it is executable.
    ::chmod(QFile::encodeName(file).constData(), 0755);
}

} // namespace

QString folderShortcutFile(const QString &folder)
{
    return cleanFolder(folder) + QStringLiteral("/client.desktop");
}

QByteArray desktopEntryText(const QString &folder)
{
    const QString dir = cleanFolder(folder);
    QStringList lines = templateText().split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.startsWith(QLatin1String("Exec=")))
            line.replace(QLatin1String("@DIR@"), entryValue(execArgument(dir)));
        else
            line.replace(QLatin1String("@DIR@"), entryValue(dir));
    }
    return lines.join(QLatin1Char('\n')).toUtf8();
}

bool desktopEntryNamesFolder(const QByteArray &entry, const QString &folder)
{
    const QString expected = QString::fromUtf8(desktopEntryText(folder));
    const QString given = QString::fromUtf8(entry);
    for (const QString key : {QStringLiteral("Exec"), QStringLiteral("Path"), QStringLiteral("Icon")})
        if (keyValue(given, key) != keyValue(expected, key))
            return false;
    return true;
}

bool refreshFolderShortcut(const QString &folder)
{
    const QString file = folderShortcutFile(folder);
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    if (desktopEntryNamesFolder(f.readAll(), folder))
        return false;
    f.close();
    writeEntry(file, desktopEntryText(folder));
    return true;
}

QStringList desktopShortcutFiles()
{
    const QString name = QStringLiteral("vorn-client.desktop");
    QStringList files;
    for (const auto location : {QStandardPaths::ApplicationsLocation, QStandardPaths::DesktopLocation}) {
        const QString dir = QStandardPaths::writableLocation(location);
        if (!dir.isEmpty())
            files << QDir::cleanPath(dir) + QLatin1Char('/') + name;
    }
    return files;
}

QStringList createDesktopShortcuts(const QString &folder)
{
    const QByteArray text = desktopEntryText(folder);
    const QStringList files = desktopShortcutFiles();
    for (const QString &file : files) {
        const QString dir = QFileInfo(file).absolutePath();
        if (!QDir().mkpath(dir))
            throw AppError(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(dir)));
        writeEntry(file, text);
    }
    return files;
}

} // namespace pc
