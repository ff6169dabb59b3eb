#pragma once

#include <QLocale>
#include <QString>
#include <QtGlobal>

// Number-to-text conversions of the readouts and plant totals. Digits and
// the minus sign are always ASCII; only the decimal separator follows the
// locale.

// The "000000" pattern: the absolute value rounded to a whole number, halves
// away from zero; at least six digits with leading zeros, as many more as
// needed; a '-' in front when the value is negative and the rounded absolute
// value is not zero. 2.5 -> "000003", -0.4 -> "000000", -2.5 -> "-000003",
// 999999.5 -> "1000000".
// Values too large for a 64-bit integer still print all their integer
// digits (at most about 4940 characters for the largest long double).
// Not-a-number prints "NaN", infinities "Inf" and "-Inf".
QString formatSixDigits(long double v);

// The general floating-point format with 15 significant digits: the value
// rounded to 15 significant digits, trailing zeros dropped, no decimal
// separator for a whole number, no thousands separators, the locale's
// decimal separator. Exponent notation only below 0.0001 or from 1e15 on
// (in magnitude, after rounding), written as e.g. "1E+15" or "1,5E-05".
// 229.8 -> "229.8" (a comma locale: "229,8"), 230 -> "230", 0.05 -> "0.05".
// Not-a-number prints "NaN", infinities "Inf" and "-Inf".
QString formatGeneral(long double v, const QLocale &locale = QLocale());

// A watt-hour counter in decimal followed by " Wh", e.g. "-2147483648 Wh".
QString formatEnergyWh(qint32 wattHours);
