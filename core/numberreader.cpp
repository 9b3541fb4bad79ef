#include "core/numberreader.h"

#include <QCoreApplication>
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

// Which decimal mark a currency's own sites write: the euro's German, the dollar's and the
// pound's English. The other codes tell nothing.
NumberReader::Marks marksOfCurrency(const QString &currency)
{
    if (currency == QStringLiteral("\u20AC") || currency == QLatin1String("EUR"))
        return NumberReader::Marks::German;
    if (currency == QLatin1String("$") || currency == QLatin1String("USD")
        || currency == QStringLiteral("\u00A3") || currency == QLatin1String("GBP"))
        return NumberReader::Marks::English;
    return NumberReader::Marks::Unknown;
}

QStringRef withoutCurrency(const QStringRef &text, NumberReader::Marks *shown)
{
    for (const QString &currency : currencies()) {
        if (text.size() > currency.size() && text.startsWith(currency, Qt::CaseInsensitive)) {
            *shown = marksOfCurrency(currency);
            return text.mid(currency.size()).trimmed();
        }
        if (text.size() > currency.size() && text.endsWith(currency, Qt::CaseInsensitive)) {
            *shown = marksOfCurrency(currency);
            return text.left(text.size() - currency.size()).trimmed();
        }
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
    // What the text itself shows: by a currency, and by a mark that can only be decimal
    // (or only group thousands).
    NumberReader::Marks currency = NumberReader::Marks::Unknown;
    NumberReader::Marks marks = NumberReader::Marks::Unknown;
    bool ambiguous = false; // refused only for being undecided
    QString integer; // digits, possibly empty (".5")
    QString fraction; // digits, possibly empty
    QString exponent; // empty, or an optional sign and digits
};

NumberReader::Marks marksOfDecimal(QChar decimal)
{
    return decimal == QLatin1Char(',') ? NumberReader::Marks::German : NumberReader::Marks::English;
}

bool parse(const QString &text, NumberReader::Options options, NumberReader::Marks marks,
           Number *number)
{
    using Marks = NumberReader::Marks;
    QStringRef rest = withoutCurrency(text.midRef(0).trimmed(), &number->currency);
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
        number->marks = marksOfDecimal(decimal);
    } else if (points + commas > 1) {
        // One mark several times can only group thousands.
        group = points > 0 ? QLatin1Char('.') : QLatin1Char(',');
        number->marks = group == QLatin1Char('.') ? Marks::German : Marks::English;
    } else if (points + commas == 1) {
        const QChar mark = points > 0 ? QLatin1Char('.') : QLatin1Char(',');
        const int at = rest.indexOf(mark);
        const bool looksGrouped = rest.size() - at - 1 == 3 && at >= 1 && at <= 3
            && rest.at(0) != QLatin1Char('0') && number->exponent.isEmpty();
        if (!looksGrouped) {
            decimal = mark;
            number->marks = marksOfDecimal(decimal);
        } else {
            // "1.234" / "1,234": decided by the column, else by a currency, else by the
            // German fields' reading (see the header).
            Marks decided = marks;
            if ((decided == Marks::Typed || decided == Marks::Unknown)
                && number->currency != Marks::Unknown)
                decided = number->currency;
            if (decided == Marks::German || decided == Marks::English) {
                const bool decimalMark = (decided == Marks::German) == (mark == QLatin1Char(','));
                (decimalMark ? decimal : group) = mark;
            } else if ((options & NumberReader::Whole)
                       || (decided == Marks::Typed && mark == QLatin1Char('.'))
                       || ((options & NumberReader::GroupingPoint) && decided == Marks::Unknown
                           && mark == QLatin1Char('.'))) {
                group = mark;
            } else if (decided == Marks::Typed) {
                decimal = mark;
            } else {
                number->ambiguous = true;
                return false;
            }
        }
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

namespace {

// The plain notation of a number parse() took; empty when it is not taken.
QString plainOf(const Number &number, NumberReader::Options options)
{
    const QString sign = number.negative ? QStringLiteral("-") : QString();
    const QString integer = number.integer.isEmpty() ? QStringLiteral("0") : number.integer;

    if (!number.exponent.isEmpty()) {
        bool ok = false;
        const double value = (sign + integer + QLatin1Char('.') + number.fraction + QLatin1Char('e')
                              + number.exponent)
                                 .toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return QString();
        if (!(options & NumberReader::Whole))
            return QString::number(value, 'f', QLocale::FloatingPointShortest);
        if (value != std::floor(value) || std::fabs(value) > kLargestWhole)
            return QString();
        return QString::number(qint64(value));
    }

    if (options & NumberReader::Whole) {
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

// Whether a number in plain notation breaks the bounds `options` set.
NumberReader::Refusal outOfBounds(const QString &plain, NumberReader::Options options)
{
    using Refusal = NumberReader::Refusal;
    if (!(options & (NumberReader::Price | NumberReader::NotNegative)))
        return Refusal::None;
    const double value = plain.toDouble();
    if (value < 0)
        return Refusal::Negative;
    if (!(options & NumberReader::Price))
        return Refusal::None;
    if (!std::isfinite(value) || value > NumberReader::maxPrice)
        return Refusal::TooLarge;
    const int point = plain.indexOf(QLatin1Char('.'));
    if (point >= 0) {
        for (int i = point + 3; i < plain.size(); ++i) {
            if (plain.at(i) != QLatin1Char('0'))
                return Refusal::TooManyDecimals;
        }
    }
    return Refusal::None;
}

} // namespace

QString NumberReader::plain(const QString &text, Options options, Marks marks, Refusal *why)
{
    Refusal refusal = Refusal::NoNumber;
    QString result;
    Number number;
    if (parse(text, options, marks, &number)) {
        result = plainOf(number, options);
        if (!result.isEmpty()) {
            refusal = outOfBounds(result, options);
            if (refusal != Refusal::None)
                result.clear();
        }
    } else if (number.ambiguous) {
        refusal = Refusal::Ambiguous;
    }
    if (why)
        *why = refusal;
    return result;
}

bool NumberReader::read(const QString &text, double *value, Options options, Marks marks,
                        Refusal *why)
{
    const QString number = plain(text, options, marks, why);
    if (number.isEmpty())
        return false;
    bool ok = false;
    const double result = number.toDouble(&ok);
    if (!ok || !std::isfinite(result)) {
        if (why)
            *why = Refusal::NoNumber;
        return false;
    }
    *value = result;
    return true;
}

void NumberReader::ColumnMarks::add(const QString &text)
{
    // An ambiguous number without a currency tells nothing; one with a currency is taken.
    Number number;
    if (!parse(text, Decimal | Exponent, Marks::Unknown, &number))
        return;
    m_germanMarks = m_germanMarks || number.marks == Marks::German;
    m_englishMarks = m_englishMarks || number.marks == Marks::English;
    m_germanCurrency = m_germanCurrency || number.currency == Marks::German;
    m_englishCurrency = m_englishCurrency || number.currency == Marks::English;
}

NumberReader::Marks NumberReader::ColumnMarks::marks() const
{
    // Marks that can mean one thing only tell more than a currency, which a file may show
    // in another country's form.
    if (m_germanMarks || m_englishMarks) {
        if (m_germanMarks == m_englishMarks)
            return Marks::Unknown;
        return m_germanMarks ? Marks::German : Marks::English;
    }
    if (m_germanCurrency == m_englishCurrency)
        return Marks::Unknown;
    return m_germanCurrency ? Marks::German : Marks::English;
}

void NumberReader::FileMarks::add(const QString &text)
{
    Number number;
    if (!parse(text, Decimal | Exponent, Marks::Unknown, &number))
        return;
    m_german = m_german || number.marks == Marks::German;
    m_english = m_english || number.marks == Marks::English;
}

NumberReader::Options NumberReader::FileMarks::options() const
{
    return m_german && !m_english ? Options(GroupingPoint) : Options();
}

QString NumberReader::refusalText(Refusal why)
{
    const char *const context = "NumberReader";
    switch (why) {
    case Refusal::None:
        return QString();
    case Refusal::NoNumber:
        return QCoreApplication::translate(context, "keine Zahl");
    case Refusal::Ambiguous:
        return QCoreApplication::translate(context,
                                           "mehrdeutig: Tausendertrennzeichen oder Dezimalzeichen");
    case Refusal::Negative:
        return QCoreApplication::translate(context, "negativ");
    case Refusal::TooLarge:
        return QCoreApplication::translate(context, "größer als %1")
            .arg(QLocale(QLocale::German, QLocale::Germany).toString(maxPrice, 'f', 2));
    case Refusal::TooManyDecimals:
        return QCoreApplication::translate(context, "mehr als zwei Nachkommastellen");
    }
    return QString();
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
