#include "bulk/pricechange.h"

#include "core/numberreader.h"

#include <cmath>

namespace {

QString fromCents(qint64 cents)
{
    const QString sign = cents < 0 ? QStringLiteral("-") : QString();
    cents = qAbs(cents);
    return sign + QString::number(cents / 100) + QLatin1Char('.')
        + QStringLiteral("%1").arg(cents % 100, 2, 10, QLatin1Char('0'));
}

} // namespace

PriceChange::Error PriceChange::readNumber(QString text, bool whole, QString *number)
{
    // Typed entries are read as every importer reads numbers, but without the scientific
    // form ("1e5"), which nobody types as a price.
    double value = 0;
    if (!NumberReader::read(text, &value, whole ? NumberReader::Whole : NumberReader::Decimal))
        return Error::NotANumber;
    if (qAbs(value) > (whole ? double(kMaxWhole) : kMaxPrice))
        return Error::TooLarge;
    *number = whole ? QString::number(qint64(value)) : QString::number(value, 'f', 6);
    if (!whole) {
        // 12.500000 -> 12.5, 15.000000 -> 15
        while (number->endsWith(QLatin1Char('0')))
            number->chop(1);
        if (number->endsWith(QLatin1Char('.')))
            number->chop(1);
        if (*number == QLatin1String("-0"))
            *number = QStringLiteral("0");
    }
    return Error::None;
}

PriceChange::Error PriceChange::parse(const QString &entry, Field field, PriceChange *change)
{
    const bool plus = entry.contains(QLatin1Char('+'));
    const bool minus = entry.contains(QLatin1Char('-'));
    const bool percent = entry.contains(QLatin1Char('%'));
    QString text = entry;
    PriceChange result;
    result.field = field;
    switch (field) {
    case Field::Price:
        if (plus) {
            result.kind = percent ? Kind::PercentUp : Kind::Add;
            text.remove(QLatin1Char('+'));
        } else if (minus) {
            result.kind = percent ? Kind::PercentDown : Kind::Subtract;
            text.remove(QLatin1Char('-'));
        } else if (percent) {
            return Error::PercentWithoutSign;
        }
        text.remove(QLatin1Char('%'));
        break;
    case Field::Vat:
        if (plus || minus || percent)
            return Error::SignInVat;
        break;
    case Field::Whole:
        if (plus) {
            result.kind = Kind::Add;
            text.remove(QLatin1Char('+'));
        } else if (minus) {
            result.kind = Kind::Subtract;
            text.remove(QLatin1Char('-'));
        }
        break;
    }
    const Error error = readNumber(text, field == Field::Whole, &result.number);
    if (error != Error::None)
        return error;
    *change = result;
    return Error::None;
}

PriceChange::Value PriceChange::apply(double stored, QString *value) const
{
    if (!std::isfinite(stored) || qAbs(stored) > kMaxPrice * 100)
        return Value::TooLarge; // no stored value the program wrote
    if (field == Field::Whole) {
        const qint64 old = std::llround(stored);
        const qint64 n = number.toLongLong();
        const qint64 result = kind == Kind::Add ? old + n : kind == Kind::Subtract ? old - n : n;
        if (result < 0)
            return Value::Negative;
        if (result > kMaxWhole)
            return Value::TooLarge;
        *value = QString::number(result);
        return Value::Ok;
    }
    const double n = number.toDouble();
    if (kind == Kind::Set) {
        if (n < 0)
            return Value::Negative;
        if (n > kMaxPrice)
            return Value::TooLarge;
        *value = number;
        return Value::Ok;
    }
    // In cents: stored * 100 * (100 +- n) / 100 for a percentage.
    double cents = 0;
    switch (kind) {
    case Kind::Add:
        cents = stored * 100 + n * 100;
        break;
    case Kind::Subtract:
        cents = stored * 100 - n * 100;
        break;
    case Kind::PercentUp:
        cents = stored * (100 + n);
        break;
    case Kind::PercentDown:
        cents = stored * (100 - n);
        break;
    case Kind::Set:
        break;
    }
    // A stored 19.99 is 1998.9999...: the cents are rounded as written, not as stored.
    const qint64 rounded = std::llround(std::round(cents * 1e6) / 1e6);
    if (rounded < 0)
        return Value::Negative;
    if (rounded > kMaxPrice * 100)
        return Value::TooLarge;
    *value = fromCents(rounded);
    return Value::Ok;
}
