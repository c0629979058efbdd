// A miniature of the program's process set-up for the signals test: blocks the
// signals as main() does, attaches a database, runs an outside program, then
// waits for a termination signal and ends normally, detaching the database.
//   signal_probe <database file> <ready file>
#include "db/firebird/Database.h"
#include "platform/Process.h"
#include "platform/Signals.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char **argv)
{
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    pc::fb::Database db;
    db.attach(QString::fromLocal8Bit(argv[1]));
    const pc::RunResult r = pc::runAndWait(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 0")}, QString(), 5000);
    if (r.status != pc::RunResult::Finished)
        return 3;
    pc::TerminationWatcher watcher([](int) { QCoreApplication::quit(); });
    QFile ready(QString::fromLocal8Bit(argv[2]));
    ready.open(QIODevice::WriteOnly);
    ready.close();
    const int code = app.exec();
    db.detach();
    return code;
}
