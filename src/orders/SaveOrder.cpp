#include "orders/SaveOrder.h"

#include "core/Dialogs.h"
#include "core/MessageLog.h"
#include "core/PriceMask.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/firebird/Statement.h"

#include <algorithm>
#include <memory>

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

int OrderSaver::NextOrderNumber()
{
    std::unique_ptr<Dataset> q(m_dm.OpenQuery(QStringLiteral("select max(IDNakl) from ordersl "), true));
    if (!q || q->IsEmpty())
        return 1;
    return q->Fields(0).AsInteger() + 1; // an empty table reads as null, that is 0
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

bool OrderSaver::SaveCurrentOrder(const QString &commentText)
{
    m_log.logDetail(QStringLiteral("Сохранение текущей заявки"));
    m_dialogs.showWait(QStringLiteral("Сохранение текущей заявки..."), 1);
    WaitShown wait{m_dialogs};

    // Whatever an earlier action left pending is made permanent first, so that
    // giving up this save undoes this save alone.
    m_dm.Commit();
    bool stored = false;
    try {
        const int number = NextOrderNumber();
        std::unique_ptr<Dataset> rows(
            m_dm.OpenQuery(QStringLiteral("select * from price where zakaz > 0  ORDER BY TOVAR"), true));
        if (!rows)
            return true;
        const QString comment = OrderComment(m_settings, commentText);
        const QString code = m_settings.ClientCode;
        std::unique_ptr<fb::Statement> insert(m_dm.PrepareQuery(
            QStringLiteral("INSERT INTO ordersl (IDNakl, idtovar, tovar, Product, ") + m_dm.QntFieldName()
                + QStringLiteral(", Price, summa, Change) VALUES(:IDNakl,:idtovar,:tovar,:Product,:Qnt,:Price,:summa,0)"),
            true));

        Field &idTovar = rows->FieldByName(QStringLiteral("IDTOVAR"));
        Field &tovar = rows->FieldByName(QStringLiteral("TOVAR"));
        Field &product = rows->FieldByName(QStringLiteral("PRODUCT"));
        Field &zakaz = rows->FieldByName(QStringLiteral("ZAKAZ"));
        Field &minZakaz = rows->FieldByName(QStringLiteral("MINZAKAZ"));
        Field &minProd = rows->FieldByName(QStringLiteral("MINPROD"));
        Field &stock = rows->FieldByName(QStringLiteral("QNT"));
        Field &price = rows->FieldByName(QStringLiteral("PRICE"));

        double total = 0;
        bool anyLine = false;
        for (rows->First(); !rows->Eof(); rows->Next()) {
            const QString name = tovar.AsString();
            int q = zakaz.AsInteger();
            if (confirmMinimum(name, q, minProd.AsInteger(), stock.AsInteger()) == Answer::Cancel
                || confirmMultiplicity(name, q, minZakaz.AsInteger(), stock.AsInteger()) == Answer::Cancel) {
                m_dm.Rollback();
                return false; // PRICE keeps every quantity: the person is back in the order
            }
            if (q <= 0)
                continue; // declined: not stored
            const double masked = price.AsFloat(); // as the supplier sent it
            m_dm.SetParamByIndex(insert.get(), 0, number);
            m_dm.SetParamByIndex(insert.get(), 1, idTovar.AsString());
            m_dm.SetParamByIndex(insert.get(), 2, name);
            m_dm.SetParamByIndex(insert.get(), 3, product.AsString());
            m_dm.SetParamByIndex(insert.get(), 4, q);
            m_dm.SetParamByIndex(insert.get(), 5, masked);
            m_dm.SetParamByIndex(insert.get(), 6, masked * q);
            m_dm.ExecQuery(insert.get(), false);
            anyLine = true;
            total += MaskPriceValue(masked, code) * q;
        }
        insert.reset();
        rows.reset();

        if (anyLine) {
            writeHeader(number, comment, total);
            m_dm.ExecSQL(QStringLiteral("update price set zakaz = 0 where zakaz > 0 "), false);
        }
        m_dm.Commit();
        stored = anyLine;
    } catch (...) {
        m_dm.Rollback();
        throw;
    }
    // The grid keeps its row; the quantities read 0 now.
    if (stored)
        m_dm.RefreshPrice();
    return true;
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
