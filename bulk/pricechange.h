#pragma once

#include <QString>

// One entry of the price and quantity dialog: "12,50" sets, "+2" / "-2" add or subtract,
// "+5%" / "-5%" change prices by a percentage of each article's own value. Entries are
// read strictly: only a number that was parsed ever reaches a statement.
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
    };

    // Reads `entry` for a field of kind `field`; on success `*change` holds the change.
    static Error parse(const QString &entry, Field field, PriceChange *change);

    // The UPDATE of `column` of article `articleId` (the start price also clears the
    // current price). Percentages are computed in decimal and rounded to cents.
    QString statement(const QString &column, qlonglong articleId) const;

    Kind kind = Kind::Set;
    QString number; // the parsed number, written back in plain decimal notation

private:
    static bool readNumber(QString text, bool whole, QString *number);
};
