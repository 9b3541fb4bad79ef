#include "bulk/searchandreplace.h"

#include "bulk/bulkrun.h"
#include "bulk/bulkwriter.h"
#include "core/database.h"
#include "core/settings.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "ui_searchandreplace.h"

#include <QSqlQuery>
#include <QVector>

#include <memory>

namespace {

const QString kWildcard = QStringLiteral("%%%%");
const QString kConnection = QStringLiteral("Conversations");
// Articles read and written per step of a run.
constexpr int kStepArticles = 100;

struct Field
{
    const char *text;
    const char *column; // null: offered, but stands for no column
    bool shownOnMarketplace; // a change must be sent to running listings
};

const Field kFields[] = {
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Titel"), "Title", true },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Untertitel"), "SubTitle", false },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Beschreibung"), "Description", true },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Artikelmerkmale"), "ItemSpecifics", true },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Interne Referenz"), "ApplicationData", true },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Zahlungsbedingungen"), "PaymentInstructions", true },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Notizen"), "notes", true },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Name"), nullptr, false },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Ort"), "Location", true },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Postleitzahl"), "PostalCode", true },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Zustandsbeschreibung"), "ConditionDescription", true },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Freifeld 1"), "free_01", false },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Freifeld 2"), "free_02", false },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Freifeld 3"), "free_03", false },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Freifeld 4"), "free_04", false },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "Freifeld 5"), "free_05", false },
    { QT_TRANSLATE_NOOP("SearchAndReplace", "SKU"), "sku", true },
};

// One run's search and replacement texts, and where an empty search puts the text.
struct Replacement
{
    QString search;
    QString replacement;
    bool toBack = false;
    // The new text of one column; false when the run leaves it alone.
    bool changed(const QString &text, QString *result) const;
};

bool Replacement::changed(const QString &text, QString *result) const
{
    if (!search.contains(kWildcard)) {
        if (search.isEmpty())
            *result = toBack ? text + replacement : replacement + text;
        else
            *result = QString(text).replace(search, replacement, Qt::CaseSensitive);
        return *result != text;
    }
    const bool fromStart = search.startsWith(kWildcard);
    const bool toEnd = !fromStart && search.endsWith(kWildcard);
    if (!fromStart && !toEnd)
        return false;
    const QString key = fromStart ? search.mid(kWildcard.size())
                                  : search.left(search.size() - kWildcard.size());
    const int at = text.indexOf(key);
    if (at < 0)
        return false;
    *result = fromStart ? replacement + text.mid(at + key.size()) : text.left(at) + replacement;
    return *result != text;
}

} // namespace

SearchAndReplace::SearchAndReplace(const QStringList &ids, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::SearchAndReplace>())
    , db(std::make_unique<Database>(true, kConnection))
    , ids(ids)
{
    ui->setupUi(this);
    readSettings();
    ui->SearchTextField->setFocus();
}

SearchAndReplace::~SearchAndReplace() = default;

void SearchAndReplace::readSettings()
{
    const auto settings = Settings::app();
    const QStringList ticked
        = settings->value(QStringLiteral("SearchAndReplace/lastsel")).toStringList();
    for (const Field &field : kFields) {
        auto *item = new QListWidgetItem(tr(field.text), ui->FieldSelectList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(ticked.contains(item->text()) ? Qt::Checked : Qt::Unchecked);
    }
    restoreGeometry(settings->value(QStringLiteral("SearchAndReplace/geometry")).toByteArray());
    ui->splitter->restoreState(
        settings->value(QStringLiteral("SearchAndReplace/splitter/geometry")).toByteArray());
}

void SearchAndReplace::saveSettings()
{
    const auto settings = Settings::app();
    settings->setValue(QStringLiteral("SearchAndReplace/geometry"), saveGeometry());
    settings->setValue(QStringLiteral("SearchAndReplace/splitter/geometry"),
                       ui->splitter->saveState());
}

void SearchAndReplace::queueRunningListings(const QStringList &ids, const QString &status)
{
    m_running = BulkWriter::articleIds(ids.join(QLatin1Char(',')));
    m_queuedStatus = status;
}

void SearchAndReplace::reject()
{
    // A run under way is asked to stop; the dialog closes once it has.
    if (m_run && m_run->cancel())
        return;
    saveSettings();
    QDialog::reject();
}

void SearchAndReplace::accept()
{
    if (isWriting())
        return;
    saveSettings();
    QStringList ticked;
    QStringList columns;
    moveToOutbox = false;
    for (int i = 0; i < ui->FieldSelectList->count(); ++i) {
        const QListWidgetItem *item = ui->FieldSelectList->item(i);
        if (item->checkState() != Qt::Checked)
            continue;
        ticked << item->text();
        for (const Field &field : kFields) {
            if (item->text() == tr(field.text) && field.column) {
                columns << QString::fromLatin1(field.column);
                moveToOutbox = moveToOutbox || field.shownOnMarketplace;
            }
        }
    }
    Settings::app()->setValue(QStringLiteral("SearchAndReplace/lastsel"), ticked);
    if (columns.isEmpty()) {
        Statics::showMessage(
            this,
            tr("Du musst mindestens ein Feld auswählen, in dem Inhalte ersetzt werden sollen"), 1);
        return;
    }
    const QString search = ui->SearchTextField->toPlainText();
    const QString replacement = ui->ReplaceTextField->toPlainText();
    if (search.isEmpty() && replacement.isEmpty()) {
        Statics::showMessage(
            this, tr("Der Suchbegriff und der Ergebnistext können nicht beide leer sein"), 1);
        return;
    }

    Replacement replace;
    replace.search = search;
    replace.replacement = replacement;
    replace.toBack = ui->AddToBack->isChecked();
    m_outcomeUnknown = false;
    m_queued.clear();
    // Edited running listings go to the outbox with the replacement, in its transaction.
    const bool queue = moveToOutbox && ui->DoUpdate->isChecked() && !m_running.isEmpty();
    auto queued = std::make_shared<QList<int>>();
    // Only whole numbers name articles in a statement.
    const QStringList articleIds = BulkWriter::articleIds(ids.join(QLatin1Char(',')));
    QString select = QStringLiteral("SELECT id");
    for (const QString &column : qAsConst(columns))
        select += QStringLiteral(", `") + column + QLatin1Char('`');
    select += QStringLiteral(" FROM articles WHERE ");
    // Runs on the background worker: it holds only copies.
    const auto job = [replace, queue, queued, articleIds, columns, select, running = m_running,
                      status = m_queuedStatus](Database &writer,
                                               const BulkWriter::Progress &progress,
                                               const BulkWriter::Stop &stop) {
        return BulkWriter::run(
            writer, articleIds, kStepArticles,
            [&](const QStringList &step, BulkWriter::Result &run) {
                QSqlQuery query;
                if (!writer.selectQuery(select + BulkWriter::idCondition(step), query))
                    return BulkWriter::failed(writer, run);
                QVector<QPair<QString, QMap<QString, QVariant>>> records;
                while (query.next()) {
                    QMap<QString, QVariant> record;
                    for (int i = 0; i < columns.size(); ++i) {
                        QString text;
                        if (!query.isNull(1 + i)
                            && replace.changed(query.value(1 + i).toString(), &text))
                            record.insert(columns.at(i), text);
                    }
                    if (!record.isEmpty())
                        records.append({ query.value(0).toString(), record });
                }
                // An article not read would be left unchanged while the others are: the
                // command fails whole.
                if (!writer.rowsComplete(query))
                    return BulkWriter::failed(writer, run);
                query.finish();
                for (const auto &record : qAsConst(records)) {
                    if (writer.updateSqlClean(record.second, QStringLiteral("articles"),
                                              QStringLiteral("id=") + record.first))
                        ++run.written;
                    else if (!BulkWriter::failed(writer, run))
                        return false;
                }
                return true;
            },
            progress,
            [&](BulkWriter::Result &run) {
                if (!queue)
                    return true;
                // The listings still running as stored are queued, with the folder they
                // come from written as a value.
                for (int at = 0; at < running.size(); at += kStepArticles) {
                    const QString in = BulkWriter::idCondition(running.mid(at, kStepArticles));
                    const Read<SqlRows> rows = writer.select(
                        QStringLiteral("SELECT id FROM articles WHERE Trash=0 AND Folder=%1 AND ")
                            .arg(SpecialFolderId::Active)
                        + in);
                    if (!rows.ok()) {
                        BulkWriter::failed(writer, run);
                        return false;
                    }
                    QStringList here;
                    for (const ArticleRow &row : *rows)
                        here << row.value(QStringLiteral("id")).toString();
                    if (here.isEmpty())
                        continue;
                    if (!writer.executeSQL(
                            QStringLiteral("UPDATE articles SET FolderOld=%1, Folder=%2, "
                                           "IsEdit=0, DoCheck=2, DoCheckResult='%3' WHERE "
                                           "Folder=%1 AND ")
                                .arg(QString::number(SpecialFolderId::Active),
                                     QString::number(SpecialFolderId::Outbox),
                                     Database::escapeString(status))
                            + BulkWriter::idCondition(here))) {
                        BulkWriter::failed(writer, run);
                        return false;
                    }
                    for (const QString &id : qAsConst(here))
                        *queued << id.toInt();
                }
                return true;
            },
            stop);
    };
    if (!m_run)
        m_run = new BulkRun(this, ui->buttonBox, ui->progressBar);
    m_run->start(tr("Suchen und ersetzen"), articleIds.size(), job,
                 [this, queued](const BulkWriter::Result &result) { finishRun(result, *queued); });
}

bool SearchAndReplace::isWriting() const
{
    return m_run && m_run->isRunning();
}

void SearchAndReplace::finishRun(const BulkWriter::Result &result, const QList<int> &queued)
{
    if (result.cancelled) {
        moveToOutbox = false;
        BulkRun::tellCancelled(this);
        done(0);
        return;
    }
    if (result.unknown()) {
        m_outcomeUnknown = true;
        moveToOutbox = false;
        done(0);
        return;
    }
    if (!result.stored()) {
        moveToOutbox = false;
        QString text;
        if (result.outcome == Database::Outcome::Refused && result.failed > 0) {
            text = result.failed == 1
                ? tr("1 Änderung konnte nicht gespeichert werden.")
                : tr("%1 Änderungen konnten nicht gespeichert werden.").arg(result.failed);
            text += QLatin1Char('\n') + tr("Keiner der Artikel wurde geändert.")
                + QStringLiteral("\n\n") + tr("Fehler der Datenbank: %1").arg(result.error);
        } else {
            text = tr("Die Änderung wurde nicht gespeichert; keiner der Artikel wurde geändert.")
                + QStringLiteral("\n\n") + result.error;
        }
        Statics::showMessage(this, text, 2);
        done(0);
        return;
    }
    if (!ui->DoUpdate->isChecked())
        moveToOutbox = false;
    m_queued = queued;
    m_run->tellStoredAnyway(this);
    done(1);
}
