#include "bulk/searchandreplace.h"

#include "bulk/bulkwriter.h"
#include "core/database.h"
#include "core/settings.h"
#include "core/statics.h"
#include "ui_searchandreplace.h"

namespace {

const QString kWildcard = QStringLiteral("%%%%");

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

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + Database::escapeString(text) + QLatin1Char('\'');
}

} // namespace

SearchAndReplace::SearchAndReplace(const QStringList &ids, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::SearchAndReplace>())
    , db(std::make_unique<Database>(true, QStringLiteral("Conversations")))
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

void SearchAndReplace::reject()
{
    saveSettings();
    QDialog::reject();
}

void SearchAndReplace::run(const QString &sql)
{
    if (db->executeSQL(sql)) {
        ++m_written;
    } else {
        if (m_failed == 0)
            m_error = db->lastErrorText;
        ++m_failed;
    }
}

void SearchAndReplace::accept()
{
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

    ui->progressBar->setValue(0);
    ui->progressBar->setMaximum(columns.size());
    m_written = m_failed = 0;
    m_error.clear();
    // Only whole numbers name articles in a statement.
    const QStringList articleIds = BulkWriter::articleIds(ids.join(QLatin1Char(',')));
    const QString idList = articleIds.join(QStringLiteral(", "));

    if (!search.contains(kWildcard)) {
        for (const QString &column : qAsConst(columns)) {
            if (articleIds.isEmpty())
                break;
            const QString col = QLatin1Char('`') + column + QLatin1Char('`');
            QString value;
            if (!search.isEmpty())
                value = QStringLiteral("REPLACE(%1,%2,%3)")
                            .arg(col, quoted(search), quoted(replacement));
            else if (!ui->AddToBack->isChecked())
                value = db->isMySQL ? QStringLiteral("CONCAT(%1,%2)").arg(quoted(replacement), col)
                                    : quoted(replacement) + QStringLiteral(" || ") + col;
            else
                value = db->isMySQL ? QStringLiteral("CONCAT(%1,%2)").arg(col, quoted(replacement))
                                    : col + QStringLiteral(" || ") + quoted(replacement);
            run(QStringLiteral("UPDATE articles SET ") + col + QStringLiteral(" = ") + value
                + QStringLiteral(" WHERE id IN (") + idList + QLatin1Char(')'));
            ui->progressBar->setValue(ui->progressBar->value() + 1);
        }
    } else {
        const bool fromStart = search.startsWith(kWildcard);
        const bool toEnd = !fromStart && search.endsWith(kWildcard);
        if (fromStart || toEnd) {
            const QString key = fromStart ? search.mid(kWildcard.size())
                                          : search.left(search.size() - kWildcard.size());
            for (const QString &id : articleIds) {
                for (const QString &column : qAsConst(columns)) {
                    const QString col = QLatin1Char('`') + column + QLatin1Char('`');
                    const QString text
                        = db->selectOne(QStringLiteral("SELECT ") + col
                                        + QStringLiteral(" FROM articles WHERE id=") + id);
                    const int at = text.indexOf(key);
                    if (at < 0)
                        continue;
                    const QString changed = fromStart ? replacement + text.mid(at + key.size())
                                                      : text.left(at) + replacement;
                    run(QStringLiteral("UPDATE articles SET ") + col + QLatin1Char('=')
                        + quoted(changed) + QStringLiteral(" WHERE id=") + id);
                }
            }
        }
    }

    if (!ui->DoUpdate->isChecked())
        moveToOutbox = false;
    if (m_failed > 0) {
        const QString failed = m_failed == 1
            ? tr("1 Änderung konnte nicht gespeichert werden.")
            : tr("%1 Änderungen konnten nicht gespeichert werden.").arg(m_failed);
        Statics::showMessage(
            this, failed + QStringLiteral("\n\n") + tr("Fehler der Datenbank: %1").arg(m_error), 2);
        if (m_written == 0) {
            moveToOutbox = false;
            done(0);
            return;
        }
    }
    done(1);
}
