#pragma once
// The result of the last job (a price update or a document fetch run without
// the pharmacist), kept in Data/job-result.ini so the window can tell it at
// its next start, or at once when it is open. The file is always written whole.

#include <QDateTime>
#include <QString>
#include <optional>

namespace pc {

class AppContext;

// Exit codes of a job.
enum JobExit : int {
    JobDone = 0,        // the work is done (the price list is today's)
    JobFailed = 1,      // failed: the old price list and order are kept
    JobStalePrice = 2,  // loaded, but the supplier's list is older than today
    JobBusy = 75,       // the database is busy with a window that could not take the job
    JobNoSettings = 78, // no client code or no server address
    JobUsage = 64,      // unknown arguments
};

struct JobResult {
    QString kind;        // "update", "fetch-documents"
    QDateTime finished;
    int exitCode = JobFailed;
    QString summary;     // one line for the pharmacist
    bool seen = false;   // already shown in a window
};

QString jobResultFile(const AppContext &context);
// Writes the file whole (a temporary file renamed over it); throws AppError.
void writeJobResult(const AppContext &context, const JobResult &result);
std::optional<JobResult> readJobResult(const AppContext &context);
// Marks the kept result as shown; false when there is none.
bool markJobResultSeen(const AppContext &context);

} // namespace pc
