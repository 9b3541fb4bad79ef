#include "core/connectionaside.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {
// Often enough that the window answers within 50 ms.
constexpr int kAnswerIntervalMs = 40;
// The part of the server's packet limit one list may take; the rest is the statement around
// it.
constexpr int kPacketShare = 2;
// Below this nobody sets the limit; a server that answers less is taken to mean this.
constexpr qint64 kSmallestPacket = 64 * 1024;
} // namespace

ConnectionAside::Failure ConnectionAside::Failure::of(const Database &db)
{
    Failure failure;
    failure.outcome = db.lastOutcome();
    failure.lockConflict = db.lastFailureLockConflict();
    failure.transient = db.lastFailureTransient();
    failure.error = db.lastErrorText;
    return failure;
}

void ConnectionAside::run(const QString &name,
                          const std::function<void(Database &db, Control &control)> &work,
                          const std::function<bool(int done)> &answer)
{
    Control control;
    QThread *thread = QThread::create([&name, &work, &control] {
        Database connection(true, name);
        work(connection, control);
        connection.close();
    });
    QEventLoop loop;
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    QTimer answering;
    answering.setInterval(kAnswerIntervalMs);
    const auto ask = [&] {
        if (!control.stop.load() && answer && !answer(control.done.load()))
            control.stop = true;
    };
    QObject::connect(&answering, &QTimer::timeout, &loop, ask);
    // The loop runs until the thread has ended, so the call is taken.
    control.ask = [&] {
        QMetaObject::invokeMethod(&loop, ask, Qt::BlockingQueuedConnection);
        return !control.stop.load();
    };
    answering.start();
    thread->start();
    // Quit is queued when the thread ends before the loop runs: it ends the loop at once.
    if (!thread->isFinished())
        loop.exec();
    thread->wait();
    delete thread;
}

QStringList ConnectionAside::idLists(Database &db, const QList<int> &ids)
{
    qint64 packet = 0;
    if (db.isMySQL) {
        const Read<QString> limit = db.selectOne(QStringLiteral("SELECT @@max_allowed_packet"));
        if (!limit.ok())
            return {};
        packet = std::max(limit->toLongLong(), kSmallestPacket);
    }
    const qint64 room = packet > 0 ? packet / kPacketShare : std::numeric_limits<qint64>::max();
    QStringList lists;
    QString list;
    for (int id : ids) {
        const QString number = QString::number(id);
        if (!list.isEmpty() && list.size() + number.size() + 1 > room) {
            lists << list;
            list.clear();
        }
        if (!list.isEmpty())
            list += QLatin1Char(',');
        list += number;
    }
    if (!list.isEmpty())
        lists << list;
    return lists;
}
