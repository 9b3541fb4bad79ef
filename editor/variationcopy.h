#pragma once

class Database;

// Copies an article's variations to another article: its `articles_variations` rows, the
// pictures of its option values (rows of `articles_images` with a `variant_name`) and those
// of single variations (with a `variant_id`, which then names the copied variation).
// Used when an article is duplicated through the editor, inside the transaction that saves
// the new row: run on its own it is no transaction.
namespace VariationCopy {
// True when every row was copied (also when there was none).
bool copy(Database *db, int fromArticle, int toArticle);
} // namespace VariationCopy
