#pragma once
// Starting outside programs (unpackers, the launcher, the updater).
//
// Termination and child signals are blocked in this program (see Signals.h),
// so children are started with posix_spawn with a clean signal mask and
// reaped by polling, never through a SIGCHLD handler.

#include <QString>
#include <QStringList>
#include <functional>

namespace pc {

struct RunResult {
    enum Status { Finished, TimedOut, NotStarted } status = NotStarted;
    int exitCode = -1;     // when Finished: the exit code, or 128 + signal
    QString error;         // when NotStarted: why
};

// Runs program with arguments in workingDir, waits at most timeoutMs; on time-out
// the program is killed. idle is called between polls (to keep the window painted).
RunResult runAndWait(const QString &program, const QStringList &arguments, const QString &workingDir,
                     int timeoutMs = 15000, const std::function<void()> &idle = {});

// Starts program and returns at once; false (with error) when it cannot be started.
bool startDetached(const QString &program, const QStringList &arguments, const QString &workingDir,
                   QString *error = nullptr);

// Looks a helper program up in the program folder first, then on PATH; empty when absent.
QString findProgram(const QString &name, const QString &appDir);

} // namespace pc
