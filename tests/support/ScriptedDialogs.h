#pragma once
// Dialogs for tests: answers come from a queue, every text shown is recorded,
// and a question nobody expected fails the test.

#include "core/Dialogs.h"

#include <QStringList>
#include <deque>
#include <functional>

class ScriptedDialogs : public Dialogs {
public:
    // Queue the answer to the next question (6 Yes, 7 No, 2 Cancel).
    void setNextAnswer(int answer) { m_answers.push_back(answer); }
    void setNextFolder(const QString &folder) { m_folders.push_back(folder); }
    void setNextFile(const QString &file) { m_files.push_back(file); }
    // An empty optional-like: pushing a null QString means "cancelled".
    void setNextInput(const QString &value) { m_inputs.push_back(value); }

    QStringList questions;
    QStringList notices;
    QStringList waits;
    int waitShown = 0; // +1 per showWait, -1 per hideWait
    bool lastFocusYes = true;
    bool lastWithCancel = false;
    // What «Прервать» in the wait window would call now (empty: no button).
    std::function<void()> waitCancel;

    bool answersLeft() const { return !m_answers.empty(); }

    int askQuestion(const QString &text, bool focusYes = true, bool withCancel = false) override;
    void showNotice(const QString &text, bool alsoLogDetail = false) override;
    void showWait(const QString &text, int picture = 0) override;
    void hideWait() override;
    void setWaitCancel(std::function<void()> cancel) override { waitCancel = std::move(cancel); }
    QString pickFolder(const QString &caption, const QString &start) override;
    QString pickOpenFile(const QString &caption, const QString &start, const QString &filter) override;
    QString pickSaveFile(const QString &caption, const QString &start, const QString &filter) override;
    bool inputBox(const QString &caption, const QString &prompt, QString &value) override;

private:
    std::deque<int> m_answers;
    std::deque<QString> m_folders, m_files, m_inputs;
};

// A message log for tests that keeps every line.
#include "core/MessageLog.h"
class RecordingLog : public MessageLog {
public:
    struct Entry {
        QString text;
        LogLevel level;
        bool reveal;
    };
    std::vector<Entry> entries;
    QStringList details;
    bool detailOn = true;
    void logMessage(const QString &text, LogLevel level = Info, bool reveal = true) override
    {
        entries.push_back({text, level, reveal});
    }
    void logDetail(const QString &text) override
    {
        if (detailOn)
            details << text;
    }
    bool contains(const QString &part, LogLevel level) const
    {
        for (const Entry &e : entries)
            if (e.level == level && e.text.contains(part))
                return true;
        return false;
    }
};
