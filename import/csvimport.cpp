#include "import/csvimport.h"

#include "ui_csvimport.h"

#include "core/database.h"
#include "core/dialogs.h"
#include "core/logging.h"
#include "core/settings.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "import/reader.h"
#include "import/rowfunction.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTextCodec>
#include <QTextStream>

namespace {

const QString kTab = QStringLiteral("{TAB}");
constexpr int kPictureSlots = 12;
constexpr int kPreviewRows = 20;

const QStringList kNotUpdateKeys
    = { "Folder",      "DoCheckResult", "DoCheck",  "IsVerified", "IsEdit",
        "RefreshHash", "ParentArticle", "HasError", "LastError" };
const QStringList kNotMapped = { "DoCheckResult", "DoCheck",       "IsVerified", "IsEdit",
                                 "RefreshHash",   "ParentArticle", "HasError",   "LastError" };

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
    ui->ImportModus->addItem(tr("Alle als neuen Artikel anlegen"), int(InsertAll));
    ui->ImportModus->addItem(tr("Artikel aktualisieren, nichts neu anlegen"), int(UpdateOnly));
    ui->ImportModus->addItem(tr("Artikel aktualisieren, neue anlegen"), int(UpdateOrInsert));
    SetEnabledAll(false);
}

CsvImport::~CsvImport() = default;

void CsvImport::loadAccounts()
{
    ui->AccountImport->clear();
    ui->AccountImport->addItem(tr("Ohne Kontenzuordnung"), QStringLiteral("0"));
    const SqlRows accounts
        = db->select(QStringLiteral("SELECT * FROM accounts ORDER BY accountname ASC"));
    for (const auto &account : accounts) {
        ui->AccountImport->addItem(account.value(QStringLiteral("accountname")).toString(),
                                   account.value(QStringLiteral("id")).toString());
    }
}

void CsvImport::on_toolButton_clicked()
{
    const QString folder
        = db->getOption(QStringLiteral("lastImportFolder"), db->getCurrentDataDir());
    const QString path = Dialogs::openFileName(
        this, tr("CSV Datei laden"), folder,
        tr("CSV oder Text Datei") + QStringLiteral(" (*.csv *.txt);;Alle Dateien (*.*)"));
    if (!path.isEmpty())
        onOpenFile(path);
}

void CsvImport::onOpenFile(const QString &str)
{
    db->setOption(QStringLiteral("lastImportFolder"), QFileInfo(str).absolutePath());
    ui->FileToImport->setText(str);
    if (!QFileInfo::exists(str)) {
        Statics::showMessage(this, tr("Datei konnte nicht gefunden werden"), 2);
        return;
    }
    QFile file(str);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        Statics::showMessage(this, tr("Die Datei konnte nicht geöffnet werden"), 2);
        return;
    }
    // The separator that comes first in the first line wins; a tie changes nothing.
    QTextStream stream(&file);
    const QString firstLine = stream.readLine();
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

QStringList CsvImport::articleColumns()
{
    QStringList columns;
    if (db->isMySQL) {
        for (const auto &row : db->select(QStringLiteral("SHOW COLUMNS FROM articles")))
            columns << row.value(QStringLiteral("Field")).toString();
    } else {
        for (const auto &row : db->select(QStringLiteral("PRAGMA table_info(articles)")))
            columns << row.value(QStringLiteral("name")).toString();
    }
    return columns;
}

QString CsvImport::unclosedNotice(int line)
{
    return tr("Ein Wert in Anführungszeichen, der in Zeile %1 beginnt, wird nicht geschlossen; "
              "der Rest der Datei gehört zu diesem Wert.")
        .arg(line);
}

void CsvImport::MakePreview()
{
    ui->Preview->clear();
    const QString path = ui->FileToImport->text();
    bool notUtf8 = false;
    QTextCodec *codec = QtCSV::Reader::codecFor(path, &notUtf8);
    // Only the rows shown are kept; the rest of the file is read for a quoted value that
    // never closes.
    const bool header = ui->FirstHeaders->isChecked();
    const int shown = kPreviewRows + (header ? 1 : 0);
    QList<QStringList> rows;
    RowFunction firstRows([&rows, shown](const QStringList &row, int) {
        if (rows.size() < shown)
            rows.append(row);
        return true;
    });
    QtCSV::Reader::Details details;
    QtCSV::Reader::readToProcessor(path, firstRows, separator(), ui->TextClose->text(), codec,
                                   &details);
    QStringList notices;
    if (notUtf8)
        notices << tr(
            "Die Datei ist nicht in UTF-8 gespeichert; sie wird als Windows-1252 gelesen.");
    if (details.unclosedLine > 0)
        notices << unclosedNotice(details.unclosedLine);
    ui->FileNotice->setTextFormat(Qt::PlainText);
    ui->FileNotice->setText(notices.join(QLatin1Char('\n')));
    ui->FileNotice->setVisible(!notices.isEmpty());

    QStringList titles;
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

    columnCombos.clear();
    removeW(ui->itemshere);

    const QStringList columns = articleColumns();
    if (ui->UpdateField->count() == 0) {
        for (const QString &column : columns) {
            if (!kNotUpdateKeys.contains(column))
                ui->UpdateField->addItem(column, column);
        }
    }
    QStringList offered;
    for (const QString &column : columns) {
        if (!kNotMapped.contains(column))
            offered << column;
    }
    for (int c = 0; c < titles.size(); ++c) {
        auto *box = new QComboBox(ui->scrollAreaWidgetContents);
        box->addItem(tr("- Keine Zuweisung -"), QString());
        for (const QString &column : qAsConst(offered))
            box->addItem(column, column);
        for (int slot = 1; slot <= kPictureSlots; ++slot)
            box->addItem(kPictureColumnPrefix + QString::number(slot),
                         kPictureColumnPrefix + QString::number(slot));
        if (autoAssign) {
            const int match
                = box->findText(titles.at(c), Qt::MatchExactly | Qt::MatchCaseSensitive);
            if (match > 0)
                box->setCurrentIndex(match);
        }
        box->setProperty("column", c);
        columnCombos.append(box);
        auto *title = new QLabel(ui->scrollAreaWidgetContents);
        title->setTextFormat(Qt::PlainText);
        title->setText(titles.at(c));
        ui->itemshere->addRow(title, box);
    }
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
           static_cast<QWidget *>(ui->buttonBox->button(QDialogButtonBox::Ok)),
           static_cast<QWidget *>(ui->scrollArea) })
        widget->setEnabled(on);
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

void CsvImport::on_buttonBox_rejected()
{
    if (importRunning) {
        cancelRequested = true;
        ui->buttonBox->button(QDialogButtonBox::Cancel)->setEnabled(false);
        return;
    }
    saveSettings();
    done(QDialog::Rejected);
}

void CsvImport::on_buttonBox_helpRequested() { }
