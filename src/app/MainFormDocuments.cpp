// The invoice page of the main window: retail pricing, totals, the price
// archive, the viewed mark and the highlighting of lines over the limits.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "app/MessagePane.h"
#include "db/DataModule.h"
#include "documents/MaxMarkup.h"
#include "documents/RetailPricing.h"
#include "ui/DatasetModel.h"

#include <QTableWidget>

void TMainForm::makeDocuments()
{
    Pricing = std::make_unique<pc::RetailPricing>(*DM, *m_dialogs, *m_pane);
}

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
    Pricing->SetPharmacyPrices(ui->edAptekaPercent->text(), ui->chkGVNacMax->isChecked(), keys, cells,
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
