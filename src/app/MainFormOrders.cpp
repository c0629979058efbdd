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
#include "core/Operation.h"
#include "db/WorkerDatabase.h"
#include "documents/FetchDocuments.h"
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
    if (busy())
        return;
    // The questions and the save here; the uploads on their own thread with
    // an attachment and a connection of their own.
    const int before = Saver->NextOrderNumber();
    const int count = ui->cbAddresses->count();
    const int index = ui->cbAddresses->currentIndex();
    const bool go = sender.PrepareSending(count, index, ui->edOrderComment->text());
    clearCommentWhenStored(before);
    if (!go)
        return;
    struct Shared {
        Settings settings;
        int serverIndex = 0;
        bool documentsFetched = false;
    };
    auto shared = std::make_shared<Shared>();
    shared->settings = settings;
    shared->serverIndex = Connection->CurrentServerIndex();
    const pc::TDM *like = DM.get();
    const pc::AppContext appContext = context;
    const bool started = startTask(
        *m_dialogs,
        [shared, like, appContext, count, index](pc::TaskOperation &task) {
            std::unique_ptr<pc::TDM> dm = pc::OpenAttachmentLike(*like, appContext, task.dialogs(), task.log());
            pc::ServerConnection connection(shared->settings, task.dialogs(), task.log());
            configureConnection(connection);
            connection.setCurrentServerIndex(shared->serverIndex);
            connection.setCancelFlag(&task.cancelFlag());
            pc::OrderFileWriter writer(*dm, task.dialogs(), task.log(), appContext, shared->settings);
            pc::OrderSaver saver(*dm, task.dialogs(), task.log(), shared->settings);
            pc::OrderSender send(*dm, task.dialogs(), task.log(), appContext, shared->settings, connection, writer, saver);
            send.showProgressPanel = [&task](bool visible) { emit task.progress(0, visible ? 0 : -1); };
            pc::DocumentFetch fetch(*dm, connection, shared->settings, task.dialogs(), task.log(), appContext);
            fetch.ReceiveProgress = [&task](qint64 done, qint64 total) { emit task.progress(done, total); };
            send.fetchDocuments = [&] {
                fetch.FetchDocuments(false, count, index);
                shared->documentsFetched = true;
            };
            send.SendPrepared();
            shared->serverIndex = connection.CurrentServerIndex();
        },
        [this, shared] {
            if (Connection)
                Connection->setCurrentServerIndex(shared->serverIndex);
            Saver->ReloadArchive();
            ShowOrderTotals();
            if (shared->documentsFetched)
                reopenDocuments();
            BuildStartPage();
        });
    if (!started) // the order is in the archive, unsent: it goes with the next send
        ShowNotice(QStringLiteral("При отправке заявки возникли ошибки.\r\nЗаявка была перемещена в архив и будет "
                                  "отправлена при повторном сеансе связи"),
                   true);
}
