#include "app/ClientApplication.h"
#include "app/MainForm.h"
#include "core/AppContext.h"
#include "platform/Signals.h"
#include "platform/SingleInstance.h"

#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>

#include <unistd.h>

namespace {
// The running executable, read from the kernel (argv[0] may be a bare name).
QString executablePath(const char *argv0)
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0)
        return QString::fromLocal8Bit(buf, n);
    return QFileInfo(QString::fromLocal8Bit(argv0)).absoluteFilePath();
}
} // namespace

int main(int argc, char **argv)
{
    // Before anything else: no asynchronous signal may reach a process with
    // the embedded database attached.
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();

    const QFileInfo exe(executablePath(argv[0]));
    pc::SingleInstance instance(exe.fileName());
    if (!instance.acquire())
        return 0;

    ClientApplication app(argc, argv);
    // A system without regional settings ("C") gets the Russian formats the
    // pharmacist and the supplier's files expect (decimal comma, dd.MM.yyyy).
    if (QLocale::system().language() == QLocale::C)
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    app.setApplicationName(exe.fileName());
    // The program's name as the desktop shows it (task bar, window switcher).
    app.setApplicationDisplayName(QStringLiteral("Клиент системы заказа ВОРН"));
    QTranslator qtRussian;
    if (qtRussian.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtRussian);

    TMainForm mainForm(exe.absolutePath());
    pc::TerminationWatcher terminate([&mainForm](int) {
        mainForm.closeWithoutAsking = true;
        mainForm.close();
        QCoreApplication::quit();
    });
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        mainForm.setGeometry(screen->availableGeometry()); // also without a window manager
    mainForm.showMaximized();
    // The first activation runs the start-up sequence; ask for it explicitly as
    // well, for desktops that do not activate a new window.
    QMetaObject::invokeMethod(&mainForm, &TMainForm::FormActivate, Qt::QueuedConnection);
    return app.exec();
}
