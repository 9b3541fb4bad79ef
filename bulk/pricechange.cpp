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

PriceChange::Error PriceChange::readNumber(const QString &text, Field field, bool percent,
                                           QString *number)
{
    // Typed entries are read as every importer reads numbers, but without the scientific
    // form ("1e5"), which nobody types as a price. A price, and an amount added to or taken
    // from one, is read as the editor's price box reads it; a percentage or a VAT rate is a
    // plain number.
    const bool whole = field == Field::Whole;
    const NumberReader::Options options = whole ? NumberReader::Whole
        : field == Field::Price && !percent     ? NumberReader::Price
                                                : NumberReader::Decimal;
    NumberReader::Refusal why = NumberReader::Refusal::None;
    QString read = NumberReader::plain(text, options, NumberReader::Marks::Typed, &why);
    if (why == NumberReader::Refusal::TooLarge)
        return Error::TooLarge;
    if (why == NumberReader::Refusal::TooManyDecimals)
        return Error::TooManyDecimals;
    if (read.isEmpty())
        return Error::NotANumber;
    bool ok = false;
    const double value = read.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return Error::NotANumber;
    if (qAbs(value) > (whole ? double(kMaxWhole) : kMaxPrice))
        return Error::TooLarge;
    if (!whole && read.contains(QLatin1Char('.'))) {
        // 12.50 -> 12.5, 15.00 -> 15
        while (read.endsWith(QLatin1Char('0')))
            read.chop(1);
        if (read.endsWith(QLatin1Char('.')))
            read.chop(1);
    }
    if (read == QLatin1String("-0"))
        read = QStringLiteral("0");
    *number = read;
    return Error::None;
}

PriceChange::Error PriceChange::parse(const QString &entry, Field field, PriceChange *change)
{
    QString text = entry.trimmed();
    const bool plus = text.startsWith(QLatin1Char('+'));
    const bool minus = text.startsWith(QLatin1Char('-'));
    const bool percent = text.endsWith(QLatin1Char('%'));
    if (field == Field::Vat
        && (text.contains(QLatin1Char('+')) || text.contains(QLatin1Char('-'))
            || text.contains(QLatin1Char('%'))))
        return Error::SignInVat;
    if (plus || minus)
        text.remove(0, 1);
    if (percent)
        text.chop(1);
    // Anywhere else a sign would turn the entry into another command: "5+5" is no "+55",
    // "10-2" takes nothing away.
    if (text.contains(QLatin1Char('+')) || text.contains(QLatin1Char('-'))
        || text.contains(QLatin1Char('%')))
        return Error::MisplacedSign;
    PriceChange result;
    result.field = field;
    switch (field) {
    case Field::Price:
        if (plus)
            result.kind = percent ? Kind::PercentUp : Kind::Add;
        else if (minus)
            result.kind = percent ? Kind::PercentDown : Kind::Subtract;
        else if (percent)
            return Error::PercentWithoutSign;
        break;
    case Field::Vat:
        break;
    case Field::Whole:
        if (percent)
            return Error::NotANumber;
        if (plus)
            result.kind = Kind::Add;
        else if (minus)
            result.kind = Kind::Subtract;
        break;
    }
    const Error error = readNumber(text, field, percent, &result.number);
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
