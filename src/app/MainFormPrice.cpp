// The price update of the main window: the button, the actuality check at
// start and on the start page, a price file left unloaded.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "app/MessagePane.h"
#include "db/DataModule.h"
#include "exchange/ServerConnection.h"
#include "price/OrderEntry.h"
#include "exchange/ProgramUpdate.h"
#include "platform/Process.h"
#include "price/PriceGrid.h"
#include "price/PriceUpdate.h"
#include "ui/PriceGridBinder.h"

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
    PriceUpd->ProcessEvents = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
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

void TMainForm::btnUpdateProgramClick()
{
    if (ProgramUpd && Connection)
        ProgramUpd->UpdateProgram(*Connection, settings);
}

void TMainForm::UpdatePrice()
{
    if (PriceUpd)
        PriceUpd->UpdatePrice();
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
