#include "orders/SendOrders.h"

#include "core/AppContext.h"
#include "core/Dialogs.h"
#include "core/MessageLog.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "db/JobLock.h"
#include "exchange/ServerConnection.h"
#include "orders/OrderFile.h"
#include "orders/SaveOrder.h"
#include "db/firebird/Statement.h"
#include "platform/AppError.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace pc {

namespace {
const QString kSendFailed = QStringLiteral("При отправке заявки возникли ошибки.\r\nЗаявка была перемещена в архив и будет отправлена при повторном сеансе связи");
} // namespace

QString OrderSender::SentText(int count, double total)
{
    return QStringLiteral("Было отправлено ") + QString::number(count) + QStringLiteral(" заявок  на сумму ")
         + OrderFileWriter::FloatText(total);
}

QString OrderSender::failureNotice() const
{
    // Nothing went out: the orders wait in the archive.
    if (m_sentCount == 0)
        return kSendFailed;
    // Some did: the notice says so, then what did not go.
    QString text = SentText(m_sentCount, m_sentTotal);
    if (m_sentCount < m_toSend)
        text += QStringLiteral("\r\nПри отправке остальных заявок возникли ошибки: они остались в архиве и будут отправлены "
                               "при повторном сеансе связи");
    if (m_historyFailed)
        text += QStringLiteral("\r\nЖурнал отправки не удалось передать на сервер, он будет передан со следующей заявкой");
    return text;
}

QString OrderSender::UploadName(const QString &fileName) { return fileName + QStringLiteral(".tmp"); }

OrderSender::OrderSender(TDM &dm, Dialogs &dialogs, MessageLog &log, const AppContext &context, const Settings &settings,
                         ServerConnection &connection, OrderFileWriter &writer, OrderSaver &saver)
    : m_dm(dm), m_dialogs(dialogs), m_log(log), m_context(context), m_settings(settings), m_connection(connection),
      m_writer(writer), m_saver(saver)
{
}

int CountUnsentOrders(TDM &dm, QDateTime *oldest)
{
    if (!dm.IsFirebird() || !dm.Connected())
        return 0;
    Dataset *q = dm.OpenQuery(QStringLiteral("select Count(*), Min(DATET)  from orders where status = 0 "));
    const int count = q && !q->IsEmpty() ? q->Fields(0).AsInteger() : 0;
    if (oldest)
        *oldest = q && !q->IsEmpty() ? q->Fields(1).AsDateTime() : QDateTime();
    if (q)
        q->Close();
    return count;
}

void OrderSender::SendOrders(int addressCount, int addressIndex, const QString &comment)
{
    if (PrepareSending(addressCount, addressIndex, comment))
        SendPrepared();
}

bool OrderSender::PrepareSending(int addressCount, int addressIndex, const QString &comment)
{
    if (addressCount > 1 && addressIndex == 0) {
        m_dialogs.showNotice(QStringLiteral("Выберите адрес доставки (поле 'Заявка от')!"), true);
        if (dropDownAddresses)
            dropDownAddresses();
        return false;
    }
    if (leaveChangesMode)
        leaveChangesMode();
    if (checkPriceActuality && !checkPriceActuality(false)
        && m_dialogs.askQuestion(QStringLiteral("Прайс не актуальный! При отправке заявки цены могут измениться. Продолжить?"),
                                 false, false)
               != mrYes)
        return false;
    if (showOnlyOrder && showOnlyOrder())
        return false;
    QDateTime oldest;
    const int count = CountUnsentOrders(m_dm, &oldest);
    if (count > 0
        && m_dialogs.askQuestion(QStringLiteral("Будет отправлено ") + QString::number(count) + QStringLiteral(" заявок из архива.\r\n")
                                     + QStringLiteral("Самая старая из них от ") + QLocale().toString(oldest.date(), QLocale::ShortFormat)
                                     + QStringLiteral("\r\nПродолжить?"),
                                 true, false)
               != mrYes)
        return false;
    return m_saver.SaveCurrentOrder(comment);
}

void OrderSender::SendPrepared()
{
    try {
        if (!SendUnsentOrders())
            m_dialogs.showNotice(failureNotice(), true);
    } catch (const std::exception &e) {
        // An expected failure: said in the log in its own words, and the
        // notice; the orders not yet sent stay unsent for the next time.
        m_log.logMessage(errorText(e), Error, true);
        m_dialogs.hideWait();
        // Cancelled because the program is closing: said in the log only.
        if (!dynamic_cast<const ExchangeCancelled *>(&e))
            m_dialogs.showNotice(failureNotice(), true);
        if (reloadArchive)
            reloadArchive();
        return;
    } catch (...) {
        m_dialogs.showNotice(failureNotice(), true);
        if (reloadArchive)
            reloadArchive();
        throw;
    }
    if (reloadArchive)
        reloadArchive();
    if (showOrderTotals)
        showOrderTotals();
}

bool OrderSender::SendUnsentOrders()
{
    m_sentCount = 0;
    m_sentTotal = 0;
    m_toSend = 0;
    m_historyFailed = false;
    // Two workstations sending the same orders at once would send them twice.
    JobLock job(m_dm, JobLock::Job::Sending);
    if (!job.AcquireOrTell(m_dialogs))
        return false;
    bool result = true;
    std::vector<OrderFileInfo> files;
    std::vector<InterruptedSend> interrupted;
    {
        std::unique_ptr<Dataset> q(m_dm.OpenQuery(QStringLiteral("select * from orders where status = 0 "), true));
        if (!q)
            return false;
        for (q->First(); !q->Eof(); q->Next()) {
            OrderFileInfo info;
            const int id = q->FieldByName(QStringLiteral("ID")).AsInteger();
            try {
                m_writer.WriteOrderFile(id, q->FieldByName(QStringLiteral("COMMENT")).AsString(), info, true);
            } catch (const AppError &e) {
                // A file that is not whole on the disk never goes out: nothing
                // is sent, every order stays unsent for the next time.
                throw AppError(QStringLiteral("Заявка № ") + QString::number(id)
                               + QStringLiteral(" не отправлена: файл заявки или журнал отправки не записан. ") + e.message());
            }
            files.push_back(info);
            InterruptedSend earlier;
            if (Field *f = q->FindField(QStringLiteral("SENDFILE")); f && !f->IsNull())
                earlier.file = f->AsString().trimmed();
            if (Field *f = q->FindField(QStringLiteral("SENDSIZE")); f && !f->IsNull())
                earlier.size = f->AsLargeInt();
            if (Field *f = q->FindField(QStringLiteral("SENDHASH")); f && !f->IsNull())
                earlier.digest = f->AsString().trimmed().toLatin1();
            interrupted.push_back(earlier);
        }
    }
    m_toSend = int(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const OrderFileInfo &info = files[i];
        if (!m_connection.isConnected()) {
            m_connection.setLogin(m_settings.OrderAccount);
            if (!m_connection.ConnectToServer(false))
                return true; // the connection step has told the person
        }
        if (!interrupted[i].file.isEmpty()) {
            const EarlierSend earlier = checkEarlierSend(info.OrderId, interrupted[i]);
            if (earlier == EarlierSend::Delivered) {
                m_sentTotal += info.Sum;
                ++m_sentCount;
                continue;
            }
            if (earlier == EarlierSend::Withheld)
                continue;
        }
        // Marks the order sent itself, as soon as its file is on the server.
        if (!SendOrderFile(info.OrderId, info.Folder, false, info.Sum, info.FileName))
            return false;
    }
    if (m_connection.isConnected())
        m_connection.DisconnectFromServer();
    m_connection.setLogin(m_settings.ClientAccount);
    if (result)
        m_dialogs.showNotice(SentText(m_sentCount, m_sentTotal), false);
    if (!m_settings.AskSendLog && fetchDocuments) {
        // The orders have gone whatever happens here: a failed fetch is told
        // as such, never as a failed send.
        try {
            fetchDocuments();
        } catch (const ExchangeCancelled &) {
            throw;
        } catch (const std::exception &e) {
            m_log.logMessage(errorText(e) + QStringLiteral(" (получение дефектур и накладных после отправки заявок)"), Error,
                             true);
            m_dialogs.hideWait();
            m_dialogs.showNotice(QStringLiteral("Заявки отправлены, но дефектуры и накладные получить не удалось. "
                                                "Подробности в окне сообщений"),
                                 true);
        }
    }
    return result;
}

bool OrderSender::SendOrderFile(int orderId, const QString &folder, bool connectItself, double sum, const QString &fileName)
{
    const QString text = QStringLiteral("Отправка заявки ") + QString::number(orderId) + QStringLiteral(" ...");
    m_log.logDetail(text);
    m_dialogs.showWait(text, 1);
    bool result = false;
    if (showProgressPanel)
        showProgressPanel(true);
    struct Done {
        std::function<void(bool)> &panel;
        ~Done()
        {
            if (panel)
                panel(false);
        }
    } done{showProgressPanel};
    m_connection.setLogin(m_settings.OrderAccount);
    if (!connectItself || m_connection.ConnectToServer(false)) {
        FtpClient &ftp = m_connection.ftp();
        const QString number = QString::number(orderId);
        // The supplier picks up every "*.ini" it finds: the file goes up under
        // a name it does not match and gets its own name only when complete.
        const QString uploadName = UploadName(fileName);
        try {
            ftp.put(folder + fileName, uploadName);
        } catch (const std::exception &e) {
            removeUpload(uploadName, e);
            throw AppError(QStringLiteral("Заявка № ") + number + QStringLiteral(" не отправлена: файл ") + fileName
                           + QStringLiteral(" не удалось передать на сервер. ") + errorText(e));
        }
        // From here until the order is marked sent, a crash or a lost
        // connection leaves it unknown whether the server has the file under
        // its own name: the order says so, and the next send looks first.
        setSendMark(orderId, fileName, QFileInfo(folder + fileName).size(), contentDigest(folder + fileName));
        try {
            ftp.rename(uploadName, fileName);
        } catch (const std::exception &e) {
            const auto *ftpError = dynamic_cast<const FtpError *>(&e);
            const bool refused =
                ftpError && (ftpError->kind() == FtpError::Refused || ftpError->kind() == FtpError::NotFound);
            // A refusal is an answer: the file did not get its name. Without
            // one the rename may have happened, and the mark stays.
            if (refused)
                setSendMark(orderId, QString(), -1, QByteArray());
            removeUpload(uploadName, e);
            throw AppError(QStringLiteral("Заявка № ") + number
                           + (refused ? QStringLiteral(" не отправлена: сервер не дал переименовать переданный файл ")
                                      : QStringLiteral(" не отправлена: не удалось переименовать переданный файл "))
                           + uploadName + QStringLiteral(" в ") + fileName + QStringLiteral(". ") + errorText(e));
        }
        // The order is with the supplier: marked sent for good before
        // anything else can fail, so it never goes out twice.
        markSent(orderId);
        ++m_sentCount;
        m_sentTotal += sum;
        m_log.logMessage(QStringLiteral("Заявка № ") + number + QStringLiteral(" на сумму ") + OrderFileWriter::FloatText(sum)
                             + QStringLiteral(" отправлена"),
                         Info, true);

        // The history replaces the previous one only once it is whole on the
        // server: a broken transfer leaves yesterday's, never half of today's.
        const QString history = m_settings.ClientCode + QStringLiteral(".log");
        const QString historyUpload = UploadName(history);
        auto historyFailed = [&](const std::exception &e) {
            m_historyFailed = true;
            removeUpload(historyUpload, e);
            return AppError(QStringLiteral("Заявка № ") + number + QStringLiteral(" отправлена, но журнал отправки ") + history
                            + QStringLiteral(" не удалось передать на сервер. ") + errorText(e));
        };
        try {
            ftp.put(m_context.path(QStringLiteral("history.log")), historyUpload);
        } catch (const std::exception &e) {
            throw historyFailed(e);
        }
        try {
            replaceHistory(historyUpload, history);
        } catch (const std::exception &e) {
            throw historyFailed(e);
        }
        if (connectItself)
            m_connection.DisconnectFromServer();
        result = true;
    }
    m_dialogs.hideWait();
    return result;
}

void OrderSender::replaceHistory(const QString &upload, const QString &history)
{
    FtpClient &ftp = m_connection.ftp();
    try {
        ftp.rename(upload, history);
        return;
    } catch (const FtpError &e) {
        if (e.kind() != FtpError::Refused && e.kind() != FtpError::NotFound)
            throw;
        m_log.logDetail(QStringLiteral("Журнал отправки не заменён переименованием: ") + e.message());
    }
    // Servers that do not rename over an existing file: yesterday's history
    // steps aside under another name, and comes back when today's cannot
    // take its place, so that the server never stays without one.
    const QString previous = history + QStringLiteral(".old");
    bool movedAside = false;
    try {
        // Left by an earlier send that could not remove it.
        ftp.deleteFile(previous);
    } catch (const std::exception &) {
    }
    try {
        ftp.rename(history, previous);
        movedAside = true;
    } catch (const FtpError &e) {
        if (e.kind() != FtpError::NotFound && e.kind() != FtpError::Refused)
            throw;
    }
    try {
        ftp.rename(upload, history);
    } catch (const std::exception &) {
        if (movedAside && ftp.isConnected()) {
            try {
                ftp.rename(previous, history);
            } catch (const FtpError &back) {
                if (back.kind() != FtpError::Refused && back.kind() != FtpError::NotFound)
                    throw;
                // No name can be given to a file on this server: the history
                // goes up under its own name directly, so that the supplier
                // always finds one there.
                m_log.logDetail(QStringLiteral("Журнал отправки не вернулся под своё имя: ") + back.message());
                storeHistoryDirectly(upload, history, previous);
                return;
            }
        }
        throw;
    }
    if (movedAside) {
        try {
            ftp.deleteFile(previous);
        } catch (const std::exception &e) {
            m_log.logDetail(QStringLiteral("Не удалось удалить с сервера прежний журнал ") + previous + QStringLiteral(": ")
                            + errorText(e));
        }
    }
}

QByteArray OrderSender::contentDigest(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f))
        return QByteArray();
    return hash.result().toHex();
}

void OrderSender::storeHistoryDirectly(const QString &upload, const QString &history, const QString &previous)
{
    FtpClient &ftp = m_connection.ftp();
    try {
        ftp.put(m_context.path(QStringLiteral("history.log")), history);
    } catch (const std::exception &e) {
        m_log.logMessage(QStringLiteral("Прежний журнал отправки остался на сервере под именем ") + previous
                             + QStringLiteral(", новый не удалось передать под именем ") + history + QStringLiteral(": ")
                             + errorText(e),
                         Error, true);
        throw;
    }
    for (const QString &name : {upload, previous}) {
        try {
            ftp.deleteFile(name);
        } catch (const std::exception &e) {
            m_log.logDetail(QStringLiteral("Не удалось удалить с сервера ") + name + QStringLiteral(": ") + errorText(e));
        }
    }
}

void OrderSender::setSendMark(int orderId, const QString &fileName, qint64 size, const QByteArray &digest)
{
    std::unique_ptr<fb::Statement> q = m_dm.CreateQuery(
        QStringLiteral("UPDATE ORDERS SET SENDFILE = :SENDFILE, SENDSIZE = :SENDSIZE, SENDHASH = :SENDHASH WHERE ID = :ID"));
    q->setValue(QStringLiteral("SENDFILE"), fileName.isEmpty() ? QVariant() : QVariant(fileName));
    q->setValue(QStringLiteral("SENDSIZE"), size < 0 ? QVariant() : QVariant(size));
    q->setValue(QStringLiteral("SENDHASH"), digest.isEmpty() ? QVariant() : QVariant(QString::fromLatin1(digest)));
    q->setValue(QStringLiteral("ID"), orderId);
    q->execute();
    m_dm.Commit();
}

void OrderSender::markSent(int orderId)
{
    std::unique_ptr<fb::Statement> q =
        m_dm.CreateQuery(QStringLiteral("UPDATE ORDERS SET STATUS = 1, SENDFILE = NULL, SENDSIZE = NULL, SENDHASH = NULL WHERE ID = :ID"));
    q->setValue(QStringLiteral("ID"), orderId);
    q->execute();
    m_dm.PostEvent(QStringLiteral("ORDERS_CHANGED")); // the other workstations' archives follow
    m_dm.Commit();
}

OrderSender::EarlierSend OrderSender::checkEarlierSend(int orderId, const InterruptedSend &earlier)
{
    const QString number = QString::number(orderId);
    // Ours only when the server's file holds exactly the bytes sent: a file
    // of that name may be another one (the numbers start again after the
    // database is cleared), and a server may answer a size for a file it
    // does not have. The file is fetched and its content compared.
    bool ours = false;
    if (!earlier.digest.isEmpty() && earlier.size >= 0) {
        try {
            QTemporaryDir check(m_context.path(QStringLiteral("Orders/.check-XXXXXX")));
            if (!check.isValid())
                throw AppError(QStringLiteral("не удалось создать временную папку в ") + m_context.path(QStringLiteral("Orders")));
            const QString local = check.filePath(QStringLiteral("server.ini"));
            m_connection.ftp().get(earlier.file, local);
            ours = QFileInfo(local).size() == earlier.size && contentDigest(local) == earlier.digest;
            if (!ours)
                m_log.logDetail(QStringLiteral("На сервере под именем ") + earlier.file
                                + QStringLiteral(" лежит другой файл, не отправленная заявка № ") + number);
        } catch (const std::exception &e) {
            m_log.logDetail(QStringLiteral("Не удалось проверить, есть ли на сервере ") + earlier.file + QStringLiteral(": ")
                            + errorText(e));
        }
    }
    if (ours) {
        markSent(orderId);
        m_log.logMessage(QStringLiteral("Заявка № ") + number + QStringLiteral(" уже на сервере (") + earlier.file
                             + QStringLiteral("): отправка прервалась после передачи, заявка отмечена отправленной"),
                         Info, true);
        return EarlierSend::Delivered;
    }
    if (m_dialogs.askQuestion(QStringLiteral("Заявка №") + number
                                  + QStringLiteral(", возможно, уже отправлена: связь прервалась во время отправки. Отправить ещё раз?"),
                              false, false)
        == mrYes) {
        setSendMark(orderId, QString(), -1, QByteArray());
        return EarlierSend::SendAgain;
    }
    m_log.logMessage(QStringLiteral("Заявка № ") + number
                         + QStringLiteral(" не отправлена повторно: возможно, поставщик уже получил её. Вопрос повторится при следующей отправке"),
                     Warning, true);
    return EarlierSend::Withheld;
}

void OrderSender::removeUpload(const QString &uploadName, const std::exception &failure)
{
    FtpClient &ftp = m_connection.ftp();
    try {
        // A lost connection is made anew for it; a server that stopped
        // answering is not waited for again.
        const auto *ftpError = dynamic_cast<const FtpError *>(&failure);
        if (!ftp.isConnected() && !(ftpError && ftpError->kind() == FtpError::Timeout))
            ftp.connect();
        if (ftp.isConnected())
            ftp.deleteFile(uploadName);
    } catch (const std::exception &e) {
        m_log.logDetail(QStringLiteral("Не удалось удалить с сервера временный файл ") + uploadName + QStringLiteral(": ")
                        + errorText(e));
    }
}

} // namespace pc
