#include "db/firebird/DbError.h"

#include "platform/CodePage.h"

#include <ibase.h>

namespace pc::fb {

DbError::DbError(const QString &text, long engineCode, int sqlCode)
    : std::runtime_error(text.toStdString()), m_text(text), m_engineCode(engineCode), m_sqlCode(sqlCode)
{
}

DbError DbError::fromStatus(const intptr_t *status, const QString &context)
{
    const ISC_STATUS *vector = reinterpret_cast<const ISC_STATUS *>(status);
    QByteArray text;
    char buffer[1024];
    const ISC_STATUS *p = vector;
    while (fb_interpret(buffer, sizeof buffer, &p) > 0) {
        if (!text.isEmpty())
            text += '\n';
        text += buffer;
    }
    // Texts inside engine messages (object names, values) come in the
    // connection's character set.
    QString message = pc::fromCp1251(text);
    if (message.isEmpty())
        message = QStringLiteral("Firebird error %1").arg(long(vector[1]));
    // The person reads first what failed, in Russian; the engine's own
    // (English) text follows for the details.
    if (!context.isEmpty())
        message = context + QLatin1Char(' ') + message;
    const long code = vector[0] == 1 ? long(vector[1]) : 0;
    return DbError(message, code, int(isc_sqlcode(vector)));
}

bool DbError::isOpenedByOtherProcess() const
{
    // "Database already opened with engine instance, incompatible with current"
    return m_text.contains(QLatin1String("already opened"), Qt::CaseInsensitive);
}

} // namespace pc::fb
