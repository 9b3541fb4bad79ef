// Clearing the cache, and cleaning up the database and its pictures on the background worker.
#include "mainwindow/mainwindow.h"

#include "core/backgroundworker.h"
#include "core/database.h"
#include "core/foldertree.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "mainwindow/commandprogress.h"
#include "mainwindow/imagecleaner.h"
#include "ui_mainwindow.h"
#include "views/foldermodel.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>

#include <memory>

void MainWindow::on_actionCache_leeren_triggered()
{
    // The shop categories and the business policies are asked for anew next time. The
    // cached replies of the test environment ("sandbox_...") stay.
    const QString cacheDir = db->getCacheDir();
    const QStringList names = QDir(cacheDir).entryList(
        { QStringLiteral("ap2_getProfiles_*.xml"), QStringLiteral("ap2_getStore_*.xml") },
        QDir::Files, QDir::Unsorted);
    for (const QString &name : names) {
        qCInfo(lcApp).noquote() << "Delete cached file" << name;
        QFile::remove(cacheDir + name);
    }
    Statics::showMessage(this, tr("Der Cache wurde geleert"), 0);
}

namespace {

// Puts every folder the tree can only show as misplaced (its parent gone, or caught in a
// cycle of parents) directly below "Artikelvorlagen", and the articles of folders that are
// gone into "Artikelvorlagen", in one transaction. The tree is read without a lock; only the
// folders it moves are locked (another workstation's commands on other folders go on), and a
// folder another workstation moved meanwhile stays where that put it. Moved to the top, a
// branch can only come nearer it: no cycle and no folder too deep comes of it. What the
// seller is told of it; empty when there was nothing to repair. False when it was not stored
// (the database layer tells why; `conflict` is set when another workstation held a lock it
// needed, `conflictArticles` when that was on the articles).
bool repairFolders(Database *db, QString *told, bool *unknown, bool *conflict,
                   bool *conflictArticles)
{
    const auto lockConflict = [db, conflict](bool onArticles, bool *articlesFlag) {
        *conflict = db->lastOutcome() == Database::Outcome::NotWritten
            && db->lastFailureLockConflict();
        *articlesFlag = *conflict && onArticles;
        return false;
    };
    Transaction command(db);
    if (!command.isOpen())
        return lockConflict(false, conflictArticles);
    FolderTree stored;
    if (!stored.read(db))
        return false;
    // The articles of folders that are gone, by folder: the fixed folders (below 1) are none.
    QSqlQuery query;
    if (!db->selectQuery(QStringLiteral("SELECT Folder, count(id) FROM articles WHERE Folder > 0 "
                                        "AND Folder NOT IN (SELECT id FROM folders) GROUP BY "
                                        "Folder"),
                         query))
        return false;
    QStringList gone;
    int articles = 0;
    while (query.next()) {
        gone << query.value(0).toString();
        articles += query.value(1).toInt();
    }
    if (!db->rowsComplete(query))
        return false;
    const QList<int> misplaced = stored.misplaced();
    if (misplaced.isEmpty() && gone.isEmpty())
        return true;
    QHash<int, int> now;
    if (!FolderTree::lockFolders(db, misplaced, &now))
        return lockConflict(false, conflictArticles);
    QStringList ids;
    for (int id : misplaced) {
        const auto found = now.constFind(id);
        if (found != now.constEnd() && found.value() == stored.find(id)->parent)
            ids << QString::number(id);
    }
    if (!ids.isEmpty()
        && !db->executeSQL(QStringLiteral("UPDATE folders SET folderparentid=%1 WHERE id IN (%2)")
                               .arg(SpecialFolderId::Drafts)
                               .arg(ids.join(QLatin1Char(','))),
                           Database::Repeat::Safe))
        return lockConflict(false, conflictArticles);
    if (!gone.isEmpty()
        && !db->executeSQL(QStringLiteral("UPDATE articles SET Folder=%1 WHERE Folder IN (%2)")
                               .arg(SpecialFolderId::Drafts)
                               .arg(gone.join(QLatin1Char(','))),
                           Database::Repeat::Safe))
        return lockConflict(true, conflictArticles);
    if (!command.commit()) {
        *unknown = db->lastOutcome() == Database::Outcome::Unknown;
        return false;
    }
    QStringList parts;
    if (ids.size() == 1)
        parts << MainWindow::tr("1 Ordner, dessen übergeordneter Ordner fehlte oder der in "
                                "einem Kreis von Ordnern lag, liegt jetzt direkt in "
                                "„Artikelvorlagen“.");
    else if (ids.size() > 1)
        parts << MainWindow::tr("%1 Ordner, deren übergeordneter Ordner fehlte oder die in "
                                "einem Kreis von Ordnern lagen, liegen jetzt direkt in "
                                "„Artikelvorlagen“.")
                     .arg(ids.size());
    if (articles == 1)
        parts << MainWindow::tr("1 Artikel eines gelöschten Ordners liegt jetzt in "
                                "„Artikelvorlagen“.");
    else if (articles > 1)
        parts << MainWindow::tr("%1 Artikel gelöschter Ordner liegen jetzt in "
                                "„Artikelvorlagen“.")
                     .arg(articles);
    *told = parts.join(QLatin1Char(' '));
    return true;
}

} // namespace

// What the clean-up job did, handed to the window when it has finished.
struct MainWindow::CleanupReport
{
    bool repairRun = false;
    bool repairStored = false;
    bool repairUnknown = false;
    QString repaired;
    QString repairError;
    bool repairConflict = false;
    bool repairConflictArticles = false;
    bool cleanRun = false;
    Database::Cleaned cleaned;
    bool mysql = false;
    bool picturesRun = false;
    ImageCleaner::Outcome pictures;
};

void MainWindow::on_actionDatenbank_aufr_umen_triggered()
{
    // One clean-up at a time; the one under way shows its progress.
    if (m_cleanupJob)
        return;
    auto report = std::make_shared<CleanupReport>();
    // Everything on the background worker's connection, one step after the other: the
    // folders, the articles emptied from the trash, the file, the pictures. A step that
    // failed ends the job, so that no picture is moved on what could not be read or kept.
    BackgroundJob *job = BackgroundWorker::instance()->post(
        tr("Datenbank aufräumen"), [report](Database &db, BackgroundJob::Control &control) {
            const auto cancelled = [&control] { return control.cancelled(); };
            if (control.cancelled())
                return;
            report->mysql = db.isMySQL;
            control.setStep(tr("Die Ordner werden geprüft …"));
            report->repairRun = true;
            report->repairStored
                = repairFolders(&db, &report->repaired, &report->repairUnknown,
                                &report->repairConflict, &report->repairConflictArticles);
            if (!report->repairStored) {
                report->repairError = db.lastErrorText;
                return;
            }
            if (control.cancelled())
                return;
            control.setStep(tr("Die Datenbank wird aufgeräumt …"));
            report->cleanRun = true;
            report->cleaned = db.cleanDB(cancelled);
            if (!report->cleaned.ok())
                return;
            control.setStep(tr("Nicht mehr genutzte Bilder werden gesucht …"));
            report->picturesRun = true;
            report->pictures = ImageCleaner::clean(db, cancelled, [&control](int checked, int files) {
                control.progress(checked, files);
            });
        });
    m_cleanupJob = job;
    ui->actionDatenbank_aufr_umen->setEnabled(false);
    showJob(job, tr("Räume auf..."));
    connect(job, &BackgroundJob::finished, this, [this, report] {
        ui->actionDatenbank_aufr_umen->setEnabled(true);
        cleanupFinished(*report);
    });
}

void MainWindow::cleanupFinished(const CleanupReport &report)
{
    // Closing ended it: nobody is to be told any more.
    if (CommandProgress::closing())
        return;
    const Database::Cleaned &cleaned = report.cleaned;
    if (report.repairUnknown) {
        tellOutcomeUnknown(tr("die Reparatur der Ordner"));
        return;
    }
    if (report.cleanRun && !cleaned.removedStored && cleaned.outcome == Database::Outcome::Unknown) {
        if (!report.repaired.isEmpty())
            Statics::showMessage(this, report.repaired, 0);
        tellOutcomeUnknown(tr("das Aufräumen der Datenbank"));
        return;
    }
    QStringList parts;
    int type = 0;
    bool failed = false;
    const QString nothingMore = tr("Es wurde nichts gelöscht und kein Bild verschoben.");
    if (!report.repaired.isEmpty())
        parts << report.repaired;
    if (report.repairRun && !report.repairStored) {
        failed = true;
        // Another workstation held what the repair needed: told as such, not as a fault.
        parts << (report.repairConflict
                      ? FolderModel::conflictText(db, report.repairConflictArticles)
                      : tr("Die Datenbank konnte nicht aufgeräumt werden: %1")
                            .arg(report.repairError))
                + QLatin1Char('\n') + nothingMore;
    } else if (report.cleanRun && !cleaned.removedStored && !cleaned.cancelled) {
        failed = true;
        parts << tr("Die Datenbank konnte nicht aufgeräumt werden: %1").arg(cleaned.error)
                + QLatin1Char('\n') + nothingMore;
    } else if (report.cleanRun && cleaned.removedStored) {
        QString done;
        if (cleaned.removed == 1)
            done = tr("1 gelöschter Artikel wurde endgültig aus der Datenbank entfernt.");
        else if (cleaned.removed > 1)
            done = tr("%1 gelöschte Artikel wurden endgültig aus der Datenbank entfernt.")
                       .arg(cleaned.removed);
        if (cleaned.compacted) {
            done = tr("Die Datenbank wurde erfolgreich aufgeräumt, vorherige Größe: %1, danach %2.")
                       .arg(Database::sizeText(cleaned.sizeBefore),
                            Database::sizeText(cleaned.sizeAfter))
                + (done.isEmpty() ? QString() : QLatin1Char(' ') + done);
        } else if (report.mysql) {
            if (done.isEmpty())
                done = tr("In der Datenbank lagen keine gelöschten Artikel mehr.");
            done += QLatin1Char(' ') + tr("Die gemeinsame MySQL-Datenbank wird nicht verkleinert.");
        } else if (!cleaned.error.isEmpty()) {
            failed = true;
            done += (done.isEmpty() ? QString() : QStringLiteral("\n"))
                + tr("Die Datenbank konnte nicht verkleinert werden: %1").arg(cleaned.error)
                + QLatin1Char('\n') + tr("Die Bilder wurden nicht aufgeräumt.");
        }
        if (!done.isEmpty())
            parts << done;
    }
    if (report.picturesRun) {
        parts << report.pictures.text();
        using Ended = ImageCleaner::Outcome::Ended;
        if (report.pictures.ended == Ended::NotRead || report.pictures.ended == Ended::NoTrashFolder)
            failed = true;
        else if (report.pictures.ended == Ended::NoPictureFolder)
            type = 1;
    }
    const bool cancelled = cleaned.cancelled
        || report.pictures.ended == ImageCleaner::Outcome::Ended::Stopped
        || (!failed && !report.picturesRun);
    if (cancelled && !failed) {
        parts << (cleaned.removedStored ? tr("Das Aufräumen wurde abgebrochen.")
                                        : tr("Das Aufräumen wurde abgebrochen.") + QLatin1Char(' ')
                          + nothingMore);
        type = 1;
    }
    if (failed)
        type = 2;
    updateStatusBar(failed        ? tr("Aufräumen fehlgeschlagen")
                        : cancelled ? tr("Aufräumen abgebrochen")
                                    : tr("Aufräumen beendet"),
                    100, 100);
    Statics::showMessage(this, parts.join(QStringLiteral("\n\n")), type);
    // The tree after a repair, and whatever a failure may have left on screen.
    if (!report.repaired.isEmpty() || failed)
        showStored();
}
