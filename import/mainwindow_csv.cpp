#include "mainwindow/mainwindow.h"

#include "ui_mainwindow.h"

#include "core/database.h"
#include "core/dialogs.h"
#include "core/settings.h"
#include "core/statics.h"
#include "import/csvimport.h"
#include "import/stringdata.h"
#include "import/writer.h"
#include "views/foldermodel.h"
#include "views/itemlistroles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

namespace {
constexpr int kPictureColumns = 12;
} // namespace

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

// Writes the selected articles, every column of their row and the paths of up to twelve
// main pictures, into one CSV or text file.
void MainWindow::on_actionExportieren_triggered()
{
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
        if (QFileInfo::exists(fileName)
            && !Dialogs::question(this, tr("Datei ersetzen"),
                                  tr("Die Datei \"%1\" gibt es schon. Soll sie ersetzt werden?")
                                      .arg(QDir::toNativeSeparators(fileName))))
            return;
    }

    // Checked without emptying it: an existing file is replaced only by a complete export.
    const bool existed = QFileInfo::exists(fileName);
    QFile probe(fileName);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
        Dialogs::message(this, tr("Datei kann nicht erstellt werden"), probe.errorString(), 0);
        return;
    }
    probe.close();
    const bool textForm = fileName.right(4).toLower() == QLatin1String(".txt");

    QtCSV::StringData table;
    QStringList header;
    int count = 0;
    const QString imageDir = db->getCurrentAdImageDir();
    const auto selected = ui->itemlist->selectedItems();
    for (const QTreeWidgetItem *item : selected) {
        const QString id = item->data(0, ItemListRole::ArticleIdRole).toString();
        const SqlRows articles
            = db->select(QStringLiteral("SELECT * FROM articles WHERE id=") + id).legacyValue();
        if (articles.isEmpty())
            continue;
        const SqlRows pictures
            = db->select(QStringLiteral("SELECT * FROM articles_images WHERE article_id=") + id
                         + QStringLiteral(
                             " AND (variant_name IS NULL OR variant_name = '') ORDER BY sort "
                             "ASC LIMIT 12"))
                  .legacyValue();
        QStringList row;
        const auto &article = articles.first();
        for (auto it = article.cbegin(); it != article.cend(); ++it) {
            if (count == 0)
                header << it.key();
            QString value = it.value().toString();
            value.replace(QLatin1Char('\r'), QLatin1Char('\n'));
            if (textForm)
                value.replace(QStringLiteral("\n"), QStringLiteral("<br>"));
            row << value;
        }
        for (int i = 0; i < kPictureColumns; ++i) {
            row << (i < pictures.size()
                        ? imageDir + pictures.at(i).value(QStringLiteral("image")).toString()
                        : QString());
        }
        table.addRow(row);
        ++count;
    }
    for (int i = 1; i <= kPictureColumns; ++i)
        header << kPictureColumnPrefix + QString::number(i);

    if (!QtCSV::Writer::write(fileName, table, QStringLiteral(";"), QStringLiteral("\""),
                              QtCSV::Writer::Overwrite, header, QStringList(),
                              QTextCodec::codecForName("UTF-8"))) {
        if (!existed)
            QFile::remove(fileName);
        Statics::showMessage(this, tr("Die Datei konnte nicht geschrieben werden"), 2);
        return;
    }
    // In the data folder (where the export goes first) it is the seller's alone, as the
    // database beside it.
    const QString dataDir = QFileInfo(db->getCurrentDataDir()).canonicalFilePath();
    if (!dataDir.isEmpty()
        && QFileInfo(fileName).canonicalFilePath().startsWith(dataDir + QLatin1Char('/')))
        Statics::setOwnerOnly(fileName);
    Settings::app()->setValue(QStringLiteral("MainWindow/exportpath"),
                              QFileInfo(fileName).filePath());
    Statics::showMessage(this, tr("Es wurden %1 Artikel erfolgreich exportiert").arg(count), 0);
}
