#pragma once
// What the workstations of one database tell each other about the price
// list and the jobs: when the list was loaded and by whom, and the result of
// the last job of any counter, so every start page can show it. Kept in the
// WORKSTATE table; a database without it (an embedded one before its first
// opening by this version) simply has nothing to tell.

#include "core/JobResult.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace pc {

class TDM;

struct PriceLoadRecord {
    QDateTime when;
    QString who; // CounterIdentity of the counter that loaded it
};

// This counter as the load record names it: the computer, the user and the
// program folder (two counters may share a computer and a user).
QString CounterIdentity(const QString &appDir);

// In the load's transaction, with the list itself.
void NotePriceLoad(TDM &dm, const QDateTime &when, const QString &who);
std::optional<PriceLoadRecord> LastPriceLoad(TDM &dm);

// Committed at once, apart from the module's transaction; never throws (the
// local copy in Data/job-result.ini is the one that must be there).
void StoreSharedJobResult(TDM &dm, const JobResult &result);
std::optional<JobResult> SharedJobResult(TDM &dm);

// The newer of two results (either may be missing).
std::optional<JobResult> NewerJobResult(const std::optional<JobResult> &a, const std::optional<JobResult> &b);

} // namespace pc
