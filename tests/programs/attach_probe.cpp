// Opens a database file as the program does and closes it again.
//
//   attach_probe <database file>
//
// Exit 0 when it opened, 1 with the engine's message on standard error when
// not. Tests start it with another locale than their own.

#include "db/firebird/Database.h"
#include "db/firebird/DbError.h"
#include "platform/CodePage.h"
#include "platform/Signals.h"

#include <clocale>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    // As the program starts: the locale from the environment, then UTF-8 names.
    std::setlocale(LC_ALL, "");
    pc::useUtf8FileNames();
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();
    try {
        pc::fb::Database db;
        db.attach(QString::fromUtf8(argv[1]));
        db.detach();
        return 0;
    } catch (const pc::fb::DbError &e) {
        std::fprintf(stderr, "%s\n", e.text().toUtf8().constData());
        return 1;
    }
}
