#include "app/ClientApplication.h"

#include "platform/AppError.h"

#include <malloc.h>

ClientApplication::ClientApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // Large blocks (the price list's columns) come straight from the system
    // and go back to it when freed or regrown: a fixed threshold keeps the
    // allocator from raising it after the first large free and then keeping
    // every freed column in the heap, so the resident size follows what is
    // really in use.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

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
