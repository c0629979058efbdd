#include "core/JobResult.h"

#include "core/AppContext.h"
#include "core/LogText.h"
#include "platform/IniFile.h"

#include <QFileInfo>

namespace pc {

namespace {
const QString kSection = QStringLiteral("LastJob");
}

QString jobResultFile(const AppContext &context)
{
    return context.path(QStringLiteral("Data/job-result.ini"));
}

void writeJobResult(const AppContext &context, const JobResult &r)
{
    QString summary = r.summary;
    summary.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    writeLines(jobResultFile(context), {QLatin1Char('[') + kSection + QLatin1Char(']'),
                                        QStringLiteral("Kind=") + r.kind,
                                        QStringLiteral("Finished=") + r.finished.toString(Qt::ISODate),
                                        QStringLiteral("ExitCode=") + QString::number(r.exitCode),
                                        QStringLiteral("Summary=") + summary,
                                        QStringLiteral("Seen=") + (r.seen ? QStringLiteral("1") : QStringLiteral("0"))});
}

std::optional<JobResult> readJobResult(const AppContext &context)
{
    const QString file = jobResultFile(context);
    if (!QFileInfo::exists(file))
        return std::nullopt;
    const IniFile ini(file);
    JobResult r;
    r.kind = ini.readString(kSection, QStringLiteral("Kind"));
    r.finished = QDateTime::fromString(ini.readString(kSection, QStringLiteral("Finished")), Qt::ISODate);
    r.exitCode = ini.readInteger(kSection, QStringLiteral("ExitCode"), JobFailed);
    r.summary = ini.readString(kSection, QStringLiteral("Summary"));
    r.seen = ini.readBool(kSection, QStringLiteral("Seen"), false);
    if (r.summary.isEmpty() || !r.finished.isValid())
        return std::nullopt;
    return r;
}

bool markJobResultSeen(const AppContext &context)
{
    std::optional<JobResult> r = readJobResult(context);
    if (!r)
        return false;
    r->seen = true;
    writeJobResult(context, *r);
    return true;
}

} // namespace pc
