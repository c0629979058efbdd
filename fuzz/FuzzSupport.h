#pragma once
// What the fuzz targets share: a scratch folder in memory, writing a file, and
// writing each target's seed inputs when asked.
//
// Every target writes its seeds and exits when PC_FUZZ_WRITE_SEEDS names a
// folder (fuzz/seeds.sh does that for all of them), so no input file needs
// to be kept in the repository.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <utility>
#include <vector>

namespace pc::fuzz {

using Seeds = std::vector<std::pair<QString, QByteArray>>;

// Memory-backed when possible: rewriting files on disk thousands of times a
// second would measure the file system, not the code under test.
inline QString scratchRoot()
{
    return QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
}

// A process that crashes, runs out of time or is killed (every finding, every
// job of -fork) never removes its folder, and in /dev/shm that is memory kept
// until the machine restarts. Each folder carries its process id; the folders
// of processes that are gone are removed at the next start.
inline void removeStaleFolders()
{
    const QDir root(scratchRoot());
    for (const QString &name : root.entryList({QStringLiteral("pc-fuzz-*")}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = name.mid(8).section(QLatin1Char('-'), 0, 0).toLongLong(&ok);
        if (ok && pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            QDir(root.filePath(name)).removeRecursively();
    }
}

inline QTemporaryDir &workDir()
{
    static QTemporaryDir dir(scratchRoot() + QStringLiteral("/pc-fuzz-%1-XXXXXX").arg(::getpid()));
    return dir;
}

inline QString workFile(const QString &name) { return QDir(workDir().path()).filePath(name); }

inline void writeFile(const QString &path, const char *data, qsizetype size)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data, size);
}

inline void writeFile(const QString &path, const QByteArray &bytes) { writeFile(path, bytes.constData(), bytes.size()); }

// Called from LLVMFuzzerInitialize: writes the seeds and exits when asked,
// otherwise makes sure the scratch folder exists.
template <class MakeSeeds>
void initialize(MakeSeeds makeSeeds)
{
    if (const char *seedDir = std::getenv("PC_FUZZ_WRITE_SEEDS")) {
        const QString path = QString::fromLocal8Bit(seedDir);
        QDir().mkpath(path);
        const QDir dir(path);
        const Seeds all = makeSeeds();
        for (const auto &[name, bytes] : all)
            writeFile(dir.filePath(name), bytes);
        std::printf("%zu seeds written to %s\n", all.size(), seedDir);
        std::exit(0);
    }
    removeStaleFolders();
    if (!workDir().isValid())
        std::abort();
}

} // namespace pc::fuzz
