#pragma once
// The program's own error: a Russian message meant for the message log.

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <exception>

namespace pc {

class AppError : public std::exception {
public:
    explicit AppError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const char *what() const noexcept override { return m_utf8.constData(); }
    const QString &message() const { return m_message; }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A text without what stands in round or square brackets (the detail for the
// maintainer) and without the brackets themselves.
inline QString textOutsideBrackets(const QString &text)
{
    QString out;
    int depth = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('(') || c == QLatin1Char('['))
            ++depth;
        else if ((c == QLatin1Char(')') || c == QLatin1Char(']')) && depth > 0)
            --depth;
        else if (depth == 0)
            out += c;
    }
    return out;
}

inline bool hasLetterOf(const QString &text, QChar::Script script)
{
    return std::any_of(text.begin(), text.end(), [script](QChar c) { return c.script() == script; });
}

// Whether a text says something to a Russian reader: it has Cyrillic letters
// outside brackets.
inline bool readsRussian(const QString &text)
{
    return hasLetterOf(textOutsideBrackets(text), QChar::Script_Cyrillic);
}

// The message of any exception, as the log shows it. The program's own
// errors speak Russian; a library's text (often English) goes in brackets
// after a Russian sentence.
inline QString errorText(const std::exception &e)
{
    if (auto *a = dynamic_cast<const AppError *>(&e))
        return a->message();
    const QString what = QString::fromUtf8(e.what());
    if (readsRussian(what))
        return what;
    return QStringLiteral("Внутренняя ошибка программы (") + what + QLatin1Char(')');
}

} // namespace pc
