#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>

class Database;
class MainWindow;

// Keeps the window painting while an article command works through many rows on the GUI
// thread: shows the progress in the status panel and runs the event loop every 40 ms, so
// that with steps of a few milliseconds the window never waits longer than 50 ms.
// The window stays disabled meanwhile, so the user cannot start another command.
class CommandProgress
{
public:
    CommandProgress(MainWindow *window, const QString &text, int maximum);

    // Reports that `value` articles are done. False once the program is closing: the
    // command then stops after the article in hand, so every article is done or untouched.
    bool step(int value);
    // Shows `text` with the progress full (the panel hides).
    void finish(const QString &text);

    // True once the window was closed ("AppDown").
    static bool closing();

    // Article ids in groups small enough for one step of a command (one statement over a
    // group takes a few milliseconds even among 100,000 articles), in their order.
    static QList<QList<int>> groups(const QList<int> &ids);
    // "1,2,3": the ids for an IN (...) list.
    static QString joined(const QList<int> &ids);

    // For a command that writes many rows into the SQLite file: before its transaction, the
    // window's connection stops copying the log into the file at its commits (that copy
    // would hold the window for as long as the commit itself, or longer); after it,
    // checkpointAside() makes the copy on a thread of its own.
    static void leaveCheckpoints(Database *db);
    static void checkpointAside(MainWindow *window, Database *db);

private:
    MainWindow *m_window;
    QString m_text;
    int m_maximum;
    QElapsedTimer m_sinceEvents;
};
