#pragma once

#include "bulk/bulkwriter.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class BackgroundJob;
class QDialog;
class QDialogButtonBox;
class QProgressBar;
class QWidget;

// How a bulk dialog waits for its write, which runs as a job of the background worker: the
// window and the dialog go on painting, the dialog's entries and OK are disabled, its bar
// shows how many articles are done, and "Abbrechen" (or closing the dialog) asks the job to
// stop. The dialog closes only once the job has told its result.
class BulkRun : public QObject
{
    Q_OBJECT

public:
    // `bar` may be null; shown while the job runs unless `showBar` is false.
    BulkRun(QDialog *dialog, QDialogButtonBox *buttons, QProgressBar *bar, bool showBar = true);

    // Posts `job` over `total` articles; `done` gets its result on the window's thread, after
    // the dialog's entries are enabled again.
    void start(const QString &name, int total, BulkWriter::Job job,
               const std::function<void(const BulkWriter::Result &result)> &done);
    bool isRunning() const { return m_running; }
    // Asks the running job to stop (its result follows); false when none runs.
    bool cancel();
    // Whether "Abbrechen" was given while the last job ran.
    bool cancelAsked() const { return m_cancelAsked; }
    // Tells the seller that the job stopped on request with nothing kept (not while the
    // program closes: nobody is left to read it).
    static void tellCancelled(QWidget *dialog);
    // After a job that stored its change: when "Abbrechen" came too late to stop it, tells the
    // seller that the change is kept.
    void tellStoredAnyway(QWidget *dialog) const;

signals:
    // The result was handed on.
    void ended();

private:
    void lock();
    void unlock();

    QDialog *m_dialog;
    QDialogButtonBox *m_buttons;
    QProgressBar *m_bar;
    bool m_showBar;
    bool m_running = false;
    bool m_cancelAsked = false;
    QPointer<BackgroundJob> m_job;
    QList<QPointer<QWidget>> m_locked;
};
