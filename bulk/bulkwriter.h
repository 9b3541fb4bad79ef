#pragma once

#include "core/database.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

class BackgroundJob;
class QObject;

// Writes one bulk command into many selected articles: everything in one Transaction, so
// that the command is stored whole or not at all. The articles are worked through in steps;
// between two steps the caller is told how far it got (and may let the window paint).
//
// A statement the database refuses is counted and the run goes on to count the others, but
// nothing is kept. A lost connection stops the run at once: the server undid the
// transaction with it. When the answer to the commit itself is lost, the outcome is Unknown:
// the server may have stored the command, and it must not be sent again before what is
// stored has been read.
class BulkWriter
{
public:
    struct Result
    {
        int total = 0; // articles asked for
        int written = 0; // statements that succeeded (kept only when stored())
        int failed = 0; // statements that failed
        QString error; // the database's text of the first failure, or the refusal
        // Done: stored whole (or there was nothing to write). Refused or NotWritten: nothing
        // of it is stored. Unknown: it may be stored, or not.
        Database::Outcome outcome = Database::Outcome::Done;
        // Stopped on request before it was stored (outcome NotWritten): nothing is kept.
        bool cancelled = false;
        bool stored() const { return outcome == Database::Outcome::Done; }
        bool unknown() const { return outcome == Database::Outcome::Unknown; }
    };

    // The columns to write into one article; an empty map writes nothing for it.
    using RecordFor = std::function<QMap<QString, QVariant>(const QString &articleId)>;
    // Called before each step with the number of articles done so far, and at the end with
    // the total.
    using Progress = std::function<void(int done)>;
    // One step over some of the articles, inside the command's transaction. It counts its
    // statements with Result::written and BulkWriter::failed(); false stops the run, which
    // then keeps nothing (set Result::error and outcome Refused for a refusal of its own).
    using Step = std::function<bool(const QStringList &articleIds, Result &result)>;
    // Called after the last step, before the commit: false keeps nothing (as a Step's false).
    using Check = std::function<bool(Result &result)>;
    // Asked before each step and before the commit: true stops the run ("Abbrechen", the
    // program closing), which then keeps nothing.
    using Stop = std::function<bool()>;

    // The article ids of an id list ("12,7,30"). Parts that are not a whole number are
    // left out: they name no article and must never reach a statement.
    static QStringList articleIds(const QString &idList);

    // The same change record for every article, one bound UPDATE per article.
    static Result write(Database &db, const QStringList &articleIds, const RecordFor &record,
                        const Progress &progress = Progress(), const Stop &stop = Stop());

    // The general run: `step` gets the articles `stepSize` at a time, all in one transaction.
    static Result run(Database &db, const QStringList &articleIds, int stepSize, const Step &step,
                      const Progress &progress = Progress(), const Check &check = Check(),
                      const Stop &stop = Stop());

    // A command's work as one job of the background worker, on the worker's connection: the
    // window goes on meanwhile and never waits for it. `job` runs on the worker's thread and
    // must use only what it holds by value; it hands `progress` and `stop` on to run().
    using Job = std::function<Result(Database &db, const Progress &progress, const Stop &stop)>;
    // Posts `job` over `total` articles. On the window's thread and while `receiver` lives,
    // `progress` hears how many articles are done, and `done` the result once the job has
    // finished: cancelled and nothing stored when it never started. The job, to be cancelled.
    static BackgroundJob *post(const QString &name, int total, Job job, QObject *receiver,
                               const Progress &progress,
                               const std::function<void(const Result &result)> &done);

    // Counts a failed statement of `db` in `result`; true when the run may go on (the
    // database refused the statement itself), false when the connection is lost.
    static bool failed(Database &db, Result &result);

    // "id IN (1,2,3)" for ids from articleIds().
    static QString idCondition(const QStringList &articleIds);
};
