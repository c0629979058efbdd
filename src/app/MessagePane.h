#pragma once
// The message pane at the bottom of the main window and its daily file.

#include "core/MessageLog.h"

#include <QStringList>
#include <functional>

class QCheckBox;
class QPushButton;
class QTextEdit;
class QWidget;

class MessagePane : public MessageLog {
public:
    MessagePane(QWidget *paMessage, QTextEdit *reMessages, QPushButton *btnSendErrorLog, QCheckBox *chkDetailLog,
                QString appDir, std::function<QString()> clientCode);

    void logMessage(const QString &text, LogLevel level = Info, bool reveal = true) override;
    void logDetail(const QString &text) override;

    // Every line of the pane, in order.
    QStringList lines() const;
    // Writes the whole pane to a file (cp1251, CR LF); throws pc::AppError.
    void writeTo(const QString &fileName) const;

private:
    void appendToDailyFile(const QString &line);
    void appendLine(const QString &line, LogLevel level);
    void showPane();

    QWidget *m_panel;
    QTextEdit *m_edit;
    QPushButton *m_sendButton;
    QCheckBox *m_detail;
    QString m_appDir;
    std::function<QString()> m_clientCode;
    QString m_failedFile; // the daily file that could not be written last time
};
