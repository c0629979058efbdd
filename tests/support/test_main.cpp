// Shared main() of every test program: the Qt application on the offscreen
// platform and the program's signal mask, set before any database call.
#include "app/ClientApplication.h"
#include <QLocale>
#include <gtest/gtest.h>

#include "platform/Signals.h"

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();
    ClientApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
