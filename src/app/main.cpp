#include <QApplication>

#include "platform/Signals.h"

int main(int argc, char **argv)
{
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();
    QApplication app(argc, argv);
    return 0;
}
