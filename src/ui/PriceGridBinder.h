#pragma once
// Binds the price grid of the order page and the controls around it to the
// price grid logic (price/PriceGrid): quick search by typing letters, the
// Delete and Backspace keys, the search clearing by navigation keys, mouse
// and timer, the cell colours and fonts, the filter controls, the detail line
// and the pop-up note. What only the window can do (the pop-up, the detail
// window, the quantities of the order) comes in as callbacks.

#include "core/KeyBurst.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTableView;
class QTimer;
class QWidget;

namespace pc {

class Dataset;
class DatasetModel;
class PriceGrid;

struct PriceGridWidgets {
    QTableView *dbgrdPrice = nullptr;
    QLineEdit *edSearch = nullptr;
    QLabel *lblGoodInfo = nullptr;
    QTimer *tmClear = nullptr;
    QLineEdit *edPriceFilter = nullptr;
    QAbstractButton *btnPriceFilterClear = nullptr;
    QCheckBox *chkOnlyRegud = nullptr;
    QCheckBox *chkShowOnlyOrder = nullptr;
};

class PriceGridBinder : public QObject {
    Q_OBJECT
public:
    PriceGridBinder(PriceGrid &logic, const PriceGridWidgets &widgets, QObject *parent = nullptr);
    ~PriceGridBinder() override;

    // Called once the grid's model exists (after the grids are bound): the
    // cell look, the after-scroll event of the PRICE dataset, and the detail
    // line for the current row.
    void attachModel(DatasetModel *model);

    // ---- what the window provides
    // TMainForm::ShowPopup and the pop-up's width (for placing it).
    std::function<void(const QString &text, const QString &detail, bool detailIsAddress, int left, int top,
                       unsigned char maxOpacity)>
        showPopup;
    std::function<int()> popupWidth;
    std::function<void()> hidePopup;
    // TMainForm::ShowInfoWindow.
    std::function<void(QWidget *parent, const QString &content, bool contentIsAddress, int left, int top, int width,
                       int height, bool modal)>
        showInfoWindow;
    // The Delete key on the grid (order entry clears the row's quantity and
    // shows the totals).
    std::function<void()> onDeleteKey;
    // A digit typed in the grid (order entry); returns true when handled.
    std::function<bool(QChar digit)> onDigit;
    // Goods expiring within this many months are marked (0: no mark).
    std::function<int()> shortExpiryMonths;
    // What a scan in the grid has to say (a code not found, unreadable).
    std::function<void(const QString &text)> onScanMessage;
    // After every change of the current price row (order entry's bookkeeping).
    std::function<void()> onPriceScrolled;
    // An error inside an event of the grid (the application handler's job).
    std::function<void(const QString &text)> onError;

    // ---- operations of the page
    const QString &QuickSearchText() const { return m_searchText; }
    void ApplyQuickSearch();
    void ClearQuickSearch();
    void SetShowOnlyOrder(bool on);
    // After every move of the current price row: the pop-up goes and order
    // entry starts a new number at once; the detail line and the pop-up
    // note of the new row follow once the cursor rests (kGoodInfoDelayMs
    // after the last move), so a held arrow key or a typed search does not
    // fill them for every row passed on the way.
    void PriceTableAfterScroll();
    static constexpr int kGoodInfoDelayMs = 60;
    // Shows the detail line and the pop-up note of the current row now.
    void ShowGoodInfo();
    void lblGoodInfoClick();

    // ---- the scanner in the grid
    // A bar code typed by a scanner: moves to the goods whose invoices carry
    // it, or says it is not in the price list. True when found.
    bool PriceScan(const QString &code);
    // Tests time the keys with a clock of their own.
    void setClock(const Clock &clock)
    {
        m_burst = KeyBurst(clock);
        m_clock = &clock;
    }
    // Types the digits held back while they might have been a scan.
    void flushHeldDigits();

    // ---- event handlers (also called by tests)
    // Returns true when the key was taken.
    bool dbgrdPriceKeyPress(const QString &text, Qt::KeyboardModifiers modifiers);
    void dbgrdPriceKeyUp(int key);
    void dbgrdPriceMouseDown() { ClearQuickSearch(); }
    void dbgrdPriceMouseUp() { ClearQuickSearch(); }
    void tmClearTimer() { ClearQuickSearch(); }
    void edPriceFilterChange();
    void btnPriceFilterClearClick();
    void chkOnlyRegudClick();
    void chkShowOnlyOrderClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void guarded(const std::function<void()> &action);
    void setSearchText(const QString &text);
    void setOldColumnsVisible(bool visible);
    void styleWidgets();

    PriceGrid &m_logic;
    PriceGridWidgets m_w;
    QPointer<DatasetModel> m_model;
    QPointer<Dataset> m_price;
    QString m_searchText;
    QTimer *m_goodInfoTimer = nullptr;
    KeyBurst m_burst;
    const Clock *m_clock = &Clock::system();
    QTimer *m_burstTimer = nullptr;
    void typeDigits(const QString &digits);
};

} // namespace pc
