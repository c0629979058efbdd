#include "app/SettingsFiles.h"

#include "core/AppContext.h"
#include "core/Dialogs.h"
#include "core/LogText.h"
#include "core/MessageLog.h"
#include "documents/MaxMarkup.h"
#include "platform/FileGroup.h"
#include "platform/FixedFormats.h"
#include "platform/IniFile.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

using pc::IniFile;

namespace {
const QString kHeader = QStringLiteral("Header");
const QString kMainAddressEntry = QStringLiteral("--ОСНОВНОГО АДРЕСА--");

// The date-time text; a time of midnight is left out.
QString localDateTimeText(const QDateTime &when)
{
    if (when.time() == QTime(0, 0))
        return pc::fixedDateText(when.date());
    return pc::dateTimeText(when);
}

void addFallbackAddress(Settings &s)
{
    if (s.DeliveryAddresses.isEmpty())
        s.DeliveryAddresses.append({kMainAddressEntry, s.ClientCode, 0});
}
} // namespace

QStringList nakladLineCaptions(bool calcPriceProducerWithNds)
{
    QStringList c = {QStringLiteral("№"), QStringLiteral("Наименование"), QStringLiteral("Производитель"),
                     QStringLiteral("Страна"), QStringLiteral("Серия"), QStringLiteral("Кол-во"),
                     QStringLiteral("Цена c НДС"), QStringLiteral("Сумма"), QStringLiteral("Ст.НДС"),
                     QStringLiteral("Сум.НДС"), QStringLiteral("Ср.годн."), QStringLiteral("ЖВ"),
                     QStringLiteral("Ц.пр-ля б/НДС"), QStringLiteral("Ц.реестра"), QStringLiteral("Ц. аптеки"),
                     QStringLiteral("Сумма апт."), QStringLiteral("%нац.от пр-ля "), QStringLiteral("ШК")};
    if (calcPriceProducerWithNds)
        c[12] = QStringLiteral("Ц.пр-ля с НДС");
    return c;
}

bool defaultPrintColumnVisible(int index)
{
    return index != 3 && index != 8 && index != 9 && index != 16;
}

SettingsFiles::SettingsFiles(const pc::AppContext &context, Dialogs &dialogs, MessageLog &log)
    : m_context(context), m_dialogs(dialogs), m_log(log)
{
}

QString SettingsFiles::clientIni() const { return m_context.path(QStringLiteral("client.ini")); }
QString SettingsFiles::serverIni() const { return m_context.path(QStringLiteral("server.ini")); }
QString SettingsFiles::exchangeIni() const { return m_context.path(QStringLiteral("exchange.ini")); }

void SettingsFiles::readClient(Settings &s) const
{
    // The files with passwords are closed to other users, also when made by
    // hand or by an older version.
    for (const char *name : {"client.ini", "bkclient.ini"})
        if (const QString problem = pc::keepPrivate(m_context.path(QString::fromLatin1(name))); !problem.isEmpty())
            m_log.logMessage(problem, Warning, true);
    const IniFile ini(clientIni());
    s.ClientName = ini.readString(kHeader, QStringLiteral("ClientName"));
    s.PreviousServerAddress = ini.readString(QStringLiteral("Settings"), QStringLiteral("ServerAddress"));
    s.ClientCode = ini.readString(kHeader, QStringLiteral("ClientCode")).trimmed();
    s.ClientPass = ini.readString(kHeader, QStringLiteral("ClientPass"));

    s.DeliveryAddresses.clear();
    for (int n = 1; n <= 100; ++n) {
        const QString section = QStringLiteral("Address%1").arg(n);
        if (!ini.sectionExists(section))
            continue;
        s.DeliveryAddresses.append({ini.readString(section, QStringLiteral("Address")),
                                    ini.readString(section, QStringLiteral("Code")), n});
    }
    addFallbackAddress(s);
    const QString def = ini.readString(kHeader, QStringLiteral("DefaultAddress"));
    s.AddressIndex = 0;
    for (int i = 0; i < s.DeliveryAddresses.size(); ++i) {
        if (s.DeliveryAddresses[i].address.compare(def, Qt::CaseInsensitive) == 0) {
            s.AddressIndex = i;
            break;
        }
    }

    s.RoundMethod = ini.readInteger(QStringLiteral("NakladSettings"), QStringLiteral("RoundMethod"), 0);
    s.ShortExpiryMonths = std::clamp(ini.readInteger(QStringLiteral("NakladSettings"), QStringLiteral("ShortExpiryMonths"), 6), 0, 120);
    for (int i = 0; i < 3; ++i)
        s.MaxNacen[i] = ini.readFloat(QStringLiteral("MaxGVNacen"), QStringLiteral("MaxNacen%1").arg(i + 1), -1);
    s.CalcPriceProducerWithNDS = ini.readBool(QStringLiteral("MaxGVNacen"), QStringLiteral("CalcPriceProducerWithNDS"), false);
    s.PutOrderMethod = ini.readInteger(kHeader, QStringLiteral("PutOrderMethod"), 2);
    s.GetPriceMethod = ini.readInteger(kHeader, QStringLiteral("GetPriceMethod"), 1);
    s.FTPPassive = ini.readBool(kHeader, QStringLiteral("FTPPassive"), true);
    s.FTPRequireTLS = ini.readBool(kHeader, QStringLiteral("FTPRequireTLS"), false);
    s.LeaveDocsOnServer = ini.readBool(kHeader, QStringLiteral("LeaveDocsOnServer"), false);
    s.DBDriver = ini.readInteger(kHeader, QStringLiteral("DBDriver"), DriverFirebird);
    s.DBBugFixType = ini.readInteger(kHeader, QStringLiteral("DBBugFixType"), 1);
    s.AskSendLog = ini.readBool(kHeader, QStringLiteral("AskSendLog"), false);
    s.ControlAddressChange = ini.readBool(kHeader, QStringLiteral("ControlAddressChange"), false);
    s.AptekaPercent = std::clamp(ini.readInteger(QStringLiteral("Price"), QStringLiteral("AptekaPercent"), 150), -10000, 10000);
    s.PrinterOrientation = ini.readInteger(QStringLiteral("NakladPrintSettings"), QStringLiteral("PrinterOrientation"), 0);
    s.NakladFontSize = ini.readInteger(QStringLiteral("NakladPrintSettings"), QStringLiteral("FontSize"), 0);

    s.NakladFolder = ini.readString(kHeader, QStringLiteral("NakladFolder"), m_context.path(QStringLiteral("Data/NakladOther")));
    if (!s.NakladFolder.isEmpty() && !QFileInfo(s.NakladFolder).isDir() && !QDir().mkpath(s.NakladFolder))
        m_log.logMessage(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(s.NakladFolder)), Error, true);

    s.NakladPrintColumns.clear();
    const QStringList captions = nakladLineCaptions(s.CalcPriceProducerWithNDS);
    for (int i = 0; i < captions.size(); ++i)
        s.NakladPrintColumns.append({captions[i], ini.readBool(QStringLiteral("NakladPrintColumns"), captions[i], defaultPrintColumnVisible(i))});

    s.PriceTagsCount = ini.readInteger(QStringLiteral("PriceTagsPrintSettings"), QStringLiteral("Count"), 7);
    s.PriceTagsFields = ini.readInteger(QStringLiteral("PriceTagsPrintSettings"), QStringLiteral("Fields"), 30);
    s.PriceTagsFontSize = ini.readInteger(QStringLiteral("PriceTagsPrintSettings"), QStringLiteral("FontSize"), 0);
}

void SettingsFiles::driverHandshake(Settings &s) const
{
    IniFile ini(clientIni());
    s.ImportRequested = false;
    if (ini.readInteger(kHeader, QStringLiteral("DBDriverChanged"), 0) == 1) {
        s.ImportRequested = m_dialogs.askQuestion(
                                QStringLiteral("Внимание! Был изменен формат базы данных. Рекомендуется произвести импорт "
                                               "существующих данных из  старого формата DBF. Продолжить ?"),
                                true, false)
                            == mrYes;
        // An import asked for keeps the mark until it has committed: a start
        // that ends before (a crash, a failed import) offers it again.
        if (!s.ImportRequested)
            clearDriverChanged();
    }
    s.DriverAtLoad = s.DBDriver;
}

void SettingsFiles::clearDriverChanged() const
{
    IniFile ini(clientIni());
    if (ini.readInteger(kHeader, QStringLiteral("DBDriverChanged"), 0) == 0)
        return;
    try {
        ini.writeInteger(kHeader, QStringLiteral("DBDriverChanged"), 0);
    } catch (const pc::AppError &e) {
        // A settings file that cannot be written must not keep the program from starting.
        m_log.logMessage(e.message(), Error, true);
    }
}

void SettingsFiles::readPriceDate(Settings &s) const
{
    const QFileInfo fi(m_context.path(QStringLiteral("Data/pricein.dbf")));
    if (!fi.exists())
        s.PriceDateTime = QDateTime(QDate(1999, 1, 1), QTime(0, 0));
    else if (fi.lastModified().isValid())
        s.PriceDateTime = fi.lastModified();
    else
        s.PriceDateTime = QDateTime(QDate(1899, 12, 30), QTime(0, 0));
    s.PriceDate = localDateTimeText(s.PriceDateTime);
}

void SettingsFiles::createFolders() const
{
    for (const QString &name : {QStringLiteral("Orders"), QStringLiteral("Update"), QStringLiteral("Data")}) {
        const QString folder = m_context.path(name);
        if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
            m_log.logMessage(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(folder)), Error, true);
    }
}

void SettingsFiles::readServer(Settings &s, bool tellMissingAddress) const
{
    s.ServerAddresses = QStringList{QString()};
    s.ServerIniExists = QFileInfo::exists(serverIni());
    if (!s.ServerIniExists) {
        s.ServerPort = 21;
        s.TLSPublicKey.clear();
    } else {
        IniFile server(serverIni());
        const QString fresh = server.readString(kHeader, QStringLiteral("ServerAdress"));
        s.ServerAddresses[0] = fresh;
        const QString previous = s.PreviousServerAddress;
        if (s.ControlAddressChange && !previous.isEmpty() && previous.trimmed() != fresh.trimmed()) {
            const int answer = m_dialogs.askQuestion(
                QStringLiteral("ВНИМАНИЕ! Был изменен основной адрес сервера заказа с ") + previous + QStringLiteral(" на ")
                    + fresh
                    + QStringLiteral(". Уточните у поставщика, является ли данный адрес корректным. Принять изменения?"),
                true, false);
            if (answer == mrNo) {
                s.ServerAddresses[0] = previous;
                server.writeString(kHeader, QStringLiteral("ServerAdress"), previous);
            } else {
                IniFile(clientIni()).writeString(QStringLiteral("Settings"), QStringLiteral("ServerAddress"), fresh);
                s.PreviousServerAddress = fresh;
            }
        }
        for (int n = 1; n <= 9; ++n) {
            const QString section = QStringLiteral("ReserveServerAddress%1").arg(n);
            s.ServerAddresses.append(server.sectionExists(section) ? server.readString(section, QStringLiteral("ServerAdress")) : QString());
        }
        s.ServerPort = server.readInteger(kHeader, QStringLiteral("ServerPort"), 21);
        s.SupplierName = server.readString(kHeader, QStringLiteral("SupplierName"), QStringLiteral("ВОРН"));
        s.TLSPublicKey = server.readString(kHeader, QStringLiteral("TLSPublicKey"));
    }
    if (s.ServerAddresses[0].isEmpty() && tellMissingAddress)
        m_dialogs.showNotice(QStringLiteral("Не задан адрес сервера. Обратитесь к поставщику!"), true);
}

void SettingsFiles::setAccounts(Settings &s) const
{
    s.OrderAccount = {QStringLiteral("Order"), QStringLiteral("nulpet")};
    if (s.ClientCode.isEmpty() || s.ClientPass.isEmpty())
        s.ClientAccount = {QStringLiteral("NonameClient"), QStringLiteral("gowtrelmix")};
    else
        s.ClientAccount = {s.ClientCode, s.ClientPass};
    s.PriceArchiveName = s.ClientCode + QStringLiteral(".arc");
}

void SettingsFiles::readExchange(Settings &s) const
{
    const IniFile ini(exchangeIni());
    const QString order = QStringLiteral("Order");
    s.DeleteOrderImport = ini.readBool(order, QStringLiteral("DeleteOrderImport"), false);
    s.FolderOrderImport = ini.readString(order, QStringLiteral("FolderOrderImport"));
    s.ColumnCode = ini.readString(order, QStringLiteral("ColumnCode"));
    s.ColumnQnt = ini.readString(order, QStringLiteral("ColumnQnt"));
    s.FileNameOrder = ini.readString(order, QStringLiteral("FileNameOrder"), QStringLiteral("order.dbf"));
}

namespace {
QString journalIn(const pc::AppContext &context) { return context.path(QStringLiteral("settings.journal")); }
} // namespace

QString SettingsFiles::journal() const { return journalIn(m_context); }

void SettingsFiles::finishInterruptedSave(const pc::AppContext &context)
{
    pc::completeInterruptedReplace(journalIn(context), {QStringLiteral("server.ini"), QStringLiteral("client.ini"),
                                                        QStringLiteral("exchange.ini")});
    for (const QString &folder : {QString(), QStringLiteral("Data"), QStringLiteral("Orders")})
        pc::removeStaleTempFiles(context.path(folder));
}

void SettingsFiles::save(Settings &s, const QStringList &markupCells) const
{
    // The three files are one change: they are composed in memory first and
    // then replaced together, so that a crash or a full disk leaves them all
    // old or all new (see FileGroup.h).
    IniFile server(serverIni());
    server.beginBatch();
    if (server.readInteger(kHeader, QStringLiteral("ServerPort"), 21) != s.ServerPort)
        server.writeInteger(kHeader, QStringLiteral("ServerPort"), s.ServerPort);
    server.writeString(kHeader, QStringLiteral("ServerAdress"), s.ServerAddresses.value(0));
    server.writeString(kHeader, QStringLiteral("SupplierName"), s.SupplierName);
    for (int n = 1; n <= 9; ++n) {
        const QString section = QStringLiteral("ReserveServerAddress%1").arg(n);
        if (n < s.ServerAddresses.size() && !s.ServerAddresses[n].isEmpty())
            server.writeString(section, QStringLiteral("ServerAdress"), s.ServerAddresses[n]);
        else
            server.eraseSection(section);
    }

    IniFile client(clientIni());
    client.beginBatch();
    client.writeInteger(kHeader, QStringLiteral("GetPriceMethod"), s.GetPriceMethod);
    client.writeInteger(kHeader, QStringLiteral("PutOrderMethod"), s.PutOrderMethod);
    client.writeBool(kHeader, QStringLiteral("FTPPassive"), s.FTPPassive);
    client.writeBool(kHeader, QStringLiteral("FTPRequireTLS"), s.FTPRequireTLS);
    client.writeBool(kHeader, QStringLiteral("LeaveDocsOnServer"), s.LeaveDocsOnServer);
    client.writeInteger(QStringLiteral("NakladSettings"), QStringLiteral("ShortExpiryMonths"), s.ShortExpiryMonths);

    if (!s.NakladFolder.isEmpty() && !QFileInfo(s.NakladFolder).isDir()) {
        const QString question = QStringLiteral("Папка \"") + s.NakladFolder + QStringLiteral("\" не существует или недоступна. Создать?");
        if (m_dialogs.askQuestion(question, true, false) == mrYes && !QDir().mkpath(s.NakladFolder))
            m_log.logMessage(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(s.NakladFolder)), Error, true);
    }
    client.writeString(kHeader, QStringLiteral("NakladFolder"), s.NakladFolder);

    client.writeInteger(kHeader, QStringLiteral("DBDriver"), s.DBDriver);
    if (s.DBDriver == DriverFirebird && s.DBDriver != s.DriverAtLoad)
        client.writeInteger(kHeader, QStringLiteral("DBDriverChanged"), 1);
    client.writeInteger(kHeader, QStringLiteral("DBBugFixType"), s.DBBugFixType);
    client.writeBool(kHeader, QStringLiteral("AskSendLog"), s.AskSendLog);
    client.writeBool(kHeader, QStringLiteral("ControlAddressChange"), s.ControlAddressChange);

    const QStringList keys = maxMarkupRowKeys();
    QList<MarkupRow> badRows;
    for (int i = 0; i < 3 && i < markupCells.size(); ++i) {
        try {
            double v = 0;
            if (parseLocaleNumber(markupCells[i], v)) {
                client.writeFloat(QStringLiteral("MaxGVNacen"), QStringLiteral("MaxNacen%1").arg(i + 1), v);
                s.MaxNacen[i] = v;
            } else if (!markupCells[i].trimmed().isEmpty()) {
                badRows.append({keys[i], markupCells[i]});
            }
        } catch (const pc::AppError &e) {
            m_log.logMessage(e.message(), Error, true);
        }
    }
    if (!badRows.isEmpty()) {
        // Tell the pharmacist why the cell was not taken (the stored value stays).
        std::vector<double> ignored;
        ValidateMaxMarkupTable(badRows, ignored, m_dialogs);
    }

    client.writeBool(QStringLiteral("MaxGVNacen"), QStringLiteral("CalcPriceProducerWithNDS"), s.CalcPriceProducerWithNDS);
    client.writeInteger(QStringLiteral("NakladPrintSettings"), QStringLiteral("PrinterOrientation"), s.PrinterOrientation);
    client.writeInteger(QStringLiteral("NakladPrintSettings"), QStringLiteral("FontSize"), s.NakladFontSize);
    client.eraseSection(QStringLiteral("NakladPrintColumns"));
    for (const PrintColumn &c : s.NakladPrintColumns)
        client.writeBool(QStringLiteral("NakladPrintColumns"), c.caption, c.visible);
    client.writeInteger(QStringLiteral("PriceTagsPrintSettings"), QStringLiteral("Count"), s.PriceTagsCount);
    client.writeInteger(QStringLiteral("PriceTagsPrintSettings"), QStringLiteral("Fields"), s.PriceTagsFields);
    client.writeInteger(QStringLiteral("PriceTagsPrintSettings"), QStringLiteral("FontSize"), s.PriceTagsFontSize);

    // The identity fields of the connection page; a key is written only when
    // it changes, so a file without them stays as it was.
    const auto writeChanged = [](IniFile &ini, const QString &key, const QString &value) {
        if (ini.readString(kHeader, key) != value)
            ini.writeString(kHeader, key, value);
    };
    writeChanged(client, QStringLiteral("ClientCode"), s.ClientCode);
    writeChanged(client, QStringLiteral("ClientName"), s.ClientName);
    writeChanged(client, QStringLiteral("ClientPass"), s.ClientPass);

    IniFile exchange(exchangeIni());
    exchange.beginBatch();
    const QString order = QStringLiteral("Order");
    exchange.writeBool(order, QStringLiteral("DeleteOrderImport"), s.DeleteOrderImport);
    exchange.writeString(order, QStringLiteral("FolderOrderImport"), s.FolderOrderImport);
    exchange.writeString(order, QStringLiteral("ColumnCode"), s.ColumnCode);
    exchange.writeString(order, QStringLiteral("ColumnQnt"), s.ColumnQnt);
    exchange.writeString(order, QStringLiteral("FileNameOrder"), s.FileNameOrder);

    pc::replaceFilesTogether(journal(), {{serverIni(), server.image()}, {clientIni(), client.image()},
                                         {exchangeIni(), exchange.image()}});
    s.ServerIniExists = true;
}

void SettingsFiles::writeIdentity(const ClientIdentity &id) const
{
    // server.ini first, then client.ini, each in one write: a start after a
    // crash in between finds the code missing and asks again.
    if (!id.serverAddress.isEmpty())
        IniFile(serverIni()).writeString(kHeader, QStringLiteral("ServerAdress"), id.serverAddress);
    IniFile client(clientIni());
    client.beginBatch();
    if (!id.code.isEmpty())
        client.writeString(kHeader, QStringLiteral("ClientCode"), id.code);
    if (!id.name.isEmpty())
        client.writeString(kHeader, QStringLiteral("ClientName"), id.name);
    if (!id.pass.isEmpty())
        client.writeString(kHeader, QStringLiteral("ClientPass"), id.pass);
    if (!id.serverAddress.isEmpty())
        client.writeString(QStringLiteral("Settings"), QStringLiteral("ServerAddress"), id.serverAddress);
    client.commit();
}

ClientIdentity SettingsFiles::storedIdentity() const
{
    const IniFile client(clientIni());
    ClientIdentity id;
    id.code = client.readString(kHeader, QStringLiteral("ClientCode")).trimmed();
    id.name = client.readString(kHeader, QStringLiteral("ClientName"));
    id.pass = client.readString(kHeader, QStringLiteral("ClientPass"));
    if (QFileInfo::exists(serverIni()))
        id.serverAddress = IniFile(serverIni()).readString(kHeader, QStringLiteral("ServerAdress"));
    return id;
}

void SettingsFiles::writeDefaultAddress(const QString &text) const
{
    IniFile(clientIni()).writeString(kHeader, QStringLiteral("DefaultAddress"), text);
}

int SettingsFiles::addAddress(Settings &s, const QString &address, const QString &code) const
{
    IniFile ini(clientIni());
    for (int n = 1; n <= 100; ++n) {
        const QString section = QStringLiteral("Address%1").arg(n);
        if (ini.sectionExists(section))
            continue;
        ini.beginBatch();
        ini.writeString(section, QStringLiteral("Code"), code);
        ini.writeString(section, QStringLiteral("Address"), address);
        ini.commit();
        // The main-address entry only stands in while there is no address of its own.
        if (s.DeliveryAddresses.size() == 1 && s.DeliveryAddresses[0].section == 0)
            s.DeliveryAddresses.clear();
        s.DeliveryAddresses.append({address, code, n});
        return n;
    }
    return 0;
}

void SettingsFiles::changeAddress(Settings &s, int index, const QString &address, const QString &code) const
{
    if (index < 0 || index >= s.DeliveryAddresses.size() || s.DeliveryAddresses[index].section == 0)
        return;
    DeliveryAddress &a = s.DeliveryAddresses[index];
    IniFile ini(clientIni());
    const QString section = QStringLiteral("Address%1").arg(a.section);
    ini.beginBatch();
    ini.writeString(section, QStringLiteral("Code"), code);
    ini.writeString(section, QStringLiteral("Address"), address);
    ini.commit();
    a.address = address;
    a.code = code;
}

void SettingsFiles::removeAddress(Settings &s, int index) const
{
    if (index < 0 || index >= s.DeliveryAddresses.size() || s.DeliveryAddresses[index].section == 0)
        return;
    IniFile(clientIni()).eraseSection(QStringLiteral("Address%1").arg(s.DeliveryAddresses[index].section));
    s.DeliveryAddresses.removeAt(index);
    addFallbackAddress(s);
    if (s.AddressIndex >= s.DeliveryAddresses.size())
        s.AddressIndex = 0;
}

bool SettingsFiles::resetClientIni(const Settings &s) const
{
    // The old settings move to bkclient.ini in one step (an earlier backup is
    // replaced atomically). When they cannot be moved, client.ini is the only
    // copy: it stays as it is and nothing is reset.
    const QString backup = m_context.path(QStringLiteral("bkclient.ini"));
    if (QFileInfo::exists(clientIni())
        && ::rename(QFile::encodeName(clientIni()).constData(), QFile::encodeName(backup).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        m_log.logMessage(QStringLiteral("Ошибка сброса: файл %1 не переименован в %2 (%3). Настройки не изменены")
                             .arg(QDir::toNativeSeparators(clientIni()), QDir::toNativeSeparators(backup), reason),
                         Error, true);
        m_dialogs.showNotice(QStringLiteral("Ошибка сброса. Настройки не изменены: не удалось сохранить их копию в bkclient.ini"),
                             false);
        return false;
    }
    // The new file in one write. Should it fail, the settings go back where
    // they were: the program never starts without its client.ini.
    try {
        IniFile fresh(clientIni());
        fresh.beginBatch();
        fresh.writeString(kHeader, QStringLiteral("ClientName"), s.ClientName);
        fresh.writeString(kHeader, QStringLiteral("ClientCode"), s.ClientCode);
        // The connection password belongs to the client's identity: without it the
        // price list could not be fetched after the reset.
        if (!s.ClientPass.isEmpty())
            fresh.writeString(kHeader, QStringLiteral("ClientPass"), s.ClientPass);
        fresh.commit();
    } catch (const pc::AppError &e) {
        ::rename(QFile::encodeName(backup).constData(), QFile::encodeName(clientIni()).constData());
        m_log.logMessage(QStringLiteral("Ошибка сброса: ") + e.message() + QStringLiteral(". Настройки не изменены"), Error,
                         true);
        m_dialogs.showNotice(QStringLiteral("Ошибка сброса. Настройки не изменены: ") + e.message(), false);
        return false;
    }
    return true;
}
