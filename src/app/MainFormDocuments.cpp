// The invoice page of the main window: retail pricing, totals, the price
// archive, the viewed mark and the highlighting of lines over the limits.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "app/MessagePane.h"
#include "core/Dialogs.h"
#include "core/PriceMask.h"
#include "db/DataModule.h"
#include "app/DocumentFetchOperation.h"
#include "exchange/ServerConnection.h"
#include "documents/MaxMarkup.h"
#include "documents/FetchDocuments.h"
#include "documents/Printing.h"
#include "documents/RetailPricing.h"
#include "orders/OrderArchive.h"
#include "price/PriceGrid.h"
#include "price/PriceUpdate.h"
#include "ui/DatasetModel.h"

#include <QApplication>
#include <QListWidget>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QPrintPreviewDialog>
#include <QRegularExpressionValidator>
#include <QPrinter>
#include <QTableWidget>
#include <QToolBar>

void TMainForm::makeDocuments()
{
    // The markup: up to three digits, the decimal separator and one digit. A
    // comma or a point is taken as the separator, whatever the system's.
    if (!ui->edAptekaPercent->validator())
        ui->edAptekaPercent->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]{0,3}([.,][0-9]?)?")), ui->edAptekaPercent));
    Pricing = std::make_unique<pc::RetailPricing>(*DM, *m_dialogs, *m_pane);
    Printer = std::make_unique<pc::DocumentPrinter>(*DM, *Pricing, *priceGrid, *m_dialogs);
    // Every printout opens in a preview first: printed from there (the system
    // print dialog) or saved as a PDF file.
    Printer->showDocument = [this](QPrinter &printer, const std::function<void(QPrinter &)> &render) {
        QPrintPreviewDialog preview(&printer, this, Qt::Window);
        preview.setWindowTitle(QStringLiteral("Предварительный просмотр"));
        preview.setWindowState(preview.windowState() | Qt::WindowMaximized);
        connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&render](QPrinter *target) { render(*target); });
        bool saved = false;
        if (auto *bar = preview.findChild<QToolBar *>()) {
            bar->addSeparator();
            QAction *pdf = bar->addAction(QStringLiteral("Сохранить в PDF"));
            pdf->setToolTip(QStringLiteral("Сохранить в файл PDF"));
            connect(pdf, &QAction::triggered, &preview, [&] {
                QString file = m_dialogs->pickSaveFile(QStringLiteral("Сохранить в PDF"), QString(),
                                                       QStringLiteral("Документ PDF (*.pdf)"));
                if (file.isEmpty())
                    return;
                if (!file.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
                    file += QStringLiteral(".pdf");
                // Written beside the target first: a failed save leaves no half-written file.
                const QString part = file + QStringLiteral(".part");
                QFile::remove(part);
                QPrinter pdfPrinter(QPrinter::HighResolution);
                pdfPrinter.setOutputFormat(QPrinter::PdfFormat);
                pdfPrinter.setOutputFileName(part);
                pdfPrinter.setResolution(300);
                pdfPrinter.setPageLayout(printer.pageLayout());
                render(pdfPrinter);
                if (!QFile::exists(part) || (QFile::exists(file) && !QFile::remove(file)) || !QFile::rename(part, file)) {
                    QFile::remove(part);
                    m_dialogs->showNotice(QStringLiteral("Не удалось сохранить файл ") + QDir::toNativeSeparators(file), true);
                    return;
                }
                saved = true;
                preview.accept();
            });
        }
        return preview.exec() == QDialog::Accepted || saved;
    };
}

void TMainForm::makeDocumentFetch()
{
    Documents = std::make_unique<pc::DocumentFetch>(*DM, *Connection, settings, *m_dialogs, *m_pane, context);
    Documents->ShowReceivePanel = [this](bool on) { ui->RecivePanel->setVisible(on); };
    Documents->ReceiveProgress = [this](qint64 done, qint64 total) {
        if (total > 0)
            ui->ReciveProgress->setMaximum(int((total + 1023) / 1024));
        ui->ReciveProgress->setValue(int(done / 1024));
    };
    Documents->DocumentsReloaded = [this] { BuildStartPage(); };
    if (PriceUpd)
        PriceUpd->FetchDocuments = [this] { FetchDocuments(false); };
}

void TMainForm::FetchDocuments(bool alwaysReport)
{
    startDocumentFetch(alwaysReport, *m_dialogs, {});
}

// The fetch runs on its own thread with an attachment and a connection of its
// own; the window reads the document tables again when it has finished.
bool TMainForm::startDocumentFetch(bool alwaysReport, Dialogs &dialogs, std::function<void(int, int)> after)
{
    if (!DM || !DM->Connected() || busy())
        return false;
    if (!Connection)
        CreateFtpClient();
    collectSettings(); // the invoice folder and the leave-on-server choice as they stand on the page
    auto op = std::make_unique<pc::DocumentFetchOperation>(*DM, context, settings, dialogs, *m_pane);
    op->alwaysReport = alwaysReport;
    op->addressCount = ui->cbAddresses->count();
    op->addressIndex = ui->cbAddresses->currentIndex();
    op->serverIndex = Connection->CurrentServerIndex();
    op->configureConnection = &TMainForm::configureConnection;
    const pc::DocumentFetchOperation *fetch = op.get();
    return startOperation(dialogs, std::move(op), [this, fetch, after] {
        if (Connection)
            Connection->setCurrentServerIndex(fetch->serverIndexAfter);
        reopenDocuments();
        BuildStartPage();
        if (after)
            after(fetch->result.defectures, fetch->result.documents);
    });
}

void TMainForm::reopenDocuments()
{
    for (pc::Dataset *ds : {DM->DefectTable(), DM->NakladSet()}) {
        if (!ds || !ds->Active())
            continue;
        ds->Close();
        ds->Open();
        ds->Last();
    }
    for (pc::Dataset *ds : {DM->DefectLinesTable(), DM->DefectOrderLinesTable(), DM->NakladLinesSet()})
        if (ds && !ds->Active())
            ds->Open();
}

void TMainForm::btnDeleteNakladClick()
{
    pc::DeleteCurrentInvoice(*DM, dialogs());
}

pc::PrintValues TMainForm::printValues()
{
    auto columnsOf = [](QTableView *view) {
        std::vector<pc::PrintTableColumn> columns;
        auto *model = qobject_cast<pc::DatasetModel *>(view->model());
        if (!model)
            return columns;
        columns = pc::PrintColumnsFrom(model->columns());
        for (size_t i = 0; i < columns.size(); ++i)
            columns[i].width = view->columnWidth(int(i)); // the widths as the pharmacist left them
        return columns;
    };
    pc::PrintValues v;
    v.invoiceColumns = columnsOf(ui->dbgNakladLines);
    v.orderColumns = columnsOf(ui->OrdersLinesGrid);
    for (int i = 0; i < ui->clbNaklVisibleColumns->count(); ++i)
        v.invoicePrintColumns.append({ui->clbNaklVisibleColumns->item(i)->text(),
                                      ui->clbNaklVisibleColumns->item(i)->checkState() == Qt::Checked});
    v.orientation = ui->cbOrientation->currentIndex();
    v.fontSize = ui->cbFontSize->currentIndex();
    v.tagsPerRow = ui->edPriceTagsCount->text().toInt() > 0 ? ui->edPriceTagsCount->text().toInt() : ui->udPriceTagsCount->position();
    v.tagMargin = ui->edPriceTagsFields->text().toInt() > 0 ? ui->edPriceTagsFields->text().toInt() : ui->udPriceTagsFields->position();
    v.tagFontSize = ui->cbFontSizePriceTags->currentIndex();
    v.supplierName = ui->edSupplierName->text();
    v.clientName = settings.ClientName;
    v.addressIndex = ui->cbAddresses->currentIndex();
    v.addressText = ui->cbAddresses->currentText();
    // The stand-in entry for the main address is no address of the pharmacy's own.
    for (const DeliveryAddress &a : settings.DeliveryAddresses)
        if (a.section != 0)
            v.deliveryAddresses << a.address;
    if (v.deliveryAddresses.size() != settings.DeliveryAddresses.size())
        v.deliveryAddresses.clear();
    return v;
}

void TMainForm::btnPrintClick() { Printer->PrintInvoice(printValues()); }
void TMainForm::btnPrintPriceTagsClick() { Printer->PrintPriceTags(printValues()); }
void TMainForm::btnPrintOrderClick() { Printer->PrintOrder(false, printValues()); }
void TMainForm::btnPrintOrderFromPriceClick() { Printer->PrintOrder(true, printValues()); }

// The invoice datasets' events (after the data module made its objects).
void TMainForm::attachDocumentEvents()
{
    // The window's objects may already be gone while the data module closes.
    DM->NakladSet()->OnCalcFields = [this](pc::Dataset &naklad) {
        if (Pricing)
            Pricing->tblNakladCalcFields(naklad);
    };
    DM->NakladLinesSet()->OnCalcFields = [this](pc::Dataset &lines) {
        if (Pricing)
            Pricing->tblNakladLinesCalcFields(lines);
    };
    DM->NakladLinesSet()->AfterPost = [this](pc::Dataset &) {
        if (Pricing && Pricing->attachedAfterPost)
            Pricing->CalcNakladSums(true);
    };
    // Archived order lines show their prices unmasked and sums of those prices.
    DM->OrdersLinesTable()->OnCalcFields = [this](pc::Dataset &lines) {
        pc::OrdersLinesADOTableCalcFields(lines, DM->QntFieldName(), settings.ClientCode);
    };
    DM->DefectOrderLinesTable()->OnCalcFields = DM->OrdersLinesTable()->OnCalcFields;
    DM->DefectTable()->AfterScroll = [this](pc::Dataset &) {
        if (auto caption = pc::DefectOrderCaption(*DM))
            ui->lblOrder->setText(*caption);
    };
    DM->NakladLinesSet()->AfterScroll = [this](pc::Dataset &) {
        if (Pricing && ui->chkPriceArch->isChecked())
            Pricing->RefreshArchivePrices();
    };
}

void TMainForm::btnSetPriceAptClick()
{
    std::vector<QString> keys, cells;
    const QStringList rowKeys = maxMarkupRowKeys();
    for (int i = 0; i < ui->lstGVNac->rowCount(); ++i) {
        keys.push_back(rowKeys.value(i));
        cells.push_back(ui->lstGVNac->item(i, 1) ? ui->lstGVNac->item(i, 1)->text() : QString());
    }
    QString percent = ui->edAptekaPercent->text().trimmed();
    const QString separator = QLocale().decimalPoint();
    percent.replace(QLatin1Char('.'), separator).replace(QLatin1Char(','), separator);
    if (percent.endsWith(separator)) // "25," is 25
        percent.chop(separator.size());
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct RestoreCursor {
        ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    Pricing->SetPharmacyPrices(percent, ui->chkGVNacMax->isChecked(), keys, cells,
                               ui->cbRoundMethod->currentIndex());
}

void TMainForm::dbgNakladCellClick()
{
    Pricing->MarkViewed();
}

// Lines of vital drugs over the limits: the markup in red, a producer price
// above the registry price on yellow.
void TMainForm::styleNakladLines(pc::DatasetModel *model)
{
    model->setCellStyleHook([this](pc::Dataset &lines, int, const pc::GridColumn &column, pc::CellStyle &style) {
        const QString field = column.fieldName.toUpper();
        if (field == QLatin1String("NACENKA_APT") || field == QLatin1String("PRICE_APT")) {
            if (Pricing->MarkupOverLimit(lines, settings.MaxMarkupTable))
                style.foreground = QColor(255, 0, 0);
        } else if (field == QLatin1String("PRICE_PR")) {
            if (Pricing->ProducerPriceOverRegistry(lines, ui->chkCalcPricePrWithNDS->isChecked()))
                style.background = QColor(255, 255, 0);
        }
    });
}

void TMainForm::chkCalcPricePrWithNDSClick()
{
    if (m_fillingPage || !Initialised)
        return;
    ShowNotice(QStringLiteral("Все загруженные ранее накладные будут отображать старую цену производителя, какая она была "
                              "при загрузке, несмотря на то, что колонка названа по-новому"),
               true);
    if (nakladLinesModel) {
        std::vector<pc::GridColumn> columns = nakladLinesModel->columns();
        if (columns.size() > 12) {
            columns[12].title = ui->chkCalcPricePrWithNDS->isChecked() ? QStringLiteral("Ц.пр-ля с НДС") : QStringLiteral("Ц.пр-ля б/НДС");
            nakladLinesModel->setColumns(columns);
        }
    }
}
