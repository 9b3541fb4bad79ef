#pragma once

#include <QFlags>
#include <QString>

// Reads a number as sellers write it, typed into a dialog or exported by a spreadsheet:
// German ("1.234,50") or English ("1,234.50") marks, with or without thousands marks, a
// currency sign or code before or after it ("19,99 €", "EUR 19,99") and blanks around it.
// A text is read right or refused, never guessed into another number: marks in an order no
// number has ("1,2.3,4"), several decimal marks ("12,3,4"), thousands groups that are not
// three digits long ("1.23,50") or anything else around the number refuse it.
//
// A single mark followed by exactly three digits ("1.234", "1,234") could group thousands
// or begin decimals. It is read as a German seller's file means it: a point groups
// thousands (1234), a comma begins decimals (1.234), just as the German number fields of
// the editor read them and as "12,5" always was 12.5. In a whole number (a count) either
// mark groups thousands: three decimals make no count, and "1,000" pieces are a thousand.
class NumberReader
{
public:
    enum Option {
        Decimal = 0x0,
        // A count: refused unless it is whole ("3", "3,0", "1.000").
        Whole = 0x1,
        // Also the scientific form spreadsheets write big numbers in ("1E+05", "1,5e3").
        Exponent = 0x2,
    };
    Q_DECLARE_FLAGS(Options, Option)

    // The number in plain notation: an optional "-", the digits, and a "." followed by the
    // decimals as they were written ("1.234,50" -> "1234.50", "12,5" -> "12.5"); a whole
    // number without decimals ("3,0" -> "3"). Empty when the text is no number.
    static QString plain(const QString &text, Options options = Decimal);
    // The value of the number; false, and `*value` untouched, when the text is none.
    static bool read(const QString &text, double *value, Options options = Decimal);
    // A number as the database or another program stored it: in plain notation, where a
    // single point is always the decimal point ("1.234" is 1.234); older rows may hold a
    // seller's text ("12,50"), which is read as above. False when it is no number.
    static bool readStored(const QString &text, double *value);
    // Whether `text` holds only what a number read here may hold while it is typed: digits,
    // marks, a sign, blanks and the currency signs and letters of the currency codes.
    static bool mayBecomeNumber(const QString &text);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(NumberReader::Options)
