#include "core/mymessageoutput.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>

#include "core/clock.h"
#include "core/privatefile.h"

#include <unistd.h>

namespace {

const QLatin1String kDailyPrefix("ZirevPavlet_");
const QLatin1String kDailySuffix(".log");
const QLatin1String kDailyDateFormat("yyyy_MM_dd");

struct LogState
{
    QMutex mutex;
    std::unique_ptr<QFile> file; // null while no log is open
    QString path; // the open file's
    QDate day; // valid only while the file is one of the daily files
    QtMessageHandler previous = nullptr;
    bool installed = false;
};

// Never destroyed: Qt may still log while static objects are torn down at exit.
LogState &logState()
{
    static auto *state = new LogState;
    return *state;
}

// Set while this thread is inside the handler: a message raised while writing (by Qt
// itself) goes to stderr instead of waiting for the mutex this thread already holds.
thread_local bool t_writing = false;

// The day a daily file name ("ZirevPavlet_2026_03_14.log") stands for; invalid otherwise.
QDate dayOfFileName(const QString &path)
{
    static const QRegularExpression pattern(
        QStringLiteral("^ZirevPavlet_(\\d{4}_\\d{2}_\\d{2})\\.log$"));
    const QRegularExpressionMatch match = pattern.match(QFileInfo(path).fileName());
    if (!match.hasMatch())
        return QDate();
    return QDate::fromString(match.captured(1), kDailyDateFormat);
}

QString dailyPath(const QString &currentPath, const QDate &day)
{
    return QFileInfo(currentPath)
        .dir()
        .filePath(kDailyPrefix + day.toString(kDailyDateFormat) + kDailySuffix);
}

// Opens `file` on `path` for appending, for its owner's eyes alone (0600, whatever the umask
// or the mode an existing file had); a link planted in its place is not followed. Only in a
// folder that passes the data folder's check (no other user owns or may change any folder on
// the way), and opened through the folder that was checked: nothing is written elsewhere.
bool openPrivate(QFile &file, const QString &path)
{
    const QFileInfo info(path);
    const PrivateFile::Folder folder = PrivateFile::openFolder(info.path(), false);
    if (folder.fault != PrivateFile::Folder::Fault::None) {
        std::fputs(QStringLiteral("The log %1 is not opened: the folder %2 is not the user's own "
                                  "or can't be opened\n")
                       .arg(path, folder.at)
                       .toLocal8Bit()
                       .constData(),
                   stderr);
        return false;
    }
    const bool opened = PrivateFile::open(
        file, PrivateFile::throughDescriptor(folder.fd, folder.realPath) + info.fileName(),
        QIODevice::WriteOnly | QIODevice::Append);
    ::close(folder.fd);
    return opened;
}

// Moves to the file of `today` when the open file is another day's daily file. Stays with
// the old file when the new one can't be opened, and tries again on the next new day.
void followDay(LogState &state, const QDate &today)
{
    if (!state.day.isValid() || !today.isValid() || state.day == today)
        return;
    state.day = today;
    const QString path = dailyPath(state.path, today);
    auto next = std::make_unique<QFile>();
    if (openPrivate(*next, path)) {
        state.file = std::move(next);
        state.path = path;
    }
}

void writeToConsole(const QString &line)
{
    std::fputs(line.toLocal8Bit().append('\n').constData(), stderr);
    std::fflush(stderr);
}

const char *typeTag(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "[Debug]";
    case QtWarningMsg:
        return "[Warning]";
    case QtCriticalMsg:
        return "[Critical]";
    case QtFatalMsg:
        return "[Fatal]";
    case QtInfoMsg:
        return "[Info]";
    }
    return "[Debug]";
}

} // namespace

void MyMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context)
    LogState &state = logState();
    if (t_writing) {
        writeToConsole(MessageLog::formatLine(type, Clock::currentDateTime(), message));
    } else {
        t_writing = true;
        {
            QMutexLocker locker(&state.mutex);
            const QDateTime now = Clock::currentDateTime();
            const QString line = MessageLog::formatLine(type, now, message);
            if (state.file) {
                followDay(state, now.date());
                state.file->write(line.toUtf8().append('\n'));
                state.file->flush();
            } else {
                writeToConsole(line);
            }
        }
        t_writing = false;
    }
    if (type == QtFatalMsg)
        std::abort();
}

bool MessageLog::open(const QString &path)
{
    if (path.isEmpty())
        return false;
    auto file = std::make_unique<QFile>();
    if (!openPrivate(*file, path))
        return false;

    LogState &state = logState();
    QMutexLocker locker(&state.mutex);
    state.file = std::move(file);
    state.path = path;
    state.day = dayOfFileName(path);
    if (!state.installed) {
        state.previous = qInstallMessageHandler(MyMessageOutput);
        state.installed = true;
    }
    return true;
}

void MessageLog::close()
{
    LogState &state = logState();
    QMutexLocker locker(&state.mutex);
    if (state.installed) {
        qInstallMessageHandler(state.previous);
        state.previous = nullptr;
        state.installed = false;
    }
    state.file.reset();
    state.path.clear();
    state.day = QDate();
}

QString MessageLog::currentPath()
{
    LogState &state = logState();
    QMutexLocker locker(&state.mutex);
    return state.file ? state.path : QString();
}

QString MessageLog::formatLine(QtMsgType type, const QDateTime &time, const QString &message)
{
    return time.toString(QStringLiteral("yyyy.MM.dd hh:mm:ss")) + QLatin1Char(' ')
        + QLatin1String(typeTag(type)) + QLatin1Char(' ') + message;
}
