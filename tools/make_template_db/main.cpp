// make_template_db <file>: writes an empty local database (all tables and
// their indexes) to <file>, replacing an older one. Exit code 0 on success.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "db/EmptyDatabase.h"
#include "db/firebird/DbError.h"
#include "platform/Signals.h"

int main(int argc, char **argv)
{
    // Before any database call: an asynchronous signal while attached makes
    // the engine's detach spin forever.
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <database file>\n", argv[0]);
        return 2;
    }
    const QString target = QFileInfo(QFile::decodeName(argv[1])).absoluteFilePath();
    const QString temporary = target + QStringLiteral(".new");
    QFile::remove(temporary);
    try {
        pc::CreateEmptyDatabase(temporary);
    } catch (const pc::fb::DbError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        QFile::remove(temporary);
        return 1;
    }
    QFile::remove(target);
    if (!QFile::rename(temporary, target)) {
        std::fprintf(stderr, "cannot rename %s to %s\n", qPrintable(temporary), qPrintable(target));
        QFile::remove(temporary);
        return 1;
    }
    return 0;
}
