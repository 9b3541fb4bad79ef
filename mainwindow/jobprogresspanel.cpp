#include "mainwindow/jobprogresspanel.h"

#include "core/backgroundworker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <limits>

JobProgressPanel::JobProgressPanel(QWidget *parent)
    : QWidget(parent)
    , m_label(new QLabel(this))
    , m_bar(new QProgressBar(this))
    , m_cancel(new QPushButton(tr("Abbrechen"), this))
{
    setObjectName(QStringLiteral("JobProgressPanel"));
    m_label->setObjectName(QStringLiteral("JobLabel"));
    m_bar->setObjectName(QStringLiteral("JobProgressBar"));
    m_cancel->setObjectName(QStringLiteral("JobCancelButton"));
    m_bar->setMaximumWidth(200);
    m_bar->setTextVisible(false);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    layout->addWidget(m_bar);
    layout->addWidget(m_cancel);
    connect(m_cancel, &QPushButton::clicked, this, &JobProgressPanel::cancel);
    hide();
}

void JobProgressPanel::watch(BackgroundJob *job, const QString &text)
{
    if (m_job)
        disconnect(m_job, nullptr, this, nullptr);
    m_job = job;
    m_label->setText(text);
    m_bar->setRange(0, 0);
    m_cancel->setEnabled(true);
    connect(job, &BackgroundJob::progressed, this, &JobProgressPanel::progressed);
    connect(job, &BackgroundJob::stepChanged, this, [this](const QString &step) {
        if (m_cancel->isEnabled())
            m_label->setText(step);
    });
    connect(job, &BackgroundJob::finished, this, &JobProgressPanel::finished);
    show();
}

void JobProgressPanel::progressed(qint64 done, qint64 total)
{
    if (total <= 0) {
        m_bar->setRange(0, 0); // busy: how much is left is not known
        return;
    }
    // A bar counts in int: very large totals are shown in parts of a thousand.
    const bool scaled = total > std::numeric_limits<int>::max();
    m_bar->setRange(0, scaled ? 1000 : int(total));
    m_bar->setValue(scaled ? int(done * 1000 / total) : int(done));
}

void JobProgressPanel::cancel()
{
    if (!m_job)
        return;
    m_job->cancel();
    m_cancel->setEnabled(false);
    m_label->setText(tr("Wird abgebrochen …"));
}

void JobProgressPanel::finished()
{
    m_job.clear();
    hide();
}
