#include "app/ClientApplication.h"

#include "platform/AppError.h"

ClientApplication::ClientApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool ClientApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        if (onException)
            onException(pc::errorText(e));
    } catch (...) {
        if (onException)
            onException(QStringLiteral("Неизвестная ошибка"));
    }
    return false;
}
