#include "workers/planning.h"

#include <QDateTime>
#include <QPushButton>
#include <QTimer>

#include "core/clock.h"
#include "core/config.h"
#include "core/database.h"
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

    // The credit as the maker's server words it.
    m_ui->CurrentVal->setTextFormat(Qt::PlainText);
    m_ui->CurrentVal->setText(m_service->credit());

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

    const bool noCredit = ScheduledStartService::noCreditLeft(m_ui->CurrentVal->text());
    if (!noCredit && allVerified)
        return;
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    m_ui->calendarWidget->setEnabled(false);
    m_ui->IntervallBox->setEnabled(false);
    m_ui->PlanningTime->setEnabled(false);
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
    int keptOldStart = 0;
    // The old jobs are withdrawn first; the new starts of the others are then stored in one
    // transaction.
    QStringList planned;
    for (const QString &id : qAsConst(m_ids)) {
        const QString jobId
            = m_db->selectOne(QStringLiteral("SELECT Planned_Interval FROM articles WHERE id=")
                              + id)
                  .legacyValue();
        // An uploaded article is planned anew only once its old job is gone; otherwise
        // it would be started (and paid for) twice.
        if (!jobId.isEmpty() && !m_service->withdraw(jobId)) {
            ++keptOldStart;
            continue;
        }
        planned << id;
    }

    int moved = 0;
    bool written = false;
    {
        Transaction command(m_db.get());
        written = command.isOpen();
        for (const QString &id : qAsConst(planned)) {
            if (!written)
                break;
            // The folder it comes back to is the one stored now, written as a value; an
            // article in the scheduled folder already (planned again after a lost answer)
            // keeps its own.
            const quint64 failures = m_db->failedStatements();
            const QString currentFolder
                = m_db->selectOne(QStringLiteral("SELECT Folder FROM articles WHERE id=") + id)
                      .legacyValue();
            // A read that failed is no deleted article: nothing of the schedule is stored.
            written = m_db->failedStatements() == failures;
            if (!written)
                break;
            if (currentFolder.isEmpty())
                continue; // deleted meanwhile
            const bool scheduled = currentFolder.toInt() == SpecialFolderId::Scheduled;
            const QString at = start.toString(kDateTimeFormat);
            const QString sql = fromScheduled || scheduled
                ? QStringLiteral("UPDATE articles SET Planned_Interval='', Planned='") + at
                    + QStringLiteral("' WHERE id=") + id
                : QStringLiteral("UPDATE articles SET Folder=-3, FolderOld=") + currentFolder
                    + QStringLiteral(", Planned_Interval='', Planned='") + at
                    + QStringLiteral("' WHERE id=") + id;
            written = m_db->executeSQL(sql);
            if (!fromScheduled && !scheduled)
                ++moved;
            if (m_ui->IntervallBox->value() > 0)
                start = start.addSecs(qint64(m_ui->IntervallBox->value()) * 60);
        }
        written = written && command.commit();
    }
    m_outcomeUnknown = !written && m_db->lastOutcome() == Database::Outcome::Unknown;
    m_failure.clear();
    if (!written && !m_outcomeUnknown) {
        m_failure = m_db->lastErrorText;
        moved = 0;
    }
    for (int i = 0; written && i < moved; ++i) {
        emit ChangeFolderCount(m_folder.toInt(), -1, false);
        emit ChangeFolderCount(SpecialFolderId::Scheduled, 1, false);
    }

    if (keptOldStart > 0) {
        const QString text = keptOldStart == 1
            ? tr("1 Artikel behält seinen bisherigen Starttermin, weil sein Auftrag bei der "
                 "Startzeitplanung nicht zurückgezogen werden konnte. Bitte versuche es später "
                 "noch einmal.")
            : tr("%1 Artikel behalten ihren bisherigen Starttermin, weil ihre Aufträge bei der "
                 "Startzeitplanung nicht zurückgezogen werden konnten. Bitte versuche es später "
                 "noch einmal.")
                  .arg(keptOldStart);
        Statics::showMessage(this, text, 1);
    }

    done(QDialog::Accepted);
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
