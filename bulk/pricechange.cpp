#include "bulk/pricechange.h"

#include "core/numberreader.h"

bool PriceChange::readNumber(QString text, bool whole, QString *number)
{
    // Typed entries are read as every importer reads numbers, but without the scientific
    // form ("1e5"), which nobody types as a price.
    double value = 0;
    if (!NumberReader::read(text, &value, whole ? NumberReader::Whole : NumberReader::Decimal)
        || qAbs(value) > (whole ? 999999999.0 : 1e12))
        return false;
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
    return true;
}

PriceChange::Error PriceChange::parse(const QString &entry, Field field, PriceChange *change)
{
    const bool plus = entry.contains(QLatin1Char('+'));
    const bool minus = entry.contains(QLatin1Char('-'));
    const bool percent = entry.contains(QLatin1Char('%'));
    QString text = entry;
    PriceChange result;
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
    if (!readNumber(text, field == Field::Whole, &result.number))
        return Error::NotANumber;
    *change = result;
    return Error::None;
}

QString PriceChange::statement(const QString &column, qlonglong articleId) const
{
    QString value;
    switch (kind) {
    case Kind::Set:
        value = number;
        break;
    case Kind::Add:
        value = column + QStringLiteral(" + (") + number + QLatin1Char(')');
        break;
    case Kind::Subtract:
        value = column + QStringLiteral(" - (") + number + QLatin1Char(')');
        break;
    case Kind::PercentUp:
    case Kind::PercentDown:
        value
            = QStringLiteral("ROUND(%1 * (100 %2 (%3)) / 100.0, 2)")
                  .arg(column, kind == Kind::PercentUp ? QStringLiteral("+") : QStringLiteral("-"),
                       number);
        break;
    }
    const QString clearCurrent
        = column == QLatin1String("StartPrice") ? QStringLiteral("CurrentPrice=0, ") : QString();
    return QStringLiteral("UPDATE articles SET ") + clearCurrent + column + QStringLiteral(" = ")
        + value + QStringLiteral(" WHERE id=") + QString::number(articleId);
}
