#include "formats.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <optional>

namespace {
// Enough for every digit of the largest long double in fixed notation, or
// its general form, plus sign.
constexpr int MaxNumberChars = LDBL_MAX_10_EXP + 32;

std::optional<QString> nonFiniteText(long double v)
{
    if (std::isnan(v))
        return QStringLiteral("NaN");
    if (std::isinf(v))
        return v < 0 ? QStringLiteral("-Inf") : QStringLiteral("Inf");
    return std::nullopt;
}
} // namespace

QString formatSixDigits(long double v)
{
    if (auto text = nonFiniteText(v))
        return *text;

    // roundl rounds halves away from zero and, unlike adding 0.5, never
    // lifts 0.49999... to 1.
    const long double rounded = std::round(std::fabs(v));

    QString digits;
    if (rounded < 1e18L) {
        digits = QString::number(static_cast<quint64>(rounded));
    } else {
        // std::to_chars ignores the C locale, which QCoreApplication sets
        // from the environment.
        char buf[MaxNumberChars];
        const auto res = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, 0);
        digits = QString::fromLatin1(buf, res.ptr - buf);
    }

    QString text;
    if (v < 0 && rounded != 0)
        text += QLatin1Char('-');
    if (digits.size() < 6)
        text += QString(6 - digits.size(), QLatin1Char('0'));
    text += digits;
    return text;
}

QString formatGeneral(long double v, const QLocale &locale)
{
    if (auto text = nonFiniteText(v))
        return *text;
    if (v == 0)
        v = 0; // a negative zero reads "0", not "-0"

    // The general format with precision 15 is exactly C's %.15Lg: round to
    // 15 significant digits, exponent when it is below -4 or at least 15,
    // trailing zeros removed. to_chars gives it without locale influence.
    char buf[MaxNumberChars];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    const QString plain = QString::fromLatin1(buf, res.ptr - buf);

    QString text;
    text.reserve(plain.size() + 4);
    const QString decimal = locale.decimalPoint();
    const int e = plain.indexOf(QLatin1Char('e'));
    const QString mantissa = e < 0 ? plain : plain.left(e);
    for (QChar c : mantissa) {
        if (c == QLatin1Char('.'))
            text += decimal;
        else
            text += c;
    }
    if (e >= 0)
        text += QLatin1Char('E') + plain.mid(e + 1);
    return text;
}

QString formatEnergyWh(qint32 wattHours)
{
    return QString::number(wattHours) + QStringLiteral(" Wh");
}
