#pragma once

#include "core/readresult.h"

#include <QDialog>
#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>
#include <memory>

class Database;
class QTime;
class ScheduledStartService;

namespace Ui {
class Planning;
}

// Chooses when the selected articles are started by the start-time service: a date
// within the next 30 days, a time and a gap in minutes between the articles. Confirming
// moves the articles into the folder "Scheduled" (-3) with their start times; the listing
// worker then uploads them to the service.
//
// The dialog shows the seller's credit with the service and can only be cancelled when
// no credit is left or some of the articles have not been verified.
class Planning : public QDialog
{
    Q_OBJECT

public:
    // `ids`: the article ids joined with ","; `folder`: the id of the folder they were
    // selected in, as text; `allVerified`: whether every one of them passed a
    // verification. `unverifiedCount` is not used. Asks the server for the credit before
    // it returns.
    Planning(QWidget *parent, const QString &ids, const QString &folder, bool allVerified,
             int unverifiedCount);
    ~Planning() override;

    // The chosen date and time as "dd.MM.yy HH:mm"; also the start text of the article list.
    QString getDateString();
    // True when the answer to the schedule's commit was lost: whether it is stored is not
    // known.
    bool outcomeUnknown() const { return m_outcomeUnknown; }
    // With an unknown outcome: whether articles that already had a job at the start service
    // were among those planned. Stored or not, their rows still name the old job, which the
    // service starts at the old time.
    bool oldJobsKept() const { return m_oldJobsKept; }
    // Why the schedule could not be stored (nothing of it is); empty when it was, or when its
    // outcome is not known.
    QString failure() const { return m_failure; }

public slots:
    // Writes the schedule (refused while the start is less than ten minutes ahead).
    void accept() override;
    // Locks shown: the articles have to be verified first / the credit is used up.
    void infoVerify();
    void infoPleite();

signals:
    // Sent for every article moved into the folder "Scheduled".
    void ChangeFolderCount(int folder, int count, bool absolute);

private slots:
    void on_calendarWidget_selectionChanged();
    void on_PlanningTime_userTimeChanged(const QTime &time);

private:
    // After the new starts of `ids` were stored: withdraws each one's old job (by article:
    // job id and start) and hands the article over for its new start, or puts its old start
    // back where the service keeps the job; says what could not be done.
    void withdrawOldJobs(const QStringList &ids,
                         const QHash<QString, QPair<QString, QString>> &oldStartOf);
    // After the answer to the commit of the new starts (by article) was lost: whether the
    // rows hold them; a failed read when they could not be read.
    Read<bool> startsStored(const QHash<QString, QString> &newStartOf);

    std::unique_ptr<Ui::Planning> m_ui;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<ScheduledStartService> m_service;
    QStringList m_ids;
    QString m_folder;
    bool m_outcomeUnknown = false;
    bool m_oldJobsKept = false;
    QString m_failure;
};
