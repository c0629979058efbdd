// The settings page of the main window: loading at start-up, showing,
// saving, resetting, and the settings written at once.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include <QLabel>
#include <QSpinBox>

#include "app/DatabaseSettingsGroup.h"
#include "app/MessagePane.h"
#include "app/SettingsFiles.h"
#include "core/Dialogs.h"
#include "core/GatheredNotices.h"
#include "core/JobDialogs.h"
#include "core/Operation.h"
#include "db/DataModule.h"
#include "documents/MaxMarkup.h"
#include "exchange/ServerConnection.h"
#include "orders/OrderArchive.h"
#include "orders/OrderStatus.h"
#include "orders/SaveOrder.h"
#include "price/OrderEntry.h"
#include "price/PriceGrid.h"
#include "price/PriceUpdate.h"
#include "exchange/ServerList.h"
#include "platform/AppError.h"
#include "platform/IniFile.h"
#include "platform/Process.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QListWidget>
#include <QStackedLayout>
#include <QTableWidget>
#include <QThread>

#include <QHeaderView>
#include <QIntValidator>

#include <cmath>
#include <optional>
#include <unistd.h>

namespace {
// A table cell's text, creating the item when the grid has none yet.
QTableWidgetItem *cell(QTableWidget *grid, int row, int column)
{
    QTableWidgetItem *item = grid->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        grid->setItem(row, column, item);
    }
    return item;
}

void makeKeyColumnReadOnly(QTableWidget *grid)
{
    for (int r = 0; r < grid->rowCount(); ++r)
        cell(grid, r, 0)->setFlags(Qt::ItemIsEnabled);
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->setColumnWidth(0, 160);
}

QString tenthsText(int position)
{
    return pc::IniFile::floatToText(position / 10.0);
}

// «Подробно» under the price grid: whether the goods detail line is shown.
const QString kShowDetailSection = QStringLiteral("Price");
const QString kShowDetailKey = QStringLiteral("ShowDetail");

// The busy cursor for the length of a block.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};
} // namespace

// «Предупреждать о сроке годности менее N мес.» beside the producer price choice.
static QSpinBox *shortExpiryBox(Ui::TMainForm *ui)
{
    if (auto *box = ui->tsNakladSettings->findChild<QSpinBox *>(QStringLiteral("edShortExpiryMonths")))
        return box;
    auto *before = new QLabel(QStringLiteral("Предупреждать о сроке годности менее"), ui->tsNakladSettings);
    auto *box = new QSpinBox(ui->tsNakladSettings);
    box->setObjectName(QStringLiteral("edShortExpiryMonths"));
    box->setRange(0, 120);
    box->setAccessibleName(QStringLiteral("Предупреждать о сроке годности менее, мес."));
    box->setToolTip(QStringLiteral("0 — не предупреждать"));
    before->setBuddy(box);
    auto *after = new QLabel(QStringLiteral("мес."), ui->tsNakladSettings);
    ui->lyCalcNds->insertWidget(1, before);
    ui->lyCalcNds->insertWidget(2, box);
    ui->lyCalcNds->insertWidget(3, after);
    return box;
}

void TMainForm::connectSettingsHandlers()
{
    connect(shortExpiryBox(ui), &QSpinBox::valueChanged, this, [this] {
        if (!m_fillingPage)
            rgOrderProtocolClick();
    });
    // Where the database is: a group of its own, below the storage format.
    dbLocationGroup = new DatabaseSettingsGroup(ui->rgDBDriver->parentWidget());
    if (auto *box = qobject_cast<QBoxLayout *>(ui->rgDBDriver->parentWidget()->layout()))
        box->insertWidget(box->indexOf(ui->rgDBDriver) + 1, dbLocationGroup);
    dbLocationGroup->tell = [this](const QString &text) { ShowNotice(text, false); };
    connect(dbLocationGroup, &DatabaseSettingsGroup::edited, this, [this] {
        if (!m_fillingPage)
            SetSettingsModified(true);
    });
    makeKeyColumnReadOnly(ui->lstGVNac);
    makeKeyColumnReadOnly(ui->lstColumnsOrderCorrespodence);
    ui->udPriceAptekaPercent->setMinimum(-10000);
    ui->udPriceAptekaPercent->setMaximum(10000);
    ui->udPriceTagsCount->setMaximum(100);
    ui->udPriceTagsFields->setMaximum(1000);
    ui->edServerPort->setValidator(new QIntValidator(1, 65535, ui->edServerPort));
    ui->btnSaveSettings->setEnabled(false);
    ui->lstDeliveryAddresses->horizontalHeader()->setStretchLastSection(true);
    ui->lstDeliveryAddresses->setColumnWidth(0, 300);
    ui->lstDeliveryAddresses->verticalHeader()->hide();

    auto changed = [this] { rgOrderProtocolClick(); };
    for (QLineEdit *e : {ui->edNakladFolder, ui->edSupplierName, ui->edPriceTagsFields, ui->edPriceTagsCount,
                         ui->edFolderOrderImport, ui->edFileNameOrder, ui->edServerAddress, ui->edClientCode,
                         ui->edClientName, ui->edClientPass, ui->edServerPort})
        connect(e, &QLineEdit::textEdited, this, changed);
    connect(ui->edNakladFolder, &QLineEdit::textChanged, this, changed);
    for (QComboBox *c : {ui->cbOrientation, ui->cbFontSize, ui->cbFontSizePriceTags})
        connect(c, &QComboBox::currentIndexChanged, this, changed);
    for (QCheckBox *c : {ui->chkLeaveDocsOnServer, ui->chkDeleteOrderImport, ui->chkFtpMode, ui->chkFtpRequireTls, ui->chkAskSendLog,
                         ui->chkControlAddressChange, ui->chkCalcPricePrWithNDS})
        connect(c, &QCheckBox::clicked, this, changed);
    connect(ui->clbNaklVisibleColumns, &QListWidget::itemChanged, this, changed);
    connect(ui->lstGVNac, &QTableWidget::itemChanged, this, changed);
    connect(ui->lstColumnsOrderCorrespodence, &QTableWidget::itemChanged, this, changed);
    connect(ui->rgOrderProtocol, &TRadioGroup::clicked, this, changed);
    connect(ui->rgDownloadPriceProtocol, &TRadioGroup::clicked, this, changed);
    for (TUpDown *ud : {ui->udPriceTagsCount, ui->udPriceTagsFields}) {
        QLineEdit *edit = ud == ui->udPriceTagsCount ? ui->edPriceTagsCount : ui->edPriceTagsFields;
        connect(ud, &TUpDown::positionChanged, this, [this, edit](int p) {
            edit->setText(QString::number(p));
            udPriceTagsCountClick();
        });
    }
    connect(ui->chkBugFixTypeDB, &QCheckBox::clicked, this, &TMainForm::chkBugFixTypeDBClick);
    connect(ui->rgDBDriver, &TRadioGroup::clicked, this, &TMainForm::rgDBDriverClick);
    connect(ui->btnSaveSettings, &QPushButton::clicked, this, &TMainForm::btnSaveSettingsClick);
    connect(ui->btnDefaultSettings, &QPushButton::clicked, this, &TMainForm::btnDefaultSettingsClick);
    connect(ui->cbAddresses, &QComboBox::currentIndexChanged, this, &TMainForm::cbAddressesChange);
    connect(ui->cbRoundMethod, &QComboBox::currentIndexChanged, this, &TMainForm::cbRoundMethodChange);
    connect(ui->udPriceAptekaPercent, &TUpDown::changingEx, this,
            [this](bool &allow, int value, TUpDown::Direction) { udPriceAptekaPercentChangingEx(allow, value); });
    connect(ui->edPriceAptekaPercent, &QLineEdit::editingFinished, this, &TMainForm::edPriceAptekaPercentChange);
    connect(ui->btnChNakladFolder, &QPushButton::clicked, this, &TMainForm::btnChNakladFolderClick);
    connect(ui->btnChFolderOrderImport, &QPushButton::clicked, this, &TMainForm::btnChFolderOrderImportClick);
    connect(ui->btnAddAddress, &QPushButton::clicked, this, &TMainForm::btnAddAddressClick);
    connect(ui->btnEditAddress, &QPushButton::clicked, this, &TMainForm::btnEditAddressClick);
    connect(ui->lstDeliveryAddresses, &QTableWidget::cellDoubleClicked, this, &TMainForm::btnEditAddressClick);
    connect(ui->btnRemoveAddress, &QPushButton::clicked, this, &TMainForm::btnRemoveAddressClick);
    connect(ui->btnGetNewFile, &QPushButton::clicked, this, &TMainForm::btnGetNewFileClick);
    connect(ui->btnClearorder, &QPushButton::clicked, this, &TMainForm::btnClearOrderClick);
    connect(ui->btnChangeStatus, &QPushButton::clicked, this, &TMainForm::btnChangeStatusClick);
    connect(ui->btnSaveOrderToArch, &QPushButton::clicked, this, &TMainForm::btnSaveOrderToArchClick);
    connect(ui->btnOrderRestore, &QPushButton::clicked, this, &TMainForm::btnOrderRestoreClick);
    connect(ui->btnDeleteOrder, &QPushButton::clicked, this, &TMainForm::btnDeleteOrderClick);
    connect(ui->btnDeleteAllOrders, &QPushButton::clicked, this, &TMainForm::btnDeleteAllOrdersClick);
    connect(ui->btnImportOrder, &QPushButton::clicked, this, &TMainForm::btnImportOrderClick);
    connect(ui->btnSaveOrder, &QPushButton::clicked, this, &TMainForm::btnSaveOrderClick);
    connect(ui->btnSendOrder, &QPushButton::clicked, this, &TMainForm::btnSendorderClick);
    connect(ui->btnSendOrders, &QPushButton::clicked, this, &TMainForm::btnSendorderClick);
    connect(ui->btnAddServAddr, &QPushButton::clicked, this, &TMainForm::btnAddServAddrClick);
    connect(ui->lbServerAddresses, &QListWidget::itemDoubleClicked, this, &TMainForm::lbServerAddressesDblClick);
    connect(ui->btnRemoveServAddr, &QPushButton::clicked, this, &TMainForm::btnRemoveServAddrClick);
    connect(ui->btnUpServAddr, &QPushButton::clicked, this, &TMainForm::btnUpServAddrClick);
    connect(ui->btnDownServAddr, &QPushButton::clicked, this, &TMainForm::btnDownServAddrClick);
    connect(ui->btnSetMainServAddr, &QPushButton::clicked, this, &TMainForm::btnSetMainServAddrClick);
    connect(ui->btnCheckConnection, &QPushButton::clicked, this, &TMainForm::btnCheckConnectionClick);
    connect(ui->btnClearBase, &QPushButton::clicked, this, &TMainForm::btnClearBaseClick);
    connect(ui->btnImportDbfData, &QPushButton::clicked, this, &TMainForm::btnImportDbfDataClick);

    // The detail line goes into a strip of its own that «Подробно» shows or
    // hides; the line itself is still shown and hidden by the quick search,
    // whose echo stays outside the strip. The strip and the echo share one
    // place: switching between them lays out that place alone, not the page,
    // at the first letter typed and the first arrow after it.
    auto *place = new QWidget(ui->lblGoodInfo->parentWidget());
    place->setObjectName(QStringLiteral("paSearchOrInfo"));
    place->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *stack = new QStackedLayout(place);
    stack->setStackingMode(QStackedLayout::StackAll);
    stack->setContentsMargins(0, 0, 0, 0);
    m_goodInfoLine = new QWidget(place);
    m_goodInfoLine->setObjectName(QStringLiteral("paGoodInfoLine"));
    auto *line = new QHBoxLayout(m_goodInfoLine);
    line->setContentsMargins(0, 0, 0, 0);
    if (QLayout *outer = ui->lblGoodInfo->parentWidget()->layout()) {
        delete outer->replaceWidget(ui->lblGoodInfo, place);
        outer->removeWidget(ui->edSearch);
    }
    line->addWidget(ui->lblGoodInfo);
    const bool searching = !ui->edSearch->isHidden();
    stack->addWidget(m_goodInfoLine);
    stack->addWidget(ui->edSearch); // over the strip
    ui->edSearch->setVisible(searching);
    m_goodInfoLine->show();
    ui->chkShowDetail->setChecked(true);
    connect(ui->chkShowDetail, &QCheckBox::toggled, this, &TMainForm::chkShowDetailClick);
}

void TMainForm::LoadSettings()
{
    SettingsFiles &files = *m_settingsFiles;
    ui->lblGoodInfo->clear();
    ui->chkShowOnlyOrder->setChecked(false);

    files.readClient(settings);
    files.driverHandshake(settings);
    CreateFirebirdObjects();
    files.readPriceDate(settings);
    files.createFolders();
    ui->RecivePanel->hide();
    // A client whose code, name or main address is missing (a new client, or
    // a save of the identity that did not finish) is asked for it first: the
    // code, name, password and address in one window, what the files hold
    // filled in. What is given is read back as on a start, and what is still
    // missing then (the address, the price list) is told once, in one notice.
    ClientIdentity id = files.storedIdentity();
    const bool askForIdentity =
        (id.code.isEmpty() || id.name.trimmed().isEmpty() || id.serverAddress.trimmed().isEmpty()) && !m_identityAsked;
    std::optional<GatheredNotices> gaps;
    Dialogs *const shown = m_router->target;
    struct Restore {
        pc::DialogsRouter &router;
        Dialogs *target;
        ~Restore() { router.target = target; }
    } restore{*m_router, shown};
    if (askForIdentity) {
        m_identityAsked = true;
        if (askIdentity && askIdentity(id)) {
            try {
                files.writeIdentity(id);
            } catch (const std::exception &e) {
                LogMessage(pc::errorText(e), Error, true);
            }
            files.readClient(settings);
        }
        m_router->target = &gaps.emplace(*shown);
    }
    files.readServer(settings);
    files.setAccounts(settings);
    ui->btnSendErrorLog->hide();
    try {
        OpenDatabase();
    } catch (const std::exception &e) {
        ShowNotice(pc::errorText(e), true);
    }
    m_router->target = shown;
    if (gaps)
        gaps->tell();
    BindGrids();
    files.readExchange(settings);
    // A storage kind this system refuses (the data module said so and works
    // on the embedded database): the page shows the kind in use. The file
    // keeps the refused kind until the settings are saved; that save counts
    // as a change of kind, so the next start offers the import of the DBF data.
    settings.DBDriver = DM->DriverKind;
    showSettings();

    refreshMarkupLimits();

    ShowOrderTotals();
    RefreshTitle();
    CreateFtpClient();
    BuildStartPage();
    RestartNeeded = false;
    CheckUnloadedPriceFile();
    if (settings.ImportRequested) {
        if (!OrderIsEmpty()
            && AskQuestion(QStringLiteral("Сохранить текущую заявку в архив без отправки ?"), true, false) == mrYes)
            SaveCurrentOrder();
        if (DM->ImportOldDbfData())
            files.clearDriverChanged();
    }
}

// The markup limits as the retail pricing and the invoice lines' colours use
// them: the stored ones, at start and after every save.
void TMainForm::refreshMarkupLimits()
{
    QList<MarkupRow> rows;
    const QStringList keys = maxMarkupRowKeys();
    for (int i = 0; i < 3; ++i)
        rows.append({keys[i], markupCellText(settings.MaxNacen[i])});
    ValidateMaxMarkupTable(rows, settings.MaxMarkupTable, dialogs());
}

void TMainForm::showSettings()
{
    m_fillingPage = true;
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{m_fillingPage};
    const Settings &s = settings;

    dbLocationGroup->setLocation(pc::DatabaseLocation::Read(m_settingsFiles->clientIni()));
    showAddresses();
    ui->cbRoundMethod->setCurrentIndex(s.RoundMethod);
    shortExpiryBox(ui)->setValue(s.ShortExpiryMonths);
    for (int i = 0; i < 3; ++i)
        cell(ui->lstGVNac, i, 1)->setText(markupCellText(s.MaxNacen[i]));
    ui->chkCalcPricePrWithNDS->setChecked(s.CalcPriceProducerWithNDS);
    ui->chkLeaveDocsOnServer->setChecked(s.LeaveDocsOnServer);
    ui->chkBugFixTypeDB->setCheckState(s.DBBugFixType == 0 ? Qt::Unchecked
                                       : s.DBBugFixType == 2 ? Qt::PartiallyChecked
                                                             : Qt::Checked);
    ui->chkAskSendLog->setChecked(s.AskSendLog);
    ui->chkControlAddressChange->setChecked(s.ControlAddressChange);
    ui->udPriceAptekaPercent->setPosition(s.AptekaPercent);
    ui->edPriceAptekaPercent->setText(tenthsText(ui->udPriceAptekaPercent->position()));
    ui->cbOrientation->setCurrentIndex(s.PrinterOrientation);
    ui->cbFontSize->setCurrentIndex(s.NakladFontSize);
    ui->edNakladFolder->setText(s.NakladFolder);
    ui->clbNaklVisibleColumns->clear();
    for (const PrintColumn &c : s.NakladPrintColumns) {
        auto *item = new QListWidgetItem(c.caption, ui->clbNaklVisibleColumns);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(c.visible ? Qt::Checked : Qt::Unchecked);
    }
    ui->udPriceTagsCount->setPosition(s.PriceTagsCount);
    ui->edPriceTagsCount->setText(QString::number(s.PriceTagsCount));
    ui->udPriceTagsFields->setPosition(s.PriceTagsFields);
    ui->edPriceTagsFields->setText(QString::number(s.PriceTagsFields));
    ui->cbFontSizePriceTags->setCurrentIndex(s.PriceTagsFontSize);
    ui->edClientCode->setText(s.ClientCode);
    ui->edClientName->setText(s.ClientName);
    ui->edClientPass->setText(s.ClientPass);
    ui->edServerPort->setText(QString::number(s.ServerPort));
    ui->edServerAddress->setText(s.ServerAddresses.value(0));
    ui->lbServerAddresses->clear();
    for (int n = 1; n < s.ServerAddresses.size(); ++n)
        if (s.ServerIniExists && pc::IniFile(m_settingsFiles->serverIni()).sectionExists(QStringLiteral("ReserveServerAddress%1").arg(n)))
            ui->lbServerAddresses->addItem(s.ServerAddresses[n]);
    ui->edSupplierName->setText(s.ServerIniExists ? s.SupplierName : QString());
    ui->chkDeleteOrderImport->setChecked(s.DeleteOrderImport);
    ui->edFolderOrderImport->setText(s.FolderOrderImport);
    cell(ui->lstColumnsOrderCorrespodence, 0, 1)->setText(s.ColumnCode);
    cell(ui->lstColumnsOrderCorrespodence, 1, 1)->setText(s.ColumnQnt);
    ui->edFileNameOrder->setText(s.FileNameOrder);
    showChannelSettings();
    ui->chkShowDetail->setChecked(
        pc::IniFile(m_settingsFiles->clientIni()).readBool(kShowDetailSection, kShowDetailKey, true));
    m_goodInfoLine->setVisible(ui->chkShowDetail->isChecked());
}

// The order and price channels, the storage kind and the FTP mode as loaded.
void TMainForm::showChannelSettings()
{
    const bool wasFilling = m_fillingPage;
    m_fillingPage = true;
    ui->rgOrderProtocol->setItemIndex(settings.PutOrderMethod);
    ui->rgDownloadPriceProtocol->setItemIndex(settings.GetPriceMethod);
    ui->rgDBDriver->setItemIndex(settings.DBDriver);
    ui->chkFtpMode->setChecked(settings.FTPPassive);
    ui->chkFtpRequireTls->setChecked(settings.FTPRequireTLS);
    m_fillingPage = wasFilling;
}

void TMainForm::showAddresses()
{
    const bool wasFilling = m_fillingPage;
    m_fillingPage = true;
    ui->cbAddresses->clear();
    ui->lstDeliveryAddresses->setRowCount(int(settings.DeliveryAddresses.size()));
    for (int i = 0; i < settings.DeliveryAddresses.size(); ++i) {
        const DeliveryAddress &a = settings.DeliveryAddresses[i];
        ui->cbAddresses->addItem(a.address, a.code);
        cell(ui->lstDeliveryAddresses, i, 0)->setText(a.address);
        cell(ui->lstDeliveryAddresses, i, 1)->setText(a.code);
    }
    ui->cbAddresses->setCurrentIndex(settings.AddressIndex);
    const bool own = !(settings.DeliveryAddresses.size() == 1 && settings.DeliveryAddresses[0].section == 0);
    ui->btnEditAddress->setEnabled(own);
    ui->btnRemoveAddress->setEnabled(own);
    m_fillingPage = wasFilling;
}

QStringList TMainForm::markupCells() const
{
    QStringList cells;
    for (int i = 0; i < ui->lstGVNac->rowCount(); ++i)
        cells << (ui->lstGVNac->item(i, 1) ? ui->lstGVNac->item(i, 1)->text() : QString());
    return cells;
}

void TMainForm::collectSettings()
{
    Settings &s = settings;
    s.GetPriceMethod = ui->rgDownloadPriceProtocol->itemIndex();
    s.PutOrderMethod = ui->rgOrderProtocol->itemIndex();
    s.FTPPassive = ui->chkFtpMode->isChecked();
    s.FTPRequireTLS = ui->chkFtpRequireTls->isChecked();
    s.LeaveDocsOnServer = ui->chkLeaveDocsOnServer->isChecked();
    s.NakladFolder = ui->edNakladFolder->text();
    s.DBDriver = ui->rgDBDriver->itemIndex() < 0 ? int(DriverFirebird) : ui->rgDBDriver->itemIndex();
    s.DBBugFixType = ui->chkBugFixTypeDB->checkState() == Qt::Unchecked ? 0
                     : ui->chkBugFixTypeDB->checkState() == Qt::PartiallyChecked ? 2
                                                                                 : 1;
    s.AskSendLog = ui->chkAskSendLog->isChecked();
    s.ShortExpiryMonths = shortExpiryBox(ui)->value();
    s.ControlAddressChange = ui->chkControlAddressChange->isChecked();
    s.CalcPriceProducerWithNDS = ui->chkCalcPricePrWithNDS->isChecked();
    s.PrinterOrientation = ui->cbOrientation->currentIndex();
    s.NakladFontSize = ui->cbFontSize->currentIndex();
    s.NakladPrintColumns.clear();
    for (int i = 0; i < ui->clbNaklVisibleColumns->count(); ++i) {
        const QListWidgetItem *item = ui->clbNaklVisibleColumns->item(i);
        s.NakladPrintColumns.append({item->text(), item->checkState() == Qt::Checked});
    }
    bool ok = false;
    int v = ui->edPriceTagsCount->text().trimmed().toInt(&ok);
    s.PriceTagsCount = ok ? v : ui->udPriceTagsCount->position();
    v = ui->edPriceTagsFields->text().trimmed().toInt(&ok);
    s.PriceTagsFields = ok ? v : ui->udPriceTagsFields->position();
    s.PriceTagsFontSize = ui->cbFontSizePriceTags->currentIndex();
    s.ClientCode = ui->edClientCode->text().trimmed();
    s.ClientName = ui->edClientName->text().trimmed();
    s.ClientPass = ui->edClientPass->text();
    if (const int port = ui->edServerPort->text().trimmed().toInt(&ok); ok && port > 0 && port < 65536)
        s.ServerPort = port;
    if (s.ServerAddresses.isEmpty())
        s.ServerAddresses << QString();
    s.ServerAddresses[0] = ui->edServerAddress->text();
    QStringList reserves;
    for (int i = 0; i < ui->lbServerAddresses->count(); ++i)
        reserves << ui->lbServerAddresses->item(i)->text();
    s.ServerAddresses = QStringList{s.ServerAddresses[0]} + reserves;
    while (s.ServerAddresses.size() < 10)
        s.ServerAddresses << QString();
    s.SupplierName = ui->edSupplierName->text();
    s.DeleteOrderImport = ui->chkDeleteOrderImport->isChecked();
    s.FolderOrderImport = ui->edFolderOrderImport->text();
    s.ColumnCode = cell(ui->lstColumnsOrderCorrespodence, 0, 1)->text();
    s.ColumnQnt = cell(ui->lstColumnsOrderCorrespodence, 1, 1)->text();
    s.FileNameOrder = ui->edFileNameOrder->text();
}

void TMainForm::SaveSettings()
{
    const QString previousCode = settings.ClientCode;
    collectSettings();
    // The client code names the price archive, the order files and the FTP
    // account: a change is confirmed, as a change of the main address is.
    if (!previousCode.isEmpty() && settings.ClientCode != previousCode
        && AskQuestion(QStringLiteral("ВНИМАНИЕ! Изменяется код клиента с ") + previousCode + QStringLiteral(" на ")
                           + settings.ClientCode
                           + QStringLiteral(". Уточните у поставщика, является ли данный код корректным. Принять изменения?"),
                       true, false)
            != mrYes) {
        settings.ClientCode = previousCode;
        ui->edClientCode->setText(previousCode);
    }
    try {
        m_settingsFiles->save(settings, markupCells());
        refreshMarkupLimits();
        // A database elsewhere is taken at the next start.
        const pc::DatabaseLocation location = dbLocationGroup->location();
        if (!(location == pc::DatabaseLocation::Read(m_settingsFiles->clientIni()))) {
            location.Write(m_settingsFiles->clientIni());
            log().logDetail(QStringLiteral("Новое место базы данных: ") + location.Description());
            RestartNeeded = true;
        }
    } catch (const pc::AppError &e) {
        // Not saved: the page keeps its values and its mark, a restart waits
        // for a save that went through.
        LogMessage(QStringLiteral("Настройки не сохранены: ") + e.message(), Error, true);
        ShowNotice(QStringLiteral("Настройки не сохранены: ") + e.message(), false);
        m_settingsFiles->setAccounts(settings);
        return;
    }
    m_settingsFiles->setAccounts(settings);
    RefreshTitle();
    SetSettingsModified(false);
    if (RestartNeeded) {
        ShowNotice(QStringLiteral("Для вступления настроек в силу программа будет перезапущена"), true);
        RestartProgram();
    }
}

void TMainForm::tsSettingsExit()
{
    if (!SettingsModified)
        return;
    if (AskQuestion(QStringLiteral("Настройки изменились, сохранить?"), true, false) == mrYes)
        SaveSettings();
    else
        SetSettingsModified(false);
}

void TMainForm::rgOrderProtocolClick()
{
    if (!m_fillingPage)
        SetSettingsModified(true);
}

void TMainForm::udPriceTagsCountClick() { rgOrderProtocolClick(); }

void TMainForm::chkBugFixTypeDBClick()
{
    if (m_fillingPage)
        return;
    RestartNeeded = true;
    SetSettingsModified(true);
}

void TMainForm::rgDBDriverClick() { chkBugFixTypeDBClick(); }

void TMainForm::btnDefaultSettingsClick()
{
    if (AskQuestion(QStringLiteral("Сбросить все настройки в настройки по умолчанию?"), true, false) != mrYes)
        return;
    if (m_settingsFiles->resetClientIni(settings))
        RestartProgram();
}

void TMainForm::cbAddressesChange()
{
    if (m_fillingPage)
        return;
    settings.AddressIndex = std::max(0, ui->cbAddresses->currentIndex());
    m_settingsFiles->writeDefaultAddress(ui->cbAddresses->currentText());
}

void TMainForm::cbRoundMethodChange()
{
    if (m_fillingPage)
        return;
    settings.RoundMethod = ui->cbRoundMethod->currentIndex();
    pc::IniFile(m_settingsFiles->clientIni()).writeInteger(QStringLiteral("NakladSettings"), QStringLiteral("RoundMethod"), settings.RoundMethod);
}

// «Подробно»: shows or hides the goods detail line, remembered at once.
void TMainForm::chkShowDetailClick()
{
    m_goodInfoLine->setVisible(ui->chkShowDetail->isChecked());
    if (m_fillingPage)
        return;
    try {
        pc::IniFile(m_settingsFiles->clientIni()).writeBool(kShowDetailSection, kShowDetailKey, ui->chkShowDetail->isChecked());
    } catch (const pc::AppError &e) {
        LogMessage(e.message(), Error, true);
    }
}

void TMainForm::udPriceAptekaPercentChangingEx(bool &allow, int newValue)
{
    allow = true;
    ui->edPriceAptekaPercent->setText(tenthsText(newValue));
    settings.AptekaPercent = newValue;
    RefreshPrice();
    pc::IniFile(m_settingsFiles->clientIni()).writeInteger(QStringLiteral("Price"), QStringLiteral("AptekaPercent"), newValue);
}

// Leaving the box: the typed percent becomes the up-down position (not stored
// until the arrows are used, as the pharmacist is used to).
void TMainForm::edPriceAptekaPercentChange()
{
    const QString text = ui->edPriceAptekaPercent->text().trimmed();
    double value = 0;
    if (!pc::IniFile::textToFloat(text, value)) {
        AppException(QStringLiteral("\"%1\" не является числом").arg(text));
        ui->edPriceAptekaPercent->setText(tenthsText(ui->udPriceAptekaPercent->position()));
        return;
    }
    ui->udPriceAptekaPercent->setPosition(int(std::nearbyint(std::clamp(value * 10, -10000.0, 10000.0))));
    ui->edPriceAptekaPercent->setText(tenthsText(ui->udPriceAptekaPercent->position()));
}

void TMainForm::btnChNakladFolderClick()
{
    const QString folder = dialogs().pickFolder(QStringLiteral("Выберите папку для накладных"), ui->edNakladFolder->text().trimmed());
    if (!folder.isEmpty())
        ui->edNakladFolder->setText(folder);
}

void TMainForm::btnChFolderOrderImportClick()
{
    const QString folder = dialogs().pickFolder(QStringLiteral("Выберите папку для импорта заказа"), ui->edFolderOrderImport->text().trimmed());
    if (!folder.isEmpty()) {
        ui->edFolderOrderImport->setText(folder);
        rgOrderProtocolClick();
    }
}

void TMainForm::btnAddAddressClick()
{
    QString address, code;
    if (!dialogs().inputBox(QStringLiteral("Адрес доставки"), QStringLiteral("Адрес"), address) || address.trimmed().isEmpty())
        return;
    if (!dialogs().inputBox(QStringLiteral("Адрес доставки"), QStringLiteral("Код адреса"), code))
        return;
    if (m_settingsFiles->addAddress(settings, address.trimmed(), code.trimmed()) == 0) {
        ShowNotice(QStringLiteral("Уже максимальное количество адресов доставки"));
        return;
    }
    showAddresses();
}

void TMainForm::btnEditAddressClick()
{
    const int row = ui->lstDeliveryAddresses->currentRow();
    if (row < 0 || row >= settings.DeliveryAddresses.size() || settings.DeliveryAddresses[row].section == 0)
        return;
    QString address = settings.DeliveryAddresses[row].address;
    QString code = settings.DeliveryAddresses[row].code;
    if (!dialogs().inputBox(QStringLiteral("Адрес доставки"), QStringLiteral("Адрес"), address) || address.trimmed().isEmpty())
        return;
    if (!dialogs().inputBox(QStringLiteral("Адрес доставки"), QStringLiteral("Код адреса"), code))
        return;
    m_settingsFiles->changeAddress(settings, row, address.trimmed(), code.trimmed());
    showAddresses();
}

void TMainForm::btnRemoveAddressClick()
{
    const int row = ui->lstDeliveryAddresses->currentRow();
    if (row < 0 || row >= settings.DeliveryAddresses.size() || settings.DeliveryAddresses[row].section == 0)
        return;
    if (AskQuestion(QStringLiteral("Удалить адрес доставки \"%1\"?").arg(settings.DeliveryAddresses[row].address), false, false) != mrYes)
        return;
    m_settingsFiles->removeAddress(settings, row);
    showAddresses();
}

void TMainForm::RestartProgram()
{
    QString error;
    const bool started = startLauncher
                             ? startLauncher(error)
                             : pc::startDetached(context.path(QStringLiteral("vorn")), {QString::number(getpid())}, context.appDir(), &error);
    if (!started) {
        ShowNotice(QStringLiteral("Не удалось перезапустить программу: %1. Закройте программу и запустите её снова.").arg(error), true);
        return;
    }
    restartRequested = true;
    closeWithoutAsking = true;
    close();
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::quit();
}

// ---- operations the database, price, order and exchange code provide -----

void TMainForm::CreateFirebirdObjects()
{
    DM->DriverKind = settings.DBDriver;
    DM->Location = pc::DatabaseLocation::Read(m_settingsFiles->clientIni());
    if (DM->IsServer())
        log().logDetail(QStringLiteral("База данных: ") + DM->Location.Description());
    DM->CreateFirebirdObjects();
    priceGrid->install(*DM);
    attachDocumentEvents();
    // The archive's status column and the status button follow the order row.
    DM->OrdersSet()->OnCalcFields = [](pc::Dataset &orders) {
        if (pc::Field *text = orders.FindField(QStringLiteral("Sstatus")))
            text->SetAsString(pc::OrderStatusOf(orders.FieldByName(QStringLiteral("STATUS")).AsInteger()).text);
    };
    DM->OrdersSet()->AfterScroll = [this](pc::Dataset &) { tblOrdersAfterScroll(); };
    // Leaving a price row corrects its quantity to the supplier's rules.
    DM->PriceSet()->BeforeScroll = [this](pc::Dataset &price) {
        if (Order)
            Order->CorrectBeforeLeaving(price);
    };
}

void TMainForm::OpenDatabase()
{
    DM->OpenDatabase();
    // The date of the list the database holds (shared by every workstation),
    // before anything is asked about it: the price updater may not exist yet.
    pc::ReadStoredPriceDate(*DM, settings, log());
    // Over a server a typed quantity is written apart: the window never
    // waits on the server or on another workstation's load.
    if (Order && DM->IsServer())
        Order->UseOwnWriter();
    startSharedEvents();
}

void TMainForm::btnGetNewFileClick()
{
    DM->GetNewDatabaseFile();
}

void TMainForm::btnClearBaseClick()
{
    DM->ResetDatabase();
}
void TMainForm::ShowOrderTotals()
{
    if (!DM->IsFirebird() || !DM->Connected())
        return;
    ui->lblTotals->setText(pc::OrderEntry::TotalsText(Order->CountTotals()));
    ui->lblTotals->show();
}

void TMainForm::tblOrdersAfterScroll()
{
    pc::Dataset *orders = DM->OrdersSet();
    if (!orders || !orders->Active() || orders->IsEmpty())
        return;
    const pc::OrderStatusInfo info = pc::OrderStatusOf(orders->FieldByName(QStringLiteral("STATUS")).AsInteger());
    if (info.known)
        ui->btnChangeStatus->setText(info.buttonCaption);
}

void TMainForm::btnChangeStatusClick()
{
    pc::Dataset *orders = DM->OrdersSet();
    if (!orders || !orders->Active() || orders->IsEmpty())
        return;
    const pc::OrderStatusInfo info = pc::OrderStatusOf(orders->FieldByName(QStringLiteral("STATUS")).AsInteger());
    if (!info.known || AskQuestion(info.question, true, false) != mrYes)
        return;
    orders->Edit();
    orders->FieldByName(QStringLiteral("STATUS")).SetAsInteger(info.newStatus);
    orders->Post();
    DM->Commit();
    tblOrdersAfterScroll();
}

void TMainForm::btnClearOrderClick()
{
    Order->ClearOrder();
}

void TMainForm::CreateFtpClient()
{
    Connection = std::make_unique<pc::ServerConnection>(settings, dialogs(), log());
    configureConnection(*Connection);
    Connection->setBusyCursorHook([](bool busy) {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    });
    makePriceUpdate();
    makeDocumentFetch();
}

void TMainForm::editServerList(bool (*edit)(pc::ServerAddressList &, Dialogs &))
{
    pc::ServerAddressList list;
    list.main = ui->edServerAddress->text();
    for (int i = 0; i < ui->lbServerAddresses->count(); ++i)
        list.reserves << ui->lbServerAddresses->item(i)->text();
    list.selected = ui->lbServerAddresses->currentRow();
    if (!edit(list, dialogs()))
        return;
    ui->edServerAddress->setText(list.main);
    ui->lbServerAddresses->clear();
    ui->lbServerAddresses->addItems(list.reserves);
    ui->lbServerAddresses->setCurrentRow(list.selected);
    SetSettingsModified(true);
}

void TMainForm::btnAddServAddrClick() { editServerList(&pc::addServerAddress); }
void TMainForm::lbServerAddressesDblClick() { editServerList(&pc::editServerAddress); }
void TMainForm::btnRemoveServAddrClick() { editServerList(&pc::removeServerAddress); }
void TMainForm::btnUpServAddrClick() { editServerList(&pc::moveServerAddressUp); }
void TMainForm::btnDownServAddrClick() { editServerList(&pc::moveServerAddressDown); }
void TMainForm::btnSetMainServAddrClick() { editServerList(&pc::setMainServerAddress); }

// «Проверка соединения FTP...»: logs in to the address and port as typed,
// as the client the page shows, and says what came of it.
void TMainForm::btnCheckConnectionClick()
{
    Settings typed = settings;
    typed.ClientCode = ui->edClientCode->text().trimmed();
    typed.ClientPass = ui->edClientPass->text();
    m_settingsFiles->setAccounts(typed);
    pc::ConnectionCheckRequest request;
    request.address = ui->edServerAddress->text();
    request.portText = ui->edServerPort->text();
    request.passive = ui->chkFtpMode->isChecked();
    request.requireTls = ui->chkFtpRequireTls->isChecked();
    request.tlsPublicKey = settings.TLSPublicKey;
    request.login = typed.ClientAccount;
    // On its own thread: the window stays with the person meanwhile.
    auto result = std::make_shared<pc::ConnectionCheck>();
    ShowWait(QStringLiteral("Подождите некоторое время, происходит соединение с сервером..."), 0);
    const bool started = startTask(
        dialogs(),
        [request, result](pc::TaskOperation &task) {
            pc::ConnectionCheckRequest given = request;
            // «Прервать» ends the check at its next wait.
            given.idle = [&task] {
                if (task.cancelRequested())
                    throw pc::ExchangeCancelled();
            };
            try {
                *result = pc::checkServerConnection(given);
            } catch (const pc::ExchangeCancelled &) {
            }
        },
        [this, result] {
            if (!result->text.isEmpty())
                ShowNotice(result->text, true);
        });
    if (!started)
        HideWait();
}

// «Импортировать данные из DBF»: the invoices and the order archive of the
// older database, the current order archived first when the person wants.
void TMainForm::btnImportDbfDataClick()
{
    const int before = Saver->NextOrderNumber();
    // Imported here, the older data is not offered again at the next start.
    if (Archive->ImportDbfData(ui->edOrderComment->text()))
        m_settingsFiles->clearDriverChanged();
    clearCommentWhenStored(before);
}

bool TMainForm::OrderIsEmpty()
{
    return Order->OrderIsEmpty();
}
void TMainForm::ImportOldDbfData()
{
    DM->ImportOldDbfData();
}

void TMainForm::RefreshPrice()
{
    DM->RefreshPrice();
}
