// The import run of CsvImport (the OK button) and its picture import.
#include "import/csvimport.h"

#include "ui_csvimport.h"

#include "core/database.h"
#include "core/descriptionlimit.h"
#include "core/logging.h"
#include "core/numberreader.h"
#include "core/statics.h"
#include "import/csvimportwriter.h"
#include "import/pictureimport.h"
#include "import/reader.h"
#include "import/rowfunction.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTextCodec>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <iterator>

namespace {

constexpr int kNamedAtMost = 20;
constexpr int kBadTextShown = 40;
constexpr int kBatchRows = 500;
constexpr int kEventIntervalMs = 20;
constexpr int kProgressIntervalMs = 100;

std::function<void(int line)> g_firstPassHook;

QTextCodec *codecOf(bool windows1252)
{
    return QTextCodec::codecForName(windows1252 ? "Windows-1252" : "UTF-8");
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

// A value as the summary shows it: long ones cut.
QString shortText(const QString &text)
{
    return text.size() > kBadTextShown ? text.left(kBadTextShown) + QStringLiteral("…") : text;
}

// After the first of `total` names listed in `names`: how many more there are.
void addMoreCount(QStringList &names, int total)
{
    if (total > names.size())
        names << CsvImport::tr("… und %1 weitere").arg(total - names.size());
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
    importRunning = true;
    cancelRequested = false;
    ui->toolButton->setEnabled(false);

    CsvImportWriter::Settings settings;
    settings.mode = mode;
    settings.keyField = ui->UpdateField->currentData().toString();
    settings.folder = targetFolderId;
    if (ui->AccountImport->currentIndex() > 0)
        settings.account = ui->AccountImport->currentData().toString();
    RunState state;
    state.delimiter = ui->TextClose->text();
    state.headerPending = ui->FirstHeaders->isChecked();
    for (const QComboBox *box : qAsConst(columnCombos)) {
        const QString field = box->currentData().toString();
        const int column = box->property("column").toInt();
        if (field.isEmpty())
            continue;
        state.lastColumn = qMax(state.lastColumn, column);
        if (field == QLatin1String("Description"))
            state.descriptionColumn = column;
        if (field.contains(kPictureColumnPrefix))
            state.pictureColumns << column;
        else
            settings.mapping.append({ column, field });
    }
    CsvImportWriter writer(*db, settings);
    state.writer = &writer;
    if (writer.accountsUnread()) {
        Statics::showMessage(this,
                             tr("Die Konten konnten nicht gelesen werden, es wurde nichts "
                                "importiert: %1")
                                 .arg(writer.lastError()),
                             2);
        endWithoutRun();
        return;
    }
    QTextCodec *codec = nullptr;
    int total = 0;
    if (!runFirstPass(writer, state.headerPending, &codec, &total)) {
        endWithoutRun();
        return;
    }
    ui->progressBar->setMaximum(total);
    ui->progressBar->setValue(0);

    QtCSV::Reader::Details details;
    RowFunction rows(
        [this, &state](const QStringList &row, int line) { return importRow(row, line, state); });
    const bool read
        = QtCSV::Reader::readToProcessor(path, rows, separator(), state.delimiter, codec, &details);
    state.unclosedLine = details.unclosedLine;
    state.unclosedRow = details.unclosedRow;
    if (writer.inBatch())
        commitBatch(state);
    writer.finish();
    if (!read && !state.stopped && !state.ended) {
        Statics::showMessage(this,
                             details.longRecordLine > 0
                                 ? longRecordNotice(details.longRecordLine)
                                 : tr("Die Datei konnte nicht gelesen werden"),
                             2);
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

struct CsvImport::FirstPass
{
    QString path;
    QString separator;
    QString delimiter;
    bool header = false;
    CsvImportWriter *writer = nullptr; // touched by the window only once this is done
    std::atomic<bool> cancel { false };
    std::atomic<int> lines { 0 }; // the file's lines, once counted
    std::atomic<int> line { 0 }; // the line read last
    bool inspected = false;
    bool windows1252 = false;
    bool read = false;
    int longRecordLine = 0;

    // On a thread of its own; touches nothing but this and the writer's learning.
    void run()
    {
        // The progress bar's length from the file's line count, and the encoding from every
        // byte, in one pass that decodes nothing; no file is ever held in memory whole.
        QtCSV::Reader::FileFacts facts;
        if (!QtCSV::Reader::inspect(path, &facts, &cancel))
            return;
        inspected = true;
        windows1252 = facts.windows1252;
        lines = facts.lines;
        // A number such as "1,234" is read by what the rest of its column (or the file)
        // shows, so the rows are looked at once before the first one is written; a record
        // too long to be a row of a spreadsheet refuses the file here.
        RowFunction look([this](const QStringList &row, int at) {
            line.store(at, std::memory_order_relaxed);
            if (g_firstPassHook)
                g_firstPassHook(at);
            if (!header)
                writer->learn(row);
            header = false;
            return !cancel.load(std::memory_order_relaxed);
        });
        QtCSV::Reader::Details details;
        read = QtCSV::Reader::readToProcessor(path, look, separator, delimiter,
                                              codecOf(windows1252), &details, &cancel);
        longRecordLine = details.longRecordLine;
    }
};

void CsvImport::setFirstPassHookForTesting(std::function<void(int line)> hook)
{
    g_firstPassHook = std::move(hook);
}

bool CsvImport::runFirstPass(CsvImportWriter &writer, bool header, QTextCodec **codec, int *lines)
{
    auto pass = std::make_shared<FirstPass>();
    pass->path = ui->FileToImport->text();
    pass->separator = separator();
    pass->delimiter = ui->TextClose->text();
    pass->header = header;
    pass->writer = &writer;
    m_firstPass = pass;

    const QString format = ui->progressBar->format();
    ui->progressBar->setFormat(tr("Die Datei wird geprüft … %p%"));
    ui->progressBar->setMaximum(0); // until the lines are counted
    ui->progressBar->setValue(0);
    ui->progressBar->show();
    QTimer progress;
    progress.setInterval(kProgressIntervalMs);
    connect(&progress, &QTimer::timeout, this, [this, pass] {
        const int lines = pass->lines.load(std::memory_order_relaxed);
        if (lines > 0 && ui->progressBar->maximum() != lines)
            ui->progressBar->setMaximum(lines);
        if (lines > 0)
            ui->progressBar->setValue(qMin(pass->line.load(std::memory_order_relaxed), lines));
    });
    // The window goes on (Abbrechen included) while the file is read.
    QEventLoop loop;
    std::unique_ptr<QThread> thread(QThread::create([pass] { pass->run(); }));
    connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    progress.start();
    loop.exec();
    thread->wait();
    progress.stop();
    m_firstPass.reset();
    ui->progressBar->setFormat(format);

    if (cancelRequested || pass->cancel)
        return false;
    if (!pass->inspected || !pass->read) {
        Statics::showMessage(this,
                             pass->longRecordLine > 0 ? longRecordNotice(pass->longRecordLine)
                                                      : tr("Die Datei konnte nicht gelesen werden"),
                             2);
        return false;
    }
    *codec = codecOf(pass->windows1252);
    *lines = pass->lines;
    return true;
}

void CsvImport::on_buttonBox_rejected()
{
    if (importRunning) {
        cancelRequested = true;
        if (m_firstPass)
            m_firstPass->cancel = true;
        ui->buttonBox->button(QDialogButtonBox::Cancel)->setEnabled(false);
        return;
    }
    saveSettings();
    done(QDialog::Rejected);
}

void CsvImport::reject()
{
    if (importRunning) {
        on_buttonBox_rejected();
        return;
    }
    QDialog::reject();
}

void CsvImport::endWithoutRun()
{
    ui->progressBar->hide();
    ui->toolButton->setEnabled(true);
    importRunning = false;
    cancelRequested = false;
    ui->buttonBox->button(QDialogButtonBox::Cancel)->setEnabled(true);
    SetEnabledAll(true);
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
    // The row as a spreadsheet numbers it; the writer knows rows by it.
    const int rowNumber = ++state.row;
    state.rows.add(rowNumber, line);
    if (state.headerPending) {
        state.headerPending = false;
        return true;
    }

    // Empty rows and rows with too few fields are left out and named at the end; a row
    // short because a quoted value ran on over line ends is named with that reason.
    if (isBlank(row) || state.lastColumn >= row.size()) {
        int breaks = 0;
        bool holdsQuote = false;
        for (const QString &element : row) {
            const int inside = element.count(QLatin1Char('\n'));
            breaks += inside;
            holdsQuote = holdsQuote
                || (inside > 0 && !state.delimiter.isEmpty() && element.contains(state.delimiter));
        }
        if (breaks > 0 && !isBlank(row))
            state.openQuoteRows.append({ rowNumber, line + breaks, holdsQuote });
        else
            state.skippedRows << rowNumber;
        return true;
    }

    // A description the marketplace would refuse leaves the row out, named at the end.
    if (state.descriptionColumn >= 0) {
        const QString tooLong = DescriptionLimit::refusal(row.at(state.descriptionColumn));
        if (!tooLong.isEmpty()) {
            state.longDescriptions.append({ rowNumber, tooLong });
            return true;
        }
    }

    const int mode = ui->ImportModus->currentIndex();
    writer.setRow(row, rowNumber);
    QList<int> ids;
    if (mode != InsertAll) {
        if (!writer.hasKey()) {
            Statics::showMessage(this, tr("Das zu aktualisierende Feld wurde nicht gefunden"), 2);
            state.stopped = true;
            importRunning = false;
            return false;
        }
        // A look-up that failed is no article that is missing: the row is not written.
        const Read<QList<int>> found = writer.matchingIds();
        if (!found.ok())
            return !askToEnd(writer.commit() ? rowNumber : writer.batchLine(), found.error(),
                             state);
        ids = *found;
        if (ids.isEmpty() && mode == UpdateOnly)
            return true;
    }
    // A row with a value not taken as meant is left out whole, before anything of it is
    // fetched or written; it is named at the end.
    if (!writer.acceptRow(ids.isEmpty()))
        return true;

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

    writer.begin(rowNumber);
    const auto takePictures = [&](int id) {
        QStringList failed = pictures;
        state.failedPictures += CopyImages(id, failed);
        for (const QString &entry : qAsConst(failed))
            state.failedPictureNames << tr("Zeile %1: „%2“").arg(state.rows.name(rowNumber), entry);
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
        return !askToEnd(writer.commit() ? rowNumber : writer.batchLine(), error, state);
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

bool CsvImport::askToEnd(int row, const QString &error, RunState &state)
{
    if (!Statics::showQuestionDialog(
            this, tr("Importfehler"),
            tr("Beim Import sind Fehler aufgetreten, aktuell in der Zeile %1 (%2), soll ich "
               "abbrechen?")
                .arg(state.rows.name(row), error)))
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

    // "Es wurde 1 Artikel angelegt", "es wurden 2 Artikel aktualisiert": the verb follows
    // each count; said once when both take the same form.
    const int created = writer.created();
    const int updated = writer.updated();
    QString summary = created == 1 ? tr("Es wurde 1 Artikel angelegt")
                                   : tr("Es wurden %1 Artikel angelegt").arg(created);
    if ((created == 1) == (updated == 1))
        summary += tr(" und %1 Artikel aktualisiert.").arg(updated);
    else if (updated == 1)
        summary += tr(" und es wurde 1 Artikel aktualisiert.");
    else
        summary += tr(" und es wurden %1 Artikel aktualisiert.").arg(updated);
    QStringList text { summary };
    describeSkipped(state, text);
    // Rows left out for a value not taken as meant, each value with its reason, and what to
    // do about it.
    const QList<CsvImportWriter::BadNumber> badNumbers = writer.badNumbers();
    bool ambiguous = false;
    for (const bool noNumber : { true, false }) {
        QStringList values;
        int count = 0;
        for (const auto &bad : badNumbers) {
            if ((bad.why == NumberReader::Refusal::NoNumber) != noNumber)
                continue;
            ambiguous = ambiguous || bad.why == NumberReader::Refusal::Ambiguous;
            if (++count > kNamedAtMost)
                continue;
            // The writer knows rows by their number.
            QString value = tr("Zeile %1, %2: „%3“")
                                .arg(state.rows.name(bad.line), bad.column, shortText(bad.text));
            if (!noNumber)
                value
                    += QStringLiteral(" (") + NumberReader::refusalText(bad.why) + QLatin1Char(')');
            values << value;
        }
        if (count == 0)
            continue;
        addMoreCount(values, count);
        text << (noNumber ? tr("Diese Zeilen wurden nicht importiert, weil ein Wert keine Zahl "
                               "ist:")
                          : tr("Diese Zeilen wurden nicht importiert, weil eine Zahl nicht "
                               "übernommen werden kann:"))
                + QLatin1Char('\n') + values.join(QLatin1Char('\n'));
    }
    const QList<CsvImportWriter::BadAccount> badAccounts = writer.badAccounts();
    if (!badAccounts.isEmpty()) {
        QStringList values;
        for (const auto &bad : badAccounts.mid(0, kNamedAtMost))
            values << tr("Zeile %1, Account: „%2“")
                          .arg(state.rows.name(bad.line), shortText(bad.text));
        addMoreCount(values, badAccounts.size());
        text << tr("Diese Zeilen wurden nicht importiert, weil es das genannte Konto nicht "
                   "gibt:")
                + QLatin1Char('\n') + values.join(QLatin1Char('\n'));
    }
    if (ambiguous)
        text << tr("Zahlen ohne Nachkommastellen mit einem Punkt oder Komma („1.234“) sind "
                   "mehrdeutig: bitte die Datei mit Dezimalkomma und zwei Nachkommastellen "
                   "speichern („1.234,00“) und diese Zeilen erneut importieren.");
    else if (!badNumbers.isEmpty())
        text << tr("Bitte die Werte in der Datei berichtigen und diese Zeilen erneut "
                   "importieren.");
    if (!badAccounts.isEmpty())
        text << (writer.noAccounts()
                     ? tr("Es ist noch kein Konto angelegt: bitte zuerst in den Einstellungen "
                          "ein Konto anlegen und die Datei dann erneut importieren.")
                     : tr("Die Spalte Account muss die Nummer eines angelegten Kontos "
                          "enthalten; bitte berichtigen und diese Zeilen erneut importieren."));
    if (!state.failedPictureNames.isEmpty()) {
        QStringList pictures = state.failedPictureNames.mid(0, kNamedAtMost);
        addMoreCount(pictures, state.failedPictureNames.size());
        text << pictures.join(QLatin1Char('\n'));
    }
    if (state.failedPictures == 1)
        text << tr("1 Bild konnte nicht übernommen werden.");
    else if (state.failedPictures > 1)
        text << tr("%1 Bilder konnten nicht übernommen werden.").arg(state.failedPictures);
    if (state.unclosedLine > 0)
        text << unclosedNotice(state.unclosedRow, state.unclosedLine);
    Statics::showMessage(this, text.join(QLatin1Char('\n')), text.size() > 1 ? 1 : 0);
    done(cancelRequested ? QDialog::Rejected : QDialog::Accepted);
}

void CsvImport::describeSkipped(const RunState &state, QStringList &text)
{
    if (!state.skippedRows.isEmpty()) {
        QStringList rows;
        for (int row : state.skippedRows.mid(0, kNamedAtMost))
            rows << state.rows.name(row);
        addMoreCount(rows, state.skippedRows.size());
        text << (state.skippedRows.size() == 1
                     ? tr("1 leere oder unvollständige Zeile wurde übersprungen (Zeile %1).")
                           .arg(rows.first())
                     : tr("%1 leere oder unvollständige Zeilen wurden übersprungen (Zeile %2).")
                           .arg(state.skippedRows.size())
                           .arg(rows.join(QStringLiteral(", "))));
    }
    for (const auto &open : state.openQuoteRows.mid(0, kNamedAtMost)) {
        QString reason = tr("Zeile %1 ist unvollständig und wurde übersprungen: ein Wert in "
                            "Anführungszeichen geht dort über das Zeilenende hinaus und endet "
                            "erst in Textzeile %2.")
                             .arg(state.rows.name(open.row))
                             .arg(open.lastLine);
        if (open.holdsQuote)
            reason += QLatin1Char(' ')
                + tr("Ein doppeltes Anführungszeichen (%1%1) in einem Wert beendet ihn nicht, "
                     "es steht für ein Anführungszeichen im Text.")
                      .arg(state.delimiter);
        text << reason;
    }
    if (state.openQuoteRows.size() > kNamedAtMost)
        text << tr("… und %1 weitere Zeilen aus demselben Grund.")
                    .arg(state.openQuoteRows.size() - kNamedAtMost);
    for (const auto &[row, reason] : state.longDescriptions.mid(0, kNamedAtMost))
        text << tr("Zeile %1 wurde nicht importiert: %2").arg(state.rows.name(row), reason);
    if (state.longDescriptions.size() > kNamedAtMost)
        text << tr("… und %1 weitere Zeilen aus demselben Grund.")
                    .arg(state.longDescriptions.size() - kNamedAtMost);
}

void CsvImport::RowNames::add(int row, int line)
{
    const int shift = line - row;
    if (m_shifts.isEmpty() ? shift != 0 : m_shifts.last().second != shift)
        m_shifts.append({ row, shift });
}

int CsvImport::RowNames::line(int row) const
{
    // The last change at or before the row.
    auto after
        = std::upper_bound(m_shifts.cbegin(), m_shifts.cend(), row,
                           [](int r, const QPair<int, int> &shift) { return r < shift.first; });
    return after == m_shifts.cbegin() ? row : row + std::prev(after)->second;
}

QString CsvImport::RowNames::name(int row) const
{
    return CsvImport::rowName(row, line(row));
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
