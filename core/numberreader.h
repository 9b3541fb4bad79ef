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
// A single mark followed by exactly three digits ("1.234", "1,234", "$2,500") could group
// thousands or begin decimals. What decides it is, in this order: the marks the rest of a
// file's column shows (another cell "1,234.50" or "3,99"), a currency of the column or of
// the cell itself ($, £, USD, GBP: English; €, EUR: German), and for a text typed into
// this program's German fields the German reading (a point groups thousands, a comma
// begins decimals). A file's column that shows nothing leaves such a number undecided and
// it is refused (Ambiguous). In a whole number (a count) either mark groups thousands
// unless the column shows its decimal mark: three decimals make no count, and "1,000"
// pieces are a thousand.
class NumberReader
{
public:
    // The largest price (and cost) the program takes: the editor's price boxes end here.
    static constexpr double maxPrice = 999999.99;

    enum Option {
        Decimal = 0x0,
        // A count: refused unless it is whole ("3", "3,0", "1.000").
        Whole = 0x1,
        // Also the scientific form spreadsheets write big numbers in ("1E+05", "1,5e3").
        Exponent = 0x2,
        // A price or cost: never negative, never above maxPrice, at most two decimals
        // (zeros after them aside).
        Price = 0x4,
        // Never negative (a count of pieces).
        NotNegative = 0x8,
        // Where nothing else decides, a point before three digits groups thousands ("1.234",
        // "12.000"): the file as a whole shows the German form (see FileMarks).
        GroupingPoint = 0x10,
    };
    Q_DECLARE_FLAGS(Options, Option)

    // Which mark begins the decimals where a number is read.
    enum class Marks {
        Typed, // typed into this program's fields: read the German way, unless a currency says
        Unknown, // a file's column that shows nothing: a single mark before three digits is
                 // undecided
        German, // decimal comma
        English, // decimal point
    };

    // Why a text was not taken.
    enum class Refusal { None, NoNumber, Ambiguous, Negative, TooLarge, TooManyDecimals };

    // What the cells of one column of a file show of the file's decimal mark.
    class ColumnMarks
    {
    public:
        void add(const QString &text);
        // Unknown when the column shows nothing, or marks of both kinds.
        Marks marks() const;

    private:
        bool m_germanMarks = false;
        bool m_englishMarks = false;
        bool m_germanCurrency = false;
        bool m_englishCurrency = false;
    };

    // What all the number cells of a file show together. A German office suite writes every
    // number in the German form: a file whose cells show only that form (a decimal comma, or
    // points grouping thousands with a comma or several points) and never the English one
    // reads a whole number with a point group ("1.234", "12.000") the German way, also in a
    // column that shows nothing by itself. Currencies play no part here.
    class FileMarks
    {
    public:
        void add(const QString &text);
        // GroupingPoint when the file shows the German form, else nothing.
        Options options() const;

    private:
        bool m_german = false;
        bool m_english = false;
    };

    // The number in plain notation: an optional "-", the digits, and a "." followed by the
    // decimals as they were written ("1.234,50" -> "1234.50", "12,5" -> "12.5"); a whole
    // number without decimals ("3,0" -> "3"). Empty when the text is not taken; `why`
    // then tells the reason.
    static QString plain(const QString &text, Options options = Decimal, Marks marks = Marks::Typed,
                         Refusal *why = nullptr);
    // The value of the number; false, and `*value` untouched, when the text is not taken.
    static bool read(const QString &text, double *value, Options options = Decimal,
                     Marks marks = Marks::Typed, Refusal *why = nullptr);
    // A number as the database or another program stored it: in plain notation, where a
    // single point is always the decimal point ("1.234" is 1.234); older rows may hold a
    // seller's text ("12,50"), which is read as above. False when it is no number.
    static bool readStored(const QString &text, double *value);
    // Whether `text` holds only what a number read here may hold while it is typed: digits,
    // marks, a sign, blanks and the currency signs and letters of the currency codes.
    static bool mayBecomeNumber(const QString &text);
    // The reason in German words, for the seller ("mehr als zwei Nachkommastellen").
    static QString refusalText(Refusal why);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(NumberReader::Options)
