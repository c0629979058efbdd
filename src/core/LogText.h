#pragma once
// Texts of the message log: pane lines, the daily file and time stamps.

#include "core/MessageLog.h"

#include <QColor>
#include <QDateTime>
#include <QString>

namespace pc {

// The date and the time with seconds, e.g. "06.12.2026 14:37:37", whatever the locale.
QString dateTimeText(const QDateTime &when);
QString levelPrefix(LogLevel level);
QColor levelColor(LogLevel level);
// "[" date-time "] " prefix text
QString logLine(const QString &text, LogLevel level, const QDateTime &when);
// A message as the pharmacist reads it: Russian first. A text with no Russian
// outside brackets (a library's English message that slipped through) is put
// in brackets after a Russian sentence; other texts stay as they are.
QString shownText(const QString &text, LogLevel level);
// The line for an error that escaped every handler: the message, and that it
// was not handled, in brackets.
QString unhandledErrorText(const QString &message);
// Year, month, day, "_", hour, minute, second without leading zeros: 200935_876.
QString TimeStampText(const QDateTime &when);
// appDir + clientCode + yyyymmdd + ".err"
QString dailyLogFileName(const QString &appDir, const QString &clientCode, const QDate &day);
// Appends lines (cp1251, CR LF) to a file, all of them or none; throws
// AppError on failure, the file keeping the lines it had.
void appendLines(const QString &fileName, const QStringList &lines);
// Writes lines (cp1251, CR LF) as a whole new file; on failure the old file stays.
void writeLines(const QString &fileName, const QStringList &lines);

} // namespace pc
