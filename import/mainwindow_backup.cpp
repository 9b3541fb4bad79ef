#include "mainwindow/mainwindow.h"

#include "core/database.h"
#include "core/dialogs.h"
#include "core/privatefile.h"
#include "core/statics.h"
#include "import/foldercompressor.h"
#include "import/outcomepanel.h"
#include "import/rovive2import.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGridLayout>
#include <QStandardPaths>
#include <QThread>

QString MainWindow::backupFolder()
{
    const QString folder
        = db->getOption(QStringLiteral("backuppath"),
                        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                            + QStringLiteral("/Zerire3_Backups"))
              .legacyValue();
    return QString(folder).replace(QLatin1Char('\\'), QLatin1Char('/'));
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
    QString folder = backupFolder();
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
    Statics::showMessage(this,
                         tr("Das Backup wird im Hintergrund erstellt, Du erhälst eine Nachricht, "
                            "sobald der Vorgang abgeschlossen wurde."),
                         0);

    QString dataDir = db->getCurrentDataDir();
    dataDir.chop(1);
    auto *worker = new FolderCompressor(dataDir, archive);
    auto *thread = new QThread;
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &FolderCompressor::work);
    connect(worker, &FolderCompressor::sendNotification, this, &MainWindow::sendNotification);
    connect(worker, &FolderCompressor::getStatus, this, &MainWindow::updateStatusBar);
    connect(worker, &FolderCompressor::sendaddNewsItem, this,
            [this](const NewsItem &entry) { addNewsItem(entry); });
    connect(worker, &FolderCompressor::outcome, this,
            [this](bool ok, const QString &title, const QString &text) {
                showBackupOutcome(ok, title, text);
            });
    connect(worker, &FolderCompressor::finished, worker, &QObject::deleteLater);
    // The thread ends with its one run, so nothing of it outlives the program.
    connect(worker, &FolderCompressor::finished, thread, &QThread::quit);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
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
            grid->addWidget(backupOutcome, row + rows, column, 1, columns);
        }
    }
    backupOutcome->showOutcome(title + QStringLiteral(": ") + text, ok);
}

void MainWindow::on_actionDaten_wiederherstellen_triggered()
{
    const QString archive
        = Dialogs::openFileName(this, tr("Datensicherung laden"), backupFolder(),
                                tr("Zerire 3 Sicherung") + QStringLiteral(" (*.backup)"));
    if (archive.isEmpty())
        return;
    QString dataDir = db->getCurrentDataDir();
    dataDir.chop(1);
    const QString restoreDir = FolderCompressor::freeName(dataDir, QStringLiteral("_bk"));

    auto *worker = new FolderCompressor(archive, restoreDir);
    auto *thread = new QThread;
    QEventLoop loop;
    bool ok = false;
    QString reason;
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &FolderCompressor::workdecomp);
    connect(worker, &FolderCompressor::sendNotification, this, &MainWindow::sendNotification);
    connect(worker, &FolderCompressor::getStatus, this, &MainWindow::updateStatusBar);
    connect(worker, &FolderCompressor::outcome, &loop,
            [&ok, &reason](bool result, const QString &, const QString &, const QString &why) {
                ok = result;
                reason = why;
            });
    bool done = false;
    connect(worker, &FolderCompressor::finished, worker, &QObject::deleteLater);
    connect(worker, &FolderCompressor::finished, thread, &QThread::quit);
    connect(worker, &FolderCompressor::finished, &loop, [&done] { done = true; });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
    // Events are handled meanwhile. Waited for by hand: once the application was asked to
    // quit, a local loop would return at once, before the worker has said how it went.
    while (!done)
        loop.processEvents(QEventLoop::WaitForMoreEvents);

    if (!ok) {
        // Nothing to swap in: the unpacked part is gone and the program goes on as it was.
        QString text = FolderCompressor::tr("Die Wiederherstellung ist fehlgeschlagen");
        if (!reason.isEmpty())
            text += QStringLiteral(": ") + reason;
        Statics::showMessage(this, text, 2);
        return;
    }
    Statics::showMessage(
        this, tr("Die Daten wurden temporär wieder hergestellt, bitte starte das Programm neu"), 0);
    setPendingRestore(restoreDir);
    on_actionBeenden_triggered();
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
    auto *worker = new Rovive2Import(path);
    auto *thread = new QThread;
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &Rovive2Import::work);
    connect(worker, &Rovive2Import::finished, worker, &QObject::deleteLater);
    connect(worker, &Rovive2Import::finished, thread, &QThread::quit);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(worker, &Rovive2Import::sendNotification, this, &MainWindow::sendNotification);
    connect(worker, &Rovive2Import::getStatus, this, &MainWindow::updateStatusBar);
    connect(worker, &Rovive2Import::sendaddNewsItem, this,
            [this](const NewsItem &entry) { addNewsItem(entry); });
    thread->start(QThread::InheritPriority);
}
