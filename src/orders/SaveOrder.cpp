#include "orders/SaveOrder.h"

#include "core/Dialogs.h"
#include "core/MessageLog.h"
#include "core/PriceMask.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

namespace pc {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kBackToEditing = QStringLiteral("Отмена - вернуться к редактированию заявки");

// Ends the wait window however the save ends.
struct WaitShown {
    Dialogs &dialogs;
    ~WaitShown() { dialogs.hideWait(); }
};

} // namespace

OrderSaver::OrderSaver(TDM &dm, Dialogs &dialogs, MessageLog &log, const Settings &settings)
    : m_dm(dm), m_dialogs(dialogs), m_log(log), m_settings(settings)
{
}

QString OrderSaver::OrderComment(const Settings &settings, const QString &commentText)
{
    QString comment;
    const int index = settings.AddressIndex;
    if (index > 0 && index < settings.DeliveryAddresses.size())
        comment = QStringLiteral("от ") + settings.DeliveryAddresses[index].address;
    if (!commentText.trimmed().isEmpty())
        comment += QStringLiteral(" (") + commentText + QLatin1Char(')');
    return comment;
}

// The next order number: one above both the orders' generator and every
// number in use by the order headers or their lines (an archive taken in
// from older data may lie above the generator). The lines are read from the
// highest header up through their IDNAKL index, so a save does not walk the
// whole archive. Reading takes nothing: the save holds the archive for
// itself (see SaveCurrentOrder) and moves the generator on only when it
// stores the order, so a cancelled save uses no number and two
// workstations never get the same one.
int OrderSaver::NextOrderNumber()
{
    std::unique_ptr<Dataset> headers(m_dm.OpenQuery(QStringLiteral("select max(ID) from orders"), true));
    if (!headers)
        return 1;
    const qint64 top = headers->IsEmpty() ? 0 : headers->Fields(0).AsLargeInt(); // null reads as 0
    std::unique_ptr<fb::Statement> lines(
        m_dm.PrepareQuery(QStringLiteral("select max(IDNakl) from ordersl where IDNakl >= :TOP"), true));
    lines->setValue(QStringLiteral("TOP"), top);
    lines->execute();
    const qint64 inUse = std::max(top, lines->fetch() && !lines->isNull(0) ? lines->asInt64(0) : 0);
    lines->closeCursor();
    return int(std::max(m_dm.KeyGeneratorValue(QStringLiteral("ORDERS")), inUse) + 1);
}

OrderSaver::Answer OrderSaver::confirmMinimum(const QString &name, int &quantity, int minProd, int stock)
{
    // Ordering the whole remaining stock needs no question.
    if (minProd <= 0 || quantity <= 0 || quantity >= minProd || quantity == stock)
        return Answer::Keep;
    const int proposed = std::min(stock, minProd);
    const int answer = m_dialogs.askQuestion(name + QLatin1Char('.') + kCrLf + QStringLiteral("По причине min заказа ")
                                                 + QString::number(minProd) + QStringLiteral(" заказываем ")
                                                 + QString::number(proposed)
                                                 + QStringLiteral("(Да) или  отказываемся (нет).") + kCrLf
                                                 + kBackToEditing,
                                             true, true);
    if (answer == mrYes)
        quantity = proposed;
    else if (answer == mrNo)
        quantity = 0;
    else
        return Answer::Cancel;
    return Answer::Changed;
}

OrderSaver::Answer OrderSaver::confirmMultiplicity(const QString &name, int &quantity, int multiple, int stock)
{
    if (multiple <= 0 || quantity % multiple == 0 || quantity == stock)
        return Answer::Keep;
    const qint64 up = (qint64(quantity) / multiple + 1) * multiple;
    const int proposed = int(std::min<qint64>(up, stock));
    const int down = std::max(0, proposed - multiple);
    const int answer = m_dialogs.askQuestion(name + QLatin1Char('.') + kCrLf + QStringLiteral("По причине кратности ")
                                                 + QString::number(multiple) + QStringLiteral(" заказываем ")
                                                 + QString::number(proposed) + QStringLiteral("(Да) или ")
                                                 + QString::number(down) + QStringLiteral(" (нет).") + kCrLf
                                                 + kBackToEditing,
                                             true, true);
    if (answer == mrYes)
        quantity = proposed;
    else if (answer == mrNo)
        quantity = down;
    else
        return Answer::Cancel;
    return Answer::Changed;
}

void OrderSaver::writeHeader(int number, const QString &comment, double total)
{
    const QDateTime now = Now();
    // The order time keeps hours and minutes: the column holds 5 characters.
    const QString orderTime = now.time().toString(QStringLiteral("HH:mm:ss")).left(5);
    // The comment box is not limited; the column is.
    const TTableDefs &orders = m_dm.TableDef(TdOrders);
    const int commentSize = orders.GetDef(orders.IndexOf(QStringLiteral("COMMENT"))).Size;
    std::unique_ptr<fb::Statement> insert = m_dm.CreateQuery(
        QStringLiteral("INSERT INTO orders (ID, PriceTime, DateT, Comment, Status, OrderTime, summa) "
                       "VALUES(:ID, '', :DateT, :Comment, 0, :OrderTime, :summa)"));
    insert->setValue(QStringLiteral("ID"), number);
    insert->setValue(QStringLiteral("DateT"), now.date());
    insert->setValue(QStringLiteral("Comment"), comment.left(commentSize));
    insert->setValue(QStringLiteral("OrderTime"), orderTime);
    insert->setValue(QStringLiteral("summa"), total);
    insert->execute();
}

// One ordered row of the price list, as the save reads it.
struct OrderedRow {
    int physicalRow = -1; // in the price dataset; -1 when read from the database
    QString idTovar, name, product;
    int quantity = 0, minZakaz = 0, minProd = 0, stock = 0;
    double price = 0;
};

namespace {

void readRow(Dataset &ds, OrderedRow &row)
{
    row.idTovar = ds.FieldByName(QStringLiteral("IDTOVAR")).AsString();
    row.name = ds.FieldByName(QStringLiteral("TOVAR")).AsString();
    row.product = ds.FieldByName(QStringLiteral("PRODUCT")).AsString();
    row.quantity = ds.FieldByName(QStringLiteral("ZAKAZ")).AsInteger();
    row.minZakaz = ds.FieldByName(QStringLiteral("MINZAKAZ")).AsInteger();
    row.minProd = ds.FieldByName(QStringLiteral("MINPROD")).AsInteger();
    row.stock = ds.FieldByName(QStringLiteral("QNT")).AsInteger();
    row.price = ds.FieldByName(QStringLiteral("PRICE")).AsFloat();
}

// (IDTOVAR, GODEN, ZAKAZ) of an ordered row, to compare the price list in
// memory with the database.
using OrderKey = std::tuple<QString, qint64, qint64>;

} // namespace

// The ordered rows as the price dataset holds them, in its order (that of
// the names), when it holds the whole list and its ordered rows are exactly
// those of the database (the quantities are posted as they are typed; a
// change made behind the dataset's back shows up here). Otherwise false.
bool OrderSaver::orderedRowsInMemory(std::vector<OrderedRow> &rows)
{
    rows.clear();
    Dataset *price = m_dm.PriceSet();
    if (!price || !price->Active()
        || price->SelectSQL().simplified().compare(QStringLiteral("SELECT * FROM PRICE ORDER BY TOVAR"), Qt::CaseInsensitive) != 0)
        return false;
    Field *id = price->FindField(QStringLiteral("IDTOVAR"));
    Field *goden = price->FindField(QStringLiteral("GODEN"));
    Field *zakaz = price->FindField(QStringLiteral("ZAKAZ"));
    if (!id || !goden || !zakaz || zakaz->Calculated())
        return false;

    std::vector<OrderKey> inMemory;
    for (int r = 0; r < price->PhysicalRowCount(); ++r) {
        if (price->StoredIsNull(*zakaz, r) || price->StoredInteger(*zakaz, r) <= 0)
            continue;
        OrderedRow row;
        row.physicalRow = r;
        Dataset::ActiveRow at(*price, Dataset::ActiveRow::Physical{r});
        readRow(*price, row);
        rows.push_back(row);
        inMemory.emplace_back(row.idTovar, goden->IsNull() ? -1 : goden->AsDate().toJulianDay(), row.quantity);
    }
    std::vector<OrderKey> stored;
    std::unique_ptr<Dataset> q(m_dm.OpenQuery(QStringLiteral("SELECT IDTOVAR, GODEN, ZAKAZ FROM PRICE WHERE ZAKAZ > 0"), true));
    if (!q)
        return false;
    for (q->First(); !q->Eof(); q->Next())
        stored.emplace_back(q->Fields(0).AsString(), q->Fields(1).IsNull() ? -1 : q->Fields(1).AsDate().toJulianDay(),
                            q->Fields(2).AsLargeInt());
    std::sort(inMemory.begin(), inMemory.end());
    std::sort(stored.begin(), stored.end());
    if (inMemory != stored) {
        rows.clear();
        return false;
    }
    return true;
}

bool OrderSaver::SaveCurrentOrder(const QString &commentText)
{
    m_log.logDetail(QStringLiteral("Сохранение текущей заявки"));
    m_dialogs.showWait(QStringLiteral("Сохранение текущей заявки..."), 1);
    WaitShown wait{m_dialogs};

    // Whatever an earlier action left pending is made permanent first, so that
    // giving up this save undoes this save alone. The save then holds the
    // order (PRICE) and the archive for itself: another workstation saving
    // at the same moment waits, and then finds the rows taken, so the same
    // rows never go into two orders. Typing elsewhere waits or is refused
    // with a message meanwhile; reading goes on.
    m_dm.ReconnectIfLost();
    m_dm.BeginReserved({QStringLiteral("PRICE"), QStringLiteral("ORDERS"), QStringLiteral("ORDERSL")});
    bool stored = false;
    std::vector<OrderedRow> rows;
    bool fromMemory = false;
    try {
        int number = 0; // taken with the first stored line: an empty order uses no number
        fromMemory = orderedRowsInMemory(rows);
        if (!fromMemory) {
            std::unique_ptr<Dataset> q(
                m_dm.OpenQuery(QStringLiteral("select * from price where zakaz > 0  ORDER BY TOVAR"), true));
            if (!q)
                return true;
            for (q->First(); !q->Eof(); q->Next())
                readRow(*q, rows.emplace_back());
        }
        const QString comment = OrderComment(m_settings, commentText);
        const QString code = m_settings.ClientCode;
        std::unique_ptr<fb::Statement> insert(m_dm.PrepareQuery(
            QStringLiteral("INSERT INTO ordersl (IDNakl, idtovar, tovar, Product, ") + m_dm.QntFieldName()
                + QStringLiteral(", Price, summa, Change) VALUES(:IDNakl,:idtovar,:tovar,:Product,:Qnt,:Price,:summa,0)"),
            true));

        double total = 0;
        bool anyLine = false;
        for (const OrderedRow &row : rows) {
            int q = row.quantity;
            if (confirmMinimum(row.name, q, row.minProd, row.stock) == Answer::Cancel
                || confirmMultiplicity(row.name, q, row.minZakaz, row.stock) == Answer::Cancel) {
                m_dm.Rollback();
                return false; // PRICE keeps every quantity: the person is back in the order
            }
            if (q <= 0)
                continue; // declined: not stored
            const double masked = row.price; // as the supplier sent it
            if (number == 0)
                number = NextOrderNumber();
            m_dm.SetParamByIndex(insert.get(), 0, number);
            m_dm.SetParamByIndex(insert.get(), 1, row.idTovar);
            m_dm.SetParamByIndex(insert.get(), 2, row.name);
            m_dm.SetParamByIndex(insert.get(), 3, row.product);
            m_dm.SetParamByIndex(insert.get(), 4, q);
            m_dm.SetParamByIndex(insert.get(), 5, masked);
            m_dm.SetParamByIndex(insert.get(), 6, masked * q);
            m_dm.ExecQuery(insert.get(), false);
            anyLine = true;
            total += MaskPriceValue(masked, code) * q;
        }
        insert.reset();

        if (anyLine) {
            writeHeader(number, comment, total);
            if (fromMemory)
                clearQuantities(rows);
            else
                m_dm.ExecSQL(QStringLiteral("update price set zakaz = 0 where zakaz > 0 "), false);
            m_dm.AdvanceKeyGenerator(QStringLiteral("ORDERS"), number);
            m_dm.PostEvent(QStringLiteral("ORDERS_CHANGED"));
        }
        m_dm.Commit();
        stored = anyLine;
    } catch (...) {
        m_dm.Rollback();
        throw;
    }
    if (!stored)
        return true;
    // The grid keeps its row; the quantities read 0 now.
    Dataset *price = m_dm.PriceSet();
    if (fromMemory && price && price->Active()) {
        const Field &zakaz = price->FieldByName(QStringLiteral("ZAKAZ"));
        for (const OrderedRow &row : rows)
            price->SetStoredValue(zakaz, row.physicalRow, 0);
        price->Resync();
    } else {
        m_dm.RefreshPrice();
    }
    return true;
}

// ZAKAZ := 0 in the database for the ordered rows, found by the key the
// price dataset posts with. The quantity test must not use the ZAKAZ index:
// walking all ordered rows for each one would make the save quadratic.
void OrderSaver::clearQuantities(const std::vector<OrderedRow> &rows)
{
    Dataset &price = *m_dm.PriceSet();
    const Field &goden = price.FieldByName(QStringLiteral("GODEN"));
    std::unique_ptr<fb::Statement> clear(m_dm.PrepareQuery(
        QStringLiteral("UPDATE PRICE SET ZAKAZ = 0 WHERE IDTOVAR = :IDTOVAR AND GODEN IS NOT DISTINCT FROM :GODEN "
                       "AND COALESCE(ZAKAZ, 0) > 0"),
        true));
    for (const OrderedRow &row : rows) {
        m_dm.SetParamByIndex(clear.get(), 0, row.idTovar);
        m_dm.SetParamByIndex(clear.get(), 1, price.StoredValue(goden, row.physicalRow));
        m_dm.ExecQuery(clear.get(), false);
    }
}

void OrderSaver::ReloadArchive()
{
    Dataset *orders = m_dm.OrdersSet();
    Dataset *lines = m_dm.OrdersLinesTable();
    if (!orders)
        return;
    orders->Close();
    orders->Open();
    if (lines) {
        lines->Close();
        lines->Open();
    }
    orders->Last();
}

bool OrderSaver::SaveOrderToArchive(const QString &commentText)
{
    if (m_dialogs.askQuestion(QStringLiteral("Сохранить данную заявку в архив без отправки (чтобы отправить позднее)?"),
                              true, false)
        != mrYes)
        return false;
    const bool saved = SaveCurrentOrder(commentText);
    ReloadArchive();
    if (ShowOrderTotals)
        ShowOrderTotals();
    return saved;
}

} // namespace pc
