#pragma once
// Reading and writing the three settings files. Each load step fills part of
// the Settings values; the main window runs the steps in their order, between
// which the database is opened and the page is filled.

#include "core/Settings.h"

#include <QStringList>

namespace pc {
class AppContext;
}
class Dialogs;
class MessageLog;

// Captions of the invoice lines grid, in grid order (the thirteenth follows the
// producer-price option).
QStringList nakladLineCaptions(bool calcPriceProducerWithNds);
// Whether a column is printed when client.ini says nothing.
bool defaultPrintColumnVisible(int index);

class SettingsFiles {
public:
    SettingsFiles(const pc::AppContext &context, Dialogs &dialogs, MessageLog &log);

    QString clientIni() const;
    QString serverIni() const;
    QString exchangeIni() const;

    // client.ini: identity, delivery addresses, printing, price tags, markups,
    // the storage driver and the check boxes. Creates the invoice export folder.
    void readClient(Settings &s) const;
    // The driver change handshake: asks about the data import after a switch.
    // The mark stays while the import is wanted and not yet done.
    void driverHandshake(Settings &s) const;
    // The import after a driver change has committed (or was declined).
    void clearDriverChanged() const;
    // PriceDate from the modification time of Data/pricein.dbf.
    void readPriceDate(Settings &s) const;
    // Orders and Update folders (Data as well); failures are logged, loading goes on.
    void createFolders() const;
    // server.ini with the main-address change check and the missing-address notice.
    // tellMissingAddress: a missing main address is told (not when the
    // identity window is about to ask for it).
    void readServer(Settings &s, bool tellMissingAddress = true) const;
    void setAccounts(Settings &s) const;
    void readExchange(Settings &s) const;

    // Writes everything the settings page holds as one change: server.ini,
    // client.ini and exchange.ini are replaced together (a journal beside
    // them, settings.journal, carries the change across a crash). Throws
    // AppError when they cannot be written; all three then keep what they
    // had. markupCells: the texts of the markup grid's value cells; cells
    // that are not numbers keep the stored value.
    void save(Settings &s, const QStringList &markupCells) const;
    // At start, before the settings are read and while no other copy runs on
    // the folder: a save cut off after its journal was written is completed,
    // one cut off before is dropped, and temporary files of whole-file writes
    // that a killed run left in the program folder, Data and Orders go.
    static void finishInterruptedSave(const pc::AppContext &context);
    QString journal() const;

    // The identity asked on the first start: each field given is written where
    // the program reads it (client.ini [Header]; the main address to server.ini
    // and as the address last accepted, so it raises no change question).
    void writeIdentity(const ClientIdentity &id) const;
    // The identity as the files hold it now.
    ClientIdentity storedIdentity() const;

    // Delivery addresses, written at once.
    void writeDefaultAddress(const QString &text) const;
    // Returns the section number used, 0 when all 100 are taken.
    int addAddress(Settings &s, const QString &address, const QString &code) const;
    void changeAddress(Settings &s, int index, const QString &address, const QString &code) const;
    void removeAddress(Settings &s, int index) const;

    // Reset: client.ini → bkclient.ini, a new client.ini with name and code only.
    // False when client.ini could not be moved aside: it is then left as it
    // was, the failure shown and logged, and nothing is reset.
    bool resetClientIni(const Settings &s) const;

private:
    const pc::AppContext &m_context;
    Dialogs &m_dialogs;
    MessageLog &m_log;
};
