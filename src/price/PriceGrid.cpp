#include "price/PriceGrid.h"

#include "core/PriceMask.h"
#include "db/DataModule.h"
#include "db/Dataset.h"
#include "db/DatasetNameIndex.h"
#include "db/firebird/Statement.h"
#include "platform/CodePage.h"

#include <cmath>
#include <utility>

namespace pc {

namespace {

const QString kPriceSelect = QStringLiteral("SELECT * FROM PRICE  ORDER BY TOVAR");

// Suspends the bound grid's updates for a scope.
struct ControlsDisabled {
    explicit ControlsDisabled(Dataset &ds) : ds(ds) { ds.DisableControls(); }
    ~ControlsDisabled() { ds.EnableControls(); }
    Dataset &ds;
};

qint64 hundredths(double x) { return qint64(std::nearbyint(x * 100.0)); }

// A COLOR value in the 0x00BBGGRR layout; a selected row is darker by 150
// in each component (never below 0).
QColor rowColour(int value, bool selected)
{
    int r = value & 0xFF, g = (value >> 8) & 0xFF, b = (value >> 16) & 0xFF;
    if (selected) {
        auto darker = [](int c) { return c < 150 ? 0 : c - 150; };
        r = darker(r);
        g = darker(g);
        b = darker(b);
    }
    return QColor(r, g, b);
}

} // namespace

bool IsQuickSearchLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'А' && u <= u'я');
}

void PriceGrid::install(TDM &dm)
{
    m_dm = &dm;
    dm.CreatePriceFields = [this](Dataset &price) { CreatePriceFields(price); };
    if (Dataset *p = dm.PriceSet()) {
        // The embedded database always carries the COLOR and GV columns, also
        // when the price was opened before any price list was loaded.
        if (!dm.IsDBF())
            HasColor = HasGV = true;
        p->OnCalcFields = [this](Dataset &price) { tblPriceCalcFields(price); };
    }
}

Dataset *PriceGrid::price() const { return m_dm ? m_dm->PriceSet() : nullptr; }

void PriceGrid::CreatePriceFields(Dataset &price)
{
    if (!m_dm)
        return;
    price.OnCalcFields = [this](Dataset &p) { tblPriceCalcFields(p); };
    if (!m_dm->IsDBF()) {
        HasColor = HasGV = true;
        // Fields already there are left as they are.
        for (const FieldDefEntry &e : m_dm->TableDef(TdPrice).Entries())
            m_dm->AddFieldFromDef(price, e);
        return;
    }
    // A DBF price table: its optional columns decide what is shown.
    if (!m_dm->PriceHasData())
        return;
    Dataset *q = m_dm->OpenQuery(QStringLiteral("SELECT * FROM Price"));
    if (!q)
        return;
    auto has = [q](const char *name) { return q->FindField(QLatin1String(name)) != nullptr; };
    const bool color = has("COLOR"), hasDet = has("HASDET"), nds = has("NDS"), popup = has("HASPOPUP"), gv = has("GV");
    q->Close();
    if (color) {
        HasColor = true;
        m_dm->AddFieldTyped(price, QStringLiteral("COLOR"), 0, false, FieldKind::Float);
    }
    if (hasDet)
        m_dm->AddNumberField(price, QStringLiteral("HASDET"));
    if (nds)
        m_dm->AddNumberField(price, QStringLiteral("NDS"));
    if (popup)
        m_dm->AddNumberField(price, QStringLiteral("HASPOPUP"));
    if (gv) {
        HasGV = true;
        m_dm->AddNumberField(price, QStringLiteral("GV"));
        m_dm->AddFieldTyped(price, QStringLiteral("GV_DISP"), 3, true, FieldKind::String);
    }
}

void PriceGrid::tblPriceCalcFields(Dataset &price)
{
    if (!price.Active())
        return;
    const QString code = clientCode ? clientCode() : QString();
    const double priceDec = MaskPriceValue(price.FieldByName(QStringLiteral("PRICE")).AsFloat(), code);
    price.FieldByName(QStringLiteral("PRICEDEC")).SetAsFloat(priceDec);

    const bool embedded = !m_dm || !m_dm->IsDBF();
    if (embedded) {
        const double pricer = price.FieldByName(QStringLiteral("PRICER")).AsFloat();
        price.FieldByName(QStringLiteral("PRICER_DISP")).SetAsFloat(double(hundredths(pricer)) / 100.0);
    }

    const int quantity = price.FieldByName(QStringLiteral("ZAKAZ")).AsInteger();
    if (quantity > 0) {
        const QString sumName = m_dm ? m_dm->SumFieldName() : QStringLiteral("SUMMA");
        price.FieldByName(sumName).SetAsFloat(quantity * priceDec);
    }

    const double markup = markupPercent ? markupPercent() : 0.0;
    price.FieldByName(QStringLiteral("PriceApteka")).SetAsFloat(std::nearbyint((markup + 100.0) * priceDec) / 100.0);

    if (HasGV) {
        Field *gv = price.FindField(QStringLiteral("GV"));
        if (gv && gv->AsInteger() == 1)
            price.FieldByName(QStringLiteral("GV_DISP")).SetAsString(QStringLiteral(" * "));
    }

    if (ShowOnlyOrder && embedded)
        fillOldValues(price, code);
    else
        m_oldRows.loaded = false; // the mode may start on a new previous list
}

// The changes mode compares each ordered row with the previous price list:
// PRICEOLD keeps that list's ordered rows; a row is the same batch when its
// goods code and expiry date both match. Those rows are read once (again
// when the price list's rows change), not for every row the grid shows.
namespace {
QString batchKey(QString id, const QVariant &goden)
{
    while (id.endsWith(QLatin1Char(' ')))
        id.chop(1); // the database compares codes without trailing blanks
    return id + QLatin1Char('\x1f') + (goden.isValid() ? QString::number(goden.toDate().toJulianDay()) : QString());
}
} // namespace

void PriceGrid::fillOldValues(Dataset &price, const QString &code)
{
    Field *oldPrice = price.FindField(QStringLiteral("PriceOld"));
    Field *oldQuantity = price.FindField(QStringLiteral("QntOld"));
    if (!m_dm || !oldPrice || !oldQuantity)
        return;
    try {
        if (!m_oldRows.loaded || m_oldRows.version != price.Version()) {
            m_oldRows = {};
            std::unique_ptr<fb::Statement> q = m_dm->CreateQuery(
                QStringLiteral("SELECT IDTOVAR, GODEN, PRICE, ZAKAZ FROM PRICEOLD WHERE ZAKAZ > 0"));
            if (!q)
                return;
            q->execute();
            while (q->fetch()) {
                const QString key = batchKey(q->asText(0), q->isNull(1) ? QVariant() : QVariant(q->asDate(1)));
                if (!m_oldRows.rows.contains(key)) // one row of a batch counts
                    m_oldRows.rows.insert(key, {q->isNull(2) ? QVariant() : QVariant(q->asDouble(2)),
                                                q->isNull(3) ? QVariant() : QVariant(q->asInt(3))});
            }
            q->closeCursor();
            m_oldRows.loaded = true;
            m_oldRows.version = price.Version();
        }
        const Field &goden = price.FieldByName(QStringLiteral("GODEN"));
        const auto it = m_oldRows.rows.constFind(
            batchKey(price.FieldByName(QStringLiteral("IDTOVAR")).AsString(), goden.IsNull() ? QVariant() : QVariant(goden.AsDate())));
        if (it != m_oldRows.rows.constEnd()) {
            if (it->price.isValid())
                oldPrice->SetAsFloat(MaskPriceValue(it->price.toDouble(), code));
            if (it->quantity.isValid())
                oldQuantity->SetAsInteger(it->quantity.toInt());
        }
    } catch (const std::exception &) {
        // Without the old values the columns stay empty; the grid goes on.
    }
}

PriceCellColours PriceGrid::dbgrdPriceDrawColumnCell(Dataset &price, const QString &columnField, bool selected) const
{
    PriceCellColours c;
    const QString column = columnField.toUpper();
    auto intOf = [&price](const char *name) {
        Field *f = price.FindField(QLatin1String(name));
        return f ? f->AsInteger() : 0;
    };

    if (HasGV && column == QLatin1String("GV_DISP") && intOf("GV") == 1)
        c.background = selected ? QColor(221, 187, 119) : QColor(255, 238, 170);

    if (ShowOnlyOrder) {
        if (column == QLatin1String("PRICEOLD") || column == QLatin1String("PRICEDEC")) {
            Field *own = price.FindField(column);
            const qint64 current = hundredths(price.FieldByName(QStringLiteral("PRICEDEC")).AsFloat());
            const qint64 shown = own ? hundredths(own->AsFloat()) : 0;
            c.foreground = current != shown ? QColor(255, 0, 0) : QColor(0, 0, 0);
        } else if (column == QLatin1String("QNTOLD") || column == QLatin1String("ZAKAZ")) {
            c.foreground = intOf("ZAKAZ") != intOf("QNTOLD") ? QColor(255, 0, 0) : QColor(0, 0, 0);
        }
    }

    if (HasColor) {
        if (const int colour = intOf("COLOR"); colour != 0)
            c.background = rowColour(colour, selected);
    }
    if (column == QLatin1String("ZAKAZ") && quantityPending && quantityPending(price)) {
        c.background = selected ? QColor(204, 153, 51) : QColor(255, 214, 130);
        c.foreground = QColor(96, 96, 96);
    }
    return c;
}

bool PriceGrid::QuickSearch(const QString &text)
{
    Dataset *p = price();
    if (!p || !p->Active())
        return false;
    ControlsDisabled suspended(*p);
    if (text.isEmpty()) {
        p->First();
        return true;
    }
    const NameIndex &index = m_dm->NameIndex();
    // The index covers the rows read when the price list was opened.
    if (m_dm->IsDBF() || index.size() != p->PhysicalRowCount())
        return p->Locate(QStringLiteral("TOVAR"), text, {true, true});
    std::string key;
    if (!NameIndex::Key(text, key))
        return false; // no name can hold such a character

    if (p->Filtered()) {
        // A narrowed list is searched by its own rows, from the top.
        const int row = index.FindPrefix(key, 0, [p](int r) { return p->VisibleRow(r) >= 0; });
        if (row < 0)
            return false;
        p->SetRecNo(p->VisibleRow(row) + 1);
        return true;
    }
    const int n = int(index.size());
    if (n == 0)
        return false;
    // Where names with this first letter are likely to begin (in alphabet
    // order), less a margin of 100 rows; Latin letters start at the top.
    // The first name at or after that row is taken, else the first of all.
    const int code = static_cast<unsigned char>(key[0]);
    int start = int(std::nearbyint(double(code - 192) / 33.0 * n - 100.0));
    if (start >= n || start < 0)
        start = 0;
    const int row = index.FindPrefix(key, start);
    if (row < 0)
        return false;
    p->SetRecNo(row + 1);
    return true;
}

namespace {

bool sameSelect(const QString &a, const QString &b) { return a.simplified().compare(b.simplified(), Qt::CaseInsensitive) == 0; }

// A text field's stored bytes of a row; the field is looked up once.
struct StoredField {
    Dataset *ds;
    QString name;
    Field *field = nullptr;
    Field *get()
    {
        if (!field)
            field = ds->FindField(name);
        return field;
    }
};

} // namespace

// The known conditions, as predicates on the stored rows: what the database
// would answer to "WHERE condition", except that the name filter's text is
// taken as typed ("%" and "_" are plain characters). Nothing for any other
// condition.
std::function<bool(int)> PriceGrid::memoryFilter(const QString &condition) const
{
    Dataset *p = price();
    if (condition == kNameFilterCondition) {
        std::string key;
        if (!NameIndex::Key(p->Param(kNameFilterParam).toString(), key))
            return [](int) { return false; };
        return [tovar = StoredField{p, QStringLiteral("TOVAR")}, key](int row) mutable {
            Field *f = tovar.get();
            return f && NameIndex::Contains(tovar.ds->StoredText(*f, row), key);
        };
    }
    if (condition == kOnlyRegudCondition) {
        // "<> ''" compares blank-padded: a text of blanks equals '', a null
        // compares to nothing.
        return [regud = StoredField{p, QStringLiteral("REGUDEXIST")}](int row) mutable {
            Field *f = regud.get();
            if (!f || regud.ds->StoredIsNull(*f, row))
                return false;
            const std::string_view text = regud.ds->StoredText(*f, row);
            return text.find_first_not_of(' ') != std::string_view::npos;
        };
    }
    if (condition == kOnlyOrderCondition) {
        return [zakaz = StoredField{p, QStringLiteral("ZAKAZ")}](int row) mutable {
            Field *f = zakaz.get();
            return f && !zakaz.ds->StoredIsNull(*f, row) && zakaz.ds->StoredInteger(*f, row) > 0;
        };
    }
    return nullptr;
}

void PriceGrid::SetPriceFilter(bool enabled, const QString &condition, const QVariantMap &params)
{
    Dataset *p = price();
    if (!p)
        return;
    for (auto it = params.begin(); it != params.end(); ++it)
        p->SetParam(it.key(), it.value());
    if (p->State() == DatasetState::Edit || p->State() == DatasetState::Insert)
        p->Post(); // a quantity being typed is kept, not dropped by the refiltering
    std::function<bool(int)> inMemory = enabled ? memoryFilter(condition) : nullptr;
    // Removing the filter keeps the goods row the pharmacist stands on.
    Dataset::Bookmark keep = enabled ? Dataset::kNoBookmark : p->GetBookmark();
    if (m_dm->IsFirebird()) {
        // The rows in memory are the whole list, narrowed there; any other
        // condition is left to the database.
        const QString wanted = enabled && !inMemory
            ? QStringLiteral("SELECT * FROM PRICE WHERE ") + condition + QStringLiteral("  ORDER BY TOVAR")
            : kPriceSelect;
        const bool reread = !p->Active() || !sameSelect(p->SelectSQL(), wanted) || (enabled && !inMemory);
        auto previousFilter = std::exchange(p->RowFilter, std::move(inMemory));
        if (reread) {
            keep = Dataset::kNoBookmark; // other rows are read
            const QString previous = p->SelectSQL();
            p->Close();
            p->SetSelectSQL(wanted);
            try {
                p->Open();
            } catch (...) {
                // The grid keeps the rows it showed; the error is the caller's.
                p->Close();
                p->SetSelectSQL(previous);
                p->RowFilter = std::move(previousFilter);
                try {
                    p->Open();
                } catch (...) {
                }
                throw;
            }
        }
    }
    if (enabled)
        p->SetFilter(condition);
    if (p->Filtered() != enabled)
        p->SetFiltered(enabled, keep);
    else if (p->Active())
        p->Refilter(keep); // setting a filter shows the first row, as after reopening
}

void PriceGrid::edPriceFilterChange(const QString &text)
{
    if (text.isEmpty())
        SetPriceFilter(false, QString());
    else
        SetPriceFilter(true, kNameFilterCondition, {{kNameFilterParam, text}});
}

// The rows of PRICE_DET by goods code, made again whenever its rows change:
// the detail line follows every move of the cursor, and a search through
// the details at each move would cost as much as the move itself.
int PriceGrid::detailRow(Dataset &det, const QString &id, bool anyCase)
{
    if (m_details.dataset != &det || m_details.version != det.Version()) {
        m_details.exact.clear();
        m_details.anyCase.clear();
        m_details.dataset = &det;
        m_details.version = det.Version();
        Field &code = det.FieldByName(QStringLiteral("IDTOVAR"));
        m_details.exact.reserve(det.RecordCount());
        m_details.anyCase.reserve(det.RecordCount());
        for (int r = 0; r < det.RecordCount(); ++r) {
            Dataset::ActiveRow at(det, r);
            const QString text = code.AsString();
            // The first row of a code counts, as a search from the top finds it.
            if (!m_details.exact.contains(text))
                m_details.exact.insert(text, r);
            if (const QString folded = text.toCaseFolded(); !m_details.anyCase.contains(folded))
                m_details.anyCase.insert(folded, r);
        }
    }
    const auto &rows = anyCase ? m_details.anyCase : m_details.exact;
    return rows.value(anyCase ? id.toCaseFolded() : id, -1);
}

GoodInfo PriceGrid::PriceTableAfterScroll()
{
    GoodInfo info;
    Dataset *p = price();
    if (!p || !p->Active())
        return info;
    Dataset *det = m_dm->PriceDetTable();
    const bool details = det && det->Active();
    auto flag = [p](const char *name) {
        Field *f = p->FindField(QLatin1String(name));
        return f && f->AsInteger() == 1;
    };
    info.changeCaption = true;
    try {
        const QString id = p->FieldByName(QStringLiteral("IDTOVAR")).AsString().trimmed();
        if (flag("HASPOPUP") && details) {
            if (const int row = detailRow(*det, id, true); row >= 0) {
                Dataset::ActiveRow at(*det, row);
                info.popup = true;
                info.popupCaption = det->FieldByName(QStringLiteral("POPUP")).AsString();
                info.popupDetail = det->FieldByName(QStringLiteral("INFO")).AsString();
                info.popupIsRef = det->FieldByName(QStringLiteral("ISREF")).AsInteger() == 1;
                info.caption = info.popupCaption;
                return info;
            }
        }
        if (flag("HASDET") && details) {
            if (const int row = detailRow(*det, id, false); row >= 0) {
                Dataset::ActiveRow at(*det, row);
                info.caption = det->FieldByName(QStringLiteral("INFO")).AsString();
            }
        }
    } catch (const std::exception &) {
        // A detail that cannot be read is not shown; the grid goes on.
        info = GoodInfo();
        info.changeCaption = true;
    }
    return info;
}

std::optional<GoodInfoWindow> PriceGrid::lblGoodInfoClick(int formWidth, int formHeight)
{
    Dataset *p = price();
    Dataset *det = m_dm ? m_dm->PriceDetTable() : nullptr;
    if (!p || !p->Active() || p->IsEmpty() || !det || !det->Active())
        return std::nullopt;
    const QString id = p->FieldByName(QStringLiteral("IDTOVAR")).AsString().trimmed();
    if (!det->Locate(QStringLiteral("IDTOVAR"), id, {true, false}))
        return std::nullopt;
    GoodInfoWindow w;
    w.text = det->FieldByName(QStringLiteral("INFO")).AsString();
    w.isRef = det->FieldByName(QStringLiteral("ISREF")).AsInteger() == 1;
    w.width = std::min(std::max(formWidth / 2, 300), formWidth);
    w.height = 150;
    w.top = formHeight - 185;
    w.left = 5;
    w.modal = false;
    return w;
}

} // namespace pc
