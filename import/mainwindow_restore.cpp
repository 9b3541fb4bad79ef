#include "mainwindow/mainwindow.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/settings.h"
#include "core/statics.h"
#include "import/foldercompressor.h"

#include <QDir>
#include <QFileInfo>

#include <cstdlib>

namespace {
const QString kRestoreKey = QStringLiteral("RESTOREMODE");
} // namespace

// Kept in this workstation's settings: in a database shared by several workstations another
// one could clear it, or swap its own data folder on the next start.
QString MainWindow::pendingRestore()
{
    return Settings::app()->value(kRestoreKey).toString();
}

void MainWindow::setPendingRestore(const QString &folder)
{
    const auto settings = Settings::app();
    if (folder.isEmpty())
        settings->remove(kRestoreKey);
    else
        settings->setValue(kRestoreKey, folder);
    settings->sync();
}

bool MainWindow::confirmRestore()
{
    const bool proceed = Statics::showQuestionDialog(
        nullptr, tr("Wiederherstellung"),
        tr("Eine zuvor gewählte Sicherung wird nun wiederhergestellt, fortfahren?"));
    // Declined for good: the unpacked folder stays on disk but is not offered again.
    if (!proceed)
        setPendingRestore(QString());
    return proceed;
}

// Completes a restore that the restore command unpacked next to the data folder: the
// unpacked folder takes the data folder's place, the previous data keep a new name.
// Runs during start-up, before anything but `db` uses the data folder; what `db` found
// wrong with the data it opened has not been told yet.
void MainWindow::doRestore()
{
    const QString restoreDir = QDir::cleanPath(pendingRestore());
    setPendingRestore(QString());
    // Every database opened from here on holds the data the start goes on with.
    Database::setStartProblemsShown(true);
    // The folder the restore command unpacked into, not a link put in its place: that would
    // make the data folder lead wherever the link does.
    const QFileInfo restored(restoreDir);
    if (!restored.isDir() || restored.isSymLink()) {
        Statics::showMessage(this,
                             tr("Die Wiederherstellung scheint nicht mehr vorhanden zu sein, der "
                                "Programmstart wird regulär fortgesetzt, wiederhole ggf. die "
                                "Rücksicherung"),
                             2);
        // The data stay: what is wrong with them is told now.
        if (!db->startProblem().isEmpty())
            Statics::showMessage(nullptr, db->startProblem(), 2);
        return;
    }

    const QString dataDirPath = db->getCurrentDataDir();
    const QString dataDir = QDir::cleanPath(dataDirPath);
    const QString oldDir = FolderCompressor::freeName(dataDir, QStringLiteral("_old"));
    db->close();
    delete db;
    db = nullptr;

    // The main constructor, so that a restored database of an older program version gets
    // its schema upgraded before anything reads it.
    const auto reopen = [this, &dataDirPath] {
        db = new Database(dataDirPath, nullptr);
    };

    if (!QDir().rename(dataDir, oldDir)) {
        qCWarning(lcApp).noquote() << "Restore: can't rename" << dataDir << "to" << oldDir;
        Statics::showMessage(
            this,
            tr("Konnte aktuelles Verzeichnis nicht umbenennen, Wiederherstellung wird "
               "abgebrochen"),
            2);
        reopen();
        return;
    }

    if (!QDir().rename(restoreDir, dataDir)) {
        qCWarning(lcApp).noquote() << "Restore: can't rename" << restoreDir << "to" << dataDir;
        // Put the previous data back before anything can create an empty data folder in
        // its place; the start then goes on with the data as they were.
        if (!QDir().rename(oldDir, dataDir)) {
            qCCritical(lcApp).noquote()
                << "Restore: can't rename" << oldDir << "back to" << dataDir << "- stopping";
            Statics::showMessage(this,
                                 tr("Es gab ein Problem beim umbenennen des Ordners %1 in %2, "
                                    "bitte prüfe manuell, was zu tun ist")
                                     .arg(restoreDir, dataDir),
                                 2);
            // No data folder at all: starting would make an empty one. The user sorts the
            // folders out by hand.
            std::exit(EXIT_FAILURE);
        }
        reopen();
        Statics::showMessage(this,
                             tr("Die Wiederherstellung ist fehlgeschlagen: Der Ordner %1 konnte "
                                "nicht in %2 umbenannt werden. Die bisherigen Daten werden "
                                "wieder verwendet.")
                                 .arg(restoreDir, dataDir),
                             2);
        return;
    }

    reopen();
    qCInfo(lcApp).noquote() << "Restore: restored data in place, previous data in" << oldDir;
    Statics::showMessage(this,
                         tr("Die Wiederherstellung war erfolgreich. Die bisherigen Daten wurden "
                            "nach %1 verschoben")
                             .arg(oldDir),
                         0);
}
