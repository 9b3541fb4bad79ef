#include "bulk/bulkwriter.h"

#include "core/database.h"

QStringList BulkWriter::articleIds(const QString &idList)
{
    QStringList ids;
    const QStringList parts = idList.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        bool ok = false;
        const qlonglong id = part.trimmed().toLongLong(&ok);
        if (ok && id > 0)
            ids << QString::number(id);
    }
    return ids;
}

BulkWriter::Result BulkWriter::write(Database &db, const QStringList &articleIds,
                                     const RecordFor &record, const Progress &progress)
{
    Result result;
    result.total = articleIds.size();
    for (int i = 0; i < articleIds.size(); ++i) {
        if (progress)
            progress(i);
        const QMap<QString, QVariant> change = record(articleIds.at(i));
        if (change.isEmpty())
            continue;
        if (db.updateSqlClean(change, QStringLiteral("articles"),
                              QStringLiteral("id=") + articleIds.at(i))) {
            ++result.written;
        } else {
            if (result.failed == 0)
                result.error = db.lastErrorText;
            ++result.failed;
        }
    }
    if (progress)
        progress(articleIds.size());
    return result;
}
