#pragma once
// The built program run as a separate process for end-to-end tests: copied
// into a temporary program folder under a name of the test's own (one copy
// runs per executable name, so parallel tests must not share one), started
// with a clean signal mask on the offscreen platform, and ended with a signal.

#include <QString>
#include <QStringList>
#include <sys/types.h>

class ProgramProcess {
public:
    // Copies the built program into folder (ending in "/") as `name`; it is
    // started with `arguments`.
    ProgramProcess(const QString &folder, const QString &name, const QStringList &arguments = {});
    // Any program with its arguments, run where it is.
    ProgramProcess(const QString &program, const QStringList &arguments);
    ~ProgramProcess(); // kills a copy still running
    QString path() const { return m_path; }
    bool start();
    bool running();
    // Sends the signal and waits up to timeoutMs; the exit code, or -1 when
    // it did not end (it is then killed) or ended by a signal.
    int terminate(int signal, int timeoutMs = 10000);

private:
    QString m_path;
    QStringList m_arguments;
    pid_t m_pid = -1;
};
