#pragma once
// What the price grid shows and how it behaves, apart from the widgets: the
// extra fields of the PRICE dataset and their calculation, the cell colours,
// the quick name search, the row filters and the detail line / pop-up note of
// the current goods item. The window binds its controls to this class
// (ui/PriceGridBinder) and does the showing.

#include <QColor>
#include <QHash>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

namespace pc {

class Dataset;
class TDM;

// Colours of one grid cell; an invalid colour leaves the grid's default.
struct PriceCellColours {
    QColor foreground;
    QColor background;
};

// What the detail line and the pop-up note show for the current goods item.
struct GoodInfo {
    bool changeCaption = false; // false: the detail line keeps its text
    QString caption;
    bool popup = false;
    QString popupCaption; // POPUP
    QString popupDetail;  // INFO
    bool popupIsRef = false;
};

// The full detail window for the current goods item.
struct GoodInfoWindow {
    QString text; // INFO: HTML, or a file name or address when isRef
    bool isRef = false;
    int left = 5;
    int top = 0;
    int width = 300;
    int height = 150;
    bool modal = false;
};

// The condition of the "Фильтр:" edit: names containing the text kept in the
// dataset's parameter PRICEFILTER, in any case, the text taken as typed.
inline const QString kNameFilterCondition = QStringLiteral("UPPER(Tovar) like :PRICEFILTER");
inline const QString kNameFilterParam = QStringLiteral("PRICEFILTER");
inline const QString kOnlyRegudCondition = QStringLiteral("REGUDEXIST <> ''");
inline const QString kOnlyOrderCondition = QStringLiteral("Zakaz > 0");

// A letter that starts or extends the quick search: Latin a-z, A-Z and the
// Cyrillic А-Я, а-я (without Ё, ё).
bool IsQuickSearchLetter(QChar c);

class PriceGrid {
public:
    PriceGrid() = default;
    PriceGrid(const PriceGrid &) = delete;
    PriceGrid &operator=(const PriceGrid &) = delete;

    // The values the calculation reads from the window, asked for each row:
    // the client code (price masking) and the pharmacy markup in percent.
    std::function<QString()> clientCode;
    std::function<double()> markupPercent;

    // Whether the row the dataset is reading holds a typed quantity not yet
    // stored: its quantity cell is marked until it is.
    std::function<bool(Dataset &)> quantityPending;

    // Row colouring by COLOR and the vital-drug marker (set by CreatePriceFields).
    bool HasColor = false;
    bool HasGV = false;
    // The changes mode after a price update: the old price and quantity
    // columns are shown and compared.
    bool ShowOnlyOrder = false;

    // Binds to a data module: its price-field hook, and the PRICE dataset's
    // calculated fields once the dataset exists (call again after
    // CreateFirebirdObjects; safe to repeat).
    void install(TDM &dm);
    TDM *dataModule() const { return m_dm; }

    // Prepares the persistent fields of the PRICE dataset before it opens.
    void CreatePriceFields(Dataset &price);
    // The calculated-fields event of the PRICE dataset.
    void tblPriceCalcFields(Dataset &price);
    // Colours of a cell of the given column (field name) for the row the
    // dataset is reading; selected: the row is the grid's current row.
    PriceCellColours dbgrdPriceDrawColumnCell(Dataset &price, const QString &columnField, bool selected) const;

    // Moves the PRICE dataset to the first name beginning with text (an
    // empty text: the first row). Returns whether a row was found.
    bool QuickSearch(const QString &text);

    // Applies (enabled) or removes the one row filter in force. The name,
    // registration and order conditions above narrow the rows in memory;
    // any other is run by the database. The condition may name parameters
    // (":NAME"); params gives their values, which the dataset keeps, so the
    // condition read back from the dataset's filter text can be applied
    // again as it is.
    void SetPriceFilter(bool enabled, const QString &condition, const QVariantMap &params = {});
    // The "Фильтр:" edit changed: empty text removes the filter, else the
    // names containing the text (any case) are shown.
    void edPriceFilterChange(const QString &text);

    // The detail line and pop-up note after the current price row changed.
    GoodInfo PriceTableAfterScroll();
    // The detail window for the current row; nothing when it has no detail.
    std::optional<GoodInfoWindow> lblGoodInfoClick(int formWidth, int formHeight);

private:
    Dataset *price() const;
    std::function<bool(int)> memoryFilter(const QString &condition) const;
    void fillOldValues(Dataset &price, const QString &code);
    int detailRow(Dataset &det, const QString &id, bool anyCase);
    TDM *m_dm = nullptr;
    struct OldRow {
        QVariant price, quantity;
    };
    struct OldRows {
        bool loaded = false;
        quint64 version = 0;
        QHash<QString, OldRow> rows; // by goods code and expiry date
    } m_oldRows;
    struct DetailRows {
        const Dataset *dataset = nullptr;
        quint64 version = 0;
        QHash<QString, int> exact, anyCase;
    } m_details;
};

} // namespace pc
