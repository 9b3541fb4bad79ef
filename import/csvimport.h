#pragma once

#include "core/newsitem.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class CsvImportWriter;
class Database;

// The column names by which picture columns of a CSV file are known, followed by 1 to 12.
inline const QString kPictureColumnPrefix = QStringLiteral("Zerire3_image_");
class QComboBox;
class QLayout;

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

    explicit CsvImport(int folderId, QWidget *parent = nullptr);
    ~CsvImport() override;

signals:
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
    // What one import run has done so far, besides what its writer counts.
    struct RunState
    {
        CsvImportWriter *writer = nullptr;
        QList<int> pictureColumns; // the file columns mapped to picture slots, in order
        int lastColumn = -1; // the last file column mapped
        int eventCounter = 0;
        bool headerPending = false;
        bool stopped = false; // ended without the end steps (dialog stays open)
        bool ended = false; // cancelled, or stopped after an error: the end steps follow
        QElapsedTimer sinceEvents; // since events were last served
        QStringList skippedRows; // their file lines
        int failedPictures = 0;
        QStringList failedPictureNames; // "Zeile N: „entry“"
        int unclosedLine = 0; // where a quoted value began that the file never closed
    };

    void loadAccounts();
    void MakePreview();
    void SetEnabledAll(bool on);
    void removeW(QLayout *layout);
    void readSettings();
    void saveSettings();
    bool LoadFileSettings(bool apply);
    void SaveFileSettings();
    // Replaces the picture records of an article by `pictures` (addresses, full paths or
    // names in the picture folder); the number of pictures that could not be taken, which
    // `pictures` holds afterwards.
    int CopyImages(int articleId, QStringList &pictures);
    // The notice for a quoted value that begins in file line `line` and is never closed.
    static QString unclosedNotice(int line);

    QString separator() const;
    QStringList articleColumns();
    // Handles one file row of a run, which begins in file line `line`; false ends the run.
    bool importRow(const QStringList &row, int line, RunState &state);
    // Commits the rows written so far; a failed commit is put to the seller. False when
    // the run ends there.
    bool commitBatch(RunState &state);
    // The "Importfehler" question for file line `line`: true when the seller ends the run.
    bool askToEnd(int line, const QString &error, RunState &state);
    void finishRun(const RunState &state);

    bool importRunning = false;
    bool cancelRequested = false;
    std::unique_ptr<Ui::CsvImport> ui;
    std::unique_ptr<Database> db;
    QList<QComboBox *> columnCombos;
    bool autoAssign = false;
    int targetFolderId = -10;
};
