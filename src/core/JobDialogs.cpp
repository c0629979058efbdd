#include "core/JobDialogs.h"

#include "core/MessageLog.h"

namespace pc {

const QString JobDialogs::kUnloadedPriceQuestion =
    QStringLiteral("Обнаружен незагруженный файл прайса. Загрузить из него или получить новый с сервера?");

UnansweredQuestion::UnansweredQuestion(const QString &question)
    : AppError(QStringLiteral("Задание остановлено: программа задала вопрос, на который у задания нет ответа: «%1». "
                              "Откройте программу и выполните эту работу вручную")
                   .arg(question))
{
}

const std::vector<JobDialogs::Answer> &JobDialogs::table()
{
    // The morning's documents come with the list; the event log is sent as
    // recommended (the documents come only with it); a price file of unknown
    // age is not loaded unattended: it is deleted and a fresh list fetched.
    static const std::vector<Answer> answers{
        {QStringLiteral("Проверить дефектуры и накладные?"), mrYes},
        {QStringLiteral("Отправлять журнал событий (рекомендуется отправлять)?"), mrYes},
        {kUnloadedPriceQuestion, mrNo},
    };
    return answers;
}

JobDialogs::JobDialogs(MessageLog &log) : m_log(log) {}

int JobDialogs::askQuestion(const QString &text, bool, bool)
{
    m_asked << text;
    for (const Answer &a : table())
        if (text == a.question) {
            m_log.logDetail(text + QStringLiteral(" — ") + (a.answer == mrYes ? QStringLiteral("Да") : QStringLiteral("Нет"))
                            + QStringLiteral(" (задание)"));
            return a.answer;
        }
    refuse(text);
}

void JobDialogs::refuse(const QString &question)
{
    if (m_unanswered.isEmpty())
        m_unanswered = question;
    const UnansweredQuestion error(question);
    m_log.logMessage(error.message(), Error, true);
    throw error;
}

void JobDialogs::showNotice(const QString &text, bool)
{
    notices << text;
    m_log.logMessage(text, Info, true);
}

QString JobDialogs::pickFolder(const QString &caption, const QString &) { refuse(caption); }
QString JobDialogs::pickOpenFile(const QString &caption, const QString &, const QString &) { refuse(caption); }
QString JobDialogs::pickSaveFile(const QString &caption, const QString &, const QString &) { refuse(caption); }
bool JobDialogs::inputBox(const QString &caption, const QString &prompt, QString &) { refuse(caption + QLatin1Char(' ') + prompt); }
bool JobDialogs::askClientIdentity(ClientIdentity &)
{
    refuse(QStringLiteral("Код клиента, пароль и адрес сервера"));
}

} // namespace pc
