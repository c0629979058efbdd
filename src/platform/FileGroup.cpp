#include "platform/FileGroup.h"

#include "platform/AppError.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace pc {

namespace {

const QByteArray kMagic = "file-group 1";

QByteArray nativeName(const QString &fileName) { return QFile::encodeName(fileName); }

void syncFolder(const QString &folder)
{
    const int dir = ::open(nativeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return;
    ::fsync(dir);
    ::close(dir);
}

bool plainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !name.contains(QLatin1Char('/'))
        && !name.contains(QLatin1Char('\\'));
}

// A regular file (not a link) of this user.
bool ownRegularFile(const QString &path)
{
    struct stat st {};
    return ::lstat(nativeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid();
}

struct Entry {
    QString temp, target;
};

// The journal's entries; `whole` tells whether it is complete and names only
// allowed targets and their own temporary files.
std::vector<Entry> readJournal(const QByteArray &bytes, const QStringList &allowed, bool &whole)
{
    std::vector<Entry> entries;
    whole = false;
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() < 2 || lines.first() != kMagic)
        return entries;
    bool allGood = true;
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        const QList<QByteArray> parts = lines[i].split('\t');
        if (parts.size() != 2) {
            allGood = false;
            continue;
        }
        const Entry e{QString::fromUtf8(parts[0]), QString::fromUtf8(parts[1])};
        // Only a temporary file of its own target is ever renamed or removed.
        if (!plainName(e.temp) || !plainName(e.target) || !isWholeFileTemp(e.temp)
            || !e.temp.startsWith(e.target + QStringLiteral(".~"))) {
            allGood = false;
            continue;
        }
        if (!allowed.contains(e.target))
            allGood = false;
        entries.push_back(e);
    }
    const QByteArray end = "end " + QByteArray::number(qsizetype(lines.size() - 2));
    whole = allGood && lines.last() == end;
    return entries;
}

} // namespace

bool isWholeFileTemp(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^.+\\.~[0-9a-z]{1,5}$"));
    return pattern.match(fileName).hasMatch();
}

void replaceFilesTogether(const QString &journal, const std::vector<FileContent> &files)
{
    const QString folder = QFileInfo(journal).absolutePath() + QLatin1Char('/');
    QStringList temps;
    auto dropTemps = [&temps] {
        for (const QString &t : temps)
            ::unlink(nativeName(t).constData());
    };
    QByteArray text = kMagic + '\n';
    try {
        for (const FileContent &f : files) {
            const QString target = QFileInfo(f.fileName).fileName();
            if (QFileInfo(f.fileName).absolutePath() + QLatin1Char('/') != folder)
                throw AppError(QStringLiteral("Файл %1 не в папке %2").arg(f.fileName, folder));
            WholeFileWriter writer(f.fileName);
            writer.open();
            writer.write(f.bytes);
            temps << writer.commitAside();
            text += QFileInfo(temps.last()).fileName().toUtf8() + '\t' + target.toUtf8() + '\n';
        }
        text += "end " + QByteArray::number(qsizetype(files.size())) + '\n';
        // From the moment the journal is on the disk the change is made: a
        // crash from here on is completed at the next start.
        writeWholeFile(journal, text);
    } catch (...) {
        dropTemps();
        throw;
    }
    QStringList failed;
    int error = 0;
    for (qsizetype i = 0; i < temps.size(); ++i) {
        const QString &target = files[size_t(i)].fileName;
        int failure = fileFaultAt(FileStep::Rename, target, files[size_t(i)].bytes.size());
        if (!failure && ::rename(nativeName(temps[i]).constData(), nativeName(target).constData()) != 0)
            failure = errno;
        if (failure) {
            error = failure;
            failed << QDir::toNativeSeparators(target);
        }
    }
    syncFolder(folder);
    if (!failed.isEmpty())
        throw AppError(QStringLiteral("Не удалось заменить файлы %1: %2. Замена будет завершена при следующем запуске программы")
                           .arg(failed.join(QStringLiteral(", ")), fileErrorReason(error)));
    ::unlink(nativeName(journal).constData());
    syncFolder(folder);
}

JournalOutcome completeInterruptedReplace(const QString &journal, const QStringList &allowed)
{
    QFile f(journal);
    if (!f.exists())
        return JournalOutcome::None;
    const QString folder = QFileInfo(journal).absolutePath() + QLatin1Char('/');
    QByteArray bytes;
    if (ownRegularFile(journal) && f.open(QIODevice::ReadOnly))
        bytes = f.read(64 * 1024);
    f.close();
    bool whole = false;
    const std::vector<Entry> entries = readJournal(bytes, allowed, whole);
    for (const Entry &e : entries) {
        const QString temp = folder + e.temp;
        if (!ownRegularFile(temp))
            continue; // renamed already, before the crash
        if (whole)
            ::rename(nativeName(temp).constData(), nativeName(folder + e.target).constData());
        else
            ::unlink(nativeName(temp).constData());
    }
    syncFolder(folder);
    ::unlink(nativeName(journal).constData());
    syncFolder(folder);
    return whole ? JournalOutcome::Completed : JournalOutcome::Discarded;
}

QStringList removeStaleTempFiles(const QString &folder)
{
    QStringList removed;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!isWholeFileTemp(name))
            continue;
        const QString path = dir.filePath(name);
        if (ownRegularFile(path) && ::unlink(nativeName(path).constData()) == 0)
            removed << name;
    }
    return removed;
}

} // namespace pc
