// The order buttons of the main window: saving the current order into the
// archive, writing an archived order to a file, sending.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "app/MessagePane.h"
#include "core/MessageLog.h"
#include "db/DataModule.h"
#include "exchange/ServerConnection.h"
#include "orders/OrderArchive.h"
#include "orders/OrderFile.h"
#include "orders/SaveOrder.h"
#include "orders/SendOrders.h"
#include "price/PriceGrid.h"

#include <QApplication>

void TMainForm::makeOrderObjects()
{
    OrderWriter = std::make_unique<pc::OrderFileWriter>(*DM, *m_dialogs, *m_pane, context, settings);
    Saver = std::make_unique<pc::OrderSaver>(*DM, *m_dialogs, *m_pane, settings);
    Saver->ShowOrderTotals = [this] { ShowOrderTotals(); };
    Archive = std::make_unique<pc::OrderArchive>(*DM, *m_dialogs, *m_pane, context, settings, *Order, *Saver);
    Archive->ShowOrderTotals = [this] { ShowOrderTotals(); };
    Archive->SetBusy = [this](bool on) {
        if (on) {
            repaint();
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    };
}

void TMainForm::btnOrderRestoreClick() { Archive->RestoreSelectedOrder(); }
void TMainForm::btnDeleteOrderClick() { Archive->DeleteSelectedOrder(); }
void TMainForm::btnDeleteAllOrdersClick() { Archive->DeleteAllOrders(); }

void TMainForm::btnImportOrderClick()
{
    collectSettings(); // the import reads the folder, file and column settings as they stand on the page
    Archive->ImportOrderFile();
}

// The comment belongs to the order it was typed for: once that order is
// stored in the archive the box is emptied, so it does not ride along with the
// next one. A cancelled or failed save keeps it.
void TMainForm::clearCommentWhenStored(int numberBefore)
{
    if (Saver->NextOrderNumber() > numberBefore)
        ui->edOrderComment->clear();
}

void TMainForm::SaveCurrentOrder()
{
    const int before = Saver->NextOrderNumber();
    Saver->SaveCurrentOrder(ui->edOrderComment->text());
    clearCommentWhenStored(before);
}

void TMainForm::btnSaveOrderToArchClick()
{
    const int before = Saver->NextOrderNumber();
    Saver->SaveOrderToArchive(ui->edOrderComment->text());
    clearCommentWhenStored(before);
}

void TMainForm::btnSaveOrderClick()
{
    OrderWriter->SaveSelectedOrder();
}

void TMainForm::btnSendorderClick()
{
    if (!Connection)
        CreateFtpClient();
    pc::OrderSender sender(*DM, *m_dialogs, *m_pane, context, settings, *Connection, *OrderWriter, *Saver);
    sender.checkPriceActuality = [this](bool ask) { return CheckPriceActuality(ask); };
    sender.showOnlyOrder = [this] { return priceGrid->ShowOnlyOrder; };
    sender.leaveChangesMode = [this] {
        ui->chkShowOnlyOrder->setChecked(false);
        ui->pgcMain->setCurrentWidget(ui->tsOrder);
    };
    sender.dropDownAddresses = [this] { ui->cbAddresses->showPopup(); };
    // The panel is up while one order file goes to the server: the busy cursor with it.
    sender.showProgressPanel = [this](bool visible) {
        if (visible) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            ui->RecivePanel->show();
            repaint();
        } else {
            ui->RecivePanel->hide();
            QApplication::restoreOverrideCursor();
        }
    };
    sender.reloadArchive = [this] { Saver->ReloadArchive(); };
    sender.showOrderTotals = [this] { ShowOrderTotals(); };
    sender.fetchDocuments = [this] { FetchDocuments(false); };
    const int before = Saver->NextOrderNumber();
    sender.SendOrders(ui->cbAddresses->count(), ui->cbAddresses->currentIndex(), ui->edOrderComment->text());
    clearCommentWhenStored(before);
}
