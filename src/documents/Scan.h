#pragma once
// What a bar-code scanner sends, read: a linear code (EAN-13, EAN-8, UPC-A,
// a GTIN-14) with its check digit verified, or the text of a GS1 DataMatrix
// or GS1-128 as a keyboard-wedge scanner types it (the symbology prefix
// "]d2", "]C1", "]Q3" optional, FNC1 as the GS character 0x1D or a stand-in
// character the scanner is set to send). From the DataMatrix come the goods
// code (01), the serial (21), the batch (10), the expiry (17) and production
// (11) dates; other application identifiers are passed over by their
// defined lengths, and the verification tails of the national marking codes
// (91, 92, 93) are kept as text, not interpreted.
//
// A pure function of its input: no widgets, no database. The century of a
// two-digit year is chosen against a reference year (the current one unless
// the options name another).

#include <QByteArray>
#include <QDate>
#include <QString>

namespace pc {

struct Scan {
    bool ok = false;
    QString reason;     // why it cannot be read (Russian), when not ok
    QString gtin;       // 14 digits
    QString ean13;      // 13 digits when the GTIN starts with 0, else empty
    QString batch;      // (10)
    QDate expiry;       // (17), day 00 = the month's last day
    QDate produced;     // (11)
    QString serial;     // (21)
    QString crypto91;   // verification key, as sent
    QString crypto92;   // verification code, as sent
    QString crypto93;   // short verification code, as sent
    bool linear = false; // a linear code (no batch, expiry or serial possible)
};

struct ScanOptions {
    // A printable character the scanner sends for FNC1 (0: GS only). The GS
    // character is always taken as FNC1.
    char fnc1StandIn = 0;
    // The year two-digit years are read against (GS1's rule: up to 49 years
    // ahead, otherwise the past century); 0: the current year.
    int referenceYear = 0;
};

Scan ParseScan(const QByteArray &raw);
Scan ParseScan(const QByteArray &raw, const ScanOptions &options);

// The GS1 check digit (mod 10, weights 3 and 1 from the right) of the digits
// given without it; -1 when they are not all digits.
int Gs1CheckDigit(QByteArrayView digitsWithoutCheck);

// The short form a person reads in messages: the EAN-13 when there is one,
// else the GTIN.
inline QString ScanCode(const Scan &s) { return s.ean13.isEmpty() ? s.gtin : s.ean13; }

} // namespace pc
