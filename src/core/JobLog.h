#pragma once
// The message log of a job without a window: each message goes to the day's
// .err file, as the window's pane writes it, and to standard error; detail
// messages to standard error only. The errors of the run are kept for its
// summary.

#include "core/MessageLog.h"

#include <QStringList>
#include <cstdio>
#include <functional>

namespace pc {

class JobLog : public MessageLog {
public:
    JobLog(QString appDir, std::function<QString()> clientCode, FILE *out = stderr);
    void logMessage(const QString &text, LogLevel level = Info, bool reveal = true) override;
    void logDetail(const QString &text) override;
    // Texts of the Error-level messages, in order.
    const QStringList &errors() const { return m_errors; }

private:
    void print(const QString &line);
    QString m_appDir;
    std::function<QString()> m_clientCode;
    FILE *m_out;
    QStringList m_errors;
    QString m_failedFile;
};

} // namespace pc
