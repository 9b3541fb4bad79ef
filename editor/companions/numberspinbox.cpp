#include "editor/companions/numberspinbox.h"

QValidator::State numberEntryState(const QString &text, const QString &prefix,
                                   const QString &suffix, NumberReader::Options options,
                                   double minimum, double maximum, double *value)
{
    QString plain = text;
    if (!prefix.isEmpty() && plain.startsWith(prefix))
        plain.remove(0, prefix.size());
    if (!suffix.isEmpty() && plain.endsWith(suffix))
        plain.chop(suffix.size());
    double number = 0;
    if (NumberReader::read(plain, &number, options) && number >= minimum && number <= maximum) {
        *value = number;
        return QValidator::Acceptable;
    }
    return NumberReader::mayBecomeNumber(plain) ? QValidator::Intermediate : QValidator::Invalid;
}

QValidator::State NumberSpinBox::readRounded(const QString &text, double *value) const
{
    // A price is never negative nor above the program's one maximum, whatever range the box
    // was given, and never takes more decimals than it has ("1,234" is no price).
    double number = 0;
    const QValidator::State state = numberEntryState(text, prefix(), suffix(), NumberReader::Price,
                                                     0.0, NumberReader::maxPrice, &number);
    if (state == QValidator::Acceptable)
        *value = QString::number(number, 'f', decimals()).toDouble();
    return state;
}

QValidator::State NumberSpinBox::validate(QString &text, int &) const
{
    double value = 0;
    const QValidator::State state = readRounded(text, &value);
    if (state != QValidator::Acceptable)
        return state;
    // The number as the box keeps it, rounded to its decimals, must lie in the range.
    return value >= minimum() && value <= maximum() ? QValidator::Acceptable
                                                    : QValidator::Intermediate;
}

double NumberSpinBox::valueFromText(const QString &text) const
{
    double value = 0;
    readRounded(text, &value);
    return value;
}

// Nothing to mend: what can't be read is left for the box to replace by its last number.
void NumberSpinBox::fixup(QString &) const { }
