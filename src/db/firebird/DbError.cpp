#include "db/firebird/DbError.h"

#include "db/firebird/Database.h"
#include "platform/CodePage.h"

#include <ibase.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <vector>

namespace pc::fb {

DbError::DbError(const QString &text, long engineCode, int sqlCode, std::vector<long> codes)
    : std::runtime_error(text.toStdString()), m_text(text), m_engineCode(engineCode), m_sqlCode(sqlCode),
      m_codes(std::move(codes))
{
    if (m_codes.empty() && m_engineCode != 0)
        m_codes.push_back(m_engineCode);
}

namespace {

// Engine codes of a status vector, in order, and whether the system said the
// disk is full.
std::vector<long> codesOf(const ISC_STATUS *vector, bool *diskFull = nullptr)
{
    std::vector<long> codes;
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
            codes.push_back(long(value));
        else if (kind == isc_arg_unix && value == ENOSPC && diskFull)
            *diskFull = true;
    }
    return codes;
}

bool anyOf(const std::vector<long> &codes, std::initializer_list<ISC_STATUS> any)
{
    return std::any_of(any.begin(), any.end(),
                       [&](ISC_STATUS c) { return std::find(codes.begin(), codes.end(), long(c)) != codes.end(); });
}

const std::initializer_list<ISC_STATUS> kConflictCodes{isc_lock_conflict, isc_deadlock, isc_update_conflict,
                                                       isc_lock_timeout, isc_concurrent_transaction};
const std::initializer_list<ISC_STATUS> kLostCodes{isc_network_error, isc_net_read_err, isc_net_write_err,
                                                   isc_lost_db_connection, isc_conn_lost, isc_att_shutdown,
                                                   isc_net_connect_err, isc_net_lookup_err};

// What the person is told, in Russian, for the engine's errors that a
// pharmacy meets: the first of these whose code the status names. The
// engine's own text follows it for the details.
QString explanationOf(const ISC_STATUS *vector)
{
    bool diskFull = false;
    const std::vector<long> codes = codesOf(vector, &diskFull);
    auto has = [&](std::initializer_list<ISC_STATUS> any) { return anyOf(codes, any); };
    if (has({isc_net_lookup_err}))
        return QStringLiteral("Сервер базы данных не найден: проверьте имя или адрес компьютера-сервера.");
    if (has({isc_net_connect_err}))
        return QStringLiteral("Сервер базы данных не отвечает: не запущен, закрыт порт или неверный номер порта.");
    if (has({isc_connect_reject}))
        return QStringLiteral("Сервер базы данных отказал в соединении: по этому адресу и порту отвечает не сервер "
                              "Firebird 3 или он не принимает соединений.");
    if (has({isc_wirecrypt_incompatible}))
        return QStringLiteral("Сервер базы данных и программа не согласны о шифровании соединения (WireCrypt): "
                              "проверьте настройку WireCrypt сервера.");
    if (has({isc_login}))
        return QStringLiteral("Сервер базы данных не принял имя пользователя или пароль.");
    if (has({isc_network_error, isc_net_read_err, isc_net_write_err, isc_lost_db_connection, isc_conn_lost,
             isc_att_shutdown}))
        return QStringLiteral("Связь с сервером базы данных прервалась.");
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
    if (has(kConflictCodes))
        return QStringLiteral("Запись занята другим действием или другим рабочим местом, повторите позже.");
    if (has({isc_io_open_err}) && !has({isc_io_read_err, isc_io_write_err}))
        return QStringLiteral("Файл базы данных не найден или не открывается по этому пути.");
    if (has({isc_io_error, isc_io_create_err, isc_io_open_err, isc_io_read_err, isc_io_write_err}))
        return QStringLiteral("Ошибка чтения или записи файла базы данных.");
    if (has({isc_db_corrupt, isc_bad_db_format}))
        return QStringLiteral("Файл повреждён или не является базой данных программы.");
    if (has({isc_shutdown}))
        return QStringLiteral("База данных закрыта для работы.");
    return QString();
}

} // namespace

DbError DbError::fromStatus(const intptr_t *status, Database *db, const QString &context)
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
    QString engine = pc::fromCp1251(text);
    if (engine.isEmpty())
        engine = QStringLiteral("Firebird error %1").arg(long(vector[1]));
    // The person reads first what failed, in Russian; the engine's own
    // (English) text follows in brackets for the details.
    QString explanation = explanationOf(vector);
    if (explanation.isEmpty() && context.isEmpty())
        explanation = QStringLiteral("Ошибка базы данных.");
    QString message = QLatin1Char('(') + engine + QLatin1Char(')');
    if (!explanation.isEmpty())
        message = explanation + QLatin1Char(' ') + message;
    if (!context.isEmpty())
        message = context + QLatin1Char(' ') + message;
    const long code = vector[0] == 1 ? long(vector[1]) : 0;
    std::vector<long> codes = codesOf(vector);
    if (db && anyOf(codes, kLostCodes))
        db->markLost();
    return DbError(message, code, int(isc_sqlcode(vector)), std::move(codes));
}

bool DbError::hasCode(long code) const
{
    return std::find(m_codes.begin(), m_codes.end(), code) != m_codes.end();
}

bool DbError::isDuplicate() const { return hasCode(isc_unique_key_violation) || hasCode(isc_no_dup); }
bool DbError::isConflict() const { return anyOf(m_codes, kConflictCodes); }
bool DbError::isConnectionLost() const { return anyOf(m_codes, kLostCodes); }
bool DbError::isHostUnknown() const { return hasCode(isc_net_lookup_err); }
bool DbError::isConnectionRefused() const { return hasCode(isc_net_connect_err); }
bool DbError::isLoginRefused() const { return hasCode(isc_login); }
bool DbError::isFileMissing() const { return hasCode(isc_io_open_err) && !hasCode(isc_io_read_err); }
bool DbError::isWireCryptMismatch() const { return hasCode(isc_wirecrypt_incompatible); }

bool DbError::isOpenedByOtherProcess() const
{
    // "Database already opened with engine instance, incompatible with current"
    return m_text.contains(QLatin1String("already opened"), Qt::CaseInsensitive);
}

} // namespace pc::fb
