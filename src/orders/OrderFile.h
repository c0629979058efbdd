#pragma once
// The order file: an archived order as the supplier's order system reads it,
// an INI-layout text in code page 1251 with CR LF line ends, named by the
// client or delivery address code, "_", the order number and ".ini".
//
//   [Header]                 Key=Value, no blanks around "="
//   Id, ClientCode, ClientCodeMain, ClientName, ClientAddress,
//   PriceDateTime, ZakazDateTime, Comment, RecordCount, VersionProgram, Sum
//   (two empty lines)
//   [Record0]                Key = Value, one section per line with a
//   Id, Name, Product,       quantity above 0, one empty line between
//   Count, Price, Summa,     sections; prices and sums masked as stored,
//   Change = 2               no line end after the last line
//
// Files written for sending go to the Orders folder and add a section to the
// sending history history.log in the program folder. Every file is written
// whole under a temporary name and then renamed: a failure never leaves half
// an order file behind.

#include <QDateTime>
#include <QString>
#include <functional>

class Dialogs;
class MessageLog;
struct Settings;

namespace pc {

class AppContext;
class TDM;

struct OrderFileInfo {
    QString FileName; // without folder
    int OrderId = 0;
    double Sum = 0;   // quantities times the unmasked prices
    QString Folder;   // where the file was written, ending in "/"
    QString path() const { return Folder + FileName; }
};

class OrderFileWriter {
public:
    // settings: read at each write (codes, names, price date, selected address).
    OrderFileWriter(TDM &dm, Dialogs &dialogs, MessageLog &log, const AppContext &context, const Settings &settings);

    // The clock; tests set a fixed moment.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

    // Writes order `orderNumber` with `comment` (the order's COMMENT). With
    // forSending the file goes to the Orders folder under its standard name
    // and history.log gets a section; otherwise the person picks the place.
    // True unless it throws (also when the person cancels the dialog).
    bool WriteOrderFile(int orderNumber, const QString &comment, OrderFileInfo &info, bool forSending);

    // The archive page's "save to file" button: the current archive order.
    void SaveSelectedOrder();

    QString OrdersFolder() const;      // program folder + "Orders/"
    QString HistoryFileName() const;   // program folder + "history.log"
    // The standard name: address code (or client code) + "_" + number + ".ini".
    QString StandardFileName(int orderNumber) const;

    // history.log keeps at most this many sections before it starts anew.
    static constexpr int kHistorySections = 30;

    // A float as the supplier's files show it: up to 15 significant digits,
    // the locale's decimal separator, no group separators.
    static QString FloatText(double value);

private:
    QString orderCode() const;
    QString addressText() const;
    void addHistory(double sum);

    TDM &m_dm;
    Dialogs &m_dialogs;
    MessageLog &m_log;
    const AppContext &m_context;
    const Settings &m_settings;
};

} // namespace pc
