#pragma once

#include <QCollatorSortKey>
#include <QString>

class QSqlDatabase;

// Text in statements as a German reader expects it: a search ignores the case of every
// letter and finds "ß" by "ss" and the other way round, and a sort puts Ä beside A, Ö beside
// O, Ü beside U and ß with ss. Both databases find the same rows.
//
// The program's MySQL/MariaDB tables ignore case and sort through their collation
// (utf8mb4_unicode_ci), but their LIKE compares letter by letter, so "ss" never matches "ß":
// a search for either compares the column with every ß written as "ss". SQLite folds the case
// of ASCII letters only and sorts by code point, so each SQLite connection gets the function
// casefold(X) and the collation GERMAN.
namespace SqlText {

// Registers casefold() and GERMAN on an open SQLite connection; false (logged) when the
// driver gives no handle for it.
bool registerSqlite(const QSqlDatabase &connection);

// `text` as casefold() gives it: every letter folded by Unicode's case folding, ß (and ẞ)
// as "ss", and the dotted capital İ as "i" (as the MariaDB collation takes it).
QString fold(const QString &text);

// Compares in German order: <0, 0 or >0. Texts the German order takes as equal (only in
// case, or "ß" and "ss") are told apart by their code points, so the order is total.
int compare(const QString &a, const QString &b);

// The key of `text` in the German order of compare(): keys compare as their texts do, but
// for the code points that tell texts apart the German order takes as equal. Made once per
// text, a key spares a long sort decoding and collating both texts of every comparison.
QCollatorSortKey sortKey(const QString &text);

// The condition that `column` matches the LIKE pattern `pattern` without regard to case.
// `pattern` is already escaped for a literal between single quotes.
QString likeCondition(const QString &column, const QString &pattern, bool mysql);

// `column` as an ORDER BY term in German order (without direction).
QString orderTerm(const QString &column, bool mysql);

} // namespace SqlText
