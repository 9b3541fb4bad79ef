#include "mainwindow/mainwindow.h"

#include "ui_mainwindow.h"

#include "core/backgroundworker.h"
#include "core/database.h"
#include "core/dialogs.h"
#include "core/settings.h"
#include "core/statics.h"
#include "import/articleexport.h"
#include "import/csvimport.h"
#include "mainwindow/jobpanel.h"
#include "mainwindow/commandprogress.h"
#include "views/foldermodel.h"
#include "views/itemlistroles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>

#include <memory>

void MainWindow::on_actionImportieren_triggered()
{
    auto *dialog = new CsvImport(currentFolder, this);
    connect(dialog, &CsvImport::sendaddNewsItem, this,
            [this](const NewsItem &item) { addNewsItem(item); });
    connect(dialog, &CsvImport::changeFolderCount, folderModel, &FolderModel::ChangeFolderCount,
            Qt::QueuedConnection);
    dialog->setWindowModality(Qt::WindowModal);
    const int result = dialog->exec();
    dialog->deleteLater();
    if (result == QDialog::Accepted)
        reloadData();
}

void MainWindow::showJob(BackgroundJob *job, const QString &text)
{
    // Below the status panel, as the backup's outcome: the panel above shows the workers'
    // progress meanwhile.
    if (!jobPanel) {
        jobPanel = new JobPanel(ui->SyncWidget->parentWidget());
        if (auto *grid = qobject_cast<QGridLayout *>(ui->SyncWidget->parentWidget()->layout())) {
            int row = 0, column = 0, rows = 0, columns = 0;
            grid->getItemPosition(grid->indexOf(ui->SyncWidget), &row, &column, &rows, &columns);
            // The next free row: the job and the backup's outcome each have their own.
            grid->addWidget(jobPanel, qMax(row + rows, grid->rowCount()), column, 1, columns);
        }
    }
    jobPanel->follow(job, text);
}

// Writes the selected articles, every column of their row and the paths of up to twelve
// main pictures, into one CSV or text file. The articles are read and written on the
// background worker; the window shows the progress and Abbrechen meanwhile.
void MainWindow::on_actionExportieren_triggered()
{
    if (exportJob) {
        Statics::showMessage(
            this, tr("Es läuft bereits ein Export. Bitte warten, bis er abgeschlossen ist."), 1);
        return;
    }
    const QString lastPath
        = Settings::app()
              ->value(QStringLiteral("MainWindow/exportpath"), db->getCurrentDataDir())
              .toString();
    QString fileName = Dialogs::saveFileName(
        this, tr("Artikel exportieren"), lastPath,
        QStringLiteral("CSV Datei (*.csv);;Text Datei (*.txt);;Alle Dateien (*)"));
    if (fileName.isEmpty())
        return;
    // A name typed without an extension is a CSV file. The dialog asked before replacing the
    // name as typed, not the one with the extension.
    if (QFileInfo(fileName).suffix().isEmpty()) {
        if (!fileName.endsWith(QLatin1Char('.')))
            fileName += QLatin1Char('.');
        fileName += QLatin1String("csv");
        if (QFileInfo(fileName).isFile()
            && !Dialogs::question(this, tr("Datei ersetzen"),
                                  tr("Die Datei \"%1\" gibt es schon. Soll sie ersetzt werden?")
                                      .arg(QDir::toNativeSeparators(fileName))))
            return;
    }

    ArticleExport::Request request;
    request.fileName = QFileInfo(fileName).absoluteFilePath();
    request.textForm = fileName.right(4).toLower() == QLatin1String(".txt");
    request.imageDir = db->getCurrentAdImageDir();
    // In the data folder (where the export goes first) it is the seller's alone, as the
    // database beside it.
    const QString dataDir = QFileInfo(db->getCurrentDataDir()).canonicalFilePath();
    const QString folder
        = QFileInfo(QFileInfo(request.fileName).absolutePath()).canonicalFilePath();
    request.ownerOnly = !dataDir.isEmpty() && !folder.isEmpty()
        && (folder == dataDir || folder.startsWith(dataDir + QLatin1Char('/')));
    const auto selected = ui->itemlist->selectedItems();
    request.ids.reserve(selected.size());
    for (const QTreeWidgetItem *item : selected) {
        bool number = false;
        const int id = item->data(0, ItemListRole::ArticleIdRole).toInt(&number);
        if (number)
            request.ids << id;
    }

    auto result = std::make_shared<ArticleExport::Result>();
    BackgroundJob *job = BackgroundWorker::instance()->post(
        QStringLiteral("Export"), [request, result](Database &db, BackgroundJob::Control &control) {
            *result = ArticleExport::run(db, request, control);
        });
    exportJob = job;
    showJob(job, tr("Artikel werden exportiert …"));
    const QString shown = QDir::toNativeSeparators(request.fileName);
    connect(job, &BackgroundJob::finished, this, [this, result, request, shown] {
        exportJob = nullptr;
        using Outcome = ArticleExport::Result::Outcome;
        // Closing the program cancels the export; nothing is left to say then.
        if (result->outcome == Outcome::Cancelled && CommandProgress::closing())
            return;
        switch (result->outcome) {
        case Outcome::Written:
            Settings::app()->setValue(QStringLiteral("MainWindow/exportpath"),
                                      QFileInfo(request.fileName).filePath());
            Statics::showMessage(
                this,
                tr("Es wurden %1 Artikel erfolgreich exportiert").arg(result->count)
                    + QLatin1Char('\n')
                    + (result->replaced ? tr("Die bisherige Datei „%1“ wurde ersetzt.").arg(shown)
                                        : tr("Die Datei „%1“ wurde neu angelegt.").arg(shown)),
                0);
            break;
        case Outcome::Cancelled:
            Statics::showMessage(
                this, tr("Der Export wurde abgebrochen; es wurde keine Datei geschrieben."), 0);
            break;
        case Outcome::Refused:
            Statics::showMessage(
                this,
                tr("Die Datei „%1“ kann nicht erstellt werden: %2").arg(shown, result->reason), 2);
            break;
        case Outcome::ReadFailed:
            Statics::showMessage(this,
                                 tr("Die Artikel konnten nicht gelesen werden, es wurde keine "
                                    "Datei geschrieben: %1")
                                     .arg(result->reason),
                                 2);
            break;
        case Outcome::WriteFailed:
            Statics::showMessage(
                this, tr("Die Datei konnte nicht geschrieben werden: %1").arg(result->reason), 2);
            break;
        }
    });
}
