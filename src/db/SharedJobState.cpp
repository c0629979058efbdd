#include "db/SharedJobState.h"

#include "db/DataModule.h"
#include "db/JobLock.h"
#include "db/firebird/Database.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Transaction.h"

namespace pc {

namespace {
const QString kLoadedAt = QStringLiteral("PRICE.LOADED");
const QString kLoadedBy = QStringLiteral("PRICE.LOADEDBY");
const QString kJobKind = QStringLiteral("JOB.LAST.KIND");
const QString kJobFinished = QStringLiteral("JOB.LAST.FINISHED");
const QString kJobExit = QStringLiteral("JOB.LAST.EXIT");
const QString kJobSummary = QStringLiteral("JOB.LAST.SUMMARY");
constexpr int kValueLength = 250; // WORKSTATE.VAL
} // namespace

QString CounterIdentity(const QString &appDir)
{
    return JobLock::WorkstationName() + QLatin1Char(' ') + appDir;
}

void NotePriceLoad(TDM &dm, const QDateTime &when, const QString &who)
{
    if (!dm.IsFirebird() || !dm.Connected())
        return;
    dm.SetSharedValue(kLoadedAt, when.toString(Qt::ISODate));
    dm.SetSharedValue(kLoadedBy, who.left(kValueLength));
}

std::optional<PriceLoadRecord> LastPriceLoad(TDM &dm)
{
    PriceLoadRecord r;
    r.when = QDateTime::fromString(dm.SharedValue(kLoadedAt), Qt::ISODate);
    r.who = dm.SharedValue(kLoadedBy);
    if (!r.when.isValid())
        return std::nullopt;
    return r;
}

void StoreSharedJobResult(TDM &dm, const JobResult &result)
{
    fb::Database *db = dm.Database();
    if (!dm.IsFirebird() || !db || !db->isAttached())
        return;
    try {
        fb::Transaction tr(*db, 2);
        tr.start();
        fb::Statement st(tr);
        st.prepare(QStringLiteral("UPDATE OR INSERT INTO WORKSTATE (NAME, VAL) VALUES (?, ?) MATCHING (NAME)"));
        QString summary = result.summary;
        summary.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        const std::pair<QString, QString> values[] = {
            {kJobKind, result.kind},
            {kJobFinished, result.finished.toString(Qt::ISODate)},
            {kJobExit, QString::number(result.exitCode)},
            {kJobSummary, summary.left(kValueLength)},
        };
        for (const auto &[name, value] : values) {
            st.setValue(0, name);
            st.setValue(1, value);
            st.execute();
        }
        tr.commit();
    } catch (const std::exception &) {
        // The other counters miss this result; the local file has it.
    }
}

std::optional<JobResult> SharedJobResult(TDM &dm)
{
    try {
        JobResult r;
        r.kind = dm.SharedValue(kJobKind);
        r.finished = QDateTime::fromString(dm.SharedValue(kJobFinished), Qt::ISODate);
        r.exitCode = dm.SharedValue(kJobExit, QString::number(JobFailed)).toInt();
        r.summary = dm.SharedValue(kJobSummary);
        if (r.summary.isEmpty() || !r.finished.isValid())
            return std::nullopt;
        return r;
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

std::optional<JobResult> NewerJobResult(const std::optional<JobResult> &a, const std::optional<JobResult> &b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    return b->finished > a->finished ? b : a;
}

} // namespace pc
