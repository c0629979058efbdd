// The price update of the main window: the button, the actuality check at
// start and on the start page, a price file left unloaded.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "app/MessagePane.h"
#include "app/PriceUpdateOperation.h"
#include "core/LogText.h"
#include "core/Operation.h"
#include "db/DataModule.h"
#include "exchange/ServerConnection.h"
#include "price/OrderEntry.h"
#include "exchange/ProgramUpdate.h"
#include "platform/Process.h"
#include "price/PriceGrid.h"
#include "price/PriceUpdate.h"
#include "ui/PriceGridBinder.h"
#include "ui/SplashWindow.h"

#include <QApplication>

void TMainForm::makePriceUpdate()
{
    PriceUpd = std::make_unique<pc::PriceUpdate>(*DM, *Connection, settings, *m_dialogs, *m_pane, context);
    PriceUpd->SwitchToOrderPage = [this] { ui->pgcMain->setCurrentWidget(ui->tsOrder); };
    PriceUpd->SetBusyCursor = [](bool busy) {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    };
    PriceUpd->ShowReceivePanel = [this](bool visible, int maxKb) {
        ui->RecivePanel->setVisible(visible);
        if (maxKb > 0)
            ui->ReciveProgress->setMaximum(maxKb);
    };
    PriceUpd->ReceiveProgress = [this](int kb) { ui->ReciveProgress->setValue(kb); };
    // Agreed to at the actuality question: the update runs on its own thread.
    PriceUpd->StartUpdate = [this] {
        UpdatePrice();
        return false;
    };
    PriceUpd->ReloadTopPanel = [this] {
        LoadTopStrip();
        LoadBanner();
    };
    PriceUpd->ShowOrderTotals = [this] { ShowOrderTotals(); };
    PriceUpd->RefreshTitle = [this] { RefreshTitle(); };
    PriceUpd->SetShowOnlyOrder = [this](bool on) { priceBinder->SetShowOnlyOrder(on); };
    PriceUpd->BuildStartPage = [this] { BuildStartPage(); };
    PriceUpd->OrderIsEmpty = [this] { return Order->OrderIsEmpty(); };
    PriceUpd->SetTitleSuffix = [this](const QString &suffix) { TitleSuffix = suffix; };
    PriceUpd->BugFixTypeChanged = [this] {
        ui->chkBugFixTypeDB->setCheckState(settings.DBBugFixType == 0   ? Qt::Unchecked
                                           : settings.DBBugFixType == 2 ? Qt::PartiallyChecked
                                                                        : Qt::Checked);
    };

    ProgramUpd = std::make_unique<pc::ProgramUpdate>(context.appDir(), QCoreApplication::applicationFilePath(), *m_dialogs, *m_pane);
    ProgramUpd->restartProgram = [this] { RestartProgram(); };
    ProgramUpd->startAndQuit = [this](const QString &program, const QString &workingDir, QString &error) {
        if (!pc::startDetached(program, {}, workingDir, &error))
            return false;
        closeWithoutAsking = true;
        close();
        QCoreApplication::quit();
        return true;
    };
    PriceUpd->CheckProgramUpdate = [this] { ProgramUpd->CheckProgramUpdate(priceGrid->ShowOnlyOrder); };
}

// The new version comes down on its own thread with a connection of its own;
// the window starts the updater (and ends) once it is there.
void TMainForm::btnUpdateProgramClick()
{
    if (!ProgramUpd || !Connection)
        return;
    struct Shared {
        Settings settings;
        int serverIndex = 0;
        QString program, workingDir; // the updater to start, once fetched
    };
    auto shared = std::make_shared<Shared>();
    shared->settings = settings;
    shared->serverIndex = Connection->CurrentServerIndex();
    const QString appDir = context.appDir();
    const QString exe = QCoreApplication::applicationFilePath();
    startTask(
        *m_dialogs,
        [shared, appDir, exe](pc::TaskOperation &task) {
            pc::ServerConnection connection(shared->settings, task.dialogs(), task.log());
            configureConnection(connection);
            connection.setCurrentServerIndex(shared->serverIndex);
            connection.setCancelFlag(&task.cancelFlag());
            pc::ProgramUpdate update(appDir, exe, task.dialogs(), task.log());
            update.startAndQuit = [shared](const QString &program, const QString &workingDir, QString &) {
                shared->program = program;
                shared->workingDir = workingDir;
                return true;
            };
            try {
                update.UpdateProgram(connection, shared->settings);
            } catch (const pc::ExchangeCancelled &) {
                task.log().logMessage(QStringLiteral("Получение обновления программы прервано"), Warning, true);
            }
            shared->serverIndex = connection.CurrentServerIndex();
        },
        [this, shared] {
            if (Connection)
                Connection->setCurrentServerIndex(shared->serverIndex);
            QString error;
            if (!shared->program.isEmpty() && ProgramUpd->startAndQuit
                && !ProgramUpd->startAndQuit(shared->program, shared->workingDir, error))
                ShowNotice(QStringLiteral("Не удалось запустить программу обновления: %1").arg(error), true);
        });
}

bool TMainForm::busy() const
{
    return m_operations && m_operations->busy();
}

void TMainForm::configureConnection(pc::ServerConnection &connection)
{
    // Ten dead servers must not keep the pharmacist waiting for minutes.
    connection.ftp().setConnectTimeout(15000);
}

bool TMainForm::startTask(Dialogs &dialogs, std::function<void(pc::TaskOperation &)> work, std::function<void()> after)
{
    return startOperation(dialogs, std::make_unique<pc::TaskOperation>(dialogs, *m_pane, std::move(work)), std::move(after));
}

bool TMainForm::startOperation(Dialogs &dialogs, std::unique_ptr<pc::Operation> op, std::function<void()> after)
{
    if (busy())
        return false;
    connect(op.get(), &pc::Operation::progress, frmSplash, &TfrmSplash::SetProgress);
    connect(op.get(), &pc::Operation::progress, this, [this](qint64 done, qint64 total) {
        ui->RecivePanel->setVisible(total >= 0);
        if (total > 0)
            ui->ReciveProgress->setMaximum(int((total + 1023) / 1024));
        if (total >= 0)
            ui->ReciveProgress->setValue(int(done / 1024));
    });
    Dialogs *shown = &dialogs;
    connect(op.get(), &pc::Operation::finished, this, [this, shown, after] {
        m_task.release()->deleteLater(); // once this signal's emission is over
        shown->setWaitCancel({});
        shown->hideWait();
        frmSplash->SetProgress(0, -1);
        ui->RecivePanel->hide();
        try {
            if (after)
                after();
        } catch (const std::exception &e) {
            LogMessage(pc::errorText(e), Error, true);
        }
    });
    pc::Operation *running = op.get();
    dialogs.setWaitCancel([running] { running->cancel(); });
    m_task = std::move(op);
    if (!m_task->start(m_operations)) {
        dialogs.setWaitCancel({});
        m_task.reset();
        return false;
    }
    return true;
}

void TMainForm::UpdatePrice()
{
    startPriceUpdate(*m_dialogs, *m_pane, {}, {});
}

bool TMainForm::startPriceUpdate(Dialogs &dialogs, MessageLog &log, std::function<bool(pc::PriceUpdate &)> press,
                                 std::function<void(const pc::PriceUpdateOperation &)> after)
{
    if (!DM || !DM->Connected() || busy())
        return false;
    if (!Connection)
        CreateFtpClient();
    ui->pgcMain->setCurrentWidget(ui->tsOrder);
    collectSettings(); // the invoice folder and the leave-on-server choice as they stand on the page
    auto op = std::make_unique<pc::PriceUpdateOperation>(*DM, context, settings, dialogs, log);
    op->addressCount = ui->cbAddresses->count();
    op->addressIndex = ui->cbAddresses->currentIndex();
    op->serverIndex = Connection->CurrentServerIndex();
    op->configureConnection = &TMainForm::configureConnection;
    op->press = std::move(press);
    connect(op.get(), &pc::PriceUpdateOperation::receivePanel, this, [this](bool visible, int maxKb) {
        ui->RecivePanel->setVisible(visible);
        if (maxKb > 0)
            ui->ReciveProgress->setMaximum(maxKb);
    });
    connect(op.get(), &pc::PriceUpdateOperation::receiveProgress, this, [this](int kb) { ui->ReciveProgress->setValue(kb); });
    connect(op.get(), &pc::Operation::progress, frmSplash, &TfrmSplash::SetProgress);
    Dialogs *shown = &dialogs;
    connect(op.get(), &pc::Operation::finished, this, [this, shown, after] { priceUpdateFinished(*shown, after); });
    pc::PriceUpdateOperation *running = op.get();
    // «Прервать» in the wait window gives the whole update up.
    dialogs.setWaitCancel([running] { running->cancel(); });
    m_priceOp = std::move(op);
    if (!m_priceOp->start(m_operations)) {
        dialogs.setWaitCancel({});
        m_priceOp.reset();
        return false;
    }
    return true;
}

void TMainForm::priceUpdateFinished(Dialogs &dialogs, std::function<void(const pc::PriceUpdateOperation &)> after)
{
    // Deleted once this signal's emission is over.
    pc::PriceUpdateOperation *op = m_priceOp.release();
    op->deleteLater();
    dialogs.setWaitCancel({});
    dialogs.hideWait();
    frmSplash->SetProgress(0, -1);
    ui->RecivePanel->hide();

    // What the update changed in the settings comes back to the window's.
    settings.PriceDate = op->settings.PriceDate;
    settings.PriceDateTime = op->settings.PriceDateTime;
    settings.PreviousServerAddress = op->settings.PreviousServerAddress;
    if (settings.DBBugFixType != op->settings.DBBugFixType) {
        settings.DBBugFixType = op->settings.DBBugFixType;
        if (PriceUpd && PriceUpd->BugFixTypeChanged)
            PriceUpd->BugFixTypeChanged();
    }
    if (Connection)
        Connection->setCurrentServerIndex(op->serverIndexAfter);

    // The window's own attachment reads what the update wrote.
    try {
        if (op->loaded) {
            followPriceList(true, false);
            if (pc::Dataset *det = DM->PriceDetTable(); det && det->Active()) {
                det->Close();
                det->Open();
            }
        }
        if (op->documentsFetched) {
            for (pc::Dataset *ds : {DM->DefectTable(), DM->NakladSet()})
                if (ds && ds->Active()) {
                    ds->Close();
                    ds->Open();
                    ds->Last();
                }
        }
    } catch (const std::exception &e) {
        LogMessage(pc::errorText(e), Error, true);
    }
    if (op->titleSuffixSet)
        TitleSuffix = op->titleSuffix;
    ShowOrderTotals();
    if (op->showOnlyOrder && priceBinder)
        priceBinder->SetShowOnlyOrder(true);
    RefreshTitle();
    BuildStartPage();
    LoadTopStrip();
    LoadBanner();
    if (after) {
        after(*op);
        return;
    }
    if (op->loaded && ProgramUpd)
        ProgramUpd->CheckProgramUpdate(priceGrid->ShowOnlyOrder);
}

bool TMainForm::CheckPriceActuality(bool ask)
{
    return PriceUpd && PriceUpd->CheckPriceActuality(ask);
}

void TMainForm::CheckUnloadedPriceFile()
{
    if (PriceUpd)
        PriceUpd->CheckUnloadedPriceFile();
}
