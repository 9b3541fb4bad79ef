#include "bulk/bulkrun.h"

#include "core/backgroundworker.h"
#include "core/statics.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QProgressBar>
#include <QPushButton>

BulkRun::BulkRun(QDialog *dialog, QDialogButtonBox *buttons, QProgressBar *bar, bool showBar)
    : QObject(dialog)
    , m_dialog(dialog)
    , m_buttons(buttons)
    , m_bar(bar)
    , m_showBar(showBar)
{ }

void BulkRun::start(const QString &name, int total, BulkWriter::Job job,
                    const std::function<void(const BulkWriter::Result &)> &done)
{
    m_running = true;
    m_cancelAsked = false;
    lock();
    if (m_bar) {
        m_bar->setMaximum(total);
        m_bar->setValue(0);
        m_bar->setVisible(m_showBar);
    }
    QPointer<QProgressBar> bar(m_bar);
    m_job = BulkWriter::post(
        name, total, std::move(job), this,
        [bar](int count) {
            if (bar)
                bar->setValue(count);
        },
        [this, done](const BulkWriter::Result &result) {
            m_running = false;
            m_job.clear();
            unlock();
            if (m_bar)
                m_bar->setVisible(false);
            done(result);
            emit ended();
        });
}

bool BulkRun::cancel()
{
    if (!m_running)
        return false;
    m_cancelAsked = true;
    if (m_job)
        m_job->cancel();
    if (QPushButton *abort = m_buttons->button(QDialogButtonBox::Cancel))
        abort->setEnabled(false);
    return true;
}

void BulkRun::tellCancelled(QWidget *dialog)
{
    if (QCoreApplication::instance()->property("AppDown").toInt() == 1)
        return;
    Statics::showMessage(
        dialog, tr("Die Änderung wurde abgebrochen; keiner der Artikel wurde geändert."), 1);
}

void BulkRun::tellStoredAnyway(QWidget *dialog) const
{
    if (!m_cancelAsked || QCoreApplication::instance()->property("AppDown").toInt() == 1)
        return;
    Statics::showMessage(dialog,
                         tr("„Abbrechen“ kam zu spät: die Änderung war bereits gespeichert und "
                            "bleibt erhalten."),
                         1);
}

void BulkRun::lock()
{
    // Everything but the buttons and the bar (and what holds the bar) waits; of the buttons
    // only "Abbrechen" stays.
    m_locked.clear();
    const QList<QWidget *> children
        = m_dialog->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget *child : children) {
        if (child == m_buttons || !child->isEnabled() || (m_bar && child->isAncestorOf(m_bar))
            || child == m_bar)
            continue;
        child->setEnabled(false);
        m_locked << child;
    }
    for (QAbstractButton *button : m_buttons->buttons()) {
        if (m_buttons->buttonRole(button) != QDialogButtonBox::RejectRole && button->isEnabled()) {
            button->setEnabled(false);
            m_locked << button;
        }
    }
}

void BulkRun::unlock()
{
    for (const QPointer<QWidget> &widget : qAsConst(m_locked)) {
        if (widget)
            widget->setEnabled(true);
    }
    m_locked.clear();
    if (QPushButton *abort = m_buttons->button(QDialogButtonBox::Cancel))
        abort->setEnabled(true);
}
