#include "workers/planning.h"

#include <QDateTime>
#include <QHash>
#include <QPushButton>
#include <QTimer>

#include "core/clock.h"
#include "core/config.h"
#include "core/database.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "ui_planning.h"
#include "workers/scheduledstartservice.h"

namespace {

// A start must lie at least this far ahead, so that the service gets it in time.
constexpr int kMinimumLeadSeconds = 600;
constexpr int kBookableDays = 30;
constexpr int kLockMessageDelayMs = 1500;

const QString kDateTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

} // namespace

Planning::Planning(QWidget *parent, const QString &ids, const QString &folder, bool allVerified,
                   int unverifiedCount)
    : QDialog(parent)
    , m_ui(new Ui::Planning)
    , m_ids(ids.split(QLatin1Char(',')))
    , m_folder(folder)
{
    Q_UNUSED(unverifiedCount)
    m_ui->setupUi(this);
    m_db = std::make_unique<Database>(true, QStringLiteral("planning"));
    m_service = std::make_unique<ScheduledStartService>(m_db.get());

    const QString infoPage = Config::serverAddress(QStringLiteral("/startzeitplanung"));
    if (!infoPage.isEmpty()) {
        m_ui->LinkLabel->setTextFormat(Qt::RichText);
        m_ui->LinkLabel->setText(
            QStringLiteral("<a href=\"%1#kosten\">%2</a>")
                .arg(infoPage.toHtmlEscaped(), m_ui->LinkLabel->text().toHtmlEscaped()));
    }

    m_ui->IntervallBox->setEnabled(m_ids.size() > 1);

    // The credit as the maker's server words it. Asked for without every account, it would
    // be too small: then the dialog says why and plans nothing.
    m_ui->CurrentVal->setTextFormat(Qt::PlainText);
    const Read<QString> credit = m_service->credit();
    m_ui->CurrentVal->setText(
        credit.ok() ? *credit
                    : tr("Das Guthaben konnte nicht abgefragt werden, die Konten konnten nicht "
                         "gelesen werden: %1")
                          .arg(credit.error()));

    const QDateTime now = Clock::currentDateTime();
    // The next full hour: at 14:20 and at 14:55 alike 15:00.
    m_ui->PlanningTime->setTime(QTime(now.addSecs(3600).time().hour(), 0));

    const QDate today = now.date();
    m_ui->calendarWidget->setMaximumDate(today.addDays(kBookableDays));
    m_ui->calendarWidget->setMinimumDate(today);
    m_ui->calendarWidget->setSelectedDate(today);

    adjustSize();
    setMinimumSize(size());
    setMaximumSize(size());

    m_ui->DateSel->setText(getDateString());

    const bool noCredit = credit.ok() && ScheduledStartService::noCreditLeft(*credit);
    if (credit.ok() && !noCredit && allVerified)
        return;
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    m_ui->calendarWidget->setEnabled(false);
    m_ui->IntervallBox->setEnabled(false);
    m_ui->PlanningTime->setEnabled(false);
    if (!credit.ok())
        return;
    // A missing credit is reported before missing verifications.
    QTimer::singleShot(kLockMessageDelayMs, this,
                       noCredit ? &Planning::infoPleite : &Planning::infoVerify);
}

Planning::~Planning() = default;

QString Planning::getDateString()
{
    return m_ui->calendarWidget->selectedDate().toString(QStringLiteral("dd.MM.yy"))
        + QLatin1Char(' ') + m_ui->PlanningTime->time().toString(QStringLiteral("HH:mm"));
}

void Planning::accept()
{
    QDateTime start = QDateTime::fromString(
        m_ui->calendarWidget->selectedDate().toString(QStringLiteral("yyyy-MM-dd"))
            + QLatin1Char(' ') + m_ui->PlanningTime->time().toString(QStringLiteral("HH:mm:ss")),
        kDateTimeFormat);
    if (start < Clock::currentDateTime().addSecs(kMinimumLeadSeconds)) {
        Statics::showMessage(
            this, tr("Die Startzeit solle mindestens 10 Minuten in der Zukunft liegen"), 0);
        return;
    }

    const bool fromScheduled = m_folder.toInt() == SpecialFolderId::Scheduled;
    m_outcomeUnknown = false;
    m_oldJobsKept = false;
    m_failure.clear();
    // The jobs the articles have at the service now, read all before anything is written: one
    // that could not be read would be started (and paid for) twice. Not read, nothing is
    // withdrawn or planned, and the window says why.
    QStringList ids;
    for (const QString &id : qAsConst(m_ids))
        ids << QString::number(id.toInt());
    const Read<SqlRows> jobs = m_db->select(
        QStringLiteral("SELECT id, Planned_Interval, Planned FROM articles WHERE id IN (")
        + ids.join(QLatin1Char(',')) + QLatin1Char(')'));
    if (!jobs.ok()) {
        m_failure = jobs.error();
        done(QDialog::Accepted);
        return;
    }
    QHash<QString, QPair<QString, QString>> oldStartOf; // job id and start, by article
    for (const ArticleRow &row : *jobs)
        oldStartOf.insert(row.value(QStringLiteral("id")).toString(),
                          { row.value(QStringLiteral("Planned_Interval")).toString(),
                            row.value(QStringLiteral("Planned")).toString() });

    // The new starts are stored first, in one transaction; an article with a job at the
    // service keeps naming it. Only once they are stored are the old jobs withdrawn: a
    // write that fails leaves every article with its old job and start, at the service as
    // in its row.
    QStringList rescheduled; // articles whose old job is to be withdrawn
    QHash<QString, QString> newStartOf; // the start written, by article
    int moved = 0;
    bool written = false;
    {
        Transaction command(m_db.get());
        written = command.isOpen();
        for (const QString &id : qAsConst(ids)) {
            if (!written)
                break;
            // The folder it comes back to is the one stored now, written as a value; an
            // article in the scheduled folder already (planned again after a lost answer)
            // keeps its own.
            const Read<QString> folder
                = m_db->selectOne(QStringLiteral("SELECT Folder FROM articles WHERE id=") + id);
            // A read that failed is no deleted article: nothing of the schedule is stored.
            written = folder.ok();
            if (!written)
                break;
            const QString currentFolder = *folder;
            if (currentFolder.isEmpty())
                continue; // deleted meanwhile
            const bool scheduled = currentFolder.toInt() == SpecialFolderId::Scheduled;
            const QString at = start.toString(kDateTimeFormat);
            const bool hasJob = !oldStartOf.value(id).first.isEmpty();
            const QString job = hasJob ? QString() : QStringLiteral("Planned_Interval='', ");
            const QString sql = fromScheduled || scheduled
                ? QStringLiteral("UPDATE articles SET ") + job + QStringLiteral("Planned='") + at
                    + QStringLiteral("' WHERE id=") + id
                : QStringLiteral("UPDATE articles SET Folder=-3, FolderOld=") + currentFolder
                    + QStringLiteral(", ") + job + QStringLiteral("Planned='") + at
                    + QStringLiteral("' WHERE id=") + id;
            written = m_db->executeSQL(sql);
            newStartOf.insert(id, at);
            if (hasJob)
                rescheduled << id;
            if (!fromScheduled && !scheduled)
                ++moved;
            if (m_ui->IntervallBox->value() > 0)
                start = start.addSecs(qint64(m_ui->IntervallBox->value()) * 60);
        }
        written = written && command.commit();
    }
    m_outcomeUnknown = !written && m_db->lastOutcome() == Database::Outcome::Unknown;
    if (m_outcomeUnknown) {
        // The answer to the commit was lost: the rows tell whether the new starts are stored.
        // Not read, it stays unknown and no old job is withdrawn.
        const QString error = m_db->lastErrorText;
        const Read<bool> stored = startsStored(newStartOf);
        if (stored.ok()) {
            m_outcomeUnknown = false;
            m_db->unknownOutcomeTold();
            written = *stored;
            m_db->lastErrorText = error;
        }
    }
    m_oldJobsKept = m_outcomeUnknown && !rescheduled.isEmpty();
    if (!written && !m_outcomeUnknown) {
        m_failure = m_db->lastErrorText;
        moved = 0;
    }
    for (int i = 0; written && i < moved; ++i) {
        emit ChangeFolderCount(m_folder.toInt(), -1, false);
        emit ChangeFolderCount(SpecialFolderId::Scheduled, 1, false);
    }
    if (written)
        withdrawOldJobs(rescheduled, oldStartOf);
    done(QDialog::Accepted);
}

Read<bool> Planning::startsStored(const QHash<QString, QString> &newStartOf)
{
    if (newStartOf.isEmpty())
        return true;
    const QStringList ids = newStartOf.keys();
    const Read<SqlRows> rows
        = m_db->select(QStringLiteral("SELECT id, Planned FROM articles WHERE id IN (")
                       + ids.join(QLatin1Char(',')) + QLatin1Char(')'));
    if (!rows.ok())
        return Read<bool>::failed(rows.error());
    // Written in one transaction: all of them hold their new start, or none was stored. An
    // article deleted meanwhile tells nothing; some holding it and some not (changed by
    // another workstation since) tells nothing sure either.
    int holding = 0;
    for (const ArticleRow &row : *rows)
        if (row.value(QStringLiteral("Planned")).toString()
            == newStartOf.value(row.value(QStringLiteral("id")).toString()))
            ++holding;
    if (rows->isEmpty() || (holding > 0 && holding < rows->size()))
        return Read<bool>::failed(QStringLiteral("not clear from the rows"));
    const bool stored = holding > 0;
    qCInfo(lcDb).noquote() << "The new starts of" << ids.size() << "articles"
                           << (stored ? "were" : "were not")
                           << "stored, the answer to their commit lost";
    return stored;
}

void Planning::withdrawOldJobs(const QStringList &ids,
                               const QHash<QString, QPair<QString, QString>> &oldStartOf)
{
    // Each old job is withdrawn, then the row handed to the listing worker, which uploads the
    // new start. A job the service keeps gets its old start back in the row, as the service
    // will start it then.
    int keptOldStart = 0;
    QStringList notStored; // why a row could not be brought in line with the service
    int withdrawnNotHandedOver = 0;
    int keptNotRestored = 0;
    for (const QString &id : ids) {
        const QString jobId = oldStartOf.value(id).first;
        const QString sameJob = QStringLiteral(" WHERE id=") + id
            + QStringLiteral(" AND Planned_Interval='") + Database::escapeString(jobId)
            + QLatin1Char('\'');
        if (m_service->withdraw(jobId)) {
            if (!m_db->executeSQL(QStringLiteral("UPDATE articles SET Planned_Interval=''")
                                      + sameJob,
                                  Database::Repeat::Safe)) {
                ++withdrawnNotHandedOver;
                notStored << m_db->lastErrorText;
            }
            continue;
        }
        ++keptOldStart;
        if (!m_db->executeSQL(QStringLiteral("UPDATE articles SET Planned='")
                                  + Database::escapeString(oldStartOf.value(id).second)
                                  + QLatin1Char('\'') + sameJob,
                              Database::Repeat::Safe)) {
            ++keptNotRestored;
            notStored << m_db->lastErrorText;
        }
    }

    QStringList texts;
    if (keptOldStart > 0)
        texts << (keptOldStart == 1
                      ? tr("1 Artikel behält seinen bisherigen Starttermin, weil sein Auftrag bei "
                           "der Startzeitplanung nicht zurückgezogen werden konnte. Bitte "
                           "versuche es später noch einmal.")
                      : tr("%1 Artikel behalten ihren bisherigen Starttermin, weil ihre Aufträge "
                           "bei der Startzeitplanung nicht zurückgezogen werden konnten. Bitte "
                           "versuche es später noch einmal.")
                            .arg(keptOldStart));
    if (keptNotRestored > 0)
        texts << tr("Bei %1 davon zeigt die Artikelliste trotzdem den neuen Termin, weil der "
                    "bisherige nicht wieder eingetragen werden konnte: %2")
                     .arg(keptNotRestored)
                     .arg(notStored.constLast());
    if (withdrawnNotHandedOver > 0)
        texts << tr("Der bisherige Auftrag von %1 Artikel wurde bei der Startzeitplanung "
                    "zurückgezogen, der neue Starttermin konnte aber nicht zur Übergabe "
                    "vorgemerkt werden (%2). Bitte plane diese Artikel noch einmal.")
                     .arg(withdrawnNotHandedOver)
                     .arg(notStored.constFirst());
    if (!texts.isEmpty())
        Statics::showMessage(this, texts.join(QStringLiteral("\n\n")), 1);
}

void Planning::infoVerify()
{
    Statics::showMessage(
        this,
        tr("Du hast Artikel ausgewählt, die noch nicht geprüft wurden. Klicke vor der Planung im "
           "Menü auf \"Gebühren berechnen\". So kann sichergestellt werden, dass die Artikel "
           "fehlerfrei zur gewünschten Zeit hochgeladen werden"),
        0);
}

void Planning::infoPleite()
{
    Statics::showMessage(this,
                         tr("Du hast nicht genügend Guthaben, um alle ausgewählten Artikel über "
                            "die Startzeitplanung zu listen. Lade Dein Guthaben zuvor auf."),
                         0);
}

void Planning::on_calendarWidget_selectionChanged()
{
    m_ui->DateSel->setText(getDateString());
}

void Planning::on_PlanningTime_userTimeChanged(const QTime &time)
{
    Q_UNUSED(time)
    m_ui->DateSel->setText(getDateString());
}
