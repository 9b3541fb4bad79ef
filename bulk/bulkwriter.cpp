#include "bulk/bulkwriter.h"

#include "core/transaction.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {

// Articles per step of the plain record writer: a bound UPDATE each.
constexpr int kRecordStep = 50;
// How often the waiting thread shows the progress of a job on a thread of its own.
constexpr int kProgressMs = 25;

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
                                   const Step &step, const Progress &progress, const Check &check)
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
    bool goOn = true;
    for (int at = 0; goOn && at < articleIds.size(); at += stepSize) {
        if (progress)
            progress(at);
        goOn = step(articleIds.mid(at, stepSize), result);
    }
    if (goOn && check)
        goOn = check(result);
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
                                     const RecordFor &record, const Progress &progress)
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
        progress);
}

BulkWriter::Result BulkWriter::runInThread(const QString &connectionName, const Job &job,
                                           const Progress &progress)
{
    Result result;
    std::atomic<int> done { 0 };
    std::unique_ptr<QThread> thread(QThread::create([&] {
        Database db(true, connectionName);
        result = job(db, [&done](int count) { done.store(count); });
        db.close();
    }));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    QTimer shown;
    shown.setInterval(kProgressMs);
    QObject::connect(&shown, &QTimer::timeout, &loop, [&] {
        if (progress)
            progress(done.load());
    });
    thread->start();
    shown.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    if (progress)
        progress(done.load());
    return result;
}
