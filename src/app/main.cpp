#include "app/ClientApplication.h"
#include "app/JobRunner.h"
#include "app/MainForm.h"
#include "app/SettingsFiles.h"
#include "app/SettingsSaveLoop.h"
#include "core/AppContext.h"
#include "core/JobDialogs.h"
#include "core/JobLog.h"
#include "db/DatabaseLocation.h"
#include "platform/AppError.h"
#include "platform/CodePage.h"
#include "platform/DesktopShortcut.h"
#include "platform/FixedFormats.h"
#include "platform/IniFile.h"
#include "platform/InstanceChannel.h"
#include "platform/Signals.h"
#include "platform/SingleInstance.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
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

const char kHelp[] =
    "Клиент системы заказа ВОРН / pharmacy ordering client\n"
    "\n"
    "Без параметров открывается окно программы. Задания выполняются без окна:\n"
    "  --update            обновить прайс-лист (с переносом заказа и отчётом об изменениях),\n"
    "                      с ним дефектуры и накладные\n"
    "  --fetch-documents   получить дефектуры и накладные\n"
    "  --wait SECONDS      сколько ждать, пока открытое окно или другое задание освободит\n"
    "                      базу данных (по умолчанию 600)\n"
    "  --help              эта справка\n"
    "Коды завершения: 0 выполнено (прайс сегодняшний); 1 не выполнено, прежний прайс и заказ\n"
    "сохранены; 2 прайс поставщика старше сегодняшнего; 75 база занята открытым окном,\n"
    "которое не смогло взять задание; 78 не заданы настройки (код клиента, адрес сервера);\n"
    "64 неверные параметры.\n"
    "\n"
    "Without arguments the program's window opens. Jobs run without a window:\n"
    "  --update            update the price list (order carried over, changes reported),\n"
    "                      and fetch defectures and invoices with it\n"
    "  --fetch-documents   fetch defectures and invoices\n"
    "  --wait SECONDS      how long to wait for an open window or another job to free the\n"
    "                      database (default 600)\n"
    "  --help              this text\n"
    "Exit codes: 0 done (today's price list); 1 failed, the old list and order kept;\n"
    "2 the supplier's list is older than today; 75 the database is busy with an open window\n"
    "that could not take the job; 78 settings missing (client code, server address);\n"
    "64 bad arguments.\n";

struct Arguments {
    std::optional<pc::JobKind> job;
    int waitSeconds = 600;
    bool help = false;
    QString error;
};

Arguments parseArguments(int argc, char **argv)
{
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            a.help = true;
        } else if (arg == QLatin1String("--update") || arg == QLatin1String("--fetch-documents")) {
            const pc::JobKind kind = *pc::jobKindOf(arg.mid(2));
            if (a.job && *a.job != kind)
                a.error = QStringLiteral("задайте одно задание / give one job");
            a.job = kind;
        } else if (arg == QLatin1String("--wait") && i + 1 < argc) {
            bool ok = false;
            a.waitSeconds = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || a.waitSeconds < 0)
                a.error = QStringLiteral("--wait: число секунд / a number of seconds");
        } else if (arg.startsWith(QLatin1String("-psn_")) || arg.startsWith(QLatin1String("-platform"))
                   || arg.startsWith(QLatin1String("-style")) || arg.startsWith(QLatin1String("-display"))) {
            // Qt's own options of the window: passed on to it.
            if (!arg.contains(QLatin1Char('=')) && i + 1 < argc && !QString::fromLocal8Bit(argv[i + 1]).startsWith(QLatin1Char('-')))
                ++i;
        } else {
            a.error = QStringLiteral("неизвестный параметр / unknown argument: ") + arg;
        }
    }
    return a;
}

void print(FILE *to, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    std::fflush(to);
}

// Tells copies started while a job works that a job holds the folder. It
// answers from a thread of its own: the job's work does not run the event
// loop (a long database load would leave a starting window unanswered).
class JobPresence : public QThread {
public:
    explicit JobPresence(QString folder) : m_folder(std::move(folder)) {}

protected:
    void run() override
    {
        pc::InstanceServer server(m_folder);
        server.onRequest = [](const QString &, const pc::InstanceServer::Reply &reply) { reply(QStringLiteral("job")); };
        server.listen();
        exec();
    }

private:
    QString m_folder;
};

// The engine's lock folder matters only to a database on this computer.
QString localEngineProblem(const pc::AppContext &context, const QString &lockFolderProblem)
{
    if (lockFolderProblem.isEmpty() || pc::DatabaseLocation::Read(context.path(QStringLiteral("client.ini"))).IsServer())
        return QString();
    return lockFolderProblem;
}

// A job: done here when no other copy runs on this program folder; handed to
// the window when one is open; waits while another job runs.
int runJob(int argc, char **argv, const QString &folder, pc::JobKind kind, int waitSeconds, const QString &lockFolderProblem)
{
    QCoreApplication app(argc, argv);
    pc::useUtf8FileNames();
    pc::useInterfaceLocale();
    const pc::AppContext context(folder);
    // Told where the pharmacist looks: the day's .err file, and the result
    // the start page shows.
    auto notDone = [&](int exitCode, const QString &logged, const QString &reason) {
        const QDateTime now = QDateTime::currentDateTime();
        const pc::JobOutcome out = exitCode == pc::JobBusy && reason.isEmpty() ? pc::busyJobOutcome(kind, now)
                                                                               : pc::notRunJobOutcome(kind, now, exitCode, reason);
        pc::JobLog log(context.appDir(), [&context] {
            return pc::IniFile(context.path(QStringLiteral("client.ini")))
                .readString(QStringLiteral("Header"), QStringLiteral("ClientCode"))
                .trimmed();
        });
        log.logMessage(logged, Error, true);
        try {
            pc::keepJobResult(context, kind, out, now);
        } catch (const std::exception &e) {
            log.logMessage(pc::errorText(e), Error, true);
        }
        print(stdout, out.summary);
        return out.exitCode;
    };
    pc::SingleInstance instance(folder);
    QElapsedTimer waited;
    waited.start();
    QString lastReply, otherUser;
    for (;;) {
        if (instance.acquire()) {
            SettingsFiles::finishInterruptedSave(context);
            if (const QString problem = localEngineProblem(context, lockFolderProblem); !problem.isEmpty()) {
                QString reason = problem;
                if (reason.endsWith(QLatin1Char('.')))
                    reason.chop(1);
                return notDone(pc::JobFailed, QStringLiteral("Задание не выполнено: ") + problem, reason);
            }
            JobPresence presence(folder);
            presence.start();
            const pc::JobOutcome out = pc::runJobWithoutWindow(context, kind, waitSeconds);
            presence.quit();
            presence.wait();
            print(stdout, out.summary);
            return out.exitCode;
        }
        // Another user's copy: no socket of ours speaks for it. It is waited
        // for like an open window, and named if it does not end.
        otherUser = instance.otherUserHolding();
        const QString reply = otherUser.isEmpty()
            ? pc::askRunningCopy(folder, QStringLiteral("job ") + pc::jobKindName(kind), 2000, 4 * 3600 * 1000)
            : QString();
        if (reply.startsWith(QLatin1String("done "))) {
            const QString rest = reply.mid(5);
            const qsizetype blank = rest.indexOf(QLatin1Char(' '));
            const int code = rest.left(blank).toInt();
            print(stdout, blank < 0 ? QString() : rest.mid(blank + 1));
            return code;
        }
        if (!reply.isEmpty())
            lastReply = reply;
        if (waited.elapsed() >= qint64(waitSeconds) * 1000)
            break;
        QThread::msleep(1000);
    }
    if (!otherUser.isEmpty()) {
        const QString text = pc::SingleInstance::runByOtherUserText(otherUser);
        return notDone(pc::JobBusy, QStringLiteral("Задание не выполнено: ") + text, text);
    }
    return notDone(pc::JobBusy,
                   lastReply == QLatin1String("job")
                       ? QStringLiteral("Задание не выполнено: другое задание на этой папке программы не закончилось за %1 с")
                             .arg(waitSeconds)
                       : QStringLiteral("Задание не выполнено: программа открыта и занята (открыт вопрос или идёт другая "
                                        "работа) дольше %1 с")
                             .arg(waitSeconds),
                   QString());
}

// The window cannot open: said in a message box (and on standard error).
// A termination signal closes the box.
int refuseWindow(const QString &text)
{
    print(stderr, text);
    QMessageBox box(QMessageBox::Warning, pc::kAppTitle, text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("dlgCannotStart"));
    pc::TerminationWatcher terminate([&box](int) { box.reject(); });
    box.exec();
    return 1;
}
} // namespace

int main(int argc, char **argv)
{
    // Before anything else: no asynchronous signal may reach a process with
    // the embedded database attached.
    pc::blockProcessSignals();
    const QString lockFolderProblem = pc::setFirebirdLockFolder();

    const Arguments args = parseArguments(argc, argv);
    if (args.help) {
        print(stdout, QString::fromUtf8(kHelp));
        print(stdout, QStringLiteral("Ответы задания на вопросы (другой вопрос останавливает задание с кодом 1) /\n"
                                     "the job's answers (any other question ends the job with exit 1):"));
        for (const pc::JobDialogs::Answer &a : pc::JobDialogs::table())
            print(stdout, QStringLiteral("  «%1» — %2").arg(a.question, a.answer == mrYes ? QStringLiteral("Да / Yes")
                                                                                         : QStringLiteral("Нет / No")));
        return 0;
    }
    if (!args.error.isEmpty()) {
        print(stderr, args.error);
        print(stderr, QString::fromUtf8(kHelp));
        return pc::JobUsage;
    }
    const QFileInfo exe(executablePath(argv[0]));
    if (args.job)
        return runJob(argc, argv, exe.absolutePath(), *args.job, args.waitSeconds, lockFolderProblem);

    pc::SingleInstance instance(exe.absolutePath());
    bool waitForJob = false;
    QString otherUser;
    if (!instance.acquire()) {
        // The open window comes to the front; this copy ends without a word.
        // A job that holds the folder is waited for. Another user's copy is
        // named.
        otherUser = instance.otherUserHolding();
        if (otherUser.isEmpty()) {
            if (pc::askRunningCopy(exe.absolutePath(), QStringLiteral("show"), 2000, 5000) != QLatin1String("job"))
                return 0;
            waitForJob = true;
        }
    }

    ClientApplication app(argc, argv);
    pc::useUtf8FileNames();
    pc::useInterfaceLocale();
    app.setApplicationName(exe.fileName());
    // The program's name as the desktop shows it (task bar, window switcher).
    app.setApplicationDisplayName(QStringLiteral("Клиент системы заказа ВОРН"));
    QTranslator qtRussian;
    if (qtRussian.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtRussian);

    if (!otherUser.isEmpty())
        return refuseWindow(pc::SingleInstance::runByOtherUserText(otherUser));
    if (waitForJob) {
        QLabel note(QStringLiteral("Идёт автоматическое обновление прайса или получение документов.\n"
                                   "Программа откроется, как только оно закончится."));
        note.setObjectName(QStringLiteral("lblWaitForJob"));
        note.setMargin(24);
        note.setWindowTitle(QStringLiteral("Клиент системы заказа ВОРН"));
        note.show();
        bool stop = false;
        pc::TerminationWatcher terminate([&stop](int) { stop = true; });
        // Tried every 200 ms from the event loop, which keeps the note painted.
        QEventLoop waiting;
        bool acquired = instance.acquire();
        QTimer retry;
        retry.setInterval(200);
        QObject::connect(&retry, &QTimer::timeout, &waiting, [&] {
            if ((acquired = instance.acquire()) || stop || !note.isVisible())
                waiting.quit();
        });
        if (!acquired) {
            retry.start();
            waiting.exec();
        }
        if (!acquired)
            return 0; // ended, or the note closed by the person: no window after all
        note.close();
    }
    // What a run killed while writing its files left behind, before anything is read.
    const pc::AppContext context(exe.absolutePath());
    SettingsFiles::finishInterruptedSave(context);
    if (const std::optional<int> saves = settingsSaveLoopRequested())
        return runSettingsSaveLoop(context, *saves);
    if (const QString problem = localEngineProblem(context, lockFolderProblem); !problem.isEmpty())
        return refuseWindow(problem);

    // A program folder that was moved or copied carries a shortcut to the old
    // place: it is written anew for this one. A folder the program may not
    // write to keeps the one it has.
    try {
        pc::refreshFolderShortcut(exe.absolutePath());
    } catch (const std::exception &) {
    }

    TMainForm mainForm(exe.absolutePath());
    pc::TerminationWatcher terminate([&mainForm](int) {
        mainForm.closeWithoutAsking = true;
        mainForm.close();
        QCoreApplication::quit();
    });
    pc::InstanceServer server(exe.absolutePath());
    server.onRequest = [&mainForm](const QString &request, const pc::InstanceServer::Reply &reply) {
        mainForm.AnswerOtherCopy(request, reply);
    };
    server.listen();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        mainForm.setGeometry(screen->availableGeometry()); // also without a window manager
    mainForm.showMaximized();
    // The first activation runs the start-up sequence; ask for it explicitly as
    // well, for desktops that do not activate a new window.
    QMetaObject::invokeMethod(&mainForm, &TMainForm::FormActivate, Qt::QueuedConnection);
    return app.exec();
}
