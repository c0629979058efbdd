#pragma once
// The application object: routes an exception escaping any event handler to
// the program's handler instead of ending the program.

#include <QApplication>
#include <functional>

class ClientApplication : public QApplication {
    Q_OBJECT
public:
    ClientApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;

    // Receives the message of every escaped exception (the main window's AppException).
    std::function<void(const QString &message)> onException;
};
