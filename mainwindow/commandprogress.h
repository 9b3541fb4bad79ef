#pragma once

#include <QElapsedTimer>
#include <QString>

class MainWindow;

// Keeps the window painting while an article command works through many rows on the GUI
// thread: shows the progress in the status panel and runs the event loop every 100 ms.
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

private:
    MainWindow *m_window;
    QString m_text;
    int m_maximum;
    QElapsedTimer m_sinceEvents;
};
