#pragma once
// One price update, one sending and one document fetch at a time over all
// workstations that share a database. A job holds a row of WORKSTATE locked
// in a transaction of its own for as long as it runs; the engine drops the
// lock when the job ends, the program ends or its connection breaks, so a
// workstation that was killed never blocks the others.

#include <QString>
#include <memory>

class Dialogs;

namespace pc {

class TDM;
namespace fb {
class Transaction;
}

class JobLock {
public:
    enum class Job { PriceUpdate, Sending, DocumentFetch };
    JobLock(TDM &dm, Job job);
    ~JobLock(); // releases
    JobLock(const JobLock &) = delete;
    JobLock &operator=(const JobLock &) = delete;

    // True when this workstation now runs the job (also when the database
    // keeps no locks, e.g. it is not open); false when another one runs it:
    // BusyText() then says who.
    bool Acquire();
    // Acquire, and when the job cannot start here, say why (who runs it, or
    // the database's error) to the person. True when it may start.
    bool AcquireOrTell(Dialogs &dialogs);
    void Release() noexcept;
    // «Прайс обновляется на другом рабочем месте» and who it is.
    QString BusyText() const { return m_busy; }
    // The first words of BusyText for a job, without who runs it.
    static QString BusyTextOf(Job job);

    // This workstation as the others are told: computer and user name.
    static QString WorkstationName();

private:
    TDM &m_dm;
    Job m_job;
    QString m_busy;
    std::unique_ptr<fb::Transaction> m_tr;
};

} // namespace pc
