#include "documents/RetailPricing.h"

#include "core/Dialogs.h"
#include "core/MessageLog.h"
#include "db/DataModule.h"
#include "documents/MaxMarkup.h"
#include "platform/AppError.h"

#include <QLocale>
#include <cmath>

namespace pc {

namespace {
double round2(double x) { return std::nearbyint(x * 100) / 100; }
// The 0.01 steps of the vital rule, done in whole kopecks so no drift creeps in.
double kopecks(double x) { return std::nearbyint(x * 100); }
} // namespace

double MarkupPercent(double priceApt, double price, double pricePr)
{
    return std::nearbyint((priceApt - price) / pricePr * 100 * 100) / 100;
}

double MaxMarkupFor(double pricePr, double vatRate, const std::vector<double> &table)
{
    if (table.size() < 3)
        return -1;
    const double b = std::nearbyint(pricePr / (100 + vatRate) * 100 * 100) / 100;
    if (b <= 50)
        return table[0];
    if (b <= 500)
        return table[1];
    return table[2];
}

double RoundingStep(int roundMethod)
{
    switch (roundMethod) {
    case 1: return 0.05;
    case 2: return 0.1;
    case 3: return 0.5;
    case 4: return 1;
    default: return 0;
    }
}

double RoundPrice(double price, int roundMethod)
{
    switch (roundMethod) {
    case 1: return std::nearbyint(price * 20) / 20;
    case 2: return std::nearbyint(price * 10) / 10;
    case 3: return std::nearbyint(price * 2) / 2;
    case 4: return std::nearbyint(price);
    default: return price;
    }
}

double PharmacyPriceFor(const LinePricing &line, double percent, bool vitalByMaximum, const std::vector<double> &table,
                        int roundMethod, bool *skipped)
{
    double apt = std::nearbyint(line.price * (100 + percent)) / 100;
    double max = 0;
    if (skipped)
        *skipped = false;
    if (vitalByMaximum && line.vital) {
        max = MaxMarkupFor(line.pricePr, line.vatRate, table);
        if (max >= 0 && line.pricePr == 0) {
            // No producer price: the limit cannot be computed; the line keeps
            // the general markup and the caller reports it.
            if (skipped)
                *skipped = true;
            max = 0;
        } else if (max >= 0) {
            double k = kopecks(line.price + std::nearbyint(line.pricePr * max) / 100);
            if (MarkupPercent(k / 100, line.price, line.pricePr) >= max) {
                while (MarkupPercent(k / 100, line.price, line.pricePr) >= max)
                    k -= 1;
            } else {
                while (MarkupPercent(k / 100, line.price, line.pricePr) < max)
                    k += 1;
                k -= 1;
            }
            apt = k / 100;
        }
    }
    apt = RoundPrice(apt, roundMethod);
    if (max > 0 && line.pricePr != 0 && MarkupPercent(apt, line.price, line.pricePr) >= max)
        apt -= RoundingStep(roundMethod);
    return round2(apt);
}

RetailPricing::RetailPricing(TDM &dm, Dialogs &dialogs, MessageLog &log) : m_dm(dm), m_dialogs(dialogs), m_log(log) {}

bool RetailPricing::SetPharmacyPrices(const QString &percentText, bool vitalByMaximum, const std::vector<QString> &markupKeys,
                                      const std::vector<QString> &markupCells, int roundMethod)
{
    Dataset *lines = m_dm.NakladLinesSet();
    if (!lines || !lines->Active())
        return false;
    m_dialogs.showWait(QStringLiteral("Подождите несколько секунд..."), 1);
    struct Done {
        RetailPricing &self;
        Dialogs &dialogs;
        ~Done()
        {
            self.attachedAfterPost = true;
            dialogs.hideWait();
        }
    } done{*this, m_dialogs};

    bool ok = false;
    const double percent = QLocale().toDouble(percentText.trimmed(), &ok);
    if (!ok)
        throw AppError(QStringLiteral("\"%1\" не является числом").arg(percentText.trimmed()));
    std::vector<double> table;
    if (vitalByMaximum) {
        QList<MarkupRow> rows;
        for (size_t i = 0; i < markupKeys.size() && i < markupCells.size(); ++i)
            rows.append({markupKeys[i], markupCells[i]});
        if (!ValidateMaxMarkupTable(rows, table, m_dialogs)) {
            m_dialogs.showNotice(QStringLiteral("Не заданы или заданы не верно проценты макс. наценки по ЖВНЛС (см. настройки)"), true);
            return false;
        }
    }
    attachedAfterPost = false;
    for (lines->First(); !lines->Eof(); lines->Next()) {
        LinePricing line;
        line.price = lines->FieldByName(QStringLiteral("PRICE")).AsFloat();
        line.pricePr = lines->FieldByName(QStringLiteral("PRICE_PR")).AsFloat();
        line.vatRate = lines->FieldByName(QStringLiteral("STNDS")).AsInteger();
        line.vital = lines->FieldByName(QStringLiteral("GV")).AsInteger() == 1;
        bool skipped = false;
        const double apt = PharmacyPriceFor(line, percent, vitalByMaximum, table, roundMethod, &skipped);
        if (skipped)
            m_log.logMessage(QStringLiteral("%1: нет цены производителя, предельная наценка не рассчитана, применена общая наценка")
                                 .arg(lines->FieldByName(QStringLiteral("TOVAR")).AsString().trimmed()),
                             Warning, true);
        lines->Edit();
        lines->FieldByName(QStringLiteral("PRICE_APT")).SetAsFloat(apt);
        lines->Post();
    }
    m_dm.Commit();
    attachedAfterPost = true;
    CalcNakladSums(true);
    return true;
}

namespace {
// Supplier and pharmacy totals of one invoice.
std::pair<double, double> invoiceTotals(TDM &dm, qint64 id)
{
    std::unique_ptr<Dataset> q(dm.CreateDataSet(QStringLiteral("select SUM(") + dm.SumFieldName()
                                                    + QStringLiteral(") as SUMM, SUM(PRICE_APT*") + dm.QntFieldName()
                                                    + QStringLiteral(") as SUMMAPT from nakladL where id = :ID"),
                                                {}, {}));
    q->SetParam(QStringLiteral("ID"), id);
    q->Open();
    return {q->Fields(0).AsFloat(), q->Fields(1).AsFloat()};
}
} // namespace

void RetailPricing::CalcNakladSums(bool remember)
{
    Dataset *naklad = m_dm.NakladSet();
    if (!naklad || !naklad->Active() || naklad->IsEmpty())
        return;
    const auto [summ, summApt] = invoiceTotals(m_dm, naklad->FieldByName(QStringLiteral("ID")).AsLargeInt());
    if (remember) {
        NakladSum = summ;
        NakladSumApt = summApt;
    }
    // The totals shown in the invoice list are calculated columns: read anew.
    naklad->InvalidateCalcFields();
}

void RetailPricing::tblNakladCalcFields(Dataset &naklad)
{
    if (Field *read = naklad.FindField(m_dm.ReadFieldName()))
        if (Field *out = naklad.FindField(QStringLiteral("READ_OUT")))
            out->SetAsString(read->AsInteger() == 1 ? QStringLiteral("V") : QString());
    Field *summ = naklad.FindField(QStringLiteral("SUMM"));
    Field *summApt = naklad.FindField(QStringLiteral("SUMMAPT"));
    if (!summ && !summApt)
        return;
    const auto [sum, sumApt] = invoiceTotals(m_dm, naklad.FieldByName(QStringLiteral("ID")).AsLargeInt());
    if (summ)
        summ->SetAsFloat(sum);
    if (summApt)
        summApt->SetAsFloat(sumApt);
}

void RetailPricing::tblNakladLinesCalcFields(Dataset &lines)
{
    if (Field *gv = lines.FindField(QStringLiteral("GV_DISP")))
        gv->SetAsString(lines.FieldByName(QStringLiteral("GV")).AsInteger() == 1 ? QStringLiteral("*") : QString());
    const double apt = lines.FieldByName(QStringLiteral("PRICE_APT")).AsFloat();
    if (apt <= 0)
        return;
    if (Field *sum = lines.FindField(QStringLiteral("SUMMAPT")))
        sum->SetAsFloat(lines.FieldByName(m_dm.QntFieldName()).AsFloat() * apt);
    const double pricePr = lines.FieldByName(QStringLiteral("PRICE_PR")).AsFloat();
    if (pricePr != 0)
        if (Field *markup = lines.FindField(QStringLiteral("NACENKA_APT"))) {
            QLocale loc;
            loc.setNumberOptions(QLocale::OmitGroupSeparator);
            markup->SetAsString(loc.toString(MarkupPercent(apt, lines.FieldByName(QStringLiteral("PRICE")).AsFloat(), pricePr), 'g', 15)
                                + QStringLiteral("%"));
        }
}

void RetailPricing::RefreshArchivePrices()
{
    Dataset *lines = m_dm.NakladLinesSet();
    Dataset *archive = m_dm.ArchivePricesQuery();
    if (!lines || !archive || !lines->Active() || lines->IsEmpty())
        return;
    QString code = lines->FieldByName(QStringLiteral("IDTOVAR")).AsString().trimmed();
    if (const qsizetype underscore = code.indexOf(QLatin1Char('_')); underscore >= 0)
        code = code.left(underscore);
    archive->Close();
    // The goods code comes from the supplier's file: bound, never pasted.
    archive->SetSelectSQL(QStringLiteral("SELECT NL.Price_apt as PRICE, N.NAKLDATE as NDATE, N.NUMBR as NUMBR FROM NakladL  as NL , "
                                         "Naklad as N  WHERE (N.ID = NL.ID) AND (NL.IDTOVAR LIKE :CODE) AND (N.ID <> :ID) AND "
                                         "(NL.Price_apt <> 0) ORDER BY N.NAKLDATE"));
    archive->SetParam(QStringLiteral("CODE"), QString(code + QStringLiteral("%")));
    archive->SetParam(QStringLiteral("ID"), lines->FieldByName(QStringLiteral("ID")).AsLargeInt());
    archive->Open();
    archive->Last();
}

void RetailPricing::MarkViewed()
{
    Dataset *naklad = m_dm.NakladSet();
    if (!naklad || !naklad->Active() || naklad->IsEmpty() || naklad->State() != DatasetState::Browse)
        return;
    naklad->Edit();
    naklad->FieldByName(m_dm.ReadFieldName()).SetAsInteger(1);
    naklad->Post();
    m_dm.Commit();
}

bool RetailPricing::MarkupOverLimit(Dataset &lines, const std::vector<double> &table) const
{
    if (lines.FieldByName(QStringLiteral("GV")).AsInteger() != 1)
        return false;
    const double max = MaxMarkupFor(lines.FieldByName(QStringLiteral("PRICE_PR")).AsFloat(),
                                    lines.FieldByName(QStringLiteral("STNDS")).AsInteger(), table);
    Field *markup = lines.FindField(QStringLiteral("NACENKA_APT"));
    if (!markup)
        return false;
    QString text = markup->AsString();
    text.chop(1);
    bool ok = false;
    const double value = QLocale().toDouble(text, &ok);
    return ok && value > max;
}

bool RetailPricing::ProducerPriceOverRegistry(Dataset &lines, bool producerPriceWithVat) const
{
    if (lines.FieldByName(QStringLiteral("GV")).AsInteger() != 1)
        return false;
    double pp = lines.FieldByName(QStringLiteral("PRICE_PR")).AsFloat();
    if (producerPriceWithVat)
        pp = std::nearbyint(pp / (lines.FieldByName(QStringLiteral("STNDS")).AsInteger() + 100) * 100 * 100) / 100;
    return pp > std::nearbyint(lines.FieldByName(QStringLiteral("PRREESTR")).AsFloat() * 100) / 100;
}

} // namespace pc
