// The grids of the main window bound to the data module's datasets, with
// their columns in display order.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "app/SettingsFiles.h"
#include "core/MessageLog.h"
#include "db/DataModule.h"
#include "platform/IniFile.h"

#include <QHeaderView>
#include <memory>
#include "ui/DatasetModel.h"
#include "ui/PriceGridBinder.h"
#include "ui/WrappingHeaderView.h"

namespace {

using pc::GridColumn;

constexpr int kLeastPriceNameWidth = 300;

GridColumn col(const char *field, const char *title, int width = 64, bool visible = true, bool readOnly = true)
{
    GridColumn c;
    c.fill = qstrcmp(field, "TOVAR") == 0 || qstrcmp(field, "COMMENT") == 0;
    c.fieldName = QString::fromUtf8(field);
    c.title = QString::fromUtf8(title);
    c.width = width;
    c.visible = visible;
    c.readOnly = readOnly;
    return c;
}

std::vector<GridColumn> priceColumns()
{
    return {col("GV_DISP", "ЖВНЛС", 21),
            col("TOVAR", "Наименование", 259),
            col("PRODUCT", "Производитель", 151),
            col("PRICEDEC", "Цена", 60),
            col("PRICEOLD", "Ц.стар.", 64, false),
            col("ZAKAZ", "Заказ", 54),
            col("QNTOLD", "Заказ стар.", 64, false),
            col("SUMMA", "Сумма", 49),
            col("PRICER", "Зарег.цена", 53),
            col("QNT", "Остаток", 47),
            col("GODEN", "Ср.годности", 66),
            col("MINZAKAZ", "Кратность партии", 52),
            col("MINPROD", "Мин.заказ", 46),
            col("QNTPACK", "Кол.в уп.", 14),
            col("REGUDEXIST", "Рег.уд.", 64),
            col("NDS", "НДС", 34),
            col("PRICEAPTEKA", "Ц. аптеки", 53)};
}

std::vector<GridColumn> orderLineColumns()
{
    return {col("TOVAR", "Наименование", 300), col("PRODUCT", "Производитель", 160), col("QNT", "Количество", 80),
            col("PRICEDEC", "Цена", 70), col("SUMMADEC", "Сумма", 80)};
}

} // namespace

// The widths the pharmacist drags are kept in client.ini, one key per grid and
// column ("dbgrdPrice.PRODUCT=180"), written at once.
pc::ColumnWidthMemory TMainForm::columnWidthMemory(const QString &grid)
{
    // One reader per grid: the file is read once for all its columns (and again
    // only when someone else changes it).
    auto ini = std::make_shared<pc::IniFile>(m_settingsFiles->clientIni());
    const QString section = QStringLiteral("GridColumns");
    pc::ColumnWidthMemory memory;
    memory.load = [ini, section, grid](const QString &field) {
        return ini->readInteger(section, grid + QLatin1Char('.') + field.toUpper(), 0);
    };
    memory.save = [ini, section, grid](const QString &field, int width) {
        ini->writeInteger(section, grid + QLatin1Char('.') + field.toUpper(), width);
    };
    return memory;
}

void TMainForm::BindGrids()
{
    if (!DM || !DM->PriceSet())
        return;
    nakladLinesModel = nullptr;
    m_gridModels.clear();
    auto bind = [this](QTableView *view, pc::Dataset *ds, std::vector<GridColumn> columns) {
        // Titles too wide for their columns wrap onto a second header line.
        pc::WrappingHeaderView::install(view);
        auto model = std::make_unique<pc::DatasetModel>(ds, this);
        if (!columns.empty())
            model->setColumns(std::move(columns));
        model->attachView(view);
        model->setWidthMemory(columnWidthMemory(view->objectName()));
        connect(model.get(), &pc::DatasetModel::errorOccurred, this, [this](const QString &text) { LogMessage(text, Error, true); });
        pc::DatasetModel *raw = model.get();
        m_gridModels.push_back(std::move(model));
        return raw;
    };
    pc::DatasetModel *price = bind(ui->dbgrdPrice, DM->PriceSet(), priceColumns());
    bind(ui->OrdersGrid, DM->OrdersSet(),
         {col("ID", "№", 50), col("DATET", "Дата", 80), col("ORDERTIME", "Время", 50), col("SSTATUS", "Статус", 120),
          col("SUMMA", "Сумма", 80), col("COMMENT", "Комментарий", 300)});
    pc::DatasetModel *orderLines = bind(ui->OrdersLinesGrid, DM->OrdersLinesTable(), orderLineColumns());
    bind(ui->dbgDefect, DM->DefectTable(), {col("ID", "Номер", 80), col("NUMBR", "Заявка", 80)});
    pc::DatasetModel *defectLines = bind(ui->DefectGrid, DM->DefectLinesTable(),
                                         {col("TOVAR", "Наименование", 300), col("QNT", "Количество", 80), col("PRODUCT", "Производитель", 160)});
    bind(ui->dbgDefectOrder, DM->DefectOrderLinesTable(), orderLineColumns());
    // The key and the stored read flag stay out of sight; "Просмотрена" shows the flag.
    bind(ui->dbgNaklad, DM->NakladSet(),
         {col("NAKLDATE", "Дата", 80), col("NUMBR", "№ накл.", 90), col("SUMM", "Сумма", 90),
          col("SUMMAPT", "Сумма апт.", 90), col("READ_OUT", "Просмотрена", 80)});
    std::vector<GridColumn> lines;
    const QStringList captions = nakladLineCaptions(settings.CalcPriceProducerWithNDS);
    const char *fields[] = {"LINENO", "TOVAR", "PRODUCT", "COUNTRY", "SERIES", "QNT", "PRICE", "SUMMA", "STNDS",
                            "SUMNDS", "SROKGODN", "GV_DISP", "PRICE_PR", "PRREESTR", "PRICE_APT", "SUMMAPT",
                            "NACENKA_APT", "EAN"};
    for (int i = 0; i < captions.size() && i < int(std::size(fields)); ++i) {
        // Numbers and dates take the width their widest value needs; texts start
        // at the widths that show a typical producer, country, series or EAN.
        const QLatin1String f(fields[i]);
        const int start = i == 1 ? 250
            : f == QLatin1String("EAN") ? 100
            : (f == QLatin1String("PRODUCT") || f == QLatin1String("COUNTRY") || f == QLatin1String("SERIES")) ? 72
                                                                                                               : 0;
        GridColumn c = col(fields[i], "", start, true, QLatin1String(fields[i]) != QLatin1String("PRICE_APT"));
        // The markup is a text ("14,94%"): its column is as wide as a large markup.
        if (f == QLatin1String("NACENKA_APT"))
            c.width = ui->dbgNakladLines->fontMetrics().horizontalAdvance(QStringLiteral("999,99%")) + 10;
        c.title = captions[i];
        lines.push_back(c);
    }
    pc::DatasetModel *nakladLines = bind(ui->dbgNakladLines, DM->NakladLinesSet(), lines);
    nakladLinesModel = nakladLines;
    // A typed pharmacy price is kept at once, like every other typed value: a
    // crash or a later failed action must not take it back. When the commit
    // fails, the lines show again what the database holds.
    nakladLines->setCommitEdit([this] {
        try {
            DM->Commit();
        } catch (...) {
            try {
                DM->Rollback();
                DM->NakladLinesSet()->Refresh();
            } catch (const std::exception &) {
            }
            throw;
        }
    });
    styleNakladLines(nakladLines);
    // The pharmacy's price, its sum and the markup stand right after the
    // supplier's sum, where the pharmacist prices the invoice: in view at
    // 1280 px beside the price archive. Only the order on screen changes; the
    // columns keep their numbers (printing, colouring, the producer price title).
    {
        QHeaderView *header = ui->dbgNakladLines->horizontalHeader();
        int after = header->visualIndex(nakladLines->columnOfField(QStringLiteral("SUMMA")));
        for (const char *field : {"PRICE_APT", "SUMMAPT", "NACENKA_APT"})
            if (const int c = nakladLines->columnOfField(QLatin1String(field)); c >= 0 && after >= 0)
                header->moveSection(header->visualIndex(c), ++after);
    }
    bind(ui->dbgArchivePrices, DM->ArchivePricesQuery(), {col("PRICE", "Цена", 60), col("NDATE", "Дата", 70), col("NUMBR", "№ накл", 70)});

    // The column names that differ between the storage kinds.
    price->setColumnField(7, DM->SumFieldName());
    orderLines->setColumnField(2, DM->QntFieldName());
    defectLines->setColumnField(1, DM->QntFieldName());
    nakladLines->setColumnField(5, DM->QntFieldName());
    nakladLines->setColumnField(7, DM->SumFieldName());
    // The registered price of the embedded database shows through its display field.
    if (DM->IsFirebird())
        price->setColumnField(8, QStringLiteral("PRICER_DISP"));
    // The goods name shows its form and dose: other columns scroll into view
    // before it gets narrower than that.
    if (auto *header = qobject_cast<pc::WrappingHeaderView *>(ui->dbgrdPrice->horizontalHeader()))
        header->setSectionMinimumWidth(1, kLeastPriceNameWidth);
    priceBinder->attachModel(price);
    FormResize();
}
