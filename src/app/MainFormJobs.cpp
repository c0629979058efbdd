// Jobs in the open window: a job started by a timer while the window is open
// hands itself over through the local socket and is run here as if its
// button were pressed, with the job's fixed answers instead of the question
// window, so that nobody has to be in front of the screen. The window shows
// what was done in the message pane and on the start page.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "app/JobRunner.h"
#include "app/MessagePane.h"
#include "app/PriceUpdateOperation.h"
#include "core/JobDialogs.h"
#include "core/JobResult.h"
#include "core/LogText.h"
#include "documents/FetchDocuments.h"
#include "price/PriceUpdate.h"
#include "ui/SplashWindow.h"

#include <QApplication>
#include <QThread>
#include <QTimer>

bool TMainForm::BusyForJob() const
{
    return !Initialised || m_activating || m_jobRunning || busy() || QApplication::activeModalWidget()
           || QApplication::activePopupWidget();
}

void TMainForm::AnswerOtherCopy(const QString &request, const std::function<void(const QString &)> &reply)
{
    if (request == QLatin1String("show")) {
        if (!QApplication::activeModalWidget()) {
            showNormal();
            showMaximized();
        }
        raise();
        activateWindow();
        reply(QStringLiteral("window"));
        return;
    }
    const std::optional<pc::JobKind> kind =
        request.startsWith(QLatin1String("job ")) ? pc::jobKindOf(request.mid(4)) : std::nullopt;
    if (!kind) {
        reply(QString());
        return;
    }
    if (BusyForJob()) {
        reply(QStringLiteral("busy"));
        return;
    }
    // Out of the socket's handler first; the window may have become busy by then.
    QTimer::singleShot(0, this, [this, kind, reply] {
        // Another counter's price update: the job waits for it in its own
        // process and asks again, rather than failing on the busy lock.
        if (BusyForJob() || (*kind == pc::JobKind::UpdatePrice && DM && pc::OtherWorkstationUpdatesPrice(*DM))) {
            reply(QStringLiteral("busy"));
            return;
        }
        RunHandedJob(*kind, [reply](const pc::JobOutcome &out) {
            reply(QStringLiteral("done %1 %2").arg(out.exitCode).arg(out.summary));
        });
    });
}

void TMainForm::RunHandedJob(pc::JobKind kind, std::function<void(const pc::JobOutcome &)> done)
{
    m_jobRunning = true;
    const qsizetype linesBefore = m_pane->lines().size();
    auto errorsSince = [this](qsizetype linesBefore) {
        QStringList errors;
        for (const QString &line : m_pane->lines().mid(linesBefore))
            if (line.contains(pc::levelPrefix(Error)))
                errors << line.mid(line.indexOf(pc::levelPrefix(Error)) + pc::levelPrefix(Error).size());
        return errors;
    };
    auto finish = [this, kind, done](const pc::JobOutcome &out) {
        m_jobRunning = false;
        try {
            pc::keepJobResult(context, kind, out, QDateTime::currentDateTime(), DM.get(), true);
        } catch (const std::exception &e) {
            LogMessage(pc::errorText(e), Warning, false);
        }
        LogMessage(out.summary, out.exitCode == pc::JobDone ? Info : out.exitCode == pc::JobStalePrice ? Warning : Error, true);
        BuildStartPage();
        if (done)
            done(out);
    };

    if (kind == pc::JobKind::UpdatePrice) {
        // The job's answers stand in for the person's for this update only;
        // the window's own questions still go to the person. A new version
        // found in the archive waits for the next start.
        if (const std::optional<pc::JobOutcome> other =
                pc::otherWorkstationsPriceUpdate(*DM, *PriceUpd, settings, *m_pane, context.appDir(), 0)) {
            RefreshTitle();
            finish(*other);
            return;
        }
        auto jobDialogs = std::make_shared<pc::JobDialogs>(*m_pane);
        std::shared_ptr<const pc::PriceSnapshot> before;
        try {
            before = std::make_shared<const pc::PriceSnapshot>(*DM);
        } catch (const std::exception &) {
        }
        const bool started = startPriceUpdate(
            *jobDialogs, *m_pane,
            [jobDialogs](pc::PriceUpdate &update) { return pc::runPriceUpdate(update, *jobDialogs); },
            [this, jobDialogs, before, linesBefore, errorsSince, finish](const pc::PriceUpdateOperation &op) {
                pc::JobOutcome out;
                try {
                    out = pc::priceJobOutcome(*DM, *PriceUpd, op.loaded, settings.PriceDate,
                                              before ? *before : pc::PriceSnapshot(*DM), *jobDialogs,
                                              errorsSince(linesBefore), QDateTime::currentDateTime());
                } catch (const std::exception &e) {
                    LogMessage(pc::errorText(e), Error, true);
                    out = {pc::JobFailed, pc::errorText(e)};
                }
                finish(out);
            });
        if (!started)
            finish(pc::busyJobOutcome(kind, QDateTime::currentDateTime()));
        return;
    }

    auto jobDialogs = std::make_shared<pc::JobDialogs>(*m_pane);
    const bool started = startDocumentFetch(
        false, *jobDialogs, [jobDialogs, linesBefore, errorsSince, finish](int defectures, int documents) {
            finish(pc::documentsJobOutcome(defectures, documents, *jobDialogs, errorsSince(linesBefore),
                                           QDateTime::currentDateTime()));
        });
    if (!started)
        finish(pc::busyJobOutcome(kind, QDateTime::currentDateTime()));
}

void TMainForm::ShowLastJobResult()
{
    std::optional<pc::JobResult> job = pc::readJobResult(context);
    if (!job || job->seen)
        return;
    LogMessage(QStringLiteral("Автоматически: ") + job->summary,
               job->exitCode == pc::JobDone ? Info : job->exitCode == pc::JobStalePrice ? Warning : Error, true);
    try {
        pc::markJobResultSeen(context);
    } catch (const std::exception &e) {
        LogMessage(pc::errorText(e), Warning, false);
    }
}
