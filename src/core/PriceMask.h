#pragma once
// Prices and sums exchanged with the supplier are masked with the client code:
// the integer part is XOR-ed with the byte sum (code page 1251) of the trimmed
// client code. Masking twice gives the value back (to hundredths).

#include <QString>

int ClientCodeSum(const QString &clientCode);
int MaskInteger(int n, const QString &clientCode);
// Integer part masked, the fraction rounded to hundredths (halves to even).
double MaskPriceValue(double x, const QString &clientCode);
