// The program's side of its picture decoder processes (core/picturedecodermain.cpp): a small
// pool of them, owned by a thread of their own that only talks to them by their signals. The
// window's thread never waits on them: it posts a picture and hears the result by a queued
// call. A process that crashes, runs out of its limits or passes the wall-clock limit (then
// it is killed) refuses its picture, and a fresh one takes its place at once.
#include "core/imagelimits.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "core/logging.h"
#include "core/untrustedfile.h"

#ifndef APP_PICTURE_DECODER_PATH
#define APP_PICTURE_DECODER_PATH ""
#endif

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

// The decoder beside the running program; the one the build made, for the test programs.
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
    return QString::fromUtf8(APP_PICTURE_DECODER_PATH);
}

Decoded givenUp()
{
    Decoded result;
    result.timedOut = true;
    result.refusal = tr("Das Bild zu lesen dauerte länger als %1 s; es wird übergangen.")
                         .arg((g_timeoutMs.load() + 999) / 1000);
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
    bool resent = false; // given to a second process after the first went away unasked
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
};

class Service : public QObject
{
public:
    Service() { m_workers.resize(size_t(decoderCount())); }

    void add(Job job, Order order)
    {
        if (order == Order::First)
            m_queue.push_front(std::move(job));
        else
            m_queue.push_back(std::move(job));
        dispatch();
    }

    void hurry(const QObject *owner)
    {
        std::deque<Job> first;
        std::deque<Job> rest;
        for (Job &job : m_queue)
            (job.owner == owner ? first : rest).push_back(std::move(job));
        m_queue.clear();
        for (Job &job : first)
            m_queue.push_back(std::move(job));
        for (Job &job : rest)
            m_queue.push_back(std::move(job));
    }

    // Drops the queued decodes whose caller is gone.
    void purge()
    {
        std::deque<Job> kept;
        for (Job &job : m_queue) {
            if (job.delivery->alive.load())
                kept.push_back(std::move(job));
            else
                deliver(job.delivery, Decoded());
        }
        m_queue.swap(kept);
    }

    void stopAll()
    {
        m_queue.clear();
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
    void dispatch()
    {
        for (size_t i = 0; i < m_workers.size() && !m_queue.empty(); ++i) {
            Worker &worker = m_workers[i];
            if (worker.job)
                continue;
            // Decodes of a caller that is gone are dropped, not decoded.
            while (!m_queue.empty() && !m_queue.front().delivery->alive.load()) {
                deliver(m_queue.front().delivery, Decoded());
                m_queue.pop_front();
            }
            if (m_queue.empty())
                return;
            worker.job = std::make_unique<Job>(std::move(m_queue.front()));
            m_queue.pop_front();
            start(int(i));
        }
    }

    void start(int index)
    {
        Worker &worker = m_workers[size_t(index)];
        const quint64 generation = ++worker.generation;
        if (worker.process && worker.epoch != g_programEpoch.load())
            retire(index);
        if (!worker.process && !launch(index)) {
            finish(index, refused(tr("Der Bilddecoder des Programms ließ sich nicht starten; "
                                     "das Bild wird nicht gelesen.")));
            return;
        }
        if (!worker.timer) {
            worker.timer = new QTimer(this);
            worker.timer->setSingleShot(true);
            connect(worker.timer, &QTimer::timeout, this, [this, index] { timedOut(index); });
        }
        worker.timer->start(g_timeoutMs.load());
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
        if (!PictureRequest::writeRequest(worker.process, worker.job->picture))
            failed(index, tr("Der Bilddecoder nahm das Bild nicht an."), true, true);
    }

    bool launch(int index)
    {
        Worker &worker = m_workers[size_t(index)];
        QStringList arguments;
        const QString program = decoderProgram(&arguments);
        if (program.isEmpty())
            return false;
        auto *process = new QProcess(this);
        process->setProcessChannelMode(QProcess::SeparateChannels);
        process->setStandardErrorFile(QProcess::nullDevice());
        connect(process, &QProcess::readyReadStandardOutput, this,
                [this, index, process] { readable(index, process); });
        connect(process, &QProcess::errorOccurred, this, [this, index, process](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart || error == QProcess::Crashed)
                ended(index, process);
        });
        connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                [this, index, process] { ended(index, process); });
        worker.process = process;
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
        finish(index, fromReply(reply));
    }

    void ended(int index, QProcess *process)
    {
        Worker &worker = m_workers[size_t(index)];
        if (worker.process != process)
            return;
        const QString why = process->exitStatus() == QProcess::CrashExit
                || process->error() == QProcess::Crashed
            ? tr("Das Lesen des Bildes brach ab: die Datei ist beschädigt oder braucht mehr "
                 "Speicher oder Rechenzeit, als ein Bild je braucht.")
            : process->error() == QProcess::FailedToStart
            ? tr("Der Bilddecoder des Programms ließ sich nicht starten; das Bild wird nicht "
                 "gelesen.")
            : tr("Der Bilddecoder endete beim Lesen des Bildes; es wird nicht genommen.");
        // A decoder ends by itself only between pictures (after one that spent its memory):
        // the picture it was given meanwhile was never read, and goes to a fresh one.
        const bool unread = process->exitStatus() == QProcess::NormalExit
            && process->exitCode() == 0 && process->error() != QProcess::FailedToStart;
        // One that can't be started is tried again for the next picture, not at once.
        failed(index, why, process->error() != QProcess::FailedToStart, unread);
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

    // The process is ended and its picture refused; a fresh process takes its place.
    // `unread`: the process went away without reading the picture, which a fresh one is
    // given once.
    void failed(int index, const QString &why, bool relaunch = true, bool unread = false)
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
        if (relaunch)
            launch(index);
        dispatch();
    }

    void retire(int index)
    {
        Worker &worker = m_workers[size_t(index)];
        if (!worker.process)
            return;
        QProcess *process = worker.process;
        worker.process = nullptr;
        worker.buffer.clear();
        process->disconnect(this);
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

    void finish(int index, const Decoded &result)
    {
        Worker &worker = m_workers[size_t(index)];
        ++worker.generation;
        if (worker.timer)
            worker.timer->stop();
        std::unique_ptr<Job> job = std::move(worker.job);
        if (job)
            deliver(job->delivery, result);
        // The next decode does not wait for a process to start.
        if (!worker.process)
            launch(index);
        dispatch();
    }

    std::vector<Worker> m_workers;
    std::deque<Job> m_queue;
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
    Job job { picture, delivery, context };
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
        Job job { pictures.at(i), delivery, nullptr };
        QMetaObject::invokeMethod(
            decoders, [decoders, job, order]() mutable { decoders->add(std::move(job), order); },
            Qt::QueuedConnection);
    }
    // The decoder's thread settles every decode within its time.
    waiting->ready.acquire(pictures.size());
    QMutexLocker lock(&waiting->mutex);
    return waiting->results;
}

} // namespace ImageLimits
