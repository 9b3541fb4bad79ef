#include "bulk/bulkwriter.h"

#include "core/backgroundworker.h"
#include "core/transaction.h"

#include <QCoreApplication>
#include <QObject>

#include <memory>

namespace {

// Articles per step of the plain record writer: a bound UPDATE each.
constexpr int kRecordStep = 50;

} // namespace

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

QString BulkWriter::idCondition(const QStringList &articleIds)
{
    return QStringLiteral("id IN (") + articleIds.join(QLatin1Char(',')) + QLatin1Char(')');
}

bool BulkWriter::failed(Database &db, Result &result)
{
    if (result.failed == 0) {
        result.error = db.lastErrorText;
        result.outcome = db.lastOutcome() == Database::Outcome::Refused
            ? Database::Outcome::Refused
            : Database::Outcome::NotWritten;
    }
    ++result.failed;
    return db.lastOutcome() == Database::Outcome::Refused;
}

BulkWriter::Result BulkWriter::run(Database &db, const QStringList &articleIds, int stepSize,
                                   const Step &step, const Progress &progress, const Check &check,
                                   const Stop &stop)
{
    Result result;
    result.total = articleIds.size();
    stepSize = qMax(1, stepSize);
    Transaction transaction(db);
    if (!transaction.isOpen()) {
        result.error = db.lastErrorText;
        result.outcome = Database::Outcome::NotWritten;
        result.failed = 1;
        return result;
    }
    const auto stopped = [&] {
        if (!stop || !stop())
            return false;
        transaction.rollback();
        result.cancelled = true;
        result.outcome = Database::Outcome::NotWritten;
        result.error = QCoreApplication::translate("BulkWriter", "Abgebrochen.");
        return true;
    };
    bool goOn = true;
    for (int at = 0; goOn && at < articleIds.size(); at += stepSize) {
        if (stopped())
            return result;
        if (progress)
            progress(at);
        goOn = step(articleIds.mid(at, stepSize), result);
    }
    if (goOn && check)
        goOn = check(result);
    if (goOn && result.failed == 0 && stopped())
        return result;
    if (!goOn || result.failed > 0) {
        transaction.rollback();
        if (result.outcome == Database::Outcome::Done)
            result.outcome = Database::Outcome::Refused;
        return result;
    }
    if (!transaction.commit()) {
        result.error = db.lastErrorText;
        result.outcome = db.lastOutcome() == Database::Outcome::Unknown
            ? Database::Outcome::Unknown
            : Database::Outcome::NotWritten;
        ++result.failed;
        return result;
    }
    if (progress)
        progress(articleIds.size());
    return result;
}

BulkWriter::Result BulkWriter::write(Database &db, const QStringList &articleIds,
                                     const RecordFor &record, const Progress &progress,
                                     const Stop &stop)
{
    return run(
        db, articleIds, kRecordStep,
        [&db, &record](const QStringList &ids, Result &result) {
            for (const QString &id : ids) {
                const QMap<QString, QVariant> change = record(id);
                if (change.isEmpty())
                    continue;
                if (db.updateSqlClean(change, QStringLiteral("articles"),
                                      QStringLiteral("id=") + id))
                    ++result.written;
                else if (!failed(db, result))
                    return false;
            }
            return true;
        },
        progress, Check(), stop);
}

BackgroundJob *BulkWriter::post(const QString &name, int total, Job job, QObject *receiver,
                                const Progress &progress,
                                const std::function<void(const Result &result)> &done)
{
    // What a job that never started stored: nothing.
    auto result = std::make_shared<Result>();
    result->total = total;
    result->cancelled = true;
    result->outcome = Database::Outcome::NotWritten;
    BackgroundJob *posted = BackgroundWorker::instance()->post(
        name, [job = std::move(job), result](Database &db, BackgroundJob::Control &control) {
            *result = job(
                db, [&control, total = result->total](int count) { control.progress(count, total); },
                [&control] { return control.cancelled(); });
        });
    if (progress)
        QObject::connect(posted, &BackgroundJob::progressed, receiver,
                         [progress](qint64 count, qint64) { progress(int(count)); });
    QObject::connect(posted, &BackgroundJob::finished, receiver, [result, done] { done(*result); });
    return posted;
}
