#include "core/backgroundworker.h"

#include "core/connectionsettings.h"
#include "core/database.h"
#include "core/logging.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QThread>

namespace {

// Progress reaches the window at most this often; the last of a job always does.
constexpr qint64 kReportEveryMs = 50;

QMutex g_hookMutex;
std::function<void(const QString &)> g_beforeJob;

BackgroundWorker *g_instance = nullptr;

// The connection settings the window told the worker, and how often they changed.
QMutex g_settingsMutex;
ConnectionSettings g_settings;
int g_settingsGeneration = 0;

} // namespace

// --- The job ---------------------------------------------------------------------------

BackgroundJob::BackgroundJob(const QString &name, Work work)
    : m_name(name)
    , m_work(std::move(work))
{ }

BackgroundJob::~BackgroundJob() = default;

bool BackgroundJob::Control::cancelled() const
{
    return m_job->m_cancelled.load()
        || QCoreApplication::instance()->property("AppDown").toInt() == 1;
}

void BackgroundJob::Control::progress(qint64 done, qint64 total)
{
    m_job->report(done, total);
}

void BackgroundJob::Control::setStep(const QString &text)
{
    BackgroundJob *job = m_job;
    QMetaObject::invokeMethod(
        job, [job, text] { emit job->stepChanged(text); }, Qt::QueuedConnection);
}

void BackgroundJob::cancel()
{
    m_cancelled.store(true);
}

void BackgroundJob::report(qint64 done, qint64 total)
{
    const qint64 now = QDeadlineTimer::current().deadline();
    const bool last = total > 0 && done >= total;
    if (!last && now - m_lastReportMs.load() < kReportEveryMs)
        return;
    m_lastReportMs.store(now);
    // Sent on the window's thread, as finished() is: the poster may connect to the job after
    // it started, and hears its progress all the same, in order and before its end.
    QMetaObject::invokeMethod(
        this, [this, done, total] { emit progressed(done, total); }, Qt::QueuedConnection);
}

void BackgroundJob::run(Database &db)
{
    Control control(this);
    m_work(db, control);
    m_work = Work();
}

// --- The worker ------------------------------------------------------------------------

// Lives on the worker's thread; runs the queued jobs one after the other.
class BackgroundWorker::Runner : public QObject
{
public:
    explicit Runner(std::atomic<int> *pending)
        : m_pending(pending)
    { }
    ~Runner() override
    {
        if (m_db)
            m_db->close();
    }

    void runJob(BackgroundJob *job)
    {
        if (!job->isCancelled()) {
            std::function<void(const QString &)> hook;
            {
                QMutexLocker locker(&g_hookMutex);
                hook = g_beforeJob;
            }
            if (hook)
                hook(job->name());
        }
        // Asked after the hook too: a job cancelled while it was held never starts.
        const bool start = !job->isCancelled();
        if (start) {
            ConnectionSettings settings;
            int generation = 0;
            {
                QMutexLocker locker(&g_settingsMutex);
                settings = g_settings;
                generation = g_settingsGeneration;
            }
            const bool told = settings.isValid();
            // The job's connection, and what it looks up of its settings while it runs, follow
            // the running folder the window told, not a main Database made meanwhile.
            std::unique_ptr<ConnectionSettings::Scope> scope;
            if (told)
                scope = std::make_unique<ConnectionSettings::Scope>(settings);
            else
                generation = Database::mainGeneration();
            // Opened anew when the window told other settings, or, untold, when the program
            // opened its database anew (a restore).
            if (!m_db || m_told != told || m_generation != generation) {
                if (m_db)
                    m_db->close();
                m_db.reset();
                m_told = told;
                m_generation = generation;
                m_db = std::make_unique<Database>(true, QStringLiteral("BackgroundWorker"));
            }
            QElapsedTimer timer;
            timer.start();
            ++m_inJob;
            job->run(*m_db);
            --m_inJob;
            qCDebug(lcWorker).noquote()
                << "Background job" << job->name() << "took" << timer.elapsed() << "ms";
        }
        const bool completed = start && !job->isCancelled();
        --*m_pending;
        QMetaObject::invokeMethod(
            job,
            [job, completed] {
                job->m_finished = true;
                job->m_completed = completed;
                emit job->finished();
                job->deleteLater();
            },
            Qt::QueuedConnection);
        if (m_inJob == 0 && m_quitAfterJob)
            QThread::currentThread()->quit();
    }

    // Ends the thread's loop once no job runs. A job that waits for an answer (the
    // marketplace ending a listing) runs a loop of its own: quit now, that wait would end
    // without the answer, and what the answer did would not be stored.
    void quitWhenIdle()
    {
        if (m_inJob > 0)
            m_quitAfterJob = true;
        else
            QThread::currentThread()->quit();
    }

private:
    std::atomic<int> *m_pending;
    int m_inJob = 0;
    bool m_quitAfterJob = false;
    std::unique_ptr<Database> m_db;
    bool m_told = false;
    int m_generation = 0;
};

BackgroundWorker::BackgroundWorker()
{
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("BackgroundWorker"));
    m_runner = new Runner(&m_pending);
    m_runner->moveToThread(m_thread);
    // The runner, and with it its connection, ends on its own thread.
    connect(m_thread, &QThread::finished, m_runner, &QObject::deleteLater);
    m_thread->start(QThread::LowPriority);
}

BackgroundWorker::~BackgroundWorker()
{
    shutdown();
    if (g_instance == this)
        g_instance = nullptr;
}

BackgroundWorker *BackgroundWorker::instance()
{
    if (!g_instance) {
        g_instance = new BackgroundWorker;
        QCoreApplication *app = QCoreApplication::instance();
        g_instance->setParent(app);
        connect(app, &QCoreApplication::aboutToQuit, g_instance, [] {
            if (g_instance)
                g_instance->shutdown();
        });
    }
    return g_instance;
}

BackgroundJob *BackgroundWorker::post(const QString &name, BackgroundJob::Work work)
{
    auto *job = new BackgroundJob(name, std::move(work));
    job->setParent(this);
    if (!m_thread) {
        // Shut down: it never starts.
        job->cancel();
        QMetaObject::invokeMethod(
            job,
            [job] {
                job->m_finished = true;
                emit job->finished();
                job->deleteLater();
            },
            Qt::QueuedConnection);
        return job;
    }
    ++m_pending;
    Runner *runner = m_runner;
    QMetaObject::invokeMethod(
        m_runner, [runner, job] { runner->runJob(job); }, Qt::QueuedConnection);
    return job;
}

int BackgroundWorker::pending() const
{
    return m_pending.load();
}

QStringList BackgroundWorker::askingBeforeClose()
{
    QStringList what;
    if (!g_instance)
        return what;
    for (const BackgroundJob *job :
         g_instance->findChildren<BackgroundJob *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!job->isFinished() && !job->isCancelled() && !job->asksBeforeClose().isEmpty())
            what << job->asksBeforeClose();
    }
    return what;
}

void BackgroundWorker::setConnectionSettings(const ConnectionSettings &settings)
{
    QMutexLocker locker(&g_settingsMutex);
    if (settings == g_settings)
        return;
    g_settings = settings;
    ++g_settingsGeneration;
}

void BackgroundWorker::shutdown(int milliseconds)
{
    if (!m_thread)
        return;
    QList<QPointer<BackgroundJob>> jobs;
    for (BackgroundJob *job :
         findChildren<BackgroundJob *>(QString(), Qt::FindDirectChildrenOnly)) {
        job->cancel();
        jobs << job;
    }
    // The thread ends behind the jobs still queued: each of them passes the runner, which
    // starts none of them but tells each as finished, so that nobody waits for one in vain.
    // While the application object goes nothing posted is delivered any more, and nobody
    // is left to be told: the thread ends after the job in hand.
    QThread *thread = m_thread;
    Runner *runner = m_runner;
    if (QCoreApplication::instance())
        QMetaObject::invokeMethod(
            m_runner, [runner] { runner->quitWhenIdle(); }, Qt::QueuedConnection);
    else
        thread->quit();
    if (!thread->wait(milliseconds)) {
        // A job's step outlasts the wait (a unit of an import with its downloads): it ends
        // with that step, and the thread is joined, never left running into the end of the
        // program, where it would use what is destroyed.
        qCWarning(lcWorker).noquote() << "The background worker did not end within" << milliseconds
                                      << "ms, waiting for its job's step";
        thread->wait();
    }
    m_thread = nullptr;
    m_runner = nullptr;
    delete thread;
    // Their finished() was queued to this thread: delivered now, before the program goes on
    // to close what listens to them (a job posted by a listener never starts).
    for (const QPointer<BackgroundJob> &job : jobs) {
        if (job)
            QCoreApplication::sendPostedEvents(job, QEvent::MetaCall);
    }
}

void BackgroundWorker::setBeforeJobForTesting(std::function<void(const QString &)> hook)
{
    QMutexLocker locker(&g_hookMutex);
    g_beforeJob = std::move(hook);
}
