#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class BackgroundJob;
class QLabel;
class QProgressBar;
class QPushButton;

// Shows a job of the background worker at the foot of the window while it runs: what it is
// at, a progress bar and "Abbrechen", which asks the job to stop. The window meanwhile goes on
// as ever; the panel hides itself when the job has finished.
class JobProgressPanel : public QWidget
{
    Q_OBJECT

public:
    explicit JobProgressPanel(QWidget *parent = nullptr);

    // Shows `job` with `text` until it has finished (a job shown before is no longer shown).
    void watch(BackgroundJob *job, const QString &text);
    // True while a job is shown.
    bool busy() const { return !m_job.isNull(); }

private:
    void progressed(qint64 done, qint64 total);
    void cancel();
    void finished();

    QPointer<BackgroundJob> m_job;
    QLabel *m_label;
    QProgressBar *m_bar;
    QPushButton *m_cancel;
};
