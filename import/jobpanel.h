#pragma once

#include <QFrame>
#include <QPointer>

class BackgroundJob;
class QLabel;
class QProgressBar;
class QPushButton;

// A job of the background worker that the seller waits for, shown below the status panel:
// what it does, how far it got, and "Abbrechen". The window goes on meanwhile. Hidden again
// once the job has finished.
class JobPanel : public QFrame
{
    Q_OBJECT
public:
    explicit JobPanel(QWidget *parent = nullptr);

    // Shows `job` under `text` until it finishes; Abbrechen cancels it.
    void follow(BackgroundJob *job, const QString &text);
    // The job shown, while it runs.
    BackgroundJob *job() const { return m_job; }

private:
    QPointer<BackgroundJob> m_job;
    QLabel *m_text;
    QProgressBar *m_bar;
    QPushButton *m_cancel;
};
