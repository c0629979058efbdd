#include "platform/FileNames.h"

namespace pc {

namespace {

// Files of the program folder and of Data/ that are the program's own: what
// runs, what it is set up with, what it keeps, what it unpacks with.
const QStringList &ownFiles()
{
    static const QStringList names{
        QStringLiteral("client"),         QStringLiteral("client.exe"),      QStringLiteral("vorn"),
        QStringLiteral("vorn.exe"),       QStringLiteral("client.ini"),      QStringLiteral("server.ini"),
        QStringLiteral("exchange.ini"),   QStringLiteral("bkclient.ini"),    QStringLiteral("log.ini"),
        QStringLiteral("zakaz.ini"),      QStringLiteral("job-result.ini"),  QStringLiteral("history.log"),
        QStringLiteral("client.gdb"),     QStringLiteral("client_prev.gdb"), QStringLiteral("client_empty.gdb"),
        QStringLiteral("pricein.dbf"),    QStringLiteral("price.dbf"),       QStringLiteral("priceold.dbf"),
        QStringLiteral("order_i.dbf"),    QStringLiteral("start.htm"),       QStringLiteral("info.htm"),
        QStringLiteral("update.html"),    QStringLiteral("price.arc"),       QStringLiteral("price.zip"),
        QStringLiteral("unzip"),          QStringLiteral("unzip.exe"),       QStringLiteral("unarc"),
        QStringLiteral("unarc.exe"),      QStringLiteral("client.svg"),      QStringLiteral("client.desktop"),
        supplierKeyFileName()};
    return names;
}

// The program's folders; "update" (the new version an archive brings) is
// another name than the folder "Update".
const QStringList &ownFolders()
{
    static const QStringList names{QStringLiteral("Update"), QStringLiteral("Orders"), QStringLiteral("Data")};
    return names;
}

} // namespace

QString foreignNameRefusal(const QString &name, const QStringList &accepted, bool *unwanted)
{
    if (unwanted)
        *unwanted = false;
    if (name.trimmed().isEmpty())
        return QStringLiteral("пустое имя");
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\'))
        || (name.size() > 1 && name.at(1) == QLatin1Char(':')))
        return QStringLiteral("это путь от корня диска");
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QStringLiteral("в имени есть путь к папке");
    if (name.contains(QStringLiteral("..")))
        return QStringLiteral("в имени есть \"..\"");
    if (name.startsWith(QLatin1Char('.')))
        return QStringLiteral("имя скрытого файла");
    if (!isPlainFileName(name))
        return QStringLiteral("в имени есть недопустимые знаки");
    if (ownFiles().contains(name, Qt::CaseInsensitive) || ownFolders().contains(name))
        return QStringLiteral("это имя файла самой программы");
    if (accepted.isEmpty())
        return QString();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    for (const QString &a : accepted) {
        if (a.startsWith(QLatin1Char('.')) ? extension.compare(a, Qt::CaseInsensitive) == 0
                                            : name.compare(a, Qt::CaseInsensitive) == 0)
            return QString();
    }
    if (unwanted)
        *unwanted = true;
    return QStringLiteral("файлы такого вида программе не нужны");
}

QString foreignPathRefusal(const QString &path, const QStringList &accepted)
{
    if (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\'))
        || (path.size() > 1 && path.at(1) == QLatin1Char(':')))
        return QStringLiteral("это путь от корня диска");
    QStringList parts = QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    const QString last = parts.takeLast();
    for (const QString &folder : parts) {
        if (folder == QLatin1String(".."))
            return QStringLiteral("в имени есть \"..\"");
        if (folder.isEmpty() || folder.startsWith(QLatin1Char('.')) || !isPlainFileName(folder))
            return QStringLiteral("в пути есть недопустимая папка \"%1\"").arg(printableName(folder));
    }
    return foreignNameRefusal(last, accepted);
}

} // namespace pc
