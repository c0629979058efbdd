#pragma once
// Jobs: the price update (with the carry-over of the order and the change
// report) and the document fetch run without a window, by the same code the
// buttons run, with JobDialogs answering the questions. The same work can be
// handed to the open window (TMainForm::RunHandedJob); both end in a
// JobOutcome: an exit code and a one-line summary, kept as the last result.

#include "core/JobResult.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

class MessageLog;
struct Settings;

namespace pc {

class AppContext;
class JobDialogs;
class PriceUpdate;
class TDM;

enum class JobKind { UpdatePrice, FetchDocuments };
QString jobKindName(JobKind kind); // "update", "fetch-documents"
std::optional<JobKind> jobKindOf(const QString &name);

struct JobOutcome {
    int exitCode = JobFailed;
    QString summary;
};

// The prices of the list before an update, by goods code and expiry date,
// to count afterwards the rows whose price changed.
class PriceSnapshot {
public:
    explicit PriceSnapshot(TDM &dm);
    // Rows of the list now whose price differs from the one they had.
    qint64 changedIn(TDM &dm) const;

private:
    QHash<QString, double> m_prices;
};

// What a price update run achieved. loaded: a new list went in; before: the
// list's prices before the run; errors: the Error-level messages of the run;
// finished: the time the summary names.
JobOutcome priceJobOutcome(TDM &dm, PriceUpdate &update, bool loaded, const QString &priceDate, const PriceSnapshot &before,
                           const JobDialogs &dialogs, const QStringList &errors, const QDateTime &finished);
JobOutcome documentsJobOutcome(int defectures, int documents, const JobDialogs &dialogs, const QStringList &errors,
                               const QDateTime &finished);
// The summary of a job the open window could not take in time.
JobOutcome busyJobOutcome(JobKind kind, const QDateTime &finished);
// The summary of a job that was not run for `reason` (one line, no full stop).
JobOutcome notRunJobOutcome(JobKind kind, const QDateTime &finished, int exitCode, const QString &reason);

// Runs the price update, pressing "Обновить данные" a second time when the
// first press only dealt with a price file left in the program folder.
bool runPriceUpdate(PriceUpdate &update, const JobDialogs &dialogs);

// Keeps the outcome as the last job's result (a failure to write is logged
// by the caller); on a shared database also for the other counters.
void keepJobResult(const AppContext &context, JobKind kind, const JobOutcome &outcome, const QDateTime &finished,
                   TDM *dm = nullptr, bool seen = false);

// Several counters on one database. OtherWorkstationUpdatesPrice: another
// counter runs a price update now. otherWorkstationsPriceUpdate: a job that
// finds another counter's update running waits for it (at most waitSeconds)
// and takes its result as its own; a list another counter loaded today and
// still current is not loaded again. Nothing when this job must load the
// list itself.
bool OtherWorkstationUpdatesPrice(TDM &dm);
std::optional<JobOutcome> otherWorkstationsPriceUpdate(TDM &dm, PriceUpdate &update, Settings &settings, MessageLog &log,
                                                       const QString &appDir, int waitSeconds);

// A job in a process of its own (on QCoreApplication): loads the settings,
// opens the database, runs the work. Messages go to the day's .err file and
// to standard error.
JobOutcome runJobWithoutWindow(const AppContext &context, JobKind kind, int waitSeconds = 600);

} // namespace pc
