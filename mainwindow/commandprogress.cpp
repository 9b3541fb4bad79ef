#include "mainwindow/commandprogress.h"

#include "core/database.h"
#include "mainwindow/mainwindow.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>
#include <QVariant>

namespace {
// Often enough that the window answers within 50 ms together with the step in hand, rarely
// enough to cost nothing measurable.
constexpr int kEventIntervalMs = 40;
constexpr int kGroupSize = 200;

// Copies the SQLite log into the database file with a connection of its own. Waits for
// that copy when it goes, so the window never leaves it running.
class CheckpointThread : public QThread
{
public:
    using QThread::QThread;
    ~CheckpointThread() override { wait(); }

protected:
    void run() override
    {
        Database connection(true, QStringLiteral("commandCheckpoint"));
        // Not made now, the copy is made by the next command's, or when the last connection
        // closes: the rows are committed in the log either way.
        (void)connection.select(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"))
            .orIfFailed(SqlRows());
        connection.close();
    }
};
} // namespace

CommandProgress::CommandProgress(MainWindow *window, const QString &text, int maximum)
    : m_window(window)
    , m_text(text)
    , m_maximum(maximum)
{
    m_window->updateStatusBar(m_text, m_maximum, 0);
    m_sinceEvents.start();
}

bool CommandProgress::step(int value)
{
    if (m_sinceEvents.elapsed() >= kEventIntervalMs) {
        m_window->updateStatusBar(m_text, m_maximum, value);
        QCoreApplication::processEvents();
        m_sinceEvents.restart();
    }
    return !closing();
}

void CommandProgress::finish(const QString &text)
{
    m_window->updateStatusBar(text, m_maximum, m_maximum);
}

bool CommandProgress::closing()
{
    return qApp->property("AppDown").toInt() == 1;
}

QList<QList<int>> CommandProgress::groups(const QList<int> &ids)
{
    QList<QList<int>> result;
    for (int i = 0; i < ids.size(); i += kGroupSize)
        result.append(ids.mid(i, kGroupSize));
    return result;
}

QString CommandProgress::joined(const QList<int> &ids)
{
    QStringList texts;
    texts.reserve(ids.size());
    for (int id : ids)
        texts << QString::number(id);
    return texts.join(QLatin1Char(','));
}

void CommandProgress::leaveCheckpoints(Database *db)
{
    // Not switched off, the commits copy the log themselves: slower, never wrong.
    if (!db->isMySQL && !db->isReadOnly())
        (void)db->select(QStringLiteral("PRAGMA wal_autocheckpoint=0")).orIfFailed(SqlRows());
}

void CommandProgress::checkpointAside(MainWindow *window, Database *db)
{
    if (db->isMySQL || db->isReadOnly())
        return;
    auto *thread = window->findChild<CheckpointThread *>();
    if (!thread)
        thread = new CheckpointThread(window);
    // One running copies what this command wrote too, or the next command's does.
    if (!thread->isRunning())
        thread->start();
}
