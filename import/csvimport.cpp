#include "import/csvimport.h"

#include "ui_csvimport.h"

#include "core/backgroundworker.h"
#include "core/database.h"
#include "core/dialogs.h"
#include "core/logging.h"
#include "core/settings.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/untrustedfile.h"
#include "import/reader.h"
#include "import/rowfunction.h"
#include "views/noticelabel.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTextCodec>
#include <QTextStream>

#include <algorithm>

namespace {

const QString kTab = QStringLiteral("{TAB}");
constexpr int kPictureSlots = 12;
constexpr int kPreviewRows = 20;
// The preview reads no further than this many characters: what it shows lies before, unless
// a quoted value runs on, and that the look in the background finds.
constexpr qint64 kPreviewChars = 256 * 1024;
// The separator is guessed from the first line's start.
constexpr qint64 kGuessChars = 64 * 1024;

QTextCodec *codecOf(bool windows1252)
{
    return QTextCodec::codecForName(windows1252 ? "Windows-1252" : "UTF-8");
}

const QStringList kNotUpdateKeys
    = { "Folder",      "DoCheckResult", "DoCheck",  "IsVerified", "IsEdit",
        "RefreshHash", "ParentArticle", "HasError", "LastError" };
const QStringList kNotMapped = { "DoCheckResult", "DoCheck",       "IsVerified", "IsEdit",
                                 "RefreshHash",   "ParentArticle", "HasError",   "LastError" };

QStandardItem *makeChoice(const QString &text, const QString &data)
{
    auto *item = new QStandardItem(text);
    item->setData(data, Qt::UserRole);
    item->setEditable(false);
    return item;
}

QString settingsKey(const QString &fileName, const char *suffix)
{
    return QStringLiteral("Imp_") + fileName + QLatin1String(suffix);
}

} // namespace

CsvImport::CsvImport(int folderId, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::CsvImport>())
{
    ui->setupUi(this);
    const QColor textColor = QPushButton().palette().color(QPalette::Current, QPalette::ButtonText);
    ui->toolButton->setStyleSheet(QStringLiteral("color: ") + textColor.name());
    ui->progressBar->hide();
    ui->progressBar->setValue(0);
    ui->FileNotice->setTextFormat(Qt::PlainText);
    ui->FileNotice->hide();
    readSettings();
    db = std::make_unique<Database>(true, QStringLiteral("CsvImport"));
    targetFolderId = (folderId == SpecialFolderId::Drafts || folderId > 0)
        ? folderId
        : int(SpecialFolderId::Drafts);
    ui->TextClose->setText(QStringLiteral("\""));
    ui->Preview->setColumnCount(0);
    ui->Preview->setFocusPolicy(Qt::NoFocus);
    ui->FileToImport->setEnabled(false);
    ui->FirstHeaders->setChecked(true);
    loadAccounts();
    showNotices();
    ui->ImportModus->addItem(tr("Alle als neuen Artikel anlegen"), int(InsertAll));
    ui->ImportModus->addItem(tr("Artikel aktualisieren, nichts neu anlegen"), int(UpdateOnly));
    ui->ImportModus->addItem(tr("Artikel aktualisieren, neue anlegen"), int(UpdateOrInsert));
    SetEnabledAll(false);
}

struct CsvImport::FileScan
{
    QString path;
    QString separator;
    QString delimiter;
    bool encodingKnown = false; // given when known already, else found here
    bool windows1252 = false;
    std::atomic<bool> cancel { false };
    bool complete = false; // the file was read to its end
    int unclosedLine = 0;
    int unclosedRow = 0;
    int longRecordLine = 0;

    // On a thread of its own; touches nothing but this.
    void run()
    {
        if (!encodingKnown) {
            QtCSV::Reader::FileFacts facts;
            if (!QtCSV::Reader::inspect(path, &facts, &cancel))
                return;
            windows1252 = facts.windows1252;
            encodingKnown = true;
        }
        RowFunction rows([](const QStringList &, int) { return true; });
        QtCSV::Reader::Details details;
        if (!QtCSV::Reader::readToProcessor(path, rows, separator, delimiter, codecOf(windows1252),
                                            &details, &cancel)) {
            longRecordLine = details.longRecordLine;
            return;
        }
        unclosedLine = details.unclosedLine;
        unclosedRow = details.unclosedRow;
        complete = true;
    }
};

CsvImport::~CsvImport()
{
    // The passes on the background worker hold what they touch themselves: told to stop,
    // they end on their own.
    stopScans();
    cancelPasses();
}

void CsvImport::stopScans()
{
    for (const auto &scan : qAsConst(m_scans))
        scan->cancel = true;
    m_scans.clear();
    m_scan.reset();
}

void CsvImport::startScan()
{
    const QString path = ui->FileToImport->text();
    const QString separatorText = separator();
    const QString delimiter = ui->TextClose->text();
    if (m_scan && m_scan->path == path && m_scan->separator == separatorText
        && m_scan->delimiter == delimiter)
        return;
    if (m_scan)
        m_scan->cancel = true;
    auto scan = std::make_shared<FileScan>();
    scan->path = path;
    scan->separator = separatorText;
    scan->delimiter = delimiter;
    scan->encodingKnown = m_encodingKnown;
    scan->windows1252 = m_windows1252;
    m_scan = scan;
    m_unclosedRow = 0;
    m_unclosedLine = 0;
    m_longRecordLine = 0;
    // On the background worker; a look for settings changed meanwhile stops at once, or never
    // starts.
    m_scans.append(scan);
    BackgroundJob *job = BackgroundWorker::instance()->post(
        QStringLiteral("CsvFileScan"), [scan](Database &, BackgroundJob::Control &control) {
            if (!scan->cancel && !control.cancelled())
                scan->run();
        });
    connect(job, &BackgroundJob::finished, this, [this, scan] {
        m_scans.removeOne(scan);
        scanFinished(scan);
    });
}

void CsvImport::scanFinished(const std::shared_ptr<FileScan> &scan)
{
    if (scan != m_scan)
        return;
    if (scan->encodingKnown) {
        m_encodingKnown = true;
        m_windows1252 = scan->windows1252;
    }
    if (scan->complete) {
        m_unclosedRow = scan->unclosedRow;
        m_unclosedLine = scan->unclosedLine;
    }
    m_longRecordLine = scan->longRecordLine;
    // A byte past the preview's start was no UTF-8: the rows shown are read again as what
    // the file is, and so are the column titles.
    if (m_encodingKnown && m_windows1252 != m_previewWindows1252) {
        const QStringList titles = fillPreview(codecOf(m_windows1252));
        for (int c = 0; c < titles.size() && c < ui->itemshere->rowCount(); ++c) {
            if (auto *label = qobject_cast<QLabel *>(
                    ui->itemshere->itemAt(c, QFormLayout::LabelRole)
                        ? ui->itemshere->itemAt(c, QFormLayout::LabelRole)->widget()
                        : nullptr))
                label->setText(titles.at(c));
        }
    }
    showNotices();
}

void CsvImport::showNotices()
{
    QStringList notices;
    if (!m_readFailure.isEmpty())
        notices << m_readFailure;
    if (m_previewWindows1252 || (m_encodingKnown && m_windows1252))
        notices << tr(
            "Die Datei ist nicht in UTF-8 gespeichert; sie wird als Windows-1252 gelesen.");
    if (m_unclosedLine > 0)
        notices << unclosedNotice(m_unclosedRow, m_unclosedLine);
    if (m_longRecordLine > 0)
        notices << longRecordNotice(m_longRecordLine);
    ui->FileNotice->setText(notices.join(QLatin1Char('\n')));
    ui->FileNotice->setVisible(!notices.isEmpty());
}

bool CsvImport::loadAccounts()
{
    ui->AccountImport->clear();
    ui->AccountImport->addItem(tr("Ohne Kontenzuordnung"), QStringLiteral("0"));
    // Accounts that could not be read are no store without accounts: the dialog says why
    // and imports nothing.
    const Read<SqlRows> accounts
        = db->select(QStringLiteral("SELECT * FROM accounts ORDER BY accountname ASC"));
    m_accountsRead = accounts.ok();
    if (!accounts.ok()) {
        m_readFailure = tr("Die Konten konnten nicht aus der Datenbank gelesen werden, es kann "
                           "nichts importiert werden: %1")
                            .arg(accounts.error());
        return false;
    }
    for (const auto &account : *accounts) {
        ui->AccountImport->addItem(account.value(QStringLiteral("accountname")).toString(),
                                   account.value(QStringLiteral("id")).toString());
    }
    return true;
}

void CsvImport::on_toolButton_clicked()
{
    // Where the file dialog starts; not read, it starts in the data folder.
    const QString folder
        = db->getOption(QStringLiteral("lastImportFolder"), db->getCurrentDataDir())
              .orIfFailed(db->getCurrentDataDir());
    const QString path = Dialogs::openFileName(
        this, tr("CSV Datei laden"), folder,
        tr("CSV oder Text Datei") + QStringLiteral(" (*.csv *.txt);;Alle Dateien (*.*)"));
    if (!path.isEmpty())
        onOpenFile(path);
}

void CsvImport::onOpenFile(const QString &str)
{
    // Only where the file dialog starts next time: not stored, it starts where it did.
    if (!db->setOption(QStringLiteral("lastImportFolder"), QFileInfo(str).absolutePath()))
        qCWarning(lcApp).noquote() << "The import folder could not be stored:" << db->lastErrorText;
    // Nothing known of the file yet.
    if (m_scan)
        m_scan->cancel = true;
    m_scan.reset();
    m_encodingKnown = false;
    m_windows1252 = false;
    m_unclosedRow = 0;
    m_unclosedLine = 0;
    m_longRecordLine = 0;
    ui->FileToImport->setText(str);
    if (!QFileInfo::exists(str)) {
        Statics::showMessage(this, tr("Datei konnte nicht gefunden werden"), 2);
        return;
    }
    // Opened once and read from what was opened: a pipe or device at the name is refused at
    // once instead of holding the window. The seller may have picked a link to the file.
    QFile file;
    QString refusal;
    if (!UntrustedFile::openForReading(file, str, &refusal, UntrustedFile::Links::Followed)) {
        Statics::showMessage(this, tr("Die Datei konnte nicht geöffnet werden: %1").arg(refusal),
                             2);
        return;
    }
    // The separator that comes first in the first line wins; a tie changes nothing.
    QTextStream stream(&file);
    const QString firstLine = stream.readLine(kGuessChars);
    file.close();
    if (!firstLine.isEmpty()) {
        const auto position = [&firstLine](QChar c) {
            const int at = firstLine.indexOf(c);
            return at < 0 ? 100000 : at;
        };
        const int comma = position(QLatin1Char(','));
        const int semicolon = position(QLatin1Char(';'));
        const int tab = position(QLatin1Char('\t'));
        if (comma < semicolon && comma < tab)
            ui->Separator->setCurrentText(QStringLiteral(","));
        else if (semicolon < comma && semicolon < tab)
            ui->Separator->setCurrentText(QStringLiteral(";"));
        else if (tab < comma && tab < semicolon)
            ui->Separator->setCurrentText(kTab);
    }

    const bool stored = LoadFileSettings(false);
    if (!stored) {
        autoAssign = Statics::showQuestionDialog(
            this, tr("Gleichnamige Felder"),
            tr("Sollen gleichnamige Felder automatisch zugewiesen werden?"));
    }
    MakePreview();
    if (stored)
        LoadFileSettings(true);
}

bool CsvImport::LoadFileSettings(bool apply)
{
    const QString name = QFileInfo(ui->FileToImport->text()).fileName();
    auto settings = Settings::app();
    const int mode = settings->value(settingsKey(name, "_ImportModus"), -1).toInt();
    if (mode <= -1)
        return false;
    if (!apply
        && !Statics::showQuestionDialog(
            this, tr("Gespeicherte Einstellungen"),
            tr("Sollen die zuletzt verwendeten Einstellungen zu dieser Datei geladen werden?")))
        return false;

    const auto select = [](QComboBox *box, const QVariant &data) {
        const int index
            = box->findData(data, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            box->setCurrentIndex(index);
    };
    select(ui->ImportModus, mode);
    select(ui->AccountImport, settings->value(settingsKey(name, "_AccountImport")).toString());
    select(ui->UpdateField, settings->value(settingsKey(name, "_UpdateField")).toString());
    ui->Separator->setCurrentText(
        settings->value(settingsKey(name, "_Separator"), ui->Separator->currentText()).toString());
    ui->TextClose->setText(
        settings->value(settingsKey(name, "_TextClose"), ui->TextClose->text()).toString());
    ui->FirstHeaders->setChecked(
        settings->value(settingsKey(name, "_FirstHeaders"), true).toBool());

    const QStringList entries = settings->value(settingsKey(name, "_FieldMaps"))
                                    .toString()
                                    .split(QStringLiteral("!!!"), Qt::SkipEmptyParts);
    for (QComboBox *box : qAsConst(columnCombos)) {
        for (const QString &entry : entries) {
            const QStringList parts = entry.split(QStringLiteral("=="));
            if (parts.size() == 2 && box->property("column").toString() == parts.at(0))
                select(box, parts.at(1));
        }
    }
    return true;
}

void CsvImport::SaveFileSettings()
{
    const QString name = QFileInfo(ui->FileToImport->text()).fileName();
    qCDebug(lcApp) << name << "< store settings";
    auto settings = Settings::app();
    settings->setValue(settingsKey(name, "_ImportModus"), ui->ImportModus->currentData().toInt());
    settings->setValue(settingsKey(name, "_AccountImport"),
                       ui->AccountImport->currentData().toString());
    settings->setValue(settingsKey(name, "_UpdateField"),
                       ui->UpdateField->currentData().toString());
    settings->setValue(settingsKey(name, "_Separator"), ui->Separator->currentText());
    settings->setValue(settingsKey(name, "_TextClose"), ui->TextClose->text());
    settings->setValue(settingsKey(name, "_FirstHeaders"), ui->FirstHeaders->isChecked());
    QStringList maps;
    for (const QComboBox *box : qAsConst(columnCombos)) {
        const QString field = box->currentData().toString();
        if (!field.isEmpty())
            maps << box->property("column").toString() + QStringLiteral("==") + field;
    }
    settings->setValue(settingsKey(name, "_FieldMaps"), maps.join(QStringLiteral("!!!")));
}

void CsvImport::readSettings()
{
    restoreGeometry(Settings::app()->value(QStringLiteral("CsvImport/geometry")).toByteArray());
}

void CsvImport::saveSettings()
{
    Settings::app()->setValue(QStringLiteral("CsvImport/geometry"), saveGeometry());
}

QString CsvImport::separator() const
{
    QString text = ui->Separator->currentText();
    return text.replace(kTab, QStringLiteral("\t"));
}

Read<QStringList> CsvImport::articleColumns()
{
    const Read<SqlRows> rows
        = db->select(db->isMySQL ? QStringLiteral("SHOW COLUMNS FROM articles")
                                 : QStringLiteral("PRAGMA table_info(articles)"));
    if (!rows.ok())
        return Read<QStringList>::failed(rows.error());
    QStringList columns;
    for (const auto &row : *rows)
        columns
            << row.value(db->isMySQL ? QStringLiteral("Field") : QStringLiteral("name")).toString();
    return columns;
}

QString CsvImport::rowName(int row, int line)
{
    return row == line ? QString::number(row) : tr("%1 (Textzeile %2)").arg(row).arg(line);
}

QString CsvImport::unclosedNotice(int row, int line)
{
    return tr("Ein Wert in Anführungszeichen, der in Zeile %1 beginnt, wird nicht geschlossen; "
              "der Rest der Datei gehört zu diesem Wert.")
        .arg(rowName(row, line));
}

QString CsvImport::longRecordNotice(int line)
{
    return tr("Textzeile %1 ist länger als %2 MB; so lange Zeilen hat keine Tabelle. Die "
              "Datei kann nicht importiert werden.")
        .arg(line)
        .arg(QtCSV::Reader::kMaxRecordChars / (1024 * 1024));
}

QStringList CsvImport::fillPreview(QTextCodec *codec)
{
    ui->Preview->clear();
    m_previewWindows1252 = codec == codecOf(true);
    // Only the rows shown are read; the rest of the file is looked at in the background.
    const bool header = ui->FirstHeaders->isChecked();
    const int shown = kPreviewRows + (header ? 1 : 0);
    QList<QStringList> rows;
    RowFunction firstRows([&rows, shown](const QStringList &row, int) {
        rows.append(row);
        return rows.size() < shown;
    });
    QtCSV::Reader::Details details;
    QtCSV::Reader::readStart(ui->FileToImport->text(), firstRows, separator(),
                             ui->TextClose->text(), codec, kPreviewChars, &details);
    // The first line went on past what the preview reads: it holds more than it shows.
    m_firstRowCut = details.firstLineCut;

    QStringList titles;
    // A file of too many columns is refused by the caller: nothing of it is shown.
    if (!rows.isEmpty() && rows.first().size() > kMaxColumns) {
        ui->Preview->setColumnCount(0);
        return rows.first();
    }
    if (!rows.isEmpty()) {
        if (header) {
            titles = rows.first();
        } else {
            for (int c = 0; c < rows.first().size(); ++c)
                titles << QString::number(c);
        }
    }
    ui->Preview->setColumnCount(titles.size());
    ui->Preview->setHeaderLabels(titles);
    for (int r = header ? 1 : 0; r < rows.size(); ++r) {
        QStringList cells;
        for (QString cell : rows.at(r)) {
            cell.replace(QLatin1Char('\n'), QLatin1Char(' '))
                .replace(QLatin1Char('\r'), QLatin1Char(' '));
            cells << cell.trimmed().left(255);
        }
        ui->Preview->addTopLevelItem(new QTreeWidgetItem(cells));
    }
    return titles;
}

void CsvImport::MakePreview()
{
    const QString path = ui->FileToImport->text();
    // The encoding from the file's start until the whole file was looked at; a start that
    // is no UTF-8 decides for the whole file.
    if (!m_encodingKnown) {
        bool notUtf8 = false;
        QtCSV::Reader::codecForStart(path, &notUtf8);
        if (notUtf8) {
            m_encodingKnown = true;
            m_windows1252 = true;
        }
    }
    const QStringList titles = fillPreview(codecOf(m_encodingKnown && m_windows1252));

    columnCombos.clear();
    removeW(ui->itemshere);
    if (titles.size() > kMaxColumns) {
        // Checked before a box is made for each column; the file is not taken.
        Statics::showMessage(this,
                             (m_firstRowCut ? tr("Die Datei hat mindestens %1 Spalten; "
                                                 "importiert werden können Dateien mit "
                                                 "höchstens %2 Spalten.")
                                            : tr("Die Datei hat %1 Spalten; importiert werden "
                                                 "können Dateien mit höchstens %2 Spalten."))
                                 .arg(titles.size())
                                 .arg(kMaxColumns),
                             2);
        ui->FileToImport->clear();
        ui->FileNotice->hide();
        SetEnabledAll(false);
        return;
    }

    // What could not be read at the start is read again with each file.
    m_readFailure.clear();
    if (!m_accountsRead)
        loadAccounts();
    const Read<QStringList> columnsRead = articleColumns();
    if (!columnsRead.ok() && m_readFailure.isEmpty())
        m_readFailure = tr("Die Spalten der Artikel konnten nicht aus der Datenbank gelesen "
                           "werden, es kann nichts importiert werden: %1")
                            .arg(columnsRead.error());
    // Not read, the boxes offer the picture slots only, and OK stays off.
    const QStringList columns = columnsRead.orIfFailed({});
    if (ui->UpdateField->count() == 0) {
        for (const QString &column : columns) {
            if (!kNotUpdateKeys.contains(column))
                ui->UpdateField->addItem(column, column);
        }
    }
    // One list of choices for all the boxes, and each box's width from the longest choice
    // rather than from measuring every choice of every box: the mapping grows with the
    // columns alone.
    auto *choices = new QStandardItemModel(this);
    choices->appendRow(makeChoice(tr("- Keine Zuweisung -"), QString()));
    int longest = 0;
    const auto offer = [&](const QString &name) {
        choices->appendRow(makeChoice(name, name));
        longest = qMax(longest, name.size());
    };
    for (const QString &column : columns) {
        if (!kNotMapped.contains(column))
            offer(column);
    }
    for (int slot = 1; slot <= kPictureSlots; ++slot)
        offer(kPictureColumnPrefix + QString::number(slot));
    QHash<QString, int> rowOf;
    for (int row = choices->rowCount() - 1; row > 0; --row)
        rowOf.insert(choices->item(row)->text(), row);
    delete m_choices;
    m_choices = choices;

    // Filled while out of the window: a shown form would lay out and show each row as it
    // comes, which makes the mapping grow with the square of the columns.
    QWidget *contents = ui->scrollArea->takeWidget();
    for (int c = 0; c < titles.size(); ++c) {
        auto *box = new QComboBox(ui->scrollAreaWidgetContents);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(longest);
        box->setModel(choices);
        if (autoAssign) {
            const int match = rowOf.value(titles.at(c), 0);
            if (match > 0)
                box->setCurrentIndex(match);
        }
        box->setProperty("column", c);
        columnCombos.append(box);
        ui->itemshere->addRow(createPlainLabel(titles.at(c), ui->scrollAreaWidgetContents), box);
    }
    ui->scrollArea->setWidget(contents);
    startScan();
    showNotices();
    SetEnabledAll(true);
}

void CsvImport::removeW(QLayout *layout)
{
    while (layout->count() > 0) {
        QLayoutItem *item = layout->takeAt(0);
        if (item->layout())
            removeW(item->layout());
        delete item->widget();
        delete item;
    }
}

void CsvImport::SetEnabledAll(bool on)
{
    for (QWidget *widget :
         { static_cast<QWidget *>(ui->AccountImport), static_cast<QWidget *>(ui->ImportModus),
           static_cast<QWidget *>(ui->Separator), static_cast<QWidget *>(ui->FirstHeaders),
           static_cast<QWidget *>(ui->TextClose), static_cast<QWidget *>(ui->Preview),
           static_cast<QWidget *>(ui->scrollArea) })
        widget->setEnabled(on);
    // No OK while what the import checks its rows against could not be read.
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(on && m_readFailure.isEmpty());
    ui->UpdateField->setEnabled(on && ui->ImportModus->currentIndex() > 0);
}

void CsvImport::on_FirstHeaders_toggled(bool)
{
    if (!ui->FileToImport->text().isEmpty())
        MakePreview();
}

void CsvImport::on_Separator_currentTextChanged(const QString &)
{
    if (!ui->FileToImport->text().isEmpty())
        MakePreview();
}

void CsvImport::on_TextClose_textChanged(const QString &)
{
    if (!ui->FileToImport->text().isEmpty())
        MakePreview();
}

void CsvImport::on_ImportModus_currentIndexChanged(int index)
{
    ui->UpdateField->setEnabled(index == UpdateOnly || index == UpdateOrInsert);
}

void CsvImport::on_buttonBox_helpRequested() { }
