#pragma once
// The pharmacy's retail prices on invoice lines: a general markup over the
// supplier price, a ceiling for vital drugs from the maximum markups over the
// producer price, and an optional rounding. Also the invoice's derived values
// (line sums at pharmacy prices, markup percents, totals), the price archive
// of earlier invoices and the highlighting of lines over the limits.

#include <QString>
#include <vector>

class Dialogs;
class MessageLog;

namespace pc {

class Dataset;
class TDM;

// (priceApt − price) / pricePr × 100, to two decimals (halves to even).
double MarkupPercent(double priceApt, double price, double pricePr);
// The maximum markup for a producer price with VAT rate v: by the bracket of
// the price without VAT (up to 50, up to 500, above).
double MaxMarkupFor(double pricePr, double vatRate, const std::vector<double> &table);
// The rounding step of a rounding method (0 none … 4 whole roubles).
double RoundingStep(int roundMethod);
double RoundPrice(double price, int roundMethod);

struct LinePricing {
    double price = 0;    // PRICE, supplier price with VAT
    double pricePr = 0;  // PRICE_PR
    int vatRate = 0;     // STNDS
    bool vital = false;  // GV = 1
};

// The pharmacy price of one line. skipped is set (and the general markup
// used) for a vital line whose producer price is 0 under the maximum rule.
double PharmacyPriceFor(const LinePricing &line, double percent, bool vitalByMaximum, const std::vector<double> &table,
                        int roundMethod, bool *skipped = nullptr);

class RetailPricing {
public:
    RetailPricing(TDM &dm, Dialogs &dialogs, MessageLog &log);

    // Totals of the current invoice from the last remembering CalcNakladSums.
    double NakladSum = 0;
    double NakladSumApt = 0;

    // Prices every line of the current invoice. percentText: the markup box;
    // markupCells: the settings grid's cells (for the vital rule); false when
    // nothing was priced.
    bool SetPharmacyPrices(const QString &percentText, bool vitalByMaximum, const std::vector<QString> &markupKeys,
                           const std::vector<QString> &markupCells, int roundMethod);
    // The totals of the current invoice; with remember kept in NakladSum(Apt).
    void CalcNakladSums(bool remember);
    // Invoice row: READ_OUT and the totals.
    void tblNakladCalcFields(Dataset &naklad);
    // Invoice line: GV_DISP, SUMMAPT, NACENKA_APT.
    void tblNakladLinesCalcFields(Dataset &lines);
    // The earlier pharmacy prices of the current line's goods.
    void RefreshArchivePrices();
    // A click in the invoice list: the invoice counts as viewed.
    void MarkViewed();

    // Highlighting of a line (vital lines only).
    bool MarkupOverLimit(Dataset &lines, const std::vector<double> &table) const;
    bool ProducerPriceOverRegistry(Dataset &lines, bool producerPriceWithVat) const;

    bool attachedAfterPost = true;

private:
    TDM &m_dm;
    Dialogs &m_dialogs;
    MessageLog &m_log;
};

} // namespace pc
