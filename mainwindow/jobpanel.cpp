#include "mainwindow/jobpanel.h"

#include "core/backgroundworker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <limits>

JobPanel::JobPanel(QWidget *parent)
    : QFrame(parent)
    , m_lines(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("JobPanel"));
    setFrameShape(QFrame::StyledPanel);
    m_lines->setContentsMargins(8, 4, 4, 4);
    m_lines->setSpacing(2);
    hide();
}

void JobPanel::follow(BackgroundJob *job, const QString &text)
{
    if (!job)
        return;
    auto *line = new QWidget(this);
    line->setObjectName(QStringLiteral("JobLine"));
    auto *label = new QLabel(line);
    label->setObjectName(QStringLiteral("JobLabel"));
    label->setTextFormat(Qt::PlainText);
    auto *bar = new QProgressBar(line);
    bar->setObjectName(QStringLiteral("JobProgressBar"));
    auto *cancel = new QPushButton(tr("Abbrechen"), line);
    cancel->setObjectName(QStringLiteral("JobCancelButton"));
    auto *layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(bar, 1);
    layout->addWidget(cancel);

    // Behind another job the worker has not taken it yet: it says so until its first word.
    const bool waiting = !m_shown.isEmpty();
    label->setText(waiting ? tr("%1 (wartet)").arg(text) : text);
    bar->setRange(0, 0); // until the job tells its total
    bar->setValue(0);

    QPointer<BackgroundJob> watched(job);
    connect(cancel, &QPushButton::clicked, line, [watched, cancel] {
        if (watched)
            watched->cancel();
        cancel->setEnabled(false);
    });
    connect(job, &BackgroundJob::progressed, line,
            [bar, label, text, waiting](qint64 done, qint64 total) {
                if (waiting && label->text() != text)
                    label->setText(text);
                if (total <= 0) {
                    bar->setRange(0, 0);
                    return;
                }
                // Kept within an int, also for totals beyond it.
                const qint64 scale = total / std::numeric_limits<int>::max() + 1;
                bar->setRange(0, int(total / scale));
                bar->setValue(int(qMin(done, total) / scale));
            });
    // What a job of several steps is at now.
    connect(job, &BackgroundJob::stepChanged, label, &QLabel::setText);
    connect(job, &BackgroundJob::finished, this, [this, job] { drop(job); });
    // A job that goes without finishing (the worker ends) takes its line along.
    connect(job, &QObject::destroyed, this, [this, job] { drop(job); });

    m_lines->addWidget(line);
    line->show();
    m_shown.append({ watched, line });
    show();
}

void JobPanel::drop(BackgroundJob *job)
{
    for (int k = 0; k < m_shown.size(); ++k) {
        if (m_shown.at(k).job != job && !m_shown.at(k).job.isNull())
            continue;
        // Taken out at once, so that the panel counts only what runs; deleted later, as its
        // button may be the one being clicked.
        QWidget *line = m_shown.takeAt(k--).widget;
        line->hide();
        m_lines->removeWidget(line);
        line->deleteLater();
    }
    if (m_shown.isEmpty())
        hide();
}

BackgroundJob *JobPanel::job() const
{
    for (int k = m_shown.size() - 1; k >= 0; --k) {
        if (m_shown.at(k).job)
            return m_shown.at(k).job;
    }
    return nullptr;
}

QList<BackgroundJob *> JobPanel::jobs() const
{
    QList<BackgroundJob *> shown;
    for (const Line &line : m_shown) {
        if (line.job)
            shown << line.job;
    }
    return shown;
}
