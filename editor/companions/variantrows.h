#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class Database;

// An option of a variation: its name and its values, in order.
using VariantOption = QPair<QString, QStringList>;

// The variation rows of an article as combinations of option values.
class VariantRows
{
public:
    // The name-value text of every combination: the values of the first option change
    // slowest, those of the last fastest. Names and values are taken as they are.
    static QStringList combinations(const QList<VariantOption> &options);

    // Inserts a row for every combination the article doesn't have yet (exact match), with
    // the SKU `sku` + "-" + a running number that continues after the highest number the
    // article's SKUs of that form already carry. False when a statement failed (then only a
    // part may be written: run it inside a transaction); `*written` gets the number of rows
    // written. Run again, it writes only what is still missing.
    static bool write(Database *db, const QString &articleId, const QString &sku,
                      const QList<VariantOption> &options, int quantity, double price,
                      int *written = nullptr);
};
