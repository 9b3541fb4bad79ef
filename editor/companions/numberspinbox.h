#pragma once

#include "core/numberreader.h"

#include <QDoubleSpinBox>
#include <QValidator>

// How far `text` typed into a spin box (with its `prefix` and `suffix`) is a number of that
// kind between `minimum` and `maximum`: Acceptable (with the number in `*value`) when
// NumberReader reads it and it lies in the range; Intermediate while it may still become
// one (empty, a sign, a mark, a currency, a number out of range); Invalid for a character
// no number has.
QValidator::State numberEntryState(const QString &text, const QString &prefix,
                                   const QString &suffix, NumberReader::Options options,
                                   double minimum, double maximum, double *value);

// A price field that reads what the seller types as every importer and dialog reads it
// ("12.5" and "12,5" alike, "1.234,50 €", "$2,500"), instead of by the locale's marks
// alone, which would take the German "12.5" for 125. It shows its number in the locale's
// form. It takes prices only: never negative, never above NumberReader::maxPrice, never
// more than two decimals; what it does not take leaves its number as it was.
class NumberSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    using QDoubleSpinBox::QDoubleSpinBox;

    QValidator::State validate(QString &text, int &pos) const override;
    double valueFromText(const QString &text) const override;
    void fixup(QString &text) const override;

private:
    // The state of `text` without the range, and its number rounded to the box's decimals
    // as the box keeps it (when Acceptable).
    QValidator::State readRounded(const QString &text, double *value) const;
};
