#pragma once

#include "core/numberreader.h"

#include <QString>

// One entry of the price and quantity dialog: "12,50" sets, "+2" / "-2" add or subtract,
// "+5%" / "-5%" change prices by a percentage of each article's own value. A sign counts
// only as the first character and "%" only as the last. Entries are read strictly: a price
// (and an amount added to or taken from one) as the editor's price box reads it, at most
// two decimals and never above the one maximum; only a number that was parsed ever reaches
// a statement. The new value of each article is computed here from the value read from it,
// and written as that value.
class PriceChange
{
public:
    enum class Kind { Set, Add, Subtract, PercentUp, PercentDown };
    enum class Field { Price, Vat, Whole };
    enum class Error {
        None,
        PercentWithoutSign, // "10%" in a price field
        SignInVat, // "+", "-" or "%" in the VAT field
        NotANumber, // nothing that reads as a number of the field's kind
        TooLarge, // a number above the field's maximum
        TooManyDecimals, // a price with more than two decimals ("12,345", "0,001")
        MisplacedSign, // "+" or "-" not first, "%" not last ("5+5", "10-2", "+-3")
    };
    // What a change makes of one article's value.
    enum class Value { Ok, Negative, TooLarge };

    // The highest price the program stores (the same everywhere), and the highest count
    // (quantity, lot size).
    static constexpr double kMaxPrice = NumberReader::maxPrice;
    static constexpr qint64 kMaxWhole = 999999999;

    // Reads `entry` for a field of kind `field`; on success `*change` holds the change.
    static Error parse(const QString &entry, Field field, PriceChange *change);

    // The new value for an article whose stored value is `stored`, in plain decimal notation
    // (prices in whole cents: a percentage or an amount is rounded to the cent, half away
    // from zero). Negative results and results above the field's maximum are refused.
    Value apply(double stored, QString *value) const;

    Kind kind = Kind::Set;
    Field field = Field::Price;
    QString number; // the parsed number, written back in plain decimal notation

private:
    static Error readNumber(const QString &text, Field field, bool percent, QString *number);
};
