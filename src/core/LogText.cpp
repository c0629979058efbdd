#include "core/LogText.h"

#include "platform/AppError.h"
#include "platform/CodePage.h"
#include "platform/FixedFormats.h"
#include "platform/IniFile.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>

namespace pc {

QString dateTimeText(const QDateTime &when)
{
    return fixedDateTimeText(when);
}

QString levelPrefix(LogLevel level)
{
    switch (level) {
    case Info: return QStringLiteral("i: ");
    case Warning: return QStringLiteral("Предупреждение: ");
    case Error: return QStringLiteral("ОШИБКА!: ");
    }
    return QString();
}

QColor levelColor(LogLevel level)
{
    switch (level) {
    case Info: return QColor(0, 0, 255);
    case Warning: return QColor(68, 51, 0);
    case Error: return QColor(255, 0, 0);
    }
    return QColor(0, 0, 0);
}

QString logLine(const QString &text, LogLevel level, const QDateTime &when)
{
    return QLatin1Char('[') + dateTimeText(when) + QStringLiteral("] ") + levelPrefix(level) + text;
}

QString shownText(const QString &text, LogLevel level)
{
    if (readsRussian(text))
        return text;
    // Dates, numbers and signs alone need no words around them.
    if (!hasLetterOf(textOutsideBrackets(text), QChar::Script_Latin))
        return text;
    return (level == Error ? QStringLiteral("Ошибка программы (") : QStringLiteral("Сообщение программы ("))
         + text + QLatin1Char(')');
}

QString unhandledErrorText(const QString &message)
{
    return shownText(message, Error) + QStringLiteral(" (необработанная ошибка)");
}

QString TimeStampText(const QDateTime &when)
{
    const QDate d = when.date();
    const QTime t = when.time();
    return QString::number(d.year()) + QString::number(d.month()) + QString::number(d.day()) + QLatin1Char('_')
         + QString::number(t.hour()) + QString::number(t.minute()) + QString::number(t.second());
}

QString dailyLogFileName(const QString &appDir, const QString &clientCode, const QDate &day)
{
    return appDir + clientCode + day.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".err");
}

namespace {
QByteArray encodeLines(const QStringList &lines)
{
    QByteArray out;
    for (const QString &l : lines) {
        // A pane line may hold line breaks of its own; keep the file one line per line.
        QString one = l;
        one.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        out += toCp1251(one);
        out += "\r\n";
    }
    return out;
}
} // namespace

void appendLines(const QString &fileName, const QStringList &lines)
{
    appendToFile(fileName, encodeLines(lines));
}

void writeLines(const QString &fileName, const QStringList &lines)
{
    writeWholeFile(fileName, encodeLines(lines));
}

} // namespace pc
