// The import run of CsvImport (the OK button) and its picture import.
#include "import/csvimport.h"

#include "ui_csvimport.h"

#include "core/backgroundworker.h"
#include "core/database.h"
#include "core/descriptionlimit.h"
#include "core/imagelimits.h"
#include "core/logging.h"
#include "core/numberreader.h"
#include "core/statics.h"
#include "import/csvimportwriter.h"
#include "import/pictureimport.h"
#include "import/reader.h"
#include "import/rowfunction.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QPointer>
#include <QPushButton>
#include <QTextCodec>
#include <QTimer>

#include <algorithm>
#include <iterator>

namespace {

constexpr int kNamedAtMost = 20;
constexpr int kBadTextShown = 40;
constexpr int kBatchRows = 500;
constexpr int kEventIntervalMs = 20;
constexpr int kProgressIntervalMs = 100;
// Rows with pictures are read ahead until they name this many pictures for each decoder (or
// this many rows are waiting), so that their checks run side by side.
constexpr int kAheadPicturesPerDecoder = 2;
constexpr int kAheadRows = 16;

std::function<void(int line)> g_firstPassHook;
std::function<void(int line)> g_rowHook;

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
        QString text = tr("Es wurde kein Konto zugewiesen, außerdem ist auch kein Feld als "
                          "Konto gemappt. Vorlagen müssen ein Konto beinhalten");
        // Only "Ohne Kontenzuordnung" to choose: the store has no account yet.
        if (ui->AccountImport->count() <= 1)
            text += QLatin1Char('\n') + noAccountsHint();
        Statics::showMessage(this, text, 1);
        ui->AccountImport->setFocus();
        emit runEnded();
        return;
    }

    SetEnabledAll(false);
    importRunning = true;
    cancelRequested = false;
    ui->toolButton->setEnabled(false);

    CsvImportWriter::Settings settings;
    settings.mode = mode;
    settings.keyField = ui->UpdateField->currentData().toString();
    settings.folder = targetFolderId;
    if (ui->AccountImport->currentIndex() > 0)
        settings.account = ui->AccountImport->currentData().toString();
    m_run = std::make_shared<RunState>();
    RunState &state = *m_run;
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
    startFirstPass(settings);
}

struct CsvImport::FirstPass
{
    QString path;
    QString separator;
    QString delimiter;
    bool header = false;
    CsvImportWriter::Settings settings;
    // Made here on the worker's connection, which the rows are written through; touched by
    // the window only once this is done.
    std::shared_ptr<CsvImportWriter> writer;
    // The connection itself, not its address: one opened anew in its place may have the same.
    QPointer<Database> db;
    std::atomic<bool> cancel { false };
    std::atomic<int> lines { 0 }; // the file's lines, once counted
    int records = 0; // the file's rows, a header included
    std::atomic<int> line { 0 }; // the line read last
    bool inspected = false;
    bool windows1252 = false;
    bool read = false;
    int longRecordLine = 0;

    // On the background worker; touches nothing but this.
    void run(Database &connection, BackgroundJob::Control &control)
    {
        // The program is closing: nothing more to do, nothing to tell.
        if (control.cancelled())
            cancel = true;
        if (cancel)
            return;
        db = &connection;
        writer = std::make_shared<CsvImportWriter>(connection, settings);
        if (writer->accountsUnread())
            return;
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
        RowFunction look([this, &control](const QStringList &row, int at) {
            line.store(at, std::memory_order_relaxed);
            ++records;
            if (g_firstPassHook)
                g_firstPassHook(at);
            if (!header)
                writer->learn(row);
            header = false;
            if (control.cancelled())
                cancel = true;
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

void CsvImport::setRowHookForTesting(std::function<void(int line)> hook)
{
    g_rowHook = std::move(hook);
}

void CsvImport::startFirstPass(const CsvImportWriter::Settings &settings)
{
    auto pass = std::make_shared<FirstPass>();
    pass->path = ui->FileToImport->text();
    pass->separator = separator();
    pass->delimiter = ui->TextClose->text();
    pass->header = m_run->headerPending;
    pass->settings = settings;
    m_firstPass = pass;

    m_progressFormat = ui->progressBar->format();
    ui->progressBar->setFormat(tr("Die Datei wird geprüft … %p%"));
    ui->progressBar->setMaximum(0); // until the lines are counted
    ui->progressBar->setValue(0);
    ui->progressBar->show();
    showProgress([pass] { return qMakePair(pass->line.load(), pass->lines.load()); },
                 [] { return QString(); });
    // The window goes on (Abbrechen included) while the file is read; the rows follow when
    // the pass has ended.
    BackgroundJob *job = BackgroundWorker::instance()->post(
        QStringLiteral("CsvFirstPass"),
        [pass](Database &db, BackgroundJob::Control &control) { pass->run(db, control); });
    connect(job, &BackgroundJob::finished, this, [this, pass] { firstPassFinished(pass); });
}

void CsvImport::showProgress(std::function<QPair<int, int>()> lineAndLines,
                             std::function<QString()> text)
{
    if (!m_progressTimer) {
        m_progressTimer = new QTimer(this);
        m_progressTimer->setInterval(kProgressIntervalMs);
    }
    disconnect(m_progressTimer, nullptr, this, nullptr);
    connect(m_progressTimer, &QTimer::timeout, this, [this, lineAndLines, text] {
        const auto [line, lines] = lineAndLines();
        if (lines > 0 && ui->progressBar->maximum() != lines)
            ui->progressBar->setMaximum(lines);
        if (lines > 0)
            ui->progressBar->setValue(qMin(line, lines));
        const QString shown = text();
        if (!shown.isNull())
            ui->progressBar->setFormat(shown);
    });
    m_progressTimer->start();
}

void CsvImport::firstPassFinished(const std::shared_ptr<FirstPass> &pass)
{
    if (pass != m_firstPass)
        return;
    m_progressTimer->stop();
    m_firstPass.reset();
    ui->progressBar->setFormat(m_progressFormat);

    if (cancelRequested || pass->cancel) {
        endWithoutRun();
        return;
    }
    if (pass->writer && pass->writer->accountsUnread()) {
        Statics::showMessage(this,
                             tr("Die Konten konnten nicht gelesen werden, es wurde nichts "
                                "importiert: %1")
                                 .arg(pass->writer->lastError()),
                             2);
        endWithoutRun();
        return;
    }
    if (!pass->inspected || !pass->read) {
        Statics::showMessage(this,
                             pass->longRecordLine > 0 ? longRecordNotice(pass->longRecordLine)
                                                      : tr("Die Datei konnte nicht gelesen werden"),
                             2);
        endWithoutRun();
        return;
    }
    m_writer = pass->writer;
    m_writerDb = pass->db;
    m_run->writer = m_writer.get();
    m_run->records = pass->records;
    m_runWindows1252 = pass->windows1252;
    m_lines = pass->lines;
    ui->progressBar->setMaximum(m_lines);
    ui->progressBar->setValue(0);
    startRows(false);
}

// The rows of a run, read and written on the background worker a part at a time. A part
// ends at the end of the file, at a stop, at Abbrechen, or at a failure the seller is to be
// asked about: the window asks, and the next part goes on after the rows handled (or only
// closes what is open, when the seller ended the run).
struct CsvImport::RowsPart
{
    enum class End { Read, Stopped, Ask, Cancelled };

    // Given by the window.
    QString path;
    QString separator;
    bool windows1252 = false;
    int mode = InsertAll;
    int lines = 0;
    std::shared_ptr<RunState> state;
    std::shared_ptr<CsvImportWriter> writer;
    QPointer<Database> db; // the connection the writer was made on
    bool finishOnly = false;
    std::atomic<bool> cancel { false };

    // Told back: how far it got, what it is downloading, how it ended.
    std::atomic<int> line { 0 };
    QMutex textMutex;
    QString text;
    End end = End::Read;
    QString message; // Stopped: said by the window
    int askRow = 0;
    QString askError;
    bool closingQuestion = false; // the last commit failed: asked, then the run ends anyway
    bool read = true;
    int longRecordLine = 0;

    void setText(const QString &shown)
    {
        QMutexLocker locker(&textMutex);
        text = shown;
    }
    QString currentText()
    {
        QMutexLocker locker(&textMutex);
        return text;
    }
    void ask(int row, const QString &error)
    {
        end = End::Ask;
        askRow = row;
        askError = error;
    }

    void run(Database &connection, BackgroundJob::Control &control);
    // Hands a row read to importRow(), or keeps it back with the rows read ahead until their
    // pictures are checked together.
    bool take(const QStringList &row, int line, BackgroundJob::Control &control);
    // Checks the pictures of the rows read ahead side by side, then imports the rows.
    bool importAhead(BackgroundJob::Control &control);
    // `ready`: the row's pictures, checked already for one article; null: checked here.
    bool importRow(const QStringList &row, int line, BackgroundJob::Control &control,
                   PictureImport::Prepared *ready = nullptr);
    // The picture entries of a row, in the order of their columns.
    QStringList picturesOf(const QStringList &row) const;
    // Whether a row is one that is written at all, as far as that is seen before its
    // values are read: not blank, not short, no description the marketplace refuses.
    bool mayBeWritten(const QStringList &row) const;
    // Commits the rows written so far; false (the question set) when that failed.
    bool commitBatch();
    // Commits the rows written so far; false when that failed, and then the picture files
    // made for them are removed again.
    bool commitRows();
    QStringList batchFiles; // the picture files made for the rows of the open batch
    // Rows read and not yet handled, and the number of pictures they name.
    struct Ahead
    {
        QStringList row;
        int line;
    };
    std::vector<Ahead> ahead;
    int aheadPictures = 0;
};

void CsvImport::RowsPart::run(Database &connection, BackgroundJob::Control &control)
{
    RunState &s = *state;
    // The worker opened its connection anew (the data folder was changed): the writer's is
    // gone, nothing more is written.
    if (db.isNull() || db.data() != &connection) {
        end = End::Stopped;
        s.stopped = true;
        message = CsvImport::tr("Die Verbindung zur Datenbank wurde neu geöffnet; der Import "
                                "wurde angehalten.");
        return;
    }
    if (!finishOnly) {
        // The rows an earlier part handled are read past.
        const int handled = s.row;
        int seen = 0;
        RowFunction rows([&](const QStringList &row, int at) {
            if (++seen <= handled)
                return true;
            return take(row, at, control);
        });
        QtCSV::Reader::Details details;
        read = QtCSV::Reader::readToProcessor(path, rows, separator, s.delimiter,
                                              codecOf(windows1252), &details);
        // The rows read ahead up to the end of what could be read.
        if (end == End::Read)
            importAhead(control);
        ahead.clear();
        s.unclosedLine = details.unclosedLine;
        s.unclosedRow = details.unclosedRow;
        longRecordLine = details.longRecordLine;
        if (end == End::Ask)
            return;
    }
    // The run ends: what the last batch holds is committed, the marks of its rows cleared.
    if (writer->inBatch() && !commitRows()) {
        askRow = writer->batchLine();
        askError = writer->lastError();
        closingQuestion = true;
    }
    writer->finish();
}

bool CsvImport::RowsPart::commitRows()
{
    const bool kept = writer->commit();
    if (!kept)
        for (const QString &file : qAsConst(batchFiles))
            QFile::remove(file);
    batchFiles.clear();
    return kept;
}

bool CsvImport::RowsPart::commitBatch()
{
    if (commitRows())
        return true;
    ask(writer->batchLine(), writer->lastError());
    return false;
}

QStringList CsvImport::RowsPart::picturesOf(const QStringList &row) const
{
    QStringList pictures;
    for (int column : qAsConst(state->pictureColumns)) {
        const QString entry = row.value(column).trimmed();
        if (!entry.isEmpty())
            pictures << entry;
    }
    return pictures;
}

bool CsvImport::RowsPart::mayBeWritten(const QStringList &row) const
{
    const RunState &s = *state;
    return !isBlank(row) && s.lastColumn < row.size()
        && (s.descriptionColumn < 0
            || DescriptionLimit::refusal(row.at(s.descriptionColumn)).isEmpty());
}

bool CsvImport::RowsPart::take(const QStringList &row, int at, BackgroundJob::Control &control)
{
    int pictures = state->headerPending ? 0 : int(picturesOf(row).size());
    if (pictures > 0 && !mayBeWritten(row))
        pictures = 0;
    if (pictures == 0 && ahead.empty())
        return importRow(row, at, control);
    ahead.push_back({ row, at });
    aheadPictures += pictures;
    if (aheadPictures < kAheadPicturesPerDecoder * ImageLimits::decoderCount()
        && int(ahead.size()) < kAheadRows)
        return true;
    return importAhead(control);
}

bool CsvImport::RowsPart::importAhead(BackgroundJob::Control &control)
{
    const std::vector<Ahead> rows = std::move(ahead);
    ahead.clear();
    aheadPictures = 0;
    std::vector<PictureImport::Prepared> prepared;
    if (!rows.empty() && !cancel && !control.cancelled()) {
        // Checked with no batch open: this run never holds the write lock while it waits for
        // a server or for the picture decoder.
        if (!commitBatch())
            return false; // none of these rows is handled yet: the next part begins with them
        QList<QStringList> sets;
        for (const Ahead &next : rows)
            sets << (mayBeWritten(next.row) ? picturesOf(next.row) : QStringList());
        prepared = PictureImport::prepareEach(
            db->getCurrentAdImageDir(), db->getCurrentAdImageDirThumbs(), sets, 1,
            [this](const QString &address) { setText(QStringLiteral("Download . ") + address); });
        setText(QString(""));
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!importRow(rows[i].row, rows[i].line, control,
                       i < prepared.size() ? &prepared[i] : nullptr))
            return false;
    }
    return true;
}

bool CsvImport::RowsPart::importRow(const QStringList &row, int at, BackgroundJob::Control &control,
                                    PictureImport::Prepared *ready)
{
    RunState &s = *state;
    CsvImportWriter &w = *writer;
    if (cancel || control.cancelled()) {
        s.ended = true;
        end = End::Cancelled;
        // Named in the closing message: this row and the ones after it are not imported.
        s.cancelledRow = s.row + 1;
        s.rows.add(s.cancelledRow, at);
        return false;
    }
    if (g_rowHook)
        g_rowHook(at);
    // The rows written so far are committed every few milliseconds, so that the window's
    // and the workers' writes never wait long for this run's write lock.
    if (s.eventCounter > 2
        && (!s.sinceEvents.isValid() || s.sinceEvents.elapsed() >= kEventIntervalMs)) {
        if (!commitBatch())
            return false;
        s.sinceEvents.start();
        s.eventCounter = 1;
    } else {
        ++s.eventCounter;
    }
    line.store(at, std::memory_order_relaxed);
    control.progress(at, lines);
    // The row as a spreadsheet numbers it; the writer knows rows by it.
    const int rowNumber = ++s.row;
    s.rows.add(rowNumber, at);
    if (s.headerPending) {
        s.headerPending = false;
        return true;
    }

    // Empty rows and rows with too few fields are left out and named at the end; a row
    // short because a quoted value ran on over line ends is named with that reason.
    if (isBlank(row) || s.lastColumn >= row.size()) {
        int breaks = 0;
        bool holdsQuote = false;
        for (const QString &element : row) {
            const int inside = element.count(QLatin1Char('\n'));
            breaks += inside;
            holdsQuote = holdsQuote
                || (inside > 0 && !s.delimiter.isEmpty() && element.contains(s.delimiter));
        }
        if (breaks > 0 && !isBlank(row))
            s.openQuoteRows.append({ rowNumber, at + breaks, holdsQuote });
        else
            s.skippedRows << rowNumber;
        return true;
    }

    // A description the marketplace would refuse leaves the row out, named at the end.
    if (s.descriptionColumn >= 0) {
        const QString tooLong = DescriptionLimit::refusal(row.at(s.descriptionColumn));
        if (!tooLong.isEmpty()) {
            s.longDescriptions.append({ rowNumber, tooLong });
            return true;
        }
    }

    w.setRow(row, rowNumber);
    QList<int> ids;
    if (mode != InsertAll) {
        if (!w.hasKey()) {
            message = CsvImport::tr("Das zu aktualisierende Feld wurde nicht gefunden");
            end = End::Stopped;
            s.stopped = true;
            return false;
        }
        // A look-up that failed is no article that is missing: the row is not written.
        const Read<QList<int>> found = w.matchingIds();
        if (!found.ok()) {
            ask(commitRows() ? rowNumber : w.batchLine(), found.error());
            return false;
        }
        ids = *found;
        if (ids.isEmpty() && mode == UpdateOnly)
            return true;
    }
    // A row with a value not taken as meant is left out whole, before anything of it is
    // fetched or written; it is named at the end.
    if (!w.acceptRow(ids.isEmpty()))
        return true;

    const QStringList pictures = picturesOf(row);
    // The pictures are downloaded, copied and checked before anything of the row is written,
    // with no batch open: this run never holds the write lock while it waits for a server or
    // for the picture decoder. Those checked ahead for one article are taken as they are.
    PictureImport::Prepared prepared;
    if (ready && ready->size() == pictures.size() && ids.size() <= 1) {
        prepared = std::move(*ready);
    } else if (!pictures.isEmpty()) {
        if (!commitBatch()) {
            // Nothing of this row is written yet: the next part begins with it.
            --s.row;
            return false;
        }
        prepared
            = PictureImport::prepare(db->getCurrentAdImageDir(), db->getCurrentAdImageDirThumbs(),
                                     pictures, qMax(1, ids.size()), [this](const QString &address) {
                                         setText(QStringLiteral("Download . ") + address);
                                     });
        setText(QString(""));
    }

    w.begin(rowNumber);
    const auto takePictures
        = [&](int id, int article) {
              QStringList lost;
              QStringList made;
              s.failedPictures += PictureImport::record(db, id, prepared, article, &lost, &made);
              if (w.inBatch())
                  batchFiles += made;
              for (const QString &entry : qAsConst(lost))
                  s.failedPictureNames
                      << CsvImport::tr("Zeile %1: „%2“").arg(s.rows.name(rowNumber), entry);
          };
    bool ok;
    if (ids.isEmpty()) {
        const int id = w.insert();
        ok = id > 0;
        if (ok && !pictures.isEmpty())
            takePictures(id, 0);
    } else {
        ok = w.update(ids);
        // A row without pictures leaves the articles' pictures as they are.
        if (ok && !pictures.isEmpty()) {
            for (int k = 0; k < ids.size(); ++k)
                takePictures(ids.at(k), k);
        }
    }
    if (!ok) {
        // The rows before it in the batch are kept, unless the commit fails as well: then
        // the question names the batch's first row.
        const QString error = w.lastError();
        ask(commitRows() ? rowNumber : w.batchLine(), error);
        return false;
    }
    if (w.batchRows() >= kBatchRows)
        return commitBatch();
    return true;
}

void CsvImport::cancelPasses()
{
    if (m_firstPass)
        m_firstPass->cancel = true;
    if (m_rows)
        m_rows->cancel = true;
}

void CsvImport::startRows(bool finishOnly)
{
    auto part = std::make_shared<RowsPart>();
    part->path = ui->FileToImport->text();
    part->separator = separator();
    part->windows1252 = m_runWindows1252;
    part->mode = ui->ImportModus->currentIndex();
    part->lines = m_lines;
    part->state = m_run;
    part->writer = m_writer;
    part->db = m_writerDb;
    part->finishOnly = finishOnly;
    part->cancel = cancelRequested;
    m_rows = part;
    showProgress([part] { return qMakePair(part->line.load(), part->lines); },
                 [part] {
                     // Null while nothing is downloading: the bar keeps its text.
                     return part->currentText();
                 });
    BackgroundJob *job = BackgroundWorker::instance()->post(
        QStringLiteral("CsvRows"), [part](Database &connection, BackgroundJob::Control &control) {
            part->run(connection, control);
        });
    connect(job, &BackgroundJob::finished, this, [this, part] { rowsPartFinished(part); });
}

void CsvImport::rowsPartFinished(const std::shared_ptr<RowsPart> &part)
{
    if (part != m_rows)
        return;
    m_progressTimer->stop();
    m_rows.reset();
    ui->progressBar->setFormat(m_progressFormat);
    RunState &state = *m_run;
    if (part->end == RowsPart::End::Ask) {
        // Yes ends the run with what was stored; No goes on after the row.
        startRows(askToEnd(part->askRow, part->askError, state));
        return;
    }
    if (part->closingQuestion)
        askToEnd(part->askRow, part->askError, state);
    if (part->end == RowsPart::End::Stopped && !part->message.isEmpty())
        Statics::showMessage(this, part->message, 2);
    if (!part->read && !state.stopped && !state.ended) {
        Statics::showMessage(this,
                             part->longRecordLine > 0 ? longRecordNotice(part->longRecordLine)
                                                      : tr("Die Datei konnte nicht gelesen werden"),
                             2);
        state.stopped = true;
    }
    if (state.stopped) {
        SetEnabledAll(true);
        ui->progressBar->hide();
        importRunning = false;
        m_run.reset();
        m_writer.reset();
        emit runEnded();
        return;
    }
    importRunning = false;
    finishRun(state);
    m_run.reset();
    m_writer.reset();
    emit runEnded();
}

void CsvImport::on_buttonBox_rejected()
{
    if (importRunning) {
        cancelRequested = true;
        cancelPasses();
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
    m_run.reset();
    m_writer.reset();
    emit runEnded();
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
    // Kept for the next import of a file of this name only when this run stored something:
    // an attempt that failed (every row refused, cancelled before the first one) leaves the
    // settings that worked before as they were.
    if (writer.created() + writer.updated() > 0)
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
    QStringList text;
    if (state.cancelledRow > 0) {
        // Abbrechen keeps the rows written before it: said as that, with what was left out.
        const QString at = state.rows.name(state.cancelledRow);
        const int left = qMax(1, state.records - state.cancelledRow + 1);
        text << tr("Der Import wurde in Zeile %1 abgebrochen; was bis dahin importiert wurde, "
                   "bleibt gespeichert.")
                    .arg(at)
             << summary
             << (left == 1
                     ? tr("1 Zeile (Zeile %1) wurde nicht importiert.").arg(at)
                     : tr("%1 Zeilen ab Zeile %2 wurden nicht importiert.").arg(left).arg(at));
    } else {
        text << summary;
    }
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
                     ? noAccountsHint()
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

QString CsvImport::noAccountsHint()
{
    return tr("Es ist noch kein Konto angelegt: bitte zuerst in den Einstellungen (Extras, "
              "Einstellungen) ein Konto anlegen oder die Konten mit „Rovive 2 Daten "
              "importieren...“ (Menü Datei) aus Rovive 2 übernehmen, und die Datei dann erneut "
              "importieren.");
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
