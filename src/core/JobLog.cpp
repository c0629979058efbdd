#include "core/JobLog.h"

#include "core/LogText.h"
#include "platform/AppError.h"

#include <QDateTime>

namespace pc {

JobLog::JobLog(QString appDir, std::function<QString()> clientCode, FILE *out)
    : m_appDir(std::move(appDir)), m_clientCode(std::move(clientCode)), m_out(out)
{
}

void JobLog::print(const QString &line)
{
    if (!m_out)
        return;
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}

void JobLog::logMessage(const QString &text, LogLevel level, bool)
{
    if (level == Error)
        m_errors << text;
    const QString line = logLine(text, level, QDateTime::currentDateTime());
    print(line);
    const QString file = dailyLogFileName(m_appDir, m_clientCode ? m_clientCode() : QString(), QDate::currentDate());
    try {
        appendLines(file, {line});
        m_failedFile.clear();
    } catch (const AppError &e) {
        if (m_failedFile != file)
            print(logLine(QStringLiteral("Журнал не записан в файл: ") + e.message(), Error, QDateTime::currentDateTime()));
        m_failedFile = file;
    }
}

void JobLog::logDetail(const QString &text)
{
    print(logLine(dateTimeText(QDateTime::currentDateTime()) + QStringLiteral(" : ") + text, Info, QDateTime::currentDateTime()));
}

} // namespace pc
