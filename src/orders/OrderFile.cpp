#include "orders/OrderFile.h"

#include "core/AppContext.h"
#include "core/Dialogs.h"
#include "core/LogText.h"
#include "core/MessageLog.h"
#include "core/PriceMask.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "platform/AppError.h"
#include "platform/CodePage.h"
#include "platform/IniFile.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cmath>
#include <memory>

namespace pc {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Ends the wait window however the writing ends.
struct WaitShown {
    Dialogs &dialogs;
    ~WaitShown() { dialogs.hideWait(); }
};

} // namespace

OrderFileWriter::OrderFileWriter(TDM &dm, Dialogs &dialogs, MessageLog &log, const AppContext &context,
                                 const Settings &settings)
    : m_dm(dm), m_dialogs(dialogs), m_log(log), m_context(context), m_settings(settings)
{
}

QString OrderFileWriter::FloatText(double value)
{
    return IniFile::floatToText(value);
}

QString OrderFileWriter::OrdersFolder() const { return m_context.path(QStringLiteral("Orders/")); }

QString OrderFileWriter::HistoryFileName() const { return m_context.path(QStringLiteral("history.log")); }

// The selected delivery address speaks for the pharmacy unless it is the
// first one (the pharmacy itself) or carries no code.
QString OrderFileWriter::orderCode() const
{
    const int index = m_settings.AddressIndex;
    if (index > 0 && index < m_settings.DeliveryAddresses.size()) {
        const QString code = m_settings.DeliveryAddresses[index].code.trimmed();
        if (!code.isEmpty())
            return code;
    }
    return m_settings.ClientCode;
}

QString OrderFileWriter::addressText() const
{
    const int index = m_settings.AddressIndex;
    return index > 0 && index < m_settings.DeliveryAddresses.size() ? m_settings.DeliveryAddresses[index].address
                                                                     : QString();
}

QString OrderFileWriter::StandardFileName(int orderNumber) const
{
    return orderCode() + QLatin1Char('_') + QString::number(orderNumber) + QStringLiteral(".ini");
}

bool OrderFileWriter::WriteOrderFile(int orderNumber, const QString &comment, OrderFileInfo &info, bool forSending)
{
    const QString code = orderCode();
    // An order file under this fixed name is never written; a leftover one goes.
    QFile::remove(m_context.path(QStringLiteral("zakaz.ini")));
    info.OrderId = orderNumber;
    info.FileName = StandardFileName(orderNumber);
    info.Sum = 0;
    info.Folder = OrdersFolder();
    QDir().mkpath(info.Folder);

    if (!forSending) {
        const QString chosen = m_dialogs.pickSaveFile(QStringLiteral("Сохранить заявку"), info.path(),
                                                      QStringLiteral("Файлы заявок (*.ini);;Все файлы (*)"));
        if (chosen.isEmpty())
            return true;
        const QFileInfo fi(chosen);
        info.Folder = fi.absolutePath() + QLatin1Char('/');
        info.FileName = fi.fileName();
    }

    const QString number = QString::number(orderNumber);
    const QString waitText = QStringLiteral("Сохранение заявки ") + number + QStringLiteral(" в файл...");
    m_dialogs.showWait(waitText, 1);
    WaitShown wait{m_dialogs};
    m_log.logDetail(waitText);

    std::unique_ptr<Dataset> counted(
        m_dm.OpenQuery(QStringLiteral("select Count(*) from ordersl where idnakl =") + number, true));
    const qint64 count = counted && !counted->IsEmpty() ? counted->Fields(0).AsLargeInt() : 0;
    counted.reset();

    const QString clientCode = m_settings.ClientCode;
    QString block;
    if (count > 0) {
        std::unique_ptr<Dataset> lines(
            m_dm.OpenQuery(QStringLiteral("select * from ordersl where idnakl =") + number, true));
        Field &idTovar = lines->FieldByName(QStringLiteral("IDTOVAR"));
        Field &tovar = lines->FieldByName(QStringLiteral("TOVAR"));
        Field &product = lines->FieldByName(QStringLiteral("PRODUCT"));
        Field &qnt = lines->FieldByName(m_dm.QntFieldName());
        Field &price = lines->FieldByName(QStringLiteral("PRICE"));
        Field &summa = lines->FieldByName(QStringLiteral("SUMMA"));
        int written = 0;
        for (lines->First(); !lines->Eof(); lines->Next()) {
            const int quantity = qnt.AsInteger();
            if (quantity <= 0)
                continue; // counted in RecordCount all the same
            const int k = written + 1;
            if (k % 10 == 0)
                m_dialogs.showWait(waitText + QLatin1Char('(')
                                       + QString::number(std::nearbyint(double(k) / double(count) * 100.0), 'f', 0)
                                       + QStringLiteral("%)"),
                                   1);
            block += kCrLf + kCrLf + QStringLiteral("[Record") + QString::number(written) + QLatin1Char(']')
                   + kCrLf + QStringLiteral("Id = ") + idTovar.AsString()
                   + kCrLf + QStringLiteral("Name = ") + tovar.AsString()
                   + kCrLf + QStringLiteral("Product = ") + product.AsString()
                   + kCrLf + QStringLiteral("Count = ") + QString::number(quantity)
                   + kCrLf + QStringLiteral("Price = ") + FloatText(price.AsFloat())
                   + kCrLf + QStringLiteral("Summa = ") + FloatText(summa.AsFloat())
                   + kCrLf + QStringLiteral("Change = 2");
            info.Sum += quantity * MaskPriceValue(price.AsFloat(), clientCode);
            written = k;
        }
    }

    QString text = QStringLiteral("[Header]") + kCrLf;
    const auto key = [&text](const QString &name, const QString &value) {
        text += name + QLatin1Char('=') + value + kCrLf;
    };
    key(QStringLiteral("Id"), number);
    key(QStringLiteral("ClientCode"), code);
    key(QStringLiteral("ClientCodeMain"), clientCode);
    key(QStringLiteral("ClientName"), m_settings.ClientName);
    key(QStringLiteral("ClientAddress"), addressText());
    key(QStringLiteral("PriceDateTime"), m_settings.PriceDate);
    key(QStringLiteral("ZakazDateTime"), dateTimeText(Now()));
    key(QStringLiteral("Comment"), comment);
    key(QStringLiteral("RecordCount"), count > 0 ? QString::number(count) : QStringLiteral("1"));
    key(QStringLiteral("VersionProgram"), m_context.version());
    if (count > 0)
        key(QStringLiteral("Sum"), FloatText(info.Sum));
    writeWholeFile(info.path(), toCp1251(text + block));

    if (count == 0)
        return true; // the header alone: no history, no notice
    if (forSending)
        addHistory(info.Sum);
    else
        m_dialogs.showNotice(QStringLiteral("Заявка записана по пути ") + QDir::toNativeSeparators(info.path()), true);
    return true;
}

void OrderFileWriter::addHistory(double sum)
{
    // One whole write: the new section, and when the history has grown past
    // its limit, nothing else. A failure leaves the history as it was.
    IniFile history(HistoryFileName());
    history.beginBatch();
    try {
        const QStringList sections = history.sections();
        if (sections.size() > kHistorySections)
            for (const QString &section : sections)
                history.eraseSection(section);
    } catch (const std::exception &) {
        // An unreadable history only means it is not cut short this time.
    }
    const QString section = dateTimeText(Now());
    history.writeString(section, QStringLiteral("VersionProgram"), m_context.version());
    history.writeString(section, QStringLiteral("DatePrice"), m_settings.PriceDate);
    history.writeString(section, QStringLiteral("SumZakaz"), FloatText(sum));
    history.writeString(section, QStringLiteral("ClientName"), m_settings.ClientName);
    history.commit();
}

void OrderFileWriter::SaveSelectedOrder()
{
    Dataset *orders = m_dm.OrdersSet();
    if (!orders || !orders->Active() || orders->IsEmpty()) {
        m_dialogs.showNotice(QStringLiteral("Нет заявок для экспорта"), true);
        return;
    }
    OrderFileInfo info;
    WriteOrderFile(orders->FieldByName(QStringLiteral("ID")).AsInteger(),
                   orders->FieldByName(QStringLiteral("COMMENT")).AsString(), info, false);
}

} // namespace pc
