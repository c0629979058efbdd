#pragma once
// Sending orders: the current order goes into the archive, every unsent
// archived order is written as an order file and uploaded under the order
// account together with the sending history, and each uploaded order is
// marked sent at once.

#include <QDateTime>
#include <QString>
#include <exception>
#include <functional>

class Dialogs;
class MessageLog;
struct Settings;

namespace pc {

class AppContext;
class OrderFileWriter;
class OrderSaver;
class ServerConnection;
class TDM;

// Unsent orders in the archive and the date of the oldest.
int CountUnsentOrders(TDM &dm, QDateTime *oldest = nullptr);

class OrderSender {
public:
    OrderSender(TDM &dm, Dialogs &dialogs, MessageLog &log, const AppContext &context, const Settings &settings,
                ServerConnection &connection, OrderFileWriter &writer, OrderSaver &saver);

    // What the window does along the way.
    std::function<bool(bool ask)> checkPriceActuality; // true when the price list is current
    std::function<bool()> showOnlyOrder;               // the changes mode after a price update
    std::function<void()> leaveChangesMode;            // clears "Только заказ" and shows the order page
    std::function<void()> dropDownAddresses;
    std::function<void(bool visible)> showProgressPanel;
    std::function<void()> reloadArchive;
    std::function<void()> showOrderTotals;
    // The supplier's answers, fetched after sending when the log question is off.
    std::function<void()> fetchDocuments;

    // The send buttons. addressCount/addressIndex: the delivery address box;
    // comment: the comment box as typed. A failed upload is logged in its own
    // words and followed by the notice; the unsent orders wait for next time.
    void SendOrders(int addressCount, int addressIndex, const QString &comment);
    // The same in two steps: the questions and the save of the current order
    // (true when the sending goes on), then the uploads and what follows
    // them, which may run on another thread with a module of its own.
    bool PrepareSending(int addressCount, int addressIndex, const QString &comment);
    void SendPrepared();

    // False when an upload reported failure. An order left as being sent by
    // an interrupted send is looked for on the server first: there under its
    // name with the content sent, it is marked sent without going up again;
    // otherwise it goes up again only when the pharmacist says so, and waits
    // (as being sent) for the next send when not.
    bool SendUnsentOrders();
    // Uploads one order file and the history; true when both went up. The
    // file goes up under UploadName and is renamed once complete; before the
    // rename the order is committed as being sent (its file name and size),
    // right after it the order is marked sent and committed, before the
    // history goes up. A failed upload or a refused rename leaves the order
    // unsent, removes the partial upload where it can and throws an AppError
    // saying so; a rename whose answer never came leaves the order as being
    // sent, and SendUnsentOrders looks for its file on the server next time.
    bool SendOrderFile(int orderId, const QString &folder, bool connectItself, double sum, const QString &fileName);

    // The name an order file travels under until it is complete on the
    // server: never matched by the supplier's "*.ini" pick-up.
    static QString UploadName(const QString &fileName);
    // "Было отправлено N заявок  на сумму X".
    static QString SentText(int count, double total);

private:
    // An order whose earlier send broke off between the upload and its
    // marking as sent: the name it was being given and the size sent.
    struct InterruptedSend {
        QString file;
        qint64 size = -1;
        QByteArray digest; // SHA-256 of the bytes sent, hex
    };
    enum class EarlierSend { Delivered, SendAgain, Withheld };
    // Looks on the server for the order file of an interrupted send: there
    // with the very bytes sent (fetched and compared), the order is marked
    // sent; otherwise the pharmacist decides whether it goes out again, under
    // its own name (a file of that name with other content is replaced).
    EarlierSend checkEarlierSend(int orderId, const InterruptedSend &earlier);
    void setSendMark(int orderId, const QString &fileName, qint64 size, const QByteArray &digest); // committed at once
    static QByteArray contentDigest(const QString &path); // SHA-256 in hex; empty when unreadable
    void markSent(int orderId);                                          // committed at once
    // Puts the uploaded history in place of the server's, keeping the old
    // one whenever the new one cannot take its place.
    void replaceHistory(const QString &upload, const QString &history);
    // The last resort of a server that renames nothing onto the history's
    // name: the history is stored under it directly, and the uploaded copy
    // and the one moved aside are removed.
    void storeHistoryDirectly(const QString &upload, const QString &history, const QString &previous);
    void removeUpload(const QString &uploadName, const std::exception &failure);
    // The notice after a send that failed: what went, and what did not.
    QString failureNotice() const;

    TDM &m_dm;
    Dialogs &m_dialogs;
    MessageLog &m_log;
    const AppContext &m_context;
    const Settings &m_settings;
    ServerConnection &m_connection;
    OrderFileWriter &m_writer;
    OrderSaver &m_saver;
    // What the current send has done so far.
    int m_sentCount = 0;
    double m_sentTotal = 0;
    int m_toSend = 0;             // unsent orders this send found
    bool m_historyFailed = false; // an order went, its history did not
};

} // namespace pc
