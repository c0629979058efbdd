#pragma once
// The message pane and its daily file, as seen by the logic.

#include <QString>

enum LogLevel : unsigned char { Info = 0, Warning = 1, Error = 2 };

class MessageLog {
public:
    virtual ~MessageLog() = default;
    virtual void logMessage(const QString &text, LogLevel level = Info, bool reveal = true) = 0;
    // Shown only while detailed messages are switched on.
    virtual void logDetail(const QString &text) = 0;
};
