#pragma once

#include <QFrame>
#include <QPointer>

class BackgroundJob;
class QVBoxLayout;

// The jobs of the background worker that the seller waits for, shown below the status panel:
// one line for each job that has not finished, in the order they were started, each with
// what it does, how far it got, and its own "Abbrechen". A job still waiting in the worker's
// queue says so until it starts. The window goes on meanwhile; the panel hides once no job is
// left.
class JobPanel : public QFrame
{
    Q_OBJECT
public:
    explicit JobPanel(QWidget *parent = nullptr);

    // Adds a line showing `job` under `text` until it finishes; its Abbrechen cancels it alone.
    void follow(BackgroundJob *job, const QString &text);
    // The job started last that has not finished; null when none is shown.
    BackgroundJob *job() const;
    // The jobs shown, in the order they were started.
    QList<BackgroundJob *> jobs() const;

private:
    struct Line
    {
        QPointer<BackgroundJob> job;
        QWidget *widget;
    };
    void drop(BackgroundJob *job);

    QVBoxLayout *m_lines;
    QList<Line> m_shown;
};
