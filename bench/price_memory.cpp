// Resident memory of the program's data side with the price list open: the
// peak of a fresh process that starts the Qt application, attaches the
// database and opens the price list as the program does, and the bytes the
// rows themselves take (the dataset's storage and the name index) against
// their raw value bytes. The list is made by this program first; the
// measuring process is a second start of it.
#include "BenchClient.h"

#include "app/ClientApplication.h"
#include "platform/Signals.h"

#include <QFile>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// A field of /proc/self/status in kB.
double statusMB(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

size_t nameIndexBytes(const pc::TDM &dm)
{
#if __has_include("db/DatasetNameIndex.h")
    return dm.NameIndex().MemoryBytes();
#else
    size_t total = size_t(dm.NameIndex().size()) * sizeof(void *);
    for (const QString &s : dm.NameIndex())
        total += 32 + size_t(s.capacity() + 1) * 2; // header, characters and the allocator's word
    return total;
#endif
}

int measure(const char *folder, int rows, qint64 raw)
{
    const double start = statusMB("VmRSS:");
    pc::AppContext context{QString::fromLocal8Bit(folder)};
    ScriptedDialogs dialogs;
    RecordingLog log;
    pc::TDM dm(context, dialogs, log);
    pc::PriceGrid grid;
    grid.clientCode = [] { return QStringLiteral("1234"); };
    grid.markupPercent = [] { return 0.0; };
    dm.CreateFirebirdObjects();
    grid.install(dm);
    dm.SetConnected(true);
    const double attached = statusMB("VmRSS:");
    dm.OpenDatabase();
    if (!dm.PriceSet() || dm.PriceSet()->RecordCount() != rows) {
        std::printf("WARNING: the price list holds %d rows\n", dm.PriceSet() ? dm.PriceSet()->RecordCount() : -1);
        return 1;
    }
    // Scroll through it as a person would, and filter once.
    grid.edPriceFilterChange(QStringLiteral("аспирин"));
    grid.edPriceFilterChange(QString());
    const double open = statusMB("VmRSS:");
    const double peak = statusMB("VmHWM:");
    const double storage = double(dm.PriceSet()->StorageBytes()) / 1048576.0;
    const double index = double(nameIndexBytes(dm)) / 1048576.0;
    const double rawMB = double(raw) / 1048576.0;
    bench::result("price_memory", rows, "peak_rss", peak, "MB", peak / 70.0, "goal_70MB");
    bench::result("price_memory", rows, "rss_before_attach", start, "MB");
    bench::result("price_memory", rows, "rss_growth_attach", attached - start, "MB");
    bench::result("price_memory", rows, "rss_growth_open", open - attached, "MB");
    bench::result("price_memory", rows, "dataset_storage", storage, "MB", storage / rawMB, "raw");
    bench::result("price_memory", rows, "name_index", index, "MB", index / rawMB, "raw");
    bench::result("price_memory", rows, "rows_part", storage + index, "MB", (storage + index) / rawMB, "raw");
    return 0;
}

int spawnMeasure(char *self, const QString &folder, int rows, qint64 raw)
{
    QByteArray a1 = "--measure=" + folder.toLocal8Bit(), a2 = "--n=" + QByteArray::number(rows),
               a3 = "--raw=" + QByteArray::number(raw);
    char *args[] = {self, a1.data(), a2.data(), a3.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args, environ) != 0)
        return 1;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0)
        usleep(20000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

QByteArray option(int argc, char **argv, const char *name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, std::strlen(name)) == 0)
            return QByteArray(argv[i] + std::strlen(name));
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();
    ClientApplication app(argc, argv);
    const QByteArray folder = option(argc, argv, "--measure=");
    if (!folder.isEmpty())
        return measure(folder.constData(), option(argc, argv, "--n=").toInt(), option(argc, argv, "--raw=").toLongLong());
    int failed = 0;
    for (int rows : bench::rowCounts(argc, argv)) {
        bench::Client c(rows);
        const QString path = c.dir.path();
        const qint64 raw = c.raw;
        c.dm->SetConnected(false);
        failed |= spawnMeasure(argv[0], path, rows, raw);
    }
    return failed;
}
