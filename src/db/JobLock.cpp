#include "db/JobLock.h"

#include "core/Dialogs.h"
#include "db/DataModule.h"
#include "platform/AppError.h"
#include "db/firebird/Database.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Transaction.h"

#include <QDateTime>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace pc {

namespace {

QString rowOf(JobLock::Job job)
{
    switch (job) {
    case JobLock::Job::PriceUpdate: return QStringLiteral("JOB.PRICE");
    case JobLock::Job::Sending: return QStringLiteral("JOB.SEND");
    case JobLock::Job::DocumentFetch: return QStringLiteral("JOB.DOCUMENTS");
    }
    return QString();
}

} // namespace

QString JobLock::BusyTextOf(Job job)
{
    switch (job) {
    case JobLock::Job::PriceUpdate: return QStringLiteral("Прайс обновляется на другом рабочем месте");
    case JobLock::Job::Sending: return QStringLiteral("Заявки отправляются на другом рабочем месте");
    case JobLock::Job::DocumentFetch: return QStringLiteral("Документы получаются на другом рабочем месте");
    }
    return QString();
}

JobLock::JobLock(TDM &dm, Job job) : m_dm(dm), m_job(job) {}

JobLock::~JobLock()
{
    Release();
}

QString JobLock::WorkstationName()
{
    // The login name of the account, not $USER: a timer or cron job has no
    // USER in its environment, and the others must still be told who it is.
    QString user;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        user = QString::fromLocal8Bit(found->pw_name);
    if (user.isEmpty())
        user = QString::fromLocal8Bit(qgetenv("USER"));
    const QString host = QSysInfo::machineHostName();
    return user.isEmpty() ? host : host + QLatin1Char('/') + user;
}

bool JobLock::Acquire()
{
    m_busy.clear();
    if (m_tr && m_tr->isActive())
        return true;
    m_dm.ReconnectIfLost(); // a job after the server came back starts on a new connection
    if (m_dm.IsServerAway())
        throw AppError(QStringLiteral("Сервер базы данных не отвечает… Повторите, когда программа скажет, "
                                      "что соединение восстановлено."));
    fb::Database *db = m_dm.Database();
    if (!m_dm.IsFirebird() || !db || !db->isAttached() || !m_dm.TableExists(QStringLiteral("WORKSTATE")))
        return true;
    const QString row = rowOf(m_job);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    m_tr = std::make_unique<fb::Transaction>(*db, 0); // never waits: busy is busy
    try {
        m_tr->start();
        fb::Statement take(*m_tr);
        take.prepare(QStringLiteral("UPDATE WORKSTATE SET VAL = ? WHERE NAME = ?"));
        take.setValue(0, stamp);
        take.setValue(1, row);
        take.execute();
        if (take.rowsAffected() == 0) {
            fb::Statement add(*m_tr);
            add.prepare(QStringLiteral("INSERT INTO WORKSTATE (NAME, VAL) VALUES (?, ?)"));
            add.setValue(0, row);
            add.setValue(1, stamp);
            add.execute();
        }
    } catch (const fb::DbError &e) {
        m_tr.reset(); // rolls back
        if (!e.isConflict() && !e.isDuplicate() /* the other one inserted the row first */)
            throw;
        const QString who = m_dm.SharedValue(row + QStringLiteral(".WHO"));
        m_busy = BusyTextOf(m_job);
        if (!who.isEmpty())
            m_busy += QStringLiteral(" (") + who + QLatin1Char(')');
        return false;
    }
    // Who runs it, for the others to read: committed at once, apart.
    try {
        fb::Transaction tr(*db, 2);
        tr.start();
        fb::Statement who(tr);
        who.prepare(QStringLiteral("UPDATE OR INSERT INTO WORKSTATE (NAME, VAL) VALUES (?, ?) MATCHING (NAME)"));
        who.setValue(0, QString(row + QStringLiteral(".WHO")));
        who.setValue(1, QString(WorkstationName() + QStringLiteral(", с ") + stamp));
        who.execute();
        tr.commit();
    } catch (const std::exception &) {
        // Only the name shown to the others is missing.
    }
    return true;
}

bool JobLock::AcquireOrTell(Dialogs &dialogs)
{
    try {
        if (Acquire())
            return true;
        dialogs.showNotice(m_busy, true);
    } catch (const std::exception &e) {
        dialogs.showNotice(errorText(e), true);
    }
    return false;
}

void JobLock::Release() noexcept
{
    if (!m_tr)
        return;
    try {
        if (m_tr->isActive())
            m_tr->rollback();
    } catch (...) {
    }
    m_tr.reset();
}

} // namespace pc
