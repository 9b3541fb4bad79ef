#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class ConnectionSettings;
class Database;
class QThread;

// The one thread beside the window for the window's work that grows with the store: exports,
// clean-ups, bulk changes, imports, backups. It lives as long as the program and takes jobs
// from one queue, first in, first out; it owns its own connection to the database, opened on
// its first job and kept. The window posts a job and goes on; it hears of progress and of the
// end by queued signals of the job's ticket, and never waits for one.
//
//     BackgroundJob *job = BackgroundWorker::instance()->post(
//         tr("Export"), [rows](Database &db, BackgroundJob::Control &control) {
//             ... control.progress(done, total); if (control.cancelled()) return; ...
//         });
//     connect(job, &BackgroundJob::progressed, bar, ...);
//     connect(job, &BackgroundJob::finished, this, [job] { ... });   // also when cancelled
//     abortButton → job->cancel();
//
// A job hands its result over through what it captured (a shared pointer), read in the
// handler of finished(). It checks cancelled() between its steps and leaves the store whole:
// a job that writes does so in one Transaction it commits only when it was not cancelled.
class BackgroundJob : public QObject
{
    Q_OBJECT
public:
    // What a running job is given besides its connection. Thread-safe.
    class Control
    {
    public:
        // True once the job was cancelled or the program is closing: the job stops after
        // the step in hand.
        bool cancelled() const;
        // Tells the window how far the job got (at most a few times a second reach it).
        void progress(qint64 done, qint64 total);
        // Tells the window what the job is at now ("Die Datenbank wird verkleinert …"); each
        // reaches it: for the few steps of a job, not for every row.
        void setStep(const QString &text);

    private:
        friend class BackgroundJob;
        explicit Control(BackgroundJob *job)
            : m_job(job)
        { }
        BackgroundJob *m_job;
    };
    using Work = std::function<void(Database &db, Control &control)>;

    ~BackgroundJob() override;

    QString name() const { return m_name; }
    // Asks the job to stop; one still waiting in the queue never starts. From any thread.
    void cancel();
    bool isCancelled() const { return m_cancelled.load(); }
    // True once finished() was sent.
    bool isFinished() const { return m_finished; }
    // Whether the job ran to its end without being cancelled (valid once finished).
    bool completed() const { return m_completed; }
    // A job that stores the seller's data in units (an import) is named here: closing the
    // program while it is queued or runs asks first. Any job stops at its next step then.
    void setAsksBeforeClose(const QString &what) { m_asksBeforeClose = what; }
    QString asksBeforeClose() const { return m_asksBeforeClose; }

signals:
    // On the window's thread; `total` 0 while it is not known.
    void progressed(qint64 done, qint64 total);
    // On the window's thread: what the job is at now (see Control::setStep()).
    void stepChanged(const QString &text);
    // On the window's thread, once: the job ran, was cancelled, or never started.
    void finished();

private:
    friend class BackgroundWorker;
    BackgroundJob(const QString &name, Work work);
    // On the worker's thread.
    void run(Database &db);
    void report(qint64 done, qint64 total);

    const QString m_name;
    Work m_work;
    std::atomic<bool> m_cancelled { false };
    std::atomic<qint64> m_lastReportMs { 0 };
    bool m_finished = false;
    bool m_completed = false;
    QString m_asksBeforeClose;
};

class BackgroundWorker : public QObject
{
    Q_OBJECT
public:
    // The program's worker, made on first use on the window's thread; it ends when the
    // application object goes (see shutdown()).
    static BackgroundWorker *instance();

    // Queues `work` under `name` (for the log). The job object belongs to the worker and is
    // deleted some time after finished(): keep a QPointer to it, not a plain pointer.
    BackgroundJob *post(const QString &name, BackgroundJob::Work work);

    // Jobs queued or running.
    int pending() const;
    // What the jobs not yet finished that ask before the program closes are doing (see
    // BackgroundJob::setAsksBeforeClose()); empty when there are none, or no worker yet.
    static QStringList askingBeforeClose();

    // The connection the jobs use: the running folder's, as the window that owns the main
    // Database tells it. Jobs started afterwards open their connection anew when it changed;
    // a main Database made meanwhile for another folder does not move them. Without (as
    // before the window told it, or with settings that are not valid) the jobs take what
    // the latest main Database published.
    void setConnectionSettings(const ConnectionSettings &settings);

    // Cancels every job, lets the running one end its step and ends the thread, which is
    // joined before it returns: no job outlives the program. A job that has not reached the
    // end of its step after `milliseconds` is logged and waited for all the same.
    void shutdown(int milliseconds = 2000);

    // Tests: `hook` runs on the worker's thread before each job (an empty one: none).
    static void setBeforeJobForTesting(std::function<void(const QString &name)> hook);

private:
    BackgroundWorker();
    ~BackgroundWorker() override;
    class Runner;
    QThread *m_thread = nullptr;
    Runner *m_runner = nullptr;
    std::atomic<int> m_pending { 0 };
};
