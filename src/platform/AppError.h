#pragma once
// The program's own error: a Russian message meant for the message log.

#include <QByteArray>
#include <QString>
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

// The message of any exception, as the log shows it.
inline QString errorText(const std::exception &e)
{
    if (auto *a = dynamic_cast<const AppError *>(&e))
        return a->message();
    return QString::fromUtf8(e.what());
}

} // namespace pc
