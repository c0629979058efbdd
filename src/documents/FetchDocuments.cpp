#include "documents/FetchDocuments.h"

#include "core/AppContext.h"
#include "core/Dialogs.h"
#include "core/MessageLog.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/DbfReader.h"
#include "db/JobLock.h"
#include "db/TableDefs.h"
#include "db/firebird/DbError.h"
#include "db/firebird/Statement.h"
#include "documents/DocumentFields.h"
#include "exchange/ServerConnection.h"
#include "platform/AppError.h"
#include "platform/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <memory>

namespace pc {

namespace {

const QString kDefectSuffix = QStringLiteral(" (получение дефектур)");
const QString kInvoiceSuffix = QStringLiteral(" (получение накладных)");
const QString kCodeSuffix = QStringLiteral(" (получение накладных и дефектур)");

template <class F>
void call(const std::function<F> &hook, auto &&...args)
{
    if (hook)
        hook(std::forward<decltype(args)>(args)...);
}

std::unique_ptr<fb::Statement> query(TDM &dm, const QString &sql)
{
    std::unique_ptr<fb::Statement> st = dm.IsFirebird() ? dm.CreateQuery(sql) : nullptr;
    if (!st)
        throw AppError(QStringLiteral("База данных не открыта"));
    return st;
}

// The next number: one above the table's generator and every number in use
// ("select max(id) from <table>"; an empty table gives 1). Taking it uses
// nothing up: the import moves the generator on with its commit
// (storedKey), and one workstation fetches at a time.
int nextKey(TDM &dm, const QString &table)
{
    auto st = query(dm, QStringLiteral("select max(id) from ") + table);
    st->execute();
    const qint64 last = st->fetch() && !st->isNull(0) ? st->asInt64(0) : 0;
    st->closeCursor();
    return int(std::max(dm.KeyGeneratorValue(table), last) + 1);
}

// In the import's transaction, just before its commit: the number is taken.
void storedKey(TDM &dm, const QString &table, int key)
{
    dm.AdvanceKeyGenerator(table, key);
    dm.PostEvent(QStringLiteral("DOCUMENTS_CHANGED"));
}

// Opens a supplier's DBF file on its first record, texts translated from OEM.
// Records marked deleted are read like any other: suppliers' files rely on it.
void openReader(DbfReader &reader, const QString &fileName)
{
    reader.setDBFFileName(fileName);
    reader.Open();
    reader.setOEM(true);
    reader.First();
}

// A number read from a column, counted when the cell cannot be read: a number
// column holding something else reads as null, a text column holding
// something that is not a number fails the conversion.
double readNumber(const DbfField &f, DbfUnreadableCells &unreadable)
{
    try {
        unreadable.check(f);
        return f.AsFloat();
    } catch (const DbfError &) {
        unreadable.add(f.FieldName());
        return 0;
    }
}

qint64 readInteger(const DbfField &f, DbfUnreadableCells &unreadable)
{
    try {
        unreadable.check(f);
        return f.AsInteger();
    } catch (const DbfError &) {
        unreadable.add(f.FieldName());
        return 0;
    }
}

// An expiry date: empty when blank, counted when it cannot be read.
QVariant expiryDate(const DbfField &f, DbfUnreadableCells &unreadable)
{
    if (unreadable.check(f) || f.IsNull() || f.AsString().trimmed().isEmpty())
        return QVariant();
    try {
        const QDate d = f.AsDate();
        return d.isValid() ? QVariant(d) : QVariant();
    } catch (const DbfError &) {
        unreadable.add(f.FieldName());
        return QVariant();
    }
}

void reportUnreadable(MessageLog &log, const QString &what, const QString &fileName, const DbfUnreadableCells &unreadable)
{
    if (!unreadable.isEmpty())
        log.logMessage(QStringLiteral("%1 %2: не прочитаны значения (загружены пустыми): %3")
                           .arg(what, QFileInfo(fileName).fileName(), unreadable.text()),
                       Warning, true);
}

// Rolls the module's transaction back without letting a second failure hide
// the first.
void rollbackQuietly(TDM &dm, MessageLog &log)
{
    try {
        dm.Rollback();
    } catch (const std::exception &e) {
        log.logMessage(errorText(e) + QStringLiteral(" (отмена загрузки документа)"), Error, true);
    }
}


} // namespace

DocumentFetch::DocumentFetch(TDM &dm, ServerConnection &connection, const Settings &settings, Dialogs &dialogs,
                             MessageLog &log, const AppContext &context)
    : m_dm(dm), m_connection(connection), m_settings(settings), m_dialogs(dialogs), m_log(log), m_context(context)
{
}

// ---- names ----------------------------------------------------------------------

QString DocumentFetch::DefectureNumber(const QString &fileName)
{
    return fileName.size() > 5 ? fileName.mid(1, fileName.size() - 5) : QString();
}

bool DocumentFetch::IsInvoiceFileName(const QString &fileName)
{
    return fileName.startsWith(QLatin1Char('n')) && fileName.endsWith(QStringLiteral(".dbf"));
}

QString DocumentFetch::InvoiceNumber(const QString &fileName)
{
    const QString base = fileName.left(qMax<qsizetype>(0, fileName.size() - 4));
    const qsizetype underscore = base.indexOf(QLatin1Char('_'));
    return underscore < 0 ? base : base.mid(underscore + 1);
}

// ---- imports ----------------------------------------------------------------------

void DocumentFetch::ImportDefecture(const QString &fileName, const QString &number)
{
    DbfReader reader;
    openReader(reader, fileName);
    const TTableDefs &lines = m_dm.TableDef(TdDefectL);
    m_dm.StartTransaction(false);
    try {
        const int key = nextKey(m_dm, QStringLiteral("defect"));
        auto header = query(m_dm, QStringLiteral("INSERT INTO DEFECT (ID, NUMBR) VALUES (:ID, :NUMBR)"));
        header->setValue(QStringLiteral("ID"), key);
        header->setValue(QStringLiteral("NUMBR"), fitted(m_dm.TableDef(TdDefect), QStringLiteral("NUMBR"), number));
        header->execute();

        const QString qnt = m_dm.QntFieldName();
        auto line = query(m_dm, QStringLiteral("INSERT INTO DEFECTL (IDDEFECT, TOVAR, %1) VALUES (:IDDEFECT, :TOVAR, :%1)").arg(qnt));
        DbfUnreadableCells unreadable;
        for (; !reader.Eof(); reader.Next()) {
            line->clearParams();
            line->setValue(QStringLiteral("IDDEFECT"), key);
            line->setValue(QStringLiteral("TOVAR"),
                           fitted(lines, QStringLiteral("TOVAR"), reader.FieldByName(u"tovar").AsString()));
            line->setValue(qnt, readInteger(reader.FieldByName(u"Count"), unreadable));
            line->execute();
        }
        storedKey(m_dm, QStringLiteral("defect"), key);
        m_dm.Commit();
        reportUnreadable(m_log, QStringLiteral("Дефектура"), fileName, unreadable);
    } catch (...) {
        rollbackQuietly(m_dm, m_log);
        throw;
    }
}

int DocumentFetch::ImportInvoice(const QString &fileName, bool producerPriceWithVat)
{
    DbfReader reader;
    openReader(reader, fileName);
    const TTableDefs &def = m_dm.TableDef(TdNakladL);
    m_dm.StartTransaction(false);
    try {
        const int key = nextKey(m_dm, QStringLiteral("naklad"));
        auto header = query(m_dm, QStringLiteral("INSERT INTO NAKLAD (ID, NUMBR, NAKLDATE) VALUES (:ID, :NUMBR, :NAKLDATE)"));
        header->setValue(QStringLiteral("ID"), key);
        header->setValue(QStringLiteral("NUMBR"),
                         fitted(m_dm.TableDef(TdNaklad), QStringLiteral("NUMBR"), reader.FieldByName(u"NOMDOC").AsString()));
        header->setValue(QStringLiteral("NAKLDATE"), documentDate(reader.FieldByName(u"DATDOC")));
        header->execute();

        auto line = query(m_dm, BuildInsertSQL(def));
        const QString qnt = m_dm.QntFieldName();
        const QString sum = m_dm.SumFieldName();
        const QString producerPrice = producerPriceWithVat ? QStringLiteral("CPWNDS") : QStringLiteral("CPWONDS");
        DbfUnreadableCells unreadable;
        auto text = [&](const char16_t *column) { return reader.FieldByName(column).AsString(); };
        auto number = [&](const QString &column) { return readNumber(reader.FieldByName(column), unreadable); };
        auto integer = [&](const char16_t *column) { return readInteger(reader.FieldByName(column), unreadable); };
        auto setText = [&](const QString &column, const QString &value) {
            line->setValue(column, fitted(def, column, value));
        };

        // The line number keeps the lines of one invoice apart (the pharmacy
        // price is saved by goods code and line number).
        int lineNo = 0;
        for (; !reader.Eof(); reader.Next()) {
            ++lineNo;
            line->clearParams();
            line->setValue(QStringLiteral("LINENO"), lineNo);
            line->setValue(QStringLiteral("ID"), key);
            setText(QStringLiteral("IDTOVAR"), text(u"CODETOV").trimmed() + QLatin1Char('_') + QString::number(lineNo));
            setText(QStringLiteral("TOVAR"), text(u"TOVNAME"));
            setText(QStringLiteral("PRODUCT"), text(u"PRNAME"));
            setText(QStringLiteral("COUNTRY"), text(u"PRSTRANA"));
            setText(QStringLiteral("SERIES"), text(u"SERIYA"));
            line->setValue(qnt, integer(u"KOL"));
            line->setValue(QStringLiteral("PRICE"), number(QStringLiteral("CWNDS")));
            line->setValue(sum, number(QStringLiteral("VSEGO")));
            line->setValue(QStringLiteral("STNDS"), integer(u"STNDS"));
            line->setValue(QStringLiteral("SUMNDS"), number(QStringLiteral("SUMNDS")));
            const DbfField &expiry = reader.FieldByName(u"SROKGODN");
            line->setValue(QStringLiteral("SROKGODN"), expiryDate(expiry, unreadable));
            line->setValue(QStringLiteral("GV"), integer(u"GN2"));
            line->setValue(QStringLiteral("PRICE_PR"), number(producerPrice));
            line->setValue(QStringLiteral("PRREESTR"), number(QStringLiteral("CREESTR")));
            setText(QStringLiteral("EAN"), text(u"EAN"));
            line->execute();
        }
        storedKey(m_dm, QStringLiteral("naklad"), key);
        m_dm.Commit();
        reportUnreadable(m_log, QStringLiteral("Накладная"), fileName, unreadable);
        return key;
    } catch (...) {
        rollbackQuietly(m_dm, m_log);
        throw;
    }
}

// ---- the fetch ----------------------------------------------------------------------

DocumentFetch::ListProgress::ListProgress(DocumentFetch &fetch, const QString &text, int count)
    : m_fetch(fetch), m_text(text), m_count(count)
{
    m_sinceShown.start();
}

// Every name is a moment to keep the window painted and to give up when the
// exchange was cancelled; a long list also says how far it has come.
void DocumentFetch::ListProgress::next()
{
    ++m_done;
    m_fetch.m_connection.checkpoint();
    if (m_count >= kShownFrom && (m_done == 1 || m_done % 100 == 0 || m_sinceShown.elapsed() >= 250)) {
        m_fetch.m_dialogs.showWait(m_text + QStringLiteral(" %1 из %2").arg(m_done).arg(m_count), 1);
        m_sinceShown.start();
    }
}

bool DocumentFetch::documentExists(const QString &table, const QString &number)
{
    auto st = query(m_dm, QStringLiteral("select count(*) from ") + table + QStringLiteral(" where NUMBR = :NUMBR"));
    // Compared as it would be stored.
    st->setValue(QStringLiteral("NUMBR"), fitted(m_dm.TableDef(TdDefect), QStringLiteral("NUMBR"), number));
    st->execute();
    const qint64 n = st->fetch() ? st->asInt64(0) : 0;
    st->closeCursor();
    return n >= 1;
}

// An invoice whose file name carries another number than its content is
// recognised by the number and date inside, so it is not taken in twice.
bool DocumentFetch::invoiceContentExists(const QString &fileName)
{
    QString number;
    QDate date;
    try {
        DbfReader reader;
        openReader(reader, fileName);
        if (reader.Eof())
            return false;
        number = fitted(m_dm.TableDef(TdNaklad), QStringLiteral("NUMBR"), reader.FieldByName(u"NOMDOC").AsString());
        date = documentDate(reader.FieldByName(u"DATDOC"));
    } catch (const std::exception &) {
        return false; // the import tells what is wrong with the file
    }
    auto st = query(m_dm, QStringLiteral("select count(*) from naklad where NUMBR = :NUMBR and NAKLDATE = :NAKLDATE"));
    st->setValue(QStringLiteral("NUMBR"), number);
    st->setValue(QStringLiteral("NAKLDATE"), date);
    st->execute();
    const qint64 n = st->fetch() ? st->asInt64(0) : 0;
    st->closeCursor();
    return n >= 1;
}

void DocumentFetch::download(const QString &remoteName, const QString &localPath)
{
    FtpProgressScope progress(m_connection.ftp(), ReceiveProgress);
    m_connection.ftp().get(remoteName, localPath);
}

void DocumentFetch::deleteOnServer(const QString &remoteName)
{
    if (!m_settings.LeaveDocsOnServer)
        m_connection.ftp().deleteFile(remoteName);
}

QString DocumentFetch::otherDocumentsFolder() const
{
    const QString chosen = m_settings.NakladFolder.trimmed();
    if (!chosen.isEmpty() && QFileInfo(chosen).isDir())
        return chosen.endsWith(QLatin1Char('/')) ? chosen : chosen + QLatin1Char('/');
    return m_context.path(QStringLiteral("Data/NakladOther/"));
}

void DocumentFetch::fetchDefectures(const QString &code, Result &result)
{
    FtpClient &ftp = m_connection.ftp();
    try {
        ftp.changeDir(QStringLiteral("\\Defect\\") + code);
    } catch (const FtpError &) {
        return; // no defectures for this code
    }
    const QStringList names = ftp.list(QStringLiteral("*.dbf"));
    ListProgress progress(*this, QStringLiteral("Подождите некоторое время, загрузка дефектур..."), int(names.size()));
    for (const QString &name : names) {
        progress.next();
        bool imported = false; // a failure after this leaves the document in the database
        try {
            m_log.logDetail(QStringLiteral("Загрузка дефектуры ") + name);
            const QString number = DefectureNumber(name);
            if (!foreignNameRefusal(name, {QStringLiteral(".dbf")}).isEmpty() || number.isEmpty()) {
                m_log.logMessage(QStringLiteral("Файл дефектуры с недопустимым именем \"%1\" пропущен").arg(name),
                                 Warning, true);
                continue;
            }
            if (documentExists(QStringLiteral("defect"), number)) {
                m_log.logDetail(QStringLiteral("Дефектура ") + name + QStringLiteral(" уже есть в базе"));
                continue;
            }
            const QString local = m_context.path(QStringLiteral("Data/")) + name;
            download(name, local);
            ImportDefecture(local, number);
            ++result.defectures;
            imported = true;
            QFile::remove(local);
            deleteOnServer(name);
        } catch (const ExchangeCancelled &) {
            throw;
        } catch (const std::exception &e) {
            m_log.logMessage(errorText(e) + kDefectSuffix, Error, true);
            if (!imported)
                result.failed << name;
        }
    }
}

void DocumentFetch::fetchInvoices(const QString &code, Result &result)
{
    FtpClient &ftp = m_connection.ftp();
    m_dialogs.showWait(QStringLiteral("Подождите некоторое время, загрузка накладных..."), 1);
    m_log.logDetail(QStringLiteral("Загрузка накладных"));
    try {
        ftp.changeDir(QStringLiteral("\\Naklad\\") + code);
    } catch (const FtpError &) {
        return; // no invoices for this code
    }
    const QStringList names = ftp.list(QStringLiteral("*.*"));

    const QString archive = m_context.path(QStringLiteral("Data/NakladArch/"));
    const QString other = m_context.path(QStringLiteral("Data/NakladOther/"));
    for (const QString &folder : {archive, other})
        if (!QDir().mkpath(folder))
            m_log.logMessage(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(folder)), Error,
                             true);

    ListProgress progress(*this, QStringLiteral("Подождите некоторое время, загрузка накладных..."), int(names.size()));
    for (const QString &name : names) {
        progress.next();
        bool imported = false; // a failure after this leaves the document in the database
        try {
            m_log.logDetail(QStringLiteral("Загрузка накладной ") + name);
            if (!foreignNameRefusal(name, {}).isEmpty()) {
                m_log.logMessage(QStringLiteral("Файл с недопустимым именем \"%1\" в папке накладных пропущен").arg(name),
                                 Warning, true);
                continue;
            }
            if (!IsInvoiceFileName(name)) {
                download(name, otherDocumentsFolder() + name);
                ++result.documents;
                imported = true;
                deleteOnServer(name);
                continue;
            }
            const QString number = InvoiceNumber(name);
            if (documentExists(QStringLiteral("Naklad"), number)) {
                m_log.logDetail(QStringLiteral("Накладная ") + name + QStringLiteral(" уже есть в базе"));
                continue;
            }
            const QString local = m_context.path(QStringLiteral("Data/")) + name;
            download(name, local);
            if (invoiceContentExists(local)) {
                m_log.logDetail(QStringLiteral("Накладная ") + name + QStringLiteral(" уже есть в базе"));
                QFile::remove(local);
                imported = true;
                deleteOnServer(name);
                continue;
            }
            ImportInvoice(local, m_settings.CalcPriceProducerWithNDS);
            ++result.documents;
            imported = true;
            // An archived file of the same name (an invoice deleted and fetched
            // again) is kept; the new download then stays in Data.
            if (!QFileInfo::exists(archive + name))
                QFile::rename(local, archive + name);
            deleteOnServer(name);
        } catch (const ExchangeCancelled &) {
            throw;
        } catch (const std::exception &e) {
            m_log.logMessage(errorText(e) + kInvoiceSuffix, Error, true);
            if (!imported)
                result.failed << name;
        }
    }
}

void DocumentFetch::fetchCode(const QString &code, Result &result)
{
    try {
        if (!isPlainFileName(code))
            throw AppError(QStringLiteral("Недопустимый код адреса доставки \"%1\"").arg(code));
        fetchDefectures(code, result);
        fetchInvoices(code, result);
    } catch (const ExchangeCancelled &) {
        throw;
    } catch (const std::exception &e) {
        m_log.logMessage(errorText(e) + kCodeSuffix, Error, true);
    }
}

void DocumentFetch::reloadTables(bool invoicesArrived)
{
    for (Dataset *ds : {m_dm.DefectTable(), m_dm.DefectLinesTable()}) {
        if (!ds)
            continue;
        ds->Close();
        ds->Open();
    }
    if (Dataset *orderLines = m_dm.DefectOrderLinesTable(); orderLines && !orderLines->Active())
        orderLines->Open();
    if (Dataset *naklad = m_dm.NakladSet(); naklad && invoicesArrived && naklad->Active()) {
        naklad->Close();
        naklad->Open();
        naklad->Last();
    }
}

DocumentFetch::Result DocumentFetch::FetchDocuments(bool alwaysReport, int addressCount, int addressIndex)
{
    Result result;
    if (m_running)
        return result;
    bool cancelled = false;
    struct Running {
        bool &flag;
        explicit Running(bool &f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(m_running);

    JobLock job(m_dm, JobLock::Job::DocumentFetch);
    if (!job.AcquireOrTell(m_dialogs)) {
        result.busy = true;
        return result;
    }
    QDir().mkpath(m_context.path(QStringLiteral("Data")));
    m_connection.setLogin(m_settings.ClientAccount);
    call(ShowReceivePanel, true);
    try {
        if (m_connection.ConnectToServer(true)) {
            m_dialogs.showWait(QStringLiteral("Подождите некоторое время, загрузка дефектур..."), 1);
            m_log.logDetail(QStringLiteral("Загрузка дефектур"));
            for (int i = -1; i < addressCount; ++i) {
                if (addressIndex >= 0 && i != addressIndex)
                    continue;
                if (i == -1 && addressCount > 1)
                    continue;
                QString code;
                if (i == -1)
                    code = m_settings.ClientCode;
                else if (i < m_settings.DeliveryAddresses.size())
                    code = m_settings.DeliveryAddresses[i].code.trimmed();
                else
                    continue;
                fetchCode(code, result);
            }
        }
    } catch (const ExchangeCancelled &e) {
        cancelled = true;
        m_log.logMessage(QStringLiteral("Получение дефектур и накладных прервано: ") + e.message(), Warning, true);
    } catch (const std::exception &e) {
        m_log.logMessage(errorText(e) + kCodeSuffix, Error, true);
    }

    m_connection.DisconnectFromServer();
    try {
        m_dm.Commit();
    } catch (const std::exception &e) {
        m_log.logMessage(errorText(e) + kCodeSuffix, Error, true);
    }
    m_dialogs.hideWait();
    call(ShowReceivePanel, false);
    try {
        reloadTables(result.documents > 0);
    } catch (const std::exception &e) {
        m_log.logMessage(errorText(e) + kCodeSuffix, Error, true);
    }
    call(DocumentsReloaded);

    const bool received = result.defectures + result.documents > 0;
    if (cancelled) {
        // Closing: what arrived is in the database and the log, nothing is asked.
    } else if (!received && !result.failed.isEmpty()) {
        // Nothing arrived because everything failed: not "0 received".
        m_dialogs.showNotice(QStringLiteral("Документы не получены: не удалось загрузить ни один из них (%1). "
                                            "Они оставлены на сервере. Подробности в окне сообщений")
                                 .arg(result.failed.join(QStringLiteral(", "))),
                             true);
    } else if (received || alwaysReport) {
        QString text = QStringLiteral("Получено : \n\r") + QString::number(result.defectures)
                     + QStringLiteral(" дефектур\n\r") + QString::number(result.documents) + QStringLiteral(" накладных");
        if (!result.failed.isEmpty())
            text += QStringLiteral("\n\rНе загружены и оставлены на сервере: ") + result.failed.join(QStringLiteral(", "))
                  + QStringLiteral(". Подробности в окне сообщений");
        m_dialogs.showNotice(text, true);
    }
    return result;
}

// ---- the invoice list and the defecture page -------------------------------------

bool DeleteCurrentInvoice(TDM &dm, Dialogs &dialogs)
{
    Dataset *naklad = dm.NakladSet();
    if (!naklad || !naklad->Active() || naklad->IsEmpty())
        return false;
    const int id = naklad->FieldByName(QStringLiteral("ID")).AsInteger();
    const QString number = naklad->FieldByName(QStringLiteral("NUMBR")).AsString();
    if (dialogs.askQuestion(QStringLiteral("Удалить накладную № ") + number + QStringLiteral("?"), true, false) != mrYes)
        return false;
    try {
        dm.StartTransaction(false);
        for (const QString &table : {QStringLiteral("NakladL"), QStringLiteral("Naklad")}) {
            auto st = query(dm, QStringLiteral("DELETE FROM ") + table + QStringLiteral(" WHERE id = :ID"));
            st->setValue(QStringLiteral("ID"), id);
            st->execute();
        }
        dm.Commit();
    } catch (...) {
        try {
            dm.Rollback();
        } catch (...) {
        }
        throw;
    }
    naklad->Close();
    naklad->Open();
    return true;
}

std::optional<QString> DefectOrderCaption(TDM &dm)
{
    Dataset *defect = dm.DefectTable();
    if (!defect || !defect->Active() || defect->IsEmpty())
        return std::nullopt;
    const QString number = defect->FieldByName(QStringLiteral("NUMBR")).AsString().trimmed();
    if (number.isEmpty())
        return std::nullopt;
    QString date;
    bool isNumber = false;
    const qint64 id = number.toLongLong(&isNumber);
    if (isNumber) {
        auto st = query(dm, QStringLiteral("select datet from orders where id = :ID"));
        st->setValue(QStringLiteral("ID"), id);
        st->execute();
        if (st->fetch() && !st->isNull(0))
            date = QLocale().toString(st->asDate(0), QLocale::ShortFormat);
        st->closeCursor();
    }
    return QStringLiteral("Заявка от ") + date;
}

} // namespace pc
