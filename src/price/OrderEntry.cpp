#include "price/OrderEntry.h"

#include "core/Dialogs.h"
#include "core/MessageLog.h"
#include "core/PriceMask.h"
#include "db/DataModule.h"
#include "db/DbfReader.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"
#include "platform/AppError.h"
#include "platform/IniFile.h"
#include "price/OrderFileImport.h"

#include <algorithm>
#include <limits>

namespace pc {

OrderEntry::OrderEntry(TDM &dm, Dialogs &dialogs, MessageLog &log, std::function<QString()> clientCode)
    : m_dm(dm), m_dialogs(dialogs), m_log(log), m_clientCode(std::move(clientCode))
{
}

OrderEntry::~OrderEntry() = default;

void OrderEntry::UseOwnWriter()
{
    if (m_writer || !m_dm.IsFirebird())
        return;
    QuantityWriter::Target target;
    target.name = m_dm.DatabaseFile();
    target.user = m_dm.Location.User.trimmed();
    target.password = m_dm.Location.Password;
    m_writer = std::make_unique<QuantityWriter>(target);
    QObject::connect(m_writer.get(), &QuantityWriter::written, m_writer.get(),
                     [this](const QuantityWrite &w) { onWritten(w); });
    QObject::connect(m_writer.get(), &QuantityWriter::refused, m_writer.get(),
                     [this](const QuantityWrite &w, int stored, const QString &why) { onRefused(w, stored, why); });
    QObject::connect(m_writer.get(), &QuantityWriter::delayed, m_writer.get(),
                     [this](const QuantityWrite &w, const QString &why) { onDelayed(w, why); });
    QObject::connect(m_writer.get(), &QuantityWriter::stalled, m_writer.get(), [this] {
        m_log.logMessage(QStringLiteral("Сервер базы данных не отвечает… Введённые количества показаны в прайсе и будут "
                                        "записаны, как только он ответит."),
                         Warning, true);
    });
    QObject::connect(m_writer.get(), &QuantityWriter::answering, m_writer.get(), [this] {
        m_log.logMessage(QStringLiteral("Сервер базы данных снова отвечает"), Info, true);
    });
}

QString OrderEntry::keyOf(const QVariant &goods, const QVariant &expiry)
{
    return goods.toString().trimmed() + QLatin1Char('|') + expiry.toString();
}

bool OrderEntry::IsPending(Dataset &price) const
{
    if (m_pending.isEmpty() || !price.Active() || price.IsEmpty())
        return false;
    return m_pending.contains(keyOf(price.FieldByName(QStringLiteral("IDTOVAR")).Value(),
                                    price.FieldByName(QStringLiteral("GODEN")).Value()));
}

// The grid shows the new quantity at once; the writer stores it over the
// one the grid showed before.
void OrderEntry::submit(Dataset &price, int quantity)
{
    Field &zakaz = price.FieldByName(QStringLiteral("ZAKAZ"));
    QuantityWrite w;
    w.goods = price.FieldByName(QStringLiteral("IDTOVAR")).Value();
    w.expiry = price.FieldByName(QStringLiteral("GODEN")).Value();
    w.name = price.FieldByName(QStringLiteral("TOVAR")).AsString().trimmed();
    w.shown = zakaz.AsInteger();
    w.wanted = quantity;
    price.SetStoredValue(zakaz, price.PhysicalRow(price.CurrentRow()), quantity);
    ++m_pending[keyOf(w.goods, w.expiry)];
    m_writer->submit(w);
}

int OrderEntry::physicalRowOf(Dataset &price, const QuantityWrite &write) const
{
    if (!price.Active())
        return -1;
    const Field *goods = price.FindField(QStringLiteral("IDTOVAR"));
    const Field *expiry = price.FindField(QStringLiteral("GODEN"));
    if (!goods || !expiry)
        return -1;
    const QString key = keyOf(write.goods, write.expiry);
    for (int row = 0; row < price.PhysicalRowCount(); ++row)
        if (keyOf(price.StoredValue(*goods, row), price.StoredValue(*expiry, row)) == key)
            return row;
    return -1;
}

void OrderEntry::onWritten(const QuantityWrite &write)
{
    const QString key = keyOf(write.goods, write.expiry);
    if (--m_pending[key] <= 0)
        m_pending.remove(key);
    // Said for the row's last write: the quantity it now holds.
    if (!m_pending.contains(key) && m_delayed.remove(key))
        m_log.logMessage(QStringLiteral("Количество «%1» (код %2, годен до %3) записано: %4")
                             .arg(write.name, write.goods.toString().trimmed(),
                                  write.expiry.toDate().toString(QStringLiteral("dd.MM.yyyy")))
                             .arg(write.wanted),
                         Info, true);
    if (m_pending.isEmpty())
        m_delayedWhy.clear();
    totalsChanged();
}

void OrderEntry::onRefused(const QuantityWrite &write, int stored, const QString &why)
{
    const QString key = keyOf(write.goods, write.expiry);
    if (--m_pending[key] <= 0)
        m_pending.remove(key);
    if (!m_pending.contains(key))
        m_delayed.remove(key);
    if (m_pending.isEmpty())
        m_delayedWhy.clear();
    LastTypedRow = -1; // the next digit starts a new number over what is shown now
    Dataset *price = m_dm.PriceSet();
    const int row = price ? physicalRowOf(*price, write) : -1;
    QString text;
    if (stored == -1) {
        text = QStringLiteral("Количество не сохранено: строки «%1» больше нет в прайсе базы данных "
                              "(прайс обновлён на другом рабочем месте?).")
                   .arg(write.name);
    } else if (stored >= 0) {
        // Later writes of the same row follow this one and are told the same.
        if (row >= 0 && !m_pending.contains(key))
            price->SetStoredValue(price->FieldByName(QStringLiteral("ZAKAZ")), row, stored);
        text = QStringLiteral("Количество изменено на другом рабочем месте: теперь %1").arg(stored);
    } else {
        text = QStringLiteral("Количество «%1» не сохранено.").arg(write.name);
    }
    m_log.logMessage(text + QStringLiteral(" (") + why + QStringLiteral(")"), Warning, false);
    m_dialogs.showNotice(text, false);
    totalsChanged();
}

void OrderEntry::onDelayed(const QuantityWrite &write, const QString &why)
{
    m_delayed.insert(keyOf(write.goods, write.expiry));
    if (why == m_delayedWhy)
        return;
    m_delayedWhy = why;
    m_log.logMessage(QStringLiteral("Количество «%1» ждёт записи в базу данных: %2. Оно будет записано, "
                                    "как только это станет возможно.")
                         .arg(write.name, why),
                     Warning, true);
}

void OrderEntry::totalsChanged()
{
    if (onTotalsChanged)
        onTotalsChanged();
}

void OrderEntry::setQuantity(Dataset &price, int quantity)
{
    price.Edit();
    price.FieldByName(QStringLiteral("ZAKAZ")).SetAsInteger(quantity);
    price.Post();
}

bool OrderEntry::storeQuantity(Dataset &price, int quantity)
{
    try {
        m_dm.ReconnectIfLost();
        setQuantity(price, quantity);
        return true;
    } catch (const std::exception &e) {
        if (price.Active() && price.State() != DatasetState::Browse)
            price.Cancel();
        try {
            m_dm.Rollback();
        } catch (const std::exception &) {
        }
        LastTypedRow = -1; // the next digit starts a new number over what is shown now
        showStoredQuantity(price, e);
        return false;
    }
}

// After a refused write: the row is read again, shows the quantity the
// database holds, and the pharmacist learns why the typed one was not kept.
void OrderEntry::showStoredQuantity(Dataset &price, const std::exception &why)
{
    const auto *db = dynamic_cast<const fb::DbError *>(&why);
    const QString name = price.FieldByName(QStringLiteral("TOVAR")).AsString().trimmed();
    QString text;
    try {
        std::unique_ptr<fb::Statement> q = m_dm.CreateQuery(
            QStringLiteral("SELECT COALESCE(ZAKAZ, 0) FROM PRICE WHERE IDTOVAR = :ID AND GODEN IS NOT DISTINCT FROM :GODEN"
                           " ORDER BY ZAKAZ DESC ROWS 1"));
        q->setValue(QStringLiteral("ID"), price.FieldByName(QStringLiteral("IDTOVAR")).Value());
        q->setValue(QStringLiteral("GODEN"), price.FieldByName(QStringLiteral("GODEN")).Value());
        q->execute();
        if (!q->fetch()) {
            text = QStringLiteral("Количество не сохранено: строки «%1» больше нет в прайсе базы данных "
                                  "(прайс обновлён на другом рабочем месте?).")
                       .arg(name);
        } else {
            const int stored = int(q->asInt64(0));
            q->closeCursor();
            Field &zakaz = price.FieldByName(QStringLiteral("ZAKAZ"));
            const int shown = zakaz.AsInteger();
            price.SetStoredValue(zakaz, price.PhysicalRow(price.CurrentRow()), stored);
            if (db && db->isConflict())
                text = QStringLiteral("Количество не сохранено: прайс или заказ сейчас меняет другое рабочее место "
                                      "(обновление прайса или сохранение заявки). Введите количество ещё раз чуть позже.");
            else if (stored != shown)
                text = QStringLiteral("Количество изменено на другом рабочем месте: теперь %1").arg(stored);
            else
                text = QStringLiteral("Количество «%1» не сохранено.").arg(name);
        }
    } catch (const std::exception &e) {
        text = m_dm.IsServer() ? QStringLiteral("Количество не сохранено: нет связи с сервером базы данных. "
                                                "Программа подключится к нему снова сама, как только он ответит.")
                               : QStringLiteral("Количество не сохранено: база данных не отвечает.");
        m_log.logDetail(errorText(e));
    }
    m_log.logMessage(text + QStringLiteral(" (") + errorText(why) + QStringLiteral(")"), Warning, false);
    m_dialogs.showNotice(text, false);
    totalsChanged();
}

void OrderEntry::TypeDigit(QChar digit)
{
    Dataset *price = m_dm.PriceSet();
    if (!price || !price->Active() || price->IsEmpty() || !digit.isDigit())
        return;
    QString text;
    if (price->RecNo() == LastTypedRow) {
        text = price->FieldByName(QStringLiteral("ZAKAZ")).AsString() + digit;
    } else {
        text = QString(digit);
        LastTypedRow = price->RecNo();
    }
    try {
        const int stock = price->FieldByName(QStringLiteral("QNT")).AsInteger();
        bool ok = false;
        const qint64 wanted = text.toLongLong(&ok);
        if (!ok || wanted > std::numeric_limits<int>::max())
            return; // a number too long for a quantity: the row keeps its quantity
        if (stock < wanted) {
            m_dialogs.showNotice(QStringLiteral("Кол-во ") + text + QStringLiteral(" превышает остаток заказываем ")
                                     + QString::number(stock),
                                 true);
            text = QString::number(stock);
        }
    } catch (const std::exception &) {
        return;
    }
    storeAndCommit(*price, text.toInt());
}

// The quantity is made permanent at once: a crash must never bring back an
// item the pharmacist removed from the order.
void OrderEntry::DeleteQuantity()
{
    Dataset *price = m_dm.PriceSet();
    if (!price || !price->Active() || price->IsEmpty())
        return;
    storeAndCommit(*price, 0);
}

void OrderEntry::storeAndCommit(Dataset &price, int quantity)
{
    if (m_writer) {
        submit(price, quantity);
        totalsChanged();
        return;
    }
    if (!storeQuantity(price, quantity))
        return;
    try {
        m_dm.Commit();
    } catch (const std::exception &e) {
        showStoredQuantity(price, e);
        return;
    }
    totalsChanged();
}

void OrderEntry::CorrectBeforeLeaving(Dataset &price)
{
    if (!price.Active() || price.IsEmpty())
        return;
    Field &zakaz = price.FieldByName(QStringLiteral("ZAKAZ"));
    int q = zakaz.AsInteger();
    // Nothing ordered, nothing to correct: most rows a cursor passes.
    if (q <= 0)
        return;
    const int m = price.FieldByName(QStringLiteral("MINZAKAZ")).AsInteger();
    const int p = price.FieldByName(QStringLiteral("MINPROD")).AsInteger();
    const int s = price.FieldByName(QStringLiteral("QNT")).AsInteger();
    bool changed = false;
    bool submitted = false;
    // With the writer the correction is shown at once and stored apart.
    auto store = [&](int value) {
        if (!m_writer)
            return storeQuantity(price, value);
        submit(price, value);
        submitted = true;
        return false;
    };

    if (p > 0 && q > 0 && q < p) {
        try {
            const int old = q;
            q = std::min(p, s);
            m_dialogs.showNotice(QStringLiteral("По причине min заказа ") + QString::number(p) + QStringLiteral(" вместо ")
                                     + QString::number(old) + QStringLiteral(" заказываем ") + QString::number(q),
                                 true);
            if (store(q))
                changed = true;
            q = zakaz.AsInteger();
        } catch (const std::exception &e) {
            m_dm.LogError(errorText(e));
            if (price.State() != DatasetState::Browse)
                price.Cancel();
            q = zakaz.AsInteger();
        }
    }
    if (m > 0 && q > 0 && q % m != 0) {
        const int corrected = std::min(s, (q / m + 1) * m);
        const int current = zakaz.AsInteger();
        if (current != corrected) {
            m_dialogs.showNotice(QStringLiteral("По причине кратности ") + QString::number(m) + QStringLiteral(" вместо ")
                                     + QString::number(current) + QStringLiteral(" заказываем ")
                                     + QString::number(corrected),
                                 true);
            if (store(corrected))
                changed = true;
        }
    }
    if (submitted)
        totalsChanged();
    if (changed) {
        try {
            m_dm.Commit();
        } catch (const std::exception &e) {
            showStoredQuantity(price, e);
            return;
        }
        totalsChanged();
    }
}

OrderTotals OrderEntry::CountTotals()
{
    OrderTotals totals;
    // With the writer the window counts what its grid holds (the whole list
    // is in memory, quantities not yet stored included) and never waits on
    // the database for it.
    Dataset *price = m_dm.PriceSet();
    if (m_writer && price && price->Active()
        && price->SelectSQL().simplified().compare(QStringLiteral("SELECT * FROM PRICE ORDER BY TOVAR"), Qt::CaseInsensitive) == 0) {
        const Field &zakaz = price->FieldByName(QStringLiteral("ZAKAZ"));
        const Field &cost = price->FieldByName(QStringLiteral("PRICE"));
        const QString code = m_clientCode ? m_clientCode() : QString();
        long double sum = 0;
        for (int row = 0; row < price->PhysicalRowCount(); ++row) {
            const qint64 q = price->StoredInteger(zakaz, row);
            if (q <= 0)
                continue;
            ++totals.count;
            sum += (long double)q * MaskPriceValue(price->StoredValue(cost, row).toDouble(), code);
        }
        totals.sum = double(sum);
        return totals;
    }
    Dataset *q = m_dm.OpenQuery(QStringLiteral("select zakaz, price  from price where zakaz > 0  "));
    if (!q)
        return totals;
    long double sum = 0;
    const QString code = m_clientCode ? m_clientCode() : QString();
    for (q->First(); !q->Eof(); q->Next()) {
        ++totals.count;
        sum += (long double)q->Fields(0).AsInteger() * MaskPriceValue(q->Fields(1).AsFloat(), code);
    }
    q->Close();
    totals.sum = double(sum);
    return totals;
}

QString OrderEntry::TotalsText(const OrderTotals &totals)
{
    return QStringLiteral("Заказ: ") + QString::number(totals.count) + QStringLiteral(" поз. На сумму ")
         + IniFile::floatToText(totals.sum);
}

bool OrderEntry::OrderIsEmpty()
{
    if (!m_dm.IsFirebird() || !m_dm.Connected() || !m_dm.PriceHasData())
        return true;
    // A yes/no question: the first ordered row answers it.
    Dataset *q = m_dm.OpenQuery(QStringLiteral("SELECT FIRST 1 1 FROM PRICE WHERE ZAKAZ <> 0"));
    const bool empty = !q || q->IsEmpty();
    if (q)
        q->Close();
    return empty;
}

bool OrderEntry::ClearOrder()
{
    if (m_dialogs.askQuestion(QStringLiteral("Очистить текущий заказ?"), false, false) != mrYes)
        return false;
    // Committed at once like every other change of the order: a later
    // failure (a price load rolled back) must not bring the cleared order back.
    m_dm.ExecSQL(QStringLiteral("update price set zakaz = 0"), true);
    m_dm.RefreshPrice();
    totalsChanged();
    return true;
}

int OrderEntry::ImportOrderQuantities(const QString &fileName, const QString &codeField, const QString &qntField)
{
    const std::vector<OrderFileLine> lines = ReadOrderFile(fileName, codeField, qntField);
    const int records = int(lines.size());
    // The values come from the pharmacy's own file: they are bound, never
    // pasted into the statement.
    std::unique_ptr<fb::Statement> update =
        m_dm.CreateQuery(QStringLiteral("update  price set zakaz = :QNT where Trim(idtovar) = :CODE"));
    for (const OrderFileLine &line : lines) {
        update->setValue(QStringLiteral("QNT"), line.quantity);
        update->setValue(QStringLiteral("CODE"), line.code);
        update->execute();
    }
    if (Dataset *price = m_dm.PriceSet()) {
        price->Close();
        m_dm.OpenPrice(true);
    }
    totalsChanged();
    return records;
}

} // namespace pc
