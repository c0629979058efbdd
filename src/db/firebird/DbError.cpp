#include "db/firebird/DbError.h"

#include "platform/CodePage.h"

#include <ibase.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <vector>

namespace pc::fb {

DbError::DbError(const QString &text, long engineCode, int sqlCode)
    : std::runtime_error(text.toStdString()), m_text(text), m_engineCode(engineCode), m_sqlCode(sqlCode)
{
}

namespace {

// What the person is told, in Russian, for the engine's errors that a
// pharmacy meets: the first of these whose code the status names. The
// engine's own text follows it for the details.
QString explanationOf(const ISC_STATUS *vector)
{
    std::vector<ISC_STATUS> codes;
    bool diskFull = false;
    // A status array holds ISC_STATUS_LENGTH entries and ends with isc_arg_end.
    const ISC_STATUS *const end = vector + ISC_STATUS_LENGTH - 1;
    for (const ISC_STATUS *p = vector; p < end && *p != isc_arg_end;) {
        const ISC_STATUS kind = *p++;
        if (kind == isc_arg_cstring) {
            p += 2; // length, pointer
            continue;
        }
        if (p >= end)
            break;
        const ISC_STATUS value = *p++;
        if (kind == isc_arg_gds)
            codes.push_back(value);
        else if (kind == isc_arg_unix && value == ENOSPC)
            diskFull = true;
    }
    auto has = [&](std::initializer_list<ISC_STATUS> any) {
        return std::any_of(any.begin(), any.end(),
                           [&](ISC_STATUS c) { return std::find(codes.begin(), codes.end(), c) != codes.end(); });
    };
    if (diskFull)
        return QStringLiteral("На диске нет свободного места.");
    if (has({isc_string_truncation}))
        return QStringLiteral("Значение длиннее, чем вмещает поле базы данных.");
    if (has({isc_convert_error}))
        return QStringLiteral("Значение не подходит к типу поля базы данных.");
    if (has({isc_arith_except}))
        return QStringLiteral("Число не помещается в поле базы данных.");
    if (has({isc_unique_key_violation, isc_no_dup}))
        return QStringLiteral("Такая запись в базе данных уже есть.");
    if (has({isc_not_valid, isc_not_valid_for, isc_not_valid_for_var}))
        return QStringLiteral("Поле базы данных не допускает такого значения (например, пустого).");
    if (has({isc_lock_conflict, isc_deadlock, isc_update_conflict, isc_lock_timeout}))
        return QStringLiteral("Запись занята другим действием, повторите позже.");
    if (has({isc_io_error, isc_io_create_err, isc_io_open_err, isc_io_read_err, isc_io_write_err}))
        return QStringLiteral("Ошибка чтения или записи файла базы данных.");
    if (has({isc_db_corrupt, isc_bad_db_format}))
        return QStringLiteral("Файл повреждён или не является базой данных программы.");
    if (has({isc_shutdown}))
        return QStringLiteral("База данных закрыта для работы.");
    return QString();
}

} // namespace

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
    const QString explanation = explanationOf(vector);
    if (!explanation.isEmpty())
        message = explanation + QLatin1Char(' ') + message;
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
