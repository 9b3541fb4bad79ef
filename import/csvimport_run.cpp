// The import run of CsvImport (the OK button) and its picture import.
#include "import/csvimport.h"

#include "ui_csvimport.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/statics.h"
#include "import/reader.h"
#include "import/rowfunction.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTextCodec>

namespace {

const QStringList kPriceFields = { QStringLiteral("StartPrice"), QStringLiteral("BuyItNowPrice") };
constexpr int kSkippedRowsNamed = 20;
constexpr int kBatchRows = 500;
constexpr int kEventIntervalMs = 20;

// True when `name`, taken relative to `folder`, names a file inside that folder.
bool insideFolder(const QString &folder, const QString &name)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name))
        return false;
    return QDir::cleanPath(folder + name).startsWith(QDir::cleanPath(folder) + QLatin1Char('/'));
}

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
        lines += block.count('\n');
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
    const QString separatorText = separator();
    const QString delimiter = ui->TextClose->text();
    QTextCodec *codec = QTextCodec::codecForName("UTF-8");

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

    RunState state;
    state.headerPending = ui->FirstHeaders->isChecked();
    for (const QComboBox *box : qAsConst(columnCombos)) {
        const QString field = box->currentData().toString();
        if (!field.isEmpty())
            state.mapping.append({ box->property("column").toInt(), field });
    }
    RowFunction rows([this, &state](const QStringList &row) { return importRow(row, state); });
    const bool read = QtCSV::Reader::readToProcessor(path, rows, separatorText, delimiter, codec);
    commitBatch(state);
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

bool CsvImport::importRow(const QStringList &row, RunState &state)
{
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
        commitBatch(state);
        QCoreApplication::processEvents();
        state.sinceEvents.start();
        state.eventCounter = 1;
    } else {
        ++state.eventCounter;
    }
    if (ui->progressBar->value() < ui->progressBar->maximum())
        ui->progressBar->setValue(ui->progressBar->value() + 1);
    if (state.headerPending) {
        state.headerPending = false;
        return true;
    }

    const int rowNumber = state.rowNumber++;
    QStringList fields;
    QStringList values;
    QStringList pictures;
    bool complete = !isBlank(row);
    for (const MappedColumn &mapped : qAsConst(state.mapping)) {
        const QString &field = mapped.field;
        const int column = mapped.column;
        if (column >= row.size()) {
            complete = false;
            break;
        }
        if (field.contains(kPictureColumnPrefix)) {
            if (!row.at(column).trimmed().isEmpty())
                pictures << row.at(column).trimmed();
        } else {
            fields << field;
            values << row.at(column);
        }
    }
    // Empty rows and rows with too few fields are left out and named at the end.
    if (!complete) {
        state.skippedRows << QString::number(rowNumber);
        return true;
    }

    const int mode = ui->ImportModus->currentIndex();
    QString keyField;
    QString keyValue;
    bool matches = false;
    if (mode != InsertAll) {
        keyField = ui->UpdateField->currentData().toString();
        const int keyAt = fields.indexOf(keyField);
        if (keyField.isEmpty() || keyAt < 0) {
            Statics::showMessage(this, tr("Das zu aktualisierende Feld wurde nicht gefunden"), 2);
            state.stopped = true;
            importRunning = false;
            return false;
        }
        keyValue = values.at(keyAt);
        if (!keyValue.trimmed().isEmpty()) {
            const QString count = db->selectOne(
                QStringLiteral("SELECT count(*) AS M FROM articles WHERE `%1` = '%2'")
                    .arg(keyField, Database::escapeString(keyValue)));
            matches = count.toInt() > 0;
        }
    }
    // The marketplace's item number is never imported (it may still be the key).
    for (int at = fields.indexOf(QStringLiteral("ItemID")); at >= 0;
         at = fields.indexOf(QStringLiteral("ItemID"))) {
        fields.removeAt(at);
        values.removeAt(at);
    }
    // Nor the article id: new articles get their own, updated ones keep theirs.
    for (int at = fields.indexOf(QStringLiteral("id")); at >= 0;
         at = fields.indexOf(QStringLiteral("id"))) {
        fields.removeAt(at);
        values.removeAt(at);
    }

    ArticleRow article;
    const bool accountChosen = ui->AccountImport->currentIndex() > 0;
    const QString accountId = ui->AccountImport->currentData().toString();
    for (int i = 0; i < fields.size(); ++i) {
        QString value = values.at(i);
        if (kPriceFields.contains(fields.at(i)))
            value = Statics::fixPrice(value);
        article.insert(fields.at(i), value);
    }

    bool ok = true;
    if (!matches) {
        if (mode == UpdateOnly)
            return true;
        article.insert(QStringLiteral("Folder"), QString::number(targetFolderId));
        if (accountChosen)
            article.insert(QStringLiteral("Account"), accountId);
        beginBatch(state);
        const int id = db->insertSqlClean(article, QStringLiteral("articles"));
        ok = id > 0;
        if (ok) {
            ++state.created;
            if (!pictures.isEmpty())
                CopyImages(id, pictures);
        }
    } else {
        const QString condition
            = QStringLiteral("`%1`='%2'").arg(keyField, Database::escapeString(keyValue));
        beginBatch(state);
        ok = article.isEmpty()
            || db->updateSqlClean(article, QStringLiteral("articles"), condition);
        if (ok) {
            const SqlRows ids
                = db->select(QStringLiteral("SELECT id FROM articles WHERE ") + condition);
            state.updated += ids.size();
            // A row without pictures leaves the articles' pictures as they are.
            if (!pictures.isEmpty()) {
                for (const auto &found : ids)
                    CopyImages(found.value(QStringLiteral("id")).toInt(), pictures);
            }
        }
    }
    if (!ok || ++state.batched >= kBatchRows)
        commitBatch(state);
    if (!ok
        && Statics::showQuestionDialog(
            this, tr("Importfehler"),
            tr("Beim Import sind Fehler aufgetreten, aktuell in der Zeile %1 (%2), soll ich "
               "abbrechen?")
                .arg(rowNumber)
                .arg(db->lastErrorText))) {
        SetEnabledAll(true);
        ui->progressBar->hide();
        state.ended = true;
        return false;
    }
    return true;
}

// On SQLite the rows are written in batches of a few hundred, each committed as one: a
// commit per row rewrites whole pages and runs several times slower. The batch takes the
// write lock at its start (so no read of it can go stale before its first write) and is
// committed before anything is asked or shown and when the run ends, so what was written
// before a stop stays written.
void CsvImport::beginBatch(RunState &state)
{
    if (!db->isMySQL && !state.inTransaction)
        state.inTransaction = db->executeSQL(QStringLiteral("BEGIN IMMEDIATE"));
}

void CsvImport::commitBatch(RunState &state)
{
    if (state.inTransaction && !db->executeSQL(QStringLiteral("COMMIT")))
        qCWarning(lcDb) << "Commit of imported rows fails:" << db->lastErrorText;
    state.inTransaction = false;
    state.batched = 0;
}

void CsvImport::finishRun(const RunState &state)
{
    SaveFileSettings();
    ui->progressBar->hide();
    emit changeFolderCount(targetFolderId, state.created, false);
    importRunning = false;

    QString text = tr("Es wurden %1 Artikel angelegt und %2 Artikel aktualisiert.")
                       .arg(state.created)
                       .arg(state.updated);
    if (!state.skippedRows.isEmpty()) {
        QStringList named = state.skippedRows.mid(0, kSkippedRowsNamed);
        if (state.skippedRows.size() > kSkippedRowsNamed)
            named << QStringLiteral("…");
        text += QLatin1Char('\n')
            + tr("%1 leere oder unvollständige Zeilen wurden übersprungen (Zeile %2).")
                  .arg(state.skippedRows.size())
                  .arg(named.join(QStringLiteral(", ")));
    }
    Statics::showMessage(this, text, state.skippedRows.isEmpty() ? 0 : 1);
    done(cancelRequested ? QDialog::Rejected : QDialog::Accepted);
}

void CsvImport::CopyImages(int articleId, QStringList &pictures)
{
    ui->progressBar->setFormat(QString());
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString folder = db->getCurrentAdImageDir();
    const QString id = QString::number(articleId);
    db->executeSQL(QStringLiteral("DELETE FROM articles_images WHERE article_id=") + id);

    QString thumbSource;
    const auto record = [&](const QString &name, int sort) {
        db->executeSQL(QStringLiteral("INSERT INTO articles_images (article_id, image, sort) "
                                      "VALUES (%1, '%2', '%3')")
                           .arg(id, Database::escapeString(name))
                           .arg(sort));
        if (thumbSource.isEmpty())
            thumbSource = name;
    };

    for (int i = 0; i < pictures.size(); ++i) {
        QString entry = pictures.at(i);
        const QString lower = entry.toLower();
        if (lower.contains(QLatin1String("http:")) || lower.contains(QLatin1String("https:"))) {
            ui->progressBar->setFormat(QStringLiteral("Download . ") + entry);
            QString name = Statics::hashString(entry) + QLatin1Char('.')
                + entry.mid(entry.lastIndexOf(QLatin1Char('.')) + 1);
            name = name.left(name.indexOf(QLatin1Char('?')));
            const QString target = folder + name;
            if (!insideFolder(folder, name)) {
                qCWarning(lcApp) << "Download" << entry << "refused: no file name of its own";
            } else if (Statics::DownloadURL(entry, target, true, QString())) {
                entry = target;
            } else {
                qCWarning(lcApp) << "Download" << entry << "to" << target << "fails";
            }
        }
        if (QDir::isAbsolutePath(entry) && QFileInfo(entry).isFile()) {
            const QString newName = stamp + QLatin1Char('_') + id + QLatin1Char('_')
                + QString::number(i) + QLatin1Char('.') + QFileInfo(entry).completeSuffix();
            const QString target = folder + newName;
            QFile::remove(target);
            if (!QFile::copy(entry, target)) {
                qCWarning(lcApp) << "Copy" << entry << "to" << target << "fails";
                continue;
            }
            record(newName, i);
        } else if (insideFolder(folder, entry) && QFileInfo(folder + entry).isFile()) {
            record(entry, i);
        } else {
            qCWarning(lcApp) << "Picture" << entry << "not found in the picture folder";
        }
    }
    ui->progressBar->setFormat(QString());
    if (!thumbSource.isEmpty()) {
        const QString thumb
            = Statics::CreateThumb(folder + thumbSource, db->getCurrentAdImageDirThumbs());
        db->executeSQL(QStringLiteral("UPDATE articles SET ImageThumb='%1' WHERE id=%2")
                           .arg(Database::escapeString(thumb), id));
    }
}
