#include "orders/OrderArchive.h"

#include "core/AppContext.h"
#include "core/Dialogs.h"
#include "core/MessageLog.h"
#include "core/PriceMask.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/firebird/Statement.h"
#include "orders/SaveOrder.h"
#include "platform/AppError.h"
#include "price/OrderEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace pc {

namespace {

// The hourglass and the price grid's suspended updates of a long command,
// ended however the command ends.
class BusyScope {
public:
    BusyScope(const std::function<void(bool)> &setBusy, Dataset *price) : m_setBusy(setBusy), m_price(price)
    {
        if (m_setBusy)
            m_setBusy(true);
        if (m_price)
            m_price->DisableControls();
    }
    ~BusyScope()
    {
        if (m_price)
            m_price->EnableControls();
        if (m_setBusy)
            m_setBusy(false);
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    const std::function<void(bool)> &m_setBusy;
    Dataset *m_price;
};

} // namespace

void OrdersLinesADOTableCalcFields(Dataset &lines, const QString &quantityField, const QString &clientCode)
{
    Field *shownPrice = lines.FindField(QStringLiteral("PRICEDEC"));
    Field *shownSum = lines.FindField(QStringLiteral("SUMMADEC"));
    const double price = MaskPriceValue(lines.FieldByName(QStringLiteral("PRICE")).AsFloat(), clientCode);
    if (shownPrice)
        shownPrice->SetAsFloat(price);
    if (shownSum) {
        Field *quantity = lines.FindField(quantityField);
        shownSum->SetAsFloat(quantity ? double(quantity->AsLargeInt()) * price : 0.0);
    }
}

OrderArchive::OrderArchive(TDM &dm, Dialogs &dialogs, MessageLog &log, const AppContext &context,
                           const Settings &settings, OrderEntry &entry, OrderSaver &saver)
    : m_dm(dm), m_dialogs(dialogs), m_log(log), m_context(context), m_settings(settings), m_entry(entry), m_saver(saver)
{
}

QString OrderArchive::ImportWorkFile() const
{
    return m_context.path(QStringLiteral("Data/order_i.dbf"));
}

bool OrderArchive::selectedOrder(int &number) const
{
    Dataset *orders = m_dm.OrdersSet();
    if (!orders || !orders->Active() || orders->IsEmpty())
        return false;
    number = orders->FieldByName(QStringLiteral("ID")).AsInteger();
    return true;
}

void OrderArchive::reopenPrice()
{
    if (Dataset *price = m_dm.PriceSet()) {
        price->Close();
        m_dm.OpenPrice(true);
    }
}

void OrderArchive::reloadArchive()
{
    m_saver.ReloadArchive();
}

void OrderArchive::totals()
{
    if (ShowOrderTotals)
        ShowOrderTotals();
}

// The command's changes are undone, together with anything else uncommitted
// (every command commits what was pending before it starts).
void OrderArchive::failed(const std::exception &e, const QString &step)
{
    try {
        m_dm.Rollback();
    } catch (const std::exception &rollbackError) {
        m_log.logMessage(errorText(rollbackError) + step, Error, true);
    }
    m_log.logMessage(errorText(e) + step, Error, true);
}

OrderArchive::Clearing OrderArchive::clearCurrentOrder(const QString &question)
{
    std::unique_ptr<Dataset> ordered(m_dm.OpenQuery(QStringLiteral("select count(*) from price where zakaz > 0 "), true));
    if (!ordered || ordered->IsEmpty() || ordered->Fields(0).AsLargeInt() <= 0)
        return Clearing::Kept;
    ordered.reset();
    // No Cancel is offered; a question closed by its frame gives the command up
    // rather than guessing between clearing and mixing.
    const int answer = m_dialogs.askQuestion(question, true, false);
    if (answer == mrYes) {
        m_dm.ExecSQL(QStringLiteral("update  price set zakaz = 0"), false);
        return Clearing::Cleared;
    }
    return answer == mrNo ? Clearing::Kept : Clearing::GivenUp;
}

// ---- restoring ---------------------------------------------------------------

int OrderArchive::RestoreOrder(int number)
{
    int count = 0;
    try {
        struct Line {
            QString code;
            qint64 quantity;
        };
        std::vector<Line> lines;
        {
            std::unique_ptr<fb::Statement> select = m_dm.CreateQuery(QStringLiteral("Select ol.IDTOVAR, ol.")
                                                                     + m_dm.QntFieldName()
                                                                     + QStringLiteral(" from ordersl ol where ol.IDNakl = :IDNAKL"));
            if (!select)
                return 0;
            select->setValue(QStringLiteral("IDNAKL"), number);
            select->execute();
            while (select->fetch()) {
                if (!select->isNull(0))
                    lines.push_back({select->asText(0), select->asInt64(1)});
            }
        }
        // The first price row of the goods (in the grid's order) takes the
        // line's quantity on top of its own; other batches of the same goods
        // keep theirs. The whole price list is searched, whatever the grid shows.
        std::unique_ptr<fb::Statement> update = m_dm.CreateQuery(
            QStringLiteral("update price set zakaz = coalesce(zakaz, 0) + :QNT where rdb$db_key = "
                           "(select first 1 p.rdb$db_key from price p where p.idtovar = :IDTOVAR "
                           "order by p.tovar, p.goden)"));
        for (const Line &line : lines) {
            update->setValue(QStringLiteral("QNT"), line.quantity);
            update->setValue(QStringLiteral("IDTOVAR"), line.code);
            update->execute();
            if (update->rowsAffected() > 0)
                ++count;
        }
        update.reset();
        m_dm.Commit();
    } catch (...) {
        m_dm.Rollback();
        throw;
    }
    m_dialogs.showNotice(QStringLiteral("Заявка восстановлена (") + QString::number(count) + QStringLiteral(" поз.)!"),
                         true);
    reopenPrice();
    return count;
}

bool OrderArchive::RestoreSelectedOrder()
{
    int number = 0;
    if (!selectedOrder(number))
        return false;
    if (m_dialogs.askQuestion(QStringLiteral("Вы хотите восстановить выбранную заявку в качестве текущей?"), false,
                              false)
        != mrYes)
        return false;
    try {
        m_dm.Commit();
        if (clearCurrentOrder(QStringLiteral("Текущая заявка не пустая. Очистить ее перед восстановлением заявки?"))
            == Clearing::GivenUp)
            return false;
        RestoreOrder(number); // commits the clearing with the restored lines
    } catch (const std::exception &e) {
        failed(e, QStringLiteral(" (восстановление заявки)"));
        reopenPrice();
        totals();
        return false;
    }
    totals();
    return true;
}

// ---- deleting ----------------------------------------------------------------

bool OrderArchive::DeleteSelectedOrder()
{
    int number = 0;
    if (!selectedOrder(number))
        return false;
    if (m_dialogs.askQuestion(QStringLiteral("Удалить заявку № ") + QString::number(number) + QLatin1Char('?'), true,
                              false)
        != mrYes)
        return false;
    bool deleted = false;
    try {
        m_dm.Commit();
        std::unique_ptr<fb::Statement> st = m_dm.CreateQuery(QStringLiteral("DELETE FROM OrdersL WHERE IDNAKL = :ID"));
        if (st) {
            st->setValue(QStringLiteral("ID"), number);
            st->execute();
            st->prepare(QStringLiteral("DELETE FROM Orders WHERE id = :ID"));
            st->setValue(QStringLiteral("ID"), number);
            st->execute();
            st.reset();
            m_dm.Commit();
            deleted = true;
        }
    } catch (const std::exception &e) {
        failed(e, QStringLiteral(" (удаление заявки)"));
    }
    reloadArchive();
    return deleted;
}

bool OrderArchive::DeleteAllOrders()
{
    if (m_dialogs.askQuestion(QStringLiteral("Удалить все заявки из архива?"), true, false) != mrYes)
        return false;
    if (m_dialogs.askQuestion(QStringLiteral("Вы уверены (все заявки будут удалены)?"), true, false) != mrYes)
        return false;
    bool deleted = false;
    try {
        m_dm.Commit();
        if (m_dm.ExecSQL(QStringLiteral("DELETE FROM OrdersL"), false)) {
            m_dm.ExecSQL(QStringLiteral("DELETE FROM Orders"), false);
            m_dm.Commit();
            deleted = true;
        }
    } catch (const std::exception &e) {
        failed(e, QStringLiteral(" (удаление заявок)"));
    }
    reloadArchive();
    return deleted;
}

// ---- the pharmacy's order file ------------------------------------------------

bool OrderArchive::ImportOrderFile()
{
    const QString folder = m_settings.FolderOrderImport.trimmed();
    if (folder.isEmpty()) {
        m_dialogs.showNotice(QStringLiteral("Не задана папка импорта в настройках"), true);
        return false;
    }
    const QString name = m_settings.FileNameOrder.trimmed();
    if (name.isEmpty()) {
        m_dialogs.showNotice(QStringLiteral("Не задано имя файла импорта в настройках"), true);
        return false;
    }
    const QString path = folder + QLatin1Char('/') + name;
    if (!QFileInfo(path).isFile()) {
        m_dialogs.showNotice(QStringLiteral("Нет файла для импорта"), true);
        return false;
    }
    if (m_dialogs.askQuestion(QStringLiteral("Импортировать заказ?"), true, false) != mrYes)
        return false;

    int records = 0;
    {
        BusyScope busy(SetBusy, m_dm.PriceSet());
        try {
            m_dm.Commit();
            if (clearCurrentOrder(QStringLiteral("Текущая заявка не пустая. Очистить ее перед импортом заявки?"))
                == Clearing::GivenUp)
                return false;
            // The file is read from a copy: the pharmacy's program may be
            // writing its next order meanwhile.
            const QString work = ImportWorkFile();
            QDir().mkpath(QFileInfo(work).absolutePath());
            if (QFile::exists(work) && !QFile::remove(work))
                throw AppError(QStringLiteral("Не удалось заменить файл ") + QDir::toNativeSeparators(work));
            if (!QFile::copy(path, work))
                throw AppError(QStringLiteral("Не удалось скопировать файл ") + QDir::toNativeSeparators(path)
                               + QStringLiteral(" в ") + QDir::toNativeSeparators(work));
            records = m_entry.ImportOrderQuantities(work, m_settings.ColumnCode.trimmed(),
                                                    m_settings.ColumnQnt.trimmed());
            m_dm.Commit();
        } catch (const std::exception &e) {
            failed(e, QStringLiteral(" (импорт заказа)"));
            reopenPrice();
            totals();
            return false;
        }
    }
    // Taken in: the file is not offered a second time.
    if (m_settings.DeleteOrderImport && !QFile::remove(path))
        m_log.logMessage(QStringLiteral("Не удалось удалить файл ") + QDir::toNativeSeparators(path), Warning, true);
    m_dialogs.showNotice(QStringLiteral("Заказ в количестве ") + QString::number(records)
                             + QStringLiteral(" позиций импортирован"),
                         true);
    totals();
    return true;
}

// ---- the older DBF-file database ------------------------------------------------

bool OrderArchive::ImportDbfData(const QString &commentText)
{
    if (m_dialogs.askQuestion(QStringLiteral("Импортировать накладные и архив заявок из базы данных DBF?"), true,
                              false)
        != mrYes)
        return false;
    if (!m_entry.OrderIsEmpty()
        && m_dialogs.askQuestion(QStringLiteral("Сохранить текущую заявку в архив без отправки ?"), true, false)
               == mrYes) {
        try {
            // Cancel in the save's questions means back to editing the order.
            if (!m_saver.SaveCurrentOrder(commentText))
                return false;
        } catch (const std::exception &e) {
            m_log.logMessage(errorText(e) + QStringLiteral(" (сохранение заявки)"), Error, true);
            return false;
        }
    }
    // The import rolls itself back on failure: nothing of before may go with it.
    m_dm.Commit();
    const bool imported = m_dm.ImportOldDbfData();
    reloadArchive();
    totals();
    return imported;
}

} // namespace pc
