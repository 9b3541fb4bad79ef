#include "mainwindow/mainwindow.h"

#include "core/backgroundworker.h"
#include "core/database.h"
#include "core/dialogs.h"
#include "core/privatefile.h"
#include "core/statics.h"
#include "import/foldercompressor.h"
#include "mainwindow/outcomepanel.h"
#include "import/rovive2import.h"
#include "mainwindow/commandprogress.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QStandardPaths>

#include <memory>

namespace {

// An object made on the window's thread, whose work runs on the background worker: it goes
// by deleteLater() on the window's thread, whichever thread lets go of it last.
template<typename T> std::shared_ptr<T> backgroundObject(T *object)
{
    return std::shared_ptr<T>(object, [](T *gone) { gone->deleteLater(); });
}

} // namespace

Read<QString> MainWindow::backupFolder()
{
    const Read<QString> folder
        = db->getOption(QStringLiteral("backuppath"),
                        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                            + QStringLiteral("/Zerire3_Backups"));
    if (!folder.ok())
        return folder;
    return QString(*folder).replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString MainWindow::backupArchiveName(const QString &datedFolder)
{
    const QDir dir(datedFolder);
    QString name = QStringLiteral("Zerire3.backup");
    for (int n = 1; dir.exists(name); ++n)
        name = QStringLiteral("Zerire3_%1.backup").arg(n);
    return dir.filePath(name);
}

void MainWindow::on_actionDaten_sichern_triggered()
{
    // Not knowing the folder the seller chose, the backup would go elsewhere: it is not made.
    const Read<QString> chosen = backupFolder();
    if (!chosen.ok()) {
        Statics::showMessage(this,
                             tr("Der Ordner für die Datensicherung konnte nicht gelesen werden, "
                                "es wurde keine Sicherung erstellt: %1")
                                 .arg(chosen.error()),
                             2);
        return;
    }
    QString folder = *chosen;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    folder += QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('/');
    // Like the archives in them, the folders made for them are the seller's alone.
    if (!PrivateFile::makePath(folder)) {
        Statics::showMessage(
            this, tr("Der Backuppfad \"%1\" konnte nicht angelegt werden").arg(folder), 2);
        return;
    }
    const QString archive = backupArchiveName(folder);
    QString starting = tr("Das Backup wird im Hintergrund erstellt, Du erhälst eine Nachricht, "
                          "sobald der Vorgang abgeschlossen wurde.");
    if (db->isMySQL)
        starting += QStringLiteral("\n\n") + FolderCompressor::sharedDatabaseNotice();
    Statics::showMessage(this, starting, 0);

    QString dataDir = db->getCurrentDataDir();
    dataDir.chop(1);
    // Made and connected here, run on the background worker with its connection; its
    // signals reach the window queued.
    const auto worker = backgroundObject(new FolderCompressor(dataDir, archive));
    connect(worker.get(), &FolderCompressor::sendNotification, this, &MainWindow::sendNotification);
    connect(worker.get(), &FolderCompressor::getStatus, this, &MainWindow::updateStatusBar);
    connect(worker.get(), &FolderCompressor::sendaddNewsItem, this,
            [this](const NewsItem &entry) { addNewsItem(entry); });
    connect(worker.get(), &FolderCompressor::outcome, this,
            [this](bool ok, const QString &title, const QString &text) {
                showBackupOutcome(ok, title, text);
            });
    BackgroundWorker::instance()->post(
        QStringLiteral("Backup"), [worker](Database &db, BackgroundJob::Control &control) {
            worker->setCancelCheck([&control] { return control.cancelled(); });
            worker->runBackup(db);
            worker->setCancelCheck({});
        });
}

void MainWindow::showBackupOutcome(bool ok, const QString &title, const QString &text)
{
    // The status panel hides once its progress is complete and shows the next task's: the
    // outcome has a place of its own beneath it, where it stays until it is closed.
    if (!backupOutcome) {
        backupOutcome = new OutcomePanel(ui->SyncWidget->parentWidget());
        if (auto *grid = qobject_cast<QGridLayout *>(ui->SyncWidget->parentWidget()->layout())) {
            int row = 0, column = 0, rows = 0, columns = 0;
            grid->getItemPosition(grid->indexOf(ui->SyncWidget), &row, &column, &rows, &columns);
            // The next free row: the job and the backup's outcome each have their own.
            grid->addWidget(backupOutcome, qMax(row + rows, grid->rowCount()), column, 1, columns);
        }
    }
    backupOutcome->showOutcome(title + QStringLiteral(": ") + text, ok);
}

void MainWindow::on_actionDaten_wiederherstellen_triggered()
{
    // Only where the file dialog starts: without the option it starts in the documents.
    const QString start = backupFolder().orIfFailed(
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    const QString archive
        = Dialogs::openFileName(this, tr("Datensicherung laden"), start,
                                tr("Zerire 3 Sicherung") + QStringLiteral(" (*.backup)"));
    if (archive.isEmpty())
        return;
    QString dataDir = db->getCurrentDataDir();
    dataDir.chop(1);
    const QString restoreDir = FolderCompressor::freeName(dataDir, QStringLiteral("_bk"));

    const auto worker = backgroundObject(new FolderCompressor(archive, restoreDir));
    connect(worker.get(), &FolderCompressor::sendNotification, this, &MainWindow::sendNotification);
    connect(worker.get(), &FolderCompressor::getStatus, this, &MainWindow::updateStatusBar);
    // How it went, kept by the worker's thread for the window once the job has finished.
    struct Outcome
    {
        bool ok = false;
        QString reason;
    };
    const auto outcome = std::make_shared<Outcome>();
    connect(
        worker.get(), &FolderCompressor::outcome, worker.get(),
        [outcome](bool ok, const QString &, const QString &, const QString &why) {
            outcome->ok = ok;
            outcome->reason = why;
        },
        Qt::DirectConnection);
    BackgroundJob *job = BackgroundWorker::instance()->post(
        QStringLiteral("Restore"), [worker](Database &, BackgroundJob::Control &control) {
            worker->setCancelCheck([&control] { return control.cancelled(); });
            worker->workdecomp();
            worker->setCancelCheck({});
        });
    // The window goes on meanwhile; the rest follows once the unpacking has ended.
    connect(job, &BackgroundJob::finished, this, [this, worker, outcome, restoreDir] {
        // Closing the program ended it: nothing is pending, nothing to say.
        if (CommandProgress::closing())
            return;
        if (!outcome->ok) {
            // Nothing to swap in: the unpacked part is gone and the program goes on as it was.
            QString text = FolderCompressor::tr("Die Wiederherstellung ist fehlgeschlagen");
            if (!outcome->reason.isEmpty())
                text += QStringLiteral(": ") + outcome->reason;
            Statics::showMessage(this, text, 2);
            return;
        }
        QString text = tr("Die Daten wurden temporär wieder hergestellt, bitte starte das Programm "
                          "neu");
        if (db->isMySQL)
            text += QStringLiteral("\n\n") + FolderCompressor::sharedDatabaseRestoreNotice();
        Statics::showMessage(this, text, 0);
        setPendingRestore(restoreDir);
        on_actionBeenden_triggered();
    });
}

void MainWindow::on_actionRovive_2_Daten_importieren_triggered()
{
    Statics::showMessage(this,
                         tr("Wähle die aus dem Rovive exportierte Datei aus.") + QLatin1Char('\n')
                             + tr("Die Daten werden danach im Hintergrund importiert, starte nach "
                                  "Abschluss das Programm neu"),
                         0);
    const QString path = Dialogs::openFileName(
        this, tr("Wähle eine Exportdatei aus"),
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
        tr("Exportierte XML") + QStringLiteral(" (*.xml)"));
    if (!path.isEmpty())
        handleFileSaveAsBeforeCloseSelected(path);
}

void MainWindow::handleFileSaveAsBeforeCloseSelected(const QString &path)
{
    const auto worker = backgroundObject(new Rovive2Import(path));
    connect(worker.get(), &Rovive2Import::sendNotification, this, &MainWindow::sendNotification);
    connect(worker.get(), &Rovive2Import::getStatus, this, &MainWindow::updateStatusBar);
    connect(worker.get(), &Rovive2Import::sendaddNewsItem, this,
            [this](const NewsItem &entry) { addNewsItem(entry); });
    // On the job's connection, the running folder's; "Abbrechen" and the program closing
    // end it between two articles, each stored whole.
    BackgroundJob *job = BackgroundWorker::instance()->post(
        QStringLiteral("Rovive2Import"), [worker](Database &db, BackgroundJob::Control &control) {
            worker->setCancelCheck([&control] { return control.cancelled(); });
            worker->setProgress([&control](int done, int total) { control.progress(done, total); });
            worker->work(db);
            worker->setCancelCheck({});
            worker->setProgress({});
        });
    job->setAsksBeforeClose(tr("Der Import der Rovive-2-Daten"));
    showJob(job, tr("Rovive-2-Daten werden importiert …"));
}
