#include "app/MessagePane.h"

#include "core/LogText.h"
#include "platform/AppError.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

MessagePane::MessagePane(QWidget *paMessage, QTextEdit *reMessages, QPushButton *btnSendErrorLog, QCheckBox *chkDetailLog,
                         QString appDir, std::function<QString()> clientCode)
    : m_panel(paMessage), m_edit(reMessages), m_sendButton(btnSendErrorLog), m_detail(chkDetailLog),
      m_appDir(std::move(appDir)), m_clientCode(std::move(clientCode))
{
}

void MessagePane::logMessage(const QString &text, LogLevel level, bool reveal)
{
    const QString line = pc::logLine(pc::shownText(text, level), level, QDateTime::currentDateTime());
    appendLine(line, level);
    // Painted by the event loop: the work that logs runs on its own thread
    // or returns to the loop soon.
    if (reveal)
        showPane();
    appendToDailyFile(line);
}

// Each message is appended once to the day's file. When the file cannot be
// written the pane says so (once per file, not for every message) and the
// program goes on: losing the file copy must not stop the pharmacist's work.
void MessagePane::appendToDailyFile(const QString &line)
{
    const QString file = pc::dailyLogFileName(m_appDir, m_clientCode ? m_clientCode() : QString(), QDate::currentDate());
    try {
        pc::appendLines(file, {line});
        m_failedFile.clear();
    } catch (const pc::AppError &e) {
        if (m_failedFile == file)
            return;
        m_failedFile = file;
        appendLine(pc::logLine(QStringLiteral("Журнал не записан в файл: ") + e.message(), Error, QDateTime::currentDateTime()), Error);
        showPane();
    }
}

// A new paragraph in the level's colour, Arial 8, scrolled into view.
void MessagePane::appendLine(const QString &line, LogLevel level)
{
    QTextCharFormat fmt;
    fmt.setForeground(pc::levelColor(level));
    fmt.setFontPointSize(8);
    fmt.setFontFamilies({QStringLiteral("Arial")});
    QTextCursor cursor(m_edit->document());
    cursor.movePosition(QTextCursor::End);
    if (!m_edit->document()->isEmpty())
        cursor.insertBlock();
    // A message of several lines stays one paragraph: its lines are broken
    // inside the paragraph, so it reads (and is selected) as one message.
    QString text = line;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    cursor.insertText(text, fmt);
    m_edit->verticalScrollBar()->setValue(m_edit->verticalScrollBar()->maximum());
}

void MessagePane::showPane()
{
    m_panel->setVisible(true);
    m_edit->setVisible(true);
    m_sendButton->setVisible(true);
}

void MessagePane::logDetail(const QString &text)
{
    if (!m_detail->isChecked())
        return;
    logMessage(pc::dateTimeText(QDateTime::currentDateTime()) + QStringLiteral(" : ") + pc::shownText(text, Info), Info, true);
}

QStringList MessagePane::lines() const
{
    QStringList out;
    for (QTextBlock b = m_edit->document()->begin(); b.isValid(); b = b.next())
        out << b.text().split(QChar::LineSeparator);
    if (out.size() == 1 && out.front().isEmpty())
        out.clear();
    return out;
}

void MessagePane::writeTo(const QString &fileName) const
{
    pc::writeLines(fileName, lines());
}
