// Shared main() of every test program: the Qt application on the offscreen
// platform and the program's signal mask, set before any database call.
#include "app/ClientApplication.h"
#include <QLocale>
#include <gtest/gtest.h>

#include "db/firebird/Database.h"
#include "platform/CodePage.h"
#include "platform/Signals.h"

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();
    // PC_TEST_FIREBIRD_SERVER=127.0.0.1/PORT: every database of the tests is
    // reached through that server instead of the embedded engine
    // (scripts/test-on-server).
    if (!qEnvironmentVariableIsEmpty("PC_TEST_FIREBIRD_SERVER"))
        pc::fb::Database::setDefaultServer(qEnvironmentVariable("PC_TEST_FIREBIRD_SERVER"));
    ClientApplication app(argc, argv);
    pc::useUtf8FileNames();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
