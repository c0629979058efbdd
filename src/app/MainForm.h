#pragma once
// The main window: its pages, the first-activation sequence and the handlers
// that the whole program shares.

#include "core/AppContext.h"
#include "core/Settings.h"

#include <QMainWindow>
#include <QSet>
#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class TMainForm;
}
class QSplitter;
class QTimer;
class QUrl;
class MessagePane;
class TdlgAskMessage;
class TfrmBrowser;
class TfrmPopup;
class TfrmSplash;
class WindowDialogs;
class Dialogs;
class MessageLog;
class SettingsFiles;
class DatabaseSettingsGroup;
class ScheduleSettings;
namespace pc {
namespace fb {
class EventWatcher;
}
class TDM;
struct ColumnWidthMemory;
class DocumentPrinter;
class DocumentFetch;
struct PrintValues;
class OrderArchive;
class RetailPricing;
class ProgramUpdate;
class PriceUpdate;
class OrderFileWriter;
class OrderSaver;
class PriceGrid;
class PriceGridBinder;
class OrderEntry;
class DatasetModel;
class ServerConnection;
struct ServerAddressList;
class SupplierPanels;
class DialogsRouter;
class Operation;
class OperationState;
class TaskOperation;
class PriceUpdate;
class PriceUpdateOperation;
struct JobOutcome;
enum class JobKind;
}

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(const QString &appDir, QWidget *parent = nullptr);
    ~TMainForm() override;

    Ui::TMainForm *ui;
    QTimer *tmClear;
    TdlgAskMessage *dlgAskMessage = nullptr;
    TfrmSplash *frmSplash = nullptr;
    TfrmPopup *frmPopup = nullptr;
    TfrmBrowser *frmBrowser = nullptr;
    // The settings page's group "where the database is".
    DatabaseSettingsGroup *dbLocationGroup = nullptr;
    // The automatic price update group of the connection settings page.
    ScheduleSettings *scheduleSettings = nullptr;

    pc::AppContext context;
    // The data module: created after the small windows, lives as long as the window.
    std::unique_ptr<pc::TDM> DM;
    // The connection to the supplier's server (made by CreateFtpClient at start-up).
    std::unique_ptr<pc::ServerConnection> Connection;
    // Quantities typed into the price grid, their corrections and totals.
    std::unique_ptr<pc::OrderEntry> Order;
    // The price grid's logic and its binding to the order page.
    std::unique_ptr<pc::PriceGrid> priceGrid;
    pc::PriceGridBinder *priceBinder = nullptr;
    // Saving, writing and sending orders.
    std::unique_ptr<pc::OrderFileWriter> OrderWriter;
    std::unique_ptr<pc::OrderSaver> Saver;
    std::unique_ptr<pc::OrderArchive> Archive;
    // The price update (made with the server connection at start-up).
    std::unique_ptr<pc::PriceUpdate> PriceUpd;
    // New program versions (from the price archive or fetched on demand).
    std::unique_ptr<pc::ProgramUpdate> ProgramUpd;
    // Retail pricing of invoices.
    std::unique_ptr<pc::RetailPricing> Pricing;
    std::unique_ptr<pc::DocumentPrinter> Printer;
    // Defectures and invoices from the server (made with the server connection).
    std::unique_ptr<pc::DocumentFetch> Documents;
    Settings settings;
    bool Initialised = false;
    bool SettingsModified = false;
    bool RestartNeeded = false;
    QString TitleSuffix;
    // Set when the program must end without the closing question (a signal, a restart).
    bool closeWithoutAsking = false;

    Dialogs &dialogs();
    // Tests put scripted dialogs in place of the windows.
    void setDialogs(Dialogs *dialogs);
    MessageLog &log();
    MessagePane &messagePane();

    // Wrappers used everywhere.
    int AskQuestion(const QString &text, bool focusYes = true, bool withCancel = false);
    void ShowNotice(const QString &text, bool alsoLogDetail = false);
    void ShowWait(const QString &text, int picture = 0);
    void HideWait();
    void ShowInfoWindow(QWidget *parent, const QString &content, bool contentIsAddress,
                        int left, int top, int width, int height, bool modal);
    void ShowPopup(const QString &text, const QString &detail, bool detailIsAddress, int left, int top, unsigned char maxOpacity);
    void LogMessage(const QString &text, unsigned char level, bool reveal = true);
    void LogDetail(const QString &text);
    void AppException(const QString &message);

    // Window events.
    void FormCreate();
    void FormShow();
    void FormActivate();
    bool FormCloseQuery();
    void FormResize();
    bool FormMouseWheel(int delta);
    void pgcMainChange();
    void tsHomeEnter2();
    void tsOrderEnter();
    void tsArchDocumentsEnter();
    void tsDefectAndNaklEnter();
    void tsNakladEnter();
    void tsNakladSettingsEnter();
    void tsHomeExit();
    void tmClearTimer();
    void btnExitClick();
    void btnShowDataFolderClick();
    void btnOpenOtherFolderClick();
    void btnSendErrorLogClick();
    void SetFilterVisibility(QWidget *page);

    // Settings page.
    void LoadSettings();
    void SaveSettings();
    void btnSaveSettingsClick() { SaveSettings(); }
    void tsSettingsExit();
    void rgOrderProtocolClick(); // marks the settings as changed
    void udPriceTagsCountClick();
    void chkBugFixTypeDBClick();
    void rgDBDriverClick();
    void btnDefaultSettingsClick();
    void cbAddressesChange();
    void cbRoundMethodChange();
    void udPriceAptekaPercentChangingEx(bool &allow, int newValue);
    void edPriceAptekaPercentChange();
    void btnChNakladFolderClick();
    void btnChFolderOrderImportClick();
    void btnAddAddressClick();
    void btnEditAddressClick();
    void btnRemoveAddressClick();
    // Starts the launcher and ends this copy; says so and keeps running when
    // the launcher cannot be started.
    void RestartProgram();
    // Tests replace the launcher start: returns false with a reason to refuse.
    std::function<bool(QString &error)> startLauncher;
    bool restartRequested = false;
    SettingsFiles &settingsFiles();

    // Operations other parts of the program provide; called here by name.
    void CreateFirebirdObjects();
    void OpenDatabase();
    void ShowOrderTotals();
    void CheckUnloadedPriceFile();
    void CreateFtpClient();
    bool OrderIsEmpty();
    void SaveCurrentOrder();
    void ImportOldDbfData();
    void RefreshPrice();
    void btnGetNewFileClick();
    void btnClearOrderClick();
    void btnSaveOrderToArchClick();
    void btnSaveOrderClick();
    void btnSendorderClick();
    void btnOrderRestoreClick();
    void btnDeleteOrderClick();
    void btnDeleteAllOrdersClick();
    void btnImportOrderClick();
    void btnChangeStatusClick();
    void tblOrdersAfterScroll();
    // Binds the grids to the data module's datasets (after the database opened).
    void BindGrids();
    // Asks a new client's identity; false when the person cancels. Tests replace it.
    std::function<bool(ClientIdentity &)> askIdentity;
    void clearCommentWhenStored(int numberBefore);
    pc::ColumnWidthMemory columnWidthMemory(const QString &grid);
    // Rows of controls that wrap on a narrow window, page splitters that keep their sizes.
    void arrangePages();
    void rememberSplitterSizes(QSplitter *splitter);
    // Server list on the connection page.
    void btnAddServAddrClick();
    void lbServerAddressesDblClick();
    void btnRemoveServAddrClick();
    void btnUpServAddrClick();
    void btnDownServAddrClick();
    void btnSetMainServAddrClick();
    void btnCheckConnectionClick();
    void btnClearBaseClick();
    void btnImportDbfDataClick();
    // «Подробно» under the price grid: shows or hides the goods detail line.
    void chkShowDetailClick();

    bool CheckPriceActuality(bool ask);
    // Starts the price update on its own thread (nothing when the window is
    // busy); the window re-reads the list when it has finished.
    void UpdatePrice();
    // The same with other dialogs and log (a job's answers); press: how the
    // update is pressed (unset: once); after: called with the finished
    // operation once the window has re-read what changed (unset: the window
    // also installs a new program version found in the archive). False when
    // it could not start.
    bool startPriceUpdate(Dialogs &dialogs, MessageLog &log, std::function<bool(pc::PriceUpdate &)> press,
                          std::function<void(const pc::PriceUpdateOperation &)> after);
    // Whether a long operation runs: the one place that says so.
    bool busy() const;
    // Runs work as an operation on its own thread (nothing when the window is
    // busy): the wait window offers «Прервать» and shows its progress; after
    // runs on the window's thread once it has finished. False when it could
    // not start.
    bool startTask(Dialogs &dialogs, std::function<void(pc::TaskOperation &)> work, std::function<void()> after);
    // The same for an operation made by the caller; after may read it.
    bool startOperation(Dialogs &dialogs, std::unique_ptr<pc::Operation> op, std::function<void()> after);
    // The document fetch as such an operation; after gets its result.
    bool startDocumentFetch(bool alwaysReport, Dialogs &dialogs,
                            std::function<void(int defectures, int documents)> after);
    pc::OperationState *operations() const { return m_operations; }
    // The running price update (nullptr when none).
    pc::PriceUpdateOperation *priceOperation() const { return m_priceOp.get(); }
    // Sets up a connection to the supplier's server as the window's own.
    static void configureConnection(pc::ServerConnection &connection);
    void btnUpdateProgramClick();
    void btnSetPriceAptClick();
    void dbgNakladCellClick();
    void chkCalcPricePrWithNDSClick();
    void btnPrintClick();
    void btnPrintPriceTagsClick();
    void btnPrintOrderClick();
    void btnPrintOrderFromPriceClick();
    void FetchDocuments(bool alwaysReport);
    void btnGetDefectureClick() { FetchDocuments(true); }
    void btnDeleteNakladClick();
    void makeDocumentFetch();
    int CountUnsentOrders(QDateTime *oldest = nullptr);
    int CountUnreadInvoices();
    void wbStartPageBeforeNavigate2(const QUrl &url);
    void SetSettingsModified(bool modified);
    void RefreshTitle();
    void LoadTopStrip();
    void LoadBanner();
    // The supplier's banner and news strip (made at their first load).
    pc::SupplierPanels *supplierPanels();
    void BuildStartPage();
    void ClearQuickSearch();
    void OpenDefectLinesTable();
    // Moves the price dataset by one record (the wheel over the price grid).
    void MovePriceRecord(int by);

    // Several workstations: the engine's events of the shared database, and
    // showing what the other workstations changed.
    void startSharedEvents();
    void followOtherWorkstations();

    // Jobs (MainFormJobs.cpp). A request of another copy of the program on
    // this folder: "show" brings the window to the front; "job <kind>" runs
    // the job here unless the window is busy. The reply is sent when done.
    void AnswerOtherCopy(const QString &request, const std::function<void(const QString &)> &reply);
    // A question or notice is open, long work runs, or the start-up is not done.
    bool BusyForJob() const;
    // Runs a job as its button would, with the job's fixed answers; the result
    // is kept and shown in the message pane and on the start page, then
    // given to done (the price update ends after this returns).
    void RunHandedJob(pc::JobKind kind, std::function<void(const pc::JobOutcome &)> done);
    // The last job's result not yet shown: a line in the message pane.
    void ShowLastJobResult();

    // The file written by the last btnSendErrorLogClick (for the upload).
    QString lastErrorLogFile() const { return m_lastErrorLogFile; }

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectHandlers();
    void connectSettingsHandlers();
    void makeOrderEntry();
    void makePriceGrid();
    void makeOrderObjects();
    void makePriceUpdate();
    void makeDocuments();
    void attachDocumentEvents();
    void styleNakladLines(pc::DatasetModel *model);
    pc::PrintValues printValues();
    pc::DatasetModel *nakladLinesModel = nullptr;
    pc::SupplierPanels *m_supplierPanels = nullptr;
    // Puts the settings values on the page / takes them back from it.
    void showSettings();
    void refreshMarkupLimits();
    void collectSettings();
    void showAddresses();
    void showChannelSettings();
    // Applies one edit of the server list to the page; marks the settings changed.
    void editServerList(bool (*edit)(pc::ServerAddressList &, Dialogs &));
    QStringList markupCells() const;
    bool m_fillingPage = false;
    QWidget *m_goodInfoLine = nullptr; // the detail line's strip, shown by «Подробно»
    std::unique_ptr<SettingsFiles> m_settingsFiles;
    bool m_identityAsked = false;
    std::vector<std::unique_ptr<pc::DatasetModel>> m_gridModels;
    std::unique_ptr<MessagePane> m_pane;
    std::unique_ptr<WindowDialogs> m_windowDialogs;
    // Every part of the program speaks through the router: to the windows,
    // to scripted dialogs in tests, to a job's answers while a job runs.
    std::unique_ptr<pc::DialogsRouter> m_router;
    Dialogs *m_dialogs = nullptr;
    bool m_jobRunning = false;
    bool m_activating = false;
    QString m_lastErrorLogFile;
    void followPriceList(bool newList, bool fromOtherWorkstation = true);
    void priceUpdateFinished(Dialogs &dialogs, std::function<void(const pc::PriceUpdateOperation &)> after);
    pc::OperationState *m_operations = nullptr;
    std::unique_ptr<pc::PriceUpdateOperation> m_priceOp;
    std::unique_ptr<pc::Operation> m_task;
    // The document tables read again after another attachment wrote them.
    void reopenDocuments();
    std::unique_ptr<pc::fb::EventWatcher> m_sharedEvents;
    QSet<QString> m_pendingShared;
    bool m_followingShared = false;
    bool m_sharedEventsFailed = false; // registering failed: tried again, at most every 30 s
    bool m_sharedRetryQueued = false;
};
