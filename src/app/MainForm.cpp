#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "app/ClientApplication.h"
#include "app/DesktopShortcutButton.h"
#include "app/MessagePane.h"
#include "app/ScheduleSettings.h"
#include "app/SettingsFiles.h"
#include "core/JobDialogs.h"
#include "core/JobResult.h"
#include "core/LogText.h"
#include "core/Operation.h"
#include "app/PriceUpdateOperation.h"
#include "db/DataModule.h"
#include "db/SharedJobState.h"
#include "db/firebird/Events.h"
#include "exchange/ErrorLogUpload.h"
#include "exchange/ServerConnection.h"
#include "orders/OrderArchive.h"
#include "orders/OrderFile.h"
#include "orders/SaveOrder.h"
#include "orders/SendOrders.h"
#include "price/OrderEntry.h"
#include "exchange/ProgramUpdate.h"
#include "documents/FetchDocuments.h"
#include "documents/Printing.h"
#include "documents/RetailPricing.h"
#include "price/PriceUpdate.h"
#include "price/PriceGrid.h"
#include "ui/PriceGridBinder.h"
#include "ui/StartPage.h"
#include "platform/CodePage.h"
#include "ui/DatasetModel.h"
#include "platform/AppError.h"
#include "platform/IniFile.h"
#include "platform/Shell.h"
#include "ui/AskMessageDialog.h"
#include "ui/BrowserWindow.h"
#include "ui/PopupWindow.h"
#include "ui/SplashWindow.h"
#include "ui/SupplierPanels.h"
#include "ui/WindowDialogs.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSplitter>
#include <QStyle>
#include <QTabBar>
#include <QTimer>
#include <QTextBrowser>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>

TMainForm::TMainForm(const QString &appDir, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::TMainForm), tmClear(new QTimer(this)), context(appDir)
{
    ui->setupUi(this);
    tmClear->setObjectName(QStringLiteral("tmClear"));
    tmClear->setInterval(4000);
    tmClear->stop();

    // The small windows, in the order the program has always created them.
    dlgAskMessage = new TdlgAskMessage(this);
    frmSplash = new TfrmSplash(this);
    frmPopup = new TfrmPopup(this);
    frmBrowser = new TfrmBrowser(context.appDir());

    m_pane = std::make_unique<MessagePane>(ui->paMessage, ui->reMessages, ui->btnSendErrorLog, ui->chkDetailLog,
                                           context.appDir(), [this] {
                                               // Before the settings are loaded the code is read from
                                               // client.ini, so early messages go to the same daily file.
                                               if (!settings.ClientCode.isEmpty())
                                                   return settings.ClientCode;
                                               try {
                                                   return pc::IniFile(context.path(QStringLiteral("client.ini")))
                                                       .readString(QStringLiteral("Header"), QStringLiteral("ClientCode"))
                                                       .trimmed();
                                               } catch (const std::exception &) {
                                                   return QString();
                                               }
                                           });
    m_operations = new pc::OperationState(this);
    // While an operation runs, the buttons that would start another one or
    // change what it works on wait for it; everything else stays at hand.
    connect(m_operations, &pc::OperationState::busyChanged, this, [this](bool busy) {
        for (QPushButton *b : {ui->btnUpdatePrice, ui->btnSendOrder, ui->btnSendOrders, ui->btnGetDefecturesAndNaklad,
                               ui->btnCheckConnection, ui->btnUpdateProgram, ui->btnClearorder, ui->btnImportOrder,
                               ui->btnImportDbfData, ui->btnClearBase, ui->btnGetNewFile, ui->btnOrderRestore,
                               ui->btnDeleteAllOrders})
            b->setEnabled(!busy);
    });
    m_windowDialogs = std::make_unique<WindowDialogs>(this, dlgAskMessage, frmSplash, m_pane.get());
    m_router = std::make_unique<pc::DialogsRouter>(m_windowDialogs.get());
    m_dialogs = m_router.get();
    m_windowDialogs->afterNotice = [this] {
        auto focusGrid = [this] {
            if (ui->pgcMain->currentWidget() == ui->tsOrder && ui->dbgrdPrice->isEnabled())
                ui->dbgrdPrice->setFocus(Qt::OtherFocusReason);
        };
        focusGrid();
        // Once more after the window has been re-activated, which restores the old focus.
        QTimer::singleShot(0, this, focusGrid);
    };
    frmPopup->onShowDetail = [this](const QString &detail, bool isAddress) {
        const QRect g = TfrmPopup::detailGeometry(width(), height());
        ShowInfoWindow(this, detail, isAddress, g.left(), g.top(), g.width(), g.height(), false);
    };

    // The exit button sits beside the page tabs.
    auto *btnExit = new QPushButton(QStringLiteral("Выход"), ui->pgcMain);
    btnExit->setObjectName(QStringLiteral("btnExit"));
    ui->pgcMain->setCornerWidget(btnExit, Qt::TopRightCorner);
    connect(btnExit, &QPushButton::clicked, this, &TMainForm::btnExitClick);

    ui->pgcMain->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { height: 30px; }"));
    const QStyle::StandardPixmap icons[] = {QStyle::SP_DirHomeIcon, QStyle::SP_FileDialogDetailedView,
                                            QStyle::SP_DirClosedIcon, QStyle::SP_FileDialogContentsView,
                                            QStyle::SP_ComputerIcon};
    for (int i = 0; i < ui->pgcMain->count() && i < int(std::size(icons)); ++i)
        ui->pgcMain->setTabIcon(i, style()->standardIcon(icons[i]));
    ui->btnSaveOrderToArch->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    ui->btnSaveOrder->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    ui->btnPrintOrderFromPrice->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
    ui->btnPrintOrder->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
    ui->btnDeleteOrder->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    ui->btnPriceFilterClear->setText(QString());
    ui->btnPriceFilterClear->setIcon(style()->standardIcon(QStyle::SP_DialogResetButton));

    ui->dbgrdPrice->verticalHeader()->setDefaultSectionSize(20);
    ui->dbgrdPrice->verticalHeader()->hide();
    ui->dbgrdPrice->viewport()->installEventFilter(this);
    ui->btnSendErrorLog->hide();
    // The news strip shows once its file is read; until then (while the
    // start-up notices are open) it takes no room.
    ui->Panel4->hide();
    setMinimumSize(833, 400);
    {
        // The program's icon (the same green cross as client.svg beside it).
        QPixmap icon(64, 64);
        icon.fill(Qt::transparent);
        QPainter p(&icon);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor green(0x1b, 0x7f, 0x3b);
        p.setPen(QPen(green, 4));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
        p.fillRect(26, 12, 12, 40, green);
        p.fillRect(12, 26, 40, 12, green);
        p.end();
        setWindowIcon(QIcon(icon));
    }

    // The message pane sits under the pages behind a splitter, so the
    // pharmacist can drag it taller to read a long summary.
    {
        const int at = ui->lyMain->indexOf(ui->pgcMain);
        auto *splitter = new QSplitter(Qt::Vertical, ui->centralwidget);
        splitter->setObjectName(QStringLiteral("splMessages"));
        splitter->setChildrenCollapsible(false);
        ui->lyMain->insertWidget(at, splitter, 1);
        splitter->addWidget(ui->pgcMain);
        splitter->addWidget(ui->paMessage);
        splitter->setStretchFactor(0, 1);
        splitter->setStretchFactor(1, 0);
        ui->paMessage->setMaximumHeight(QWIDGETSIZE_MAX);
        splitter->setSizes({700, 66});
    }

    scheduleSettings = new ScheduleSettings(context.path(QStringLiteral("client.ini")),
                                            std::make_unique<pc::UserTimer>(QCoreApplication::applicationFilePath()),
                                            m_pane.get(), ui->tsConnectionSettings);
    ui->lytsConnectionSettings->insertWidget(1, scheduleSettings);
    scheduleSettings->load();

    m_settingsFiles = std::make_unique<SettingsFiles>(context, *m_dialogs, *m_pane);
    arrangePages();
    askIdentity = [this](ClientIdentity &id) { return m_dialogs->askClientIdentity(id); };
    DM = std::make_unique<pc::TDM>(context, *m_dialogs, *m_pane);
    DM->RestartProgram = [this] { RestartProgram(); };
    makeOrderEntry();
    makePriceGrid();
    makeOrderObjects();
    makeDocuments();
    connectHandlers();
    connectSettingsHandlers();
    addDesktopShortcutButton(ui->btnDefaultSettings, context.appDir(), *m_dialogs, *m_pane);
    FormCreate();
}

TMainForm::~TMainForm()
{
    // A running operation gives up first: it uses the database and the windows.
    m_priceOp.reset();
    m_task.reset();
    ProgramUpd.reset();
    Documents.reset();
    Printer.reset();
    Pricing.reset();
    PriceUpd.reset();
    Connection.reset();
    delete priceBinder;
    priceBinder = nullptr;
    Archive.reset();
    Saver.reset();
    OrderWriter.reset();
    Order.reset();
    m_gridModels.clear();
    DM.reset(); // detaches the database before the windows go
    delete frmBrowser;
    delete ui;
}

Dialogs &TMainForm::dialogs() { return *m_dialogs; }
void TMainForm::setDialogs(Dialogs *dialogs)
{
    m_router->target = dialogs ? dialogs : m_windowDialogs.get();
    if (Connection)
        Connection->setDialogs(*m_dialogs);
    m_settingsFiles = std::make_unique<SettingsFiles>(context, *m_dialogs, *m_pane);
    askIdentity = [this](ClientIdentity &id) { return m_dialogs->askClientIdentity(id); };
    // The data module speaks through the same dialogs; it holds no objects yet
    // when tests swap them right after creating the window.
    if (!DM || !DM->PriceSet()) {
        DM = std::make_unique<pc::TDM>(context, *m_dialogs, *m_pane);
        DM->RestartProgram = [this] { RestartProgram(); };
        makeOrderEntry();
        priceGrid->install(*DM);
        makeOrderObjects();
        makeDocuments();
    }
}
SettingsFiles &TMainForm::settingsFiles() { return *m_settingsFiles; }

void TMainForm::makePriceGrid()
{
    priceGrid = std::make_unique<pc::PriceGrid>();
    priceGrid->clientCode = [this] { return settings.ClientCode; };
    priceGrid->quantityPending = [this](pc::Dataset &price) { return Order && Order->IsPending(price); };
    priceGrid->markupPercent = [this] {
        const QString t = ui->edPriceAptekaPercent->text().trimmed();
        double m = 0;
        if (!pc::IniFile::textToFloat(t, m))
            throw pc::AppError(QStringLiteral("\"%1\" не является числом").arg(t));
        return m;
    };
    priceGrid->install(*DM);
    priceBinder = new pc::PriceGridBinder(*priceGrid,
                                          {ui->dbgrdPrice, ui->edSearch, ui->lblGoodInfo, tmClear, ui->edPriceFilter,
                                           ui->btnPriceFilterClear, ui->chkOnlyRegud, ui->chkShowOnlyOrder},
                                          this);
    priceBinder->showPopup = [this](const QString &t, const QString &d, bool a, int l, int top, unsigned char o) {
        ShowPopup(t, d, a, l, top, o);
    };
    priceBinder->popupWidth = [this] { return frmPopup->width(); };
    priceBinder->hidePopup = [this] { frmPopup->hide(); };
    priceBinder->showInfoWindow = [this](QWidget *p, const QString &c, bool a, int l, int t, int w, int h, bool m) {
        ShowInfoWindow(p, c, a, l, t, w, h, m);
    };
    priceBinder->onDeleteKey = [this] { Order->DeleteQuantity(); };
    priceBinder->onDigit = [this](QChar d) {
        Order->TypeDigit(d);
        return true;
    };
    priceBinder->onPriceScrolled = [this] { Order->ResetTyping(); };
    priceBinder->onScanMessage = [this](const QString &text) { LogMessage(text, Warning, true); };
    priceBinder->shortExpiryMonths = [this] { return settings.ShortExpiryMonths; };
    priceBinder->onError = [this](const QString &m) { AppException(m); };
}

void TMainForm::makeOrderEntry()
{
    Order = std::make_unique<pc::OrderEntry>(*DM, *m_dialogs, *m_pane, [this] { return settings.ClientCode; });
    Order->onTotalsChanged = [this] { ShowOrderTotals(); };
    Order->shortExpiryMonths = [this] { return settings.ShortExpiryMonths; };
}
MessageLog &TMainForm::log() { return *m_pane; }
MessagePane &TMainForm::messagePane() { return *m_pane; }

void TMainForm::connectHandlers()
{
    connect(ui->pgcMain, &QTabWidget::currentChanged, this, [this, previous = ui->pgcMain->currentWidget()](int) mutable {
        QWidget *page = ui->pgcMain->currentWidget();
        if (previous == ui->tsHome)
            tsHomeExit();
        else if (previous == ui->tsSettings)
            tsSettingsExit();
        previous = page;
        pgcMainChange();
        if (page == ui->tsHome)
            tsHomeEnter2();
        else if (page == ui->tsOrder)
            tsOrderEnter();
        else if (page == ui->tsArchDocuments)
            tsArchDocumentsEnter();
        else if (page == ui->tsDefectAndNakl)
            tsDefectAndNaklEnter();
        else if (page == ui->tsSettings && ui->pgcSettings->currentWidget() == ui->tsNakladSettings)
            tsNakladSettingsEnter();
    });
    connect(ui->pcDocum, &QTabWidget::currentChanged, this, [this](int) {
        if (ui->pcDocum->currentWidget() == ui->tsNaklad)
            tsNakladEnter();
    });
    connect(ui->pgcSettings, &QTabWidget::currentChanged, this, [this](int) {
        if (ui->pgcSettings->currentWidget() == ui->tsNakladSettings)
            tsNakladSettingsEnter();
    });
    connect(ui->btnShowDataFolder, &QPushButton::clicked, this, &TMainForm::btnShowDataFolderClick);
    connect(ui->btnOpenOtherFolder, &QPushButton::clicked, this, &TMainForm::btnOpenOtherFolderClick);
    connect(ui->btnSendErrorLog, &QPushButton::clicked, this, &TMainForm::btnSendErrorLogClick);
    connect(ui->wbStartPage, &QTextBrowser::anchorClicked, this, &TMainForm::wbStartPageBeforeNavigate2);
    connect(ui->btnUpdatePrice, &QPushButton::clicked, this, &TMainForm::UpdatePrice);
    connect(ui->btnUpdateProgram, &QPushButton::clicked, this, &TMainForm::btnUpdateProgramClick);
    connect(ui->btnSetPriceApt, &QPushButton::clicked, this, &TMainForm::btnSetPriceAptClick);
    connect(ui->btnPrint, &QPushButton::clicked, this, &TMainForm::btnPrintClick);
    connect(ui->btnPrintPriceTags, &QPushButton::clicked, this, &TMainForm::btnPrintPriceTagsClick);
    connect(ui->btnPrintOrder, &QPushButton::clicked, this, &TMainForm::btnPrintOrderClick);
    connect(ui->btnPrintOrderFromPrice, &QPushButton::clicked, this, &TMainForm::btnPrintOrderFromPriceClick);
    connect(ui->btnGetDefecturesAndNaklad, &QPushButton::clicked, this, &TMainForm::btnGetDefectureClick);
    connect(ui->btnDeleteNaklad, &QPushButton::clicked, this, &TMainForm::btnDeleteNakladClick);
    connect(ui->dbgNaklad, &QTableView::clicked, this, &TMainForm::dbgNakladCellClick);
    connect(ui->dbgArchivePrices, &QTableView::clicked, this, &TMainForm::dbgNakladCellClick);
    connect(ui->chkCalcPricePrWithNDS, &QCheckBox::clicked, this, &TMainForm::chkCalcPricePrWithNDSClick);
}

// ---- wrappers -------------------------------------------------------------

int TMainForm::AskQuestion(const QString &text, bool focusYes, bool withCancel)
{
    return m_dialogs->askQuestion(text, focusYes, withCancel);
}

void TMainForm::ShowNotice(const QString &text, bool alsoLogDetail)
{
    m_dialogs->showNotice(text, alsoLogDetail);
}

void TMainForm::ShowWait(const QString &text, int picture) { m_dialogs->showWait(text, picture); }
void TMainForm::HideWait() { m_dialogs->hideWait(); }

void TMainForm::ShowInfoWindow(QWidget *parent, const QString &content, bool contentIsAddress,
                               int left, int top, int width, int height, bool modal)
{
    frmBrowser->ShowInfoWindow(parent, content, contentIsAddress, left, top, width, height, modal);
}

void TMainForm::ShowPopup(const QString &text, const QString &detail, bool detailIsAddress, int left, int top,
                          unsigned char maxOpacity)
{
    frmPopup->ShowPopup(text, detail, detailIsAddress, left, top, maxOpacity);
}

void TMainForm::LogMessage(const QString &text, unsigned char level, bool reveal)
{
    m_pane->logMessage(text, LogLevel(std::min<unsigned char>(level, Error)), reveal);
}

void TMainForm::LogDetail(const QString &text) { m_pane->logDetail(text); }

void TMainForm::AppException(const QString &message)
{
    HideWait();
    LogMessage(pc::unhandledErrorText(message), Error, true);
}

// ---- window events --------------------------------------------------------

void TMainForm::FormCreate()
{
    if (auto *app = qobject_cast<ClientApplication *>(QCoreApplication::instance()))
        app->onException = [this](const QString &m) { AppException(m); };
    ui->pgcMain->setCurrentIndex(0);
    ui->pgcSettings->setCurrentIndex(0);
    SetFilterVisibility(ui->pgcMain->currentWidget());
}

void TMainForm::FormShow()
{
    Initialised = false;
}

void TMainForm::FormActivate()
{
    // A modal window closing re-activates the main window; the sequence must
    // not start a second time while it runs.
    if (Initialised || m_activating)
        return;
    m_activating = true;
    struct Reset {
        bool &flag;
        ~Reset() { flag = false; }
    } reset{m_activating};

    try {
        LoadSettings();
        Initialised = true;
    } catch (const std::exception &e) {
        LogMessage(pc::errorText(e) + QStringLiteral(" (Инициализация)"), Error, true);
    }
    settings.ClientName = pc::IniFile(context.path(QStringLiteral("client.ini")))
                              .readString(QStringLiteral("Header"), QStringLiteral("ClientName"), QString());
    LoadTopStrip();
    LoadBanner();
    showChannelSettings();
    ShowLastJobResult();
    CheckPriceActuality(true);
    // A new version a job found in the price archive is installed now, as
    // after an update from the button.
    if (ProgramUpd && !ProgramUpd->ArchivedUpdate().isEmpty() && priceGrid)
        ProgramUpd->CheckProgramUpdate(priceGrid->ShowOnlyOrder);
    ui->pgcMain->setCurrentIndex(0);
    SetFilterVisibility(ui->pgcMain->currentWidget());
    SetSettingsModified(false);

    const QString updatePage = context.path(QStringLiteral("update.html"));
    if (QFileInfo::exists(updatePage)) {
        const QRect g = frameGeometry();
        ShowInfoWindow(nullptr, updatePage, true, g.left() + 30, g.top() + 30, width() - 60, height() - 60, true);
        if (!QFile::remove(updatePage))
            LogMessage(QStringLiteral("Не удалось удалить файл %1").arg(QDir::toNativeSeparators(updatePage)), Warning, true);
    }
    RestartNeeded = false;
    raise();
    activateWindow();
}

bool TMainForm::FormCloseQuery()
{
    return AskQuestion(QStringLiteral("Закрыть программу?"), false, false) == mrYes;
}

void TMainForm::FormResize()
{
    // The grids' name columns follow their views' widths themselves.
    const int w = width();
    // The comment box's width follows the window but never holds the window
    // wider than the screen: on a narrow one it takes what the row has.
    ui->edOrderComment->setMaximumWidth(std::max(w - 390, 0));
}

// Wheel over the price grid: one record per notch; the grid scrolls as well.
bool TMainForm::FormMouseWheel(int delta)
{
    if (delta < 0)
        MovePriceRecord(1);
    else if (delta > 0)
        MovePriceRecord(-1);
    return false;
}

void TMainForm::pgcMainChange()
{
    QWidget *page = ui->pgcMain->currentWidget();
    auto moveAddressBox = [this](QBoxLayout *target, int index, int width) {
        QComboBox *box = ui->cbAddresses;
        if (QLayout *current = box->parentWidget() ? box->parentWidget()->layout() : nullptr)
            current->removeWidget(box);
        for (QLayout *l : {static_cast<QLayout *>(ui->lyOrderAddr), static_cast<QLayout *>(ui->lyDefAddress)})
            l->removeWidget(box);
        target->insertWidget(index, box);
        box->setFixedWidth(width);
        box->show();
    };
    if (page == ui->tsOrder) {
        ui->dbgrdPrice->setFocus(Qt::OtherFocusReason);
        moveAddressBox(ui->lyOrderAddr, 1, 280);
    } else if (page == ui->tsDefectAndNakl) {
        moveAddressBox(ui->lyDefAddress, 0, 320);
    }
}

void TMainForm::SetFilterVisibility(QWidget *page)
{
    const bool visible = page == ui->tsOrder;
    ui->edPriceFilter->setVisible(visible);
    ui->lblPriceFilter->setVisible(visible);
    ui->btnPriceFilterClear->setVisible(visible);
}

void TMainForm::tsHomeEnter2()
{
    SetFilterVisibility(ui->tsHome);
    BuildStartPage();
}

void TMainForm::tsOrderEnter()
{
    SetFilterVisibility(ui->tsOrder);
    if (ui->dbgrdPrice->isEnabled())
        ui->dbgrdPrice->setFocus(Qt::OtherFocusReason);
}

void TMainForm::tsArchDocumentsEnter() { SetFilterVisibility(ui->tsArchDocuments); }

void TMainForm::tsDefectAndNaklEnter()
{
    SetFilterVisibility(ui->tsDefectAndNakl);
    OpenDefectLinesTable();
}

void TMainForm::tsNakladEnter() {}
void TMainForm::tsNakladSettingsEnter() { SetFilterVisibility(ui->tsNakladSettings); }
void TMainForm::tsHomeExit() {}
void TMainForm::tmClearTimer() { ClearQuickSearch(); }

void TMainForm::btnExitClick() { close(); }

void TMainForm::btnShowDataFolderClick()
{
    const QString folder = context.path(QStringLiteral("Data"));
    if (!pc::shellOpen(folder))
        LogMessage(QStringLiteral("Не удалось открыть папку %1").arg(QDir::toNativeSeparators(folder)), Warning, true);
}

void TMainForm::btnOpenOtherFolderClick()
{
    const QString folder = ui->tsNakladSettings->findChild<QLineEdit *>(QStringLiteral("edNakladFolder"))
                               ? ui->tsNakladSettings->findChild<QLineEdit *>(QStringLiteral("edNakladFolder"))->text()
                               : QString();
    if (folder.isEmpty() || !pc::shellOpen(folder))
        LogMessage(QStringLiteral("Не удалось открыть папку %1").arg(QDir::toNativeSeparators(folder)), Warning, true);
}

// Sends the whole pane to the supplier: connects under the order account,
// writes the pane to <ClientCode><time stamp>.err beside the program and
// uploads it under that name.
void TMainForm::btnSendErrorLogClick()
{
    auto writeLog = [this] {
        const QString name = settings.ClientCode + pc::TimeStampText(QDateTime::currentDateTime()) + QStringLiteral(".err");
        m_lastErrorLogFile = context.path(name);
        m_pane->writeTo(m_lastErrorLogFile);
        return m_lastErrorLogFile;
    };
    if (!Connection)
        CreateFtpClient();
    try {
        pc::SendErrorLog(*Connection, settings.OrderAccount, writeLog);
    } catch (const std::exception &e) {
        LogMessage(pc::errorText(e) + QStringLiteral(" (отправка журнала)"), Error, true);
    }
}

// ---- operations filled in by the settings, price and start page code ----

int TMainForm::CountUnsentOrders(QDateTime *oldest)
{
    return pc::CountUnsentOrders(*DM, oldest);
}

// Invoices whose read flag is 0, counted over the invoice list without moving its cursor.
int TMainForm::CountUnreadInvoices()
{
    pc::Dataset *naklad = DM->NakladSet();
    if (!naklad || !naklad->Active())
        return 0;
    pc::Field *read = naklad->FindField(DM->ReadFieldName());
    if (!read)
        return 0;
    int count = 0;
    for (int i = 0; i < naklad->RecordCount(); ++i) {
        pc::Dataset::ActiveRow row(*naklad, i);
        if (read->AsInteger() == 0)
            ++count;
    }
    return count;
}

void TMainForm::BuildStartPage()
{
    pc::StartPageState state;
    state.priceHasData = DM->IsFirebird() && DM->Connected() && DM->PriceHasData();
    state.priceCurrent = CheckPriceActuality(false);
    state.orderEmpty = OrderIsEmpty();
    state.unsentOrders = CountUnsentOrders();
    state.unreadInvoices = CountUnreadInvoices();
    // The last job of this folder, or of any counter of a shared database.
    std::optional<pc::JobResult> job = pc::readJobResult(context);
    if (DM->IsServer() && DM->Connected())
        job = pc::NewerJobResult(job, pc::SharedJobResult(*DM));
    if (job && job->finished.secsTo(QDateTime::currentDateTime()) < 24 * 3600) {
        state.lastJob = job->summary;
        state.lastJobFailed = job->exitCode != pc::JobDone;
    }
    const QString file = context.path(QStringLiteral("Data/start.htm"));
    try {
        pc::writeLines(file, {pc::BuildStartPageHtml(state)});
    } catch (const pc::AppError &e) {
        LogMessage(e.message(), Warning, false);
    }
    QFile f(file);
    if (f.open(QIODevice::ReadOnly))
        ui->wbStartPage->setHtml(pc::fromCp1251(f.readAll()));
}

void TMainForm::wbStartPageBeforeNavigate2(const QUrl &url)
{
    bool follow = false;
    switch (pc::StartPageLinkOf(url.toString(), follow)) {
    case pc::StartPageLink::UpdatePrice: UpdatePrice(); break;
    case pc::StartPageLink::OpenOrder: ui->pgcMain->setCurrentIndex(1); break;
    case pc::StartPageLink::OpenArchive: ui->pgcMain->setCurrentIndex(2); break;
    case pc::StartPageLink::OpenNaklad:
        ui->pgcMain->setCurrentIndex(3);
        ui->pcDocum->setCurrentIndex(1);
        break;
    case pc::StartPageLink::None: break;
    }
}

void TMainForm::ClearQuickSearch()
{
    priceBinder->ClearQuickSearch();
}
void TMainForm::OpenDefectLinesTable() {}
void TMainForm::MovePriceRecord(int by)
{
    if (DM && DM->PriceSet() && DM->PriceSet()->Active())
        DM->PriceSet()->MoveBy(by);
}

void TMainForm::SetSettingsModified(bool modified)
{
    SettingsModified = modified;
    ui->btnSaveSettings->setEnabled(modified);
    RefreshTitle();
}

void TMainForm::RefreshTitle()
{
    QString prefix;
    if (SettingsModified)
        prefix = RestartNeeded ? QStringLiteral("! ") : QStringLiteral("* ");
    setWindowTitle(prefix + QStringLiteral("Клиент заказа ВОРН ") + context.version() + QStringLiteral(". Код в системе ")
                   + settings.ClientCode + QStringLiteral(". Имя в системе ") + settings.ClientName
                   + QStringLiteral(" Прайс-лист от ") + settings.PriceDate + TitleSuffix);
    ui->pgcMain->setTabText(ui->pgcMain->indexOf(ui->tsOrder), QStringLiteral("Заказ"));
    ui->btnUpdatePrice->setEnabled(!busy());
    ui->btnSendOrder->setEnabled(!busy());
    ui->btnSendOrders->setEnabled(!busy());
    ui->lbPriceDate->setText(QStringLiteral("Прайс от :     ") + settings.PriceDate);
}

pc::SupplierPanels *TMainForm::supplierPanels()
{
    if (m_supplierPanels)
        return m_supplierPanels;
    m_supplierPanels = new pc::SupplierPanels(context.appDir(), ui->wbHome, ui->wbTopPanel, this);
    m_supplierPanels->ShowStrip = [this](bool visible) {
        ui->Panel4->setFixedHeight(visible ? 70 : 0);
        ui->Panel4->setVisible(visible);
    };
    m_supplierPanels->ShowBanner = [this](bool visible) {
        const int h = ui->tsHome->height();
        ui->paHomeBanner->setVisible(visible);
        ui->splHome->setSizes(visible ? QList<int>{h / 2, h - h / 2} : QList<int>{h, 0});
    };
    m_supplierPanels->Failed = [this](const QString &text) { LogMessage(text, Warning, false); };
    return m_supplierPanels;
}

void TMainForm::LoadTopStrip() { supplierPanels()->LoadTopStrip(); }

void TMainForm::LoadBanner() { supplierPanels()->LoadBanner(); }

// ---- Qt events ------------------------------------------------------------

bool TMainForm::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate && !Initialised && !m_activating)
        QMetaObject::invokeMethod(this, &TMainForm::FormActivate, Qt::QueuedConnection);
    return QMainWindow::event(e);
}

void TMainForm::showEvent(QShowEvent *e)
{
    if (!e->spontaneous())
        FormShow();
    QMainWindow::showEvent(e);
}

void TMainForm::closeEvent(QCloseEvent *e)
{
    if (closeWithoutAsking || FormCloseQuery()) {
        // A transfer running underneath (the close came while it kept the
        // window painted) gives up at once instead of keeping the closing
        // program for its whole length; the exchange leaves its files as
        // they were.
        if (Connection)
            Connection->cancelExchange();
        if (m_priceOp)
            m_priceOp->cancel();
        if (m_task)
            m_task->cancel();
        frmPopup->hide();
        frmBrowser->hide();
        e->accept();
    } else {
        e->ignore();
    }
}

void TMainForm::resizeEvent(QResizeEvent *e)
{
    QMainWindow::resizeEvent(e);
    FormResize();
}

bool TMainForm::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == ui->dbgrdPrice->viewport() && e->type() == QEvent::Wheel)
        return FormMouseWheel(static_cast<QWheelEvent *>(e)->angleDelta().y());
    return QMainWindow::eventFilter(watched, e);
}
