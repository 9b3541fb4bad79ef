#include "mainwindow/commandprogress.h"

#include "mainwindow/mainwindow.h"

#include <QCoreApplication>
#include <QVariant>

namespace {
// Often enough for a smooth progress bar, rarely enough to cost nothing measurable.
constexpr int kEventIntervalMs = 100;
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
