#pragma once
// Starting outside programs: the unpackers, the launcher, the updater and the
// desktop's opener. Every child of this program is started here.
//
// Termination and child signals are blocked in this program (see Signals.h),
// so children are started with posix_spawn with a clean signal mask and
// reaped by polling, never through a SIGCHLD handler.
//
// A child gets standard input, output and error and nothing else: the
// embedded database engine keeps its files open without close-on-exec, and a
// child that inherited them (the launcher execs the new program copy) would
// hold the old copy's database and lock files.

#include <QString>
#include <QStringList>
#include <functional>

namespace pc {

struct RunResult {
    enum Status { Finished, TimedOut, NotStarted } status = NotStarted;
    int exitCode = -1;     // when Finished: the exit code, or 128 + signal
    QString error;         // when NotStarted: why
    QByteArray output;     // standard output, when captured (runAndCapture)
    QByteArray errors;     // standard error, when captured
};

// Runs program with arguments in workingDir, waits at most timeoutMs; on time-out
// the program is killed. idle is called between polls (to keep the window painted).
RunResult runAndWait(const QString &program, const QStringList &arguments, const QString &workingDir,
                     int timeoutMs = 15000, const std::function<void()> &idle = {});

// As runAndWait, with the child's standard output and error collected into
// the result (standard input reads nothing).
RunResult runAndCapture(const QString &program, const QStringList &arguments, const QString &workingDir,
                        int timeoutMs = 15000);

// Starts program and returns at once; false (with error) when it cannot be started.
// The child is reaped by later calls of this module (or ends with this program).
bool startDetached(const QString &program, const QStringList &arguments, const QString &workingDir,
                   QString *error = nullptr, qint64 *pid = nullptr);

// Looks a helper program up in the program folder first, then on PATH; empty when absent.
QString findProgram(const QString &name, const QString &appDir);

} // namespace pc
