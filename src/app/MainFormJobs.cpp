// Jobs in the open window: a job started by a timer while the window is open
// hands itself over through the local socket and is run here as if its
// button were pressed, with the job's fixed answers instead of the question
// window, so that nobody has to be in front of the screen. The window shows
// what was done in the message pane and on the start page.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "app/JobRunner.h"
#include "app/MessagePane.h"
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
    return !Initialised || m_activating || m_jobRunning || QApplication::activeModalWidget()
           || QApplication::activePopupWidget() || QApplication::overrideCursor() || (frmSplash && frmSplash->isVisible())
           || QThread::currentThread()->loopLevel() > 1;
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
        const pc::JobOutcome out = RunHandedJob(*kind);
        reply(QStringLiteral("done %1 %2").arg(out.exitCode).arg(out.summary));
    });
}

pc::JobOutcome TMainForm::RunHandedJob(pc::JobKind kind)
{
    m_jobRunning = true;
    pc::JobDialogs jobDialogs(*m_pane);
    Dialogs *person = m_router->target;
    m_router->target = &jobDialogs;
    const qsizetype linesBefore = m_pane->lines().size();
    pc::JobOutcome out;
    try {
        if (kind == pc::JobKind::UpdatePrice) {
            // A new version found in the archive waits for the next start.
            struct NoProgramUpdate {
                std::function<void()> &hook;
                std::function<void()> kept;
                explicit NoProgramUpdate(std::function<void()> &h) : hook(h) { std::swap(hook, kept); }
                ~NoProgramUpdate() { std::swap(hook, kept); }
            } noProgramUpdate(PriceUpd->CheckProgramUpdate);
            if (const std::optional<pc::JobOutcome> other =
                    pc::otherWorkstationsPriceUpdate(*DM, *PriceUpd, settings, *m_pane, context.appDir(), 0)) {
                out = *other;
                RefreshTitle();
            } else {
                const pc::PriceSnapshot before(*DM);
                const bool loaded = pc::runPriceUpdate(*PriceUpd, jobDialogs);
                QStringList errors;
                for (const QString &line : m_pane->lines().mid(linesBefore))
                    if (line.contains(pc::levelPrefix(Error)))
                        errors << line.mid(line.indexOf(pc::levelPrefix(Error)) + pc::levelPrefix(Error).size());
                out = pc::priceJobOutcome(*DM, *PriceUpd, loaded, settings.PriceDate, before, jobDialogs, errors,
                                          QDateTime::currentDateTime());
            }
        } else {
            collectSettings();
            const pc::DocumentFetch::Result r =
                Documents->FetchDocuments(false, ui->cbAddresses->count(), ui->cbAddresses->currentIndex());
            QStringList errors;
            for (const QString &line : m_pane->lines().mid(linesBefore))
                if (line.contains(pc::levelPrefix(Error)))
                    errors << line.mid(line.indexOf(pc::levelPrefix(Error)) + pc::levelPrefix(Error).size());
            out = pc::documentsJobOutcome(r.defectures, r.documents, jobDialogs, errors, QDateTime::currentDateTime());
        }
    } catch (const std::exception &e) {
        LogMessage(pc::errorText(e), Error, true);
        out = {pc::JobFailed, pc::errorText(e)};
    }
    m_router->target = person;
    m_jobRunning = false;
    try {
        pc::keepJobResult(context, kind, out, QDateTime::currentDateTime(), DM.get(), true);
    } catch (const std::exception &e) {
        LogMessage(pc::errorText(e), Warning, false);
    }
    LogMessage(out.summary, out.exitCode == pc::JobDone ? Info : out.exitCode == pc::JobStalePrice ? Warning : Error, true);
    BuildStartPage();
    return out;
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
