// The import run of CsvImport (the OK button) and its picture import.
#include "import/csvimport.h"

#include "ui_csvimport.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/statics.h"
#include "import/csvimportwriter.h"
#include "import/pictureimport.h"
#include "import/reader.h"
#include "import/rowfunction.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QTextCodec>

#include <cstring>

namespace {

constexpr int kNamedAtMost = 20;
constexpr int kBadTextShown = 40;
constexpr int kBatchRows = 500;
constexpr int kEventIntervalMs = 20;

// The number of lines of a file; -1 when it cannot be read.
int countLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int lines = 0;
    char last = '\n';
    QByteArray block;
    while (!(block = file.read(1 << 20)).isEmpty()) {
        const char *end = block.constData() + block.size();
        for (const char *at = block.constData();
             (at = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)))); ++at)
            ++lines;
        last = block.back();
    }
    if (file.error() != QFileDevice::NoError)
        return -1;
    return last == '\n' ? lines : lines + 1;
}

// A file row is blank when it holds no element with text.
bool isBlank(const QStringList &row)
{
    for (const QString &element : row) {
        if (!element.trimmed().isEmpty())
            return false;
    }
    return true;
}

bool anyWebAddress(const QStringList &pictures)
{
    return std::any_of(pictures.cbegin(), pictures.cend(), PictureImport::isWebAddress);
}

} // namespace

void CsvImport::on_buttonBox_accepted()
{
    saveSettings();
    const int mode = ui->ImportModus->currentIndex();
    bool accountMapped = false;
    for (const QComboBox *box : qAsConst(columnCombos))
        accountMapped = accountMapped || box->currentData().toString() == QLatin1String("Account");
    if (ui->AccountImport->currentIndex() == 0 && mode != UpdateOnly && !accountMapped) {
        Statics::showMessage(this,
                             tr("Es wurde kein Konto zugewiesen, außerdem ist auch kein Feld als "
                                "Konto gemappt. Vorlagen müssen ein Konto beinhalten"),
                             1);
        ui->AccountImport->setFocus();
        return;
    }

    SetEnabledAll(false);
    const QString path = ui->FileToImport->text();

    // The progress bar's length from the file's line count (no decoding needed); the rows
    // themselves are handled as they are read, so no file is ever held in memory whole.
    const int total = countLines(path);
    if (total < 0) {
        Statics::showMessage(this, tr("Die Datei konnte nicht gelesen werden"), 2);
        SetEnabledAll(true);
        return;
    }

    importRunning = true;
    ui->progressBar->setMaximum(total);
    ui->progressBar->setValue(0);
    ui->progressBar->show();
    ui->toolButton->setEnabled(false);

    CsvImportWriter::Settings settings;
    settings.mode = mode;
    settings.keyField = ui->UpdateField->currentData().toString();
    settings.folder = targetFolderId;
    if (ui->AccountImport->currentIndex() > 0)
        settings.account = ui->AccountImport->currentData().toString();
    RunState state;
    state.headerPending = ui->FirstHeaders->isChecked();
    for (const QComboBox *box : qAsConst(columnCombos)) {
        const QString field = box->currentData().toString();
        const int column = box->property("column").toInt();
        if (field.isEmpty())
            continue;
        state.lastColumn = qMax(state.lastColumn, column);
        if (field.contains(kPictureColumnPrefix))
            state.pictureColumns << column;
        else
            settings.mapping.append({ column, field });
    }
    CsvImportWriter writer(*db, settings);
    state.writer = &writer;

    RowFunction rows(
        [this, &state](const QStringList &row, int line) { return importRow(row, line, state); });
    QtCSV::Reader::Details details;
    const bool read = QtCSV::Reader::readToProcessor(path, rows, separator(), ui->TextClose->text(),
                                                     QtCSV::Reader::codecFor(path), &details);
    state.unclosedLine = details.unclosedLine;
    if (writer.inBatch())
        commitBatch(state);
    writer.finish();
    if (!read && !state.stopped && !state.ended) {
        Statics::showMessage(this, tr("Die Datei konnte nicht gelesen werden"), 2);
        state.stopped = true;
    }
    if (state.stopped) {
        SetEnabledAll(true);
        ui->progressBar->hide();
        importRunning = false;
        return;
    }
    finishRun(state);
}

bool CsvImport::importRow(const QStringList &row, int line, RunState &state)
{
    CsvImportWriter &writer = *state.writer;
    if (cancelRequested) {
        importRunning = false;
        state.ended = true;
        return false;
    }
    // Pending events (Cancel) are served every third row, but not more often than every
    // few milliseconds; the rows written so far are committed first, so that nothing the
    // events run waits for this run's write lock.
    if (state.eventCounter > 2
        && (!state.sinceEvents.isValid() || state.sinceEvents.elapsed() >= kEventIntervalMs)) {
        if (!commitBatch(state))
            return false;
        QCoreApplication::processEvents();
        state.sinceEvents.start();
        state.eventCounter = 1;
    } else {
        ++state.eventCounter;
    }
    ui->progressBar->setValue(qMin(line, ui->progressBar->maximum()));
    if (state.headerPending) {
        state.headerPending = false;
        return true;
    }

    // Empty rows and rows with too few fields are left out and named at the end.
    if (isBlank(row) || state.lastColumn >= row.size()) {
        state.skippedRows << QString::number(line);
        return true;
    }

    const int mode = ui->ImportModus->currentIndex();
    writer.setRow(row, line);
    QList<int> ids;
    if (mode != InsertAll) {
        if (!writer.hasKey()) {
            Statics::showMessage(this, tr("Das zu aktualisierende Feld wurde nicht gefunden"), 2);
            state.stopped = true;
            importRunning = false;
            return false;
        }
        ids = writer.matchingIds();
        if (ids.isEmpty() && mode == UpdateOnly)
            return true;
    }

    QStringList pictures;
    for (int column : qAsConst(state.pictureColumns)) {
        const QString entry = row.at(column).trimmed();
        if (!entry.isEmpty())
            pictures << entry;
    }
    // Pictures from the web are fetched with no batch open: this run never holds the write
    // lock while it waits for a server.
    if (anyWebAddress(pictures)) {
        if (!commitBatch(state))
            return false;
        pictures = PictureImport::fetch(
            db->getCurrentAdImageDir(), pictures, [this](const QString &address) {
                ui->progressBar->setFormat(QStringLiteral("Download . ") + address);
            });
        ui->progressBar->setFormat(QString());
    }

    writer.begin(line);
    const auto takePictures = [&](int id) {
        QStringList failed = pictures;
        state.failedPictures += CopyImages(id, failed);
        for (const QString &entry : qAsConst(failed))
            state.failedPictureNames << tr("Zeile %1: „%2“").arg(line).arg(entry);
    };
    bool ok;
    if (ids.isEmpty()) {
        const int id = writer.insert();
        ok = id > 0;
        if (ok && !pictures.isEmpty())
            takePictures(id);
    } else {
        ok = writer.update(ids);
        // A row without pictures leaves the articles' pictures as they are.
        if (ok && !pictures.isEmpty()) {
            for (int id : qAsConst(ids))
                takePictures(id);
        }
    }
    if (!ok) {
        // The rows before it in the batch are kept, unless the commit fails as well: then
        // the question names the batch's first row.
        const QString error = writer.lastError();
        return !askToEnd(writer.commit() ? line : writer.batchLine(), error, state);
    }
    if (writer.batchRows() >= kBatchRows)
        return commitBatch(state);
    return true;
}

// On SQLite the rows are written in batches of a few hundred, each committed as one: a
// commit per row rewrites whole pages and runs several times slower. A batch is committed
// before anything is asked or shown, before pictures are downloaded and when the run ends,
// so what was written before a stop stays written.
bool CsvImport::commitBatch(RunState &state)
{
    if (state.writer->commit())
        return true;
    return !askToEnd(state.writer->batchLine(), state.writer->lastError(), state);
}

bool CsvImport::askToEnd(int line, const QString &error, RunState &state)
{
    if (!Statics::showQuestionDialog(
            this, tr("Importfehler"),
            tr("Beim Import sind Fehler aufgetreten, aktuell in der Zeile %1 (%2), soll ich "
               "abbrechen?")
                .arg(line)
                .arg(error)))
        return false;
    SetEnabledAll(true);
    ui->progressBar->hide();
    state.ended = true;
    return true;
}

void CsvImport::finishRun(const RunState &state)
{
    const CsvImportWriter &writer = *state.writer;
    SaveFileSettings();
    ui->progressBar->hide();
    emit changeFolderCount(targetFolderId, writer.created(), false);
    importRunning = false;

    QStringList text { tr("Es wurden %1 Artikel angelegt und %2 Artikel aktualisiert.")
                           .arg(writer.created())
                           .arg(writer.updated()) };
    const auto named = [](QStringList items, int total) {
        if (total > items.size())
            items << tr("… und %1 weitere").arg(total - items.size());
        return items;
    };
    if (!state.skippedRows.isEmpty()) {
        text << tr("%1 leere oder unvollständige Zeilen wurden übersprungen (Zeile %2).")
                    .arg(state.skippedRows.size())
                    .arg(named(state.skippedRows.mid(0, kNamedAtMost), state.skippedRows.size())
                             .join(QStringLiteral(", ")));
    }
    const QList<CsvImportWriter::BadNumber> badNumbers = writer.badNumbers();
    if (!badNumbers.isEmpty()) {
        QStringList values;
        for (const auto &bad : badNumbers.mid(0, kNamedAtMost)) {
            QString shown = bad.text;
            if (shown.size() > kBadTextShown)
                shown = shown.left(kBadTextShown) + QStringLiteral("…");
            values << tr("Zeile %1, %2: „%3“").arg(bad.line).arg(bad.column, shown);
        }
        text << tr("Diese Werte sind keine Zahlen und wurden nicht übernommen:") + QLatin1Char('\n')
                + named(values, badNumbers.size()).join(QLatin1Char('\n'));
    }
    if (!state.failedPictureNames.isEmpty())
        text << named(state.failedPictureNames.mid(0, kNamedAtMost),
                      state.failedPictureNames.size())
                    .join(QLatin1Char('\n'));
    if (state.failedPictures == 1)
        text << tr("1 Bild konnte nicht übernommen werden.");
    else if (state.failedPictures > 1)
        text << tr("%1 Bilder konnten nicht übernommen werden.").arg(state.failedPictures);
    if (state.unclosedLine > 0)
        text << unclosedNotice(state.unclosedLine);
    Statics::showMessage(this, text.join(QLatin1Char('\n')), text.size() > 1 ? 1 : 0);
    done(cancelRequested ? QDialog::Rejected : QDialog::Accepted);
}

int CsvImport::CopyImages(int articleId, QStringList &pictures)
{
    QStringList lost;
    const int failed = PictureImport::store(
        db.get(), articleId, pictures,
        [this](const QString &address) {
            ui->progressBar->setFormat(QStringLiteral("Download . ") + address);
        },
        &lost);
    pictures = lost;
    ui->progressBar->setFormat(QString());
    return failed;
}
