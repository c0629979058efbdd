#include "ScriptedDialogs.h"

#include <gtest/gtest.h>

int ScriptedDialogs::askQuestion(const QString &text, bool focusYes, bool withCancel)
{
    questions << text;
    lastFocusYes = focusYes;
    lastWithCancel = withCancel;
    if (m_answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return mrCancel;
    }
    const int a = m_answers.front();
    m_answers.pop_front();
    return a;
}

void ScriptedDialogs::showNotice(const QString &text, bool)
{
    notices << text;
}

void ScriptedDialogs::showWait(const QString &text, int)
{
    waits << text;
    ++waitShown;
}

void ScriptedDialogs::hideWait()
{
    waitShown = 0;
}

namespace {
QString takeOrEmpty(std::deque<QString> &queue, const char *what, const QString &caption)
{
    if (queue.empty()) {
        ADD_FAILURE() << "unexpected " << what << ": " << caption.toStdString();
        return QString();
    }
    QString v = queue.front();
    queue.pop_front();
    return v;
}
} // namespace

QString ScriptedDialogs::pickFolder(const QString &caption, const QString &)
{
    return takeOrEmpty(m_folders, "folder picker", caption);
}

QString ScriptedDialogs::pickOpenFile(const QString &caption, const QString &, const QString &)
{
    return takeOrEmpty(m_files, "file picker", caption);
}

QString ScriptedDialogs::pickSaveFile(const QString &caption, const QString &, const QString &)
{
    return takeOrEmpty(m_files, "save picker", caption);
}

bool ScriptedDialogs::inputBox(const QString &caption, const QString &, QString &value)
{
    const QString v = takeOrEmpty(m_inputs, "input box", caption);
    if (v.isNull())
        return false;
    value = v;
    return true;
}
