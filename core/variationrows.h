#pragma once

#include <QList>
#include <QString>
#include <functional>

class Database;

// The writes of an article's variations, each seller command in one transaction of the given
// connection. Removing variations takes what belongs to them along: an article's variation rows,
// their pictures (rows of `articles_images` tied to a variation by `variant_id`, or to an option
// value by `variant_name`) and its option values (`articles_variations_op_val`). Rows of an option
// value are kept while a variation of the article still has that value.
namespace VariationRows {
// What a command of the variation page came to.
enum class Written {
    Stored,
    NotStored, // nothing of it is written; the connection's lastErrorText says why
    Unknown // the answer to its commit was lost and writing it again failed: it may be stored
};
// Runs one command of the variation page: `statements` in one transaction of `db`, with the
// summary columns of the article `summaryOf` (HasVariation, HasVariationMinPrice) read
// afresh from its variations in the same transaction (none for 0). `statements` must leave,
// run twice, what they leave run once (values set, rows deleted, rows inserted only where
// missing): after a lost answer to the commit the command is run once more.
Written write(Database *db, int summaryOf, const std::function<bool()> &statements);
// Sets the summary columns of the article from its stored variations; false when a statement
// failed.
bool writeSummary(Database *db, int articleId);
// What the seller reads when a command of the variation page is Unknown; `what` names it
// ("die Änderung der Varianten").
QString unknownText(const QString &what);

// The variations `variationIds` of the article `articleId`, with the article's summary
// columns, as write() runs them.
Written removeVariations(Database *db, int articleId, const QList<int> &variationIds);
// The article row with all its pictures, variations and option values, in one transaction.
// False when a statement failed; then nothing is removed and the error is in the connection's
// lastErrorText.
bool removeArticle(Database *db, int articleId);
} // namespace VariationRows
