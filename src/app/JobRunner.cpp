#include "app/JobRunner.h"

#include "app/DocumentFetchOperation.h"
#include "app/PriceUpdateOperation.h"
#include "app/SettingsFiles.h"
#include "core/AppContext.h"
#include "core/JobDialogs.h"
#include "core/JobLog.h"
#include "core/LogText.h"
#include "db/DataModule.h"
#include "db/Dataset.h"
#include "db/JobLock.h"
#include "db/SharedJobState.h"
#include "documents/FetchDocuments.h"
#include "exchange/ServerConnection.h"
#include "platform/AppError.h"
#include "price/PriceUpdate.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QLocale>
#include <QThread>

#include <memory>

namespace pc {

namespace {

qint64 countOf(TDM &dm, const QString &sql)
{
    std::unique_ptr<Dataset> q(dm.OpenQuery(sql, true));
    return q && !q->IsEmpty() ? q->Fields(0).AsLargeInt() : 0;
}

QString number(qint64 n)
{
    return QLocale().toString(n);
}

QString timeText(const QDateTime &when)
{
    return when.toString(QStringLiteral("HH:mm"));
}

// Why a run failed, in one line: the question it could not answer, else the
// last error it logged.
QString failureReason(const JobDialogs &dialogs, const QStringList &errors)
{
    if (!dialogs.unanswered().isEmpty())
        return QStringLiteral("программа задала вопрос, на который у задания нет ответа: «%1»")
            .arg(dialogs.unanswered().simplified());
    for (qsizetype i = errors.size() - 1; i >= 0; --i)
        if (!errors[i].trimmed().isEmpty())
            return errors[i].simplified();
    // Without an error the last notice says why (another workstation runs the update).
    if (!dialogs.notices.isEmpty())
        return dialogs.notices.last().simplified();
    return QStringLiteral("подробности в журнале сообщений");
}

// Runs the operation on its thread; this thread answers its questions and
// takes its log lines meanwhile.
void runToEnd(Operation &op)
{
    QEventLoop loop;
    QObject::connect(&op, &Operation::finished, &loop, &QEventLoop::quit);
    if (op.start())
        loop.exec();
}

} // namespace

QString jobKindName(JobKind kind)
{
    return kind == JobKind::UpdatePrice ? QStringLiteral("update") : QStringLiteral("fetch-documents");
}

std::optional<JobKind> jobKindOf(const QString &name)
{
    if (name == QLatin1String("update"))
        return JobKind::UpdatePrice;
    if (name == QLatin1String("fetch-documents"))
        return JobKind::FetchDocuments;
    return std::nullopt;
}

bool runPriceUpdate(PriceUpdate &update, const JobDialogs &dialogs)
{
    const qsizetype before = dialogs.asked().count(JobDialogs::kUnloadedPriceQuestion);
    const bool loaded = update.UpdatePrice();
    if (loaded || dialogs.asked().count(JobDialogs::kUnloadedPriceQuestion) == before || !dialogs.unanswered().isEmpty())
        return loaded;
    // That press only removed a price file left in the program folder: the
    // next one fetches the list from the server.
    return update.UpdatePrice();
}

namespace {
// Visits every row of the price list: its goods code with expiry date, and price.
template <class F>
void forEachPrice(TDM &dm, F &&visit)
{
    if (!dm.Connected())
        return;
    std::unique_ptr<Dataset> q(dm.OpenQuery(QStringLiteral("SELECT IDTOVAR, GODEN, PRICE FROM PRICE"), true));
    if (!q)
        return;
    Field &id = q->Fields(0);
    Field &goden = q->Fields(1);
    Field &price = q->Fields(2);
    for (int i = 0; i < q->RecordCount(); ++i) {
        Dataset::ActiveRow row(*q, i);
        visit(id.AsString() + QLatin1Char('\x1f') + (goden.IsNull() ? QString() : goden.AsDate().toString(Qt::ISODate)),
              price.AsFloat());
    }
}
} // namespace

PriceSnapshot::PriceSnapshot(TDM &dm)
{
    try {
        forEachPrice(dm, [this](const QString &key, double price) { m_prices.insert(key, price); });
    } catch (const std::exception &) {
        m_prices.clear(); // the count only decorates the summary
    }
}

qint64 PriceSnapshot::changedIn(TDM &dm) const
{
    qint64 changed = 0;
    forEachPrice(dm, [&](const QString &key, double price) {
        const auto was = m_prices.constFind(key);
        if (was != m_prices.constEnd() && *was != price)
            ++changed;
    });
    return changed;
}

JobOutcome priceJobOutcome(TDM &dm, PriceUpdate &update, bool loaded, const QString &priceDate, const PriceSnapshot &before,
                           const JobDialogs &dialogs, const QStringList &errors, const QDateTime &finished)
{
    JobOutcome out;
    if (!loaded || !dialogs.unanswered().isEmpty()) {
        out.exitCode = JobFailed;
        out.summary = QStringLiteral("Прайс не обновлён в %1: %2. В работе прежний прайс-лист и заказ")
                          .arg(timeText(finished), failureReason(dialogs, errors));
        return out;
    }
    qint64 rows = 0, changed = 0, ordered = 0;
    try {
        rows = countOf(dm, QStringLiteral("SELECT COUNT(1) FROM PRICE"));
        ordered = countOf(dm, QStringLiteral("SELECT COUNT(1) FROM PRICE WHERE ZAKAZ > 0"));
        changed = before.changedIn(dm);
    } catch (const std::exception &) {
        // The counts only decorate the summary.
    }
    const QString counts = QStringLiteral("%1 позиций, изменились цены у %2, в заказе %3 позиций")
                               .arg(number(rows), number(changed), number(ordered));
    if (update.CheckPriceActuality(false)) {
        out.exitCode = JobDone;
        out.summary = QStringLiteral("Прайс обновлён в %1: %2").arg(timeText(finished), counts);
    } else {
        out.exitCode = JobStalePrice;
        out.summary = QStringLiteral("Прайс обновлён в %1, но поставщик выложил устаревший прайс (от %2): %3. "
                                     "Обратитесь к поставщику")
                          .arg(timeText(finished), priceDate, counts);
    }
    return out;
}

JobOutcome documentsJobOutcome(int defectures, int documents, const JobDialogs &dialogs, const QStringList &errors,
                               const QDateTime &finished)
{
    JobOutcome out;
    const QString counts = QStringLiteral("получено дефектур: %1, накладных и документов: %2").arg(defectures).arg(documents);
    if (!dialogs.unanswered().isEmpty() || !errors.isEmpty()) {
        out.exitCode = JobFailed;
        out.summary = QStringLiteral("Дефектуры и накладные получены не все в %1 (%2): %3")
                          .arg(timeText(finished), counts, failureReason(dialogs, errors));
    } else {
        out.exitCode = JobDone;
        out.summary = QStringLiteral("Дефектуры и накладные проверены в %1: %2").arg(timeText(finished), counts);
    }
    return out;
}

JobOutcome busyJobOutcome(JobKind kind, const QDateTime &finished)
{
    return notRunJobOutcome(kind, finished, JobBusy,
                            QStringLiteral("программа открыта и занята (открыт вопрос или идёт другая работа)"));
}

JobOutcome notRunJobOutcome(JobKind kind, const QDateTime &finished, int exitCode, const QString &reason)
{
    JobOutcome out;
    out.exitCode = exitCode;
    out.summary = QStringLiteral("%1 не выполнено в %2: %3. В работе прежний прайс-лист")
                      .arg(kind == JobKind::UpdatePrice ? QStringLiteral("Обновление прайса")
                                                        : QStringLiteral("Получение дефектур и накладных"),
                           timeText(finished), reason);
    return out;
}

void keepJobResult(const AppContext &context, JobKind kind, const JobOutcome &outcome, const QDateTime &finished,
                   TDM *dm, bool seen)
{
    const JobResult result{jobKindName(kind), finished, outcome.exitCode, outcome.summary, seen};
    // Every counter's start page shows the last job of any of them.
    if (dm && dm->IsServer())
        StoreSharedJobResult(*dm, result);
    writeJobResult(context, result);
}

bool OtherWorkstationUpdatesPrice(TDM &dm)
{
    if (!dm.IsServer())
        return false;
    JobLock probe(dm, JobLock::Job::PriceUpdate);
    try {
        return !probe.Acquire();
    } catch (const std::exception &) {
        return false; // the update itself will say what is wrong
    }
}

std::optional<JobOutcome> otherWorkstationsPriceUpdate(TDM &dm, PriceUpdate &update, Settings &settings, MessageLog &log,
                                                       const QString &appDir, int waitSeconds)
{
    if (!dm.IsServer() || !dm.Connected())
        return std::nullopt;
    qint64 versionBefore = 0;
    try {
        versionBefore = dm.PriceListVersion();
    } catch (const std::exception &) {
        return std::nullopt;
    }
    // Another counter's update running now: this job waits for it.
    JobLock lock(dm, JobLock::Job::PriceUpdate);
    QElapsedTimer waited;
    waited.start();
    bool waitedForOther = false;
    try {
        while (!lock.Acquire()) {
            if (!waitedForOther)
                log.logMessage(lock.BusyText() + QStringLiteral(": задание ждёт, пока оно закончится"), Info, true);
            waitedForOther = true;
            if (waited.elapsed() >= qint64(waitSeconds) * 1000)
                return JobOutcome{JobBusy, QStringLiteral("Обновление прайса не выполнено в %1: %2 дольше %3 с. "
                                                          "В работе прежний прайс-лист")
                                               .arg(timeText(QDateTime::currentDateTime()), lock.BusyText())
                                               .arg(waitSeconds)};
            QThread::msleep(500);
        }
    } catch (const std::exception &) {
        return std::nullopt; // the update itself says what is wrong with the database
    }
    lock.Release();
    dm.Commit(); // what the other counter committed
    const std::optional<PriceLoadRecord> load = LastPriceLoad(dm);
    const bool loadedMeanwhile = dm.PriceListVersion() != versionBefore;
    const bool loadedTodayElsewhere = load && load->when.date() == QDate::currentDate()
                                      && load->who != CounterIdentity(appDir);
    if (!loadedMeanwhile && !loadedTodayElsewhere)
        return std::nullopt; // nobody loaded a list: this job loads it
    ReadStoredPriceDate(dm, settings, log);
    const QString when = timeText(load ? load->when : QDateTime::currentDateTime());
    const qint64 rows = countOf(dm, QStringLiteral("SELECT COUNT(1) FROM PRICE"));
    if (update.CheckPriceActuality(false))
        return JobOutcome{JobDone, QStringLiteral("Прайс уже обновлён на другом рабочем месте в %1: %2 позиций")
                                       .arg(when, number(rows))};
    if (!loadedMeanwhile)
        return std::nullopt; // an old list from earlier today: this job fetches a fresh one
    return JobOutcome{JobStalePrice, QStringLiteral("Прайс обновлён на другом рабочем месте в %1, но поставщик выложил "
                                                    "устаревший прайс (от %2): %3 позиций. Обратитесь к поставщику")
                                         .arg(when, settings.PriceDate, number(rows))};
}

JobOutcome runJobWithoutWindow(const AppContext &context, JobKind kind, int waitSeconds)
{
    Settings settings;
    JobLog log(context.appDir(), [&settings] { return settings.ClientCode; });
    JobDialogs dialogs(log);
    TDM *openDm = nullptr;
    auto finish = [&](JobOutcome out) {
        const QDateTime now = QDateTime::currentDateTime();
        try {
            keepJobResult(context, kind, out, now, openDm);
        } catch (const std::exception &e) {
            log.logMessage(errorText(e), Error, true);
        }
        return out;
    };
    // A result file cut short by a kill is a temporary file nobody else removes.
    const QDir data(context.path(QStringLiteral("Data")));
    for (const QString &name : data.entryList({QStringLiteral("job-result.ini.*")}, QDir::Files | QDir::Hidden))
        QFile::remove(data.filePath(name));

    SettingsFiles files(context, dialogs, log);
    try {
        files.readClient(settings);
        files.driverHandshake(settings);
        files.readPriceDate(settings);
        files.createFolders();
        files.readServer(settings, false);
        files.setAccounts(settings);
        files.readExchange(settings);
    } catch (const std::exception &e) {
        if (dialogs.unanswered().isEmpty())
            log.logMessage(errorText(e) + QStringLiteral(" (Инициализация)"), Error, true);
        return finish({JobFailed, QStringLiteral("Задание не выполнено в %1: %2")
                                      .arg(timeText(QDateTime::currentDateTime()), failureReason(dialogs, log.errors()))});
    }
    bool anyServer = false;
    for (const QString &a : settings.ServerAddresses)
        anyServer = anyServer || !a.trimmed().isEmpty();
    if (settings.ClientCode.isEmpty() || !anyServer) {
        const QString missing = settings.ClientCode.isEmpty() ? QStringLiteral("не задан код клиента")
                                                              : QStringLiteral("не задан адрес сервера");
        log.logMessage(QStringLiteral("Задание не выполнено: %1. Откройте программу и заполните настройки").arg(missing), Error,
                       true);
        return finish({JobNoSettings, QStringLiteral("Задание не выполнено в %1: %2. В работе прежний прайс-лист")
                                          .arg(timeText(QDateTime::currentDateTime()), missing)});
    }

    TDM dm(context, dialogs, log);
    dm.DriverKind = settings.DBDriver;
    dm.Location = DatabaseLocation::Read(files.clientIni());
    try {
        if (!dm.IsFirebird())
            throw AppError(QStringLiteral("задания работают только со встроенной базой данных Firebird"));
        dm.CreateFirebirdObjects();
        dm.OpenDatabase();
    } catch (const std::exception &e) {
        if (dialogs.unanswered().isEmpty())
            log.logMessage(errorText(e) + QStringLiteral(" (Инициализация)"), Error, true);
        return finish({JobFailed, QStringLiteral("Задание не выполнено в %1: база данных не открыта: %2")
                                      .arg(timeText(QDateTime::currentDateTime()), failureReason(dialogs, log.errors()))});
    }

    openDm = &dm;
    ServerConnection connection(settings, dialogs, log);
    connection.ftp().setConnectTimeout(15000);
    const int addressCount = int(settings.DeliveryAddresses.size());
    const int addressIndex = addressCount > 0 ? settings.AddressIndex : -1;

    JobOutcome out;
    if (kind == JobKind::UpdatePrice) {
        PriceUpdate update(dm, connection, settings, dialogs, log, context);
        // The date of the list the database holds (shared by every workstation).
        update.ReadStoredPriceDate();
        QElapsedTimer started;
        started.start();
        const QString busy = JobLock::BusyTextOf(JobLock::Job::PriceUpdate);
        for (;;) {
            const int left = std::max(0, waitSeconds - int(started.elapsed() / 1000));
            if (const std::optional<JobOutcome> other =
                    otherWorkstationsPriceUpdate(dm, update, settings, log, context.appDir(), left)) {
                out = *other;
                break;
            }
            // The same operation the window runs, on its own thread and
            // attachment; this thread answers its questions meanwhile. A
            // program update found in the archive stays in the program
            // folder: the window installs it at its next start.
            const qsizetype noticesBefore = dialogs.notices.size();
            const PriceSnapshot before(dm);
            PriceUpdateOperation op(dm, context, settings, dialogs, log);
            op.addressCount = addressCount;
            op.addressIndex = addressIndex;
            op.configureConnection = [](ServerConnection &c) { c.ftp().setConnectTimeout(15000); };
            op.press = [&dialogs](PriceUpdate &update) { return runPriceUpdate(update, dialogs); };
            runToEnd(op);
            settings.PriceDate = op.settings.PriceDate;
            settings.PriceDateTime = op.settings.PriceDateTime;
            // Another counter started its update between the look above and
            // this one's start: wait for it as well.
            const bool overtaken = !op.loaded && dialogs.unanswered().isEmpty() && dialogs.notices.size() > noticesBefore
                                   && dialogs.notices.back().startsWith(busy) && left > 0;
            if (overtaken)
                continue;
            out = priceJobOutcome(dm, update, op.loaded, settings.PriceDate, before, dialogs, log.errors(),
                                  QDateTime::currentDateTime());
            break;
        }
    } else {
        DocumentFetchOperation op(dm, context, settings, dialogs, log);
        op.addressCount = addressCount;
        op.addressIndex = addressIndex;
        op.configureConnection = [](ServerConnection &c) { c.ftp().setConnectTimeout(15000); };
        runToEnd(op);
        out = documentsJobOutcome(op.result.defectures, op.result.documents, dialogs, log.errors(),
                                  QDateTime::currentDateTime());
    }
    log.logMessage(out.summary, out.exitCode == JobDone ? Info : out.exitCode == JobStalePrice ? Warning : Error, true);
    return finish(out);
}

} // namespace pc
