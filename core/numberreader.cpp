#include "core/numberreader.h"

#include <QLocale>
#include <QStringList>

#include <cmath>

namespace {

// Whole numbers beyond this are not held exactly by a double, nor meant by any seller.
constexpr double kLargestWhole = 9.0e15;

// Signs and codes of the currencies of the marketplace's sites, as spreadsheets put them
// before or after a currency-formatted cell's number.
const QStringList &currencies()
{
    static const QStringList list = {
        QStringLiteral("\u20AC"), QStringLiteral("EUR"),    QStringLiteral("$"),
        QStringLiteral("USD"),    QStringLiteral("\u00A3"), QStringLiteral("GBP"),
        QStringLiteral("CHF"),    QStringLiteral("AUD"),    QStringLiteral("CAD"),
    };
    return list;
}

QStringRef withoutCurrency(const QStringRef &text)
{
    for (const QString &currency : currencies()) {
        if (text.size() > currency.size() && text.startsWith(currency, Qt::CaseInsensitive))
            return text.mid(currency.size()).trimmed();
        if (text.size() > currency.size() && text.endsWith(currency, Qt::CaseInsensitive))
            return text.left(text.size() - currency.size()).trimmed();
    }
    return text;
}

// ASCII digits only: other scripts' digits are no number in a price column.
bool isDigits(const QStringRef &text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// Thousands groups: the first of one to three digits (and not a lone leading zero before
// others), every further one of exactly three.
bool joinGroups(const QStringRef &text, QChar mark, QString *digits)
{
    const QVector<QStringRef> groups = text.split(mark);
    for (int i = 0; i < groups.size(); ++i) {
        const QStringRef &group = groups.at(i);
        const bool fits = i == 0
            ? group.size() >= 1 && group.size() <= 3 && group.at(0) != QLatin1Char('0')
            : group.size() == 3;
        if (!fits || !isDigits(group))
            return false;
        digits->append(group);
    }
    return true;
}

struct Number
{
    bool negative = false;
    QString integer; // digits, possibly empty (".5")
    QString fraction; // digits, possibly empty
    QString exponent; // empty, or an optional sign and digits
};

bool parse(const QString &text, NumberReader::Options options, Number *number)
{
    QStringRef rest = withoutCurrency(text.midRef(0).trimmed());
    if (rest.isEmpty())
        return false;
    if (rest.at(0) == QLatin1Char('-') || rest.at(0) == QLatin1Char('+')) {
        number->negative = rest.at(0) == QLatin1Char('-');
        rest = rest.mid(1);
    }
    if (options & NumberReader::Exponent) {
        const int e = rest.indexOf(QLatin1Char('e'), 0, Qt::CaseInsensitive);
        if (e >= 0) {
            QStringRef exponent = rest.mid(e + 1);
            const QStringRef digits
                = exponent.startsWith(QLatin1Char('+')) || exponent.startsWith(QLatin1Char('-'))
                ? exponent.mid(1)
                : exponent;
            if (digits.isEmpty() || digits.size() > 3 || !isDigits(digits))
                return false;
            number->exponent = exponent.toString();
            rest = rest.left(e);
        }
    }

    const int points = rest.count(QLatin1Char('.'));
    const int commas = rest.count(QLatin1Char(','));
    QChar decimal; // null: none
    QChar group; // null: none
    if (points > 0 && commas > 0) {
        // The later mark is the decimal mark, the other one groups the thousands before it.
        decimal = rest.lastIndexOf(QLatin1Char('.')) > rest.lastIndexOf(QLatin1Char(','))
            ? QLatin1Char('.')
            : QLatin1Char(',');
        group = decimal == QLatin1Char('.') ? QLatin1Char(',') : QLatin1Char('.');
        if (rest.count(decimal) != 1)
            return false;
    } else if (points + commas > 1) {
        // One mark several times can only group thousands.
        group = points > 0 ? QLatin1Char('.') : QLatin1Char(',');
    } else if (points + commas == 1) {
        const QChar mark = points > 0 ? QLatin1Char('.') : QLatin1Char(',');
        const int at = rest.indexOf(mark);
        const bool looksGrouped
            = rest.size() - at - 1 == 3 && at >= 1 && at <= 3 && rest.at(0) != QLatin1Char('0');
        // The ambiguous "1.234" / "1,234", read as a German seller means it (see the header).
        if (looksGrouped && number->exponent.isEmpty()
            && ((options & NumberReader::Whole) || mark == QLatin1Char('.')))
            group = mark;
        else
            decimal = mark;
    }
    if (!group.isNull() && !number->exponent.isEmpty())
        return false;

    const int decimalAt = decimal.isNull() ? -1 : rest.indexOf(decimal);
    const QStringRef integer = decimalAt < 0 ? rest : rest.left(decimalAt);
    const QStringRef fraction = decimalAt < 0 ? QStringRef() : rest.mid(decimalAt + 1);
    if (group.isNull()) {
        if (!isDigits(integer))
            return false;
        number->integer = integer.toString();
    } else if (!joinGroups(integer, group, &number->integer)) {
        return false;
    }
    if (!isDigits(fraction))
        return false;
    number->fraction = fraction.toString();
    return !number->integer.isEmpty() || !number->fraction.isEmpty();
}

} // namespace

QString NumberReader::plain(const QString &text, Options options)
{
    Number number;
    if (!parse(text, options, &number))
        return QString();
    const QString sign = number.negative ? QStringLiteral("-") : QString();
    const QString integer = number.integer.isEmpty() ? QStringLiteral("0") : number.integer;

    if (!number.exponent.isEmpty()) {
        bool ok = false;
        const double value = (sign + integer + QLatin1Char('.') + number.fraction + QLatin1Char('e')
                              + number.exponent)
                                 .toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return QString();
        if (!(options & Whole))
            return QString::number(value, 'f', QLocale::FloatingPointShortest);
        if (value != std::floor(value) || std::fabs(value) > kLargestWhole)
            return QString();
        return QString::number(qint64(value));
    }

    if (options & Whole) {
        for (const QChar c : qAsConst(number.fraction)) {
            if (c != QLatin1Char('0'))
                return QString();
        }
        if (integer.size() > 15)
            return QString();
        return sign + integer;
    }
    return number.fraction.isEmpty() ? sign + integer
                                     : sign + integer + QLatin1Char('.') + number.fraction;
}

bool NumberReader::read(const QString &text, double *value, Options options)
{
    const QString number = plain(text, options);
    if (number.isEmpty())
        return false;
    bool ok = false;
    const double result = number.toDouble(&ok);
    if (!ok || !std::isfinite(result))
        return false;
    *value = result;
    return true;
}

bool NumberReader::readStored(const QString &text, double *value)
{
    bool ok = false;
    const double result = text.trimmed().toDouble(&ok);
    if (ok && std::isfinite(result)) {
        *value = result;
        return true;
    }
    return read(text, value, Decimal | Exponent);
}

bool NumberReader::mayBecomeNumber(const QString &text)
{
    static const QString allowed = [] {
        QString chars = QStringLiteral("0123456789.,+- \u00A0");
        for (const QString &currency : currencies())
            chars += currency.toUpper();
        return chars;
    }();
    for (const QChar c : text) {
        if (!allowed.contains(c.toUpper()))
            return false;
    }
    return true;
}
