#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

class Database;

// Writes one change into many selected articles: one UPDATE per article, no transaction,
// so that what was written before a stop stays written. Failed statements do not stop
// the run; they are counted and the database's first error text is kept for the seller.
class BulkWriter
{
public:
    struct Result
    {
        int total = 0; // articles asked for
        int written = 0; // UPDATE statements that succeeded
        int failed = 0; // UPDATE statements that failed
        QString error; // the database's text of the first failure
    };

    // The columns to write into one article; an empty map writes nothing for it.
    using RecordFor = std::function<QMap<QString, QVariant>(const QString &articleId)>;
    // Called before each article with the number of articles done so far.
    using Progress = std::function<void(int done)>;

    // The article ids of an id list ("12,7,30"). Parts that are not a whole number are
    // left out: they name no article and must never reach a statement.
    static QStringList articleIds(const QString &idList);

    static Result write(Database &db, const QStringList &articleIds, const RecordFor &record,
                        const Progress &progress = Progress());
};
