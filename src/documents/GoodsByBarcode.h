#pragma once
// The goods code behind a bar code, as the supplier's invoices tell it: every
// invoice line carries the goods code (IDTOVAR, the supplier's code followed
// by "_" and the line number) and the pack's bar code (EAN).

#include <QStringList>

namespace pc {

class TDM;
struct Scan;

// The supplier's goods codes of the invoice lines carrying the scanned code,
// the most recent invoice first, each once. Empty when no invoice holds it.
QStringList GoodsCodesForBarcode(TDM &dm, const Scan &scan);

// "777_3" -> "777": the supplier's code of an invoice line.
QString SupplierCodeOfLine(const QString &lineCode);

} // namespace pc
