// The program's side of its picture decoder processes (core/picturedecodermain.cpp): a small
// pool of them, owned by a thread of their own that only talks to them by their signals. The
// window's thread never waits on them: it posts a picture and hears the result by a queued
// call. A process that crashes, runs out of its limits or passes the wall-clock limit (then
// it is killed) refuses its picture, and a fresh one takes its place at once.
//
// Every decode has its deadline from the moment it is asked, whether it waits in the queue
// or runs. The seller's own pictures (an editor's slots, a save, an import's check, an upload
// check) go ahead of the list's thumbnails, and one decoder is always kept for them; the
// thumbnails' queue has a ceiling, the oldest is dropped, and a list withdraws the ones of
// rows it no longer shows. A decode given up, dropped or ended from outside says so
// (`Decoded::retry`): the picture is asked for again when it is wanted again.
//
// Memory: the decoders together hold at most kMemoryBudget. Each of them gets its share as
// its address-space limit, set by this program before the decoder runs. A picture of the
// seller's own that needs more than a share is given once to a decoder of its own with the
// whole budget, while the others are ended and wait.
#include "core/imagelimits.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <deque>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/resource.h>

#include "core/logging.h"
#include "core/untrustedfile.h"

namespace ImageLimits {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ImageLimits", text);
}

const QString kDecoderName = QStringLiteral("zerire3-picturedecoder");

std::atomic<int> g_timeoutMs { 20000 };
std::atomic<int> g_pending { 0 };
// Counts the changes of the decoder program: a process of an older one is replaced.
std::atomic<int> g_programEpoch { 0 };
QMutex g_settingsMutex;
std::function<void()> g_hook;
QString g_program;
QStringList g_arguments;

std::function<void()> currentHook()
{
    QMutexLocker lock(&g_settingsMutex);
    return g_hook;
}

// The address space all decoder processes hold together.
constexpr rlim_t kMemoryBudget = rlim_t(1024) * 1024 * 1024;
// What of a request is handed to a decoder's pipe at a time.
constexpr qint64 kWriteSlice = 1024 * 1024;

bool sanitized()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

// The decoder installed beside the running program, and no other: what stands at a build's
// folder or on a search path is not looked at.
QString decoderProgram(QStringList *arguments)
{
    {
        QMutexLocker lock(&g_settingsMutex);
        if (!g_program.isEmpty()) {
            *arguments = g_arguments;
            return g_program;
        }
    }
    arguments->clear();
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + kDecoderName;
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QString();
}

// A decoder process starts with nothing of the program's: no environment beyond a plain
// search path (no database password, no token), the root folder as its working folder, and
// its share of the decoders' memory as the limit of its address space.
class DecoderProcess : public QProcess
{
public:
    DecoderProcess(QObject *parent, rlim_t addressSpace)
        : QProcess(parent)
        , m_addressSpace(addressSpace)
    {
        QProcessEnvironment plain;
        plain.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        setProcessEnvironment(plain);
        setWorkingDirectory(QStringLiteral("/"));
    }

protected:
    // In the child, between fork and exec: only a system call.
    void setupChildProcess() override
    {
        if (m_addressSpace == 0)
            return;
        const rlimit space = { m_addressSpace, m_addressSpace };
        ::setrlimit(RLIMIT_AS, &space);
    }

private:
    const rlim_t m_addressSpace;
};

Decoded givenUp()
{
    Decoded result;
    result.timedOut = true;
    result.retry = true;
    result.refusal = tr("Das Bild zu lesen dauerte länger als %1 s; es wird übergangen.")
                         .arg((g_timeoutMs.load() + 999) / 1000);
    return result;
}

// A decode that did not happen this time, for no fault of the picture.
Decoded notRead(const QString &why)
{
    Decoded result;
    result.retry = true;
    result.refusal = why;
    return result;
}

Decoded refused(const QString &why)
{
    Decoded result;
    result.refusal = why;
    return result;
}

class Relay;
class Service;

// One decode's way back to its caller: delivered once, or dropped when the caller is gone;
// counted as pending until then.
struct Delivery
{
    QMutex mutex;
    Relay *relay = nullptr; // on the caller's thread; null once gone
    bool posted = false;
    bool counted = false;
    std::function<void(const Decoded &)> done;
    // For a caller that waits on a thread of its own: called on the decoder's thread.
    std::function<void(const Decoded &)> direct;
    // Read by the decoder's thread: a decode whose caller is gone is not started.
    std::atomic<bool> alive { true };

    // Once. With the mutex held.
    void release()
    {
        if (counted)
            return;
        counted = true;
        --g_pending;
    }
};

// Lives on the caller's thread as a child of its context: a result posted to it is dropped
// when the context goes.
class Relay : public QObject
{
public:
    Relay(QObject *context, std::shared_ptr<Delivery> delivery)
        : QObject(context)
        , m_delivery(std::move(delivery))
    { }
    ~Relay() override;

private:
    std::shared_ptr<Delivery> m_delivery;
};

Service *service();
void purgeGone();

Relay::~Relay()
{
    m_delivery->alive = false;
    QMutexLocker lock(&m_delivery->mutex);
    m_delivery->relay = nullptr;
    if (m_delivery->posted)
        m_delivery->release();
    else
        purgeGone();
}

// Hands `result` to the caller's thread, or drops it.
void deliver(const std::shared_ptr<Delivery> &delivery, const Decoded &result)
{
    if (delivery->direct) {
        delivery->direct(result);
        QMutexLocker lock(&delivery->mutex);
        delivery->release();
        return;
    }
    QMutexLocker lock(&delivery->mutex);
    if (!delivery->relay || delivery->posted) {
        delivery->release();
        return;
    }
    delivery->posted = true;
    QPointer<Relay> relay(delivery->relay);
    QMetaObject::invokeMethod(
        delivery->relay,
        [delivery, relay, result] {
            delivery->done(result);
            QMutexLocker lock(&delivery->mutex);
            delivery->release();
            if (relay)
                relay->deleteLater();
        },
        Qt::QueuedConnection);
}

struct Job
{
    Picture picture;
    std::shared_ptr<Delivery> delivery;
    const QObject *owner = nullptr; // compared, never used
    QDeadlineTimer deadline; // from the moment it was asked
    bool own = false; // the seller's own picture, not a list's thumbnail
    bool resent = false; // given to a second process after the first went away unasked
    bool whole = false; // given the whole memory budget after a share was too little
};

Decoded fromReply(const PictureRequest::Reply &reply)
{
    Decoded result;
    result.refusal = reply.refusal;
    result.error = reply.error;
    result.format = reply.format;
    result.size = reply.size;
    result.angle = reply.angle;
    result.images = reply.images;
    result.image = reply.images.value(0);
    if (reply.decoded && result.image.isNull() && !reply.images.isEmpty() && result.error.isEmpty())
        result.error = tr("Der Bilddecoder gab kein Bild zurück.");
    return result;
}

// One decoder process and the picture it decodes.
struct Worker
{
    QProcess *process = nullptr;
    QTimer *timer = nullptr;
    QByteArray buffer;
    std::unique_ptr<Job> job;
    quint64 generation = 0;
    int epoch = 0;
    bool whole = false; // its process holds the whole memory budget
    QList<QByteArray> outgoing; // what of the request is still to be written
    qint64 written = 0; // of the first of them
};

class Service : public QObject
{
public:
    Service()
    {
        m_workers.resize(size_t(decoderCount()));
        // A child: it moves to the decoders' thread with this.
        m_expiry = new QTimer(this);
        m_expiry->setSingleShot(true);
        m_expiry->setTimerType(Qt::PreciseTimer);
        connect(m_expiry, &QTimer::timeout, this, [this] {
            expire();
            dispatch();
        });
    }

    void add(Job job, Order order)
    {
        if (order == Order::First)
            job.own = true;
        // Bytes that alone take half a decoder's share (a large upload) are not sent to a
        // share they can't be decoded in.
        if (job.own && !sanitized()
            && rlim_t(job.picture.bytes.size()) > kMemoryBudget / m_workers.size() / 2) {
            job.whole = true;
            m_whole.push_back(std::move(job));
            dispatch();
            return;
        }
        if (job.own) {
            m_own.push_back(std::move(job));
        } else {
            m_rows.push_back(std::move(job));
            while (m_rows.size() > size_t(kMaxQueuedThumbnails)) {
                deliver(m_rows.front().delivery, notRead(QString()));
                m_rows.pop_front();
            }
        }
        dispatch();
    }

    // The queued thumbnails of `owner` become the seller's own.
    void hurry(const QObject *owner)
    {
        std::deque<Job> rest;
        for (Job &job : m_rows) {
            if (job.owner == owner) {
                job.own = true;
                m_own.push_back(std::move(job));
            } else {
                rest.push_back(std::move(job));
            }
        }
        m_rows.swap(rest);
        dispatch();
    }

    // Drops the queued decodes of `owner`, not yet begun; each is told it was not read.
    void withdraw(const QObject *owner)
    {
        std::deque<Job> rest;
        for (Job &job : m_rows) {
            if (job.owner == owner)
                deliver(job.delivery, notRead(QString()));
            else
                rest.push_back(std::move(job));
        }
        m_rows.swap(rest);
    }

    // Drops the queued decodes whose caller is gone.
    void purge()
    {
        for (std::deque<Job> *queue : { &m_own, &m_rows, &m_whole }) {
            std::deque<Job> kept;
            for (Job &job : *queue) {
                if (job.delivery->alive.load())
                    kept.push_back(std::move(job));
                else
                    deliver(job.delivery, Decoded());
            }
            queue->swap(kept);
        }
        dispatch();
    }

    void stopAll()
    {
        m_own.clear();
        m_rows.clear();
        m_whole.clear();
        for (Worker &worker : m_workers) {
            if (!worker.process)
                continue;
            worker.process->disconnect(this);
            worker.process->kill();
            worker.process->waitForFinished(1000);
            delete worker.process;
            worker.process = nullptr;
        }
    }

private:
    int busy(bool own) const
    {
        return int(std::count_if(m_workers.begin(), m_workers.end(), [own](const Worker &worker) {
            return worker.job && worker.job->own == own;
        }));
    }

    // The next queued decode a free decoder takes: the seller's own first; a thumbnail only
    // while another decoder stays free for the seller's.
    std::deque<Job> *nextQueue() const
    {
        auto *self = const_cast<Service *>(this);
        if (!m_own.empty())
            return &self->m_own;
        if (!m_rows.empty() && busy(false) < int(m_workers.size()) - 1)
            return &self->m_rows;
        return nullptr;
    }

    void dispatch()
    {
        expire();
        if (!m_whole.empty()) {
            // A picture that needs the whole budget waits until every decoder is free, then
            // has the only one.
            if (std::any_of(m_workers.begin(), m_workers.end(),
                            [](const Worker &worker) { return bool(worker.job); })) {
                schedule();
                return;
            }
            // Their memory is given back before the one with the whole budget starts: idle
            // processes end at once.
            for (size_t i = 0; i < m_workers.size(); ++i)
                endNow(int(i));
            Worker &worker = m_workers.front();
            worker.job = std::make_unique<Job>(std::move(m_whole.front()));
            m_whole.pop_front();
            start(0);
            return;
        }
        for (size_t i = 0; i < m_workers.size(); ++i) {
            Worker &worker = m_workers[i];
            if (worker.job)
                continue;
            std::deque<Job> *queue = nextQueue();
            if (!queue)
                break;
            worker.job = std::make_unique<Job>(std::move(queue->front()));
            queue->pop_front();
            start(int(i));
        }
        schedule();
    }

    // Queued decodes past their deadline, and those of a caller that is gone, are settled.
    void expire()
    {
        for (std::deque<Job> *queue : { &m_own, &m_rows, &m_whole }) {
            std::deque<Job> kept;
            for (Job &job : *queue) {
                if (!job.delivery->alive.load())
                    deliver(job.delivery, Decoded());
                else if (job.deadline.hasExpired())
                    deliver(job.delivery, givenUp());
                else
                    kept.push_back(std::move(job));
            }
            queue->swap(kept);
        }
    }

    // Wakes up at the next queued decode's deadline.
    void schedule()
    {
        qint64 next = -1;
        for (const std::deque<Job> *queue : { &m_own, &m_rows, &m_whole })
            for (const Job &job : *queue) {
                const qint64 left = job.deadline.remainingTime();
                if (next < 0 || left < next)
                    next = left;
            }
        if (next < 0)
            m_expiry->stop();
        else
            m_expiry->start(int(qMin<qint64>(next + 1, std::numeric_limits<int>::max())));
    }

    void start(int index)
    {
        Worker &worker = m_workers[size_t(index)];
        const quint64 generation = ++worker.generation;
        const qint64 left = worker.job->deadline.remainingTime();
        if (left == 0) {
            finish(index, givenUp());
            return;
        }
        if (worker.process
            && (worker.epoch != g_programEpoch.load() || worker.whole != worker.job->whole))
            retire(index);
        if (!worker.process && !launch(index, worker.job->whole)) {
            finish(index, refused(tr("Der Bilddecoder des Programms ließ sich nicht starten; "
                                     "das Bild wird nicht gelesen.")));
            return;
        }
        if (!worker.timer) {
            worker.timer = new QTimer(this);
            worker.timer->setSingleShot(true);
            worker.timer->setTimerType(Qt::PreciseTimer);
            connect(worker.timer, &QTimer::timeout, this, [this, index] { timedOut(index); });
        }
        worker.timer->start(int(qBound<qint64>(1, left, std::numeric_limits<int>::max())));
        if (const std::function<void()> hook = currentHook()) {
            // Held where the test wants it, while the decode's time runs.
            std::thread([this, hook, index, generation] {
                hook();
                QMetaObject::invokeMethod(
                    this, [this, index, generation] { send(index, generation); },
                    Qt::QueuedConnection);
            }).detach();
            return;
        }
        send(index, generation);
    }

    void send(int index, quint64 generation)
    {
        Worker &worker = m_workers[size_t(index)];
        if (worker.generation != generation || !worker.job || !worker.process)
            return;
        worker.outgoing = PictureRequest::requestFrame(worker.job->picture);
        worker.written = 0;
        pump(index);
    }

    // Hands the decoder the next part of its request once the pipe has taken the last: the
    // process's buffer holds a slice of a picture's bytes, never a copy of them all.
    void pump(int index)
    {
        Worker &worker = m_workers[size_t(index)];
        while (worker.process && !worker.outgoing.isEmpty()
               && worker.process->bytesToWrite() < kWriteSlice) {
            const QByteArray &part = worker.outgoing.first();
            const qint64 slice = qMin<qint64>(kWriteSlice, part.size() - worker.written);
            if (slice > 0
                && worker.process->write(part.constData() + worker.written, slice) != slice) {
                worker.outgoing.clear();
                failed(index, tr("Der Bilddecoder nahm das Bild nicht an."), true);
                return;
            }
            worker.written += slice;
            if (worker.written >= part.size()) {
                worker.outgoing.removeFirst();
                worker.written = 0;
            }
        }
    }

    bool launch(int index, bool whole)
    {
        Worker &worker = m_workers[size_t(index)];
        QStringList arguments;
        const QString program = decoderProgram(&arguments);
        if (program.isEmpty())
            return false;
        // The address sanitizer reserves terabytes of address space up front.
        const rlim_t space
            = sanitized() ? 0 : whole ? kMemoryBudget : kMemoryBudget / m_workers.size();
        auto *process = new DecoderProcess(this, space);
        process->setProcessChannelMode(QProcess::SeparateChannels);
        process->setStandardErrorFile(QProcess::nullDevice());
        connect(process, &QProcess::readyReadStandardOutput, this,
                [this, index, process] { readable(index, process); });
        connect(process, &QProcess::bytesWritten, this, [this, index, process] {
            if (m_workers[size_t(index)].process == process)
                pump(index);
        });
        connect(process, &QProcess::errorOccurred, this, [this, index, process](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart || error == QProcess::Crashed)
                ended(index, process);
        });
        connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                [this, index, process] { ended(index, process); });
        worker.process = process;
        worker.whole = whole;
        worker.epoch = g_programEpoch.load();
        worker.buffer.clear();
        process->start(program, arguments);
        return true;
    }

    void readable(int index, QProcess *process)
    {
        Worker &worker = m_workers[size_t(index)];
        if (worker.process != process)
            return;
        worker.buffer += process->readAllStandardOutput();
        QByteArray payload;
        bool broken = false;
        if (!PictureRequest::takeFrame(worker.buffer, PictureRequest::kMaxReplyBytes, &payload,
                                       &broken)) {
            if (broken || !worker.job)
                failed(index, tr("Der Bilddecoder gab eine unverständliche Antwort; das Bild wird "
                                 "nicht genommen."));
            return;
        }
        PictureRequest::Reply reply;
        if (!worker.job
            || !PictureRequest::readReply(payload, worker.job->picture, &reply)
            || !worker.buffer.isEmpty()) {
            failed(index, tr("Der Bilddecoder gab eine unverständliche Antwort; das Bild wird "
                             "nicht genommen."));
            return;
        }
        if (reply.memory && takeWhole(index))
            return;
        finish(index, fromReply(reply));
    }

    // A decode of the seller's own that ran out of a decoder's share of memory is given once
    // the whole budget. A list's thumbnail never is: the program's thumbnails are small, and
    // one of a row from elsewhere that needs more does not hold up every other decode.
    bool takeWhole(int index)
    {
        Worker &worker = m_workers[size_t(index)];
        if (!worker.job || !worker.job->own || worker.job->whole || worker.whole || sanitized())
            return false;
        retire(index);
        ++worker.generation;
        if (worker.timer)
            worker.timer->stop();
        worker.job->whole = true;
        m_whole.push_back(std::move(*worker.job));
        worker.job.reset();
        dispatch();
        return true;
    }

    void ended(int index, QProcess *process)
    {
        Worker &worker = m_workers[size_t(index)];
        if (worker.process != process)
            return;
        const bool crashed = process->exitStatus() == QProcess::CrashExit
            || process->error() == QProcess::Crashed;
        // Killed from outside (by the kernel when the machine runs out of memory, or by
        // hand): the picture is not to blame.
        if (crashed && process->exitCode() == SIGKILL && worker.job) {
            retire(index);
            finish(index, notRead(tr("Der Bilddecoder wurde von außen beendet; das Bild wird "
                                     "später erneut gelesen.")));
            return;
        }
        if (crashed && takeWhole(index))
            return;
        const QString why = crashed
            ? tr("Das Lesen des Bildes brach ab: die Datei ist beschädigt oder braucht mehr "
                 "Speicher oder Rechenzeit, als ein Bild je braucht.")
            : process->error() == QProcess::FailedToStart
            ? tr("Der Bilddecoder des Programms ließ sich nicht starten; das Bild wird nicht "
                 "gelesen.")
            : tr("Der Bilddecoder endete beim Lesen des Bildes; es wird nicht genommen.");
        // A decoder ends by itself only between pictures (after one that spent its memory):
        // the picture it was given meanwhile was never read, and goes to a fresh one, once.
        const bool unread = process->exitStatus() == QProcess::NormalExit
            && process->exitCode() == 0 && process->error() != QProcess::FailedToStart;
        failed(index, why, unread);
    }

    void timedOut(int index)
    {
        Worker &worker = m_workers[size_t(index)];
        if (!worker.job)
            return;
        qCWarning(lcApp) << "A picture decode passed its time; its decoder is ended";
        retire(index);
        finish(index, givenUp());
    }

    // The process is ended and its picture refused. `unread`: the process went away without
    // reading the picture, which a fresh one is given once. A process that goes away between
    // pictures is replaced when the next picture comes, not at once: one that can't run is
    // not started again and again.
    void failed(int index, const QString &why, bool unread = false)
    {
        retire(index);
        if (const std::unique_ptr<Job> &job = m_workers[size_t(index)].job) {
            if (unread && !job->resent) {
                job->resent = true;
                start(index);
                return;
            }
            finish(index, refused(why));
            return;
        }
        dispatch();
    }

    // Takes the process of `index` from its place, which is free from then on; null when none.
    QProcess *detach(int index)
    {
        Worker &worker = m_workers[size_t(index)];
        QProcess *process = worker.process;
        if (!process)
            return nullptr;
        worker.process = nullptr;
        worker.whole = false;
        worker.buffer.clear();
        worker.outgoing.clear();
        process->disconnect(this);
        return process;
    }

    void retire(int index)
    {
        QProcess *process = detach(index);
        if (!process)
            return;
        if (process->state() != QProcess::NotRunning) {
            // Reaped once it is gone, without waiting for it here.
            connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                    process, &QObject::deleteLater);
            connect(process, &QProcess::errorOccurred, process, &QObject::deleteLater);
            process->kill();
        } else {
            process->deleteLater();
        }
    }

    // Ends the process of `index` and waits for it: what it holds is given back now.
    void endNow(int index)
    {
        QProcess *process = detach(index);
        if (!process)
            return;
        process->kill();
        process->waitForFinished(1000);
        delete process;
    }

    void finish(int index, const Decoded &result)
    {
        Worker &worker = m_workers[size_t(index)];
        ++worker.generation;
        worker.outgoing.clear();
        if (worker.timer)
            worker.timer->stop();
        // The whole budget is given back before anything else starts.
        if (worker.whole)
            endNow(index);
        std::unique_ptr<Job> job = std::move(worker.job);
        if (job)
            deliver(job->delivery, result);
        // The next decode does not wait for a process to start.
        if (!worker.process && m_whole.empty())
            launch(index, false);
        dispatch();
    }

    std::vector<Worker> m_workers;
    std::deque<Job> m_own; // the seller's own pictures, in the order asked
    std::deque<Job> m_rows; // the list's thumbnails, in the order asked
    std::deque<Job> m_whole; // waiting for the whole memory budget
    QTimer *m_expiry = nullptr; // at the next queued decode's deadline
};

Service *service()
{
    // Never destroyed: a hook may still post to it after the program's end began.
    static Service *const instance = [] {
        auto *thread = new QThread;
        thread->setObjectName(QStringLiteral("picture decoders"));
        auto *created = new Service;
        created->moveToThread(thread);
        thread->start();
        qAddPostRoutine([] {
            Service *running = service();
            QThread *own = running->thread();
            QMetaObject::invokeMethod(running, [running] { running->stopAll(); },
                                      Qt::BlockingQueuedConnection);
            own->quit();
            own->wait(5000);
        });
        return created;
    }();
    return instance;
}

void purgeGone()
{
    Service *decoders = service();
    QMetaObject::invokeMethod(decoders, [decoders] { decoders->purge(); }, Qt::QueuedConnection);
}

std::shared_ptr<Delivery> post(QObject *context, const Picture &picture,
                               std::function<void(const Decoded &)> done, Order order)
{
    auto delivery = std::make_shared<Delivery>();
    delivery->done = std::move(done);
    delivery->relay = new Relay(context, delivery);
    ++g_pending;
    Job job { picture, delivery, context, QDeadlineTimer(g_timeoutMs.load()) };
    Service *decoders = service();
    QMetaObject::invokeMethod(
        decoders, [decoders, job, order]() mutable { decoders->add(std::move(job), order); },
        Qt::QueuedConnection);
    return delivery;
}

} // namespace

Picture pictureFile(const QString &path, const QSize &box, bool fill)
{
    Picture picture;
    picture.path = path;
    picture.folder = UntrustedFile::pictureFolderOf(path);
    if (box.isValid())
        picture.boxes << Picture::Box { box, fill };
    return picture;
}

Picture pictureBytes(const QByteArray &bytes, const QSize &box, bool fill)
{
    Picture picture;
    picture.bytes = bytes;
    if (box.isValid())
        picture.boxes << Picture::Box { box, fill };
    return picture;
}

int decoderCount()
{
    return qBound(2, QThread::idealThreadCount() / 2, 4);
}

int decodeTimeout()
{
    return g_timeoutMs.load();
}

void setDecodeTimeout(int milliseconds)
{
    g_timeoutMs.store(qMax(1, milliseconds));
}

int pendingDecodes()
{
    return g_pending.load();
}

void setDecodeHook(std::function<void()> hook)
{
    QMutexLocker lock(&g_settingsMutex);
    g_hook = std::move(hook);
}

void setDecoderProgram(const QString &program, const QStringList &arguments)
{
    QMutexLocker lock(&g_settingsMutex);
    g_program = program;
    g_arguments = arguments;
    ++g_programEpoch;
}

void decodeLater(QObject *context, const Picture &picture,
                 std::function<void(const Decoded &)> done, Order order)
{
    post(context, picture, std::move(done), order);
}

void hurry(QObject *context)
{
    Service *decoders = service();
    const QObject *owner = context;
    QMetaObject::invokeMethod(decoders, [decoders, owner] { decoders->hurry(owner); },
                              Qt::QueuedConnection);
}

void withdraw(QObject *context)
{
    Service *decoders = service();
    const QObject *owner = context;
    QMetaObject::invokeMethod(decoders, [decoders, owner] { decoders->withdraw(owner); },
                              Qt::QueuedConnection);
}

Decoded decodeWithin(const Picture &picture, Order order)
{
    return decodeAllWithin({ picture }, order).value(0);
}

QList<Decoded> decodeAllWithin(const QList<Picture> &pictures, Order order)
{
    QList<Decoded> results;
    for (int i = 0; i < pictures.size(); ++i)
        results << Decoded();
    if (pictures.isEmpty())
        return results;
    QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        // The window goes on while it waits.
        QEventLoop loop;
        int left = pictures.size();
        for (int i = 0; i < pictures.size(); ++i)
            post(
                &loop, pictures.at(i),
                [&, i](const Decoded &decoded) {
                    results[i] = decoded;
                    if (--left == 0)
                        loop.quit();
                },
                order);
        loop.exec();
        return results;
    }
    // A worker thread waits on its own: the results are handed over on the decoder's thread.
    struct Waiting
    {
        QSemaphore ready;
        QMutex mutex;
        QList<Decoded> results;
    };
    auto waiting = std::make_shared<Waiting>();
    waiting->results = results;
    Service *decoders = service();
    for (int i = 0; i < pictures.size(); ++i) {
        auto delivery = std::make_shared<Delivery>();
        delivery->direct = [waiting, i](const Decoded &decoded) {
            {
                QMutexLocker lock(&waiting->mutex);
                waiting->results[i] = decoded;
            }
            waiting->ready.release();
        };
        ++g_pending;
        Job job { pictures.at(i), delivery, nullptr, QDeadlineTimer(g_timeoutMs.load()) };
        QMetaObject::invokeMethod(
            decoders, [decoders, job, order]() mutable { decoders->add(std::move(job), order); },
            Qt::QueuedConnection);
    }
    // The decoder's thread settles every decode by its deadline.
    waiting->ready.acquire(pictures.size());
    QMutexLocker lock(&waiting->mutex);
    return waiting->results;
}

} // namespace ImageLimits
