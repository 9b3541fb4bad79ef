#pragma once

#include <QList>

class Database;

// Removes variations together with what belongs to them, each removal in one transaction
// of the given connection: an article's variation rows, their pictures (rows of
// `articles_images` tied to a variation by `variant_id`, or to an option value by
// `variant_name`) and its option values (`articles_variations_op_val`). Rows of an option
// value are kept while a variation of the article still has that value.
namespace VariationRows {
// The variations `variationIds` of the article `articleId`. False when a statement failed;
// then nothing is removed and the error is in the connection's lastErrorText.
bool removeVariations(Database *db, int articleId, const QList<int> &variationIds);
// The article row with all its pictures, variations and option values; false as above.
bool removeArticle(Database *db, int articleId);
} // namespace VariationRows
