#pragma once

#include "core/newsitem.h"
#include "core/readresult.h"
#include "import/csvimportwriter.h"
#include "import/picturecolumns.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class Database;
class QTextCodec;
class QTimer;

class QComboBox;
class QLayout;
class QStandardItemModel;

namespace Ui {
class CsvImport;
}

// Creates or updates articles from a CSV or text file: the user picks the file, the
// separator is guessed, the first rows are previewed and each file column is mapped to an
// article column or to one of twelve picture slots. The choices are remembered per file
// name. OK runs the import row by row in one of three modes.
class CsvImport : public QDialog
{
    Q_OBJECT

public:
    enum Mode { InsertAll = 0, UpdateOnly = 1, UpdateOrInsert = 2 };
    // More columns than a seller's spreadsheet can mean: such a file is refused when it is
    // opened, before a mapping box is made for each column.
    static constexpr int kMaxColumns = 1000;

    explicit CsvImport(int folderId, QWidget *parent = nullptr);
    ~CsvImport() override;

    // Called on the thread of the run's first pass (the look at the whole file before the
    // first row is written) with the text line of each row it reads; empty: none.
    static void setFirstPassHookForTesting(std::function<void(int line)> hook);
    // Called on the worker before each row the run handles, with its text line; empty: none.
    static void setRowHookForTesting(std::function<void(int line)> hook);

    // Esc and the window's close button: while a run goes on, the same as Abbrechen.
    void reject() override;

signals:
    // OK has led to its end: the run ended, stopped, was refused or cancelled (the dialog
    // may have closed).
    void runEnded();
    void sendaddNewsItem(NewsItem data);
    // The folder that received new articles, how many, and false (add to the count).
    void changeFolderCount(int folderId, int count, bool absolute);

public slots:
    // Opens the chosen file: separator guess, saved settings, preview and mapping.
    void onOpenFile(const QString &str);

private slots:
    void on_toolButton_clicked();
    void on_FirstHeaders_toggled(bool checked);
    void on_Separator_currentTextChanged(const QString &arg1);
    void on_TextClose_textChanged(const QString &arg1);
    void on_ImportModus_currentIndexChanged(int index);
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void on_buttonBox_helpRequested();

private:
    // Rows are named as a spreadsheet numbers them (the header, if any, is row 1); the text
    // line follows where it differs, after a value over several lines. Keeps only the rows
    // from which on the two differ by another amount.
    class RowNames
    {
    public:
        // Row `row` begins in text line `line`; rows come in order.
        void add(int row, int line);
        // As rowName names it.
        QString name(int row) const;
        int line(int row) const;

    private:
        QList<QPair<int, int>> m_shifts; // from row, line minus row
    };

    // What one import run has done so far, besides what its writer counts.
    struct RunState
    {
        CsvImportWriter *writer = nullptr;
        QList<int> pictureColumns; // the file columns mapped to picture slots, in order
        int lastColumn = -1; // the last file column mapped
        int eventCounter = 0;
        QString delimiter; // the text delimiter the file is read with
        bool headerPending = false;
        bool stopped = false; // ended without the end steps (dialog stays open)
        bool ended = false; // cancelled, or stopped after an error: the end steps follow
        QElapsedTimer sinceEvents; // since events were last served
        int row = 0; // the row being handled
        RowNames rows;
        QList<int> skippedRows; // empty or short
        int descriptionColumn = -1; // the file column mapped to the description
        QList<QPair<int, QString>> longDescriptions; // rows left out, with the reason
        // Short because a quoted value went on over line ends.
        struct OpenQuote
        {
            int row;
            int lastLine; // where the row ended
            // The value holds the text delimiter: doubled in the file, not its end.
            bool holdsQuote;
        };
        QList<OpenQuote> openQuoteRows;
        int failedPictures = 0;
        QStringList failedPictureNames; // "Zeile N: „entry“"
        int unclosedLine = 0; // where a quoted value began that the file never closed
        int unclosedRow = 0;
        int records = 0; // of the file, a header included
        int cancelledRow = 0; // the first row Abbrechen left out; 0: not cancelled
    };

    // A look at the whole file in the background: its encoding and a quoted value that
    // never closes, for the separator and text delimiter it was started with.
    struct FileScan;
    // The run's first pass, on the background worker: the line count and encoding, then what
    // the number columns show.
    struct FirstPass;
    // A part of the run's rows, on the background worker.
    struct RowsPart;

    // Fills the account box; false when the accounts could not be read (m_readFailure).
    bool loadAccounts();
    void MakePreview();
    void SetEnabledAll(bool on);
    void removeW(QLayout *layout);
    void readSettings();
    void saveSettings();
    bool LoadFileSettings(bool apply);
    void SaveFileSettings();
    // Row `row`, which begins in text line `line`: "4", or "4 (Textzeile 5)".
    static QString rowName(int row, int line);
    // The notice for a quoted value that begins in row `row`, text line `line`, and is
    // never closed.
    static QString unclosedNotice(int row, int line);
    // The refusal of a file whose record beginning in text line `line` is longer than the
    // reader takes.
    static QString longRecordNotice(int line);
    // Reads the preview's rows with `codec` and shows them; the first row titles the
    // columns when FirstHeaders is ticked.
    QStringList fillPreview(QTextCodec *codec);
    // Starts the background look at the file for the current settings, unless one runs or
    // ran for them; a look for other settings is stopped.
    void startScan();
    void scanFinished(const std::shared_ptr<FileScan> &scan);
    void stopScans();
    void showNotices();

    QString separator() const;
    Read<QStringList> articleColumns();
    // What to do when the store has no account: the settings, or the predecessor import,
    // which brings its accounts along.
    static QString noAccountsHint();
    // Adds the closing message's sentences on the rows left out.
    static void describeSkipped(const RunState &state, QStringList &text);
    // The "Importfehler" question for row `row`: true when the seller ends the run.
    bool askToEnd(int row, const QString &error, RunState &state);
    void finishRun(const RunState &state);
    // Posts the first pass to the background worker; the window goes on, showing its
    // progress. The rows follow in firstPassFinished() unless it was cancelled or failed.
    void startFirstPass(const CsvImportWriter::Settings &settings);
    void firstPassFinished(const std::shared_ptr<FirstPass> &pass);
    // Tells a running pass to stop (it ends on its own).
    void cancelPasses();
    // Posts the next part of the run's rows (only the closing steps when `finishOnly`).
    void startRows(bool finishOnly);
    void rowsPartFinished(const std::shared_ptr<RowsPart> &part);
    // Shows a pass's progress from what it tells, polled: the line reached and the lines
    // of the file; a text for the bar unless null.
    void showProgress(std::function<QPair<int, int>()> lineAndLines, std::function<QString()> text);
    // Back to the dialog as it was before OK, after a run that wrote nothing.
    void endWithoutRun();

    bool importRunning = false;
    bool cancelRequested = false;
    std::unique_ptr<Ui::CsvImport> ui;
    std::unique_ptr<Database> db;
    QList<QComboBox *> columnCombos;
    QStandardItemModel *m_choices = nullptr; // the mapping boxes' choices, shared
    bool autoAssign = false;
    int targetFolderId = -10;

    // What is known of the open file: its encoding once the whole file was looked at, the
    // encoding the preview shows, and a quoted value never closed (for the settings of
    // the last finished look).
    bool m_encodingKnown = false;
    bool m_windows1252 = false;
    bool m_previewWindows1252 = false;
    std::shared_ptr<FileScan> m_scan; // the look for the current settings
    int m_unclosedRow = 0;
    int m_unclosedLine = 0;
    int m_longRecordLine = 0;
    bool m_firstRowCut = false; // the preview read only the start of the first line
    // Why the accounts or the article columns could not be read: nothing can be imported
    // until they are (OK stays off); empty when they were.
    QString m_readFailure;
    bool m_accountsRead = false;
    QList<std::shared_ptr<FileScan>> m_scans; // posted, not yet finished
    std::shared_ptr<FirstPass> m_firstPass; // while one runs
    std::shared_ptr<RowsPart> m_rows; // while one runs
    QTimer *m_progressTimer = nullptr;
    QString m_progressFormat; // the bar's own, while the first pass shows its own
    // The run from OK on: its writer (made by the first pass on the worker's connection,
    // `m_writerDb`, and taught the file's number forms) and what it has done; shared with
    // the part of the rows that runs.
    std::shared_ptr<CsvImportWriter> m_writer;
    QPointer<Database> m_writerDb;
    std::shared_ptr<RunState> m_run;
    int m_lines = 0; // of the file, from the first pass
    bool m_runWindows1252 = false; // the file's encoding, from the first pass
};
