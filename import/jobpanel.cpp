#include "import/jobpanel.h"

#include "core/backgroundworker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <limits>

JobPanel::JobPanel(QWidget *parent)
    : QFrame(parent)
    , m_text(new QLabel(this))
    , m_bar(new QProgressBar(this))
    , m_cancel(new QPushButton(tr("Abbrechen"), this))
{
    setObjectName(QStringLiteral("JobPanel"));
    setFrameShape(QFrame::StyledPanel);
    m_text->setObjectName(QStringLiteral("JobLabel"));
    m_text->setTextFormat(Qt::PlainText);
    m_bar->setObjectName(QStringLiteral("JobProgressBar"));
    m_cancel->setObjectName(QStringLiteral("JobCancelButton"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 4, 4);
    layout->addWidget(m_text);
    layout->addWidget(m_bar, 1);
    layout->addWidget(m_cancel);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_job)
            m_job->cancel();
        m_cancel->setEnabled(false);
    });
    hide();
}

void JobPanel::follow(BackgroundJob *job, const QString &text)
{
    if (m_job)
        disconnect(m_job, nullptr, this, nullptr);
    m_job = job;
    m_text->setText(text);
    m_bar->setRange(0, 0); // until the job tells its total
    m_bar->setValue(0);
    m_cancel->setEnabled(true);
    connect(job, &BackgroundJob::progressed, this, [this](qint64 done, qint64 total) {
        if (total <= 0) {
            m_bar->setRange(0, 0);
            return;
        }
        // Kept within an int, also for totals beyond it.
        const qint64 scale = total / std::numeric_limits<int>::max() + 1;
        m_bar->setRange(0, int(total / scale));
        m_bar->setValue(int(qMin(done, total) / scale));
    });
    // What a job of several steps is at now.
    connect(job, &BackgroundJob::stepChanged, m_text, &QLabel::setText);
    connect(job, &BackgroundJob::finished, this, [this, job] {
        if (m_job == job)
            hide();
    });
    show();
}
