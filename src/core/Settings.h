#pragma once
// The settings values in memory. Loaded from client.ini, server.ini and
// exchange.ini at start-up, edited on the settings page, saved back; every
// part of the program's logic reads what it needs from here.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

// A delivery address of the pharmacy: the text shown and the code the supplier knows.
struct DeliveryAddress {
    QString address;
    QString code;
    int section = 0; // N of its [AddressN] section in client.ini; 0 for the main address
};

// A login on the supplier's FTP server.
struct FtpAccount {
    QString user;
    QString password;
    bool operator==(const FtpAccount &) const = default;
};

// One invoice column the printout may show.
struct PrintColumn {
    QString caption;
    bool visible = true;
};

// Storage kinds of the local database.
enum DbDriverKind : int { DriverOdbc = 0, DriverVfp = 1, DriverFirebird = 2 };

// What the supplier gives a new client: asked on the first start.
struct ClientIdentity {
    QString code;
    QString name;
    QString pass;
    QString serverAddress;
};

struct Settings {
    // ---- client.ini [Header] and friends
    QString ClientName;
    QString ClientCode;          // trimmed
    QString ClientPass;          // the client's FTP password
    QList<DeliveryAddress> DeliveryAddresses;
    int AddressIndex = 0;        // the selected delivery address
    QString PreviousServerAddress; // [Settings] ServerAddress: the main address accepted last
    int PutOrderMethod = 2;      // 0 SMTP, 1 HTTP, 2 FTP (orders always go by FTP)
    int GetPriceMethod = 1;      // 0 HTTP, 1 FTP
    bool FTPPassive = true;
    bool FTPRequireTLS = false;  // only FTP over TLS; otherwise TLS when the server offers it
    bool LeaveDocsOnServer = false;
    QString NakladFolder;
    int DBDriver = DriverFirebird;
    int DBBugFixType = 1;        // 0 unchecked, 1 checked, 2 greyed
    bool AskSendLog = false;
    bool ControlAddressChange = false;
    int AptekaPercent = 150;     // tenths of a percent
    int RoundMethod = 0;
    // Goods expiring within this many months are marked and named (0: off).
    int ShortExpiryMonths = 6;
    // Markup limits for vital drugs, as stored (−1 = not set); rows up to 50,
    // 50 to 500, above 500.
    double MaxNacen[3] = {-1, -1, -1};
    std::vector<double> MaxMarkupTable;
    bool CalcPriceProducerWithNDS = false;
    int PrinterOrientation = 0;  // 0 landscape, 1 portrait
    int NakladFontSize = 0;      // 0 small, 1 medium, 2 large
    QList<PrintColumn> NakladPrintColumns;
    int PriceTagsCount = 7;
    int PriceTagsFields = 30;
    int PriceTagsFontSize = 0;

    // ---- server.ini
    bool ServerIniExists = false;
    QStringList ServerAddresses{QString()}; // [0] main, [1..9] reserves
    int ServerPort = 21;
    QString SupplierName;
    // The public key the server's certificate carries, as the supplier gives
    // it ("sha256//<base64>", several joined by ";"); empty: none.
    QString TLSPublicKey;

    // ---- exchange.ini [Order]
    bool DeleteOrderImport = false; // the pharmacy's export file is kept unless asked
    QString FolderOrderImport;
    QString ColumnCode;
    QString ColumnQnt;
    QString FileNameOrder = QStringLiteral("order.dbf");

    // ---- derived at load
    QString PriceDate;           // local date-time of Data/pricein.dbf, as shown
    QDateTime PriceDateTime;     // the same moment
    QString PriceArchiveName;    // ClientCode + ".arc"
    FtpAccount ClientAccount;
    FtpAccount OrderAccount;
    int DriverAtLoad = DriverFirebird;
    bool ImportRequested = false;

    // The code of the selected delivery address ("" when none).
    QString selectedAddressCode() const
    {
        return AddressIndex >= 0 && AddressIndex < DeliveryAddresses.size() ? DeliveryAddresses[AddressIndex].code : QString();
    }
};
